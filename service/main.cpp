// qinglan-service: the address service that the tool asks for a watch page's download
// addresses. It answers GET /parse.php?kw=<watch-page address> with a result page in the layout
// that the tool reads, resolving the page with a pool of yt-dlp resolver workers.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include "service/address_service.h"
#include "service/http_front.h"
#include "service/options.h"
#include "service/target_policy.h"
#include "service/worker_pool.h"

namespace {

using namespace qinglan::service;

std::string default_resolver() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path("qinglan_resolver.py")
                  : program.parent_path() / "qinglan_resolver.py")
        .string();
}

// The resolver's own network time-out stays below the time limit, so that a slow site ends in a
// resolver error rather than a killed worker where it can.
std::string socket_timeout_for(std::chrono::milliseconds time_limit) {
    const double seconds =
        std::clamp(static_cast<double>(time_limit.count()) * 0.8 / 1000.0, 1.0, 20.0);
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%.1f", seconds);
    return buffer;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "qinglan-service: %s\n%s", problem->c_str(), kUsage);
        return 2;
    }
    ServiceOptions options = std::get<ServiceOptions>(parsed);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.resolver.empty()) {
        options.resolver = default_resolver();
    }
    if (access(options.resolver.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "qinglan-service: the resolver %s cannot be run\n",
                     options.resolver.c_str());
        return 1;
    }

    // Writes to a peer or a log reader that has gone must fail, not end the service. The stop
    // signals are taken by one thread of their own; every other thread, and so every worker
    // started from one, has them blocked until the worker unblocks them on start.
    signal(SIGPIPE, SIG_IGN);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::optional<WorkerPool> pool;
    pool.emplace(PoolOptions{
        {options.resolver, "--socket-timeout", socket_timeout_for(options.time_limit)},
        options.workers,
        options.time_limit,
    });
    const bool refuse_private = refuses_private_targets(
        options.listen.host, options.allow_private_targets, options.refuse_private_targets);
    AddressService service(*pool, refuse_private, options.wait_limit);

    std::atomic<bool> finished{false};
    std::thread stopper([&] {
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        while (!finished.load()) {
            stop_http_front();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    FrontOptions front;
    front.listen = options.listen;
    front.threads = std::max<std::size_t>(32, options.workers * 4);
    // On loopback, resolving the user's own network, the service is the local tool's: what web
    // pages in the user's browser send it for other sites is refused. Behind a proxy it runs
    // with private targets refused, and the proxy may name the service as it likes.
    front.refuses_other_sites = !refuse_private && is_loopback_listen_host(options.listen.host);
    const bool served = run_http_front(service, front);
    finished.store(true);
    if (!served) {
        std::fprintf(stderr, "qinglan-service: cannot listen on %s:%u\n",
                     options.listen.host.c_str(), static_cast<unsigned>(options.listen.port));
        pool.reset();
        // The stop thread still waits for a signal; nothing else is left to do.
        std::_Exit(1);
    }
    stopper.join();
    return 0;
}
