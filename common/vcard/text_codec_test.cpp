#include "common/vcard/text_codec.h"

#include <gtest/gtest.h>

namespace vcard {
namespace {

TEST(QuotedPrintable, DecodesPairsAndKeepsStrayEquals) {
    EXPECT_EQ(DecodeQuotedPrintable("M=C3=BCller"), "M\xC3\xBCller");
    EXPECT_EQ(DecodeQuotedPrintable("a=3Db=0D=0Ac"), "a=b\r\nc");
    EXPECT_EQ(DecodeQuotedPrintable("100=% and =4"), "100=% and =4");
    EXPECT_EQ(DecodeQuotedPrintable("=e4"), "\xE4");
}

TEST(Base64, RoundTripsEveryLengthAndRejectsDamage) {
    std::string bytes;
    for (int n = 0; n < 8; ++n) {
        std::string enc = EncodeBase64(bytes);
        EXPECT_EQ(enc.size() % 4, 0u);
        auto dec = DecodeBase64(enc);
        ASSERT_TRUE(dec) << n;
        EXPECT_EQ(*dec, bytes);
        bytes.push_back(static_cast<char>(0xF0 + n));
    }
    EXPECT_EQ(EncodeBase64("Man"), "TWFu");
    EXPECT_EQ(*DecodeBase64("TW Fu\r\n TQ=="), "ManM");
    EXPECT_EQ(*DecodeBase64("TWFuTQ"), "ManM");  // padding left out
    EXPECT_FALSE(DecodeBase64("TW*u"));
    EXPECT_FALSE(DecodeBase64("TWFuT"));  // six bits cannot end a byte
    EXPECT_FALSE(DecodeBase64("TQ==TQ=="));
}

TEST(Charsets, ConvertsToUtf8AndRefusesWhatDoesNotFit) {
    EXPECT_EQ(*ToUtf8("J\xFCrgen", "ISO-8859-1"), "J\xC3\xBCrgen");
    EXPECT_EQ(*ToUtf8("\x80", "windows-1252"), "\xE2\x82\xAC");
    EXPECT_EQ(*ToUtf8("\x93\x8C", "SHIFT_JIS"), "\xE6\x9D\xB1");
    EXPECT_EQ(*ToUtf8("\xC3\xBC", "utf-8"), "\xC3\xBC");
    EXPECT_FALSE(ToUtf8("\xFC", "UTF-8"));
    EXPECT_FALSE(ToUtf8("abc", "NO-SUCH-SET"));
    EXPECT_FALSE(ToUtf8("\xC0\xAF", "UTF-8"));      // overlong
    EXPECT_FALSE(ToUtf8("\xED\xA0\x80", "UTF-8"));  // surrogate
    EXPECT_FALSE(ToUtf8("\xF0\x9F\x98", "UTF-8"));  // cut off
    EXPECT_TRUE(ToUtf8("\xF0\x9F\x98\x80", "UTF-8"));
}

TEST(Escapes, UnescapeEscapeAndSplit) {
    EXPECT_EQ(UnescapeText("a\\nb\\Nc\\,d\\;e\\\\f\\:g\\x"), "a\nb\nc,d;e\\f:g\\x");
    EXPECT_EQ(EscapeText("a\r\nb,c;d\\e\nf"), "a\\nb\\,c\\;d\\\\e\\nf");
    EXPECT_EQ(SplitEscaped("Doe;Jane\\;X;;", ';'),
              (std::vector<std::string>{"Doe", "Jane;X", "", ""}));
    EXPECT_EQ(SplitEscaped("a\\,b,c", ','), (std::vector<std::string>{"a,b", "c"}));
    std::vector<std::string> pieces = {"x;y", "a,b", "c\\", "line\nbreak"};
    EXPECT_EQ(SplitEscaped(JoinEscaped(pieces, ';'), ';'), pieces);
}

}  // namespace
}  // namespace vcard
