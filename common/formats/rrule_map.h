// Between iCalendar recurrence rules (RRULE) and the rule over days both stores
// keep (common/recurrence/recurrence_rule.h), for the desktop's recurrence pattern
// and the handheld's alike.
//
// A rule can be held when it is: daily every n days; every weekday (FREQ=DAILY
// with BYDAY=MO,TU,WE,TH,FR, held as weekly); weekly every n weeks on a set of
// weekdays (weeks begin on Monday); monthly every n months on a day 1-28 or on the
// n-th (1-4, or last) of a set of weekdays; every n years on a day or the n-th
// weekday of one month; ending after a count, on a date, or never, with at most
// 999 occurrences when it ends. Anything else (hourly rules, several months or
// month days, BYSETPOS with a numbered BYDAY, BYWEEKNO, BYYEARDAY, BYHOUR, week
// starts other than Monday with an interval above 1, days 29-31 which months lack)
// cannot: both stores would give other days than the rule names.
//
// Pure functions; safe from any number of threads (the rule text is parsed by
// libical, which is reentrant for this).
#pragma once

#include <optional>
#include <string>

#include "common/formats/pim_record.h"
#include "common/recurrence/recurrence_rule.h"

namespace pimfmt {

inline constexpr int kMaxHeldOccurrences = 999;

// Reads rule (an RRULE value) for a series whose first occurrence starts at first
// (local wall-clock time). untilLocal is the rule's UNTIL read in the series' zone
// (unset when the rule has none): the last day an occurrence may fall on is its day,
// or the day before when it comes before the series' time of day. False with the
// reason when the rule cannot be held; out is then undefined.
bool DayRuleOfRRule(const std::string& rule, const CivilTime& first, const CivilTime& untilLocal,
                    recur::Rule& out, std::string& why);

// The UNTIL of a rule text as written: a UTC time (kUtc), a date (kDate) or a
// floating time (kFloating); unset when the rule has none or cannot be read.
RecordTime UntilOfRRule(const std::string& rule);

// The RRULE text of a rule ("FREQ=WEEKLY;INTERVAL=2;COUNT=5;BYDAY=MO,WE"); until is
// the text of UNTIL for a rule that ends by date (the caller formats it in UTC or
// as a date). Empty for no rule.
std::string RRuleOfDayRule(const recur::Rule& rule, const std::string& until);

// How many occurrences a rule that ends has (at most kMaxHeldOccurrences + 1 are
// counted); nothing for a rule without end or with a problem.
std::optional<int> OccurrenceCount(const recur::Rule& rule);

}  // namespace pimfmt
