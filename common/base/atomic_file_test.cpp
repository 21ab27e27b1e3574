#include "common/base/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "common/base/temp_home.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

class AtomicWrite : public ::testing::Test {
protected:
    void TearDown() override { SetFileWriteFaultHook(nullptr); }
    std::string PathOf(const std::string& name) const { return folder_.Path() + "/" + name; }
    TempFolder folder_;
};

TEST_F(AtomicWrite, ReplacesWholeAndLeavesNoTemporary) {
    std::string path = PathOf("settings.inf");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "one\n", error)) << error;
    ASSERT_TRUE(WriteFileAtomically(path, "two\n", error)) << error;
    EXPECT_EQ(ReadAll(path), "two\n");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    EXPECT_EQ(ModeOf(path), 0600u);
    FileWriteResult missing = WriteFileAtomically(PathOf("no/such/folder/f"), "x");
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.failedAt, FileWriteStep::Open);
    EXPECT_EQ(missing.error,
              "cannot create " + PathOf("no/such/folder/f") + ".tmp: No such file or directory");
}

TEST_F(AtomicWrite, AFailureAtAnyStepKeepsThePreviousFile) {
    std::string path = PathOf("state");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "old\n", error));
    for (FileWriteStep step :
         {FileWriteStep::Open, FileWriteStep::Write, FileWriteStep::Sync, FileWriteStep::Rename}) {
        SetFileWriteFaultHook([step](FileWriteStep at) { return at == step; });
        FileWriteResult result = WriteFileAtomically(path, "new content\n");
        EXPECT_FALSE(result) << static_cast<int>(step);
        EXPECT_EQ(result.failedAt, step);
        EXPECT_EQ(ReadAll(path), "old\n") << static_cast<int>(step);
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp")) << static_cast<int>(step);
    }
    SetFileWriteFaultHook([](FileWriteStep at) { return at == FileWriteStep::Sync; });
    EXPECT_EQ(WriteFileAtomically(path, "x").error,
              "cannot flush " + path + ": Input/output error");
    SetFileWriteFaultHook(nullptr);
    EXPECT_TRUE(WriteFileAtomically(path, "new content\n"));
    EXPECT_EQ(ReadAll(path), "new content\n");
}

TEST_F(AtomicWrite, AStaleOwnerOnlyTemporaryIsTightenedAndAnOrdinaryFileFollowsTheUmask) {
    std::string path = PathOf("profile");
    {
        std::ofstream stale(path + ".tmp");
        stale << "left from a crash";
    }
    std::filesystem::permissions(path + ".tmp", std::filesystem::perms::all);
    ASSERT_TRUE(WriteFileAtomically(path, "secret"));
    EXPECT_EQ(ModeOf(path), 0600u);

    mode_t old = umask(022);
    AtomicWriteOptions ordinary;
    ordinary.ownerOnly = false;
    ordinary.temporaryPerProcess = true;
    EXPECT_NE(TemporaryPathFor(path, ordinary), path + ".tmp");
    std::string exported = PathOf("export.ics");
    EXPECT_TRUE(WriteFileAtomically(exported, "BEGIN:VCALENDAR\r\n", ordinary));
    umask(old);
    EXPECT_EQ(ModeOf(exported), 0644u);
    EXPECT_EQ(ReadAll(exported), "BEGIN:VCALENDAR\r\n");
    EXPECT_FALSE(std::filesystem::exists(TemporaryPathFor(exported, ordinary)));
}

TEST_F(AtomicWrite, ATemporaryWrittenElsewhereReplacesTheTarget) {
    std::string path = PathOf("snapshot");
    std::string temporary = path + ".part";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "old", error));
    { std::ofstream(temporary) << "new"; }
    SetFileWriteFaultHook([](FileWriteStep at) { return at == FileWriteStep::Rename; });
    EXPECT_FALSE(ReplaceWithTemporary(temporary, path, error));
    EXPECT_EQ(error, "cannot rename " + path + ": Invalid cross-device link");
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_EQ(ReadAll(path), "old");
    SetFileWriteFaultHook(nullptr);
    { std::ofstream(temporary) << "new"; }
    EXPECT_TRUE(ReplaceWithTemporary(temporary, path, error)) << error;
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_FALSE(ReplaceWithTemporary(PathOf("absent"), path, error));
    EXPECT_EQ(ReadAll(path), "new");
}

// More than a pipe holds at once: the writer goes on after each partial write.
TEST(WriteAllTo, WritesEveryByteThroughPartialWrites) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::string content(1 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    std::string received;
    std::thread reader([&received, fd = ends[0]] {
        std::vector<char> chunk(4096);
        ssize_t n;
        while ((n = read(fd, chunk.data(), chunk.size())) > 0)
            received.append(chunk.data(), static_cast<size_t>(n));
    });
    EXPECT_TRUE(WriteAllTo(ends[1], content));
    close(ends[1]);
    reader.join();
    close(ends[0]);
    EXPECT_EQ(received, content);
    EXPECT_FALSE(WriteAllTo(-1, "x"));
    EXPECT_TRUE(WriteAllTo(-1, ""));  // nothing to write is no failure
}

}  // namespace
