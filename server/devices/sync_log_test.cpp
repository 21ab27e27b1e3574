// The device's sync.log: header, sync and conflict lines, rotation, the last sync.
#include "server/devices/sync_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "server/config/config_test_util.h"

namespace {

SyncLogTime At(long long seconds, int milliseconds = 0) {
    return SyncLogTime(std::chrono::seconds(seconds) + std::chrono::milliseconds(milliseconds));
}

TEST(SyncLog, HeaderOnceThenOneLinePerFolderAndConflict) {
    TempFolder temp;
    std::vector<CSyncFolderLine> sync = {{"Contacts", {2, 1, 0}, {1, 0, 0}, 1},
                                         {"Tasks", {0, 0, 0}, {0, 3, 1}}};
    ASSERT_TRUE(AppendSyncFolders(temp.Path(), "PPC1", sync,
                                  At(1714555812, 5)));  // 2024-05-01 09:30:12.005
    CSyncLogLine odd{"Tasks", "00CD", "TaskBody", "a\tb\nc\\d\r", ""};
    ASSERT_TRUE(AppendSyncLog(temp.Path(), "PPC1", odd, At(1714555813)));
    std::string text = ReadWholeFile(SyncLogPath(temp.Path(), "PPC1"));
    std::string header = SyncLogHeader("PPC1");
    ASSERT_EQ(text.substr(0, header.size()), header);
    EXPECT_EQ(header.substr(0, 36), "# Corvel sync log of device PPC1\n# O");
    EXPECT_EQ(text.substr(header.size()),
              "2024-05-01 09:30:12.005\tsync\tContacts\thandheld +2 ~1 -0\tdesktop +1 ~0 "
              "-0\tconflicts 1\n"
              "2024-05-01 09:30:12.005\tsync\tTasks\thandheld +0 ~0 -0\tdesktop +0 ~3 "
              "-1\tconflicts 0\n"
              "2024-05-01 09:30:13.000\tconflict\tTasks\t00CD\tTaskBody\ta\\tb\\nc\\\\d\\r\t\n");
    EXPECT_EQ(ModeOf(SyncLogPath(temp.Path(), "PPC1")), 0600u);
    // Read back: the fields unescaped, header lines none.
    EXPECT_TRUE(SplitSyncLogLine(header.substr(0, header.find('\n'))).empty());
    EXPECT_EQ(
        SplitSyncLogLine("2024-05-01 09:30:13.000\tconflict\tTasks\t00CD\tTaskBody\ta\\tb\\nc\\\\d"
                         "\\r\t\n"),
        (std::vector<std::string>{"2024-05-01 09:30:13.000", "conflict", "Tasks", "00CD",
                                  "TaskBody", "a\tb\nc\\d\r", ""}));
    // The writer of conflicts gives whole seconds.
    TempFolder other;
    ASSERT_TRUE(AppendSyncLog(other.Path(), "PPC2", {"Contacts", "AB", "FileAs", "x", "y"},
                              std::time_t{1714555812}));
    EXPECT_NE(ReadWholeFile(SyncLogPath(other.Path(), "PPC2"))
                  .find("\n2024-05-01 09:30:12.000\tconflict\tContacts\tAB\tFileAs\tx\ty\n"),
              std::string::npos);
    // A device ID that cannot name a folder writes nothing.
    EXPECT_FALSE(AppendSyncFolders(temp.Path(), "../x", sync, At(1)));
    EXPECT_FALSE(std::filesystem::exists(temp.Path() + "/x"));
}

TEST(SyncLog, TheLastSyncIsTheLastGroupOfSyncLines) {
    TempFolder temp;
    EXPECT_FALSE(ReadLastSync(temp.Path(), "PPC1"));
    ASSERT_TRUE(
        AppendSyncFolders(temp.Path(), "PPC1", {{"Contacts", {5, 0, 0}, {0, 0, 0}}}, At(100)));
    std::vector<CSyncFolderLine> second = {{"Contacts", {0, 1, 0}, {2, 0, 0}, 2},
                                           {"Calendar", {0, 0, 1}, {0, 0, 0}}};
    ASSERT_TRUE(AppendSyncFolders(temp.Path(), "PPC1", second, At(200)));
    ASSERT_TRUE(
        AppendSyncLog(temp.Path(), "PPC1", {"Contacts", "AB", "FileAs", "x", "y"}, At(201)));
    std::optional<CLastSync> last = ReadLastSync(temp.Path(), "PPC1");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->time, 200);
    EXPECT_EQ(last->timeText, "1970-01-01 00:03:20.000");
    EXPECT_EQ(last->folders, second);
    // A sync in the same millisecond as the one before still is a sync of its own.
    std::vector<CSyncFolderLine> third = {{"Contacts", {0, 0, 0}, {0, 0, 0}}};
    ASSERT_TRUE(AppendSyncFolders(temp.Path(), "PPC1", third, At(200)));
    last = ReadLastSync(temp.Path(), "PPC1");
    EXPECT_EQ(last->timeText, "1970-01-01 00:03:20.001");
    EXPECT_EQ(last->folders, third);
    CSyncCounts counts;
    EXPECT_TRUE(ParseSyncCounts("desktop +1 ~22 -333", "desktop", counts));
    EXPECT_EQ(counts, (CSyncCounts{1, 22, 333}));
    EXPECT_FALSE(ParseSyncCounts("desktop +1 ~22 -333x", "desktop", counts));
    EXPECT_FALSE(ParseSyncCounts("handheld +1 ~2 -3", "desktop", counts));
}

TEST(SyncLog, AFullFileIsSetAsideAndTheNewOneBeginsWithTheHeader) {
    TempFolder temp;
    std::string path = SyncLogPath(temp.Path(), "PPC1");
    ASSERT_TRUE(
        AppendSyncFolders(temp.Path(), "PPC1", {{"Contacts", {1, 0, 0}, {0, 0, 0}}}, At(100)));
    WriteWholeFile(path, ReadWholeFile(path) + std::string(kMaxSyncLogBytes, '#') + "\n");
    ASSERT_TRUE(AppendSyncFolders(temp.Path(), "PPC1", {{"Tasks", {0, 0, 0}, {1, 0, 0}}}, At(300)));
    EXPECT_TRUE(std::filesystem::exists(path + ".1"));
    EXPECT_EQ(ReadWholeFile(path),
              SyncLogHeader("PPC1") +
                  "1970-01-01 00:05:00.000\tsync\tTasks\thandheld +0 ~0 -0\tdesktop +1 ~0 "
                  "-0\tconflicts 0\n");
    EXPECT_EQ(ReadLastSync(temp.Path(), "PPC1")->time, 300);
    // With only a header in the current file, the last sync is the older file's.
    WriteWholeFile(path, SyncLogHeader("PPC1"));
    EXPECT_EQ(ReadLastSync(temp.Path(), "PPC1")->time, 100);
}

}  // namespace
