// The randomized two-way sync test: seeded schedules of operations on both sides,
// lost answers, a handheld ended or stopped while applying, then two quiet syncs;
// both sides must hold what the model says (tests/sync_random_schedule.h).
//
// SYNC_RANDOM_SCHEDULES=n runs n seeded schedules instead of the default number;
// bench/sync_random_bench.cpp runs thousands.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "tests/sync_random_schedule.h"

namespace {

constexpr int kDefaultSchedules = 24;

// Seeds whose schedules once found a fault; each stays as a fixed case.
const std::uint32_t kRegressionSeeds[] = {0};

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
    int failed = 0;
    for (int i = 1; i <= count; ++i) {
        // Far from the regression seeds and from each other's neighbourhoods.
        const std::uint32_t seed = 1000u + static_cast<std::uint32_t>(i);
        ScheduleOutcome outcome = RunRandomSchedule(seed);
        if (!outcome.passed) {
            ++failed;
            ADD_FAILURE() << "seed " << seed << ": " << outcome.failure;
        }
    }
    EXPECT_EQ(failed, 0) << "of " << count << " schedules";
}

}  // namespace
