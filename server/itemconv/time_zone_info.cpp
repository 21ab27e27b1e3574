#include "server/itemconv/time_zone_info.h"

#include <ctime>

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

void PutRule(std::vector<std::uint8_t>& out, const CTimeZoneRule& r) {
    for (std::uint16_t v :
         {r.year, r.month, r.dayOfWeek, r.day, r.hour, r.minute, r.second, r.millisecond}) {
        Put16(out, v);
    }
}

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::int32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | b[at + i];
    return static_cast<std::int32_t>(u);
}

CTimeZoneRule GetRule(std::span<const std::uint8_t> b, std::size_t at) {
    CTimeZoneRule r;
    std::uint16_t* fields[] = {&r.year, &r.month,  &r.dayOfWeek, &r.day,
                               &r.hour, &r.minute, &r.second,    &r.millisecond};
    for (std::size_t i = 0; i < 8; ++i) *fields[i] = Get16(b, at + 2 * i);
    return r;
}

// Seconds since 1601 (local wall clock) at which a rule falls in year; nothing when
// the rule does not apply to that year.
std::optional<std::int64_t> RuleInstant(const CTimeZoneRule& rule, int year) {
    if (rule.month < 1 || rule.month > 12) return std::nullopt;
    int day;
    if (rule.year != 0) {
        if (rule.year != year) return std::nullopt;
        day = rule.day;
    } else {
        int weekdayOfFirst = WeekdayOfDay(DaysFrom1601(year, rule.month, 1));
        int first = 1 + (rule.dayOfWeek % 7 - weekdayOfFirst + 7) % 7;
        int n = rule.day < 1 ? 1 : (rule.day > 5 ? 5 : rule.day);
        day = first + (n - 1) * 7;
        while (day > DaysInMonth(year, rule.month)) day -= 7;
    }
    return DaysFrom1601(year, rule.month, day) * 86400 + rule.hour * 3600 + rule.minute * 60 +
           rule.second;
}

CTimeZoneRule RuleFromLocal(const CItemTime& local) {
    CTimeZoneRule r;
    r.month = static_cast<std::uint16_t>(local.month);
    r.dayOfWeek =
        static_cast<std::uint16_t>(WeekdayOfDay(DaysFrom1601(local.year, local.month, local.day)));
    r.day = static_cast<std::uint16_t>(
        local.day + 7 > DaysInMonth(local.year, local.month) ? 5 : (local.day - 1) / 7 + 1);
    r.hour = static_cast<std::uint16_t>(local.hour);
    r.minute = static_cast<std::uint16_t>(local.minute);
    r.second = static_cast<std::uint16_t>(local.second);
    return r;
}

struct Change {
    std::int64_t at;  // first second of the new state, UTC
    CZoneState before;
    CZoneState after;
};

bool SameState(const CZoneState& a, const CZoneState& b) {
    return a.offsetMinutes == b.offsetMinutes && a.daylight == b.daylight;
}

}  // namespace

std::vector<std::uint8_t> EncodeTimeZoneStruct(const CTimeZoneStruct& zone) {
    std::vector<std::uint8_t> out;
    out.reserve(kTimeZoneStructSize);
    Put32(out, zone.bias);
    Put32(out, zone.standardBias);
    Put32(out, zone.daylightBias);
    Put16(out, zone.standardYear);
    PutRule(out, zone.standardDate);
    Put16(out, zone.daylightYear);
    PutRule(out, zone.daylightDate);
    return out;
}

std::optional<CTimeZoneStruct> DecodeTimeZoneStruct(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kTimeZoneStructSize) return std::nullopt;
    CTimeZoneStruct zone;
    zone.bias = Get32(bytes, 0);
    zone.standardBias = Get32(bytes, 4);
    zone.daylightBias = Get32(bytes, 8);
    zone.standardYear = Get16(bytes, 12);
    zone.standardDate = GetRule(bytes, 14);
    zone.daylightYear = Get16(bytes, 30);
    zone.daylightDate = GetRule(bytes, 32);
    return zone;
}

CTimeZoneStruct FixedCentralEuropeanTimeZone() {
    CTimeZoneStruct zone;
    zone.bias = -60;
    zone.standardBias = 0;
    zone.daylightBias = -60;
    zone.standardDate.month = 10;
    zone.standardDate.day = 5;
    zone.standardDate.hour = 3;
    zone.daylightDate.month = 3;
    zone.daylightDate.day = 5;
    zone.daylightDate.hour = 2;
    return zone;
}

std::optional<CTimeZoneStruct> TimeZoneStructOfZone(const CTimeZone& zone, int year) {
    const std::int64_t begin = DaysFrom1601(year, 1, 1) * 86400;
    const std::int64_t end = DaysFrom1601(year + 1, 1, 1) * 86400;
    std::optional<CZoneState> previous = zone.StateAt(begin);
    if (!previous) return std::nullopt;
    std::vector<Change> changes;
    // Step through the year by days; narrow every change down to the second.
    for (std::int64_t t = begin; t < end;) {
        std::int64_t next = t + 86400 < end ? t + 86400 : end;
        std::optional<CZoneState> state = zone.StateAt(next);
        if (!state) return std::nullopt;
        if (!SameState(*state, *previous)) {
            std::int64_t low = t, high = next;  // state at low is previous, at high is state
            while (high - low > 1) {
                std::int64_t mid = low + (high - low) / 2;
                std::optional<CZoneState> m = zone.StateAt(mid);
                if (!m) return std::nullopt;
                if (SameState(*m, *previous)) {
                    low = mid;
                } else {
                    high = mid;
                }
            }
            changes.push_back({high, *previous, *state});
        }
        previous = state;
        t = next;
    }

    CTimeZoneStruct result;
    const Change* toDaylight = nullptr;
    const Change* toStandard = nullptr;
    for (const Change& c : changes) {
        if (!c.before.daylight && c.after.daylight) toDaylight = &c;
        if (c.before.daylight && !c.after.daylight) toStandard = &c;
    }
    if (changes.size() != 2 || toDaylight == nullptr || toStandard == nullptr ||
        toDaylight->before.offsetMinutes != toStandard->after.offsetMinutes) {
        result.bias = -previous->offsetMinutes;
        return result;
    }
    int standardOffset = toDaylight->before.offsetMinutes;
    int daylightOffset = toDaylight->after.offsetMinutes;
    result.bias = -standardOffset;
    result.daylightBias = -(daylightOffset - standardOffset);
    // Each change is named by the wall clock that is in force just before it.
    result.daylightDate = RuleFromLocal(ItemTimeFromSeconds(toDaylight->at + standardOffset * 60));
    result.standardDate = RuleFromLocal(ItemTimeFromSeconds(toStandard->at + daylightOffset * 60));
    return result;
}

CTimeZoneStruct ServerTimeZoneStruct() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    if (now == static_cast<std::time_t>(-1) || gmtime_r(&now, &tm) == nullptr) {
        return FixedCentralEuropeanTimeZone();
    }
    std::optional<CTimeZoneStruct> zone = TimeZoneStructOfZone(ServerTimeZone(), tm.tm_year + 1900);
    return zone ? *zone : FixedCentralEuropeanTimeZone();
}

std::optional<CZoneState> CRuleTimeZone::StateAt(std::int64_t utc) const {
    CZoneState standard{-(rules_.bias + rules_.standardBias), false};
    if (rules_.standardDate.month == 0) return standard;
    CZoneState daylight{-(rules_.bias + rules_.daylightBias), true};
    int year = ItemTimeFromSeconds(utc + standard.offsetMinutes * 60).year;
    std::optional<std::int64_t> start = RuleInstant(rules_.daylightDate, year);
    std::optional<std::int64_t> stop = RuleInstant(rules_.standardDate, year);
    if (!start || !stop) return standard;
    // Daylight time begins by the standard clock and ends by the daylight clock.
    std::int64_t startUtc = *start - standard.offsetMinutes * 60;
    std::int64_t stopUtc = *stop - daylight.offsetMinutes * 60;
    bool inDaylight = startUtc < stopUtc ? (utc >= startUtc && utc < stopUtc)
                                         : (utc >= startUtc || utc < stopUtc);
    return inDaylight ? daylight : standard;
}
