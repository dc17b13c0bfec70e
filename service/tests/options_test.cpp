// The command line and the listen address.
#include "service/options.h"

#include <gtest/gtest.h>

namespace qinglan::service {
namespace {

TEST(ListenAddress, TakesHostAndPort) {
    struct Case {
        const char* text;
        std::optional<std::pair<std::string, std::uint16_t>> parsed;
    };
    const Case cases[] = {
        {"127.0.0.1:8680", std::pair<std::string, std::uint16_t>{"127.0.0.1", 8680}},
        {"0.0.0.0:80", std::pair<std::string, std::uint16_t>{"0.0.0.0", 80}},
        {"localhost:0", std::pair<std::string, std::uint16_t>{"localhost", 0}},
        {"[::1]:65535", std::pair<std::string, std::uint16_t>{"::1", 65535}},
        {"127.0.0.1", std::nullopt},
        {"127.0.0.1:", std::nullopt},
        {":8680", std::nullopt},
        {"::1:8680", std::nullopt},
        {"[::1:8680", std::nullopt},
        {"h:65536", std::nullopt},
        {"h:80x", std::nullopt},
        {"h:-1", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<ListenAddress> listen = parse_listen_address(c.text);
        ASSERT_EQ(listen.has_value(), c.parsed.has_value()) << c.text;
        if (listen) {
            EXPECT_EQ(listen->host, c.parsed->first) << c.text;
            EXPECT_EQ(listen->port, c.parsed->second) << c.text;
        }
    }
}

TEST(CommandLine, DefaultsServeTheToolOnItsDefaultAddress) {
    const auto parsed = parse_command_line({});
    ASSERT_TRUE(std::holds_alternative<ServiceOptions>(parsed));
    const ServiceOptions& options = std::get<ServiceOptions>(parsed);
    EXPECT_EQ(options.listen.host, "127.0.0.1");
    EXPECT_EQ(options.listen.port, 8680);
    EXPECT_EQ(options.workers, 2u);
    EXPECT_EQ(options.time_limit, std::chrono::seconds(30));
    EXPECT_FALSE(options.allow_private_targets);
    EXPECT_FALSE(options.refuse_private_targets);
}

TEST(CommandLine, ReadsEveryOption) {
    const auto parsed = parse_command_line({"--listen", "[::1]:9000", "--workers", "3",
                                            "--time-limit", "0.5", "--wait-limit", "2",
                                            "--resolver", "/x/r.py", "--allow-private-targets"});
    ASSERT_TRUE(std::holds_alternative<ServiceOptions>(parsed));
    const ServiceOptions& options = std::get<ServiceOptions>(parsed);
    EXPECT_EQ(options.listen.host, "::1");
    EXPECT_EQ(options.listen.port, 9000);
    EXPECT_EQ(options.workers, 3u);
    EXPECT_EQ(options.time_limit, std::chrono::milliseconds(500));
    EXPECT_EQ(options.wait_limit, std::chrono::seconds(2));
    EXPECT_EQ(options.resolver, "/x/r.py");
    EXPECT_TRUE(options.allow_private_targets);
}

TEST(CommandLine, RefusesWhatItCannotUse) {
    const std::vector<std::vector<std::string>> bad = {
        {"--listen"},
        {"--listen", "8680"},
        {"--workers", "0"},
        {"--workers", "65"},
        {"--workers", "two"},
        {"--time-limit", "0"},
        {"--time-limit", "-1"},
        {"--time-limit", "0.0001"},
        {"--wait-limit", "nan"},
        {"--resolver", ""},
        {"--config", "x"},
        {"--allow-private-targets", "--refuse-private-targets"},
    };
    for (const auto& args : bad) {
        EXPECT_TRUE(std::holds_alternative<std::string>(parse_command_line(args))) << args[0];
    }
}

}  // namespace
}  // namespace qinglan::service
