// Date, integer and checksum forms of item fields.
#include "client/value_forms.h"

#include <array>
#include <cstdio>

#include "common/base/text.h"
#include "platform/pocketoutlook/ole_date.h"

namespace {

bool Split(double date, bool noDateToo, SYSTEMTIME& t) {
    if (date == 0.0 || (noDateToo && date == kOleNoDate)) return false;
    return VariantTimeToSystemTime(date, &t);
}

// Digits at text[from, from + count); -1 when any is not a digit.
int Digits(std::string_view text, size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Where the fields of a date stand in each of its text forms.
struct DateLayout {
    size_t day, month, year, hour, minute, second;
};
constexpr DateLayout kServerDateForm{0, 3, 6, 11, 14, 17};  // dd.mm.yyyy hh:mm.ss:ms
constexpr DateLayout kClientDateForm{0, 2, 4, 9, 12, 15};   // ddmmyyyy hh:mm:ss

}  // namespace

std::string FormatClientDate(double date, bool noDateToo) {
    SYSTEMTIME t;
    if (!Split(date, noDateToo, t)) return "";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d%02d%04d %02d:%02d:%02d", t.wDay, t.wMonth, t.wYear,
                  t.wHour, t.wMinute, t.wSecond);
    return buf;
}

std::string FormatServerDate(double date, bool noDateToo) {
    SYSTEMTIME t;
    if (!Split(date, noDateToo, t)) return "";
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d.%02d:%d", t.wDay, t.wMonth, t.wYear,
                  t.wHour, t.wMinute, t.wSecond, 0);
    return buf;
}

bool ParseDate(std::string_view text, double& date) {
    const DateLayout& at = text.size() > 2 && text[2] == '.' ? kServerDateForm : kClientDateForm;
    double value = 0;
    if (!OleDateFromFields(Digits(text, at.year, 4), Digits(text, at.month, 2),
                           Digits(text, at.day, 2), Digits(text, at.hour, 2),
                           Digits(text, at.minute, 2), Digits(text, at.second, 2), value))
        return false;
    date = value;
    return true;
}

long ParseDecimal(std::string_view text) { return LeadingInteger(text); }

uint32_t Crc32(std::string_view text) {
    static const std::array<uint32_t, 256> kTable = [] {
        std::array<uint32_t, 256> table{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return table;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : text) crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}
