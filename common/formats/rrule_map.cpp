// RRULE and the rule over days.
#include "common/formats/rrule_map.h"

#include <libical/ical.h>

namespace pimfmt {

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

std::string DaysText(int mask) {
    std::string out;
    // Monday first, as weeks begin there.
    for (int k = 1; k <= 7; ++k) {
        int d = k % 7;
        if (!(mask & (1 << d))) continue;
        if (!out.empty()) out += ",";
        out += kDayNames[d];
    }
    return out;
}

bool Refuse(std::string& why, const char* reason) {
    why = reason;
    return false;
}

}  // namespace

bool DayRuleOfRRule(const std::string& text, const CivilTime& first, const CivilTime& until,
                    recur::Rule& out, std::string& why) {
    icalrecurrencetype r = icalrecurrencetype_from_string(text.c_str());
    if (r.freq == ICAL_NO_RECURRENCE) return Refuse(why, "the rule cannot be read");
    const int days = Count(r.by_day, ICAL_BY_DAY_SIZE);
    const int monthDays = Count(r.by_month_day, ICAL_BY_MONTHDAY_SIZE);
    const int months = Count(r.by_month, ICAL_BY_MONTH_SIZE);
    const int setPos = Count(r.by_set_pos, ICAL_BY_SETPOS_SIZE);
    if (Count(r.by_second, ICAL_BY_SECOND_SIZE) || Count(r.by_minute, ICAL_BY_MINUTE_SIZE) ||
        Count(r.by_hour, ICAL_BY_HOUR_SIZE) || Count(r.by_year_day, ICAL_BY_YEARDAY_SIZE) ||
        Count(r.by_week_no, ICAL_BY_WEEKNO_SIZE))
        return Refuse(why, "rules by hour, minute, second, year day or week number");
    if (r.interval < 1 || r.interval > recur::kMaxInterval) {
        why = "an interval above " + std::to_string(recur::kMaxInterval);
        return false;
    }
    int mask = 0;
    int position = 0;
    for (int k = 0; k < days; ++k) {
        int pos = icalrecurrencetype_day_position(r.by_day[k]);
        if (pos != 0) {
            if (days > 1 || position) return Refuse(why, "several numbered weekdays");
            position = pos;
        }
        mask |= MaskOf(icalrecurrencetype_day_day_of_week(r.by_day[k]));
    }
    if (setPos > 1 || (setPos == 1 && position))
        return Refuse(why, "BYSETPOS with several positions or numbered weekdays");
    if (setPos == 1) position = r.by_set_pos[0];
    if (position == -1) position = recur::kLastInstance;
    if (position < 0 || position > recur::kLastInstance)
        return Refuse(why, "a weekday counted from the end other than the last");
    if (monthDays > 1 || (monthDays == 1 && (r.by_month_day[0] < 1 || r.by_month_day[0] > 28)))
        return Refuse(why, "month days other than one day 1-28");
    if (months > 1) return Refuse(why, "several months");

    out = recur::Rule{};
    out.interval = r.interval;
    out.startDay = recur::DayOf(first.year, first.month, first.day);
    switch (r.freq) {
        case ICAL_DAILY_RECURRENCE:
            if (monthDays || months || setPos)
                return Refuse(why, "a daily rule limited by month or position");
            if (days) {
                if (mask != 0x3E || r.interval != 1 || position)
                    return Refuse(why, "a daily rule on days other than every weekday");
                out.frequency = recur::Frequency::kWeekly;
                out.dayMask = 0x3E;
            } else {
                out.frequency = recur::Frequency::kDaily;
            }
            break;
        case ICAL_WEEKLY_RECURRENCE:
            if (monthDays || months || setPos || position)
                return Refuse(why, "a weekly rule limited by month or position");
            if (r.interval > 1 && r.week_start != ICAL_MONDAY_WEEKDAY &&
                r.week_start != ICAL_NO_WEEKDAY)
                return Refuse(why, "weeks that begin on a day other than Monday");
            out.frequency = recur::Frequency::kWeekly;
            out.dayMask = days ? mask : 1 << recur::WeekdayOf(out.startDay);
            break;
        case ICAL_MONTHLY_RECURRENCE:
        case ICAL_YEARLY_RECURRENCE: {
            const bool yearly = r.freq == ICAL_YEARLY_RECURRENCE;
            if (!yearly && months) return Refuse(why, "a monthly rule limited to months");
            if (days && monthDays) return Refuse(why, "weekdays and month days together");
            if (days && !position) return Refuse(why, "weekdays of a month without a position");
            const int month = months ? r.by_month[0] : first.month;
            if (yearly && month != first.month)
                return Refuse(why, "a yearly rule in another month than the first occurrence");
            if (days) {
                out.frequency = yearly ? recur::Frequency::kYearNth : recur::Frequency::kMonthNth;
                out.dayMask = mask;
                out.instance = position;
            } else {
                const int day = monthDays ? r.by_month_day[0] : first.day;
                if (day > 28) return Refuse(why, "a day 29-31, which some months lack");
                out.frequency = yearly ? recur::Frequency::kYearly : recur::Frequency::kMonthly;
                out.dayOfMonth = day;
            }
            if (yearly) out.monthOfYear = month;
            break;
        }
        default:
            return Refuse(why, "rules more frequent than daily");
    }
    if (r.count > 0) {
        if (r.count > kMaxHeldOccurrences) {
            why = "more than " + std::to_string(kMaxHeldOccurrences) + " occurrences";
            return false;
        }
        out.end = recur::EndKind::kAfterCount;
        out.count = r.count;
    } else if (until.IsSet()) {
        out.end = recur::EndKind::kByDate;
        out.endDay = recur::DayOf(until.year, until.month, until.day);
        const int untilMinute = until.hour * 60 + until.minute;
        if (untilMinute < first.hour * 60 + first.minute) --out.endDay;
    }
    if (std::optional<std::string> problem = recur::RuleProblem(out)) {
        why = "a rule without occurrences (" + *problem + ")";
        return false;
    }
    if (out.end != recur::EndKind::kNever &&
        OccurrenceCount(out).value_or(0) > kMaxHeldOccurrences) {
        why = "more than " + std::to_string(kMaxHeldOccurrences) + " occurrences";
        return false;
    }
    return true;
}

RecordTime UntilOfRRule(const std::string& text) {
    RecordTime t;
    icalrecurrencetype r = icalrecurrencetype_from_string(text.c_str());
    if (r.freq == ICAL_NO_RECURRENCE || icaltime_is_null_time(r.until)) return t;
    t.time = CivilTime{r.until.year, r.until.month, r.until.day};
    if (r.until.is_date) {
        t.form = TimeForm::kDate;
        return t;
    }
    t.time.hour = r.until.hour;
    t.time.minute = r.until.minute;
    t.time.second = r.until.second;
    t.form = icaltime_is_utc(r.until) ? TimeForm::kUtc : TimeForm::kFloating;
    return t;
}

std::string RRuleOfDayRule(const recur::Rule& rule, const std::string& until) {
    std::string out;
    switch (rule.frequency) {
        case recur::Frequency::kDaily:
            out = "FREQ=DAILY";
            break;
        case recur::Frequency::kWeekly:
            out = "FREQ=WEEKLY";  // every weekday too: BYDAY=MO,TU,WE,TH,FR
            break;
        case recur::Frequency::kMonthly:
        case recur::Frequency::kMonthNth:
            out = "FREQ=MONTHLY";
            break;
        case recur::Frequency::kYearly:
        case recur::Frequency::kYearNth:
            out = "FREQ=YEARLY";
            break;
        default:
            return std::string();
    }
    if (rule.end == recur::EndKind::kByDate)
        out += ";UNTIL=" + until;
    else if (rule.end == recur::EndKind::kAfterCount)
        out += ";COUNT=" + std::to_string(rule.count < 1 ? 1 : rule.count);
    if (rule.interval > 1) out += ";INTERVAL=" + std::to_string(rule.interval);
    const std::string position = std::to_string(rule.instance >= 5 ? -1 : rule.instance);
    switch (rule.frequency) {
        case recur::Frequency::kWeekly:
            out += ";BYDAY=" + DaysText(rule.dayMask);
            break;
        case recur::Frequency::kMonthly:
            out += ";BYMONTHDAY=" + std::to_string(rule.dayOfMonth);
            break;
        case recur::Frequency::kMonthNth:
            out += ";BYDAY=" + DaysText(rule.dayMask) + ";BYSETPOS=" + position;
            break;
        case recur::Frequency::kYearly:
            out += ";BYMONTH=" + std::to_string(rule.monthOfYear) +
                   ";BYMONTHDAY=" + std::to_string(rule.dayOfMonth);
            break;
        case recur::Frequency::kYearNth:
            out += ";BYMONTH=" + std::to_string(rule.monthOfYear) +
                   ";BYDAY=" + DaysText(rule.dayMask) + ";BYSETPOS=" + position;
            break;
        default:
            break;
    }
    return out;
}

std::optional<int> OccurrenceCount(const recur::Rule& rule) {
    if (rule.end == recur::EndKind::kNever || recur::RuleProblem(rule)) return std::nullopt;
    return static_cast<int>(
        recur::OccurrenceDays(rule, rule.startDay, recur::kLastDay, kMaxHeldOccurrences + 1)
            .size());
}

}  // namespace pimfmt
