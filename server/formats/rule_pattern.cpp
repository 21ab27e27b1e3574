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

}  // namespace

bool PatternFromRule(const std::string& text, const CItemTime& first, const CItemTime& until,
                     RecurrencePattern& p, std::string& why) {
    recur::Rule rule;
    if (!pimfmt::DayRuleOfRRule(text, CivilOf(first),
                                until.IsSet() ? CivilOf(until) : pimfmt::CivilTime{}, rule, why))
        return false;
    SetRuleFields(p, rule);
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
    // The text needs no start or end day: UNTIL comes written, and a count or an
    // interval below 1 is written as 1.
    std::optional<recur::Rule> rule = RuleOfPattern(p);
    return rule ? pimfmt::RRuleOfDayRule(*rule, until) : std::string();
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
