// The platform side of fetch_page: one synchronous GET client per request. Each platform file
// (fetch_page_win.cpp, fetch_page_curl.cpp) provides create_http_client.
#pragma once

#include <memory>

#include "lookup/fetch_page.h"

namespace qinglan {

class HttpClient {
  public:
    virtual ~HttpClient() = default;
    // GETs `address` as it stands and returns the body whatever the status; empty on failure.
    virtual Bytes get(const Text& address) = 0;
};

// Null when no client can be had on this system.
std::unique_ptr<HttpClient> create_http_client(const FetchLimits& limits);

}  // namespace qinglan
