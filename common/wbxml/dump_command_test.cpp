#include "common/wbxml/dump_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/base/temp_home.h"
#include "common/wbxml/wbxml.h"
#include "common/wbxml/wbxml_test_util.h"

namespace {

class DumpCommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    TempFolder folder_{"wbxml_dump"};
    const std::filesystem::path dir_{folder_.Path()};
};

}  // namespace

TEST_F(DumpCommandTest, DumpsAFileAsTheLogDoes) {
    const std::string doc = Bytes("03 01 6A 00 41 58 03 78 00 01 01");
    std::ostringstream expected;
    CWBXML w;
    w.DumpDocument(expected, doc);
    std::ostringstream out, err;
    EXPECT_EQ(RunDumpCommand(Write("answer.wbxml", doc), out, err), 0);
    EXPECT_EQ(out.str(), expected.str());
    EXPECT_NE(out.str().find("  <ServerID>"), std::string::npos);
    EXPECT_EQ(err.str(), "");
}

TEST_F(DumpCommandTest, MissingFileAndDirectoryAreClearErrors) {
    std::ostringstream out, err;
    std::string missing = (dir_ / "nothing.wbxml").string();
    EXPECT_EQ(RunDumpCommand(missing, out, err), 1);
    EXPECT_EQ(err.str(),
              Cat("corvel dump: cannot open ", missing, ": No such file or directory\n"));
    EXPECT_EQ(out.str(), "");

    std::ostringstream out2, err2;
    EXPECT_EQ(RunDumpCommand(dir_.string(), out2, err2), 1);
    EXPECT_EQ(err2.str(), Cat("corvel dump: cannot read ", dir_.string(), ": Is a directory\n"));

    std::ostringstream out3, err3;
    EXPECT_EQ(RunDumpCommand("", out3, err3), 2);
    EXPECT_NE(err3.str().find("usage: corvel dump FILE"), std::string::npos);
}

TEST_F(DumpCommandTest, UnopenablePathIsAClearError) {
    // A path through a plain file cannot be opened, whoever runs the test.
    std::string path = Write("plain.wbxml", "x") + "/inner";
    std::ostringstream out, err;
    EXPECT_EQ(RunDumpCommand(path, out, err), 1);
    EXPECT_EQ(err.str(), Cat("corvel dump: cannot open ", path, ": Not a directory\n"));
    EXPECT_EQ(out.str(), "");
}

TEST_F(DumpCommandTest, DashReadsTheInputStream) {
    std::istringstream in(Bytes("03 01 6A 00 41 03 00 01"));
    std::ostringstream out, err;
    EXPECT_EQ(RunDumpCommand("-", out, err, in), 0);
    std::ostringstream expected;
    CWBXML w;
    w.DumpDocument(expected, Bytes("03 01 6A 00 41 03 00 01"));
    EXPECT_EQ(out.str(), expected.str());
    EXPECT_NE(out.str().find(" <Sync>"), std::string::npos);
    EXPECT_EQ(err.str(), "");
}
