#include "lookup/address_extraction.h"

#include <gtest/gtest.h>

#include <string>

#include "lookup/service_hosts.h"
#include "lookup/tests/memory_address_list.h"

namespace qinglan {
namespace {

using testing::MemoryAddressList;

const std::string kFront = "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA";  // "<br>下载地址："
const std::string kBack = "<td align=left class=\"mn STYLE4\">\r";

std::string anchor(const std::string& address, const std::string& label = "link") {
    return "<a href=\"" + address + "\" target=\"_blank\">" + label + "</a>";
}

std::string result_page(const std::string& block) {
    return "<html><body><table><tr><td>title" + kFront + block + kBack +
           "\n<a href=\"http://after.example/\">not listed</a></td></tr></table></body></html>";
}

std::vector<std::string> captions_of(const MemoryAddressList& list) {
    std::vector<std::string> rows;
    for (const Text& row : list.rows) {
        rows.emplace_back(row.bytes());
    }
    return rows;
}

std::vector<std::string> rows_of(const std::string& block) {
    MemoryAddressList list;
    fill_address_list(block, list);
    return captions_of(list);
}

// The rows a read makes of `page`, the body it received: what the read does with the body in
// place, which must be what bytes_to_text, text_between and fill_address_list give in turn.
std::vector<std::string> rows_of_page(const std::string& page) {
    const Bytes body(page.begin(), page.end());
    MemoryAddressList list;
    list.rows = {"row of an earlier read"};
    extract_addresses(body, list);
    const Text block = text_between(bytes_to_text(body), kFront, kBack);
    EXPECT_EQ(captions_of(list), rows_of(std::string(block.bytes())));
    return captions_of(list);
}

TEST(TextBetween, CutsBetweenTheFirstFrontAndTheFirstBackAfterIt) {
    struct Case {
        std::string whole, front, back, expected;
    };
    const Case cases[] = {
        {"xx[one]yy[two]", "[", "]", "one"},
        {"a]b[c]d", "[", "]", "c"},  // a back text before the front text does not count
        {"[]", "[", "]", ""},        // back directly after front
        {"[abc", "[", "]", ""},      // no back text: q - 1 is -2
        {"", "[", "]", ""},
        // No front text: p is -1, so the rest starts at byte length(front) - 1.
        {"0123456789ab]", "<tag>", "]", "3456789ab"},
        {"0123456789abcdefgh]", kFront, "]", "cdefgh"},  // the page from its 13th byte on
        {"0]", "<tag>", "]", ""},                        // whole text shorter than the start
        {"x\xCF[y]", "[", "]", ""},  // '[' after a lead byte is no character start
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text_between(c.whole, c.front, c.back).bytes(), c.expected)
            << "whole [" << c.whole << "]";
    }
}

TEST(FillAddressList, TheWorkedExampleGivesTwoRowsInOrder) {
    const std::string first(30, 'f');
    const std::string second(25, 's');
    const std::string block = "\r\n" + anchor(first) + "\r\n" + anchor(second);
    EXPECT_EQ(rows_of(block), (std::vector<std::string>{first, second}));
}

TEST(FillAddressList, RowsFollowTheAnchorDelimiters) {
    struct Case {
        const char* what;
        std::string block;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"empty block", "", {}},
        {"no anchor", "nothing here", {}},
        {"block begins with an anchor",
         anchor("http://a/1") + anchor("http://a/2"),
         {"http://a/1", "http://a/2"}},
        {"text before the first anchor", "x" + anchor("http://a/1"), {"http://a/1"}},
        {"block ends with <a", anchor("http://a/1") + "<a", {"http://a/1"}},
        {"two <a in a row", "<a<a" + anchor("http://a/1").substr(2), {"", "http://a/1"}},
        {"empty address", anchor(""), {""}},
        {"end marker twice", "<a href=\"u1\" target=\"_blank\" target=\"_blank\">", {"u1"}},
        {"no end marker", "<a href=\"http://a/1\">x</a>", {""}},
        {"piece shorter than 8 bytes", "<a b", {""}},
        {"address not right after the start marker",
         "<a class=\"x\" href=\"http://a/1\" target=\"_blank\">",
         {"\"x\" href=\"http://a/1"}},
        {"a double-byte character before <a hides it",
         "\xCF" + anchor("http://a/1") + anchor("http://a/2"),
         {"http://a/2"}},
        {"double-byte characters in an address",
         anchor("http://a/\xCF\xC2\xD4\xD8.flv"),
         {"http://a/\xCF\xC2\xD4\xD8.flv"}},
        {"capital <A is no delimiter", "<A href=\"u\" target=\"_blank\">" + anchor("v"), {"v"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rows_of(c.block), c.rows) << c.what;
    }
}

TEST(FillAddressList, EmptiesTheListFirstThenAppendsAndCaptionsEachRow) {
    MemoryAddressList list;
    fill_address_list(anchor("http://a/1"), list);
    fill_address_list(anchor("http://b/1") + anchor("http://b/2"), list);
    EXPECT_EQ(list.rows, (std::vector<Text>{"http://b/1", "http://b/2"}));
    const std::vector<std::string> second_read(list.calls.begin() + 3, list.calls.end());
    EXPECT_EQ(second_read,
              (std::vector<std::string>{"clear_rows", "append_row", "set_row_caption 0 0",
                                        "append_row", "set_row_caption 1 0"}));
}

TEST(ResultPage, OnlyTheBlockBetweenTheMarkersIsRead) {
    struct Case {
        const char* what;
        std::string page;
        std::vector<std::string> rows;
    };
    const std::string two = anchor("http://v/1.flv") + "<br>" + anchor("http://v/2.flv");
    const Case cases[] = {
        {"ordinary page", result_page(two), {"http://v/1.flv", "http://v/2.flv"}},
        {"back marker right after the front marker", result_page(""), {}},
        {"no back marker", "<html>" + kFront + two, {}},
        {"back marker without its carriage return",
         "<html>" + kFront + two + kBack.substr(0, kBack.size() - 1) + "\n",
         {}},
        {"no front marker: read from the 13th byte",
         "0123456789ab" + two + kBack,
         {"http://v/1.flv", "http://v/2.flv"}},
        {"anchors before the front marker are not listed",
         anchor("http://early/") + result_page(anchor("http://v/1.flv")),
         {"http://v/1.flv"}},
        {"only the first back marker counts",
         "x" + kFront + anchor("http://v/1") + kBack + anchor("http://v/2") + kBack,
         {"http://v/1"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rows_of_page(c.page), c.rows) << c.what;
    }
}

TEST(ResultPage, AZeroByteEndsThePage) {
    struct Case {
        const char* where;
        std::string before;  // the zero byte goes in front of the first occurrence of this
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"before the front marker", kFront, {}},
        {"inside the block, so the back marker is lost", "\" target", {}},
        {"after the back marker", "\n<a href=\"http://after", {"http://v/1.flv"}},
    };
    for (const Case& c : cases) {
        std::string page = result_page(anchor("http://v/1.flv"));
        page.insert(page.find(c.before), 1, '\0');
        EXPECT_EQ(rows_of_page(page), c.rows) << c.where;
    }
}

TEST(ServiceBaseAddress, IsTheBuildTimeHostsParsePage) {
    EXPECT_EQ(service_base_address().bytes(),
              std::string("http://") + kAddressServiceHost + "/parse.php?kw=");
}

}  // namespace
}  // namespace qinglan
