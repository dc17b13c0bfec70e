// The worker pool with real worker processes: the stand-in resolver hangs, crashes, answers
// nonsense or never gets ready when asked to, and the pool must still answer every request.
#include "service/worker_pool.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/loopback_server.h"

namespace qinglan::service {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

PoolOptions fake_pool(std::size_t workers, std::chrono::milliseconds time_limit,
                      std::vector<std::string> extra = {}) {
    PoolOptions options;
    options.command = {QINGLAN_FAKE_RESOLVER};
    options.command.insert(options.command.end(), extra.begin(), extra.end());
    options.workers = workers;
    options.time_limit = time_limit;
    return options;
}

void wait_until_ready(WorkerPool& pool) {
    const auto until = Clock::now() + 20s;
    while (pool.health().ready < pool.options().workers) {
        ASSERT_LT(Clock::now(), until) << "the workers never got ready";
        std::this_thread::sleep_for(20ms);
    }
}

PoolAnswer ask(WorkerPool& pool, const std::string& path, std::chrono::milliseconds wait = 10s) {
    return pool.resolve(json{{"url", "http://fake.test" + path}}, Clock::now() + wait);
}

// The pid of the worker that answered an echo request.
pid_t worker_of(const PoolAnswer& answer) {
    EXPECT_EQ(answer.kind, PoolAnswer::Kind::reply) << answer.detail;
    if (answer.kind != PoolAnswer::Kind::reply) {
        return -1;
    }
    const std::string title = answer.reply.value("title", "");
    return title.rfind("pid=", 0) == 0 ? static_cast<pid_t>(std::stol(title.substr(4))) : -1;
}

bool process_exists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

// Running, that is neither gone nor a zombie waiting for a parent that may never reap it.
bool process_runs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    const std::size_t name_end = line.rfind(')');
    return name_end != std::string::npos && name_end + 2 < line.size() &&
           line[name_end + 2] != 'Z' && line[name_end + 2] != 'X';
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(WorkerPool, KeepsOneLongLivedWorkerForRequestAfterRequest) {
    WorkerPool pool(fake_pool(1, 5s));
    wait_until_ready(pool);
    const pid_t first = worker_of(ask(pool, "/echo"));
    ASSERT_GT(first, 0);
    for (int i = 0; i < 5; ++i) {
        const PoolAnswer answer = ask(pool, "/echo?n=" + std::to_string(i));
        EXPECT_EQ(worker_of(answer), first);
        EXPECT_EQ(answer.reply["parts"][0]["formats"][0]["url"],
                  "http://fake.test/echo?n=" + std::to_string(i));
    }
}

TEST(WorkerPool, KillsAHungWorkerAtTheTimeLimitAndServesTheNextRequest) {
    WorkerPool pool(fake_pool(1, 800ms));
    wait_until_ready(pool);
    const pid_t hung = worker_of(ask(pool, "/echo"));
    const auto start = Clock::now();
    const PoolAnswer answer = ask(pool, "/hang");
    const double took = seconds_since(start);
    EXPECT_EQ(answer.kind, PoolAnswer::Kind::timed_out);
    EXPECT_GE(took, 0.75);
    EXPECT_LT(took, 3.0);
    // It ignored SIGTERM; it is gone all the same.
    EXPECT_FALSE(process_exists(hung));
    const pid_t next = worker_of(ask(pool, "/echo"));
    EXPECT_GT(next, 0);
    EXPECT_NE(next, hung);
    wait_until_ready(pool);
}

TEST(WorkerPool, ReplacesAWorkerThatDiesOrAnswersNonsense) {
    struct Case {
        const char* path;
        PoolAnswer::Kind kind;
    };
    const Case cases[] = {
        {"/crash", PoolAnswer::Kind::crashed},
        {"/garbage", PoolAnswer::Kind::crashed},
    };
    WorkerPool pool(fake_pool(1, 5s));
    wait_until_ready(pool);
    for (const Case& c : cases) {
        const pid_t before = worker_of(ask(pool, "/echo"));
        EXPECT_EQ(ask(pool, c.path).kind, c.kind) << c.path;
        EXPECT_FALSE(process_exists(before)) << c.path;
        const pid_t after = worker_of(ask(pool, "/echo"));
        EXPECT_GT(after, 0) << c.path;
        EXPECT_NE(after, before) << c.path;
    }
}

TEST(WorkerPool, AWorkerKilledWhileIdleCostsNoRequest) {
    WorkerPool pool(fake_pool(1, 5s));
    wait_until_ready(pool);
    const pid_t victim = worker_of(ask(pool, "/echo"));
    ASSERT_EQ(::kill(victim, SIGKILL), 0);
    std::this_thread::sleep_for(100ms);
    // The next request is not answered "crashed": the pool sees the dead worker first.
    const pid_t replacement = worker_of(ask(pool, "/echo"));
    EXPECT_GT(replacement, 0);
    EXPECT_NE(replacement, victim);
}

TEST(WorkerPool, WhatADeadWorkerStartedEndsWithIt) {
    WorkerPool pool(fake_pool(1, 5s));
    wait_until_ready(pool);
    const PoolAnswer answer = ask(pool, "/child");
    const pid_t worker = worker_of(answer);
    const std::string title = answer.reply.value("title", "");
    const std::size_t at = title.find(" child=");
    ASSERT_NE(at, std::string::npos) << title;
    const auto child = static_cast<pid_t>(std::stol(title.substr(at + 7)));
    ASSERT_TRUE(process_runs(child));
    ASSERT_EQ(::kill(worker, SIGKILL), 0);
    std::this_thread::sleep_for(100ms);
    // The pool finds the worker dead before the next request and ends its process group.
    EXPECT_NE(worker_of(ask(pool, "/echo")), worker);
    const auto until = Clock::now() + 3s;
    while (process_runs(child) && Clock::now() < until) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_FALSE(process_runs(child));
    if (process_runs(child)) {
        ::kill(child, SIGKILL);  // leave nothing behind when the pool failed to
    }
}

TEST(WorkerPool, AWorkerThatNeverGetsReadyIsGivenUp) {
    {
        WorkerPool pool(fake_pool(1, 600ms, {"--startup", "never"}));
        const auto start = Clock::now();
        EXPECT_EQ(ask(pool, "/echo").kind, PoolAnswer::Kind::timed_out);
        EXPECT_LT(seconds_since(start), 3.0);
        EXPECT_EQ(pool.health().ready, 0u);
    }
    {
        WorkerPool pool(fake_pool(1, 5s, {"--startup", "die"}));
        EXPECT_EQ(ask(pool, "/echo").kind, PoolAnswer::Kind::crashed);
        EXPECT_EQ(pool.health().ready, 0u);
    }
    {
        PoolOptions options = fake_pool(1, 5s);
        options.command = {"/nonexistent/resolver"};
        WorkerPool pool(options);
        EXPECT_EQ(ask(pool, "/echo").kind, PoolAnswer::Kind::crashed);
    }
}

TEST(WorkerPool, AnswersBusyWhenNoWorkerFreesUpWithinTheWaitLimit) {
    WorkerPool pool(fake_pool(1, 10s));
    wait_until_ready(pool);
    std::thread occupant(
        [&] { EXPECT_EQ(ask(pool, "/sleep/2000").kind, PoolAnswer::Kind::reply); });
    // Until the worker is taken, a request would not be busy.
    while (ask(pool, "/echo", 0ms).kind != PoolAnswer::Kind::busy) {
        std::this_thread::sleep_for(10ms);
    }
    const auto start = Clock::now();
    EXPECT_EQ(ask(pool, "/echo", 400ms).kind, PoolAnswer::Kind::busy);
    const double took = seconds_since(start);
    EXPECT_GE(took, 0.39);
    EXPECT_LT(took, 1.0);
    occupant.join();
    // Once free, the same worker serves again.
    EXPECT_EQ(ask(pool, "/echo", 0ms).kind, PoolAnswer::Kind::reply);
}

}  // namespace
}  // namespace qinglan::service

namespace qinglan::service {
namespace {

// The real resolver, asked directly: it refuses what it must not fetch even when the service's
// own check was passed, since every connection it makes is checked again (redirects and later
// look-ups of the same name included).
TEST(Resolver, RefusesNonPublicTargetsOfItsOwnAccordWhenAsked) {
    const qinglan::testing::LoopbackServer site = qinglan::testing::LoopbackServer::serving(
        "<html><head><title>Clip</title></head><body><video><source src=\"/v.mp4\" "
        "type=\"video/mp4\"></video></body></html>");
    PoolOptions options;
    options.command = {QINGLAN_RESOLVER, "--socket-timeout", "5"};
    options.workers = 1;
    options.time_limit = 30s;
    WorkerPool pool(options);
    const auto ask_for = [&](const std::string& url, bool allow_private) {
        const PoolAnswer answer =
            pool.resolve(json{{"url", url}, {"allow_private", allow_private}}, Clock::now() + 60s);
        EXPECT_EQ(answer.kind, PoolAnswer::Kind::reply) << answer.detail;
        return answer.reply;
    };
    const json refused = ask_for(site.origin() + "/watch", false);
    EXPECT_EQ(refused["ok"], false);
    EXPECT_EQ(refused["kind"], "refused");
    EXPECT_TRUE(site.requests().empty());

    const json resolved = ask_for(site.origin() + "/watch", true);
    EXPECT_EQ(resolved["ok"], true);
    EXPECT_EQ(resolved["parts"][0]["formats"][0]["url"], site.origin() + "/v.mp4");

    EXPECT_EQ(ask_for("file:///etc/passwd", true)["kind"], "not_http");
    EXPECT_EQ(ask_for("ftp://127.0.0.1/x", true)["kind"], "not_http");
}

}  // namespace
}  // namespace qinglan::service

namespace qinglan::service {
namespace {

// A stand-in yt_dlp package of the given version, first on the interpreter's path; importing it
// fails loudly, so a worker that picked it says so instead of getting ready.
std::string stand_in_yt_dlp(const std::string& directory, const std::string& version) {
    std::filesystem::create_directories(directory + "/yt_dlp");
    std::ofstream(directory + "/yt_dlp/version.py") << "__version__ = '" << version << "'\n";
    std::ofstream(directory + "/yt_dlp/__init__.py")
        << "raise ImportError('stand-in yt_dlp " << version << " was chosen')\n";
    return directory;
}

std::string reported_version(WorkerPool& pool) {
    const auto until = Clock::now() + 30s;
    for (;;) {
        const WorkerPool::Health health = pool.health();
        if (health.ready == health.workers || !health.version.empty() || Clock::now() > until) {
            return health.version;
        }
        std::this_thread::sleep_for(20ms);
    }
}

TEST(Resolver, ImportsTheNewestYtDlpThatItsInterpreterCanFind) {
    const std::string base = std::filesystem::temp_directory_path() /
                             ("qinglan-resolver-test-" + std::to_string(getpid()));
    struct Case {
        const char* version;
        bool chosen;
    };
    // On PYTHONPATH the stand-in comes before the system's yt_dlp: plain import order would
    // always take it.
    const Case cases[] = {{"2099.1.1", true}, {"2000.1.1", false}};
    for (const Case& c : cases) {
        const std::string path = stand_in_yt_dlp(base + "/" + c.version, c.version);
        PoolOptions options;
        options.command = {"/usr/bin/env", "PYTHONPATH=" + path, QINGLAN_RESOLVER};
        options.workers = 1;
        WorkerPool pool(options);
        const std::string version = reported_version(pool);
        if (c.chosen) {
            EXPECT_NE(version.find(std::string("stand-in yt_dlp ") + c.version + " was chosen"),
                      std::string::npos)
                << version;
            EXPECT_EQ(pool.health().ready, 0u);
        } else {
            EXPECT_EQ(version.find("stand-in"), std::string::npos) << version;
            EXPECT_EQ(version.rfind("yt-dlp ", 0), 0u) << version;
            EXPECT_EQ(pool.health().ready, 1u);
        }
    }
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace qinglan::service
