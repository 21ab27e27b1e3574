#include "client/state_files.h"

#include <gtest/gtest.h>

#include "client/test_env.h"

namespace {

std::string B(const char* bytes, size_t n) { return std::string(bytes, n); }

class StateFilesTest : public ::testing::Test {
protected:
    std::string Path(const char* name) { return (env_.Root() / name).string(); }
    void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::vector<std::pair<uint32_t, std::string>> ReadAll(const std::string& path) {
        SnapshotReader reader;
        std::vector<std::pair<uint32_t, std::string>> out;
        if (!reader.Open(path)) return out;
        uint32_t oid;
        std::string data;
        while (reader.Next(oid, data) == SnapshotReader::kRecord) out.emplace_back(oid, data);
        EXPECT_FALSE(reader.IsOpen());
        return out;
    }
    TempEnv env_;
};

TEST_F(StateFilesTest, SnapshotRecordsAndEndRecordByteForByte) {
    SnapshotWriter writer;
    ASSERT_TRUE(writer.Open(Path("contacts.dat")));
    writer.Add(0x01020304, "abc", 3);
    writer.Add(7, "", 0);
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(B("\x04\x03\x02\x01\x03\x00\x00\x00"
                "abc"
                "\x07\x00\x00\x00\x00\x00\x00\x00"
                "\x00\x00\x00\x00\x00\x00\x00\x00",
                27),
              TempEnv::ReadFile(Path("contacts.dat")));
    auto records = ReadAll(Path("contacts.dat"));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(0x01020304u, records[0].first);
    EXPECT_EQ("abc", records[0].second);
    EXPECT_EQ(7u, records[1].first);
    EXPECT_EQ("", records[1].second);
}

TEST_F(StateFilesTest, DamagedSnapshotsAreReadToTheLastWholeRecord) {
    std::string record =
        B("\x05\x00\x00\x00\x02\x00\x00\x00"
          "xy",
          10);
    // No end record.
    Write(Path("a.dat"), record);
    EXPECT_EQ(1u, ReadAll(Path("a.dat")).size());
    // A record cut inside its data, and one cut inside its length.
    Write(Path("b.dat"), record + B("\x06\x00\x00\x00\x09\x00\x00\x00"
                                    "abc",
                                    11));
    EXPECT_EQ(1u, ReadAll(Path("b.dat")).size());
    Write(Path("c.dat"), record + B("\x06\x00\x00\x00\x09\x00", 6));
    EXPECT_EQ(1u, ReadAll(Path("c.dat")).size());
    // A length at the limit is read; one past it ends the scan without allocating.
    Write(Path("d.dat"), record + B("\x06\x00\x00\x00\x01\x00\x00\x01", 8));
    EXPECT_EQ(1u, ReadAll(Path("d.dat")).size());
    std::string atLimit =
        B("\x06\x00\x00\x00\x00\x00\x00\x01", 8) + std::string(kMaxSnapshotRecord, 'z');
    Write(Path("e.dat"), record + atLimit);
    EXPECT_EQ(2u, ReadAll(Path("e.dat")).size());
    // Records after the end record are not read.
    Write(Path("f.dat"), B("\x00\x00\x00\x00\x00\x00\x00\x00", 8) + record);
    EXPECT_EQ(0u, ReadAll(Path("f.dat")).size());
    SnapshotReader missing;
    EXPECT_FALSE(missing.Open(Path("none.dat")));
}

TEST_F(StateFilesTest, UnfinishedSnapshotLeavesTheOldFile) {
    Write(Path("t.dat"), "old");
    {
        SnapshotWriter writer;
        ASSERT_TRUE(writer.Open(Path("t.dat")));
        writer.Add(1, "new", 3);
    }  // abandoned
    EXPECT_EQ("old", TempEnv::ReadFile(Path("t.dat")));
    int leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(env_.Root())) {
        if (entry.path().filename().string().rfind("t.dat.tmp", 0) == 0) ++leftovers;
    }
    EXPECT_EQ(0, leftovers);
    SnapshotWriter unwritable;
    EXPECT_FALSE(unwritable.Open(Path("no/such/dir.dat")));
    EXPECT_FALSE(unwritable.Finish());
}

TEST_F(StateFilesTest, IdMapLinesInServerIdOrder) {
    IdMap map = {{"B2", "17"}, {"A1", "5"}};
    ASSERT_TRUE(WriteIdMap(Path("tasks.txt"), map));
    EXPECT_EQ("A1=5\nB2=17\n", TempEnv::ReadFile(Path("tasks.txt")));
    Write(Path("x.txt"), "A1=5\r\nnoequals\n=7\nC=\nD=1=2");
    IdMap back;
    ASSERT_TRUE(ReadIdMap(Path("x.txt"), back));
    EXPECT_EQ((IdMap{{"A1", "5"}, {"C", ""}, {"D", "1=2"}}), back);
    EXPECT_FALSE(ReadIdMap(Path("none.txt"), back));
    EXPECT_TRUE(back.empty());
    EXPECT_FALSE(WriteIdMap(Path("no/such/dir.txt"), map));
}

TEST_F(StateFilesTest, IdMapJournalLinesAreReadBackAndTidiedByTheNextWrite) {
    ASSERT_TRUE(WriteIdMap(Path("tasks.txt"), {{"B2", "17"}}));
    ASSERT_TRUE(AppendIdMapEntry(Path("tasks.txt"), "A1", "5"));
    ASSERT_TRUE(AppendIdMapEntry(Path("tasks.txt"), "B2", "18"));  // the later line counts
    EXPECT_EQ("B2=17\nA1=5\nB2=18\n", TempEnv::ReadFile(Path("tasks.txt")));
    IdMap back;
    ASSERT_TRUE(ReadIdMap(Path("tasks.txt"), back));
    EXPECT_EQ((IdMap{{"A1", "5"}, {"B2", "18"}}), back);
    ASSERT_TRUE(WriteIdMap(Path("tasks.txt"), back));
    EXPECT_EQ("A1=5\nB2=18\n", TempEnv::ReadFile(Path("tasks.txt")));
    // A journal line starts a missing file.
    ASSERT_TRUE(AppendIdMapEntry(Path("new.txt"), "C3", "9"));
    EXPECT_EQ("C3=9\n", TempEnv::ReadFile(Path("new.txt")));
    EXPECT_FALSE(AppendIdMapEntry(Path("no/such/dir.txt"), "A", "1"));
}

TEST_F(StateFilesTest, PendingAckStringsRoundTrip) {
    std::string path = Path(kAckFileName);
    EXPECT_TRUE(ReadAckStrings(path).empty());
    ASSERT_TRUE(
        WriteAckStrings(path, {"D:-1.csv:-1_temp.csv", "", "bad\nline", "D:-3.csv:-3_temp.csv"}));
    // Empty strings and strings with a line break cannot be read back as one: left out.
    EXPECT_EQ("D:-1.csv:-1_temp.csv\nD:-3.csv:-3_temp.csv\n", TempEnv::ReadFile(path));
    EXPECT_EQ((std::vector<std::string>{"D:-1.csv:-1_temp.csv", "D:-3.csv:-3_temp.csv"}),
              ReadAckStrings(path));
    Write(path, "A\r\n\nB");
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), ReadAckStrings(path));
    // An empty list removes the file; removing a missing file is no failure.
    ASSERT_TRUE(WriteAckStrings(path, {}));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(WriteAckStrings(path, {}));
    EXPECT_FALSE(WriteAckStrings(Path("no/such/dir.txt"), {"A"}));
}

}  // namespace
