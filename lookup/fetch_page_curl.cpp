// fetch_page on systems without the Windows HTTP component: libcurl's easy interface.
// It behaves like the component where the tool can tell: a synchronous GET, no header or
// credentials of our own, redirects followed, the body returned whatever the status.
#include <curl/curl.h>

#include <memory>
#include <string>

#include "lookup/http_client.h"
#include "lookup/percent_encoding.h"

namespace qinglan {
namespace {

struct CurlEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using UniqueCurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

bool must_be_escaped(unsigned char byte) {
    static constexpr std::string_view kUnsafe = " \"<>\\^`{|}";
    return byte < 0x20 || byte >= 0x7F || kUnsafe.find(static_cast<char>(byte)) != kUnsafe.npos;
}

// Writes the address as the platform component puts it on the wire: bytes that a URL cannot
// carry as they stand are percent-encoded one by one (so code-page-936 bytes stay those bytes),
// everything else goes as typed, and a fragment is not sent.
std::string address_for_wire(std::string_view address) {
    return percent_encode_if(address.substr(0, address.find('#')), must_be_escaped);
}

struct BodySink {
    Bytes body;
    std::size_t max_bytes;
};

std::size_t append_to_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto& sink = *static_cast<BodySink*>(user);
    const std::size_t received = size * count;
    if (received > sink.max_bytes - sink.body.size()) {
        return 0;  // over the cap: curl ends the transfer with an error
    }
    sink.body.insert(sink.body.end(), data, data + received);
    return received;
}

long whole_seconds_at_least_one(std::chrono::milliseconds limit) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(limit).count();
    return seconds < 1 ? 1L : static_cast<long>(seconds);
}

class CurlHttpClient final : public HttpClient {
  public:
    CurlHttpClient(UniqueCurlEasy easy, const FetchLimits& limits)
        : easy_(std::move(easy)), limits_(limits) {}

    Bytes get(const Text& address) override {
        const std::string url = address_for_wire(address.bytes());
        BodySink sink{{}, limits_.max_body_bytes};
        CURL* easy = easy_.get();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(limits_.connect_timeout.count()));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                         whole_seconds_at_least_one(limits_.stall_timeout));
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, append_to_body);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
        if (curl_easy_perform(easy) != CURLE_OK) {
            return {};
        }
        return std::move(sink.body);
    }

  private:
    UniqueCurlEasy easy_;
    FetchLimits limits_;
};

}  // namespace

std::unique_ptr<HttpClient> create_http_client(const FetchLimits& limits) {
    UniqueCurlEasy easy(curl_easy_init());
    if (!easy) {
        return nullptr;
    }
    return std::make_unique<CurlHttpClient>(std::move(easy), limits);
}

}  // namespace qinglan
