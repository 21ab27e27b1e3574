#include "common/vcard/vcard_reader.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/vcard/read_all_test_util.h"

namespace vcard {
namespace {

using ReadAll = ReadResult<VCardEntry, VCardError>;

ReadAll Read(const std::string& text) {
    return ReadText<VCardReader, VCardEntry, VCardError>(text);
}

TEST(VCardReader, Reads21WithQuotedPrintableCharsetsAndBareTypes) {
    ReadAll all = Read(
        "BEGIN:VCARD\r\n"
        "VERSION:2.1\r\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen;;;\r\n"
        "FN;CHARSET=ISO-8859-1:J\xFCrgen M\xFCller\r\n"
        "TEL;WORK;VOICE;PREF:+49 30 1234\r\n"
        "ADR;HOME;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:;;Stra=C3=9Fe 1;Ber=\r\n"
        "lin;;10115;DE\r\n"
        "PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n"
        " /9j/4AAQ\r\n"
        "\r\n"
        "NOTE:caf\xE9\r\n"
        "END:VCARD\r\n");
    ASSERT_TRUE(all.errors.empty()) << all.errors[0].message;
    ASSERT_EQ(all.entries.size(), 1u);
    const VCardEntry& e = all.entries[0];
    EXPECT_EQ(e.version, "2.1");
    ASSERT_EQ(e.properties.size(), 6u);
    EXPECT_EQ(e.properties[0].value, "M\xC3\xBCller;J\xC3\xBCrgen;;;");
    EXPECT_EQ(e.properties[1].value, "J\xC3\xBCrgen M\xC3\xBCller");
    EXPECT_EQ(e.properties[2].types, (std::vector<std::string>{"work", "voice"}));
    EXPECT_EQ(e.properties[2].pref, 1);
    EXPECT_EQ(e.properties[3].value,
              ";;Stra\xC3\x9F"
              "e 1;Berlin;;10115;DE");
    EXPECT_EQ(e.properties[3].line, 6u);
    EXPECT_TRUE(e.properties[4].binary);
    EXPECT_EQ(e.properties[4].mediaType, "image/jpeg");
    EXPECT_EQ(e.properties[4].value, std::string("\xFF\xD8\xFF\xE0\x00\x10", 6));
    EXPECT_EQ(e.properties[5].value, "caf\xC3\xA9");  // 8-bit text read as Windows-1252
}

TEST(VCardReader, Reads30And40Parameters) {
    ReadAll all = Read(
        "BEGIN:VCARD\nVERSION:3.0\nEMAIL;TYPE=INTERNET,PREF:a@b\nPHOTO;ENCODING=b;TYPE=PNG:iVBO\n"
        "END:VCARD\nBEGIN:VCARD\nVERSION:4.0\nTEL;VALUE=uri;TYPE=\"voice,home\";PREF=2:tel:+1\n"
        "PHOTO;MEDIATYPE=image/png:data:image/png;base64,iVBO\nEND:VCARD\n");
    ASSERT_EQ(all.entries.size(), 2u);
    EXPECT_EQ(all.entries[0].properties[0].types, (std::vector<std::string>{"internet"}));
    EXPECT_EQ(all.entries[0].properties[0].pref, 1);
    EXPECT_EQ(all.entries[0].properties[1].mediaType, "image/png");
    const VCardProperty& tel = all.entries[1].properties[0];
    EXPECT_EQ(tel.valueType, "uri");
    EXPECT_EQ(tel.types, (std::vector<std::string>{"voice,home"}));  // quoted: one value
    EXPECT_EQ(tel.pref, 2);
    EXPECT_EQ(all.entries[1].index, 2u);
    EXPECT_FALSE(all.entries[1].properties[1].binary);
}

TEST(VCardReader, ReportsBadEntriesWithLinesAndGoesOn) {
    ReadAll all = Read(
        "garbage before\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Good One\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bad\r\nPHOTO;ENCODING=b:@@@\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bad charset\r\nNOTE;CHARSET=NOPE:x\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nno colon\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nFN:Good Two\r\nAGENT:\r\nBEGIN:VCARD\r\nFN:inner\r\nEND:VCARD\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nFN:cut off\r\n");
    ASSERT_EQ(all.entries.size(), 2u);
    EXPECT_EQ(all.entries[0].properties[0].value, "Good One");
    EXPECT_EQ(all.entries[1].properties[0].value, "Good Two");
    EXPECT_EQ(all.entries[1].properties.size(), 2u);  // FN and AGENT; the inner card is passed over
    ASSERT_EQ(all.errors.size(), 5u);
    EXPECT_EQ(all.errors[0].entry, 0u);
    EXPECT_EQ(all.errors[0].line, 1u);
    EXPECT_EQ(all.errors[1].entry, 2u);
    EXPECT_EQ(all.errors[1].line, 9u);
    EXPECT_EQ(all.errors[2].entry, 3u);
    EXPECT_EQ(all.errors[2].line, 14u);
    EXPECT_EQ(all.errors[3].entry, 4u);
    EXPECT_EQ(all.errors[3].line, 17u);
    EXPECT_EQ(all.errors[4].entry, 6u);
    EXPECT_NE(all.errors[4].message.find("ends before END:VCARD"), std::string::npos);
}

TEST(VCardReader, AFileThatIsNoVCardGivesOneError) {
    ReadAll all = Read("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nEND:VCALENDAR\r\n");
    EXPECT_TRUE(all.entries.empty());
    ASSERT_EQ(all.errors.size(), 1u);
    EXPECT_EQ(all.errors[0].message, "not a vCard: no BEGIN:VCARD");
}

}  // namespace
}  // namespace vcard
