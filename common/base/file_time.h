// File times (100-nanosecond ticks since 1601-01-01 UTC) against Unix time, and
// the wall clock every "now" reads, with a seam tests can set.
#pragma once

#include <chrono>
#include <cstdint>

// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
inline constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;
// 1970-01-01 00:00 UTC as a file time.
inline constexpr std::uint64_t kUnixEpochAsFileTime =
    static_cast<std::uint64_t>(kSecondsFrom1601To1970 * kFileTimeTicksPerSecond);

constexpr std::int64_t FileTimeFromUnixSeconds(std::int64_t seconds) {
    return (seconds + kSecondsFrom1601To1970) * kFileTimeTicksPerSecond;
}
// Whole seconds, rounded down (towards the past) for times before 1970 too.
constexpr std::int64_t UnixSecondsFromFileTime(std::int64_t fileTime) {
    std::int64_t seconds = fileTime / kFileTimeTicksPerSecond;
    if (fileTime % kFileTimeTicksPerSecond < 0) --seconds;
    return seconds - kSecondsFrom1601To1970;
}

// The wall clock: the system clock unless a test has set another.
using WallClockSource = std::chrono::system_clock::time_point (*)();
std::chrono::system_clock::time_point WallClockNow();
// Any thread; nullptr gives the system clock back.
void SetWallClockSource(WallClockSource source);
// The wall clock now as a file time.
std::uint64_t FileTimeNow();

// Sets a clock source for its lifetime (tests).
class ScopedWallClock {
public:
    explicit ScopedWallClock(WallClockSource source) { SetWallClockSource(source); }
    ScopedWallClock(const ScopedWallClock&) = delete;
    ScopedWallClock& operator=(const ScopedWallClock&) = delete;
    ~ScopedWallClock() { SetWallClockSource(nullptr); }
};
