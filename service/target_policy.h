// Which watch pages the service may resolve.
//
// Listening on loopback, the service serves the users of this machine, and any target is theirs
// to resolve, their own network included. Listening anywhere else, a client could use it to
// reach into the network the service sits in, so targets whose host resolves to a loopback,
// private, link-local, unspecified or otherwise non-public address are refused.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>
#include <string>
#include <string_view>

namespace qinglan::service {

// True for "localhost", 127.0.0.0/8 and ::1 (with or without brackets).
bool is_loopback_listen_host(std::string_view host);

// Whether private targets are refused for a service that listens on `listen_host`, given
// --allow-private-targets and --refuse-private-targets.
bool refuses_private_targets(std::string_view listen_host, bool allow_private, bool refuse_private);

// False for the loopback, private, link-local, unspecified, shared, documentation, benchmark,
// reserved and multicast ranges; addresses embedded in IPv6 (mapped, NAT64, 6to4) are judged by
// their IPv4 part.
bool is_public_address(const sockaddr& address);
bool is_public_ipv4(const in_addr& address);
bool is_public_ipv6(const in6_addr& address);

// The host of an absolute URL: no userinfo, no port, no brackets, percent-decoded and
// lower-cased. Nothing when the URL has no "scheme://" or an empty host.
std::optional<std::string> host_of_url(std::string_view url);

enum class TargetVerdict {
    allowed,
    private_target,  // the host is, or resolves to, a non-public address
    unresolvable,    // the host could not be looked up, so it cannot be shown to be public
};

// The check for a service that refuses private targets: the host is looked up with getaddrinfo
// and every address it resolves to must be public.
TargetVerdict check_public_target(std::string_view url);

}  // namespace qinglan::service
