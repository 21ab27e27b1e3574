// Calendar dates and times of items, their counts since 1601 and their text form.
//
// CItemTime is a wall-clock value without a zone: it is local or UTC by context
// (the recurrence pattern holds local times, the store holds UTC). Store times are
// FILETIME values (100-ns units since 1601-01-01 00:00); the recurrence blob
// counts minutes since 1601-01-01 00:00. Proleptic Gregorian calendar throughout.
// Pure functions; safe from any number of threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/base/file_time.h"

struct CItemTime {
    int year = 0;   // 0: not set
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    bool IsSet() const { return year != 0; }
    bool operator==(const CItemTime&) const = default;
};

inline constexpr std::int64_t kMinutesPerDay = 1440;
inline constexpr std::uint64_t kFiletimePerSecond = 10000000;
inline constexpr std::uint64_t kFiletimePerMinute = 600000000;
// Latest date the system stores: 4500-12-31 23:59, minutes since 1601.
inline constexpr std::int64_t kLatestMinutes = 1525252319;

// Days from 1601-01-01 to the given date (negative before it). Month and day may
// lie outside their ranges; they are normalised as the calendar runs on.
std::int64_t DaysFrom1601(int year, int month, int day);
// Weekday of a day count: 0 Sunday ... 6 Saturday (1601-01-01 was a Monday).
int WeekdayOfDay(std::int64_t daysFrom1601);
// Days in a month of a year (month 1-12).
int DaysInMonth(int year, int month);

// Minutes since 1601 of a wall-clock value (seconds dropped); and back.
std::int64_t MinutesFrom1601(const CItemTime& t);
CItemTime ItemTimeFromMinutes(std::int64_t minutes);
// Seconds since 1601 of a wall-clock value; and back (milliseconds dropped).
std::int64_t SecondsFrom1601(const CItemTime& t);
CItemTime ItemTimeFromSeconds(std::int64_t seconds);
// The same value at 00:00.
CItemTime DateOnly(const CItemTime& t);
// Minutes since midnight.
int MinuteOfDay(const CItemTime& t);

// FILETIME of a wall-clock value read as UTC (0 for a time before 1601), and the
// wall-clock value of a FILETIME (milliseconds kept).
std::uint64_t FiletimeFromItemTime(const CItemTime& t);
CItemTime ItemTimeFromFiletime(std::uint64_t filetime);

// The wire form "DD.MM.YYYY HH:MM.SS:ms" ("07.03.2009 14:05.09:0").
std::string FormatItemDate(const CItemTime& t);
// Reads the wire form (at least 19 characters, separators in place, fields in
// range; anything after the seconds is ignored) or the legacy handheld form
// "DDMMYYYY HH:MM:SS". Nothing (no value) for any other text.
std::optional<CItemTime> ParseItemDate(std::string_view text);
