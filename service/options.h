// The command line of qinglan-service.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "service/http_front.h"

namespace qinglan::service {

struct ServiceOptions {
    ListenAddress listen{"127.0.0.1", 8680};
    std::size_t workers = 2;
    std::chrono::milliseconds time_limit{30'000};
    std::chrono::milliseconds wait_limit{10'000};
    std::string resolver;  // empty: qinglan_resolver.py beside the program
    bool allow_private_targets = false;
    bool refuse_private_targets = false;
    bool help = false;
};

inline constexpr const char* kUsage =
    "usage: qinglan-service [options]\n"
    "  --listen HOST:PORT        where to listen (default 127.0.0.1:8680)\n"
    "  --workers N               resolver workers, the most resolves at once (default 2)\n"
    "  --time-limit SECONDS      time limit of one resolve (default 30)\n"
    "  --wait-limit SECONDS      longest wait for a free worker before \"busy\" (default 10)\n"
    "  --resolver PATH           the resolver worker program (default: qinglan_resolver.py\n"
    "                            beside this program)\n"
    "  --allow-private-targets   resolve loopback and private targets also when listening\n"
    "                            on a non-loopback address\n"
    "  --refuse-private-targets  refuse such targets also when listening on loopback\n"
    "  --help                    this text\n";

// The options, or a message saying what is wrong with the command line.
std::variant<ServiceOptions, std::string> parse_command_line(const std::vector<std::string>& args);

}  // namespace qinglan::service
