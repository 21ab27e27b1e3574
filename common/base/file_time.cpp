#include "common/base/file_time.h"

#include <atomic>

namespace {

// Written by tests, read by every "now"; a lone atomic needs no lock.
std::atomic<WallClockSource> gClockSource{nullptr};

}  // namespace

std::chrono::system_clock::time_point WallClockNow() {
    WallClockSource source = gClockSource.load(std::memory_order_acquire);
    return source != nullptr ? source() : std::chrono::system_clock::now();
}

void SetWallClockSource(WallClockSource source) {
    gClockSource.store(source, std::memory_order_release);
}

std::uint64_t FileTimeNow() {
    auto ticks =
        std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
            WallClockNow().time_since_epoch());
    return kUnixEpochAsFileTime + static_cast<std::uint64_t>(ticks.count());
}
