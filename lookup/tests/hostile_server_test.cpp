// fetch_page, and on Windows a read through the real main window, against servers on 127.0.0.1
// that misbehave on purpose: silent, stalling, sending without end, promising 1 GiB, cutting the
// body off, redirecting for ever, breaking the chunked encoding.
//
// The portable client (libcurl) must give up by its own limits, which are set short here. The
// Windows component ("Microsoft.XMLHTTP") has no limits that the tool can set, and under Wine it
// waits for a silent server as long as the server keeps the connection open, reads a body for as
// long as it comes and follows redirects without a limit. So every server here also stops by
// itself, after a bounded time or amount, and on Windows the tests expect what the component does
// within those bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "lookup/fetch_page.h"
#include "tests/support/loopback_server.h"

#ifdef _WIN32
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include "ui/main_window.h"
#else
#include <signal.h>
#include <unistd.h>

#include <fstream>
#endif

namespace qinglan {
namespace {

using namespace std::chrono_literals;
using testing::Connection;
using testing::http_response;
using testing::LoopbackServer;
using testing::RecordedRequest;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMiB = 1024 * 1024;

// The portable client's limits in these tests.
FetchLimits test_limits() {
    FetchLimits limits;
    limits.connect_timeout = 2s;
    limits.stall_timeout = 1s;
    limits.max_body_bytes = 4 * kMiB;
    return limits;
}

#ifdef _WIN32
constexpr bool kOnWindows = true;
// How long a stalling server keeps the connection open before it closes it. The component
// waits that long, so the time is short.
constexpr auto kServerPatience = 3s;
// How much a server that sends without end sends before it closes the connection. The
// component keeps all of it, so the amount is small.
constexpr std::size_t kEndlessBytes = 8 * kMiB;
#else
constexpr bool kOnWindows = false;
// Well past the client's own stall limit, which must end the request first.
constexpr auto kServerPatience = 30s;
// 64 times the client's cap, which must end the request first.
constexpr std::size_t kEndlessBytes = 256 * kMiB;
#endif
// A server that redirects to itself answers normally after this many requests.
constexpr std::size_t kRedirectsBeforeEscape = 100;

#ifndef _WIN32
// The servers write to connections that the client may already have closed; that must be a
// failed send, not the end of the test program.
[[maybe_unused]] const bool kPipeSignalIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
#endif

// What the process has in memory now.
std::size_t resident_bytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.WorkingSetSize;
#else
    std::ifstream statm("/proc/self/statm");
    std::size_t total_pages = 0;
    std::size_t resident_pages = 0;
    statm >> total_pages >> resident_pages;
    return resident_pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

// Samples the process's memory every few milliseconds while it lives: how far it grew above
// what it was at the start.
class MemoryWatch {
  public:
    MemoryWatch() : start_(resident_bytes()), sampler_([this] { sample(); }) {}
    MemoryWatch(const MemoryWatch&) = delete;
    MemoryWatch& operator=(const MemoryWatch&) = delete;
    ~MemoryWatch() { stop(); }

    std::size_t stop() {
        if (sampler_.joinable()) {
            done_ = true;
            sampler_.join();
        }
        return peak_ > start_ ? peak_ - start_ : 0;
    }

  private:
    void sample() {
        while (!done_) {
            peak_ = std::max<std::size_t>(peak_, resident_bytes());
            std::this_thread::sleep_for(2ms);
        }
    }

    std::size_t start_;
    std::atomic<std::size_t> peak_{0};
    std::atomic<bool> done_{false};
    std::thread sampler_;
};

// Bytes of body that the streaming servers managed to send in the current case.
std::atomic<std::size_t> body_bytes_sent{0};

// Sends `head`, then body bytes in 64 KiB pieces until `limit` bytes are out or the client has
// gone, then closes.
void stream_body(Connection& peer, const std::string& head, std::size_t limit) {
    if (!peer.send(head)) {
        return;
    }
    const std::string piece(64 * 1024, 'x');
    while (body_bytes_sent < limit && peer.send(piece)) {
        body_bytes_sent += piece.size();
    }
}

// What one backend does with one server.
struct Outcome {
    std::string body;  // the body fetch_page gives; empty for empty Bytes
    std::chrono::milliseconds within;
    std::size_t requests = 1;  // that the server receives
};

struct HostileCase {
    const char* what;
    testing::Handler serve;
    Outcome portable;  // libcurl with test_limits()
    Outcome windows;   // the Windows component, as Wine's behaves
};

const Outcome& expected_on_this_backend(const HostileCase& c) {
    return kOnWindows ? c.windows : c.portable;
}

std::vector<HostileCase> hostile_cases() {
    const auto patience = std::chrono::duration_cast<std::chrono::milliseconds>(kServerPatience);
    // libcurl judges a stall by the average speed over its last five seconds, so after a few
    // bytes it gives up up to five seconds later than the stall limit.
    const std::chrono::milliseconds stall_limit = test_limits().stall_timeout + 6s;
    const std::chrono::milliseconds after_the_server_closes = patience + 5s;
    const std::chrono::milliseconds quick = 5s;
    std::vector<HostileCase> cases = {
        {"accepts and never answers",
         [](const RecordedRequest&, Connection& peer) { peer.stall(kServerPatience); },
         {"", stall_limit},
         {"", after_the_server_closes}},
        {"sends part of the head and stalls",
         [](const RecordedRequest&, Connection& peer) {
             peer.send("HTTP/1.1 200 OK\r\nContent-");
             peer.stall(kServerPatience);
         },
         {"", stall_limit},
         {"", after_the_server_closes}},
        {"sends part of the body and stalls",
         [](const RecordedRequest&, Connection& peer) {
             peer.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
             peer.stall(kServerPatience);
         },
         {"", stall_limit},
         // The component keeps what came before the server closed.
         {"abc", after_the_server_closes}},
        {"sends a body that never ends",
         [](const RecordedRequest&, Connection& peer) {
             stream_body(peer, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", kEndlessBytes);
         },
         {"", quick},
         // No cap: the component reads until the server gives up.
         {std::string(kEndlessBytes, 'x'), 30s}},
        {"announces a Content-Length of 1 GiB",
         [](const RecordedRequest&, Connection& peer) {
             stream_body(peer, "HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n",
                         kEndlessBytes);
         },
         {"", quick},
         // The component gives what arrived before the connection closed as the body.
         {std::string(kEndlessBytes, 'x'), 30s}},
        {"closes the connection in the middle of the body",
         [](const RecordedRequest&, Connection& peer) {
             peer.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'y'));
         },
         {"", quick},
         {std::string(500, 'y'), quick}},
        {"redirects to itself",
         [redirected = std::make_shared<std::size_t>(0)](const RecordedRequest&, Connection& peer) {
             if (++*redirected < kRedirectsBeforeEscape) {
                 peer.send(http_response(302, "", "Location: /loop\r\n"));
             } else {
                 peer.send(http_response(200, "out of the loop"));
             }
         },
         // libcurl stops after the 20th redirect.
         {"", quick, 21},
         // The component follows every redirect, until the server stops redirecting.
         {"out of the loop", 30s, kRedirectsBeforeEscape}},
        {"sends a chunk size that is not hexadecimal",
         [](const RecordedRequest&, Connection& peer) {
             peer.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n");
             peer.stall(kServerPatience);
         },
         {"", quick},
         {"", quick}},
        {"sends a chunk longer than its size",
         [](const RecordedRequest&, Connection& peer) {
             peer.send(
                 "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcdef\r\n0\r\n\r\n");
         },
         {"", quick},
         {"abc", quick}},
        {"closes before the last chunk",
         [](const RecordedRequest&, Connection& peer) {
             peer.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n");
         },
         {"", quick},
         {"abc", quick}},
    };
    return cases;
}

// Memory a request may add while it runs. Natively: the body up to the cap, the vector's spare
// capacity and what the sanitizers keep of freed blocks; on Windows the component holds the
// bounded body several times over while it reads it.
constexpr std::size_t kMemoryAllowance = kOnWindows ? 8 * kEndlessBytes : 8 * 4 * kMiB + 32 * kMiB;

std::string describe(std::size_t size) {
    return std::to_string(size) + " bytes";
}

TEST(HostileServer, EachRequestEndsWithinItsLimitAndItsMemoryBound) {
    for (const HostileCase& c : hostile_cases()) {
        SCOPED_TRACE(c.what);
        const Outcome& expected = expected_on_this_backend(c);
        body_bytes_sent = 0;
        LoopbackServer server(c.serve);
        Text address = server.origin() + "/loop";

        MemoryWatch memory;
        const auto started = Clock::now();
        const Bytes body = fetch_page(address, test_limits());
        const auto took = Clock::now() - started;
        const std::size_t growth = memory.stop();

        EXPECT_TRUE(std::string(body.begin(), body.end()) == expected.body)
            << "got " << describe(body.size()) << ", expected " << describe(expected.body.size());
        EXPECT_LT(took, expected.within);
        EXPECT_LT(growth, kMemoryAllowance) << "memory grew by " << describe(growth);
        if (!kOnWindows) {
            // The client's own cap stopped the streaming servers, not their bound.
            EXPECT_LT(body_bytes_sent, kEndlessBytes / 4) << describe(body_bytes_sent);
        }
        EXPECT_EQ(server.requests().size(), expected.requests);
        std::printf("  %-48s %6lld ms, %10zu bytes of body, memory +%zu KiB\n", c.what,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
                    body.size(), growth / 1024);
    }
}

#ifdef _WIN32
// A read through the real main window, as the read button starts it: afterwards the list has
// been rebuilt from what came back and the window answers messages again.
class HostileServerReadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof(controls);
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
        InitCommonControlsEx(&controls);
    }
};

// Dispatches this thread's messages until `done` is set or `limit` has passed.
void pump_until(const std::atomic<bool>& done, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (!done && Clock::now() < until) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// True when a message sent from another thread is answered within `limit` while this thread
// runs its message loop.
bool answers_messages(HWND window, std::chrono::milliseconds limit) {
    std::atomic<bool> done{false};
    std::atomic<bool> answered{false};
    std::thread asker([&] {
        DWORD_PTR result = 0;
        answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL,
                                       static_cast<UINT>(limit.count()), &result) != 0;
        done = true;
    });
    pump_until(done, limit + 2s);
    asker.join();
    return answered;
}

// True when the list view shows what changes in it: a row added now makes it repaint that part
// (a list view whose redrawing was left suspended does not).
bool repaints_changes(AddressListView& list) {
    ValidateRect(list.handle(), nullptr);
    list.append_row();
    RECT changed{};
    const bool repaints = GetUpdateRect(list.handle(), &changed, FALSE) != 0;
    list.clear_rows();
    return repaints;
}

TEST_F(HostileServerReadTest, TheWindowAnswersAgainAfterEachHostileRead) {
    for (const HostileCase& c : hostile_cases()) {
        SCOPED_TRACE(c.what);
        body_bytes_sent = 0;
        LoopbackServer server(c.serve);
        MainWindow window(MainWindowOptions{server.origin() + "/loop?kw=", false});
        ASSERT_TRUE(window.create());
        AddressListView& list = window.address_list();
        list.set_row_caption(list.append_row(), 0, "row of an earlier read");
        SetWindowTextW(GetDlgItem(window.handle(), kAddressBoxId), L"v.example/watch");

        const auto started = Clock::now();
        SendMessageW(GetDlgItem(window.handle(), kReadButtonId), BM_CLICK, 0, 0);
        const auto took = Clock::now() - started;

        EXPECT_LT(took, c.windows.within);
        // None of these bodies is a result page: the list was emptied and nothing was added.
        EXPECT_EQ(list.row_count(), 0);
        EXPECT_TRUE(answers_messages(window.handle(), 2s));
        EXPECT_TRUE(repaints_changes(list));
        DestroyWindow(window.handle());
    }
}
#endif

}  // namespace
}  // namespace qinglan
