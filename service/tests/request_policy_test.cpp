#include "service/request_policy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace qinglan::service {
namespace {

TEST(HostHeader, GivesTheHostWithoutPortOrBrackets) {
    struct Case {
        std::string_view header, host;
    };
    const Case cases[] = {
        {"127.0.0.1:8680", "127.0.0.1"},
        {"localhost", "localhost"},
        {"[::1]:8680", "::1"},
        {"[::1]", "::1"},
        {" Localhost:1 ", "Localhost"},
        {"::1", "::1"},
        {"evil.example:8680", "evil.example"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(host_of_host_header(c.header), c.host) << c.header;
    }
}

TEST(RequestOnLoopback, IsRefusedWhenABrowserSendsItForAnotherSite) {
    struct Case {
        std::optional<std::string_view> host, fetch_site;
        bool refused;
    };
    const Case cases[] = {
        {"127.0.0.1:8680", std::nullopt, false},  // the tool
        {"localhost:8680", std::nullopt, false},
        {"[::1]:8680", std::nullopt, false},
        {"127.1.2.3", std::nullopt, false},
        {std::nullopt, std::nullopt, false},  // an HTTP/1.0 client without a Host header
        {"127.0.0.1:8680", "none", false},    // typed into the browser's address bar
        {"127.0.0.1:8680", "same-origin", false},
        {"127.0.0.1:8680", "cross-site", true},  // a web page's request
        {"127.0.0.1:8680", "Same-Site", true},
        {"rebound.example:8680", std::nullopt, true},  // a name made to resolve to 127.0.0.1
        {"rebound.example:8680", "same-origin", true},
        {"127.0.0.1.rebound.example", std::nullopt, true},
        {"", std::nullopt, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(refuses_request_on_loopback(c.host, c.fetch_site), c.refused)
            << c.host.value_or("(no Host)") << " / "
            << c.fetch_site.value_or("(no Sec-Fetch-Site)");
    }
}

}  // namespace
}  // namespace qinglan::service
