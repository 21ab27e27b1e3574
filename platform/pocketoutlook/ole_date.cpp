// OLE dates over the recurrence layer's calendar (proleptic Gregorian).
#include "platform/pocketoutlook/ole_date.h"

#include <cmath>

#include "common/recurrence/recurrence_rule.h"

bool VariantTimeToSystemTime(double date, SYSTEMTIME* out) {
    if (!out || !std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return false;
    double whole = std::trunc(date);
    double fraction = std::fabs(date - whole);
    int64_t seconds = static_cast<int64_t>(std::llround(fraction * 86400.0));
    int64_t days = static_cast<int64_t>(whole);
    if (seconds >= 86400) {  // rounding reached the next midnight
        seconds -= 86400;
        days += date < 0 ? -1 : 1;
    }
    const int64_t day = days + kOleEpochDay;
    const recur::CivilDate civil = recur::DateOf(day);
    if (civil.year < 100 || civil.year > 9999) return false;
    out->wYear = static_cast<uint16_t>(civil.year);
    out->wMonth = static_cast<uint16_t>(civil.month);
    out->wDay = static_cast<uint16_t>(civil.day);
    out->wHour = static_cast<uint16_t>(seconds / 3600);
    out->wMinute = static_cast<uint16_t>(seconds / 60 % 60);
    out->wSecond = static_cast<uint16_t>(seconds % 60);
    out->wMilliseconds = 0;
    out->wDayOfWeek = static_cast<uint16_t>(recur::WeekdayOf(day));
    return true;
}

bool SystemTimeToVariantTime(const SYSTEMTIME& t, double* out) {
    if (!out || t.wYear < 100 || t.wYear > 9999 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > recur::DaysInMonth(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 ||
        t.wSecond > 59) {
        return false;
    }
    double days = static_cast<double>(recur::DayOf(t.wYear, t.wMonth, t.wDay) - kOleEpochDay);
    double fraction = (t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond) / 86400.0;
    *out = days >= 0 ? days + fraction : days - fraction;
    return true;
}

bool OleDateFromFields(int year, int month, int day, int hour, int minute, int second,
                       double& out) {
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return false;
    SYSTEMTIME t;
    t.wYear = static_cast<uint16_t>(year);
    t.wMonth = static_cast<uint16_t>(month);
    t.wDay = static_cast<uint16_t>(day);
    t.wHour = static_cast<uint16_t>(hour);
    t.wMinute = static_cast<uint16_t>(minute);
    t.wSecond = static_cast<uint16_t>(second);
    return SystemTimeToVariantTime(t, &out);
}
