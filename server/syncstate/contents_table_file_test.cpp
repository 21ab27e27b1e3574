// State files: parsing, row formatting and the atomic write under injected faults.
#include "server/syncstate/contents_table_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "server/config/config_test_util.h"

namespace {

std::string DumpBaseline(const CBaseline& baseline) {
    std::string text;
    for (const auto& [key, row] : baseline) {
        text += key + "|" + std::to_string(row.modLow) + "|" + std::to_string(row.modHigh) + "|" +
                std::to_string(row.readFlag) + "|" + row.label + "\n";
    }
    return text;
}

CLiveRow Row(std::string key, std::int32_t low, std::int32_t high, int read,
             std::optional<std::string> displayName, std::optional<std::string> subject) {
    CLiveRow row;
    row.key = std::move(key);
    row.modLow = low;
    row.modHigh = high;
    row.readFlag = read;
    row.displayName = std::move(displayName);
    row.subject = std::move(subject);
    return row;
}

TEST(StateFileParse, RowsStartAfterTheHeaderWhereverItStands) {
    CBaseline baseline;
    size_t taken = ParseStateFile(
        "junk;1;2;3;before\n"
        "[FolderInfo]\n"
        "0A0B;-5;30000000;1;Meeting\n"
        "\n"
        "01FF;7;8;0;Call Bob\n",
        baseline);
    EXPECT_EQ(taken, 2u);
    EXPECT_EQ(DumpBaseline(baseline),
              "01FF|7|8|0|Call Bob\n"
              "0A0B|-5|30000000|1|Meeting\n");
}

TEST(StateFileParse, FieldRulesOfTheFormat) {
    CBaseline baseline;
    ParseStateFile(
        "[FolderInfo]\r\n"
        "AA;;1;;2;0;runs of separators give no empty fields\r\n"
        "BB;3\n"                                   // missing fields stay 0 or empty
        "CC;x;4;1;Subject; with semicolon;more\n"  // the label ends at the next ";"
        "AA;9;9;9;second AA is ignored\n"
        ";;;\n"                      // no fields: no row
        "DD;4294967295;-1;1;wraps",  // last line without a line end is taken whole
        baseline);
    EXPECT_EQ(DumpBaseline(baseline),
              "AA|1|2|0|runs of separators give no empty fields\n"
              "BB|3|0|0|\n"
              "CC|0|4|1|Subject\n"
              "DD|-1|-1|1|wraps\n");
}

TEST(StateFileParse, WithoutHeaderNothingIsARow) {
    CBaseline baseline;
    baseline["OLD"].key = "OLD";
    EXPECT_EQ(ParseStateFile("AA;1;2;0;x\nFolderInfo\n[FolderInfo] \nBB;1;1;1;y\n", baseline), 0u);
    EXPECT_TRUE(baseline.empty());
}

TEST(StateFileParse, OverlongLineIsSkippedWhole) {
    std::string label(kMaxStateLineLength, 'x');
    CBaseline baseline;
    ParseStateFile("[FolderInfo]\nAA;1;2;0;" + label + "\nBB;3;4;1;short\n", baseline);
    EXPECT_EQ(DumpBaseline(baseline), "BB|3|4|1|short\n");

    // A line exactly at the limit (line end included) is still taken.
    std::string key = "CC;1;1;0;";
    std::string atLimit = key + std::string(kMaxStateLineLength - key.size() - 1, 'y');
    ParseStateFile("[FolderInfo]\n" + atLimit + "\n", baseline);
    ASSERT_EQ(baseline.size(), 1u);
    EXPECT_EQ(baseline.at("CC").label.size(), kMaxStateLineLength - key.size() - 1);
}

TEST(StateFileFormat, RowsAreWrittenByteForByte) {
    EXPECT_EQ(FormatStateRow(Row("00A1", -1951725568, 30123456, 1, "Hans Muster", "ignored")),
              "00A1;-1951725568;30123456;1;Hans Muster");
    EXPECT_EQ(FormatStateRow(Row("00A2", 5, 6, 0, std::nullopt, "Lunch; with Bob")),
              "00A2;5;6;0;Lunch; with Bob");
    EXPECT_EQ(FormatStateRow(Row("00A3", 0, 0, 0, std::nullopt, std::nullopt)),
              "00A3;0;0;0;(null)");
    EXPECT_EQ(FormatStateRow(Row("00A4", 1, 2, 0, "", "subject")), "00A4;1;2;0;");
    // A line break in a label would start a row of its own.
    EXPECT_EQ(FormatStateRow(Row("00A5", 1, 2, 1, std::nullopt, "two\r\nlines\n")),
              "00A5;1;2;1;two  lines ");
}

TEST(StateFileFormat, ALabelLongerThanTheLineLimitIsCutSoThatTheRowReadsBack) {
    // "é" (two bytes) across the cut: the label ends before the character, so the
    // line with its line end is one byte short of the limit.
    std::string label = std::string(kMaxStateLineLength - 13, 'x') + "\xC3\xA9" + "tail";
    std::string line = FormatStateRow(Row("00AB", 1, 2, 0, label, std::nullopt));
    EXPECT_EQ(line.size() + 1, kMaxStateLineLength - 1);
    EXPECT_EQ(line.substr(line.size() - 3), "xxx");
    CBaseline baseline;
    ParseStateFile("[FolderInfo]\n" + line + "\n", baseline);
    ASSERT_EQ(baseline.size(), 1u);
    EXPECT_EQ(baseline.at("00AB").modHigh, 2);
    // A label that fits exactly (line end included) is written whole; one byte
    // more is cut.
    std::string fits(kMaxStateLineLength - 1 - std::string("00AC;1;2;0;").size(), 'y');
    EXPECT_EQ(FormatStateRow(Row("00AC", 1, 2, 0, fits, std::nullopt)).size(),
              kMaxStateLineLength - 1);
    EXPECT_EQ(FormatStateRow(Row("00AC", 1, 2, 0, fits + "z", std::nullopt)).size(),
              kMaxStateLineLength - 1);
}

TEST(StateFileFormat, GenerationLineIsPassedOverByReadersThatDoNotKnowIt) {
    const std::string snapshot = "Generation=7\n[FolderInfo]\nAA;1;2;0;x\n";
    CBaseline baseline;
    // The rows read as ever (the line stands before the header).
    EXPECT_EQ(ParseStateFile(snapshot, baseline), 1u);
    EXPECT_EQ(ParseStateFileGeneration(snapshot), 7u);
    // Files without it, or with a broken one, are of generation 0.
    EXPECT_EQ(ParseStateFileGeneration("[FolderInfo]\nAA;1;2;0;x\n"), 0u);
    EXPECT_EQ(ParseStateFileGeneration("Generation=x\n[FolderInfo]\n"), 0u);
    EXPECT_EQ(ParseStateFileGeneration("[FolderInfo]\nGeneration=9\n"), 0u);
    EXPECT_EQ(ParseStateFileGeneration("Generation=18446744073709551615\r\n[FolderInfo]\n"),
              18446744073709551615u);
}

TEST(StateFileFormat, SubjectWithSemicolonReadsBackCut) {
    CBaseline baseline;
    ParseStateFile(
        "[FolderInfo]\n" + FormatStateRow(Row("0F", 10, 20, 0, std::nullopt, "a;b")) + "\n",
        baseline);
    EXPECT_EQ(DumpBaseline(baseline), "0F|10|20|0|a\n");
}

TEST(SnapshotFiles, GenerationsGrowAndOnlyTheNewestIsKept) {
    TempFolder temp;
    std::string error;
    auto write = [&](const std::string& key, const std::string& text) {
        ASSERT_TRUE(WriteStateFile(StateFilePath(temp.Path(), "PPC1", key), text, error)) << error;
    };
    EXPECT_EQ(NextSnapshotGeneration(temp.Path(), "PPC1", "-1"), 1u);
    write("-1", "Generation=4\n[FolderInfo]\n");
    EXPECT_EQ(NextSnapshotGeneration(temp.Path(), "PPC1", "-1"), 5u);
    write("-1_temp.6", "Generation=6\n[FolderInfo]\n");
    write("-1_temp", "[FolderInfo]\n");
    write("-2_temp.9", "Generation=9\n[FolderInfo]\n");
    EXPECT_EQ(NextSnapshotGeneration(temp.Path(), "PPC1", "-1"), 7u);
    EXPECT_EQ(ListSnapshots(temp.Path(), "PPC1", "-1"),
              (std::map<std::uint64_t, std::string>{{0, "-1_temp.csv"}, {6, "-1_temp.6.csv"}}));
    EXPECT_EQ(RemoveSnapshotsExcept(temp.Path(), "PPC1", "-1", 6), 1);
    EXPECT_EQ(ListSnapshots(temp.Path(), "PPC1", "-1").size(), 1u);
    // Another folder's snapshots are not touched.
    EXPECT_EQ(ListSnapshots(temp.Path(), "PPC1", "-2").size(), 1u);
}

class StateFileWrite : public ::testing::Test {
protected:
    void TearDown() override { SetFileWriteFaultHook(nullptr); }
    std::string PathOf(const std::string& key) { return StateFilePath(temp_.Path(), "PPC1", key); }
    TempFolder temp_;
};

TEST_F(StateFileWrite, CreatesTheDeviceFolderAndWritesTheContent) {
    std::string error;
    std::string path = PathOf("-1_temp");
    EXPECT_EQ(path, temp_.Path() + "/PPC1/-1_temp.csv");
    ASSERT_TRUE(WriteStateFile(path, "[FolderInfo]\nAA;1;2;0;x\n", error)) << error;
    EXPECT_EQ(ReadWholeFile(path), "[FolderInfo]\nAA;1;2;0;x\n");
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(ModeOf(temp_.Path() + "/PPC1"), 0700u);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    CBaseline baseline;
    EXPECT_TRUE(ReadStateFile(path, baseline));
    EXPECT_EQ(DumpBaseline(baseline), "AA|1|2|0|x\n");
    EXPECT_FALSE(ReadStateFile(PathOf("-2"), baseline));
    EXPECT_EQ(DumpBaseline(baseline), "AA|1|2|0|x\n");  // untouched
}

TEST_F(StateFileWrite, AFailureAtAnyStepKeepsThePreviousFile) {
    std::string path = PathOf("-4_temp");
    std::string error;
    ASSERT_TRUE(WriteStateFile(path, "[FolderInfo]\nOLD;1;1;0;old\n", error));
    std::string replacement = "[FolderInfo]\nNEW1;2;2;0;a\nNEW2;3;3;0;b\nNEW3;4;4;0;c\n";
    for (FileWriteStep step : {FileWriteStep::CreateFolder, FileWriteStep::Open,
                               FileWriteStep::Write, FileWriteStep::Sync, FileWriteStep::Rename}) {
        SetFileWriteFaultHook([step](FileWriteStep at) { return at == step; });
        error.clear();
        EXPECT_FALSE(WriteStateFile(path, replacement, error)) << static_cast<int>(step);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadWholeFile(path), "[FolderInfo]\nOLD;1;1;0;old\n") << static_cast<int>(step);
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp")) << static_cast<int>(step);
    }
    SetFileWriteFaultHook(nullptr);
    EXPECT_TRUE(WriteStateFile(path, replacement, error));
    EXPECT_EQ(ReadWholeFile(path), replacement);
}

TEST_F(StateFileWrite, AFailedFirstWriteLeavesNoFile) {
    SetFileWriteFaultHook([](FileWriteStep at) { return at == FileWriteStep::Write; });
    std::string error;
    EXPECT_FALSE(WriteStateFile(PathOf("-3_temp"), "[FolderInfo]\nAA;1;1;0;a\n", error));
    EXPECT_FALSE(std::filesystem::exists(PathOf("-3_temp")));
}

}  // namespace
