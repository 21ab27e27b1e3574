// Escaping of outside text for logs, the live trace and stored values; cutting.
#include "server/config/log_text.h"

#include <gtest/gtest.h>

#include "server/config/config_test_util.h"
#include "server/config/live_trace.h"
#include "server/config/text_file.h"

namespace {

TEST(LogText, ForgedEntryStampsAndControlCharactersAreEscaped) {
    EXPECT_EQ(EscapeLogText("a\n!!!01.01.2000 00:00:00 - forged\r\n!x"),
              "a\n\\x21!!01.01.2000 00:00:00 - forged\r\n\\x21x");
    EXPECT_EQ(EscapeLogText("!!!at the start"), "\\x21!!at the start");
    EXPECT_EQ(EscapeLogText("mid!!!line"), "mid!!!line");
    EXPECT_EQ(EscapeLogText(std::string("\x1b[2J\a\b\v\f\x7f\t\x01", 11)),
              "\\x1B[2J\\x07\\x08\\x0B\\x0C\\x7F\t\\x01");
    // Bytes above 127 (ANSI and UTF-8 text) stay as they are.
    EXPECT_EQ(EscapeLogText("Gerät \xff"), "Gerät \xff");
    EXPECT_EQ(EscapeLogText(std::string("a\0b", 3)), "a\\x00b");
}

TEST(LogText, AnEscaperRemembersTheLineStartBetweenPieces) {
    CLogEscaper escaper;
    std::string out;
    escaper.Append(out, "first\n");
    escaper.Append(out, "!!!second");
    escaper.Append(out, "!");
    EXPECT_EQ(out, "first\n\\x21!!second!");
    std::string mid;
    CLogEscaper(false).Append(mid, "!x");
    EXPECT_EQ(mid, "!x");
}

TEST(LogText, StoredValuesAndTraceLines) {
    EXPECT_EQ(OneLineValue("Pock\x1b\x07\x08\x0b\x0c\x7f"
                           "et\r\nPC\t2"),
              "Pocket  PC2");
    EXPECT_EQ(DropControlCharacters("a\tb\nc\x1b"), "abc");
    EXPECT_EQ(EscapeTraceLine("GET /a\r\nb\x1b"), "GET /a\\x0D\\x0Ab\\x1B");
    std::vector<std::string> lines;
    SetLiveTraceSink([&](const std::string& line) { lines.push_back(line); });
    AddLiveTrace("GET /\x1b]0;title\x07");
    AddLiveTraceF("Folder %s\n", "Inbox");
    SetLiveTraceSink(nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"GET /\\x1B]0;title\\x07", "Folder Inbox\n"}));
}

TEST(LogText, CutKeepsTheFirstBytesAndSaysHowManyWereLeftOut) {
    EXPECT_EQ(CutForLog("short", 10, "\r\n"), "short");
    EXPECT_EQ(CutForLog("0123456789abc", 10, "\r\n"),
              "0123456789\r\n[... 3 more bytes not logged]\r\n");
    EXPECT_EQ(CutForLog("012345678\nabc", 10, "\n"), "012345678\n[... 3 more bytes not logged]\n");
}

TEST(LogFile, EveryAppendRotatesAFullLogKeepingOnePart) {
    TempFolder temp;
    std::string path = temp.Path() + "/web.log";
    ASSERT_TRUE(AppendToLogFile(path, std::string(60, 'a'), 100));
    ASSERT_TRUE(AppendToLogFile(path, std::string(60, 'b'), 100));  // 120: past the limit
    EXPECT_FALSE(std::filesystem::exists(path + ".1"));
    ASSERT_TRUE(AppendToLogFile(path, "c", 100));  // the full file becomes web.log.1
    EXPECT_EQ(ReadWholeFile(path + ".1"), std::string(60, 'a') + std::string(60, 'b'));
    EXPECT_EQ(ReadWholeFile(path), "c");
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(AppendToLogFile(path, std::string(30, 'd'), 100));
    EXPECT_LE(std::filesystem::file_size(path), 130u);
    EXPECT_LE(std::filesystem::file_size(path + ".1"), 130u);
    EXPECT_FALSE(std::filesystem::exists(path + ".2"));
}

}  // namespace
