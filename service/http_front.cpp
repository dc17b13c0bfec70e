#include "service/http_front.h"

#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "service/request_policy.h"
#include "service/watch_address.h"

namespace qinglan::service {
namespace {

using Clock = std::chrono::steady_clock;

// A request line is kept up to this length (an 8 KiB address, escaped, fits well) and read up to
// the larger one; longer lines end the connection unanswered.
constexpr std::size_t kKeptRequestLineBytes = 64 * 1024;
constexpr std::size_t kReadRequestLineBytes = 1024 * 1024;
constexpr std::size_t kLoggedKwBytes = 1024;
constexpr int kReadTimeoutMs = 5'000;
// A client has this long to send its request line and head, however it spaces its bytes, and may
// send this much after the request line; the service reads no request body.
constexpr std::chrono::seconds kRequestHeadTime{15};
constexpr std::size_t kRequestHeadBytes = 64 * 1024;
constexpr int kSkippedEmptyLines = 8;
constexpr int kWriteTimeoutMs = 5'000;

// What the handlers and the log line know about the request on this thread.
struct RequestContext {
    Clock::time_point arrived;
    std::string method;
    std::string raw_target;
    bool target_overlong = false;
    bool parse_route = false;
    int status = 0;
    std::string outcome;
    std::size_t addresses = 0;
};

thread_local Clock::time_point t_arrived;
thread_local RequestContext t_request;

// httplib's thread pool, which also notes when each connection was accepted, so that the wait
// limit counts from then and not from when a thread became free for it.
class StampingThreadPool final : public httplib::TaskQueue {
  public:
    explicit StampingThreadPool(std::size_t threads) {
        for (std::size_t i = 0; i < threads; ++i) {
            threads_.emplace_back([this] { work(); });
        }
    }

    void enqueue(std::function<void()> fn) override {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back({std::move(fn), Clock::now()});
        }
        wake_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_) {
            thread.join();
        }
    }

  private:
    struct Job {
        std::function<void()> fn;
        Clock::time_point accepted;
    };

    void work() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) {
                    return;
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            t_arrived = job.accepted;
            job.fn();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The time left until `deadline` for one wait, at most the read timeout; 0 once it has passed.
int read_wait_ms(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kReadTimeoutMs));
}

bool wait_for_socket(int socket, short events, int timeout_ms) {
    for (;;) {
        pollfd entry{socket, events, 0};
        const int ready = poll(&entry, 1, timeout_ms);
        if (ready >= 0 || errno != EINTR) {
            return ready > 0;
        }
    }
}

// The connection to httplib: the rewritten request line first, then the socket itself, read
// until the request's deadline and up to its budget of bytes.
class PrefixedSocketStream final : public httplib::Stream {
  public:
    PrefixedSocketStream(int socket, std::string prefix, Clock::time_point deadline)
        : socket_(socket), prefix_(std::move(prefix)), deadline_(deadline) {}

    bool is_readable() const override {
        return offset_ < prefix_.size() ||
               (read_from_socket_ < kRequestHeadBytes && Clock::now() < deadline_ &&
                wait_for_socket(socket_, POLLIN, read_wait_ms(deadline_)));
    }
    bool is_writable() const override { return wait_for_socket(socket_, POLLOUT, kWriteTimeoutMs); }

    ssize_t read(char* ptr, size_t size) override {
        if (offset_ < prefix_.size()) {
            const std::size_t taken = std::min(size, prefix_.size() - offset_);
            prefix_.copy(ptr, taken, offset_);
            offset_ += taken;
            return static_cast<ssize_t>(taken);
        }
        if (!is_readable()) {
            return -1;
        }
        const ssize_t received =
            recv(socket_, ptr, std::min(size, kRequestHeadBytes - read_from_socket_), 0);
        if (received > 0) {
            read_from_socket_ += static_cast<std::size_t>(received);
        }
        return received;
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) {
            return -1;
        }
        return send(socket_, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof(address);
        if (getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            describe(address, length, ip, port);
        }
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof(address);
        if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            describe(address, length, ip, port);
        }
    }
    socket_t socket() const override { return socket_; }

  private:
    static void describe(const sockaddr_storage& address, socklen_t length, std::string& ip,
                         int& port) {
        char host[NI_MAXHOST];
        char service[NI_MAXSERV];
        if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof(host),
                        service, sizeof(service), NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host;
            port = std::atoi(service);
        }
    }

    int socket_;
    std::string prefix_;
    std::size_t offset_ = 0;
    Clock::time_point deadline_;
    std::size_t read_from_socket_ = 0;
};

// Reads the request line, line feed included, without taking any byte after it from the socket.
// False when the peer goes away, stays silent or passes the deadline, or the line (with any
// empty lines before it) has no end within the read limit.
bool read_request_line(int socket, Clock::time_point deadline, std::string& line, bool& overlong) {
    line.clear();
    overlong = false;
    std::size_t total = 0;
    int empty_lines = 0;
    char buffer[4096];
    for (;;) {
        if (Clock::now() >= deadline || !wait_for_socket(socket, POLLIN, read_wait_ms(deadline))) {
            return false;
        }
        const ssize_t peeked = recv(socket, buffer, sizeof(buffer), MSG_PEEK);
        if (peeked <= 0) {
            if (peeked < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        const std::string_view seen(buffer, static_cast<std::size_t>(peeked));
        const std::size_t end = seen.find('\n');
        const std::size_t take = end == std::string_view::npos ? seen.size() : end + 1;
        const ssize_t taken = recv(socket, buffer, take, 0);
        if (taken <= 0) {
            return false;
        }
        const std::string_view chunk(buffer, static_cast<std::size_t>(taken));
        total += chunk.size();
        if (line.size() + chunk.size() <= kKeptRequestLineBytes) {
            line += chunk;
        } else {
            overlong = true;
        }
        if (end != std::string_view::npos) {
            // A few empty lines before a request are allowed and skipped.
            if (!overlong && (line == "\r\n" || line == "\n")) {
                if (++empty_lines > kSkippedEmptyLines) {
                    return false;
                }
                line.clear();
                continue;
            }
            return true;
        }
        if (total > kReadRequestLineBytes) {
            return false;
        }
    }
}

std::string log_text(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    const std::size_t shown = std::min(bytes.size(), kLoggedKwBytes);
    for (std::size_t i = 0; i < shown; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\') {
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0x0F];
        } else {
            text += static_cast<char>(byte);
        }
    }
    if (shown < bytes.size()) {
        text += "...(" + std::to_string(bytes.size()) + " bytes)";
    }
    return text;
}

std::string utc_now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char buffer[96];
    std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                  parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                  parts.tm_min, parts.tm_sec, static_cast<int>(millis));
    return buffer;
}

// One line per request on standard error, written with one call so that lines never mix.
void log_request(const RequestContext& request) {
    const auto duration =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - request.arrived);
    const RequestTarget target = split_request_target(request.raw_target);
    std::string line = utc_now() + " " + log_text(request.method) + " " + log_text(target.path);
    if (request.parse_route) {
        const std::optional<std::string_view> kw = raw_kw_value(target.query);
        line += " kw=\"" +
                (request.target_overlong ? std::string("(overlong)") : log_text(kw.value_or(""))) +
                "\"";
    }
    line += " outcome=" +
            (request.outcome.empty() ? "http-" + std::to_string(request.status) : request.outcome);
    if (request.parse_route && request.outcome == "ok") {
        line += " addresses=" + std::to_string(request.addresses);
    }
    line += " status=" + std::to_string(request.status);
    line += " duration_ms=" + std::to_string(duration.count()) + "\n";
    static std::mutex log_mutex;
    std::lock_guard lock(log_mutex);
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written <= 0) {
            if (written < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

// The path of the raw target, which is all that httplib is shown of it.
std::string path_for_httplib() {
    std::string path(split_request_target(t_request.raw_target).path);
    if (path.empty() || path.find(' ') != std::string::npos) {
        path = "/";
    }
    return path;
}

class RawTargetServer final : public httplib::Server {
  private:
    bool process_and_close_socket(socket_t socket) override {
        t_request = RequestContext{};
        t_request.arrived = t_arrived;
        const Clock::time_point deadline = Clock::now() + kRequestHeadTime;
        std::string line;
        bool overlong = false;
        if (read_request_line(socket, deadline, line, overlong)) {
            serve(socket, line, overlong, deadline);
            log_request(t_request);
        }
        shutdown(socket, SHUT_RDWR);
        close(socket);
        return true;
    }

    void serve(int socket, std::string line, bool overlong, Clock::time_point deadline) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        // "METHOD TARGET VERSION": the target is everything between the first and the last
        // space, so that a client that left a space unescaped is still understood.
        const std::size_t first_space = line.find(' ');
        std::string rewritten;
        if (overlong && first_space != std::string::npos) {
            // The kept part has no version; the target in it is only good for its path.
            t_request.method = line.substr(0, first_space);
            t_request.raw_target = line.substr(first_space + 1);
            t_request.target_overlong = true;
            rewritten = t_request.method + " " + path_for_httplib() + " HTTP/1.1\r\n";
        } else if (const std::size_t last_space = line.rfind(' ');
                   first_space != std::string::npos && last_space > first_space) {
            t_request.method = line.substr(0, first_space);
            t_request.raw_target = line.substr(first_space + 1, last_space - first_space - 1);
            rewritten =
                t_request.method + " " + path_for_httplib() + line.substr(last_space) + "\r\n";
        } else {
            rewritten = line + "\r\n";  // httplib answers 400
        }
        PrefixedSocketStream stream(socket, std::move(rewritten), deadline);
        bool connection_closed = false;
        process_request(stream, /*close_connection=*/true, connection_closed,
                        [](httplib::Request& request) {
                            // The pages are small and some clients decode compressed bodies
                            // badly, so answers always go uncompressed.
                            request.headers.erase("Accept-Encoding");
                        });
    }
};

std::mutex g_server_mutex;
RawTargetServer* g_server = nullptr;

void send_answer(const Answer& answer, httplib::Response& response) {
    t_request.status = answer.status;
    t_request.outcome = answer.outcome;
    t_request.addresses = answer.addresses;
    response.status = answer.status;
    response.set_content(answer.body, answer.content_type.c_str());
}

}  // namespace

std::optional<ListenAddress> parse_listen_address(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon + 1 >= text.size()) {
        return std::nullopt;
    }
    std::string_view host = text.substr(0, colon);
    const std::string_view port_text = text.substr(colon + 1);
    if (!host.empty() && host.front() == '[') {
        if (host.size() < 2 || host.back() != ']') {
            return std::nullopt;
        }
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 address needs its brackets
    }
    if (host.empty() || port_text.size() > 5) {
        return std::nullopt;
    }
    unsigned port = 0;
    for (const char c : port_text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port > 65535) {
        return std::nullopt;
    }
    return ListenAddress{std::string(host), static_cast<std::uint16_t>(port)};
}

namespace {

std::optional<std::string_view> header_of(const httplib::Request& request, const char* name) {
    const auto found = request.headers.find(name);
    if (found == request.headers.end()) {
        return std::nullopt;
    }
    return std::string_view(found->second);
}

// Answers 403 to what a web page in the user's browser sends to a service on loopback.
httplib::Server::HandlerResponse refuse_other_sites(const httplib::Request& request,
                                                    httplib::Response& response) {
    if (!refuses_request_on_loopback(header_of(request, "Host"),
                                     header_of(request, "Sec-Fetch-Site"))) {
        return httplib::Server::HandlerResponse::Unhandled;
    }
    response.status = 403;
    response.set_content("403\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
}

}  // namespace

bool run_http_front(AddressService& service, const FrontOptions& options) {
    RawTargetServer server;
    const std::size_t threads = std::max<std::size_t>(options.threads, 1);
    // Requests are GETs: a body is never read, and a large one is refused unread.
    server.set_payload_max_length(kRequestHeadBytes);
    server.new_task_queue = [threads] { return new StampingThreadPool(threads); };

    const auto parse = [&service](bool as_json) {
        return [&service, as_json](const httplib::Request&, httplib::Response& response) {
            t_request.parse_route = true;
            const RequestTarget target = split_request_target(t_request.raw_target);
            send_answer(service.answer_parse(target.query, t_request.target_overlong, as_json,
                                             t_request.arrived),
                        response);
        };
    };
    if (options.refuses_other_sites) {
        server.set_pre_routing_handler(&refuse_other_sites);
    }
    server.Get("/parse.php", parse(false));
    server.Get("/parse.json", parse(true));
    server.Get("/healthz", [&service](const httplib::Request&, httplib::Response& response) {
        send_answer(service.answer_health(), response);
    });
    server.set_logger([](const httplib::Request&, const httplib::Response& response) {
        t_request.status = response.status;
    });
    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& response) {
            if (!response.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            response.set_content(std::to_string(response.status) + "\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }));

    // The address may be taken again while connections of an earlier server on it wait out
    // their TIME_WAIT; but only one server listens there at a time (no SO_REUSEPORT, which
    // httplib would set and which would let a second service share the port unnoticed).
    server.set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    if (!server.bind_to_port(options.listen.host, options.listen.port)) {
        return false;
    }
    {
        std::lock_guard lock(g_server_mutex);
        g_server = &server;
    }
    const bool served = server.listen_after_bind();
    {
        std::lock_guard lock(g_server_mutex);
        g_server = nullptr;
    }
    return served;
}

void stop_http_front() {
    std::lock_guard lock(g_server_mutex);
    if (g_server != nullptr) {
        g_server->stop();
    }
}

}  // namespace qinglan::service
