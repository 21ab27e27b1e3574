// Expanding a recurrence rule period by period.
#include "common/recurrence/recurrence_rule.h"

#include <algorithm>

namespace recur {

namespace {

// Days from 1970-01-01 to a civil date, and back (H. Hinnant's algorithms).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

CivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

constexpr std::int64_t k1601 = DaysFromCivil(1601, 1, 1);

bool UsesDayMask(Frequency f) {
    return f == Frequency::kWeekly || f == Frequency::kMonthNth || f == Frequency::kYearNth;
}
bool UsesDayOfMonth(Frequency f) { return f == Frequency::kMonthly || f == Frequency::kYearly; }
bool UsesMonth(Frequency f) { return f == Frequency::kYearly || f == Frequency::kYearNth; }
bool IsNth(Frequency f) { return f == Frequency::kMonthNth || f == Frequency::kYearNth; }

// The instance-th day of the mask in a month (5: the last one).
std::int64_t NthDay(int year, int month, int mask, int instance) {
    std::int64_t first = DayOf(year, month, 1);
    int days = DaysInMonth(year, month);
    std::int64_t found = -1;
    int seen = 0;
    for (int i = 0; i < days; ++i) {
        if ((mask >> WeekdayOf(first + i)) & 1) {
            found = first + i;
            if (++seen == instance) return found;
        }
    }
    return found;  // fewer than instance: the last one
}

std::int64_t ClampedDay(int year, int month, int day) {
    return DayOf(year, month, std::min(day, DaysInMonth(year, month)));
}

// Walks the occurrences in order; visit returns false to stop.
template <typename Visit>
void Walk(const Rule& r, std::int64_t from, Visit visit) {
    const CivilDate start = DateOf(r.startDay);
    const std::int64_t interval = r.interval;
    const bool counted = r.end == EndKind::kAfterCount;
    const std::int64_t weekStart = r.startDay - (WeekdayOf(r.startDay) + 6) % 7;
    const std::int64_t month0 = static_cast<std::int64_t>(start.year) * 12 + (start.month - 1);

    // The first period that can hold a day on or after from; a counted series is
    // walked from its start, as every occurrence counts.
    std::int64_t k = 0;
    if (!counted && from > r.startDay) {
        CivilDate f = DateOf(from);
        switch (r.frequency) {
            case Frequency::kDaily:
                k = (from - r.startDay) / interval;
                break;
            case Frequency::kWeekly:
                k = (from - weekStart) / (7 * interval);
                break;
            case Frequency::kMonthly:
            case Frequency::kMonthNth:
                k = (static_cast<std::int64_t>(f.year) * 12 + (f.month - 1) - month0) / interval;
                break;
            case Frequency::kYearly:
            case Frequency::kYearNth:
                k = (f.year - start.year) / interval;
                break;
        }
    }
    int seen = 0;
    std::int64_t days[7];
    for (;; ++k) {
        int n = 0;
        switch (r.frequency) {
            case Frequency::kDaily:
                days[n++] = r.startDay + k * interval;
                break;
            case Frequency::kWeekly:
                for (int i = 0; i < 7; ++i) {
                    std::int64_t d = weekStart + 7 * interval * k + i;
                    if ((r.dayMask >> ((i + 1) % 7)) & 1) days[n++] = d;
                }
                break;
            case Frequency::kMonthly:
            case Frequency::kMonthNth: {
                std::int64_t m = month0 + k * interval;
                if (m / 12 > 4500) return;
                int year = static_cast<int>(m / 12);
                int month = static_cast<int>(m % 12) + 1;
                days[n++] = r.frequency == Frequency::kMonthly
                                ? ClampedDay(year, month, r.dayOfMonth)
                                : NthDay(year, month, r.dayMask, r.instance);
                break;
            }
            case Frequency::kYearly:
            case Frequency::kYearNth: {
                std::int64_t year = start.year + k * interval;
                if (year > 4500) return;
                int y = static_cast<int>(year);
                days[n++] = r.frequency == Frequency::kYearly
                                ? ClampedDay(y, r.monthOfYear, r.dayOfMonth)
                                : NthDay(y, r.monthOfYear, r.dayMask, r.instance);
                break;
            }
        }
        for (int i = 0; i < n; ++i) {
            std::int64_t d = days[i];
            if (d < r.startDay) continue;
            if (d > kLastDay) return;
            if (r.end == EndKind::kByDate && d > r.endDay) return;
            if (!visit(d)) return;
            if (counted && ++seen >= r.count) return;
        }
    }
}

}  // namespace

std::int64_t DayOf(int year, int month, int day) {
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - k1601;
}

CivilDate DateOf(std::int64_t day) { return CivilFromDays(day + k1601); }

std::int64_t DayOfAnyDate(int year, int month, int day) {
    const std::int64_t months = static_cast<std::int64_t>(year) * 12 + (month - 1);
    const std::int64_t y = months >= 0 ? months / 12 : -((-months + 11) / 12);
    const int m = static_cast<int>(months - y * 12) + 1;
    return DayOf(static_cast<int>(y), m, 1) + (static_cast<std::int64_t>(day) - 1);
}

DayAndTime SplitSeconds(std::int64_t seconds) {
    DayAndTime t;
    t.day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const std::int64_t rest = seconds - t.day * 86400;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

int WeekdayOf(std::int64_t day) { return static_cast<int>(((day % 7) + 7 + 1) % 7); }

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<std::string> RuleProblem(const Rule& r) {
    switch (r.frequency) {
        case Frequency::kDaily:
        case Frequency::kWeekly:
        case Frequency::kMonthly:
        case Frequency::kMonthNth:
        case Frequency::kYearly:
        case Frequency::kYearNth:
            break;
        default:
            return "unknown recurrence type";
    }
    if (r.interval < 1) return "interval " + std::to_string(r.interval);
    if (r.interval > kMaxInterval) return "interval above " + std::to_string(kMaxInterval);
    if (UsesDayMask(r.frequency) && (r.dayMask & 0x7F) == 0) return "no weekday";
    if (UsesDayMask(r.frequency) && (r.dayMask & ~0x7F) != 0) return "day mask out of range";
    if (IsNth(r.frequency) && (r.instance < 1 || r.instance > kLastInstance))
        return "week of the month " + std::to_string(r.instance);
    if (UsesDayOfMonth(r.frequency) && (r.dayOfMonth < 1 || r.dayOfMonth > 31))
        return "day of the month " + std::to_string(r.dayOfMonth);
    if (UsesMonth(r.frequency) && (r.monthOfYear < 1 || r.monthOfYear > 12))
        return "month " + std::to_string(r.monthOfYear);
    if (r.startDay < 0 || r.startDay > kLastDay) return "start out of range";
    if (r.end == EndKind::kAfterCount && r.count < 1) return "count " + std::to_string(r.count);
    if (r.end == EndKind::kAfterCount && r.count > kMaxCount)
        return "more than " + std::to_string(kMaxCount) + " occurrences";
    std::optional<std::int64_t> first;
    Rule open = r;
    open.end = EndKind::kNever;
    Walk(open, r.startDay, [&first](std::int64_t d) {
        first = d;
        return false;
    });
    if (!first) return "no occurrence before 4501";
    if (r.end == EndKind::kByDate && r.endDay < *first) return "ends before its first occurrence";
    return std::nullopt;
}

std::vector<std::int64_t> OccurrenceDays(const Rule& rule, std::int64_t from, std::int64_t to,
                                         std::size_t limit) {
    std::vector<std::int64_t> out;
    if (RuleProblem(rule) || limit == 0 || to < from) return out;
    Walk(rule, from, [&](std::int64_t d) {
        if (d > to) return false;
        if (d >= from) out.push_back(d);
        return out.size() < limit;
    });
    return out;
}

std::optional<std::int64_t> FirstOccurrence(const Rule& rule) {
    std::vector<std::int64_t> days = OccurrenceDays(rule, rule.startDay, kLastDay, 1);
    if (days.empty()) return std::nullopt;
    return days.front();
}

std::optional<std::int64_t> LastOccurrence(const Rule& rule) {
    if (rule.end == EndKind::kNever || RuleProblem(rule)) return std::nullopt;
    std::optional<std::int64_t> last;
    auto keep = [&last](std::int64_t d) {
        last = d;
        return true;
    };
    if (rule.end == EndKind::kByDate) {
        // Only the periods up to one period before the end day need a look.
        std::int64_t span = rule.interval;
        if (rule.frequency == Frequency::kWeekly) span *= 7;
        if (rule.frequency == Frequency::kMonthly || rule.frequency == Frequency::kMonthNth)
            span *= 31;
        if (rule.frequency == Frequency::kYearly || rule.frequency == Frequency::kYearNth)
            span *= 366;
        Walk(rule, std::max(rule.startDay, rule.endDay - span), keep);
        if (last) return last;
    }
    Walk(rule, rule.startDay, keep);
    return last;
}

bool IsOccurrence(const Rule& rule, std::int64_t day) {
    return OccurrenceDays(rule, day, day, 1).size() == 1;
}

}  // namespace recur
