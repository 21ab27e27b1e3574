#include "common/wbxml/dump_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/wbxml/wbxml.h"
#include "common/wbxml/wbxml_test_util.h"

namespace {

class DumpCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / ("wbxml_dump_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    std::filesystem::path dir_;
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
    EXPECT_EQ(err.str(), "corvel dump: cannot open " + missing + ": No such file or directory\n");
    EXPECT_EQ(out.str(), "");

    std::ostringstream out2, err2;
    EXPECT_EQ(RunDumpCommand(dir_.string(), out2, err2), 1);
    EXPECT_EQ(err2.str(), "corvel dump: cannot read " + dir_.string() + ": Is a directory\n");

    std::ostringstream out3, err3;
    EXPECT_EQ(RunDumpCommand("", out3, err3), 2);
    EXPECT_NE(err3.str().find("usage: corvel dump FILE"), std::string::npos);
}

TEST_F(DumpCommandTest, UnopenablePathIsAClearError) {
    // A path through a plain file cannot be opened, whoever runs the test.
    std::string path = Write("plain.wbxml", "x") + "/inner";
    std::ostringstream out, err;
    EXPECT_EQ(RunDumpCommand(path, out, err), 1);
    EXPECT_EQ(err.str(), "corvel dump: cannot open " + path + ": Not a directory\n");
    EXPECT_EQ(out.str(), "");
}

TEST_F(DumpCommandTest, ReadsStandardInput) {
    const std::string doc = Bytes("03 01 6A 00 41 01");
    std::string path = Write("in.wbxml", doc);
    // Put the file on descriptor 0 for the call, then restore it.
    int saved = ::dup(STDIN_FILENO);
    int in = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(in, 0);
    ::dup2(in, STDIN_FILENO);
    ::close(in);
    std::ostringstream out, err;
    int status = RunDumpCommand("-", out, err);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.str().find(" <Sync>"), std::string::npos);
    EXPECT_NE(out.str().find(" </Sync>\n"), std::string::npos);
}
