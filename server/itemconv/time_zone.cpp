#include "server/itemconv/time_zone.h"

#include <ctime>

#include "common/base/file_time.h"

int CTimeZone::OffsetAt(std::int64_t utcSeconds) const {
    std::optional<CZoneState> state = StateAt(utcSeconds);
    return state ? state->offsetMinutes : 0;
}

CItemTime CTimeZone::UtcToLocal(const CItemTime& utc) const {
    std::int64_t seconds = SecondsFrom1601(utc);
    CItemTime local = ItemTimeFromSeconds(seconds + OffsetAt(seconds) * 60);
    local.millisecond = utc.millisecond;
    return local;
}

CItemTime CTimeZone::LocalToUtc(const CItemTime& local) const {
    std::int64_t wall = SecondsFrom1601(local);
    // The offsets a day before and a day after bracket any change near this wall
    // time; each gives a candidate instant that is valid when its offset is the
    // one in force there.
    int before = OffsetAt(wall - 86400);
    int after = OffsetAt(wall + 86400);
    std::int64_t early = wall - before * 60;
    std::int64_t late = wall - after * 60;
    bool earlyValid = OffsetAt(early) == before;
    bool lateValid = OffsetAt(late) == after;
    std::int64_t utc = early;  // also for a skipped wall time
    if (earlyValid && lateValid) {
        utc = early < late ? early : late;
    } else if (lateValid) {
        utc = late;
    }
    CItemTime result = ItemTimeFromSeconds(utc);
    result.millisecond = local.millisecond;
    return result;
}

CItemTime CTimeZone::FiletimeToLocal(std::uint64_t utcFiletime) const {
    return UtcToLocal(ItemTimeFromFiletime(utcFiletime));
}

std::uint64_t CTimeZone::LocalToFiletime(const CItemTime& local) const {
    return FiletimeFromItemTime(LocalToUtc(local));
}

std::optional<CZoneState> CSystemTimeZone::StateAt(std::int64_t utcSecondsFrom1601) const {
    std::time_t unix = static_cast<std::time_t>(utcSecondsFrom1601 - kSecondsFrom1601To1970);
    std::tm tm{};
    if (localtime_r(&unix, &tm) == nullptr) return std::nullopt;
    CZoneState state;
    state.offsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
    state.daylight = tm.tm_isdst > 0;
    return state;
}

const CTimeZone& ServerTimeZone() {
    static const CSystemTimeZone zone;
    return zone;
}

std::string StoreTimeToText(std::uint64_t utcFiletime, const CTimeZone& zone) {
    return FormatItemDate(zone.FiletimeToLocal(utcFiletime));
}

std::optional<std::uint64_t> TextToStoreTime(std::string_view text, const CTimeZone& zone) {
    std::optional<CItemTime> local = ParseItemDate(text);
    if (!local) return std::nullopt;
    return zone.LocalToFiletime(*local);
}
