// The randomized two-way sync test: seeded schedules of operations on both sides,
// lost answers, a handheld ended or stopped while applying, then two quiet syncs;
// both sides must hold what the model says (tests/sync_random_schedule.h).
//
// SYNC_RANDOM_SCHEDULES=n runs n seeds instead of the default number, from
// SYNC_RANDOM_FIRST (1 when not set); the test command runs further seeds in
// shards this way (tests/sync_random.cmake).
// bench/sync_random_bench.cpp runs thousands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "tests/sync_random_schedule.h"

namespace {

constexpr int kDefaultSchedules = 12;

// Seeds whose schedules found a fault, now mended; each stays as a fixed case
// (7 and 11 are among the default seeds): an empty folder left without a baseline
// on its first sync, so items added later on both sides were paired by name (7, 11,
// 55); a desktop edit undone by fields a handheld applied from an answer it never
// acknowledged (59); an item restored from nothing but the handheld's change after
// the answer carrying its Delete was lost (62); an item the desktop deleted brought
// back by fields the handheld applied from an answer it ended applying (102, 221);
// an item the desktop deleted brought back by the handheld's Add or Modify repeated
// unchanged after a lost or interrupted answer (14, 43, 51, 107, 117, 142, 149,
// 5002, 5005); a field set back on the handheld to its value before a lost answer
// never sent, as the snapshot still held that value (119, 131); a Modify sent again
// unchanged after a lost answer taken as an exchange, so a desktop change the
// handheld never got lost to its deletion (20132); a number the handheld held as 0
// and sent so, removed on the desktop (205, 20270); a field cleared on the handheld
// after a lost answer carrying a Delete taken for no change (20224); a desktop
// change to an item a handheld was killed applying, lost to the handheld's whole
// item, as changes were counted from before the item existed (30534, 30931); an
// item the desktop deleted brought back by a handheld whose number showed 0 after
// it applied an answer that cleared it (32869).
const std::uint32_t kRegressionSeeds[] = {55,  59,    62,    102,   221,   14,    43,    51,
                                          107, 117,   142,   149,   5002,  5005,  119,   131,
                                          205, 20132, 20270, 20224, 30534, 30931, 32869, 33937};

class SyncRandomSeed : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(SyncRandomSeed, BothSidesHoldWhatTheModelSays) {
    ScheduleOutcome outcome = RunRandomSchedule(GetParam());
    EXPECT_TRUE(outcome.passed) << "seed " << GetParam() << ": " << outcome.failure;
    EXPECT_GE(outcome.syncs, 3);
}

INSTANTIATE_TEST_SUITE_P(Regressions, SyncRandomSeed, ::testing::ValuesIn(kRegressionSeeds));

TEST(SyncRandom, SeededSchedulesEndWithBothSidesAsTheModelSays) {
    int count = kDefaultSchedules;
    if (const char* n = std::getenv("SYNC_RANDOM_SCHEDULES")) count = std::atoi(n);
    long first = 1;
    if (const char* f = std::getenv("SYNC_RANDOM_FIRST")) first = std::atol(f);
    ASSERT_GT(first, 0);
    int failed = 0, run = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t seed = static_cast<std::uint32_t>(first + i);
        ++run;
        ScheduleOutcome outcome = RunRandomSchedule(seed);
        if (!outcome.passed) {
            ++failed;
            ADD_FAILURE() << "seed " << seed << ": " << outcome.failure;
        }
    }
    EXPECT_GT(run, 0);
    EXPECT_EQ(failed, 0) << "of " << run << " schedules";
}

}  // namespace
