// HTML escaping and the conversion to code page 936.
#include "service/gbk.h"

#include <gtest/gtest.h>

namespace qinglan::service {
namespace {

TEST(Utf8ToGbk, ConvertsWhatCodePage936HoldsAndReferencesTheRest) {
    struct Case {
        const char* utf8;
        const char* gbk;
    };
    const Case cases[] = {
        {"", ""},
        {"plain ASCII <&>", "plain ASCII <&>"},
        // The tool's own marker text.
        {"<br>下载地址：", "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA"},
        {"中文", "\xD6\xD0\xCE\xC4"},
        {"繁體", "\xB7\xB1\xF3\x77"},  // traditional characters are in GBK's extension
        {"é", "\xA8\xA6"},
        // Not in code page 936: a snowman, an emoji, Korean, the euro sign.
        {"☃", "&#9731;"},
        {"a😀b", "a&#128512;b"},
        {"한", "&#54620;"},
        {"€", "&#8364;"},
        {"中☃文", "\xD6\xD0&#9731;\xCE\xC4"},
        // Broken UTF-8: every byte that starts no valid sequence is one replacement character.
        {"a\xFF"
         "b",
         "a&#65533;b"},
        {"\xE4\xB8", "&#65533;&#65533;"},
        {"\xC0\xAF", "&#65533;&#65533;"},              // overlong "/"
        {"\xED\xA0\x80", "&#65533;&#65533;&#65533;"},  // a surrogate
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8_to_gbk(c.utf8), c.gbk) << c.utf8;
    }
}

TEST(GbkHtml, EscapesMarkupBeforeConverting) {
    EXPECT_EQ(html_escape("<a href=\"x\">Tom & 'Jerry'</a>"),
              "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;");
    // The references made for unmappable characters are not escaped again.
    EXPECT_EQ(gbk_html("<a>☃&"), "&lt;a&gt;&#9731;&amp;");
    // A zero byte would end the page for the tool; control bytes would break its lines.
    EXPECT_EQ(gbk_html(std::string_view("a\0b\rc\x1F"
                                        "d\te\nf",
                                        11)),
              "a b c d\te\nf");
}

}  // namespace
}  // namespace qinglan::service
