#include "common/wbxml/text_convert.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

// Selects a locale for the test and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : previous_(std::setlocale(LC_ALL, nullptr)) {
        selected_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_ALL, previous_.c_str()); }
    bool selected() const { return selected_; }

private:
    std::string previous_;
    bool selected_ = false;
};

const std::string kMueller = "M\xC3\xBCller";   // UTF-8
const std::string kMuellerAnsi = "M\xFCller";   // Windows-1252 / ISO-8859-1
const std::string kEuroSign = "\xE2\x82\xAC";   // U+20AC
const std::string kGClef = "\xF0\x9D\x84\x9E";  // U+1D11E

}  // namespace

TEST(TextConvert, Utf8Validation) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8(kMueller + kEuroSign + kGClef));
    EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));
    EXPECT_FALSE(IsValidUtf8(kMuellerAnsi));
    EXPECT_FALSE(IsValidUtf8("\xC3"));              // cut sequence
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\x80"));
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));
}

TEST(TextConvert, Windows1252ReadingOfEveryHighByte) {
    EXPECT_EQ(Windows1252ToUtf8(kMuellerAnsi), kMueller);
    EXPECT_EQ(Windows1252ToUtf8("\x80\x9F\xA0\xFF"), kEuroSign + "\xC5\xB8\xC2\xA0\xC3\xBF");
    EXPECT_EQ(Windows1252ToUtf8("\x81\x8D"), "\xC2\x81\xC2\x8D");
    EXPECT_EQ(Windows1252ToUtf8("\x93q\x94"), "\xE2\x80\x9Cq\xE2\x80\x9D");
    EXPECT_EQ(RepairUtf8(kMueller), kMueller);
    EXPECT_EQ(RepairUtf8(kMuellerAnsi), kMueller);
}

TEST(TextConvert, Windows1252SingleCharactersBothWays) {
    // Every byte of the page goes to its character and back.
    for (int b = 0; b < 256; ++b) {
        char32_t cp = Windows1252CodePoint(static_cast<unsigned char>(b));
        bool unassigned = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        EXPECT_EQ(unassigned ? -1 : b, Windows1252Byte(cp)) << b;
    }
    EXPECT_EQ(0x80, Windows1252Byte(0x20AC));
    EXPECT_EQ(0x96, Windows1252Byte(0x2013));
    EXPECT_EQ(-1, Windows1252Byte(0x0416));  // Cyrillic: not on the page
    EXPECT_EQ(-1, Windows1252Byte(0x85));    // a C1 control is no character of the page
    std::string out;
    AppendUtf8(out, 0x20AC);
    AppendUtf8(out, 0x1F600);
    EXPECT_EQ(kEuroSign + "\xF0\x9F\x98\x80", out);
}
TEST(TextConvert, Utf8LocaleConvertsWithoutLoss) {
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.selected());
    EXPECT_EQ(AnsiCharset(), "UTF-8");
    const std::string text = kMueller + " " + kEuroSign + kGClef;
    EXPECT_EQ(ToUtf8(text), text);
    EXPECT_EQ(FromUtf8(text), text);
    EXPECT_EQ(ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    // Text that is not UTF-8 is read as Windows-1252 instead of being erased.
    EXPECT_EQ(FromUtf8(kMuellerAnsi), kMueller);
    EXPECT_EQ(ToUtf8(kMuellerAnsi), kMueller);
    EXPECT_EQ(FromUtf8(""), "");
}

TEST(TextConvert, PlainCLocaleCountsAsUtf8) {
    LocaleScope locale("C");
    ASSERT_TRUE(locale.selected());
    EXPECT_EQ(AnsiCharset(), "UTF-8");
    EXPECT_EQ(FromUtf8(kMueller), kMueller);
}

TEST(TextConvert, EightBitCharacterSetsGoThroughIconv) {
    EXPECT_EQ(AnsiToUtf8(kMuellerAnsi, "ISO-8859-1"), kMueller);
    EXPECT_EQ(Utf8ToAnsi(kMueller, "ISO-8859-1"), kMuellerAnsi);
    EXPECT_EQ(Utf8ToAnsi(kMueller + kEuroSign, "CP1252"), kMuellerAnsi + "\x80");
    // Characters the target lacks become "?", one per character.
    EXPECT_EQ(Utf8ToAnsi("a" + kEuroSign + kGClef + "b", "ISO-8859-1"), "a??b");
    // Invalid UTF-8 input is read as Windows-1252 before converting.
    EXPECT_EQ(Utf8ToAnsi(kMuellerAnsi, "ISO-8859-15"), kMuellerAnsi);
    // A text that is not valid in the named set falls back to Windows-1252.
    EXPECT_EQ(AnsiToUtf8("\xFC", "UTF-16LE"), "\xC3\xBC");
    // Unknown character sets neither lose nor invent text.
    EXPECT_EQ(AnsiToUtf8(kMuellerAnsi, "NO-SUCH-SET"), kMueller);
    EXPECT_EQ(Utf8ToAnsi(kMueller, "NO-SUCH-SET"), kMueller);
    // Long texts convert whole.
    std::string longText;
    for (int i = 0; i < 5000; ++i) longText += kMueller;
    std::string longAnsi;
    for (int i = 0; i < 5000; ++i) longAnsi += kMuellerAnsi;
    EXPECT_EQ(Utf8ToAnsi(longText, "ISO-8859-1"), longAnsi);
    EXPECT_EQ(AnsiToUtf8(longAnsi, "ISO-8859-1"), longText);
}

TEST(TextConvert, Utf16BothWays) {
    const std::u16string wide = u"M\u00FCller \u20AC\U0001D11E";
    const std::string utf8 = kMueller + " " + kEuroSign + kGClef;
    EXPECT_EQ(Utf16ToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), wide);
    // 8-bit text reaches UTF-16 through its repaired reading.
    EXPECT_EQ(Utf8ToUtf16(RepairUtf8(kMuellerAnsi)), u"M\u00FCller");
    EXPECT_EQ(Utf8ToUtf16(RepairUtf8("\x80")), u"\u20AC");
    // Unpaired surrogates.
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(u""), "");
    EXPECT_EQ(Utf8ToUtf16(""), u"");
}
