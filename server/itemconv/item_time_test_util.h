// Test helpers for item dates: an item time from its fields, and the fixed central
// European zone (UTC+1, daylight saving by the EU rules) the recurrence tests use.
#pragma once

#include "server/itemconv/item_time.h"
#include "server/itemconv/time_zone_info.h"

namespace itemtest {

inline CItemTime T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return CItemTime{y, mo, d, h, mi, s, 0};
}

inline const CRuleTimeZone& Zone() {
    static const CRuleTimeZone zone(FixedCentralEuropeanTimeZone());
    return zone;
}

}  // namespace itemtest
