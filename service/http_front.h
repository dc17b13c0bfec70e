// The HTTP side of the service, on cpp-httplib.
//
// The request line is read here and not by httplib: the tool appends the watch-page address to
// the query unencoded, so the target often holds a second '?', which httplib refuses, and the
// value must be seen exactly as it arrived anyway. The raw target is kept for the handlers and
// httplib is given the request line with the path alone. One request is served per connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "service/address_service.h"

namespace qinglan::service {

struct ListenAddress {
    std::string host;  // without brackets
    std::uint16_t port = 0;
};

// "HOST:PORT", "[IPv6]:PORT"; nothing when it is neither.
std::optional<ListenAddress> parse_listen_address(std::string_view text);

struct FrontOptions {
    ListenAddress listen;
    std::size_t threads = 32;  // connections served at once; most of them only wait for a worker
    // Refuse (403) requests addressed to anything but a loopback name or sent by a browser for
    // another site (request_policy.h).
    bool refuses_other_sites = false;
};

// Serves until `stop_http_front` is called (from any thread); false when the address cannot be
// bound.
bool run_http_front(AddressService& service, const FrontOptions& options);
// Stops the front that is running; before it runs, a call has no effect, so a caller that must
// be sure repeats it until run_http_front has returned.
void stop_http_front();

}  // namespace qinglan::service
