#include "service/request_policy.h"

#include "service/ascii.h"
#include "service/target_policy.h"

namespace qinglan::service {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string_view host_of_host_header(std::string_view header) {
    header = trimmed(header);
    if (!header.empty() && header.front() == '[') {
        const std::size_t close = header.find(']');
        return close == std::string_view::npos ? header : header.substr(1, close - 1);
    }
    const std::size_t colon = header.find(':');
    if (colon != std::string_view::npos && header.find(':', colon + 1) == std::string_view::npos) {
        return header.substr(0, colon);
    }
    return header;  // no port, or a bare IPv6 address
}

bool refuses_request_on_loopback(std::optional<std::string_view> host_header,
                                 std::optional<std::string_view> fetch_site) {
    if (host_header && !is_loopback_listen_host(host_of_host_header(*host_header))) {
        return true;
    }
    if (fetch_site) {
        const std::string_view site = trimmed(*fetch_site);
        return equals_ignoring_case(site, "cross-site") || equals_ignoring_case(site, "same-site");
    }
    return false;
}

}  // namespace qinglan::service
