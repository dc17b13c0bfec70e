// qinglan-service as a real program on loopback, read by the lookup library exactly as the tool
// reads it (read_addresses_from, through libcurl), and by raw HTTP for statuses and timing.
// Watch pages are served by the test on 127.0.0.1; nothing leaves the machine.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "lookup/address_extraction.h"
#include "lookup/tests/memory_address_list.h"
#include "service/tests/service_process.h"
#include "tests/support/loopback_server.h"

namespace qinglan::service {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qinglan::testing::Connection;
using qinglan::testing::LoopbackServer;
using qinglan::testing::MemoryAddressList;
using qinglan::testing::RecordedRequest;
using testing::http_get;
using testing::HttpReply;
using testing::ServiceProcess;
using testing::temporary_path;
using Clock = std::chrono::steady_clock;

// The markers as the tool has them.
constexpr const char* kFront = "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA";
constexpr const char* kBack = "<td align=left class=\"mn STYLE4\">\r";

std::vector<std::string> as_strings(const std::vector<Text>& rows) {
    std::vector<std::string> strings;
    for (const Text& row : rows) {
        strings.emplace_back(row.bytes());
    }
    return strings;
}

// What the tool lists after a read of `watch_address` through the service.
std::vector<std::string> tool_rows(const ServiceProcess& service,
                                   const std::string& watch_address) {
    MemoryAddressList list;
    read_addresses_from(service.base_address(), watch_address, list);
    return as_strings(list.rows);
}

// What the tool would list for a page that came back some other way.
std::vector<std::string> tool_rows_of_page(const std::string& page) {
    MemoryAddressList list;
    fill_address_list(text_between(Text(page), kFront, kBack), list);
    return as_strings(list.rows);
}

bool has_both_markers(const std::string& page) {
    const std::size_t front = page.find(kFront);
    return front != std::string::npos && page.find(kBack, front) != std::string::npos;
}

std::string fake_resolver_args_log() {
    static int serial = 0;
    return temporary_path("fake-" + std::to_string(++serial) + ".log");
}

std::vector<std::string> fake(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--resolver", QINGLAN_FAKE_RESOLVER};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::string read_file(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// The stand-in resolver's log of resolves: the largest number that ran at once, and how many
// started at all.
struct ResolveLog {
    int most_at_once = 0;
    int started = 0;
};

ResolveLog read_resolve_log(const std::string& path) {
    std::istringstream lines(read_file(path));
    std::vector<std::pair<long long, int>> events;  // (time, +1 start / -1 end)
    std::string event;
    long long pid = 0;
    long long at = 0;
    ResolveLog log;
    while (lines >> event >> pid >> at) {
        events.emplace_back(at, event == "start" ? 1 : -1);
        log.started += event == "start" ? 1 : 0;
    }
    std::sort(events.begin(), events.end());
    int running = 0;
    for (const auto& [time, change] : events) {
        running += change;
        log.most_at_once = std::max(log.most_at_once, running);
    }
    return log;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- With the real resolver (yt-dlp) -------------------------------------------------------

std::string media_response(std::string_view body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + std::string(body);
}

// Watch pages as a site would serve them: an HTML5 video in three resolutions, listed neither
// best first nor worst first; a direct .mp4 link; a page with nothing playable.
LoopbackServer watch_site() {
    return LoopbackServer([](const RecordedRequest& request, Connection& peer) {
        const std::string& line = request.request_line;
        if (line.find(" /watch/video ") != std::string::npos) {
            peer.send(qinglan::testing::http_response(
                200,
                "<!DOCTYPE html><html><head><title>Test clip</title></head><body>\n"
                "<video controls>\n"
                "<source src=\"/media/clip-480.mp4\" type=\"video/mp4\" res=\"480\">\n"
                "<source src=\"/media/clip-1080.mp4\" type=\"video/mp4\" res=\"1080\">\n"
                "<source src=\"/media/clip-240.mp4\" type=\"video/mp4\" res=\"240\">\n"
                "</video></body></html>\n"));
        } else if (line.find(" /files/clip.mp4 ") != std::string::npos) {
            peer.send(media_response(std::string(4096, '\x01')));
        } else if (line.find(" /watch/nothing ") != std::string::npos) {
            peer.send(qinglan::testing::http_response(
                200,
                "<html><head><title>Nothing</title></head><body><p>Text only.</p></body>"
                "</html>\n"));
        } else {
            peer.send(qinglan::testing::http_response(404, "not here"));
        }
    });
}

TEST(ServiceWithYtDlp, ListsTheMediaOfWatchPagesBestFirst) {
    const LoopbackServer site = watch_site();
    const ServiceProcess service({"--workers", "1"});
    const std::string media = site.origin() + "/media/";

    EXPECT_EQ(tool_rows(service, site.origin() + "/watch/video"),
              (std::vector<std::string>{media + "clip-1080.mp4", media + "clip-480.mp4",
                                        media + "clip-240.mp4"}));
    EXPECT_EQ(tool_rows(service, site.origin() + "/files/clip.mp4"),
              (std::vector<std::string>{site.origin() + "/files/clip.mp4"}));
    // Typed without a scheme, as users do.
    EXPECT_EQ(tool_rows(service, "127.0.0.1:" + std::to_string(site.port()) + "/files/clip.mp4"),
              (std::vector<std::string>{site.origin() + "/files/clip.mp4"}));

    const HttpReply nothing =
        http_get(service.port(), "/parse.php?kw=" + site.origin() + "/watch/nothing");
    EXPECT_EQ(nothing.status, 422);
    EXPECT_TRUE(has_both_markers(nothing.body));
    EXPECT_TRUE(tool_rows_of_page(nothing.body).empty());
    EXPECT_TRUE(tool_rows(service, site.origin() + "/watch/nothing").empty());
    EXPECT_TRUE(tool_rows(service, site.origin() + "/no/such/page").empty());

    const HttpReply as_json =
        http_get(service.port(), "/parse.json?kw=" + site.origin() + "/watch/video");
    ASSERT_EQ(as_json.status, 200);
    const json answer = json::parse(as_json.body);
    EXPECT_EQ(answer["outcome"], "ok");
    EXPECT_NE(answer["title"].get<std::string>().find("Test clip"), std::string::npos);
    ASSERT_EQ(answer["addresses"].size(), 3u);
    EXPECT_EQ(answer["addresses"][0]["url"], media + "clip-1080.mp4");
    EXPECT_EQ(answer["addresses"][0]["ext"], "mp4");
    EXPECT_EQ(answer["addresses"][0]["http_headers"]["Referer"], site.origin() + "/watch/video");
    EXPECT_FALSE(answer["addresses"][0]["http_headers"]["User-Agent"].get<std::string>().empty());

    const json health = json::parse(http_get(service.port(), "/healthz").body);
    EXPECT_NE(health["resolver"].get<std::string>().find("yt-dlp"), std::string::npos);
}

// ---- With the stand-in resolver ------------------------------------------------------------

TEST(Service, HandsTheWatchAddressOnAsTheToolSentIt) {
    const ServiceProcess service(fake());
    struct Case {
        std::string typed;  // what the user typed into the tool
        std::string resolved;
    };
    const Case cases[] = {
        // The address's own ? & = % and even "kw=" arrive unencoded and stay its own.
        {"http://fake.test/echo?v=1&t=2&kw=3?x=%41&y",
         "http://fake.test/echo?v=1&t=2&kw=3?x=%41&y"},
        {"https://fake.test/echo/a=b", "https://fake.test/echo/a=b"},
        {"fake.test/echo?a=b", "http://fake.test/echo?a=b"},
        {"HTTP://fake.test/echo", "http://fake.test/echo"},
        {"  http://fake.test/echo  ", "http://fake.test/echo"},
        // Typed in code page 936 with a space: the HTTP client escapes those bytes.
        {"http://fake.test/echo/\xD6\xD0 \xCE\xC4", "http://fake.test/echo/%D6%D0%20%CE%C4"},
        // Encoded as a whole, as another client might send it.
        {"http%3A%2F%2Ffake.test%2Fecho%3Fv%3D1%26t%3D2", "http://fake.test/echo?v=1&t=2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tool_rows(service, c.typed), std::vector<std::string>{c.resolved}) << c.typed;
    }
}

TEST(Service, RendersWhatTheResolverFoundForTheTool) {
    const ServiceProcess service(fake());
    const HttpReply page = http_get(service.port(), "/parse.php?kw=http://fake.test/formats",
                                    "Accept-Encoding: gzip, deflate\r\n");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(page.header("Content-Type"), "text/html; charset=GBK");
    EXPECT_EQ(page.header("Content-Encoding"), "");
    // Awkward bytes are escaped, the repeated address is listed once, parts come in order.
    const std::vector<std::string> expected = {
        "http://media.test/a%20b%22c&d=%E4%B8%AD.mp4?x=%3Cy%3E",
        "http://media.test/one-low.mp4",
        "http://media.test/two.flv?a=1&b=%41",
    };
    EXPECT_EQ(tool_rows_of_page(page.body), expected);
    EXPECT_EQ(tool_rows(service, "http://fake.test/formats"), expected);
    // The title: markup escaped, what code page 936 lacks referenced, the rest in GBK.
    EXPECT_NE(page.body.find("<h1>Clip &lt;a href=&quot;x&quot;&gt;&#9731; &#128512; &amp; "
                             "\xD6\xD0\xCE\xC4</h1>"),
              std::string::npos);
    EXPECT_NE(page.body.find(">\xB5\xDA"
                             "2\xB6\xCE flv only</a>"),
              std::string::npos);  // 第2段

    const json answer =
        json::parse(http_get(service.port(), "/parse.json?kw=http://fake.test/formats").body);
    ASSERT_EQ(answer["addresses"].size(), 3u);
    EXPECT_EQ(answer["addresses"][0]["url"], "http://media.test/a b\"c&d=中.mp4?x=<y>");
    EXPECT_EQ(answer["addresses"][0]["size"], 3 * 1024 * 1024);
    EXPECT_EQ(answer["addresses"][2]["part"], 2);
    EXPECT_EQ(answer["addresses"][2]["http_headers"]["Referer"], "http://watch.test/");
}

TEST(Service, RefusesTargetsItMustNotResolve) {
    struct Case {
        std::string kw;
        int status;
    };
    const std::string longest = "http://fake.test/echo?" + std::string(8192 - 22, 'a');
    ASSERT_EQ(longest.size(), 8192u);
    const Case open_cases[] = {
        {"file:///etc/passwd", 403},
        {"FILE:///etc/passwd", 403},
        {"ftp://fake.test/echo", 403},
        {"javascript:alert(1)", 403},
        {"data:text/html,x", 403},
        {"", 400},
        {"%20", 400},
        {longest + "a", 414},
        {longest, 200},
        // Listening on loopback, the local user's own network may be resolved.
        {"http://127.0.0.1/echo", 200},
        {"http://10.1.2.3/echo", 200},
    };
    // Told to refuse private targets, as it is by default on a non-loopback address. Literal
    // addresses and "localhost" need no name server.
    const Case refusing_cases[] = {
        {"http://127.0.0.1/echo", 403},
        {"http://127.0.0.2:8080/echo", 403},
        {"http://localhost/echo", 403},
        {"http://[::1]/echo", 403},
        {"http://10.1.2.3/echo", 403},
        {"http://192.168.1.1/echo", 403},
        {"http://169.254.169.254/latest/meta-data/", 403},
        {"http://0.0.0.0/echo", 403},
        {"http://2130706433/echo", 403},
        {"http://user@127.0.0.1:80/echo", 403},
        {"http://8.8.8.8/echo", 200},  // public; the stand-in resolver connects nowhere
        {"file:///etc/passwd", 403},
    };
    const auto check = [](const std::vector<std::string>& args, const auto& cases) {
        const std::string resolves = fake_resolver_args_log();
        const ServiceProcess service(fake(args), {"QINGLAN_FAKE_LOG=" + resolves});
        int allowed = 0;
        for (const Case& c : cases) {
            const HttpReply reply = http_get(service.port(), "/parse.php?kw=" + c.kw);
            EXPECT_EQ(reply.status, c.status) << c.kw;
            EXPECT_TRUE(has_both_markers(reply.body)) << c.kw;
            EXPECT_EQ(tool_rows_of_page(reply.body).size(), c.status == 200 ? 1u : 0u) << c.kw;
            allowed += c.status == 200 ? 1 : 0;
        }
        // A refused target never reaches a resolver.
        EXPECT_EQ(read_resolve_log(resolves).started, allowed);
    };
    check({}, open_cases);
    check({"--refuse-private-targets"}, refusing_cases);

    const ServiceProcess service(fake());
    EXPECT_EQ(http_get(service.port(), "/parse.php").status, 400);
    EXPECT_EQ(http_get(service.port(), "/parse.php?x=1").status, 400);
    // Far over the limit: refused without being kept.
    const HttpReply huge =
        http_get(service.port(), "/parse.php?kw=http://fake.test/" + std::string(200'000, 'a'));
    EXPECT_EQ(huge.status, 414);
    EXPECT_TRUE(has_both_markers(huge.body));
}

TEST(Service, OnLoopbackRefusesWhatWebPagesSendItForOtherSites) {
    const std::string resolves = fake_resolver_args_log();
    const ServiceProcess service(fake(), {"QINGLAN_FAKE_LOG=" + resolves});
    const std::string port = std::to_string(service.port());
    struct Case {
        std::string headers;
        int status;
    };
    const Case cases[] = {
        {"Sec-Fetch-Site: cross-site\r\n", 403},
        {"Sec-Fetch-Site: same-site\r\n", 403},
        {"Host: rebound.example:" + port + "\r\n", 403},
        {"Host: rebound.example:" + port + "\r\nSec-Fetch-Site: same-origin\r\n", 403},
        {"Sec-Fetch-Site: none\r\n", 200},
        {"Host: localhost:" + port + "\r\n", 200},
        {"", 200},
    };
    int answered = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(http_get(service.port(), "/parse.php?kw=http://fake.test/echo", c.headers).status,
                  c.status)
            << c.headers;
        answered += c.status == 200 ? 1 : 0;
    }
    // A refused request never reaches a resolver, and the tool itself is answered.
    EXPECT_EQ(read_resolve_log(resolves).started, answered);
    EXPECT_EQ(tool_rows(service, "http://fake.test/echo"),
              std::vector<std::string>{"http://fake.test/echo"});

    // Refusing private targets, as behind a proxy, it answers whatever Host the proxy names.
    const ServiceProcess refusing(fake({"--refuse-private-targets"}));
    EXPECT_EQ(
        http_get(refusing.port(), "/parse.php?kw=http://8.8.8.8/echo", "Host: qinglan.example\r\n")
            .status,
        200);
}

// Connects to the service and sends what `next_bytes` gives, pausing `pause` after each piece,
// until the service closes the connection. How long that took, with what came back; nothing
// when the connection was still open after `limit`.
struct Closing {
    std::chrono::milliseconds after;
    std::string received;
};
std::optional<Closing> time_until_closed(std::uint16_t port,
                                         const std::function<std::string()>& next_bytes,
                                         std::chrono::milliseconds pause,
                                         std::chrono::seconds limit) {
    const int peer = testing::connect_to_loopback(port);
    if (peer < 0) {
        return std::nullopt;
    }
    const auto started = Clock::now();
    std::string received;
    std::optional<Closing> closing;
    while (!closing && Clock::now() - started < limit) {
        const std::string bytes = next_bytes();
        bool closed = !bytes.empty() && send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0;
        pollfd entry{peer, POLLIN, 0};
        while (!closed && poll(&entry, 1, static_cast<int>(pause.count())) > 0) {
            char buffer[4096];
            const ssize_t count = recv(peer, buffer, sizeof(buffer), 0);
            closed = count <= 0;
            received.append(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
        }
        if (closed) {
            closing = Closing{
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started),
                received};
        }
    }
    close(peer);
    return closing;
}

TEST(Service, EndsConnectionsThatSendWithoutEndOrTooSlowly) {
    const ServiceProcess service(fake());
    struct Case {
        const char* what;
        std::function<std::string()> next_bytes;
        std::chrono::milliseconds pause;
        std::chrono::seconds within;
    };
    const std::string head = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    bool head_sent = false;
    const Case cases[] = {
        {"empty lines without end", [] { return std::string(64 * 1024, '\n'); }, 0ms, 10s},
        {"header lines without end",
         [&] { return std::exchange(head_sent, true) ? std::string(4096, 'x') + ": y\r\n" : head; },
         0ms, 10s},
        // A byte every second: each wait is short, but the whole head has a deadline.
        {"a request line one byte a second", [] { return std::string("G"); }, 1000ms, 25s},
    };
    for (const Case& c : cases) {
        const std::optional<Closing> closing =
            time_until_closed(service.port(), c.next_bytes, c.pause, c.within + 5s);
        ASSERT_TRUE(closing.has_value()) << c.what << ": still open";
        EXPECT_LE(closing->after, c.within) << c.what;
    }
    // Still serving.
    EXPECT_EQ(http_get(service.port(), "/healthz").status, 200);
}

TEST(Service, RefusesARequestBodyUnread) {
    const ServiceProcess service(fake());
    bool sent = false;
    const std::optional<Closing> closing = time_until_closed(
        service.port(),
        [&] {
            return std::exchange(sent, true) ? std::string()
                                             : "POST /parse.php?kw=x HTTP/1.1\r\nHost: "
                                               "127.0.0.1\r\nContent-Length: 50000000000\r\n\r\n";
        },
        500ms, 15s);
    ASSERT_TRUE(closing.has_value());
    EXPECT_TRUE(closing->received.starts_with("HTTP/1.1 413")) << closing->received;
    EXPECT_LT(closing->after, 10s);
}

// The sockets open in the process with the given pid, other than its standard streams.
std::vector<std::string> sockets_beyond_standard_streams(pid_t pid) {
    std::vector<std::string> sockets;
    const std::string directory = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const int fd = std::atoi(entry.path().filename().c_str());
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (fd > 2 && target.starts_with("socket:")) {
            sockets.push_back(std::to_string(fd) + " -> " + target);
        }
    }
    return sockets;
}

std::vector<pid_t> children_of(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (pid <= 0 || !std::getline(stat, line) || line.rfind(')') == std::string::npos) {
            continue;
        }
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        char state = 0;
        pid_t ppid = 0;
        fields >> state >> ppid;
        if (ppid == parent) {
            children.push_back(pid);
        }
    }
    return children;
}

TEST(Service, WorkersStartedWhileClientsAreConnectedHoldNoneOfTheirSockets) {
    const ServiceProcess service(fake());
    // A client that keeps its connection open, and a worker replaced meanwhile.
    const int idle = testing::connect_to_loopback(service.port());
    ASSERT_GE(idle, 0);
    http_get(service.port(), "/parse.php?kw=http://fake.test/crash");
    ASSERT_EQ(http_get(service.port(), "/parse.php?kw=http://fake.test/echo").status, 200);
    // The crashed worker's replacement is started in the background.
    const auto deadline = Clock::now() + 10s;
    while (children_of(service.pid()).size() < 2 && Clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    const std::vector<pid_t> workers = children_of(service.pid());
    ASSERT_EQ(workers.size(), 2u);
    for (const pid_t worker : workers) {
        EXPECT_EQ(sockets_beyond_standard_streams(worker), std::vector<std::string>{})
            << "worker " << worker;
    }
    close(idle);
}

TEST(Service, KillsAndReplacesWorkersThatHangOrDieAndAnswersEveryRequest) {
    struct Case {
        const char* path;
        int status;
        const char* outcome;
    };
    const Case cases[] = {
        {"/hang", 504, "timeout"},    {"/crash", 502, "crashed"},
        {"/garbage", 502, "crashed"}, {"/unsupported", 422, "unsupported"},
        {"/failed", 502, "failed"},
    };
    const ServiceProcess service(fake({"--workers", "1", "--time-limit", "1"}));
    for (const Case& c : cases) {
        const auto start = Clock::now();
        const HttpReply reply =
            http_get(service.port(), std::string("/parse.php?kw=http://fake.test") + c.path);
        EXPECT_EQ(reply.status, c.status) << c.path;
        EXPECT_LT(seconds_since(start), 4.0) << c.path;
        EXPECT_TRUE(has_both_markers(reply.body)) << c.path;
        EXPECT_TRUE(tool_rows_of_page(reply.body).empty()) << c.path;
        const json answer = json::parse(
            http_get(service.port(), std::string("/parse.json?kw=http://fake.test") + c.path).body);
        EXPECT_EQ(answer["outcome"], c.outcome) << c.path;
        // The next request is served, by a new worker where the old one had to go.
        EXPECT_EQ(tool_rows(service, "http://fake.test/echo"),
                  std::vector<std::string>{"http://fake.test/echo"})
            << c.path;
    }
}

TEST(Service, AnswersTwentyClientsAtOnceWithAtMostTheWorkerCountResolving) {
    const std::string resolves = fake_resolver_args_log();
    const ServiceProcess service(fake({"--workers", "2", "--wait-limit", "60"}),
                                 {"QINGLAN_FAKE_LOG=" + resolves});
    std::vector<std::thread> clients;
    std::vector<HttpReply> replies(20);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        clients.emplace_back([&, i] {
            replies[i] = http_get(
                service.port(), "/parse.php?kw=http://fake.test/sleep/150?n=" + std::to_string(i));
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    for (std::size_t i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i].status, 200) << i;
        EXPECT_EQ(tool_rows_of_page(replies[i].body),
                  std::vector<std::string>{"http://fake.test/sleep/150?n=" + std::to_string(i)});
    }
    const ResolveLog log = read_resolve_log(resolves);
    EXPECT_EQ(log.started, 20);
    EXPECT_EQ(log.most_at_once, 2);
}

TEST(Service, AnswersBusyWithinTheWaitLimit) {
    const std::string resolves = fake_resolver_args_log();
    const ServiceProcess service(fake({"--workers", "1", "--wait-limit", "0.5"}),
                                 {"QINGLAN_FAKE_LOG=" + resolves});
    std::thread occupant([&] {
        EXPECT_EQ(http_get(service.port(), "/parse.php?kw=http://fake.test/sleep/3000").status,
                  200);
    });
    const auto until = Clock::now() + 10s;
    while (read_resolve_log(resolves).started == 0 && Clock::now() < until) {
        std::this_thread::sleep_for(10ms);
    }
    const auto start = Clock::now();
    const HttpReply busy = http_get(service.port(), "/parse.php?kw=http://fake.test/echo");
    const double took = seconds_since(start);
    occupant.join();
    EXPECT_EQ(busy.status, 503);
    EXPECT_GE(took, 0.45);
    EXPECT_LT(took, 1.5);
    EXPECT_TRUE(has_both_markers(busy.body));
    EXPECT_TRUE(tool_rows_of_page(busy.body).empty());
    EXPECT_EQ(read_resolve_log(resolves).started, 1);
}

TEST(Service, ReportsHealthAndLogsOneLinePerRequest) {
    {
        const ServiceProcess starting(fake({"--time-limit", "0.5"}), {"QINGLAN_FAKE_STARTUP=never"},
                                      false);
        const HttpReply health = http_get(starting.port(), "/healthz");
        EXPECT_EQ(health.status, 503);
        EXPECT_EQ(json::parse(health.body)["ready"], false);
        // A request still gets its answer, at the time limit.
        EXPECT_EQ(http_get(starting.port(), "/parse.php?kw=http://fake.test/echo").status, 504);
    }
    const ServiceProcess service(fake());
    const HttpReply health = http_get(service.port(), "/healthz");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(json::parse(health.body)["ready"], true);
    EXPECT_EQ(http_get(service.port(), "/nowhere").status, 404);
    http_get(service.port(), "/parse.php?kw=http://fake.test/echo?a=1&b=\"2\"");
    http_get(service.port(), "/parse.php?kw=file:///etc/passwd");

    std::vector<std::string> lines;
    std::istringstream log(service.log());
    for (std::string line; std::getline(log, line);) {
        lines.push_back(line);
    }
    const auto parse_lines = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find(" GET /parse.php ") != std::string::npos;
    });
    EXPECT_EQ(parse_lines, 2);
    // Every line is a request's line: time, request, outcome, status, duration.
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("Z GET /"), 23u) << line;
        EXPECT_NE(line.find(" outcome="), std::string::npos) << line;
        EXPECT_NE(line.find(" duration_ms="), std::string::npos) << line;
    }
    const std::string all = service.log();
    EXPECT_NE(all.find("GET /parse.php kw=\"http://fake.test/echo?a=1&b=\\x222\\x22\" outcome=ok "
                       "addresses=1 status=200 duration_ms="),
              std::string::npos)
        << all;
    EXPECT_NE(
        all.find("GET /parse.php kw=\"file:///etc/passwd\" outcome=refused-scheme status=403"),
        std::string::npos)
        << all;
    EXPECT_NE(all.find("GET /nowhere outcome=http-404 status=404"), std::string::npos) << all;
}

}  // namespace
}  // namespace qinglan::service
