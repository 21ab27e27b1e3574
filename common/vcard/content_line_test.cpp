#include "common/vcard/content_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vcard {
namespace {

std::vector<std::pair<std::size_t, std::string>> AllLines(const std::string& text,
                                                          std::size_t limit = kMaxLogicalLine) {
    std::istringstream in(text);
    ContentLineReader reader(in, limit);
    std::vector<std::pair<std::size_t, std::string>> out;
    std::string line;
    std::size_t first = 0;
    for (;;) {
        auto r = reader.Next(line, first);
        if (r == ContentLineReader::Result::kEnd) break;
        out.emplace_back(first, r == ContentLineReader::Result::kTooLong ? "<too long>" : line);
    }
    return out;
}

TEST(ContentLineReader, UnfoldsAndNumbersLines) {
    auto lines =
        AllLines("BEGIN:VCARD\r\nNOTE:one\r\n  two\r\n\tthree\r\n\r\nFN:x\nEND:VCARD\rTAIL:1");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], (std::pair<std::size_t, std::string>{2, "NOTE:one twothree"}));
    EXPECT_EQ(lines[2], (std::pair<std::size_t, std::string>{6, "FN:x"}));
    EXPECT_EQ(lines[3].second, "END:VCARD");
    EXPECT_EQ(lines[4], (std::pair<std::size_t, std::string>{8, "TAIL:1"}));
}

TEST(ContentLineReader, JoinsQuotedPrintableSoftBreaks) {
    auto lines = AllLines(
        "ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Hauptstra=C3=9Fe 1;Berl=\r\nin\r\n"
        "NOTE:ends with =\r\nFN:next\r\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].second, "ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Hauptstra=C3=9Fe 1;Berlin");
    // Without quoted-printable a final "=" is data.
    EXPECT_EQ(lines[1].second, "NOTE:ends with =");
    EXPECT_EQ(lines[2].first, 4u);
}

TEST(ContentLineReader, ReportsALineOverTheLimitAndGoesOn) {
    const std::size_t limit = 64;
    std::string big = "PHOTO:" + std::string(limit, 'A');
    auto lines = AllLines("FN:a\r\n" + big + "\r\n more\r\nFN:b\r\n", limit);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], (std::pair<std::size_t, std::string>{2, "<too long>"}));
    EXPECT_EQ(lines[2], (std::pair<std::size_t, std::string>{4, "FN:b"}));
    // Exactly at the limit is still a line.
    std::string atLimit = "N:" + std::string(limit - 12, 'x');
    auto fits = AllLines(atLimit + "\r\n 1234567890\r\n", limit);
    ASSERT_EQ(fits.size(), 1u);
    EXPECT_EQ(fits[0].second.size(), limit);
    auto over = AllLines(atLimit + "\r\n 12345678901\r\n", limit);
    EXPECT_EQ(over[0].second, "<too long>");
}

TEST(ParseContentLine, SplitsGroupNameParamsAndValue) {
    ContentLine line;
    std::string error;
    ASSERT_TRUE(ParseContentLine("item1.tel;type=\"voice,work\";PREF=1:tel:+1-555", line, error));
    EXPECT_EQ(line.group, "item1");
    EXPECT_EQ(line.name, "TEL");
    ASSERT_EQ(line.params.size(), 2u);
    EXPECT_EQ(line.params[0].name, "TYPE");
    EXPECT_EQ(line.params[0].values, (std::vector<std::string>{"voice,work"}));
    EXPECT_EQ(line.value, "tel:+1-555");

    ASSERT_TRUE(ParseContentLine("TEL;WORK;VOICE:+49 30", line, error));
    ASSERT_EQ(line.params.size(), 2u);
    EXPECT_EQ(line.params[0].name, "");
    EXPECT_EQ(line.params[1].values, (std::vector<std::string>{"VOICE"}));

    ASSERT_TRUE(ParseContentLine("EMAIL;TYPE=INTERNET,HOME:a@b", line, error));
    EXPECT_EQ(line.params[0].values, (std::vector<std::string>{"INTERNET", "HOME"}));
    EXPECT_TRUE(line.HasParamValue("TYPE", "home"));
    EXPECT_FALSE(line.HasParamValue("TYPE", "work"));
}

TEST(ParseContentLine, RejectsMalformedLines) {
    ContentLine line;
    std::string error;
    EXPECT_FALSE(ParseContentLine("no colon here", line, error));
    EXPECT_FALSE(ParseContentLine(":value", line, error));
    EXPECT_FALSE(ParseContentLine("X;P=\"open:value", line, error));
    EXPECT_FALSE(ParseContentLine("X;;Y:v", line, error));
    EXPECT_TRUE(ParseContentLine("X;P=\"a:b\":v:w", line, error));
    EXPECT_EQ(line.params[0].values[0], "a:b");
    EXPECT_EQ(line.value, "v:w");
}

TEST(FoldLine, FoldsAt75BytesWithoutSplittingUtf8) {
    std::string text = "NOTE:" + std::string(70, 'a') + "\xC3\xA4" + std::string(80, 'b');
    std::string folded = FoldLine(text);
    // 75 bytes fit on the first line only when the two-byte letter would not cross it.
    EXPECT_EQ(folded.substr(0, 77), "NOTE:" + std::string(70, 'a') + "\r\n");
    EXPECT_EQ(folded.substr(77, 3), " \xC3\xA4");
    // Every physical line holds at most 75 bytes, and unfolding gives the text back.
    std::istringstream in(folded);
    std::string phys;
    while (std::getline(in, phys)) EXPECT_LE(phys.size(), kFoldWidth + 1);  // + CR
    auto lines = AllLines(folded);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].second, text);
}

TEST(FormatContentLine, QuotesParameterValuesThatNeedIt) {
    ContentLine line;
    line.group = "item2";
    line.name = "ADR";
    line.params = {{"TYPE", {"home", "pref"}}, {"LABEL", {"Street 1; Town"}}};
    line.value = ";;Street 1;Town;;;";
    EXPECT_EQ(FormatContentLine(line),
              "item2.ADR;TYPE=home,pref;LABEL=\"Street 1; Town\":;;Street 1;Town;;;\r\n");
}

}  // namespace
}  // namespace vcard
