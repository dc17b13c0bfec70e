// The one network request of the tool: a synchronous HTTP GET whose response body comes back as
// bytes. Every failure gives empty bytes; nothing is reported in any other way.
#pragma once

#include <chrono>

#include "lookup/text.h"

namespace qinglan {

// How long a request may wait and how much it may bring, for the portable client, so that a read
// can never hang forever or exhaust memory. The Windows component takes none of these: it keeps
// whatever limits the platform gives it (under Wine, none).
struct FetchLimits {
    std::chrono::milliseconds connect_timeout{60'000};
    std::chrono::milliseconds stall_timeout{30'000};  // no data at all for this long
    std::size_t max_body_bytes = 64u << 20;           // no result page is anywhere near this
};

// Completes `address` with "http://" when its first seven bytes are not that scheme (letters in
// any case), replacing the caller's variable with the completed text, then GETs it. If no HTTP
// client can be had, the address is left as it was and the result is empty.
Bytes fetch_page(Text& address, const FetchLimits& limits = {});

// The completion step on its own: true when `address` was replaced by the completed text.
bool complete_with_http_scheme(Text& address);

}  // namespace qinglan
