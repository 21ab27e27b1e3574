#include "common/base/utf.h"

#include <gtest/gtest.h>

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(Utf, EncodesEachLengthAtItsBorders) {
    std::string out;
    for (char32_t c : {U'\x7F', U'\x80', U'\x7FF', U'\x800', U'\xFFFF', U'\x10000', U'\x10FFFF'})
        AppendUtf8(out, c);
    EXPECT_EQ(out, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
    EXPECT_TRUE(IsValidUtf8(out));
    for (std::size_t i = 0, n = 0; i < out.size(); i += n) {
        n = Utf8SequenceLength(out, i);
        ASSERT_GT(n, 0u) << i;
    }
    EXPECT_EQ(DecodeUtf8Sequence(out, 15, 4), U'\x10FFFF');
}

TEST(Utf, RefusesMalformedSequences) {
    EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));
    EXPECT_TRUE(IsValidUtf8("long ascii text, longer than a block of eight"));
    EXPECT_FALSE(IsValidUtf8("M\xFCller"));
    EXPECT_FALSE(IsValidUtf8("\xC3"));              // cut sequence
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("abcdefg\x80"));       // after a block of ASCII
}

TEST(Utf, CutLengthNeverSplitsACharacter) {
    const std::string text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E";  // a ä € and a 4-byte one
    struct Case {
        std::size_t maxBytes;
        std::size_t cut;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}, Case{2, 1}, Case{3, 3}, Case{4, 3}, Case{5, 3},
                   Case{6, 6}, Case{9, 6}, Case{10, 10}, Case{11, 10}}) {
        EXPECT_EQ(Utf8CutLength(text, c.maxBytes), c.cut) << c.maxBytes;
    }
    EXPECT_EQ(Utf8CutLength("plain", 3), 3u);
    EXPECT_EQ(Utf8CutLength("", 3), 0u);
}

TEST(Utf, Utf16RoundTripsAndReplacesWhatCannotBeRead) {
    const std::u16string wide = u"M\u00FCller \u20AC\U0001D11E";
    const std::string utf8 = "M\xC3\xBCller \xE2\x82\xAC\xF0\x9D\x84\x9E";
    EXPECT_EQ(Utf16ToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), wide);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), kReplacement + "x");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), kReplacement);
    // Each byte that starts no sequence is one U+FFFD; reading goes on after it.
    EXPECT_EQ(Utf8ToUtf16("M\xFCller"), u"M\uFFFDller");
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80!"), u"\uFFFD\uFFFD\uFFFD!");
    EXPECT_EQ(Utf8ToUtf16(""), u"");
}

TEST(Utf, Utf16LengthStopsAtTheZero) {
    EXPECT_EQ(Utf16Length(u"abc"), 3u);
    EXPECT_EQ(Utf16Length(u""), 0u);
    EXPECT_EQ(Utf16Length(nullptr), 0u);
}

}  // namespace
