#include "server/vantro/ack_string.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "server/config/config_test_util.h"

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
