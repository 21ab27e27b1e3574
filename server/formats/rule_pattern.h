// Between iCalendar recurrence rules (RRULE) and the desktop's RecurrencePattern,
// and the occurrences of a pattern. Which rules the pattern holds, and how they
// read, is common/formats/rrule_map.h (the handheld's pattern holds the same).
//
// Pure functions; safe from any number of threads.
#pragma once

#include <string>
#include <vector>

#include "server/itemconv/recurrence_pattern.h"

// Fills the rule fields of pattern (kind, interval, count, mask, instance, day,
// month, end) for a series whose first occurrence starts at firstStart (local
// wall-clock time); untilLocal is the rule's UNTIL read in the series' zone (unset
// when the rule has none). False with the reason when the pattern cannot hold it.
bool PatternFromRule(const std::string& rule, const CItemTime& firstStart,
                     const CItemTime& untilLocal, RecurrencePattern& pattern, std::string& why);

// The RRULE text of a pattern's rule fields ("FREQ=WEEKLY;INTERVAL=2;COUNT=5;
// BYDAY=MO,WE"); until is the text of UNTIL for a series that ends by date
// (the caller formats it in UTC or as a date).
std::string RuleFromPattern(const RecurrencePattern& pattern, const std::string& until);

// The starts (local) of the pattern's occurrences in order (the days of
// recurrence_rule.h at the start's time of day), at most limit of them; deleted
// dates are not removed.
std::vector<CItemTime> ExpandPattern(const RecurrencePattern& pattern, std::size_t limit);
