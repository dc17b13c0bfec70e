// The result page, read back the way the tool reads it: the lookup library's own extraction
// must give exactly the addresses, in order, for every page the service renders.
#include "service/result_page.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include "lookup/address_extraction.h"
#include "lookup/tests/memory_address_list.h"
#include "service/gbk.h"

namespace qinglan::service {
namespace {

// The markers as the tool has them, written out byte by byte.
constexpr std::string_view kToolFrontMarker =
    "\x3C\x62\x72\x3E\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA";
constexpr std::string_view kToolBackMarker = "<td align=left class=\"mn STYLE4\">\x0D";

MediaAddress address_of(std::string url) {
    MediaAddress address;
    address.url = std::move(url);
    return address;
}

Resolution ok_with(std::vector<MediaAddress> addresses, std::string title = "A clip") {
    Resolution resolution;
    resolution.outcome = Outcome::ok;
    resolution.title = std::move(title);
    resolution.addresses = std::move(addresses);
    return resolution;
}

// What the tool lists for a page: the rows that the lookup's extraction gives.
std::vector<std::string> rows_read_by_the_tool(const std::string& page) {
    qinglan::testing::MemoryAddressList list;
    fill_address_list(text_between(Text(page), Text(kToolFrontMarker), Text(kToolBackMarker)),
                      list);
    std::vector<std::string> rows;
    for (const Text& row : list.rows) {
        rows.emplace_back(row.bytes());
    }
    return rows;
}

std::size_t count_of(std::string_view text, std::string_view sought) {
    std::size_t count = 0;
    for (std::size_t at = text.find(sought); at != text.npos; at = text.find(sought, at + 1)) {
        ++count;
    }
    return count;
}

// The page is strict GBK: iconv reads all of it back.
bool is_valid_gbk(const std::string& page) {
    iconv_t descriptor = iconv_open("UTF-8", "GBK");
    std::string in = page;
    std::string out(page.size() * 4 + 16, '\0');
    char* in_at = in.data();
    std::size_t in_left = in.size();
    char* out_at = out.data();
    std::size_t out_left = out.size();
    const std::size_t result = iconv(descriptor, &in_at, &in_left, &out_at, &out_left);
    iconv_close(descriptor);
    return result != static_cast<std::size_t>(-1) && in_left == 0;
}

TEST(ResultPage, UsesTheToolsMarkersByteForByte) {
    EXPECT_EQ(kFrontMarker, kToolFrontMarker);
    EXPECT_EQ(kBackMarker, kToolBackMarker);
    EXPECT_EQ(utf8_to_gbk("<br>下载地址："), kToolFrontMarker);
    EXPECT_EQ(kToolBackMarker.size(), 34u);

    const std::string page = render_result_page(ok_with({address_of("http://m/a.mp4")}), "");
    ASSERT_EQ(count_of(page, kToolFrontMarker), 1u);
    ASSERT_EQ(count_of(page, kToolBackMarker), 1u);
    const std::size_t front = page.find(kToolFrontMarker);
    const std::size_t anchor = page.find("<a href=\"http://m/a.mp4\" target=\"_blank\">");
    const std::size_t back = page.find(kToolBackMarker);
    EXPECT_LT(front, anchor);
    EXPECT_LT(anchor, back);
    EXPECT_TRUE(is_valid_gbk(page));
}

TEST(ResultPage, WritesAddressesRawExceptForBytesThatBreakTheAnchor) {
    struct Case {
        std::string url;
        std::string written;
    };
    const Case cases[] = {
        {"http://m/v.mp4?a=1&b=2&c=%41#t=3", "http://m/v.mp4?a=1&b=2&c=%41#t=3"},
        {"http://m/a b\"c&d=中.mp4?x=<y>", "http://m/a%20b%22c&d=%E4%B8%AD.mp4?x=%3Cy%3E"},
        {"http://m/\t\r\n\x7F", "http://m/%09%0D%0A%7F"},
        {"http://m/it's~fine!*()[]{}|\\^`", "http://m/it's~fine!*()[]{}|\\^`"},
        {"http://m/&amp;", "http://m/&amp;"},  // never HTML-escaped: the tool copies these bytes
    };
    for (const Case& c : cases) {
        EXPECT_EQ(anchor_address(c.url), c.written) << c.url;
    }
}

TEST(ResultPage, TheToolReadsBackExactlyTheAddressesInOrder) {
    const std::vector<std::vector<std::string>> address_lists = {
        {"http://m/only.mp4"},
        {"http://m/720.mp4", "http://m/360.mp4", "https://cdn.m/a.flv?k=v&sig=%2F%3D"},
        // Bytes that would end an address early, start another row or hide a '<' behind a
        // GBK lead byte.
        {"http://m/a b\"c&d=中.mp4", "http://m/<a href=\"x\">", "http://m/\xD6<a",
         "http://m/\" target=\"_blank\"x"},
        // Text that merely looks like the page's own markup.
        {"http://m/%3Ca%20href", "http://m/</a><br>", "http://m/a>b"},
    };
    for (const auto& urls : address_lists) {
        std::vector<MediaAddress> addresses;
        std::vector<std::string> expected;
        for (const std::string& url : urls) {
            addresses.push_back(address_of(url));
            expected.push_back(anchor_address(url));
        }
        const std::string page = render_result_page(ok_with(addresses), "共找到地址。");
        EXPECT_EQ(rows_read_by_the_tool(page), expected) << page;
        EXPECT_TRUE(is_valid_gbk(page)) << page;
    }
}

TEST(ResultPage, MarkupInTitlesAndLinkTextsAddsNoRow) {
    MediaAddress address = address_of("http://m/a.mp4");
    address.format_id = "<a href=\"evil\">hd</a><abbr>";
    address.ext = "mp4";
    address.resolution = "1280x720 ☃";
    Resolution resolution = ok_with({address, address_of("http://m/b.mp4")},
                                    "<a href=\"x\">Title</a> <abbr>☃😀 中文 &amp; 한국어");
    const std::string page = render_result_page(resolution, "消息 <a>");
    EXPECT_EQ(rows_read_by_the_tool(page),
              (std::vector<std::string>{"http://m/a.mp4", "http://m/b.mp4"}));
    // The title is escaped and what code page 936 lacks is a character reference.
    EXPECT_NE(page.find("&lt;a href=&quot;x&quot;&gt;Title&lt;/a&gt; &lt;abbr&gt;&#9731;&#128512; "
                        "\xD6\xD0\xCE\xC4 &amp;amp; &#54620;&#44397;&#50612;"),
              std::string::npos);
    EXPECT_NE(page.find("mp4 &lt;a href=&quot;evil&quot;&gt;hd&lt;/a&gt;&lt;abbr&gt; 1280x720 "
                        "&#9731;</a>"),
              std::string::npos);
    EXPECT_EQ(count_of(page, "<a"), 2u);
    EXPECT_TRUE(is_valid_gbk(page));
}

TEST(ResultPage, NothingResolvedGivesBothMarkersNoRowAndAMessageOutsideTheBlock) {
    const Outcome outcomes[] = {
        Outcome::unsupported,     Outcome::failed,   Outcome::crashed,
        Outcome::timed_out,       Outcome::busy,     Outcome::refused_scheme,
        Outcome::refused_private, Outcome::too_long, Outcome::no_address};
    for (const Outcome outcome : outcomes) {
        Resolution resolution;
        resolution.outcome = outcome;
        resolution.detail = "HTTP Error 404 <a>";
        // Addresses left over from elsewhere are not listed unless the outcome is ok.
        resolution.addresses = {address_of("http://m/stale.mp4")};
        const std::string message = outcome_message(resolution, std::chrono::milliseconds(1500));
        const std::string page = render_result_page(resolution, message);
        EXPECT_TRUE(rows_read_by_the_tool(page).empty()) << outcome_name(outcome);
        const std::size_t front = page.find(kToolFrontMarker);
        const std::size_t back = page.find(kToolBackMarker);
        ASSERT_NE(front, std::string::npos) << outcome_name(outcome);
        ASSERT_NE(back, std::string::npos) << outcome_name(outcome);
        EXPECT_EQ(
            page.substr(front + kToolFrontMarker.size(), back - front - kToolFrontMarker.size()),
            "\r\n</td></tr>\r\n<tr>")
            << outcome_name(outcome);
        const std::size_t shown = page.find("<p>" + gbk_html(message) + "</p>");
        EXPECT_LT(shown, front) << outcome_name(outcome);
        EXPECT_TRUE(is_valid_gbk(page)) << outcome_name(outcome);
    }
}

TEST(ResultPage, MessagesSayWhatHappened) {
    Resolution resolution;
    resolution.outcome = Outcome::timed_out;
    EXPECT_EQ(outcome_message(resolution, std::chrono::milliseconds(1500)),
              "解析超时（超过 1.5 秒），请稍后再试。");
    resolution.outcome = Outcome::failed;
    resolution.detail = "HTTP Error 404";
    EXPECT_EQ(outcome_message(resolution, {}), "解析失败：HTTP Error 404");
    resolution = ok_with({address_of("http://m/a"), address_of("http://m/b")});
    EXPECT_EQ(outcome_message(resolution, {}), "共找到 2 个地址。");
}

TEST(ResultPage, LinkTextsNameFormatResolutionAndSize) {
    struct Case {
        MediaAddress address;
        const char* text;
    };
    const auto with = [](int part, std::string ext, std::string id, std::string resolution,
                         std::optional<std::int64_t> size, bool estimate) {
        MediaAddress address;
        address.part = part;
        address.ext = std::move(ext);
        address.format_id = std::move(id);
        address.resolution = std::move(resolution);
        address.size = size;
        address.size_is_estimate = estimate;
        return address;
    };
    const Case cases[] = {
        {with(0, "mp4", "hd", "1280x720", 3 * 1024 * 1024 + 104858, false),
         "mp4 hd 1280x720 3.1 MB"},
        {with(2, "flv", "flv", "", std::nullopt, false), "第2段 flv"},
        {with(0, "mp4", "720p", "720p", 1536, true), "mp4 720p 约 1.5 KB"},
        {with(0, "m4a", "", "audio only", 999, false), "m4a audio only 999 B"},
        {with(0, "webm", "", "", 5LL * 1024 * 1024 * 1024, false), "webm 5.00 GB"},
        {with(0, "", "", "", std::nullopt, false), "下载"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(link_text(c.address), c.text);
    }
}

}  // namespace
}  // namespace qinglan::service
