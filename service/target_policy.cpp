#include "service/target_policy.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "service/ascii.h"
#include "service/watch_address.h"

namespace qinglan::service {
namespace {

struct Ipv4Range {
    std::uint32_t network;
    int prefix;
};

constexpr std::uint32_t ipv4(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

// Every IPv4 range that is not public unicast.
constexpr std::array<Ipv4Range, 14> kNonPublicIpv4 = {{
    {ipv4(0, 0, 0, 0), 8},        // "this network", the unspecified address
    {ipv4(10, 0, 0, 0), 8},       // private
    {ipv4(100, 64, 0, 0), 10},    // shared address space (carrier-grade NAT)
    {ipv4(127, 0, 0, 0), 8},      // loopback
    {ipv4(169, 254, 0, 0), 16},   // link-local, cloud metadata services
    {ipv4(172, 16, 0, 0), 12},    // private
    {ipv4(192, 0, 0, 0), 24},     // protocol assignments
    {ipv4(192, 0, 2, 0), 24},     // documentation
    {ipv4(192, 168, 0, 0), 16},   // private
    {ipv4(198, 18, 0, 0), 15},    // benchmarking
    {ipv4(198, 51, 100, 0), 24},  // documentation
    {ipv4(203, 0, 113, 0), 24},   // documentation
    {ipv4(224, 0, 0, 0), 4},      // multicast
    {ipv4(240, 0, 0, 0), 4},      // reserved, broadcast
}};

bool in_range(std::uint32_t address, const Ipv4Range& range) {
    const std::uint32_t mask = range.prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - range.prefix);
    return (address & mask) == (range.network & mask);
}

bool is_public_host_order_ipv4(std::uint32_t address) {
    for (const Ipv4Range& range : kNonPublicIpv4) {
        if (in_range(address, range)) {
            return false;
        }
    }
    return true;
}

std::uint32_t ipv4_at(const in6_addr& address, std::size_t offset) {
    const std::uint8_t* b = address.s6_addr;
    return (std::uint32_t{b[offset]} << 24) | (std::uint32_t{b[offset + 1]} << 16) |
           (std::uint32_t{b[offset + 2]} << 8) | std::uint32_t{b[offset + 3]};
}

bool bytes_equal(const std::uint8_t* bytes, std::initializer_list<std::uint8_t> prefix) {
    std::size_t i = 0;
    for (const std::uint8_t expected : prefix) {
        if (bytes[i++] != expected) {
            return false;
        }
    }
    return true;
}

struct AddrinfoDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

}  // namespace

bool is_public_ipv4(const in_addr& address) {
    return is_public_host_order_ipv4(ntohl(address.s_addr));
}

bool is_public_ipv6(const in6_addr& address) {
    const std::uint8_t* b = address.s6_addr;
    static constexpr std::uint8_t kZero[16] = {};
    if (std::memcmp(b, kZero, 12) == 0) {
        // ::, ::1 and the old IPv4-compatible form ::a.b.c.d
        return ipv4_at(address, 12) > 1 && is_public_host_order_ipv4(ipv4_at(address, 12));
    }
    if (bytes_equal(b, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}) ||        // ::ffff:a.b.c.d
        bytes_equal(b, {0x00, 0x64, 0xFF, 0x9B, 0, 0, 0, 0, 0, 0, 0, 0})) {  // 64:ff9b::/96
        return is_public_host_order_ipv4(ipv4_at(address, 12));
    }
    if (bytes_equal(b, {0x20, 0x02})) {  // 6to4: 2002:aabb:ccdd::/48
        return is_public_host_order_ipv4(ipv4_at(address, 2));
    }
    const bool discard = bytes_equal(b, {0x01, 0x00, 0, 0, 0, 0, 0, 0});  // 100::/64
    const bool documentation = bytes_equal(b, {0x20, 0x01, 0x0D, 0xB8});  // 2001:db8::/32
    const bool unique_local = (b[0] & 0xFE) == 0xFC;                      // fc00::/7
    const bool link_local = b[0] == 0xFE && (b[1] & 0xC0) == 0x80;        // fe80::/10
    const bool site_local = b[0] == 0xFE && (b[1] & 0xC0) == 0xC0;        // fec0::/10
    const bool multicast = b[0] == 0xFF;                                  // ff00::/8
    return !(discard || documentation || unique_local || link_local || site_local || multicast);
}

bool is_public_address(const sockaddr& address) {
    if (address.sa_family == AF_INET) {
        sockaddr_in v4;
        std::memcpy(&v4, &address, sizeof(v4));
        return is_public_ipv4(v4.sin_addr);
    }
    if (address.sa_family == AF_INET6) {
        sockaddr_in6 v6;
        std::memcpy(&v6, &address, sizeof(v6));
        return is_public_ipv6(v6.sin6_addr);
    }
    return false;
}

bool is_loopback_listen_host(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    std::string name(host);
    for (char& c : name) {
        c = ascii_lower(c);
    }
    if (name == "localhost" || name == "localhost.") {
        return true;
    }
    in_addr v4;
    if (inet_pton(AF_INET, name.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6;
    if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    }
    return false;
}

bool refuses_private_targets(std::string_view listen_host, bool allow_private,
                             bool refuse_private) {
    if (refuse_private) {
        return true;
    }
    return !allow_private && !is_loopback_listen_host(listen_host);
}

std::optional<std::string> host_of_url(std::string_view url) {
    const std::size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos || scheme_end == 0) {
        return std::nullopt;
    }
    std::string_view authority = url.substr(scheme_end + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = authority.substr(1, close - 1);
    } else {
        host = authority.substr(0, authority.find(':'));
    }
    std::string decoded = percent_decode(host);
    for (char& c : decoded) {
        c = ascii_lower(c);
    }
    if (decoded.empty()) {
        return std::nullopt;
    }
    return decoded;
}

TargetVerdict check_public_target(std::string_view url) {
    const std::optional<std::string> host = host_of_url(url);
    if (!host || host->find('\0') != std::string::npos) {
        return TargetVerdict::unresolvable;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host->c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return TargetVerdict::unresolvable;
    }
    const std::unique_ptr<addrinfo, AddrinfoDeleter> list(found);
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addr == nullptr || !is_public_address(*entry->ai_addr)) {
            return TargetVerdict::private_target;
        }
    }
    return TargetVerdict::allowed;
}

}  // namespace qinglan::service
