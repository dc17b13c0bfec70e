// Which requests a service on loopback that resolves the user's own network answers.
//
// Any web page open in the user's browser can send requests to 127.0.0.1. Sent across sites (the
// browser says so in Sec-Fetch-Site), such a request could make the service fetch whatever the
// page names, the user's own network included; and a site whose name is made to resolve to
// 127.0.0.1 (DNS rebinding) could even read the answers, since the browser then takes the
// service for part of that site. So a service on loopback answers only requests addressed to a
// loopback name and not sent on behalf of another site. The tool sends no Sec-Fetch-Site and
// addresses the service by the host it was built with, 127.0.0.1 unless set otherwise.
#pragma once

#include <optional>
#include <string_view>

namespace qinglan::service {

// The host of a Host header: without the port, and without the brackets of an IPv6 address.
std::string_view host_of_host_header(std::string_view header);

// True when a service on loopback must refuse the request: its Host header names anything but a
// loopback host, or its Sec-Fetch-Site is "cross-site" or "same-site". A request without either
// header (a plain HTTP client) is answered.
bool refuses_request_on_loopback(std::optional<std::string_view> host_header,
                                 std::optional<std::string_view> fetch_site);

}  // namespace qinglan::service
