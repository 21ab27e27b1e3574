// The rule of a recurring series over calendar days, as both stores keep it: the
// desktop's recurrence pattern and the handheld's. Which days a series falls on,
// its first and last day, and whether a rule describes any day at all.
//
// Days are counted from 1601-01-01 (day 0) in the proleptic Gregorian calendar;
// a series lives in local wall-clock time, so no day is ever shifted by a zone.
// The kinds, as the handheld and the wire number them:
//   daily      every interval days from the start;
//   weekly     every interval weeks (weeks begin on Monday; the start's week is
//              the first) on the days of the day mask;
//   monthly    every interval months on day dayOfMonth (in a shorter month on its
//              last day);
//   monthNth   every interval months on the instance-th (5: the last) of the days
//              of the day mask in that month ("the third weekend day");
//   yearly     every interval years on dayOfMonth of monthOfYear (29 February:
//              the 28th in other years);
//   yearNth    every interval years on the instance-th day of the mask in
//              monthOfYear.
// A series occurs on the days the rule names from its start day on: after a count
// of occurrences (a removed occurrence still counts), until an end day, or without
// end.
//
// Pure functions over values; safe from any number of threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace recur {

struct CivilDate {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    bool operator==(const CivilDate&) const = default;
};

// Day number of a date (month and day in their ranges), and back.
std::int64_t DayOf(int year, int month, int day);
inline std::int64_t DayOf(const CivilDate& d) { return DayOf(d.year, d.month, d.day); }
CivilDate DateOf(std::int64_t day);
// Day number of any year, month and day: a month past December (or before January)
// moves the year, a day past the month's end (or before its first) runs on into
// the next month (or back into the one before).
std::int64_t DayOfAnyDate(int year, int month, int day);
// A count of seconds from a midnight split into whole days and the time of that
// day (never negative: a second before the midnight is 23:59:59 of the day before).
struct DayAndTime {
    std::int64_t day = 0;
    int hour = 0, minute = 0, second = 0;
};
DayAndTime SplitSeconds(std::int64_t seconds);
// 0 Sunday ... 6 Saturday (day 0, 1601-01-01, was a Monday).
int WeekdayOf(std::int64_t day);
int DaysInMonth(int year, int month);
bool IsLeapYear(int year);

enum class Frequency {
    kDaily = 0,
    kWeekly = 1,
    kMonthly = 2,
    kMonthNth = 3,
    kYearly = 5,
    kYearNth = 6,
};

enum class EndKind {
    kNever,
    kAfterCount,
    kByDate,
};

inline constexpr int kLastInstance = 5;
inline constexpr int kMaxInterval = 999;
inline constexpr int kMaxCount = 999;
// The days a series may lie on: 1601-01-01 to 4500-12-31.
inline constexpr std::int64_t kLastDay = 1059202;

struct Rule {
    Frequency frequency = Frequency::kDaily;
    int interval = 1;
    int dayMask = 0;      // bit 0 Sunday ... bit 6 Saturday: weekly and n-th kinds
    int instance = 0;     // n-th kinds: 1-4, or 5 for the last
    int dayOfMonth = 0;   // monthly and yearly: 1-31
    int monthOfYear = 0;  // yearly kinds: 1-12
    std::int64_t startDay = 0;
    EndKind end = EndKind::kNever;
    int count = 0;            // kAfterCount: 1 to kMaxCount
    std::int64_t endDay = 0;  // kByDate: the last day an occurrence may fall on
    bool operator==(const Rule&) const = default;
};

// The members of a pattern struct that hold, in this order, a rule's interval, day
// mask, instance, day of month and month of year (with the rule's meaning), and
// the copies of those fields between the pattern and a rule.
template <typename Pattern>
using RuleFieldMembers = std::array<int Pattern::*, 5>;
inline constexpr RuleFieldMembers<Rule> kRuleFieldMembers = {
    &Rule::interval, &Rule::dayMask, &Rule::instance, &Rule::dayOfMonth, &Rule::monthOfYear};

template <typename Pattern>
void CopyRuleFields(const Rule& from, Pattern& to, const RuleFieldMembers<Pattern>& members) {
    for (std::size_t i = 0; i < members.size(); ++i) to.*members[i] = from.*kRuleFieldMembers[i];
}
template <typename Pattern>
void CopyRuleFields(const Pattern& from, Rule& to, const RuleFieldMembers<Pattern>& members) {
    for (std::size_t i = 0; i < members.size(); ++i) to.*kRuleFieldMembers[i] = from.*members[i];
}

// Why the rule cannot be a series ("interval 0", "no weekday", "count 0", "ends
// before its first occurrence", ...); nothing when it describes at least one day
// and every field is in its range.
std::optional<std::string> RuleProblem(const Rule& rule);

// The occurrence days from first to last that lie in [from, to], at most limit of
// them. None for a rule with a problem.
std::vector<std::int64_t> OccurrenceDays(const Rule& rule, std::int64_t from, std::int64_t to,
                                         std::size_t limit = 100000);
// The first occurrence, and the last one (the count-th, or the last on or before
// the end day); nothing for a rule with a problem, and no last one for a series
// without end.
std::optional<std::int64_t> FirstOccurrence(const Rule& rule);
std::optional<std::int64_t> LastOccurrence(const Rule& rule);
// True when the series falls on day.
bool IsOccurrence(const Rule& rule, std::int64_t day);

}  // namespace recur
