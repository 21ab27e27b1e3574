// Test helpers for item dates: an item time from its fields, and the fixed central
// European zone (UTC+1, daylight saving by the EU rules) the recurrence tests use.
#pragma once

#include "server/itemconv/item_time.h"
#include "server/itemconv/time_zone_info.h"

namespace itemtest {

inline CItemTime T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    CItemTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    return t;
}

inline const CRuleTimeZone& Zone() {
    static const CRuleTimeZone zone(FixedCentralEuropeanTimeZone());
    return zone;
}

}  // namespace itemtest
