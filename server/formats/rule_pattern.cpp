// RRULE and RecurrencePattern.
#include "server/formats/rule_pattern.h"

#include <libical/ical.h>

namespace {

constexpr short kEnd = ICAL_RECURRENCE_ARRAY_MAX;

int Count(const short* array, int max) {
    int n = 0;
    while (n < max && array[n] != kEnd) ++n;
    return n;
}

// Day mask bit of a libical weekday (1 Sunday ... 7 Saturday).
int MaskOf(icalrecurrencetype_weekday day) { return 1 << (static_cast<int>(day) - 1); }

const char* const kDayNames[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

std::string DaysText(int mask, int position) {
    std::string out;
    // Monday first, as weeks begin there.
    for (int k = 1; k <= 7; ++k) {
        int d = k % 7;
        if (!(mask & (1 << d))) continue;
        if (!out.empty()) out += ",";
        if (position) out += std::to_string(position);
        out += kDayNames[d];
    }
    return out;
}

CItemTime AtTimeOf(std::int64_t days, const CItemTime& time) {
    CItemTime t = ItemTimeFromMinutes(days * kMinutesPerDay);
    t.hour = time.hour;
    t.minute = time.minute;
    t.second = 0;
    return t;
}

}  // namespace

bool PatternFromRule(const std::string& rule, const CItemTime& first, const CItemTime& until,
                     RecurrencePattern& p, std::string& why) {
    icalrecurrencetype r = icalrecurrencetype_from_string(rule.c_str());
    if (r.freq == ICAL_NO_RECURRENCE) {
        why = "the rule cannot be read";
        return false;
    }
    const int days = Count(r.by_day, ICAL_BY_DAY_SIZE);
    const int monthDays = Count(r.by_month_day, ICAL_BY_MONTHDAY_SIZE);
    const int months = Count(r.by_month, ICAL_BY_MONTH_SIZE);
    const int setPos = Count(r.by_set_pos, ICAL_BY_SETPOS_SIZE);
    if (Count(r.by_second, ICAL_BY_SECOND_SIZE) || Count(r.by_minute, ICAL_BY_MINUTE_SIZE) ||
        Count(r.by_hour, ICAL_BY_HOUR_SIZE) || Count(r.by_year_day, ICAL_BY_YEARDAY_SIZE) ||
        Count(r.by_week_no, ICAL_BY_WEEKNO_SIZE)) {
        why = "rules by hour, minute, second, year day or week number";
        return false;
    }
    if (r.interval < 1 || r.interval > kMaxInterval) {
        why = "an interval above " + std::to_string(kMaxInterval);
        return false;
    }
    int mask = 0;
    int position = 0;
    for (int k = 0; k < days; ++k) {
        int pos = icalrecurrencetype_day_position(r.by_day[k]);
        if (pos != 0) {
            if (days > 1 || position) {
                why = "several numbered weekdays";
                return false;
            }
            position = pos;
        }
        mask |= MaskOf(icalrecurrencetype_day_day_of_week(r.by_day[k]));
    }
    if (setPos > 1 || (setPos == 1 && position)) {
        why = "BYSETPOS with several positions or numbered weekdays";
        return false;
    }
    if (setPos == 1) position = r.by_set_pos[0];
    if (position == -1) position = 5;
    if (position < 0 || position > 5) {
        why = "a weekday counted from the end other than the last";
        return false;
    }
    if (monthDays > 1 || (monthDays == 1 && (r.by_month_day[0] < 1 || r.by_month_day[0] > 28))) {
        why = "month days other than one day 1-28";
        return false;
    }
    if (months > 1) {
        why = "several months";
        return false;
    }
    p.kind = kRecurNone;
    p.interval = r.interval;
    p.dayMask = 0;
    p.instance = 0;
    p.dayOfMonth = 0;
    p.monthOfYear = 0;
    const int startDay = first.day;
    switch (r.freq) {
        case ICAL_DAILY_RECURRENCE:
            if (monthDays || months || setPos) {
                why = "a daily rule limited by month or position";
                return false;
            }
            if (days) {
                if (mask != 0x3E || r.interval != 1 || position) {
                    why = "a daily rule on days other than every weekday";
                    return false;
                }
                p.kind = kRecurWeekly;
                p.dayMask = 0x3E;
            } else {
                p.kind = kRecurDaily;
            }
            break;
        case ICAL_WEEKLY_RECURRENCE:
            if (monthDays || months || setPos || position) {
                why = "a weekly rule limited by month or position";
                return false;
            }
            if (r.interval > 1 && r.week_start != ICAL_MONDAY_WEEKDAY &&
                r.week_start != ICAL_NO_WEEKDAY) {
                why = "weeks that begin on a day other than Monday";
                return false;
            }
            p.kind = kRecurWeekly;
            p.dayMask =
                days ? mask : 1 << WeekdayOfDay(DaysFrom1601(first.year, first.month, first.day));
            break;
        case ICAL_MONTHLY_RECURRENCE:
        case ICAL_YEARLY_RECURRENCE: {
            const bool yearly = r.freq == ICAL_YEARLY_RECURRENCE;
            if (!yearly && months) {
                why = "a monthly rule limited to months";
                return false;
            }
            if (days && monthDays) {
                why = "weekdays and month days together";
                return false;
            }
            if (days && !position) {
                why = "weekdays of a month without a position";
                return false;
            }
            int month = months ? r.by_month[0] : first.month;
            if (yearly && month != first.month) {
                why = "a yearly rule in another month than the first occurrence";
                return false;
            }
            if (days) {
                p.kind = yearly ? kRecurYearNth : kRecurMonthNth;
                p.dayMask = mask;
                p.instance = position;
            } else {
                int day = monthDays ? r.by_month_day[0] : startDay;
                if (day > 28) {
                    why = "a day 29-31, which some months lack";
                    return false;
                }
                p.kind = yearly ? kRecurYearly : kRecurMonthly;
                p.dayOfMonth = day;
            }
            if (yearly) p.monthOfYear = month;
            break;
        }
        default:
            why = "rules more frequent than daily";
            return false;
    }
    p.recurring = true;
    p.endless = false;
    p.endsByDate = false;
    p.occurrences = 0;
    if (r.count > 0) {
        if (r.count > kMaxOccurrences) {
            why = "more than " + std::to_string(kMaxOccurrences) + " occurrences";
            return false;
        }
        p.occurrences = r.count;
    } else if (until.IsSet()) {
        p.endsByDate = true;
    } else {
        p.endless = true;
    }
    p.patternStart = first;
    p.seriesStart = first;
    if (p.endsByDate) {
        p.seriesEnd = until;
    } else if (p.endless) {
        p.seriesEnd = CItemTime{4500, 12, 31, 23, 59, 0, 0};
    }
    // The end date and the count from the occurrences themselves.
    if (!p.endless) {
        std::vector<CItemTime> all = ExpandPattern(p, kMaxOccurrences + 1);
        if (all.empty()) {
            why = "a rule without occurrences";
            return false;
        }
        if (all.size() > static_cast<std::size_t>(kMaxOccurrences)) {
            why = "more than " + std::to_string(kMaxOccurrences) + " occurrences";
            return false;
        }
        p.occurrences = static_cast<int>(all.size());
        p.seriesEnd = all.back();
        p.endsByDate = r.count <= 0;
    }
    return true;
}

std::string RuleFromPattern(const RecurrencePattern& p, const std::string& until) {
    std::string out;
    int interval = p.interval < 1 ? 1 : p.interval;
    switch (p.kind) {
        case kRecurDaily:
            out = "FREQ=DAILY";
            break;
        case kRecurWeekly:
            out = "FREQ=WEEKLY";  // every weekday too: BYDAY=MO,TU,WE,TH,FR
            break;
        case kRecurMonthly:
        case kRecurMonthNth:
            out = "FREQ=MONTHLY";
            break;
        case kRecurYearly:
        case kRecurYearNth:
            out = "FREQ=YEARLY";
            break;
        default:
            return std::string();
    }
    const bool endless = p.endless || p.seriesEnd.year >= kEndlessYear;
    if (!endless && p.endsByDate) {
        out += ";UNTIL=" + until;
    } else if (!endless) {
        out += ";COUNT=" + std::to_string(p.occurrences < 1 ? 1 : p.occurrences);
    }
    if (interval > 1) out += ";INTERVAL=" + std::to_string(interval);
    switch (p.kind) {
        case kRecurWeekly:
            out += ";BYDAY=" + DaysText(p.dayMask, 0);
            break;
        case kRecurMonthly:
            out += ";BYMONTHDAY=" + std::to_string(p.dayOfMonth);
            break;
        case kRecurMonthNth:
            out += ";BYDAY=" + DaysText(p.dayMask, 0) +
                   ";BYSETPOS=" + std::to_string(p.instance >= 5 ? -1 : p.instance);
            break;
        case kRecurYearly:
            out += ";BYMONTH=" + std::to_string(p.monthOfYear) +
                   ";BYMONTHDAY=" + std::to_string(p.dayOfMonth);
            break;
        case kRecurYearNth:
            out += ";BYMONTH=" + std::to_string(p.monthOfYear) +
                   ";BYDAY=" + DaysText(p.dayMask, 0) +
                   ";BYSETPOS=" + std::to_string(p.instance >= 5 ? -1 : p.instance);
            break;
        default:
            break;
    }
    return out;
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
