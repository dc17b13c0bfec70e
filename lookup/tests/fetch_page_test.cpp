// fetch_page against a real HTTP server on 127.0.0.1. The same tests run against libcurl natively
// and against the Windows HTTP component under Wine.
#include "lookup/fetch_page.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "lookup/address_extraction.h"
#include "lookup/tests/memory_address_list.h"
#include "tests/support/loopback_server.h"

namespace qinglan {
namespace {

using testing::Connection;
using testing::http_response;
using testing::LoopbackServer;
using testing::RecordedRequest;

std::string as_string(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string host_of(const LoopbackServer& server) {
    return "127.0.0.1:" + std::to_string(server.port());
}

TEST(CompleteWithHttpScheme, AddsTheSchemeUnlessTheFirstSevenBytesAreIt) {
    struct Case {
        const char* given;
        const char* requested;
        bool replaced;
    };
    const Case cases[] = {
        {"http://host/x", "http://host/x", false},
        {"HTTP://HOST/X", "HTTP://HOST/X", false},
        {"hTtP://h", "hTtP://h", false},
        {"http://", "http://", false},
        {"host/path", "http://host/path", true},
        {"https://host/", "http://https://host/", true},
        {"", "http://", true},
        {"http:/", "http://http:/", true},
        {"\xCF\xC2http://", "http://\xCF\xC2http://", true},
        {"http:\\\\h", "http://http:\\\\h", true},
    };
    for (const Case& c : cases) {
        Text address = c.given;
        EXPECT_EQ(complete_with_http_scheme(address), c.replaced) << c.given;
        EXPECT_EQ(address.bytes(), c.requested) << c.given;
    }
}

TEST(FetchPage, CompletesTheCallersAddressAndRequestsIt) {
    LoopbackServer server = LoopbackServer::serving("page");
    Text without_scheme = host_of(server) + "/watch?id=1";
    EXPECT_EQ(as_string(fetch_page(without_scheme)), "page");
    EXPECT_EQ(without_scheme.bytes(), "http://" + host_of(server) + "/watch?id=1");

    Text capitals = "HTTP://" + host_of(server) + "/Watch";
    EXPECT_EQ(as_string(fetch_page(capitals)), "page");
    EXPECT_EQ(capitals.bytes(), "HTTP://" + host_of(server) + "/Watch");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].request_line, "GET /watch?id=1 HTTP/1.1");
    EXPECT_EQ(requests[1].request_line, "GET /Watch HTTP/1.1");
}

TEST(FetchPage, SendsTheAddressAsTypedEscapingOnlyWhatAUrlCannotCarry) {
    LoopbackServer server = LoopbackServer::serving("ok");
    Text address = server.origin() + "/parse.php?kw=http://v.example/a b\"<>\\^`{|}?&=/x#frag";
    fetch_page(address);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].request_line,
              "GET /parse.php?kw=http://v.example/a%20b%22%3C%3E%5C%5E%60%7B%7C%7D?&=/x HTTP/1.1");
}

#ifndef _WIN32
// Wine's component sends bytes that it cannot map as '?', decodes valid percent escapes and
// refuses a lone '%'; the portable client sends code-page-936 bytes as those very bytes and
// percent signs as typed.
TEST(FetchPage, SendsDoubleByteCharactersAsTheirOwnBytesAndPercentSignsAsTyped) {
    LoopbackServer server = LoopbackServer::serving("ok");
    Text address = server.origin() + "/parse.php?kw=\xCF\xC2\xD4\xD8\x01%41%zz%";
    fetch_page(address);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].request_line,
              "GET /parse.php?kw=%CF%C2%D4%D8%01%41%zz% HTTP/1.1");
}
#endif

TEST(FetchPage, ReturnsTheBodyWholeWhateverItsStatus) {
    const std::string with_zeros("a\0b\0\0c\xFF", 7);
    struct Case {
        const char* what;
        std::string response;
        std::string body;
    };
    const Case cases[] = {
        {"zero bytes", http_response(200, with_zeros), with_zeros},
        {"empty body", http_response(200, ""), ""},
        {"not found with a body", http_response(404, "missing page"), "missing page"},
        {"server error with a body", http_response(500, "oops"), "oops"},
        {"no length, ends at close", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil close",
         "until close"},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n",
         "abcde"},
    };
    for (const Case& c : cases) {
        LoopbackServer server(
            [&c](const RecordedRequest&, Connection& peer) { peer.send(c.response); });
        Text address = server.origin() + "/";
        EXPECT_EQ(as_string(fetch_page(address)), c.body) << c.what;
    }
}

TEST(FetchPage, FollowsARedirect) {
    LoopbackServer server([](const RecordedRequest& request, Connection& peer) {
        if (request.request_line.starts_with("GET /old ")) {
            peer.send(http_response(302, "moved", "Location: /new\r\n"));
        } else {
            peer.send(http_response(200, "new page"));
        }
    });
    Text address = server.origin() + "/old";
    EXPECT_EQ(as_string(fetch_page(address)), "new page");
}

TEST(FetchPage, AClosedPortGivesEmptyBytes) {
    std::string origin;
    {
        LoopbackServer gone = LoopbackServer::serving("");
        origin = gone.origin();
    }
    Text address = origin + "/parse.php?kw=x";
    EXPECT_TRUE(fetch_page(address).empty());
}

TEST(FetchPage, AnAddressWithoutAHostGivesEmptyBytes) {
    Text address = "";
    EXPECT_TRUE(fetch_page(address).empty());
    EXPECT_EQ(address.bytes(), "http://");
}

#ifndef _WIN32
// The Windows component keeps its own time limits; the portable client's are set here so that a
// silent server is given up on in about a second.
TEST(FetchPage, GivesUpOnAServerThatNeverAnswers) {
    LoopbackServer server([](const RecordedRequest&, Connection& peer) { peer.stall(); });
    FetchLimits limits;
    limits.stall_timeout = std::chrono::seconds(1);
    Text address = server.origin() + "/";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(fetch_page(address, limits).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(FetchPage, GivesUpOnABodyOverTheCap) {
    LoopbackServer server = LoopbackServer::serving(std::string(5000, 'x'));
    FetchLimits limits;
    limits.max_body_bytes = 4096;
    Text address = server.origin() + "/";
    EXPECT_TRUE(fetch_page(address, limits).empty());
    limits.max_body_bytes = 5000;
    EXPECT_EQ(fetch_page(address, limits).size(), 5000u);
}
#endif

TEST(ReadAddresses, AsksTheServiceWithTheTypedAddressAndListsTheAnchors) {
    const std::string page =
        "<html>\xB1\xEA\xCC\xE2<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA<br>"
        "<a href=\"http://cdn.example/v/1.flv\" target=\"_blank\">1</a><br>"
        "<a href=\"http://cdn.example/v/2.flv?k=\xCF\xC2\" target=\"_blank\">2</a>"
        "<td align=left class=\"mn STYLE4\">\r\n</html>";
    LoopbackServer server = LoopbackServer::serving(page);
    testing::MemoryAddressList list;
    list.rows = {"row of an earlier read"};
    read_addresses_from("http://" + host_of(server) + "/parse.php?kw=", "v.example/watch?id=7&t=1",
                        list);
    EXPECT_EQ(list.rows, (std::vector<Text>{"http://cdn.example/v/1.flv",
                                            "http://cdn.example/v/2.flv?k=\xCF\xC2"}));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].request_line,
              "GET /parse.php?kw=v.example/watch?id=7&t=1 HTTP/1.1");
}

TEST(ReadAddresses, AnEmptyAddressStillAsksAndAPageWithoutMarkersEmptiesTheList) {
    LoopbackServer server = LoopbackServer::serving("no markers here");
    testing::MemoryAddressList list;
    list.rows = {"old"};
    read_addresses_from(server.origin() + "/parse.php?kw=", "", list);
    EXPECT_TRUE(list.rows.empty());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].request_line, "GET /parse.php?kw= HTTP/1.1");
}

TEST(ReadAddresses, AFailedRequestEmptiesTheList) {
    std::string origin;
    {
        LoopbackServer gone = LoopbackServer::serving("");
        origin = gone.origin();
    }
    testing::MemoryAddressList list;
    list.rows = {"row of an earlier read", "another"};
    read_addresses_from(origin + "/parse.php?kw=", "v.example/watch?id=7", list);
    EXPECT_TRUE(list.rows.empty());
    EXPECT_EQ(list.calls, std::vector<std::string>{"clear_rows"});
}

}  // namespace
}  // namespace qinglan
