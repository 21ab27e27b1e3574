#include "common/base/file_time.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(FileTime, ConvertsBetweenTheEpochs) {
    EXPECT_EQ(FileTimeFromUnixSeconds(0), 116444736000000000);
    EXPECT_EQ(static_cast<std::uint64_t>(FileTimeFromUnixSeconds(0)), kUnixEpochAsFileTime);
    EXPECT_EQ(FileTimeFromUnixSeconds(-kSecondsFrom1601To1970), 0);
    // 2009-03-07 13:05:09 UTC.
    EXPECT_EQ(FileTimeFromUnixSeconds(1236431109), 128809047090000000);
    EXPECT_EQ(UnixSecondsFromFileTime(128809047092500000), 1236431109);
    // Before 1970 a part second still belongs to the second before.
    EXPECT_EQ(UnixSecondsFromFileTime(static_cast<std::int64_t>(kUnixEpochAsFileTime) - 1), -1);
    EXPECT_EQ(UnixSecondsFromFileTime(0), -kSecondsFrom1601To1970);
    EXPECT_EQ(UnixSecondsFromFileTime(-1), -kSecondsFrom1601To1970 - 1);
}

std::chrono::system_clock::time_point FixedClock() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1236431109)) +
           std::chrono::microseconds(250000) + std::chrono::nanoseconds(100);
}

TEST(FileTime, NowFollowsTheClockSeamAndReturnsToTheSystemClock) {
    {
        ScopedWallClock clock(FixedClock);
        EXPECT_EQ(WallClockNow(), FixedClock());
        EXPECT_EQ(FileTimeNow(), 128809047092500001u);
    }
    std::int64_t before = FileTimeFromUnixSeconds(std::time(nullptr));
    std::uint64_t now = FileTimeNow();
    std::int64_t after = FileTimeFromUnixSeconds(std::time(nullptr) + 1);
    EXPECT_GE(static_cast<std::int64_t>(now), before);
    EXPECT_LE(static_cast<std::int64_t>(now), after);
}

}  // namespace
