// CFolderInfo without a store: baseline loading, comparison, snapshot rows, and the
// day-window arithmetic.
#include "server/syncstate/folder_info.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/base/file_time.h"
#include "server/config/config_test_util.h"
#include "server/config/live_trace.h"

namespace {

class TraceCapture {
public:
    TraceCapture() {
        SetLiveTraceSink([this](const std::string& line) { lines_ += line + "|"; });
    }
    ~TraceCapture() { SetLiveTraceSink(nullptr); }
    std::string Take() { return std::exchange(lines_, std::string()); }

private:
    std::string lines_;
};

CLiveRow Live(std::string key, std::int32_t low, int read = 0,
              std::optional<std::string> name = std::nullopt) {
    CLiveRow row;
    row.key = std::move(key);
    row.modLow = low;
    row.modHigh = 30000000;
    row.readFlag = read;
    row.displayName = std::move(name);
    return row;
}

class FolderInfoTest : public ::testing::Test {
protected:
    FolderInfoTest() : info_(temp_.Path(), "00AABB", "Inbox") {}

    // Writes the snapshot and makes it the baseline, as an acknowledgement does.
    void SnapshotAndAcknowledge(const std::vector<CLiveRow>& rows) {
        ASSERT_TRUE(info_.SaveRows("PPC1", "-4_temp", rows));
        std::filesystem::rename(StateFilePath(temp_.Path(), "PPC1", "-4_temp"),
                                StateFilePath(temp_.Path(), "PPC1", "-4"));
    }

    std::string Compute(const std::string& className, const std::vector<CLiveRow>& rows) {
        ChangeList changes;
        info_.LoadContentsTable("PPC1", "-4");
        info_.CompareRows(className, rows, changes);
        return DumpChangeList(changes);
    }

    TempFolder temp_;
    TraceCapture trace_;
    CFolderInfo info_;
};

TEST_F(FolderInfoTest, FirstSyncReportsEverythingNewThenNothingAfterAcknowledgement) {
    std::vector<CLiveRow> rows = {Live("0B", 100, 0, "B item"), Live("0A", 200)};
    EXPECT_EQ(Compute("Contact", rows), "1 0B B item\n1 0A unknown\n");
    EXPECT_EQ(trace_.Take(), "Folder Inbox\n|2 changed items|");

    SnapshotAndAcknowledge(rows);
    EXPECT_EQ(trace_.Take(),
              "Saving Table -4_temp|0B;100;30000000;0;B item|0A;200;30000000;0;(null)|");
    EXPECT_EQ(Compute("Contact", rows), "");
    EXPECT_EQ(info_.StateFilePathLoaded(), temp_.Path() + "/PPC1/-4.csv");
}

TEST_F(FolderInfoTest, ModifiedReadAndDeletedEntriesInTheirOrder) {
    SnapshotAndAcknowledge({Live("01", 10), Live("02", 20), Live("03", 30, 0), Live("04", 40)});
    std::vector<CLiveRow> now = {Live("03", 30, 1, "mail"), Live("05", 50), Live("02", 21)};
    // Read state counts only in mail folders; deletions follow in key order.
    EXPECT_EQ(Compute("Email", now),
              "5 03 mail read=1\n"
              "1 05 unknown\n"
              "2 02 unknown\n"
              "4 01 unknown\n"
              "4 04 unknown\n");
    EXPECT_EQ(Compute("Task", now),
              "1 05 unknown\n"
              "2 02 unknown\n"
              "4 01 unknown\n"
              "4 04 unknown\n");
    // A high half that differs is a modification too.
    CLiveRow high = Live("01", 10);
    high.modHigh = 30000001;
    EXPECT_EQ(Compute("Email", {high}), "2 01 unknown\n4 02 unknown\n4 03 unknown\n4 04 unknown\n");
}

TEST_F(FolderInfoTest, ResetReportsEverythingNewOnce) {
    SnapshotAndAcknowledge({Live("01", 10)});
    ChangeList changes;
    changes.push_back(std::make_unique<CChangeEntry>(kChangeNew, "stale", "x"));
    info_.LoadContentsTable("PPC1", "-4");
    info_.SetReset(true);
    info_.CompareRows("Email", {Live("01", 10), Live("02", 20)}, changes);
    EXPECT_EQ(DumpChangeList(changes), "1 01 unknown\n1 02 unknown\n");
    EXPECT_FALSE(info_.Reset());
    EXPECT_EQ(Compute("Email", {Live("01", 10), Live("02", 20)}), "1 02 unknown\n");
}

TEST_F(FolderInfoTest, RemovedStateFileEmptiesTheBaseline) {
    SnapshotAndAcknowledge({Live("01", 10)});
    EXPECT_TRUE(info_.LoadContentsTable("PPC1", "-4"));
    EXPECT_EQ(info_.Baseline().size(), 1u);
    std::filesystem::remove(StateFilePath(temp_.Path(), "PPC1", "-4"));
    EXPECT_FALSE(info_.LoadContentsTable("PPC1", "-4"));
    EXPECT_TRUE(info_.Baseline().empty());
    EXPECT_EQ(Compute("Email", {Live("01", 10)}), "1 01 unknown\n");
}

TEST_F(FolderInfoTest, FailedSnapshotKeepsThePreviousOneAndSaysSo) {
    ASSERT_TRUE(info_.SaveRows("PPC1", "-4_temp", {Live("01", 10)}));
    SetFileWriteFaultHook([](FileWriteStep step) { return step == FileWriteStep::Write; });
    trace_.Take();
    EXPECT_FALSE(info_.SaveRows("PPC1", "-4_temp", {Live("01", 11), Live("02", 20)}));
    SetFileWriteFaultHook(nullptr);
    EXPECT_EQ(ReadWholeFile(StateFilePath(temp_.Path(), "PPC1", "-4_temp")),
              "[FolderInfo]\n01;10;30000000;0;(null)\n");
    EXPECT_NE(trace_.Take().find("Saving Table -4_temp failed: cannot write "), std::string::npos);
}

TEST(DayWindow, CodesCountsAndBounds) {
    EXPECT_EQ(DayWindowDays(0), 0);
    EXPECT_EQ(DayWindowDays(-1), 1);
    EXPECT_EQ(DayWindowDays(-2), 3);
    EXPECT_EQ(DayWindowDays(-3), 7);
    EXPECT_EQ(DayWindowDays(-4), 14);
    EXPECT_EQ(DayWindowDays(-5), 31);
    EXPECT_EQ(DayWindowDays(-6), 91);
    // Not a code: no window rather than a window that ends in the future.
    EXPECT_EQ(DayWindowDays(-7), 0);
    EXPECT_EQ(DayWindowDays(-2000000000), 0);
    EXPECT_EQ(DayWindowDays(5), 5);
    EXPECT_EQ(DayWindowDays(kMaxWindowDays), kMaxWindowDays);
    EXPECT_EQ(DayWindowDays(kMaxWindowDays + 1), kMaxWindowDays);
    EXPECT_EQ(DayWindowDays(2000000000), kMaxWindowDays);
}

TEST(DayWindow, CutoffIsDaysBeforeNowInUtc) {
    // 2010-01-08 00:00 UTC minus seven days is 2010-01-01 00:00 UTC.
    constexpr std::int64_t k20100108 = 129073824000000000LL;
    constexpr std::int64_t k20100101 = 129067776000000000LL;
    EXPECT_EQ(DayWindowCutoff(7, k20100108), k20100101);
    EXPECT_EQ(DayWindowCutoff(kMaxWindowDays, k20100108), k20100108 - 36500LL * 864000000000LL);
    // The clock is UTC: compare with time() (seconds since 1970).
    std::int64_t now = static_cast<std::int64_t>(FileTimeNow());
    std::int64_t fromTime = FileTimeFromUnixSeconds(time(nullptr));
    EXPECT_LE(std::llabs(now - fromTime), 10000000LL * 120);  // within two minutes
}

}  // namespace
