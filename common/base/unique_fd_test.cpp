#include "common/base/unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, ClosesWhenItEndsAndHandsTheDescriptorOnWhenMoved) {
    int ends[2];
    ASSERT_EQ(0, ::pipe(ends));
    const int read = ends[0];
    ::close(ends[1]);
    {
        UniqueFd first(read);
        EXPECT_TRUE(first.valid());
        UniqueFd second(std::move(first));
        EXPECT_FALSE(first.valid());  // NOLINT(bugprone-use-after-move): moved-from is empty
        EXPECT_EQ(read, second.get());
        UniqueFd third;
        EXPECT_FALSE(third.valid());
        third = std::move(second);
        EXPECT_EQ(read, third.get());
        EXPECT_TRUE(IsOpen(read));
    }
    EXPECT_FALSE(IsOpen(read));

    // Taking another descriptor closes the one held before.
    ASSERT_EQ(0, ::pipe(ends));
    UniqueFd holder(ends[0]);
    holder = UniqueFd(ends[1]);
    EXPECT_FALSE(IsOpen(ends[0]));
    EXPECT_TRUE(IsOpen(ends[1]));
}

TEST(UniqueFd, CloseReportsItsResultAndLeavesTheHolderEmpty) {
    int ends[2];
    ASSERT_EQ(0, ::pipe(ends));
    ::close(ends[1]);
    UniqueFd fd(ends[0]);
    EXPECT_TRUE(fd.Close());
    EXPECT_FALSE(fd.valid());
    EXPECT_FALSE(IsOpen(ends[0]));
    errno = 0;
    EXPECT_FALSE(fd.Close());  // nothing held
    EXPECT_EQ(EBADF, errno);
    EXPECT_FALSE(UniqueFd(-1).valid());
}

}  // namespace
