#include "service/options.h"

#include <charconv>
#include <cmath>

namespace qinglan::service {
namespace {

std::optional<std::chrono::milliseconds> parse_seconds(const std::string& text) {
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) ||
        seconds <= 0 || seconds > 24 * 3600) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000)));
}

std::optional<std::size_t> parse_count(const std::string& text, std::size_t most) {
    std::size_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || end != text.data() + text.size() || count == 0 || count > most) {
        return std::nullopt;
    }
    return count;
}

}  // namespace

std::variant<ServiceOptions, std::string> parse_command_line(const std::vector<std::string>& args) {
    ServiceOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--allow-private-targets") {
            options.allow_private_targets = true;
            continue;
        }
        if (name == "--refuse-private-targets") {
            options.refuse_private_targets = true;
            continue;
        }
        if (name != "--listen" && name != "--workers" && name != "--time-limit" &&
            name != "--wait-limit" && name != "--resolver") {
            return "unknown option " + name;
        }
        if (i + 1 >= args.size()) {
            return name + " needs a value";
        }
        const std::string& value = args[++i];
        if (name == "--listen") {
            const std::optional<ListenAddress> listen = parse_listen_address(value);
            if (!listen) {
                return "--listen wants HOST:PORT or [IPv6]:PORT, not " + value;
            }
            options.listen = *listen;
        } else if (name == "--workers") {
            const std::optional<std::size_t> workers = parse_count(value, 64);
            if (!workers) {
                return "--workers wants a number from 1 to 64, not " + value;
            }
            options.workers = *workers;
        } else if (name == "--resolver") {
            if (value.empty()) {
                return "--resolver wants a path";
            }
            options.resolver = value;
        } else {
            const std::optional<std::chrono::milliseconds> limit = parse_seconds(value);
            if (!limit || limit->count() == 0) {
                return name + " wants a number of seconds, not " + value;
            }
            (name == "--time-limit" ? options.time_limit : options.wait_limit) = *limit;
        }
    }
    if (options.allow_private_targets && options.refuse_private_targets) {
        return "--allow-private-targets and --refuse-private-targets exclude each other";
    }
    return options;
}

}  // namespace qinglan::service
