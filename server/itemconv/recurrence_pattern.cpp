#include "server/itemconv/recurrence_pattern.h"

namespace {

bool UsesDayMask(int kind) {
    return kind == kRecurWeekly || kind == kRecurMonthNth || kind == kRecurYearNth;
}

// The date the pattern's rule fields are taken from when they are missing.
CItemTime Anchor(const RecurrencePattern& p) {
    if (p.patternStart.IsSet()) return p.patternStart;
    if (p.seriesStart.IsSet()) return p.seriesStart;
    return p.start;
}

CItemTime Latest() { return ItemTimeFromMinutes(kLatestMinutes); }

struct KindFrequency {
    int kind;
    recur::Frequency frequency;
};
constexpr KindFrequency kKindFrequencies[] = {
    {kRecurDaily, recur::Frequency::kDaily},     {kRecurWeekly, recur::Frequency::kWeekly},
    {kRecurMonthly, recur::Frequency::kMonthly}, {kRecurMonthNth, recur::Frequency::kMonthNth},
    {kRecurYearly, recur::Frequency::kYearly},   {kRecurYearNth, recur::Frequency::kYearNth},
};

constexpr recur::RuleFieldMembers<RecurrencePattern> kRuleFields = {
    &RecurrencePattern::interval, &RecurrencePattern::dayMask, &RecurrencePattern::instance,
    &RecurrencePattern::dayOfMonth, &RecurrencePattern::monthOfYear};

}  // namespace

void NormalisePattern(RecurrencePattern& p) {
    if (p.kind < kRecurNone || p.kind > kRecurYearNth) p.kind = kRecurNone;
    if (p.interval < 1) p.interval = 1;
    if (p.interval > kMaxInterval) p.interval = kMaxInterval;
    if (p.occurrences < 0) p.occurrences = kEndlessOccurrences;
    if (p.occurrences > kMaxOccurrences) p.occurrences = kMaxOccurrences;
    p.dayMask &= 0x7F;

    CItemTime anchor = Anchor(p);
    bool haveAnchor = anchor.IsSet() && anchor.month >= 1 && anchor.month <= 12;
    if (UsesDayMask(p.kind) && p.dayMask == 0) {
        p.dayMask = haveAnchor
                        ? 1 << WeekdayOfDay(DaysFrom1601(anchor.year, anchor.month, anchor.day))
                        : 0x02;
    }
    if (p.kind == kRecurYearly || p.kind == kRecurYearNth) {
        if (p.monthOfYear < 1 || p.monthOfYear > 12) p.monthOfYear = haveAnchor ? anchor.month : 1;
    } else if (p.monthOfYear < 0 || p.monthOfYear > 12) {
        p.monthOfYear = 0;
    }
    if (p.kind == kRecurMonthly || p.kind == kRecurYearly) {
        if (p.dayOfMonth < 1 || p.dayOfMonth > 31) p.dayOfMonth = haveAnchor ? anchor.day : 1;
    } else if (p.dayOfMonth < 0 || p.dayOfMonth > 31) {
        p.dayOfMonth = 0;
    }
    if (p.kind == kRecurMonthNth || p.kind == kRecurYearNth) {
        if (p.instance < 1 || p.instance > 5)
            p.instance = haveAnchor ? (anchor.day - 1) / 7 + 1 : 1;
    } else if (p.instance < 0 || p.instance > 5) {
        p.instance = 0;
    }
}

std::int64_t ClipSpanMinutes(const RecurrencePattern& p) {
    if (p.occurrences <= 0) return 107136000;
    std::int64_t count = p.occurrences;
    std::int64_t interval = p.interval < 1 ? 1 : p.interval;
    switch (p.kind) {
        case kRecurDaily:
            return count * interval * 1440;
        case kRecurWeekly:
            return count * interval * 10080;
        case kRecurMonthly:
        case kRecurMonthNth:
            return count * interval * 44640;
        case kRecurYearly:
        case kRecurYearNth:
            return count * interval * 535680;
        default:
            return 0;
    }
}

void ComputeClipDates(RecurrencePattern& p) {
    p.clipStart = DateOnly(p.seriesStart);
    bool endless = p.endless || p.seriesEnd.year >= kEndlessYear;
    if (endless) {
        CItemTime clip;
        clip.year = kEndlessYear;
        clip.month = 8;
        clip.day = 31;
        clip.hour = 23;
        clip.minute = 59;
        p.clipEnd = clip;
        return;
    }
    if (p.endsByDate && p.seriesEnd.IsSet()) {
        p.clipEnd = DateOnly(p.seriesEnd);
        return;
    }
    std::int64_t days = ClipSpanMinutes(p) / 1440 + 1;
    std::int64_t end = MinutesFrom1601(p.clipStart) + days * 1440;
    p.clipEnd = end > kLatestMinutes ? DateOnly(Latest()) : ItemTimeFromMinutes(end);
}

std::int64_t OccurrenceMinutes(const RecurrencePattern& p) {
    if (p.start.IsSet() && p.end.IsSet()) {
        std::int64_t d = MinutesFrom1601(p.end) - MinutesFrom1601(p.start);
        if (d >= 0) return d;
    }
    std::int64_t d = MinuteOfDay(p.seriesEnd) - MinuteOfDay(p.seriesStart);
    return d < 0 ? d + 1440 : d;
}

int RecurrenceTypeOfKind(int kind) {
    switch (kind) {
        case kRecurDaily:
            return 1;
        case kRecurWeekly:
            return 2;
        case kRecurMonthly:
        case kRecurMonthNth:
            return 3;
        case kRecurYearly:
        case kRecurYearNth:
            return 4;
        default:
            return 0;
    }
}

std::optional<recur::Frequency> FrequencyOfKind(int kind) {
    for (const KindFrequency& k : kKindFrequencies)
        if (k.kind == kind) return k.frequency;
    return std::nullopt;
}

int KindOfFrequency(recur::Frequency frequency) {
    for (const KindFrequency& k : kKindFrequencies)
        if (k.frequency == frequency) return k.kind;
    return kRecurNone;
}

void SetRuleFields(RecurrencePattern& p, const recur::Rule& rule) {
    p.kind = KindOfFrequency(rule.frequency);
    recur::CopyRuleFields(rule, p, kRuleFields);
}

std::optional<recur::Rule> RuleOfPattern(const RecurrencePattern& p) {
    std::optional<recur::Frequency> frequency = FrequencyOfKind(p.kind);
    if (!frequency) return std::nullopt;
    recur::Rule r;
    r.frequency = *frequency;
    recur::CopyRuleFields(p, r, kRuleFields);
    const CItemTime& start = p.patternStart.IsSet() ? p.patternStart : p.seriesStart;
    r.startDay = DaysFrom1601(start.year, start.month, start.day);
    bool endless = p.endless || p.seriesEnd.year >= kEndlessYear;
    if (endless) {
        r.end = recur::EndKind::kNever;
    } else if (p.endsByDate) {
        const CItemTime& end = p.patternEnd.IsSet() ? p.patternEnd : p.seriesEnd;
        r.end = recur::EndKind::kByDate;
        r.endDay = DaysFrom1601(end.year, end.month, end.day);
    } else {
        r.end = recur::EndKind::kAfterCount;
        r.count = p.occurrences;
    }
    return r;
}

std::optional<CItemTime> LastOccurrenceDate(const RecurrencePattern& p) {
    std::optional<recur::Rule> rule = RuleOfPattern(p);
    if (!rule) return std::nullopt;
    std::optional<std::int64_t> day = recur::LastOccurrence(*rule);
    if (!day) return std::nullopt;
    return ItemTimeFromMinutes(*day * kMinutesPerDay);
}
