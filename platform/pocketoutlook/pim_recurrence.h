// Recurring appointments of the handheld's PIM store, shaped like the object
// model's recurrence pattern and its exceptions.
//
// A recurring appointment is its first occurrence (the item's Start, End and other
// properties) with a pattern that repeats it, and exceptions for single
// occurrences that were removed or changed. The pattern's kinds and their numbers
// are the object model's, which are also the wire's RecurrenceType; which days a
// pattern names is fixed in common/recurrence/recurrence_rule.h (weeks begin on
// Monday; day 31 of a shorter month is its last day). Every occurrence starts at
// the time of day of the item's Start and lasts as long as the item. Dates are OLE
// dates in the handheld's local time (ole_date.h).
//
// Pure functions over values; safe from any number of threads. PimItem (in
// pocket_outlook.h) stores a recurrence with its item.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/recurrence/recurrence_rule.h"

enum OlRecurrenceType {
    olRecursDaily = 0,
    olRecursWeekly = 1,
    olRecursMonthly = 2,
    olRecursMonthNth = 3,
    olRecursYearly = 5,
    olRecursYearNth = 6,
};

enum OlDaysOfWeek {
    olSunday = 1,
    olMonday = 2,
    olTuesday = 4,
    olWednesday = 8,
    olThursday = 16,
    olFriday = 32,
    olSaturday = 64,
};

enum class PimRecurrenceEnd {
    kNoEndDate,   // never ends
    kAfterCount,  // ends after `occurrences` occurrences
    kByDate,      // ends on patternEndDate
};

struct PimRecurrencePattern {
    int recurrenceType = olRecursDaily;  // OlRecurrenceType
    int interval = 1;                    // days, weeks, months or years between
    int dayOfWeekMask = 0;               // OlDaysOfWeek: weekly and n-th kinds
    int instance = 0;                    // n-th kinds: 1-4, 5 for the last
    int dayOfMonth = 0;                  // monthly and yearly: 1-31
    int monthOfYear = 0;                 // yearly kinds: 1-12
    double patternStartDate = 0;         // the first day the series may fall on (00:00)
    PimRecurrenceEnd end = PimRecurrenceEnd::kNoEndDate;
    // kAfterCount: the count; kByDate: the number of occurrences up to the end
    // (filled by CompleteRecurrence when 0, at most 999); 0 for a series without end.
    int occurrences = 0;
    // kByDate: the last day; kAfterCount: the day of the last occurrence (filled by
    // CompleteRecurrence when 0); 0 for a series without end.
    double patternEndDate = 0;
    bool operator==(const PimRecurrencePattern&) const = default;
};

// One removed or changed occurrence. A changed one keeps every field it does not
// change from the series.
struct PimException {
    double originalDate = 0;  // the occurrence's original start, date and time
    bool deleted = false;
    std::optional<double> start;
    std::optional<double> end;
    std::optional<std::string> subject;
    std::optional<std::string> location;
    std::optional<bool> reminderSet;
    std::optional<long> reminderMinutesBeforeStart;
    std::optional<long> busyStatus;
    std::optional<bool> allDayEvent;
    bool operator==(const PimException&) const = default;
};

struct PimRecurrence {
    PimRecurrencePattern pattern;
    std::vector<PimException> exceptions;  // by original date, earliest first
    bool operator==(const PimRecurrence&) const = default;
};

// The rule over days of a pattern, and the pattern of a rule (its derived fields
// unset, as CompleteRecurrence fills them).
recur::Rule RuleOfPattern(const PimRecurrencePattern& pattern);
PimRecurrencePattern PatternOfRule(const recur::Rule& rule);
// The day number (recurrence_rule.h) of an OLE date, and the OLE date (00:00) of a
// day number.
std::int64_t DayOfOleDate(double date);
double OleDateOfDay(std::int64_t day);

// Why the recurrence cannot be stored: its pattern describes no occurrence
// (RuleProblem), an exception's original date is no occurrence of the pattern,
// two exceptions stand for the same occurrence, or a changed occurrence ends
// before it starts. Nothing when it can.
std::optional<std::string> RecurrenceProblem(const PimRecurrence& recurrence);

// Sorts the exceptions and fills the derived fields that are not set (0): for a
// series that ends after its count the date of the last occurrence, for one that
// ends by date the number of occurrences up to it (at most 999); for one without
// end both become 0. A value that is set stays (the desktop's, as it was sent). The
// pattern's dates become dates (00:00).
void CompleteRecurrence(PimRecurrence& recurrence);

// The appointment an occurrence repeats.
struct PimAppointmentFields {
    double start = 0;
    double end = 0;
    std::string subject;
    std::string location;
    bool allDayEvent = false;
    long busyStatus = 0;
    bool reminderSet = false;
    long reminderMinutesBeforeStart = 0;
    bool operator==(const PimAppointmentFields&) const = default;
};

// Brings the exceptions in line with the appointment they repeat, as the desktop
// keeps them: each original date at the appointment's time of day on its day, and a
// changed start or end that equals the series' (the original start, the start plus
// the appointment's length) not an own time of the exception.
void AlignExceptions(PimRecurrence& recurrence, const PimAppointmentFields& appointment);

struct PimOccurrence {
    double originalDate = 0;  // the start the pattern gives it
    PimAppointmentFields fields;
    bool changed = false;  // an exception changed it
    bool operator==(const PimOccurrence&) const = default;
};

// The occurrences a user sees whose start lies in [from, to]: the pattern's, with
// removed ones left out and changed ones as changed (a changed occurrence counts
// by its new start), in order of their starts. None when the recurrence has a
// problem.
std::vector<PimOccurrence> ExpandOccurrences(const PimAppointmentFields& appointment,
                                             const PimRecurrence& recurrence, double from,
                                             double to);
