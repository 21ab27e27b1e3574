// OLE dates, the handheld PIM store's time values: days since 1899-12-30 00:00 as a
// double, the fraction being the time of day (for days before the epoch the fraction
// still counts forward from midnight). 949998 (1 January 4501) stands for "no date".
#pragma once

#include <cstdint>

constexpr double kOleNoDate = 949998.0;
// OLE day 0, 1899-12-30, as a day number of recurrence_rule.h (days from 1601-01-01).
constexpr std::int64_t kOleEpochDay = 109205;

struct SYSTEMTIME {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

// Splits an OLE date into its fields, rounded to the nearest second (milliseconds 0,
// day of week filled). False for values outside the years 100 to 9999 or not finite.
bool VariantTimeToSystemTime(double date, SYSTEMTIME* out);
// Builds an OLE date from year, month, day, hour, minute and second (milliseconds
// ignored). False when a field is out of range (month 1-12, the day within its month,
// hour 0-23, minute and second 0-59, year 100-9999).
bool SystemTimeToVariantTime(const SYSTEMTIME& time, double* out);
// The same from plain numbers; false also when one of them is negative.
bool OleDateFromFields(int year, int month, int day, int hour, int minute, int second, double& out);
