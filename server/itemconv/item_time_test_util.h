// Test helpers for item dates: an item time from its fields, the fixed central
// European zone (UTC+1, daylight saving by the EU rules) the recurrence tests use,
// the weekly series several of them start from, and an exception moving one of its
// occurrences.
#pragma once

#include "server/itemconv/item_time.h"
#include "server/itemconv/recurrence_pattern.h"
#include "server/itemconv/time_zone_info.h"

namespace itemtest {

inline CItemTime T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return CItemTime{y, mo, d, h, mi, s, 0};
}

inline const CRuleTimeZone& Zone() {
    static const CRuleTimeZone zone(FixedCentralEuropeanTimeZone());
    return zone;
}

// A recurring pattern of kind repeating every interval days, weeks, months or years;
// the rest as a fresh pattern has it.
inline RecurrencePattern Series(int kind, int interval = 1) {
    RecurrencePattern p;
    p.recurring = true;
    p.kind = kind;
    p.interval = interval;
    return p;
}

// Every two weeks on Monday and Wednesday, five times, from Monday 2009-03-09
// 10:00-10:30 (series dates only).
inline RecurrencePattern Weekly2MonWed5() {
    RecurrencePattern p = Series(kRecurWeekly, 2);
    p.dayMask = 0x0A;
    p.occurrences = 5;
    p.seriesStart = T(2009, 3, 9, 10, 0);
    p.seriesEnd = T(2009, 3, 9, 10, 30);
    return p;
}

// An exception moving the occurrence that started at original to start..end (local
// times), with the overrides flags.
inline _recur_exception MovedOccurrence(const CItemTime& original, const CItemTime& start,
                                        const CItemTime& end, std::uint16_t flags) {
    _recur_exception e;
    e.originalStart = MinutesFrom1601(original);
    e.start = MinutesFrom1601(start);
    e.end = MinutesFrom1601(end);
    e.overrideFlags = flags;
    return e;
}

}  // namespace itemtest
