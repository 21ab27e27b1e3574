#include "server/config/text_file.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/config/data_folder.h"
#include "server/config/error_log.h"

namespace {

std::vector<std::string> ReadLines(const std::string& path) {
    CLineReader reader(path);
    std::vector<std::string> lines;
    std::string line;
    while (reader.Next(line)) lines.push_back(line);
    return lines;
}

TEST(LineReader, KeepsLineEndsAndReadsAnUnterminatedLastLine) {
    TempFolder temp;
    std::string path = temp.Path() + "/f";
    WriteWholeFile(path, "a\r\nb\n\nHttpPort=8080");
    EXPECT_EQ(ReadLines(path), (std::vector<std::string>{"a\r\n", "b\n", "\n", "HttpPort=8080"}));
    EXPECT_EQ(StripLineEnd("a\r\n"), "a");
    EXPECT_EQ(StripLineEnd("a\r"), "a\r");
    EXPECT_EQ(StripLineEnd("HttpPort=8080"), "HttpPort=8080");
    EXPECT_FALSE(CLineReader(temp.Path() + "/missing").IsOpen());
}

TEST(LineReader, LineLimitAtTheBoundAndOnePast) {
    TempFolder temp;
    std::string path = temp.Path() + "/f";
    std::string atLimit(kMaxLineLength - 1, 'a');
    std::string pastLimit(kMaxLineLength, 'b');
    WriteWholeFile(path, atLimit + "\n" + pastLimit + "\nc\n" + pastLimit + "x");
    CLineReader reader(path);
    std::string line;
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line, atLimit + "\n");
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line, "c\n");
    EXPECT_FALSE(reader.Next(line));
    EXPECT_EQ(reader.SkippedLines(), 2u);
}

TEST(LogFile, ConcurrentEntriesStayWhole) {
    TempFolder temp;
    std::string path = temp.Path() + "/web.log";
    std::vector<std::thread> threads;
    for (char c = 'a'; c < 'e'; ++c) {
        threads.emplace_back([&path, c] {
            for (int i = 0; i < 200; ++i) AppendToLogFile(path, std::string(3000, c) + "\n");
        });
    }
    for (std::thread& t : threads) t.join();
    std::vector<std::string> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 800u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line, std::string(3000, line[0]) + "\n");
    }
    EXPECT_EQ(ModeOf(path), 0600u);
}

TEST(ErrorLog, EntryFormat) {
    EXPECT_EQ(FormatErrorLogEntry("09.12.2026 07:00:00", "Out of Memory"),
              "!!!09.12.2026 07:00:00 - Out of Memory\n");
    EXPECT_EQ(FormatErrorLogEntry("09.12.2026 07:00:00", "a\r\n!!!fake\nb"),
              "!!!09.12.2026 07:00:00 - a\n !!!fake\nb\n");
    EXPECT_EQ(MessageBoxEntryText("Out of Memory", "CDataString::Realloc"),
              "CDataString::Realloc: Out of Memory");
    EXPECT_EQ(MessageBoxEntryText("TracePort bind returns error", ""),
              "TracePort bind returns error");
    TempFolder temp;
    CErrorLog log;
    EXPECT_FALSE(log.Add("no file yet"));
    log.SetPath(temp.Path() + "/early.log");
    EXPECT_TRUE(log.Add("before the log is opened"));
    EXPECT_NE(ReadWholeFile(temp.Path() + "/early.log").find(" - before the log is opened\n"),
              std::string::npos);
    ASSERT_TRUE(log.Open(temp.Path() + "/error.log"));
    EXPECT_EQ(ModeOf(temp.Path() + "/error.log"), 0600u);
    ASSERT_TRUE(log.Add("first"));
    std::string content = ReadWholeFile(temp.Path() + "/error.log");
    EXPECT_EQ(content.substr(0, 3), "!!!");
    EXPECT_EQ(content.substr(content.size() - 9), " - first\n");
}

TEST(LogStamp, DayMonthYearAndTime) {
    std::string stamp = FormatLogStamp(0);
    ASSERT_EQ(stamp.size(), 19u);
    EXPECT_EQ(stamp[2], '.');
    EXPECT_EQ(stamp[5], '.');
    EXPECT_EQ(stamp[13], ':');
}

TEST(DataFolder, FollowsXdgDataHome) {
    TempFolder temp;
    setenv("XDG_DATA_HOME", (temp.Path() + "/share/").c_str(), 1);
    EXPECT_EQ(DefaultDataFolder(), temp.Path() + "/share/Norvex/Corvel");
    setenv("XDG_DATA_HOME", "relative/path", 1);
    setenv("HOME", temp.Path().c_str(), 1);
    EXPECT_EQ(DefaultDataFolder(), temp.Path() + "/.local/share/Norvex/Corvel");
    unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(CreateDataFolder(DefaultDataFolder()));
    EXPECT_EQ(ModeOf(temp.Path() + "/.local/share/Norvex/Corvel"), 0700u);
    WriteWholeFile(temp.Path() + "/file", "x");
    EXPECT_FALSE(CreateDataFolder(temp.Path() + "/file/sub"));
}

}  // namespace
