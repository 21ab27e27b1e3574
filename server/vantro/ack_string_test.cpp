#include "server/vantro/ack_string.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "server/config/config_test_util.h"
#include "server/syncstate/contents_table_file.h"

namespace {

TEST(AckString, FormatAndSplit) {
    EXPECT_EQ(FormatAckString("PPC1", "-1", "-1_temp"), "PPC1:-1.csv:-1_temp.csv");
    std::optional<CAckString> parts = SplitAckString("PPC1:AB.csv:AB_temp.csv:x");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->deviceId + "|" + parts->stateFile + "|" + parts->tempFile,
              "PPC1|AB.csv|AB_temp.csv:x");
    EXPECT_FALSE(SplitAckString("PPC1:-1.csv"));
    EXPECT_FALSE(SplitAckString(""));
}

TEST(AckString, KeysAreCodesAndHexOnly) {
    EXPECT_TRUE(IsStateFileKey("-1"));
    EXPECT_TRUE(IsStateFileKey("00AFfe"));
    EXPECT_FALSE(IsStateFileKey(""));
    EXPECT_FALSE(IsStateFileKey("../x"));
    EXPECT_FALSE(IsStateFileKey("settings"));
    EXPECT_FALSE(IsStateFileKey("A B"));
}

class AckStringFiles : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = temp_.Path() + "/data";
        std::filesystem::create_directories(data_ + "/PPC1");
        WriteWholeFile(data_ + "/settings.inf", "keep");
        WriteWholeFile(data_ + "/PPC1/-1.csv", "old");
        WriteWholeFile(data_ + "/PPC1/-1_temp.csv", "new");
    }
    std::string State() { return ReadWholeFile(data_ + "/PPC1/-1.csv"); }
    bool TempExists() { return std::filesystem::exists(data_ + "/PPC1/-1_temp.csv"); }

    TempFolder temp_;
    std::string data_;
};

TEST_F(AckStringFiles, InstallsTheSnapshotOnceAndKeepsTheBaselineWhenRepeated) {
    EXPECT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.csv"), AckResult::kInstalled);
    EXPECT_EQ(State(), "new");
    EXPECT_FALSE(TempExists());
    // A repeated acknowledgement finds no snapshot and leaves the baseline alone.
    EXPECT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.csv"), AckResult::kNoSnapshot);
    EXPECT_EQ(State(), "new");
}

TEST_F(AckStringFiles, OnlyTheNewestGenerationIsInstalledAndOnlyOnce) {
    // The older snapshot of the legacy name goes first; then generations 7 and 8.
    ASSERT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.csv"), AckResult::kInstalled);
    WriteWholeFile(data_ + "/PPC1/-1_temp.7.csv", "Generation=7\n[FolderInfo]\n");
    std::uint64_t named = 0;
    EXPECT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.7.csv", &named),
              AckResult::kInstalled);
    EXPECT_EQ(named, 7u);
    EXPECT_EQ(State(), "Generation=7\n[FolderInfo]\n");
    // Sent again: nothing left to install, the baseline stays.
    EXPECT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.7.csv"), AckResult::kOlder);
    EXPECT_EQ(State(), "Generation=7\n[FolderInfo]\n");
    // An unknown generation finds no file.
    EXPECT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.9.csv"), AckResult::kNoSnapshot);
    // A snapshot not newer than the baseline (a cleanup that failed) is removed, not
    // installed; so is a leftover of the legacy name.
    WriteWholeFile(data_ + "/PPC1/-1_temp.6.csv", "Generation=6\n[FolderInfo]\nOLD;1;1;0;x\n");
    EXPECT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.6.csv"), AckResult::kOlder);
    EXPECT_FALSE(std::filesystem::exists(data_ + "/PPC1/-1_temp.6.csv"));
    WriteWholeFile(data_ + "/PPC1/-1_temp.csv", "[FolderInfo]\n");
    EXPECT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.csv"), AckResult::kOlder);
    EXPECT_EQ(State(), "Generation=7\n[FolderInfo]\n");
    WriteWholeFile(data_ + "/PPC1/-1_temp.8.csv", "Generation=8\n[FolderInfo]\n");
    EXPECT_EQ(ApplyAckString(data_, "PPC1", "PPC1:-1.csv:-1_temp.8.csv"), AckResult::kInstalled);
}

TEST(AckString, SnapshotNamesAndGenerations) {
    EXPECT_EQ(FormatAckString("PPC1", "-1", SnapshotFileKey("-1", 7)), "PPC1:-1.csv:-1_temp.7.csv");
    EXPECT_EQ(SnapshotFileKey("-1", 0), "-1_temp");
    EXPECT_EQ(SnapshotGenerationOfName("-1_temp.7.csv", "-1"), 7u);
    EXPECT_EQ(SnapshotGenerationOfName("-1_temp.csv", "-1"), 0u);
    EXPECT_EQ(SnapshotGenerationOfName("-1_temp.18446744073709551615.csv", "-1"),
              18446744073709551615u);
    for (const char* name : {"-1_temp.07.csv", "-1_temp..csv", "-1_temp.x.csv", "-1_temp.7.csv.tmp",
                             "-1_temp.7", "-2_temp.7.csv", "-10_temp.7.csv", "-1_temp.-7.csv",
                             "-1_temp./../x.csv", "-1_temp.18446744073709551616.csv", "-1.csv"})
        EXPECT_FALSE(SnapshotGenerationOfName(name, "-1")) << name;
}

TEST_F(AckStringFiles, HostileOrForeignTokensTouchNothing) {
    const char* tokens[] = {
        "PPC1:-1.csv",              // one ":"
        ".:settings.inf:x",         // another folder, not a state file
        "PPC2:-1.csv:-1_temp.csv",  // another device
        "PPC1:../settings.inf:-1_temp.csv",
        "PPC1:-1.csv:../-1_temp.csv",
        "PPC1:-1.csv:-2_temp.csv",  // snapshot of another folder
        "..:-1.csv:-1_temp.csv",
        "PPC1:/etc/x.csv:/etc/x_temp.csv",
        "PPC1:-1.csv:-1_temp.1/../../settings.inf",
        "PPC1:-1.csv:-1_temp.1.csv/x.csv",
    };
    for (const char* token : tokens) {
        AckResult result = ApplyAckString(data_, "PPC1", token);
        EXPECT_TRUE(result == AckResult::kRefused || result == AckResult::kMalformed) << token;
    }
    EXPECT_EQ(ApplyAckString(data_, "", ":-1.csv:-1_temp.csv"), AckResult::kRefused);
    EXPECT_EQ(State(), "old");
    EXPECT_TRUE(TempExists());
    EXPECT_EQ(ReadWholeFile(data_ + "/settings.inf"), "keep");
}

}  // namespace
