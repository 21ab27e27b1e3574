// Recurrence patterns of the PIM store: their rule, checks and occurrences.
#include "platform/pocketoutlook/pim_recurrence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

#include "platform/pocketoutlook/ole_date.h"

namespace {

// Seconds after midnight of an OLE date (the fraction counts forward from midnight
// also before the epoch).
long SecondsOfDay(double date) {
    double fraction = std::fabs(date - std::trunc(date));
    long seconds = std::lround(fraction * 86400.0);
    return seconds >= 86400 ? 86399 : seconds;
}

double At(std::int64_t day, long secondsOfDay) {
    return OleDateOfDay(day) + static_cast<double>(secondsOfDay) / 86400.0;
}

std::string DateText(double date) {
    SYSTEMTIME t;
    if (!VariantTimeToSystemTime(date, &t)) return "?";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.wYear, t.wMonth, t.wDay);
    return buf;
}

bool IsDate(double date) {
    SYSTEMTIME t;
    return VariantTimeToSystemTime(date, &t);
}

constexpr recur::RuleFieldMembers<PimRecurrencePattern> kRuleFields = {
    &PimRecurrencePattern::interval, &PimRecurrencePattern::dayOfWeekMask,
    &PimRecurrencePattern::instance, &PimRecurrencePattern::dayOfMonth,
    &PimRecurrencePattern::monthOfYear};

constexpr std::pair<PimRecurrenceEnd, recur::EndKind> kEnds[] = {
    {PimRecurrenceEnd::kNoEndDate, recur::EndKind::kNever},
    {PimRecurrenceEnd::kAfterCount, recur::EndKind::kAfterCount},
    {PimRecurrenceEnd::kByDate, recur::EndKind::kByDate},
};

}  // namespace

std::int64_t DayOfOleDate(double date) {
    if (!std::isfinite(date)) return -1;
    return kOleEpochDay + static_cast<std::int64_t>(std::trunc(date));
}

double OleDateOfDay(std::int64_t day) { return static_cast<double>(day - kOleEpochDay); }

recur::Rule RuleOfPattern(const PimRecurrencePattern& p) {
    recur::Rule r;
    r.frequency = static_cast<recur::Frequency>(p.recurrenceType);
    recur::CopyRuleFields(p, r, kRuleFields);
    r.startDay = DayOfOleDate(p.patternStartDate);
    for (const auto& [pattern, rule] : kEnds)
        if (p.end == pattern) r.end = rule;
    if (r.end == recur::EndKind::kAfterCount) r.count = p.occurrences;
    if (r.end == recur::EndKind::kByDate) r.endDay = DayOfOleDate(p.patternEndDate);
    return r;
}

PimRecurrencePattern PatternOfRule(const recur::Rule& r) {
    PimRecurrencePattern p;
    p.recurrenceType = static_cast<int>(r.frequency);
    recur::CopyRuleFields(r, p, kRuleFields);
    p.patternStartDate = OleDateOfDay(r.startDay);
    for (const auto& [pattern, rule] : kEnds)
        if (r.end == rule) p.end = pattern;
    if (p.end == PimRecurrenceEnd::kAfterCount) p.occurrences = r.count;
    if (p.end == PimRecurrenceEnd::kByDate) p.patternEndDate = OleDateOfDay(r.endDay);
    return p;
}

std::optional<std::string> RecurrenceProblem(const PimRecurrence& recurrence) {
    if (!IsDate(recurrence.pattern.patternStartDate)) return std::string("no pattern start date");
    if (recurrence.pattern.end == PimRecurrenceEnd::kByDate &&
        !IsDate(recurrence.pattern.patternEndDate))
        return std::string("no pattern end date");
    if (std::optional<std::string> problem = recur::RuleProblem(RuleOfPattern(recurrence.pattern)))
        return problem;
    std::set<std::int64_t> days;
    for (const PimException& e : recurrence.exceptions) {
        if (!IsDate(e.originalDate)) return std::string("an exception without an original date");
        std::string day = DateText(e.originalDate);
        if (!days.insert(DayOfOleDate(e.originalDate)).second)
            return "two exceptions for the occurrence of " + day;
        if ((e.start && !IsDate(*e.start)) || (e.end && !IsDate(*e.end)))
            return "the exception of " + day + " has no valid time";
        if (e.start && e.end && *e.end < *e.start)
            return "the exception of " + day + " ends before it starts";
    }
    return std::nullopt;
}

void CompleteRecurrence(PimRecurrence& recurrence) {
    PimRecurrencePattern& p = recurrence.pattern;
    p.patternStartDate = OleDateOfDay(DayOfOleDate(p.patternStartDate));
    std::stable_sort(recurrence.exceptions.begin(), recurrence.exceptions.end(),
                     [](const PimException& a, const PimException& b) {
                         return a.originalDate < b.originalDate;
                     });
    recur::Rule rule = RuleOfPattern(p);
    switch (p.end) {
        case PimRecurrenceEnd::kNoEndDate:
            p.occurrences = 0;
            p.patternEndDate = 0;
            break;
        case PimRecurrenceEnd::kAfterCount:
            if (p.patternEndDate != 0) {
                p.patternEndDate = OleDateOfDay(DayOfOleDate(p.patternEndDate));
            } else if (std::optional<std::int64_t> last = recur::LastOccurrence(rule)) {
                p.patternEndDate = OleDateOfDay(*last);
            }
            break;
        case PimRecurrenceEnd::kByDate:
            p.patternEndDate = OleDateOfDay(DayOfOleDate(p.patternEndDate));
            if (p.occurrences <= 0 && !recur::RuleProblem(rule)) {
                p.occurrences = static_cast<int>(
                    recur::OccurrenceDays(rule, rule.startDay, rule.endDay, recur::kMaxCount)
                        .size());
            }
            break;
    }
}

void AlignExceptions(PimRecurrence& recurrence, const PimAppointmentFields& appointment) {
    long startSeconds = SecondsOfDay(appointment.start);
    double length = appointment.end > appointment.start ? appointment.end - appointment.start : 0;
    auto same = [](double a, double b) { return std::fabs(a - b) < 0.5 / 86400.0; };
    for (PimException& e : recurrence.exceptions) {
        e.originalDate = At(DayOfOleDate(e.originalDate), startSeconds);
        if (e.start && same(*e.start, e.originalDate)) e.start.reset();
        if (e.end && same(*e.end, e.start.value_or(e.originalDate) + length)) e.end.reset();
    }
}

std::vector<PimOccurrence> ExpandOccurrences(const PimAppointmentFields& appointment,
                                             const PimRecurrence& recurrence, double from,
                                             double to) {
    std::vector<PimOccurrence> out;
    if (RecurrenceProblem(recurrence) || !(from <= to)) return out;
    recur::Rule rule = RuleOfPattern(recurrence.pattern);
    long startSeconds = SecondsOfDay(appointment.start);
    double length = appointment.end > appointment.start ? appointment.end - appointment.start : 0;
    auto occurrence = [&](std::int64_t day) {
        PimOccurrence o;
        o.originalDate = At(day, startSeconds);
        o.fields = appointment;
        o.fields.start = o.originalDate;
        o.fields.end = o.originalDate + length;
        return o;
    };
    auto exceptionOf = [&](std::int64_t day) -> const PimException* {
        for (const PimException& e : recurrence.exceptions) {
            if (DayOfOleDate(e.originalDate) == day) return &e;
        }
        return nullptr;
    };
    // The pattern's occurrences in the range, without those an exception stands for.
    std::int64_t fromDay = DayOfOleDate(from);
    for (std::int64_t day : recur::OccurrenceDays(rule, fromDay, DayOfOleDate(to))) {
        if (exceptionOf(day)) continue;
        PimOccurrence o = occurrence(day);
        if (o.fields.start >= from && o.fields.start <= to) out.push_back(std::move(o));
    }
    // Changed occurrences count by their new start, wherever the original was.
    for (const PimException& e : recurrence.exceptions) {
        std::int64_t day = DayOfOleDate(e.originalDate);
        if (e.deleted || !recur::IsOccurrence(rule, day)) continue;
        PimOccurrence o = occurrence(day);
        o.changed = true;
        PimAppointmentFields& f = o.fields;
        if (e.start) f.start = *e.start;
        f.end = e.end ? *e.end : f.start + length;
        if (e.subject) f.subject = *e.subject;
        if (e.location) f.location = *e.location;
        if (e.reminderSet) f.reminderSet = *e.reminderSet;
        if (e.reminderMinutesBeforeStart)
            f.reminderMinutesBeforeStart = *e.reminderMinutesBeforeStart;
        if (e.busyStatus) f.busyStatus = *e.busyStatus;
        if (e.allDayEvent) f.allDayEvent = *e.allDayEvent;
        if (f.start >= from && f.start <= to) out.push_back(std::move(o));
    }
    std::stable_sort(out.begin(), out.end(), [](const PimOccurrence& a, const PimOccurrence& b) {
        return a.fields.start < b.fields.start;
    });
    return out;
}
