// Recurrence blocks of appointments on the wire.
#include "client/appointment_recurrence.h"

#include <cmath>
#include <ctime>
#include <set>

#include "client/client_log.h"
#include "client/value_forms.h"
#include "platform/pocketoutlook/ole_date.h"

namespace {

using namespace recurtag;

// Appointment page fields inside an Exception.
constexpr int kAppointmentPage = 2;
constexpr int kSubject = 0x01, kLocation = 0x02, kStart = 0x04, kEnd = 0x06, kAllDayEvent = 0x07,
              kBusyStatus = 0x08, kReminderSet = 0x0D, kReminderMinutes = 0x0F;

constexpr double kSecond = 1.0 / 86400.0;
// Seconds from 1970-01-01 to OLE day 0 (1899-12-30).
constexpr long long kOleEpochUnixSeconds = -2209161600LL;

long long OleToSeconds(double date) {
    double whole = std::trunc(date);
    double fraction = std::fabs(date - whole);
    return static_cast<long long>(whole) * 86400 + std::llround(fraction * 86400.0) +
           kOleEpochUnixSeconds;
}

double SecondsToOle(long long seconds) {
    long long s = seconds - kOleEpochUnixSeconds;
    long long day = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
    long long rest = s - day * 86400;
    double fraction = static_cast<double>(rest) / 86400.0;
    return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

int OffsetAt(long long utcSeconds) {
    std::time_t t = static_cast<std::time_t>(utcSeconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) return 0;
    return static_cast<int>(tm.tm_gmtoff);
}

bool SameTime(double a, double b) { return std::fabs(a - b) < kSecond / 2; }

std::string Wire(double date) { return FormatServerDate(date, false); }

// The date part of one OLE date with the time of day of another.
double WithTimeOf(double date, double time) {
    double day = std::trunc(date);
    double fraction = std::fabs(time - std::trunc(time));
    return day >= 0 ? day + fraction : day - fraction;
}

std::optional<long> Number(const CWBXMLLiteral& node) {
    std::string_view v = node.value;
    size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t')) ++i;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) ++i;
    if (i >= v.size() || v[i] < '0' || v[i] > '9') return std::nullopt;
    return ParseDecimal(v);
}

std::optional<double> DateOf(const CWBXMLLiteral& node) {
    double date = 0;
    if (!ParseDate(node.value, date)) return std::nullopt;
    return date;
}

int YearOf(double date) {
    SYSTEMTIME t;
    return VariantTimeToSystemTime(date, &t) ? t.wYear : 0;
}

bool IsKnownType(long type) {
    return type == olRecursDaily || type == olRecursWeekly || type == olRecursMonthly ||
           type == olRecursMonthNth || type == olRecursYearly || type == olRecursYearNth;
}

void WriteExceptions(CWBXML& writer, const PimRecurrence& r, const PimAppointmentFields& a) {
    if (r.exceptions.empty()) return;
    double length = a.end > a.start ? a.end - a.start : 0;
    writer.StartTag(kPage, kExceptions);
    for (const PimException& e : r.exceptions) {
        writer.StartTag(kPage, kException);
        writer.WriteElement(kPage, kOriginalDate, Wire(LocalToUtc(e.originalDate)));
        if (e.deleted) {
            writer.WriteElement(kPage, kDeleted, "1");
        } else {
            double start = e.start ? *e.start : e.originalDate;
            double end = e.end ? *e.end : start + length;
            writer.WriteElement(kAppointmentPage, kStart, Wire(LocalToUtc(start)));
            writer.WriteElement(kAppointmentPage, kEnd, Wire(LocalToUtc(end)));
            if (e.location) writer.WriteElement(kAppointmentPage, kLocation, *e.location);
            if (e.subject) writer.WriteElement(kAppointmentPage, kSubject, *e.subject);
            if (e.allDayEvent)
                writer.WriteElement(kAppointmentPage, kAllDayEvent, *e.allDayEvent ? "1" : "0");
            if (e.busyStatus) writer.WriteIntElement(kAppointmentPage, kBusyStatus, *e.busyStatus);
            if (e.reminderSet)
                writer.WriteElement(kAppointmentPage, kReminderSet, *e.reminderSet ? "1" : "0");
            if (e.reminderMinutesBeforeStart)
                writer.WriteIntElement(kAppointmentPage, kReminderMinutes,
                                       *e.reminderMinutesBeforeStart);
        }
        writer.EndTag();
    }
    writer.EndTag();
}

// The exceptions of a received Exceptions element; a later one for an occurrence
// already named is passed over (a changed one wins over a removal).
std::vector<PimException> ReadExceptions(const CWBXMLLiterals& list,
                                         const PimAppointmentFields& a) {
    double length = a.end > a.start ? a.end - a.start : 0;
    std::vector<PimException> out;
    for (const auto& item : list) {
        if (item->codePage != kPage || item->token != kException || !item->children) continue;
        PimException e;
        bool original = false;
        std::optional<double> start, end;
        for (const auto& field : *item->children) {
            const CWBXMLLiteral& f = *field;
            if (f.codePage == kPage && f.token == kOriginalDate) {
                // The occurrence's day at the series' time of day.
                if (auto d = DateOf(f)) {
                    e.originalDate = WithTimeOf(UtcToLocal(*d), a.start);
                    original = true;
                }
            } else if (f.codePage == kPage && f.token == kDeleted) {
                std::optional<long> v = Number(f);
                e.deleted = !v || *v != 0;
            } else if (f.codePage != kAppointmentPage) {
                continue;
            } else if (f.token == kStart) {
                if (auto d = DateOf(f)) start = UtcToLocal(*d);
            } else if (f.token == kEnd) {
                if (auto d = DateOf(f)) end = UtcToLocal(*d);
            } else if (f.token == kSubject) {
                e.subject = f.value;
            } else if (f.token == kLocation) {
                e.location = f.value;
            } else if (f.token == kAllDayEvent) {
                if (auto v = Number(f)) e.allDayEvent = *v != 0;
            } else if (f.token == kBusyStatus) {
                if (auto v = Number(f)) e.busyStatus = *v;
            } else if (f.token == kReminderSet) {
                if (auto v = Number(f)) e.reminderSet = *v != 0;
            } else if (f.token == kReminderMinutes) {
                if (auto v = Number(f)) e.reminderMinutesBeforeStart = *v;
            }
        }
        if (!original) continue;
        if (e.deleted) {
            PimException removed;
            removed.originalDate = e.originalDate;
            removed.deleted = true;
            e = removed;
        } else {
            // Only the times that differ from the series' are the occurrence's own.
            double s = start.value_or(e.originalDate);
            if (!SameTime(s, e.originalDate)) e.start = s;
            if (end && !SameTime(*end, s + length)) e.end = *end;
        }
        bool taken = false;
        for (PimException& known : out) {
            if (DayOfOleDate(known.originalDate) != DayOfOleDate(e.originalDate)) continue;
            if (known.deleted && !e.deleted) known = e;
            taken = true;
        }
        if (!taken) out.push_back(std::move(e));
    }
    return out;
}

}  // namespace

double LocalToUtc(double local) {
    long long wall = OleToSeconds(local);
    // The offsets a day before and after bracket any change near this wall time.
    int before = OffsetAt(wall - 86400);
    int after = OffsetAt(wall + 86400);
    long long early = wall - before;
    long long late = wall - after;
    bool earlyValid = OffsetAt(early) == before;
    bool lateValid = OffsetAt(late) == after;
    long long utc = early;
    if (earlyValid && lateValid) {
        utc = early < late ? early : late;
    } else if (lateValid) {
        utc = late;
    }
    return SecondsToOle(utc);
}

double UtcToLocal(double utc) {
    long long seconds = OleToSeconds(utc);
    return SecondsToOle(seconds + OffsetAt(seconds));
}

void WriteRecurrenceBlock(CWBXML& writer, const PimItem& appointment, bool wasRecurring) {
    const PimRecurrence* r = appointment.GetRecurrence();
    if (!r) {
        if (!wasRecurring) return;
        writer.StartTag(kPage, kRecurrence);
        writer.WriteElement(kPage, kRecurrenceType, "-1");
        writer.EndTag();
        return;
    }
    const PimRecurrencePattern& p = r->pattern;
    PimAppointmentFields a = appointment.AppointmentFields();
    bool nth = p.recurrenceType == olRecursMonthNth || p.recurrenceType == olRecursYearNth;
    bool yearly = p.recurrenceType == olRecursYearly || p.recurrenceType == olRecursYearNth;
    bool dayOfMonth = p.recurrenceType == olRecursMonthly || p.recurrenceType == olRecursYearly;
    writer.StartTag(kPage, kRecurrence);
    writer.WriteIntElement(kPage, kRecurrenceType, p.recurrenceType);
    if (p.end != PimRecurrenceEnd::kNoEndDate)
        writer.WriteIntElement(kPage, kOccurrences, p.occurrences);
    writer.WriteIntElement(kPage, kInterval, p.interval);
    writer.WriteIntElement(kPage, kDayOfWeekMask, p.dayOfWeekMask & 0x7F);
    if (yearly) writer.WriteIntElement(kPage, kMonthOfYear, p.monthOfYear);
    writer.WriteElement(kPage, kNoEndDate, p.end == PimRecurrenceEnd::kNoEndDate ? "1" : "0");
    if (dayOfMonth) writer.WriteIntElement(kPage, kDayOfMonth, p.dayOfMonth);
    if (nth) writer.WriteIntElement(kPage, kWeekOfMonth, p.instance);
    std::string start = Wire(WithTimeOf(p.patternStartDate, a.start));
    writer.WriteElement(kPage, kPatternStartDate, start);
    writer.WriteElement(kPage, kStartTime, start);
    if (p.end != PimRecurrenceEnd::kNoEndDate && p.patternEndDate != 0) {
        std::string end = Wire(WithTimeOf(p.patternEndDate, a.end));
        if (p.end == PimRecurrenceEnd::kByDate) {
            writer.WriteElement(kPage, kPatternEndDate, end);
            writer.WriteElement(kPage, kEndTime, end);
        }
        writer.WriteElement(kPage, kSerieEndDate, end);
    }
    WriteExceptions(writer, *r, a);
    writer.EndTag();
}

ReceivedRecurrence ReadRecurrenceBlock(const CWBXMLLiterals& children,
                                       const PimAppointmentFields& appointment) {
    ReceivedRecurrence out;
    PimRecurrence r;
    PimRecurrencePattern& p = r.pattern;
    std::optional<long> type, interval, count;
    std::optional<double> startDate, endDate, serieEnd;
    bool endsByDate = false, noEndDate = false, farEnd = false, haveMonth = false;
    for (const auto& owned : children) {
        const CWBXMLLiteral& node = *owned;
        if (node.codePage != kPage) continue;
        std::optional<long> n = node.children ? std::nullopt : Number(node);
        std::optional<double> date = node.children ? std::nullopt : DateOf(node);
        switch (node.token) {
            case kRecurrenceType:
                if (n) type = *n;
                break;
            case kOccurrences:
                if (n) {
                    count = *n < 0 ? 10 : *n;
                    endsByDate = false;
                }
                break;
            case kInterval:
                if (n) interval = *n;
                break;
            case kDayOfWeekMask:
                if (n) p.dayOfWeekMask |= static_cast<int>(*n & 0x7F);
                break;
            case kMonthOfYear:
                if (n && !haveMonth) {
                    p.monthOfYear = static_cast<int>(*n);
                    haveMonth = true;
                }
                break;
            case kNoEndDate:
                if (n) noEndDate = *n != 0;
                break;
            case kDayOfMonth:
                if (n) p.dayOfMonth = static_cast<int>(*n);
                break;
            case kWeekOfMonth:
            case kInstance:
                if (n) p.instance = static_cast<int>(*n);
                break;
            case kPatternStartDate:
                if (date) startDate = *date;
                break;
            case kPatternEndDate:
            case kEndTime:
                if (date) {
                    endsByDate = true;
                    if (YearOf(*date) >= 4500) farEnd = true;
                    if (node.token == kPatternEndDate) endDate = *date;
                }
                break;
            case kSerieEndDate:
                if (date) serieEnd = *date;
                break;
            case kExceptions:
                if (node.children) r.exceptions = ReadExceptions(*node.children, appointment);
                break;
            default:
                break;
        }
    }
    if (type && *type == -1) {
        out.single = true;
        return out;
    }
    if (!type || !IsKnownType(*type)) {
        out.problem =
            type ? "unknown recurrence type " + std::to_string(*type) : "no recurrence type";
        return out;
    }
    p.recurrenceType = static_cast<int>(*type);
    p.interval = interval ? static_cast<int>(*interval) : 1;
    p.patternStartDate = std::trunc(startDate.value_or(appointment.start));
    if (noEndDate || farEnd || (!count && !endsByDate)) {
        p.end = PimRecurrenceEnd::kNoEndDate;
    } else if (endsByDate) {
        p.end = PimRecurrenceEnd::kByDate;
        p.patternEndDate = std::trunc(endDate.value_or(appointment.end));
        p.occurrences = count ? static_cast<int>(*count) : 0;
    } else {
        p.end = PimRecurrenceEnd::kAfterCount;
        p.occurrences = static_cast<int>(*count);
        // The desktop's last day of the series, as it was sent.
        if (serieEnd) p.patternEndDate = std::trunc(*serieEnd);
    }
    if (std::optional<std::string> problem = RecurrenceProblem(r)) {
        out.problem = *problem;
        return out;
    }
    out.recurrence = std::move(r);
    return out;
}

void ApplyRecurrenceRecord(PimItem& appointment, const CWBXMLLiterals& record, bool whole) {
    const CWBXMLLiteral* block = nullptr;
    for (const auto& node : record) {
        if (node->codePage == kPage && node->token == kRecurrence && node->children) block = &*node;
    }
    if (!block) {
        if (whole) appointment.ClearRecurrence();
        return;
    }
    ReceivedRecurrence received =
        ReadRecurrenceBlock(*block->children, appointment.AppointmentFields());
    std::string why = received.problem;
    if (received.single) {
        appointment.ClearRecurrence();
        return;
    }
    if (received.recurrence && appointment.SetRecurrence(std::move(*received.recurrence), &why))
        return;
    AddLogLineF("Recurrence of %s not stored: %s", appointment.GetText("Subject").c_str(),
                why.c_str());
}
