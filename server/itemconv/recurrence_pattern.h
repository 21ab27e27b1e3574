// RecurrencePattern: an appointment's series in memory, between the store (the
// recurrence blob and named properties, recurrence_store.h) and the wire (the
// Recurrence block, recurrence_elements.h). All dates are local time of the
// server's zone.
//
// Values with pure functions; a pattern belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/recurrence/recurrence_rule.h"
#include "server/itemconv/item_time.h"

// Kinds of series.
enum : int {
    kRecurNone = 0,
    kRecurDaily = 1,
    kRecurWeekly = 2,
    kRecurMonthly = 3,   // on a day of the month
    kRecurMonthNth = 4,  // on the n-th weekday of the month
    kRecurYearly = 5,    // on a day of a month
    kRecurYearNth = 6,   // on the n-th weekday of a month
};

// Limits applied to values from the wire or a blob before any arithmetic.
inline constexpr int kMaxInterval = 999;
inline constexpr int kMaxOccurrences = 999;
inline constexpr int kEndlessOccurrences = 10;  // the count written for an endless series
inline constexpr int kEndlessYear = 4500;       // a series ending in this year or later is endless
inline constexpr std::size_t kMaxExceptionText = 255;  // subject and location of an exception
// Override flags of an exception that this system writes back (subject,
// reminder delta, reminder set, location, busy status, all-day); the fields of the
// others are not kept, so their flags are never written.
inline constexpr std::uint16_t kWrittenOverrides = 0x00BD;

// One changed or deleted occurrence. Times are minutes since 1601-01-01, local.
struct _recur_exception {
    std::int64_t originalStart = 0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::uint16_t overrideFlags = 0;  // kOverride... of recurrence_blob.h
    std::string subject;
    std::string location;
    std::int32_t reminderDelta = 0;
    bool reminderSet = false;
    std::int32_t busyStatus = 0;
    bool allDay = false;
    bool deleted = false;
    bool operator==(const _recur_exception&) const = default;
};

struct RecurrencePattern {
    bool recurring = false;
    int kind = kRecurNone;
    int interval = 1;
    int occurrences = 0;
    int dayMask = 0;   // bit 0 Sunday ... bit 6 Saturday
    int instance = 0;  // week of the month, 5 = last
    int dayOfMonth = 0;
    int monthOfYear = 0;  // 1 = January
    bool endless = false;
    bool endsByDate = false;

    CItemTime patternStart;
    CItemTime patternEnd;
    CItemTime start;  // the appointment's own start and end (the store's whole ones)
    CItemTime end;
    CItemTime seriesStart;  // the store's common start and end
    CItemTime seriesEnd;
    CItemTime clipStart;
    CItemTime clipEnd;
    CItemTime reminderTime;

    // Original dates of deleted occurrences (minutes since 1601, local); the
    // original date of every exception is also one.
    std::vector<std::int64_t> deletedDates;
    std::vector<_recur_exception> exceptions;
    bool operator==(const RecurrencePattern&) const = default;
};

// Brings every rule field into its range, so no later arithmetic can divide by
// zero, overflow or index past a table: an interval below 1 counts as 1 (above
// kMaxInterval as kMaxInterval); a negative count becomes kEndlessOccurrences,
// one above kMaxOccurrences becomes kMaxOccurrences; the day mask keeps bits 0-6
// and, for the kinds that need one, an empty mask takes the weekday of the
// pattern start; a month outside 1-12, a day of month outside 1-31 and an instance
// outside 1-5 are taken from the pattern start (or the series start), where the
// kind uses them.
void NormalisePattern(RecurrencePattern& pattern);

// Minutes the series covers for the clip end: 64-bit, never negative.
std::int64_t ClipSpanMinutes(const RecurrencePattern& pattern);

// Sets the clip start (the date of the series start at 00:00) and the clip end:
// for an endless series (or one ending in kEndlessYear or later) 4500-08-31 23:59;
// for a series that ends by date the date of the series end; otherwise the clip
// start plus (span / 1440 + 1) days, never past 4500-12-31.
void ComputeClipDates(RecurrencePattern& pattern);

// Minutes from the start to the end of one occurrence: the appointment's own
// duration when both its times are set, otherwise the times of day of the series
// start and end (an end before the start running into the next day).
std::int64_t OccurrenceMinutes(const RecurrencePattern& pattern);

// The store's recurrence type of a kind: 1 daily, 2 weekly, 3 monthly, 4 yearly,
// 0 for none.
int RecurrenceTypeOfKind(int kind);

// The rule frequency of a kind (its number is the device's), nothing for kind
// none or a number that names no kind; the kind of a frequency.
std::optional<recur::Frequency> FrequencyOfKind(int kind);
int KindOfFrequency(recur::Frequency frequency);

// Sets the pattern's kind, interval, day mask, instance, day of month and month of
// year from the rule; dates, count and end stay as they are.
void SetRuleFields(RecurrencePattern& pattern, const recur::Rule& rule);

// The pattern's rule over days (recurrence_rule.h): from the date of the pattern
// start (or, without one, of the series start); ending without end, after the
// count, or on the date of the pattern end (or series end). Nothing for a pattern
// without a kind.
std::optional<recur::Rule> RuleOfPattern(const RecurrencePattern& pattern);
// The date (at 00:00) of the last occurrence of a series that ends after its
// count or by date; nothing for an endless series or a rule that describes no
// occurrence.
std::optional<CItemTime> LastOccurrenceDate(const RecurrencePattern& pattern);
