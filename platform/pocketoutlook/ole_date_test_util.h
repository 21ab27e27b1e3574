// Test helper: the OLE date of a calendar time given field by field.
#pragma once

#include <cstdint>

#include "platform/pocketoutlook/ole_date.h"

// What OleDateOf gives when SystemTimeToVariantTime refuses the fields.
inline constexpr double kRefusedOleDate = -1e9;

inline double OleDateOf(int year, int month, int day, int hour = 0, int minute = 0,
                        int second = 0) {
    const SYSTEMTIME time{.wYear = static_cast<uint16_t>(year),
                          .wMonth = static_cast<uint16_t>(month),
                          .wDay = static_cast<uint16_t>(day),
                          .wHour = static_cast<uint16_t>(hour),
                          .wMinute = static_cast<uint16_t>(minute),
                          .wSecond = static_cast<uint16_t>(second)};
    double out = kRefusedOleDate;
    return SystemTimeToVariantTime(time, &out) ? out : kRefusedOleDate;
}
