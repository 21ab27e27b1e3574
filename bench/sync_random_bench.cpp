// Thousands of seeded random sync schedules (tests/sync_random_schedule.h): skiff
// against corvel --headless, both sides checked against the model after every sync.
// Prints the schedules per second and every failing seed with what differed; the
// exit status is 1 when any schedule failed.
//
//   sync_random_bench [COUNT [FIRST_SEED [ROUNDS]]]   (default 2000 schedules from seed 1,
//                                                      4 rounds each)
// A failing seed is run again alone with COUNT 1 and that seed.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/sync_random_schedule.h"

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 2000;
    const std::uint32_t first = argc > 2 ? static_cast<std::uint32_t>(std::atol(argv[2])) : 1;
    ScheduleLimits limits;
    if (argc > 3) limits.rounds = std::atoi(argv[3]);
    if (count <= 0 || limits.rounds < 0) {
        std::fprintf(stderr, "usage: sync_random_bench [COUNT [FIRST_SEED [ROUNDS]]]\n");
        return 2;
    }
    std::vector<std::uint32_t> failed;
    long syncs = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        const std::uint32_t seed = first + static_cast<std::uint32_t>(i);
        ScheduleOutcome outcome = RunRandomSchedule(seed, limits);
        syncs += outcome.syncs;
        if (!outcome.passed) {
            failed.push_back(seed);
            std::printf("seed %u failed: %s\n", seed, outcome.failure.c_str());
        }
        if ((i + 1) % 50 == 0) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%ld schedules, %zu failed, %.2f schedules/s\n", i + 1, failed.size(),
                        static_cast<double>(i + 1) / seconds);
            std::fflush(stdout);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld schedules (%ld syncs) in %.1f s: %.2f schedules/s, %.1f syncs/s; %zu failed",
                count, syncs, seconds, static_cast<double>(count) / seconds,
                static_cast<double>(syncs) / seconds, failed.size());
    for (std::uint32_t seed : failed) std::printf(" %u", seed);
    std::printf("\n");
    return failed.empty() ? 0 : 1;
}
