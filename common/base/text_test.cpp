#include "common/base/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatArgs(format, args);
    va_end(args);
    return text;
}

TEST(Text, CaseFoldingTouchesOnlyAsciiLetters) {
    EXPECT_TRUE(EqualsIgnoringCase("Content-Length", "content-LENGTH"));
    EXPECT_FALSE(EqualsIgnoringCase("abc", "abcd"));
    EXPECT_FALSE(EqualsIgnoringCase("a[", "A{"));  // '[' and '{' are 32 apart but no letters
    EXPECT_FALSE(EqualsIgnoringCase("\xc4", "\xe4"));
    EXPECT_EQ(AsciiLowerCopy("MiXeD-09\xc4"), "mixed-09\xc4");
    EXPECT_EQ(AsciiUpperCopy("MiXeD-09"), "MIXED-09");
    EXPECT_TRUE(StartsWithIgnoringCase("Basic QWxh", "basic "));
    EXPECT_FALSE(StartsWithIgnoringCase("Bas", "basic"));
}

TEST(Text, FindIgnoringCaseFindsTheFirstPlaceFromPos) {
    EXPECT_EQ(FindIgnoringCase("<P><BODY x><body>", "<body"), 3u);
    EXPECT_EQ(FindIgnoringCase("<P><BODY x><body>", "<body", 4), 11u);
    EXPECT_EQ(FindIgnoringCase("abc", "abcd"), std::string_view::npos);
    EXPECT_EQ(FindIgnoringCase("abc", "", 3), 3u);
    EXPECT_EQ(FindIgnoringCase("abc", "a", 9), std::string_view::npos);
}

TEST(Text, HexRoundTripsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::string hex = HexEncode(all);
    EXPECT_EQ(hex.substr(0, 6), "000102");
    EXPECT_EQ(hex.substr(hex.size() - 4), "FEFF");
    EXPECT_EQ(HexDecode(hex), all);
    EXPECT_EQ(HexDecode("0a0B"), std::string("\x0a\x0b"));
    EXPECT_EQ(HexDecode(""), std::string());
}

TEST(Text, HexDecodeRefusesOddLengthsAndOtherCharacters) {
    EXPECT_FALSE(HexDecode("ABC"));
    EXPECT_FALSE(HexDecode("AG"));
    EXPECT_FALSE(HexDecode("0x"));
    EXPECT_FALSE(HexDecode(" 1"));
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('g'), -1);
    EXPECT_EQ(HexDigitValue('/'), -1);
}

TEST(Text, HexNumbersHaveAFixedWidth) {
    EXPECT_EQ(HexNumber(0x1A, 4), "001A");
    EXPECT_EQ(HexNumber(0x12345, 4), "2345");
    EXPECT_EQ(HexNumber(~0ull, 16), "FFFFFFFFFFFFFFFF");
    std::string line = "id=";
    AppendHexNumber(line, 0x301, 4);
    AppendHexNumber(line, 0xABCDEF, 2);
    EXPECT_EQ(line, "id=0301EF");
    EXPECT_EQ(ParseHexNumber("001a"), 0x1Au);
    EXPECT_EQ(ParseHexNumber("FFFFFFFFFFFFFFFF"), ~0ull);
    EXPECT_FALSE(ParseHexNumber("10000000000000000"));
    EXPECT_FALSE(ParseHexNumber(""));
    EXPECT_FALSE(ParseHexNumber("1 "));
}

TEST(Text, EscapedHexDecodesOnlyCompleteEscapes) {
    const std::pair<const char*, const char*> percent[] = {
        {"a%20b%2Fc%2fd", "a b/c/d"}, {"100%", "100%"}, {"x%4", "x%4"},
        {"%zz%%41", "%zz%A"},         {"%41%42", "AB"}, {"%", "%"},
    };
    for (auto [text, decoded] : percent) EXPECT_EQ(PercentDecode(text), decoded) << text;
    EXPECT_EQ(DecodeEscapedHex("caf=C3=A9=\r\n=4", '='), "caf\xc3\xa9=\r\n=4");
}

TEST(Text, LeadingIntegerReadsLikeAtoiButClamps) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},
        {"abc", 0},
        {" \t+42x", 42},
        {"-17;3", -17},
        {"99999999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-99999999999", -2147483647 - 1},
        {"- 5", 0},
    };
    for (auto [text, value] : cases) EXPECT_EQ(LeadingInteger(text), value) << text;
}

TEST(Text, ParseIntegerTakesWholeNumbersOnly) {
    const std::pair<const char*, std::int64_t> whole[] = {
        {"0", 0}, {"-9223372036854775808", INT64_MIN}, {"+12", 12}};
    for (auto [text, value] : whole) EXPECT_EQ(ParseInteger(text), value) << text;
    for (const char* text : {"9223372036854775808", "", "+", "+-1", "12 ", " 12"})
        EXPECT_FALSE(ParseInteger(text)) << text;
}

TEST(Text, FormatArgsWritesTheWholeText) {
    EXPECT_EQ(Format("%s=%d", "key", -7), "key=-7");
    EXPECT_EQ(Format("%s", ""), "");
    std::string longText(5000, 'x');
    EXPECT_EQ(Format("[%s]", longText.c_str()), "[" + longText + "]");
    EXPECT_EQ(Format("%c%c", 'a', 0).size(), 2u);  // a NUL byte is kept
}

TEST(Text, SplitSkippingEmptyDropsEmptyPieces) {
    using Pieces = std::vector<std::string_view>;
    EXPECT_EQ(SplitSkippingEmpty("a,b,,c", ','), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(SplitSkippingEmpty(",,a,", ','), (Pieces{"a"}));
    EXPECT_EQ(SplitSkippingEmpty("", ','), Pieces{});
    EXPECT_EQ(SplitSkippingEmpty(";;;", ';'), Pieces{});
    EXPECT_EQ(SplitSkippingEmpty("Top\\Sub", '\\'), (Pieces{"Top", "Sub"}));
}

TEST(Text, TakeLineKeepsTheLineEndAndTakesTheLastLineWhole) {
    std::string_view rest = "one\r\ntwo\n\nlast";
    EXPECT_EQ(TakeLine(rest), "one\r\n");
    EXPECT_EQ(TakeLine(rest), "two\n");
    EXPECT_EQ(TakeLine(rest), "\n");
    EXPECT_EQ(TakeLine(rest), "last");
    EXPECT_TRUE(rest.empty());
    EXPECT_EQ(TakeLine(rest), "");
}

}  // namespace
