#include "lookup/fetch_page.h"

#include "lookup/http_client.h"

namespace qinglan {

bool complete_with_http_scheme(Text& address) {
    const Text scheme = "http://";
    if (compare_texts(lower_text(left_text(address, 7)), scheme) == 0) {
        return false;
    }
    address = join_texts(scheme, address);
    return true;
}

Bytes fetch_page(Text& address, const FetchLimits& limits) {
    const std::unique_ptr<HttpClient> client = create_http_client(limits);
    if (!client) {
        return {};
    }
    complete_with_http_scheme(address);
    return client->get(address);
}

}  // namespace qinglan
