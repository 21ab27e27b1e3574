#include "server/itemconv/recurrence_mapping.h"

#include <algorithm>

namespace {

constexpr int kMonthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr std::uint32_t kWeekdayMask = 0x3E;  // Monday to Friday

// Days of the first n months of a non-leap year, counting on past December.
std::int64_t DaysOfFirstMonths(int n) {
    std::int64_t days = 0;
    for (int i = 0; i < n; ++i) days += kMonthLengths[i % 12];
    return days;
}

std::int64_t Midnight(std::int64_t minutes) {
    std::int64_t day = minutes / kMinutesPerDay;
    if (minutes % kMinutesPerDay < 0) --day;
    return day * kMinutesPerDay;
}

std::uint32_t U32(std::int64_t minutes) {
    if (minutes < 0) return 0;
    if (minutes > 0xFFFFFFFFLL) return 0xFFFFFFFFU;
    return static_cast<std::uint32_t>(minutes);
}

std::string Clamp(const std::string& text) {
    return text.size() > kMaxExceptionText ? text.substr(0, kMaxExceptionText) : text;
}

bool IsWeekdayForm(const RecurrencePattern& p) {
    return p.kind == kRecurDaily && static_cast<std::uint32_t>(p.dayMask) == kWeekdayMask;
}

CItemTime WithTimeOf(const CItemTime& date, int minuteOfDay) {
    CItemTime t = DateOnly(date);
    t.hour = minuteOfDay / 60;
    t.minute = minuteOfDay % 60;
    return t;
}

}  // namespace

std::uint32_t FirstDateTimeOf(const RecurrencePattern& p) {
    int interval = p.interval < 1 ? 1 : p.interval;
    switch (p.kind) {
        case kRecurDaily:
            return IsWeekdayForm(p) ? 0
                                    : U32(static_cast<std::int64_t>(interval - 1) * kMinutesPerDay);
        case kRecurMonthly:
        case kRecurMonthNth: {
            std::int64_t y = p.seriesStart.year;
            std::int64_t m =
                p.seriesStart.month < 1 || p.seriesStart.month > 12 ? 1 : p.seriesStart.month;
            std::int64_t yearsMod = ((y - 1601) % interval + interval) % interval;
            std::int64_t k = ((12 % interval) * yearsMod) % interval;
            std::int64_t n = (k + m - 1) % interval;
            return U32(DaysOfFirstMonths(static_cast<int>(n)) * kMinutesPerDay);
        }
        case kRecurYearly:
        case kRecurYearNth: {
            int month = p.monthOfYear < 1 || p.monthOfYear > 12 ? 1 : p.monthOfYear;
            return U32(DaysOfFirstMonths(month - 1) * kMinutesPerDay);
        }
        default:
            return 0;
    }
}

CRecurrenceBlob BlobFromPattern(const RecurrencePattern& p) {
    CRecurrenceBlob b;
    int interval = p.interval < 1 ? 1 : p.interval;
    switch (p.kind) {
        case kRecurDaily:
            b.recurFrequency = kRecurFrequencyDaily;
            if (IsWeekdayForm(p)) {
                b.patternType = kPatternWeek;
                b.period = 1;
                b.patternSpecific1 = kWeekdayMask;
            } else {
                b.patternType = kPatternDay;
                b.period = U32(static_cast<std::int64_t>(interval) * kMinutesPerDay);
            }
            break;
        case kRecurWeekly:
            b.recurFrequency = kRecurFrequencyWeekly;
            b.patternType = kPatternWeek;
            b.period = static_cast<std::uint32_t>(interval);
            b.patternSpecific1 = static_cast<std::uint32_t>(p.dayMask);
            break;
        case kRecurMonthly:
        case kRecurMonthNth:
            b.recurFrequency = kRecurFrequencyMonthly;
            b.period = static_cast<std::uint32_t>(interval);
            break;
        case kRecurYearly:
        case kRecurYearNth:
            // 12 months per year of the interval (12 for every year).
            b.recurFrequency = kRecurFrequencyYearly;
            b.period = static_cast<std::uint32_t>(12 * interval);
            break;
        default:
            break;
    }
    if (p.kind == kRecurMonthly || p.kind == kRecurYearly) {
        b.patternType = kPatternMonth;
        b.patternSpecific1 = static_cast<std::uint32_t>(p.dayOfMonth);
    } else if (p.kind == kRecurMonthNth || p.kind == kRecurYearNth) {
        b.patternType = kPatternMonthNth;
        b.patternSpecific1 = static_cast<std::uint32_t>(p.dayMask);
        b.patternSpecific2 = static_cast<std::uint32_t>(p.instance);
    }
    b.firstDateTime = FirstDateTimeOf(p);

    bool endless = p.endless || p.seriesEnd.year >= kEndlessYear;
    if (endless) {
        b.endType = kEndNever;
        b.occurrenceCount = kEndlessOccurrences;
        b.endDate = static_cast<std::uint32_t>(kLatestMinutes);
    } else {
        b.endType = p.endsByDate ? kEndAfterDate : kEndAfterCount;
        b.occurrenceCount = static_cast<std::uint32_t>(p.occurrences < 0 ? 0 : p.occurrences);
        b.endDate = U32(Midnight(MinutesFrom1601(p.seriesEnd)));
    }
    b.firstDOW = 1;
    b.startDate = U32(Midnight(MinutesFrom1601(p.seriesStart)));

    std::vector<_recur_exception> exceptions = p.exceptions;
    std::stable_sort(exceptions.begin(), exceptions.end(),
                     [](const _recur_exception& a, const _recur_exception& c) {
                         return a.originalStart < c.originalStart;
                     });
    std::vector<std::uint32_t> deleted;
    for (std::int64_t d : p.deletedDates) deleted.push_back(U32(Midnight(d)));
    for (const _recur_exception& e : exceptions) {
        deleted.push_back(U32(Midnight(e.originalStart)));
        b.modifiedInstanceDates.push_back(U32(Midnight(e.originalStart)));
    }
    std::sort(deleted.begin(), deleted.end());
    deleted.erase(std::unique(deleted.begin(), deleted.end()), deleted.end());
    b.deletedInstanceDates = std::move(deleted);

    b.readerVersion2 = 0x3006;
    b.writerVersion2 = 0x3006;
    std::int64_t startOffset = MinuteOfDay(p.seriesStart);
    b.startTimeOffset = U32(startOffset);
    b.endTimeOffset = U32(startOffset + OccurrenceMinutes(p));

    for (const _recur_exception& e : exceptions) {
        CRecurExceptionInfo info;
        info.startDateTime = U32(e.start);
        info.endDateTime = U32(e.end);
        info.originalStartDate = U32(e.originalStart);
        info.overrideFlags = static_cast<std::uint16_t>(e.overrideFlags & kWrittenOverrides);
        info.subject = Clamp(e.subject);
        info.reminderDelta = static_cast<std::uint32_t>(e.reminderDelta);
        info.reminderSet = e.reminderSet ? 1 : 0;
        info.location = Clamp(e.location);
        info.busyStatus = static_cast<std::uint32_t>(e.busyStatus);
        info.subType = e.allDay ? 1 : 0;
        b.exceptions.push_back(std::move(info));
    }
    b.tail = b.exceptions.empty() ? CRecurTail::kFull : CRecurTail::kReservedOnly;
    return b;
}

namespace {

int TypeOfFrequency(std::uint16_t frequency) {
    switch (frequency) {
        case kRecurFrequencyDaily:
            return 1;
        case kRecurFrequencyWeekly:
            return 2;
        case kRecurFrequencyMonthly:
            return 3;
        case kRecurFrequencyYearly:
            return 4;
        default:
            return 0;
    }
}

bool IsDayOfMonthType(std::uint16_t patternType) {
    return patternType == kPatternMonth || patternType == kPatternMonthEnd ||
           patternType == kPatternHjMonth || patternType == kPatternHjMonthEnd;
}

int Clamp31(std::uint32_t v) { return static_cast<int>(v > 31 ? 31 : v); }

int ClampInterval(std::uint32_t v) {
    return static_cast<int>(v > static_cast<std::uint32_t>(kMaxInterval) ? kMaxInterval : v);
}

// The month whose first day lies days after 1 January of a non-leap year.
int MonthOfDays(std::int64_t days) {
    days %= 365;
    int month = 1;
    while (month < 12 && days >= kMonthLengths[month - 1]) {
        days -= kMonthLengths[month - 1];
        ++month;
    }
    return month;
}

}  // namespace

void ApplyBlobToPattern(const CRecurrenceBlob& b, std::optional<int> recurrenceType,
                        RecurrencePattern& p) {
    int type = recurrenceType.value_or(0);
    if (type < 1 || type > 4) type = TypeOfFrequency(b.recurFrequency);
    p.dayMask = 0;
    p.instance = 0;
    p.dayOfMonth = 0;
    p.monthOfYear = 0;
    switch (type) {
        case 1:
            if (b.patternType == kPatternWeek) {
                p.kind = kRecurWeekly;
                p.interval = 1;
                p.dayMask = static_cast<int>(b.patternSpecific1 & 0x7F);
            } else {
                p.kind = kRecurDaily;
                p.interval = ClampInterval(b.period / kMinutesPerDay);
            }
            break;
        case 2:
            p.kind = kRecurWeekly;
            p.interval = ClampInterval(b.period);
            p.dayMask = static_cast<int>(b.patternSpecific1 & 0x7F);
            break;
        case 3:
        case 4:
            if (IsDayOfMonthType(b.patternType)) {
                p.kind = type == 3 ? kRecurMonthly : kRecurYearly;
                p.dayOfMonth = b.patternType == kPatternMonthEnd ? 31 : Clamp31(b.patternSpecific1);
            } else {
                p.kind = type == 3 ? kRecurMonthNth : kRecurYearNth;
                p.dayMask = static_cast<int>(b.patternSpecific1 & 0x7F);
                p.instance = static_cast<int>(b.patternSpecific2 > 5 ? 5 : b.patternSpecific2);
            }
            p.interval = type == 3 ? ClampInterval(b.period) : ClampInterval(b.period / 12);
            if (p.interval < 1) p.interval = 1;
            if (type == 4) p.monthOfYear = MonthOfDays(b.firstDateTime / kMinutesPerDay);
            break;
        default:
            p.kind = kRecurNone;
            break;
    }

    p.occurrences = static_cast<int>(b.occurrenceCount > static_cast<std::uint32_t>(kMaxOccurrences)
                                         ? kMaxOccurrences
                                         : b.occurrenceCount);
    p.endsByDate = b.endType == kEndAfterDate;
    p.endless = b.endType == kEndNever || b.endType == kEndNeverOld;
    p.seriesStart = ItemTimeFromMinutes(b.startDate);
    p.seriesEnd = ItemTimeFromMinutes(b.endDate);

    p.deletedDates.clear();
    for (std::uint32_t d : b.deletedInstanceDates) p.deletedDates.push_back(d);
    p.exceptions.clear();
    for (const CRecurExceptionInfo& info : b.exceptions) {
        _recur_exception e;
        e.originalStart = info.originalStartDate;
        e.start = info.startDateTime;
        e.end = info.endDateTime;
        e.overrideFlags = info.overrideFlags;
        e.subject = info.subject;
        e.location = info.location;
        e.reminderDelta = static_cast<std::int32_t>(info.reminderDelta);
        e.reminderSet = info.reminderSet != 0;
        e.busyStatus = static_cast<std::int32_t>(info.busyStatus);
        e.allDay = info.subType != 0;
        p.exceptions.push_back(std::move(e));
    }

    // The occurrences' times of day: the appointment's own, else the blob's.
    int startMinute =
        p.start.IsSet() ? MinuteOfDay(p.start) : static_cast<int>(b.startTimeOffset % 1440);
    int endMinute = p.end.IsSet() ? MinuteOfDay(p.end) : static_cast<int>(b.endTimeOffset % 1440);
    p.patternStart = WithTimeOf(p.seriesStart, startMinute);
    p.patternEnd = WithTimeOf(p.seriesEnd, endMinute);
    // The series carries the same times, as when it was received from the wire, so
    // that writing the pattern back keeps the appointment's times.
    p.seriesStart = p.patternStart;
    p.seriesEnd = p.patternEnd;
    // A series that ends after a count has no pattern end: sent to a device, an end
    // date would turn it into a series that ends by date.
    if (b.endType == kEndAfterCount) p.patternEnd = CItemTime();
    NormalisePattern(p);
}
