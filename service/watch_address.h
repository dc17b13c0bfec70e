// The request side of the address service: the watch-page address carried in a raw request
// target, and the address that is handed to the resolver for it.
//
// The tool appends the user's text to "/parse.php?kw=" unencoded, so the value arrives as the
// user typed it, with only the bytes that a URL cannot carry escaped by the HTTP client. Its own
// '&', '=', '?' and '%' belong to it: the value is never split on '&' and never percent-decoded,
// except when some other client has percent-encoded the whole address.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qinglan::service {

// The longest watch-page address, in bytes as received, that is resolved.
inline constexpr std::size_t kMaxWatchAddressBytes = 8 * 1024;

struct RequestTarget {
    std::string_view path;   // up to the first '?'
    std::string_view query;  // everything after the first '?', further '?' included
};

RequestTarget split_request_target(std::string_view target);

// The raw value of "kw": everything after the first "kw=" that starts the query or follows an
// '&', to the end of the query. Nothing when the query has no such parameter.
std::optional<std::string_view> raw_kw_value(std::string_view query);

// Decodes every valid %XX once; a '%' not followed by two hex digits stays as it is.
std::string percent_decode(std::string_view text);

enum class AddressProblem {
    none,
    empty,     // nothing left once surrounding blanks are gone
    not_http,  // a scheme other than http or https
};

struct WatchAddress {
    std::string url;  // what the resolver is given; meaningful when problem is none
    AddressProblem problem = AddressProblem::none;
};

// From the raw kw value to the address that is resolved:
//   - blanks around it (raw or percent-encoded spaces, tabs, line breaks) are dropped;
//   - a value percent-encoded as a whole ("http%3A…" or "https%3A…", any case) is decoded once;
//   - a value without a scheme gets "http://" ("//host/…" gets "http:"); "host:port/…" counts
//     as having none;
//   - any other scheme (file:, ftp:, data:, javascript:, …) is refused;
//   - the scheme is lower-cased and bytes that a URL cannot carry are percent-encoded.
WatchAddress normalise_watch_address(std::string_view raw_kw);

// Percent-encodes control bytes, space, DEL, bytes of 0x80 and above and " < > \ ^ ` { | }.
std::string escape_for_url(std::string_view text);

}  // namespace qinglan::service
