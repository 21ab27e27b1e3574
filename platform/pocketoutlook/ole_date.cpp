// Calendar arithmetic for OLE dates (proleptic Gregorian calendar).
#include "platform/pocketoutlook/ole_date.h"

#include <cmath>

namespace {

// Days from 1970-01-01 to the given civil date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // OLE day 0 in Unix days

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

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
    int64_t y;
    unsigned m, d;
    int64_t unixDays = days + kEpochOffset;
    CivilFromDays(unixDays, y, m, d);
    if (y < 100 || y > 9999) return false;
    out->wYear = static_cast<uint16_t>(y);
    out->wMonth = static_cast<uint16_t>(m);
    out->wDay = static_cast<uint16_t>(d);
    out->wHour = static_cast<uint16_t>(seconds / 3600);
    out->wMinute = static_cast<uint16_t>(seconds / 60 % 60);
    out->wSecond = static_cast<uint16_t>(seconds % 60);
    out->wMilliseconds = 0;
    int64_t dow = (unixDays + 4) % 7;  // 1970-01-01 was a Thursday
    out->wDayOfWeek = static_cast<uint16_t>(dow < 0 ? dow + 7 : dow);
    return true;
}

bool SystemTimeToVariantTime(const SYSTEMTIME& t, double* out) {
    if (!out || t.wYear < 100 || t.wYear > 9999 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > DaysInMonth(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 ||
        t.wSecond > 59) {
        return false;
    }
    double days = static_cast<double>(DaysFromCivil(t.wYear, t.wMonth, t.wDay) - kEpochOffset);
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
