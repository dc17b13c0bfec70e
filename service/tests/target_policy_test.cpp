// Which targets are resolved: the listen address decides the policy, and a policy that refuses
// private targets looks each host up.
#include "service/target_policy.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace qinglan::service {
namespace {

TEST(TargetPolicy, OnlyLoopbackListenersResolvePrivateTargetsUnlessTold) {
    struct Case {
        const char* listen_host;
        bool loopback;
    };
    // 127.0.0.2 and friends are loopback too: only local users can reach them, so they are as
    // safe as 127.0.0.1 and get the open policy.
    const Case cases[] = {
        {"127.0.0.1", true},    {"127.0.0.2", true},        {"127.255.255.254", true},
        {"localhost", true},    {"LOCALHOST", true},        {"::1", true},
        {"[::1]", true},        {"::ffff:127.0.0.1", true}, {"0.0.0.0", false},
        {"::", false},          {"192.168.1.10", false},    {"10.0.0.1", false},
        {"203.0.113.7", false}, {"host.example", false},    {"", false},
        {"128.0.0.1", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_loopback_listen_host(c.listen_host), c.loopback) << c.listen_host;
        EXPECT_EQ(refuses_private_targets(c.listen_host, false, false), !c.loopback)
            << c.listen_host;
        EXPECT_FALSE(refuses_private_targets(c.listen_host, true, false)) << c.listen_host;
        EXPECT_TRUE(refuses_private_targets(c.listen_host, false, true)) << c.listen_host;
    }
}

TEST(TargetPolicy, JudgesAddressesByTheirRange) {
    struct Case {
        const char* address;
        bool is_public;
    };
    const Case cases[] = {
        {"8.8.8.8", true},
        {"93.184.216.34", true},
        {"1.1.1.1", true},
        {"100.63.255.255", true},
        {"100.128.0.0", true},
        {"172.32.0.1", true},
        {"0.0.0.0", false},
        {"0.1.2.3", false},
        {"10.1.2.3", false},
        {"100.64.0.1", false},
        {"127.0.0.1", false},
        {"127.8.9.10", false},
        {"169.254.169.254", false},
        {"172.16.0.1", false},
        {"172.31.255.255", false},
        {"192.0.2.5", false},
        {"192.168.0.1", false},
        {"198.18.0.1", false},
        {"224.0.0.251", false},
        {"255.255.255.255", false},
        {"2001:4860:4860::8888", true},
        {"2606:4700::1111", true},
        {"::", false},
        {"::1", false},
        {"::ffff:127.0.0.1", false},
        {"::ffff:10.0.0.1", false},
        {"::ffff:8.8.8.8", true},
        {"64:ff9b::a00:1", false},   // NAT64 of 10.0.0.1
        {"64:ff9b::808:808", true},  // NAT64 of 8.8.8.8
        {"2002:7f00:1::", false},    // 6to4 of 127.0.0.1
        {"2002:808:808::", true},    // 6to4 of 8.8.8.8
        {"fe80::1", false},
        {"fec0::1", false},
        {"fc00::1", false},
        {"fd12:3456::1", false},
        {"ff02::1", false},
        {"2001:db8::1", false},
        {"100::1", false},
    };
    for (const Case& c : cases) {
        sockaddr_storage storage{};
        if (inet_pton(AF_INET, c.address, &reinterpret_cast<sockaddr_in&>(storage).sin_addr) == 1) {
            storage.ss_family = AF_INET;
        } else {
            ASSERT_EQ(
                inet_pton(AF_INET6, c.address, &reinterpret_cast<sockaddr_in6&>(storage).sin6_addr),
                1)
                << c.address;
            storage.ss_family = AF_INET6;
        }
        EXPECT_EQ(is_public_address(reinterpret_cast<const sockaddr&>(storage)), c.is_public)
            << c.address;
    }
}

TEST(TargetPolicy, FindsTheHostOfAUrl) {
    struct Case {
        const char* url;
        std::optional<std::string> host;
    };
    const Case cases[] = {
        {"http://Host.Example/w?v=1", "host.example"},
        {"https://user:pw@h.example:8443/", "h.example"},
        {"http://a@b@127.0.0.1/", "127.0.0.1"},
        {"http://[::1]:8080/x", "::1"},
        {"http://127.0.0.%31/", "127.0.0.1"},
        {"http://h.example?x=@evil", "h.example"},
        {"http://h.example#@evil", "h.example"},
        {"http:///x", std::nullopt},
        {"h.example/x", std::nullopt},
        {"http://[::1/x", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(host_of_url(c.url), c.host) << c.url;
    }
}

TEST(TargetPolicy, LooksHostsUpBeforeResolvingThem) {
    struct Case {
        const char* url;
        TargetVerdict verdict;
    };
    // Literal addresses and "localhost" need no name server, so this stays offline.
    const Case cases[] = {
        {"http://8.8.8.8/w", TargetVerdict::allowed},
        {"http://[2001:4860:4860::8888]/w", TargetVerdict::allowed},
        {"http://127.0.0.1:8080/w", TargetVerdict::private_target},
        {"http://localhost/w", TargetVerdict::private_target},
        {"http://[::1]/w", TargetVerdict::private_target},
        {"http://169.254.169.254/latest/meta-data/", TargetVerdict::private_target},
        {"http://0.0.0.0/", TargetVerdict::private_target},
        // Other spellings of an address, which the resolver's network code would accept too.
        {"http://2130706433/", TargetVerdict::private_target},
        {"http://0x7f.1/", TargetVerdict::private_target},
        {"http://127.1/", TargetVerdict::private_target},
        {"http://%31%32%37.0.0.1/", TargetVerdict::private_target},
        {"http:///w", TargetVerdict::unresolvable},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(check_public_target(c.url), c.verdict) << c.url;
    }
}

}  // namespace
}  // namespace qinglan::service
