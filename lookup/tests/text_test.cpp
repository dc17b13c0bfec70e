#include "lookup/text.h"

#include <gtest/gtest.h>

#include <string>

namespace qinglan {
namespace {

// "下载" in code page 936: two double-byte characters.
constexpr const char* kXiaZai = "\xCF\xC2\xD4\xD8";

TEST(Text, EndsAtItsFirstZeroByte) {
    EXPECT_EQ(Text(std::string("ab\0c", 4)).bytes(), "ab");
    EXPECT_EQ(length_of_text(Text(std::string("\0x", 2))), 0);
    EXPECT_EQ(length_of_text(Text(static_cast<const char*>(nullptr))), 0);
    EXPECT_EQ(length_of_text(kXiaZai), 4);
}

struct FindCase {
    const char* searched;
    const char* sought;
    std::int32_t expected;
};

TEST(FindInText, GivesTheFirstPositionAtACharacterStartOrMinusOne) {
    const FindCase cases[] = {
        FindCase{"abc", "", 1},
        FindCase{"", "", -1},
        FindCase{"", "a", -1},
        FindCase{"abcabc", "bc", 2},
        FindCase{"abc", "abc", 1},
        FindCase{"ab", "abc", -1},
        FindCase{"HTTP://X", "http", -1},              // no case folding
        FindCase{"\xB0\x41\x41", "\x41", 3},           // 0x41 at 2 is a trail byte
        FindCase{"\xB0\x41\xB0\x41", "\x41\xB0", -1},  // every candidate starts mid-character
        FindCase{"\xB0\xB0\xB0\x41", "\xB0\x41", 3},   // the character B0 B0, then B0 41
        FindCase{"x\xB0\xB0\xB0\x41", "\xB0\xB0", 2},
        FindCase{"\xB0\xB0\xB0", "\xB0", 1},
        FindCase{"ab\xB0", "zz", -1},   // a lead byte at the very end
        FindCase{"ab\xB0", "\xB0", 3},  // ... which is itself a character start
        FindCase{"\xCF\xC2<a", "<a", 3},
        FindCase{"\xCF<a", "<a", -1},  // '<' is the trail of CF 3C
        FindCase{"a\xCF<a<a", "<a", 5},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(find_in_text(c.searched, c.sought), c.expected)
            << "searching [" << c.sought << "] in [" << c.searched << "]";
    }
}

TEST(MidText, CutsOnlyInsideTheText) {
    const Text six = "abcdef";
    EXPECT_EQ(mid_text(six, 0, 3), Text());
    EXPECT_EQ(mid_text(six, -1, 3), Text());
    EXPECT_EQ(mid_text(six, 7, 1), Text());
    EXPECT_EQ(mid_text(six, 6, 5), Text("f"));
    EXPECT_EQ(mid_text(six, 2, 0), Text());
    EXPECT_EQ(mid_text(six, 2, -2), Text());
    EXPECT_EQ(mid_text(six, 1, 6), six);
    EXPECT_EQ(mid_text(six, 1, 1000), six);
    EXPECT_EQ(mid_text(six, 3, 2), Text("cd"));
    EXPECT_EQ(mid_text(six, 2, INT32_MAX), Text("bcdef"));
    EXPECT_EQ(mid_text(Text(), 1, 1), Text());
    EXPECT_EQ(mid_text(kXiaZai, 2, 2), Text("\xC2\xD4"));  // counts bytes, halves characters
}

TEST(LeftText, TakesAtMostCountBytes) {
    EXPECT_EQ(left_text("abc", 7), Text("abc"));
    EXPECT_EQ(left_text("abc", 0), Text());
    EXPECT_EQ(left_text("abc", -5), Text());
    EXPECT_EQ(left_text(Text(), 7), Text());
    EXPECT_EQ(left_text(kXiaZai, 3), Text("\xCF\xC2\xD4"));
}

TEST(LowerText, LowersAsciiCapitalsButNeverASecondByte) {
    EXPECT_EQ(lower_text("HTTP://"), Text("http://"));
    EXPECT_EQ(lower_text("\xB0\x41"), Text("\xB0\x41"));
    EXPECT_EQ(lower_text("A\xB0\x41\x41Z[@"), Text("a\xB0\x41\x61z[@"));
    EXPECT_EQ(lower_text("AB\xB0"), Text("ab\xB0"));  // lead byte at the end
    EXPECT_EQ(lower_text(Text()), Text());
}

TEST(JoinTexts, PutsTheBytesOneAfterTheOther) {
    EXPECT_EQ(join_texts("http://", "host/x"), Text("http://host/x"));
    EXPECT_EQ(join_texts(Text(), "a"), Text("a"));
    EXPECT_EQ(join_texts("a", Text()), Text("a"));
    EXPECT_EQ(join_texts("\xCF", "\xC2"), Text(kXiaZai).bytes().substr(0, 2));
}

struct SplitCase {
    const char* text;
    const char* delimiter;
    std::vector<std::string> pieces;
};

TEST(SplitOn, GivesThePiecesBetweenDelimitersAtCharacterStarts) {
    const SplitCase cases[] = {
        SplitCase{"", "<a", {}},
        SplitCase{"", "", {}},
        SplitCase{"abc", "", {"abc"}},
        SplitCase{"abc", "<a", {"abc"}},
        SplitCase{"<a", "<a", {""}},
        SplitCase{"x<ay<a", "<a", {"x", "y"}},
        SplitCase{"<a<ay", "<a", {"", "", "y"}},
        SplitCase{"<A<a", "<a", {"<A"}},            // letters are matched exactly
        SplitCase{"\xCF<a<a", "<a", {"\xCF<a"}},    // the first '<' is a trail byte
        SplitCase{"x<a\xB0", "<a", {"x", "\xB0"}},  // a lead byte at the very end
        SplitCase{"a\xB0\xB0"
                  "b",
                  "\xB0",
                  {"a", "", "b"}},  // after a match scanning restarts
        SplitCase{"a--b----c", "--", {"a", "b", "", "c"}},
    };
    for (const SplitCase& c : cases) {
        std::vector<std::string> pieces;
        for (const Text& piece : split_on(c.text, c.delimiter)) {
            pieces.emplace_back(piece.bytes());
        }
        EXPECT_EQ(pieces, c.pieces) << "splitting [" << c.text << "] on [" << c.delimiter << "]";
    }
}

TEST(BytesToText, StopsAtTheFirstZeroByte) {
    EXPECT_EQ(bytes_to_text(Bytes{0x61, 0x62, 0x00, 0x63}), Text("ab"));
    EXPECT_EQ(bytes_to_text(Bytes{}), Text());
    EXPECT_EQ(bytes_to_text(Bytes{0x00, 0x61}), Text());
    EXPECT_EQ(bytes_to_text(Bytes{0xCF, 0xC2, 0xFF}), Text("\xCF\xC2\xFF"));
}

TEST(CompareTexts, ComparesUnsignedBytesWithTheEndAsZero) {
    EXPECT_EQ(compare_texts("http://", "http://"), 0);
    EXPECT_EQ(compare_texts("http:/", "http://"), -1);
    EXPECT_EQ(compare_texts("http://", "http:/"), 1);
    EXPECT_EQ(compare_texts(Text(), Text()), 0);
    EXPECT_EQ(compare_texts("a", "\xB0"), -1);  // 0xB0 is large, not negative
    EXPECT_EQ(compare_texts("b", "a"), 1);
}

}  // namespace
}  // namespace qinglan
