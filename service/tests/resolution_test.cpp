// Reading a worker's reply into addresses, and the JSON answer made from them.
#include "service/resolution.h"

#include <gtest/gtest.h>

namespace qinglan::service {
namespace {

using nlohmann::json;

std::vector<std::string> urls_of(const Resolution& resolution) {
    std::vector<std::string> urls;
    for (const MediaAddress& address : resolution.addresses) {
        urls.push_back(address.url);
    }
    return urls;
}

TEST(ResolutionFromReply, ListsPartAfterPartInOrderWithoutRepeats) {
    const json reply = json::parse(R"({
        "ok": true, "title": "",
        "parts": [
            {"title": "Part one", "formats": [
                {"url": "http://m/1-best.mp4", "format_id": "hd", "ext": "mp4",
                 "resolution": "1280x720", "filesize": 1000,
                 "http_headers": {"Referer": "http://w/", "X-Number": 5}},
                {"url": "http://m/1-low.mp4", "filesize_approx": 250.4},
                {"url": "http://m/1-best.mp4", "format_id": "again"},
                {"format_id": "no url"},
                "not an object"
            ]},
            {"title": "Part two", "formats": [
                {"url": "http://m/1-low.mp4"},
                {"url": "http://m/2.mp4", "filesize": "big"}
            ]},
            {"title": "no formats"}
        ]})");
    const Resolution resolution = resolution_from_reply(reply);
    EXPECT_EQ(resolution.outcome, Outcome::ok);
    EXPECT_EQ(resolution.title, "Part one");  // the first part's title when there is no other
    EXPECT_EQ(
        urls_of(resolution),
        (std::vector<std::string>{"http://m/1-best.mp4", "http://m/1-low.mp4", "http://m/2.mp4"}));
    const MediaAddress& best = resolution.addresses[0];
    EXPECT_EQ(best.format_id, "hd");
    EXPECT_EQ(best.resolution, "1280x720");
    EXPECT_EQ(best.size, 1000);
    EXPECT_FALSE(best.size_is_estimate);
    EXPECT_EQ(best.part, 1);
    EXPECT_EQ(best.http_headers, (std::map<std::string, std::string>{{"Referer", "http://w/"}}));
    EXPECT_EQ(resolution.addresses[1].size, 250);
    EXPECT_TRUE(resolution.addresses[1].size_is_estimate);
    EXPECT_EQ(resolution.addresses[2].part, 2);
    EXPECT_FALSE(resolution.addresses[2].size.has_value());
}

TEST(ResolutionFromReply, ListsOnlyAddressesWithADownloadScheme) {
    const json reply = json::parse(R"json({
        "ok": true, "title": "t",
        "parts": [{"formats": [
            {"url": "javascript:alert(1)"},
            {"url": "data:video/mp4;base64,AAAA"},
            {"url": "file:///etc/passwd"},
            {"url": "//m/no-scheme.mp4"},
            {"url": "HTTPS://m/a.mp4"},
            {"url": "ftp://m/b.flv"},
            {"url": "http://m/c.m3u8"}
        ]}]})json");
    EXPECT_EQ(urls_of(resolution_from_reply(reply)),
              (std::vector<std::string>{"HTTPS://m/a.mp4", "ftp://m/b.flv", "http://m/c.m3u8"}));
    const json only_scripts =
        json::parse(R"json({"ok": true, "parts": [{"formats": [{"url": "javascript:x"}]}]})json");
    EXPECT_EQ(resolution_from_reply(only_scripts).outcome, Outcome::unsupported);
}

TEST(ResolutionFromReply, NumbersPartsOnlyForAVideoInSeveralParts) {
    const Resolution resolution = resolution_from_reply(json::parse(
        R"({"ok": true, "title": "One", "parts": [{"formats": [{"url": "http://m/a"}]}]})"));
    ASSERT_EQ(resolution.addresses.size(), 1u);
    EXPECT_EQ(resolution.addresses[0].part, 0);
    EXPECT_EQ(resolution.title, "One");
}

TEST(ResolutionFromReply, MapsFailuresAndMalformedReplies) {
    struct Case {
        const char* reply;
        Outcome outcome;
    };
    const Case cases[] = {
        {R"({"ok": false, "kind": "unsupported", "message": "Unsupported URL"})",
         Outcome::unsupported},
        {R"({"ok": false, "kind": "refused"})", Outcome::refused_private},
        {R"({"ok": false, "kind": "not_http"})", Outcome::refused_scheme},
        {R"({"ok": false, "kind": "failed", "message": "HTTP Error 404"})", Outcome::failed},
        {R"({"ok": false})", Outcome::failed},
        {R"({"ok": true, "parts": []})", Outcome::unsupported},
        {R"({"ok": true, "parts": [{"formats": [{"url": ""}]}]})", Outcome::unsupported},
        {R"({"ok": true})", Outcome::crashed},
        {R"({"ok": "yes", "parts": []})", Outcome::crashed},
        {R"({"parts": []})", Outcome::crashed},
        {R"([1, 2])", Outcome::crashed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(resolution_from_reply(json::parse(c.reply)).outcome, c.outcome) << c.reply;
    }
    EXPECT_EQ(
        resolution_from_reply(json::parse(R"({"ok": false, "message": "HTTP Error 404"})")).detail,
        "HTTP Error 404");
}

TEST(ResolutionToJson, CarriesEveryAddressWithItsDetails) {
    Resolution resolution;
    resolution.outcome = Outcome::ok;
    resolution.title = "中文 title";
    MediaAddress address;
    address.url = "http://m/a b.mp4";
    address.format_id = "hd";
    address.format = "hd - 1280x720";
    address.ext = "mp4";
    address.resolution = "1280x720";
    address.size = 42;
    address.part = 2;
    address.http_headers = {{"Referer", "http://w/"}};
    resolution.addresses = {address, MediaAddress{"http://m/b", {}, {}, {}, {}, {}, false, 0, {}}};
    const json answer = resolution_to_json(resolution, "共找到 2 个地址。");
    EXPECT_EQ(answer["outcome"], "ok");
    EXPECT_EQ(answer["status"], 200);
    EXPECT_EQ(answer["title"], "中文 title");
    EXPECT_EQ(answer["message"], "共找到 2 个地址。");
    ASSERT_EQ(answer["addresses"].size(), 2u);
    const json& first = answer["addresses"][0];
    EXPECT_EQ(first["url"], "http://m/a b.mp4");  // raw, not encoded for a page
    EXPECT_EQ(first["format_id"], "hd");
    EXPECT_EQ(first["format"], "hd - 1280x720");
    EXPECT_EQ(first["ext"], "mp4");
    EXPECT_EQ(first["resolution"], "1280x720");
    EXPECT_EQ(first["size"], 42);
    EXPECT_EQ(first["part"], 2);
    EXPECT_EQ(first["http_headers"]["Referer"], "http://w/");
    const json& second = answer["addresses"][1];
    EXPECT_TRUE(second["size"].is_null());
    EXPECT_TRUE(second["resolution"].is_null());
    EXPECT_FALSE(second.contains("part"));
}

TEST(Outcome, HasANameAndAStatusForOtherClients) {
    struct Case {
        Outcome outcome;
        const char* name;
        int status;
    };
    const Case cases[] = {
        {Outcome::ok, "ok", 200},
        {Outcome::unsupported, "unsupported", 422},
        {Outcome::failed, "failed", 502},
        {Outcome::crashed, "crashed", 502},
        {Outcome::timed_out, "timeout", 504},
        {Outcome::busy, "busy", 503},
        {Outcome::refused_scheme, "refused-scheme", 403},
        {Outcome::refused_private, "refused-private", 403},
        {Outcome::too_long, "too-long", 414},
        {Outcome::no_address, "no-address", 400},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(outcome_name(c.outcome), c.name);
        EXPECT_EQ(outcome_status(c.outcome), c.status) << c.name;
    }
}

}  // namespace
}  // namespace qinglan::service
