// Item times over the day counts of the recurrence layer (from 1601-01-01).
#include "server/itemconv/item_time.h"

#include <cstdio>

#include "common/recurrence/recurrence_rule.h"

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

}  // namespace

std::int64_t DaysFrom1601(int year, int month, int day) {
    return recur::DayOfAnyDate(year, month, day);
}

int WeekdayOfDay(std::int64_t days) { return recur::WeekdayOf(days); }

int DaysInMonth(int year, int month) { return recur::DaysInMonth(year, month); }

std::int64_t SecondsFrom1601(const CItemTime& t) {
    return DaysFrom1601(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

CItemTime ItemTimeFromSeconds(std::int64_t seconds) {
    const recur::DayAndTime split = recur::SplitSeconds(seconds);
    const recur::CivilDate d = recur::DateOf(split.day);
    return CItemTime{d.year, d.month, d.day, split.hour, split.minute, split.second, 0};
}

std::int64_t MinutesFrom1601(const CItemTime& t) { return FloorDiv(SecondsFrom1601(t), 60); }

CItemTime ItemTimeFromMinutes(std::int64_t minutes) { return ItemTimeFromSeconds(minutes * 60); }

CItemTime DateOnly(const CItemTime& t) { return CItemTime{t.year, t.month, t.day, 0, 0, 0, 0}; }

int MinuteOfDay(const CItemTime& t) { return t.hour * 60 + t.minute; }

std::uint64_t FiletimeFromItemTime(const CItemTime& t) {
    std::int64_t seconds = SecondsFrom1601(t);
    if (seconds < 0) return 0;
    return static_cast<std::uint64_t>(seconds) * kFiletimePerSecond +
           static_cast<std::uint64_t>(t.millisecond) * 10000;
}

CItemTime ItemTimeFromFiletime(std::uint64_t filetime) {
    CItemTime t = ItemTimeFromSeconds(static_cast<std::int64_t>(filetime / kFiletimePerSecond));
    t.millisecond = static_cast<int>(filetime % kFiletimePerSecond / 10000);
    return t;
}

std::string FormatItemDate(const CItemTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d.%02d:%d", t.day, t.month, t.year,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

namespace {

// Reads count decimal digits at pos; -1 when one is not a digit.
int Digits(std::string_view text, std::size_t pos, std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        char c = text[pos + i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<CItemTime> Checked(int day, int month, int year, int hour, int minute, int second) {
    if (day < 0 || month < 0 || year < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return CItemTime{year, month, day, hour, minute, second, 0};
}

}  // namespace

std::optional<CItemTime> ParseItemDate(std::string_view text) {
    // "DD.MM.YYYY HH:MM.SS"
    if (text.size() >= 19 && text[2] == '.' && text[5] == '.' && text[10] == ' ' &&
        text[13] == ':' && text[16] == '.') {
        return Checked(Digits(text, 0, 2), Digits(text, 3, 2), Digits(text, 6, 4),
                       Digits(text, 11, 2), Digits(text, 14, 2), Digits(text, 17, 2));
    }
    // Legacy handheld form "DDMMYYYY HH:MM:SS".
    if (text.size() == 17 && text[8] == ' ' && text[11] == ':' && text[14] == ':') {
        return Checked(Digits(text, 0, 2), Digits(text, 2, 2), Digits(text, 4, 4),
                       Digits(text, 9, 2), Digits(text, 12, 2), Digits(text, 15, 2));
    }
    return std::nullopt;
}
