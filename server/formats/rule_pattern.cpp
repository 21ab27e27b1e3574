// RRULE and RecurrencePattern.
#include "server/formats/rule_pattern.h"

#include "common/formats/rrule_map.h"

namespace {

CItemTime AtTimeOf(std::int64_t days, const CItemTime& time) {
    CItemTime t = ItemTimeFromMinutes(days * kMinutesPerDay);
    t.hour = time.hour;
    t.minute = time.minute;
    t.second = 0;
    return t;
}

pimfmt::CivilTime CivilOf(const CItemTime& t) {
    return pimfmt::CivilTime{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

int KindOf(recur::Frequency frequency) {
    switch (frequency) {
        case recur::Frequency::kDaily:
            return kRecurDaily;
        case recur::Frequency::kWeekly:
            return kRecurWeekly;
        case recur::Frequency::kMonthly:
            return kRecurMonthly;
        case recur::Frequency::kMonthNth:
            return kRecurMonthNth;
        case recur::Frequency::kYearly:
            return kRecurYearly;
        case recur::Frequency::kYearNth:
            return kRecurYearNth;
    }
    return kRecurNone;
}

}  // namespace

bool PatternFromRule(const std::string& text, const CItemTime& first, const CItemTime& until,
                     RecurrencePattern& p, std::string& why) {
    recur::Rule rule;
    if (!pimfmt::DayRuleOfRRule(text, CivilOf(first),
                                until.IsSet() ? CivilOf(until) : pimfmt::CivilTime{}, rule, why))
        return false;
    p.kind = KindOf(rule.frequency);
    p.interval = rule.interval;
    p.dayMask = rule.dayMask;
    p.instance = rule.instance;
    p.dayOfMonth = rule.dayOfMonth;
    p.monthOfYear = rule.monthOfYear;
    p.recurring = true;
    p.endless = rule.end == recur::EndKind::kNever;
    p.endsByDate = rule.end == recur::EndKind::kByDate;
    p.occurrences = 0;
    p.patternStart = first;
    p.seriesStart = first;
    if (p.endless) {
        p.seriesEnd = CItemTime{kEndlessYear, 12, 31, 23, 59, 0, 0};
        return true;
    }
    // The end date and the count from the occurrences themselves.
    p.occurrences = pimfmt::OccurrenceCount(rule).value_or(0);
    p.seriesEnd = AtTimeOf(recur::LastOccurrence(rule).value_or(rule.startDay), first);
    return true;
}

std::string RuleFromPattern(const RecurrencePattern& p, const std::string& until) {
    recur::Rule rule;
    switch (p.kind) {
        case kRecurDaily:
            rule.frequency = recur::Frequency::kDaily;
            break;
        case kRecurWeekly:
            rule.frequency = recur::Frequency::kWeekly;
            break;
        case kRecurMonthly:
            rule.frequency = recur::Frequency::kMonthly;
            break;
        case kRecurMonthNth:
            rule.frequency = recur::Frequency::kMonthNth;
            break;
        case kRecurYearly:
            rule.frequency = recur::Frequency::kYearly;
            break;
        case kRecurYearNth:
            rule.frequency = recur::Frequency::kYearNth;
            break;
        default:
            return std::string();
    }
    rule.interval = p.interval < 1 ? 1 : p.interval;
    rule.dayMask = p.dayMask;
    rule.instance = p.instance;
    rule.dayOfMonth = p.dayOfMonth;
    rule.monthOfYear = p.monthOfYear;
    const bool endless = p.endless || p.seriesEnd.year >= kEndlessYear;
    if (endless) {
        rule.end = recur::EndKind::kNever;
    } else if (p.endsByDate) {
        rule.end = recur::EndKind::kByDate;
    } else {
        rule.end = recur::EndKind::kAfterCount;
        rule.count = p.occurrences < 1 ? 1 : p.occurrences;
    }
    return pimfmt::RRuleOfDayRule(rule, until);
}

std::vector<CItemTime> ExpandPattern(const RecurrencePattern& p, std::size_t limit) {
    std::vector<CItemTime> out;
    std::optional<recur::Rule> rule = RuleOfPattern(p);
    if (!rule) return out;
    const CItemTime& s = p.patternStart.IsSet() ? p.patternStart : p.seriesStart;
    for (std::int64_t day : recur::OccurrenceDays(*rule, rule->startDay, recur::kLastDay, limit))
        out.push_back(AtTimeOf(day, s));
    return out;
}
