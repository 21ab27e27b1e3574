#include "server/itemconv/recurrence_elements.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "server/config/live_trace.h"
#include "server/itemconv/recurrence_blob.h"

namespace {

std::string Number(long value) { return std::to_string(value); }

// Decimal value of a field: optional blanks and sign, at least one digit; what
// follows the digits is ignored. Values beyond +-1e9 are cut there.
std::optional<long> ParseNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 1000000000L) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

void TraceSkipped(const char* field, const std::string& value) {
    AddLiveTraceF("Recurrence: %s \"%s\" not readable, skipped", field, value.c_str());
}

std::optional<long> NumberOf(const CWBXMLLiteral& node, const char* field) {
    std::optional<long> v = ParseNumber(node.value);
    if (!v) TraceSkipped(field, node.value);
    return v;
}

std::optional<CItemTime> DateOf(const CWBXMLLiteral& node, const char* field) {
    std::optional<CItemTime> t = ParseItemDate(node.value);
    if (!t) TraceSkipped(field, node.value);
    return t;
}

void StoreAllDay(_recur_exception& e, long v) { e.allDay = v != 0; }
void StoreBusyStatus(_recur_exception& e, long v) { e.busyStatus = static_cast<std::int32_t>(v); }
void StoreReminderSet(_recur_exception& e, long v) { e.reminderSet = v != 0; }
void StoreReminderDelta(_recur_exception& e, long v) {
    e.reminderDelta = static_cast<std::int32_t>(v);
}

// The number fields of an Exception (appointment page): the field's token, its name
// in traces, the override it makes and where its value goes.
struct ExceptionNumberField {
    int32_t token;
    const char* name;
    std::uint16_t overrideFlag;
    void (*store)(_recur_exception& e, long value);
};

constexpr ExceptionNumberField kExceptionNumberFields[] = {
    {kTagApptAllDayEvent, "AllDayEvent", kOverrideAllDay, StoreAllDay},
    {kTagApptBusyStatus, "BusyStatus", kOverrideBusyStatus, StoreBusyStatus},
    {kTagApptReminderSet, "ReminderSet", kOverrideReminderSet, StoreReminderSet},
    {kTagApptReminderMinutes, "ReminderMinutesBeforeStart", kOverrideReminderDelta,
     StoreReminderDelta},
};

const ExceptionNumberField* FindExceptionNumberField(const CWBXMLLiteral& f) {
    if (f.codePage != kAppointmentPage) return nullptr;
    for (const ExceptionNumberField& field : kExceptionNumberFields) {
        if (field.token == f.token) return &field;
    }
    return nullptr;
}

// Where e does not override field but old (the same occurrence before) did, e
// takes old's value and override.
template <class T>
void KeepOverride(_recur_exception& e, const _recur_exception& old, std::uint16_t flag,
                  T _recur_exception::*field) {
    if ((e.overrideFlags & flag) != 0 || (old.overrideFlags & flag) == 0) return;
    e.overrideFlags |= flag;
    e.*field = old.*field;
}

CItemTime WithDate(CItemTime t, const CItemTime& date) {
    t.year = date.year;
    t.month = date.month;
    t.day = date.day;
    return t;
}

CItemTime WithTime(CItemTime t, const CItemTime& time) {
    t.hour = time.hour;
    t.minute = time.minute;
    t.second = time.second;
    t.millisecond = 0;
    return t;
}

// The day of minutes with the time of day of the appointment's start.
CItemTime OnDayAtStart(std::int64_t minutes, const RecurrencePattern& p) {
    const CItemTime& start = p.start.IsSet() ? p.start : p.patternStart;
    return WithTime(ItemTimeFromMinutes(minutes), start);
}

std::int64_t Day(std::int64_t minutes) {
    std::int64_t d = minutes / kMinutesPerDay;
    return minutes % kMinutesPerDay < 0 ? d - 1 : d;
}

void AddField(CWBXMLLiterals& list, int32_t page, int32_t token, std::string value) {
    list.Add(page, token, std::move(value));
}

CWBXMLLiterals& AddContainer(CWBXMLLiterals& list, int32_t page, int32_t token) {
    CWBXMLLiteral& node = list.Add(page, token);
    node.children = std::make_unique<CWBXMLLiterals>();
    return *node.children;
}

void AddExceptions(CWBXMLLiterals& block, const RecurrencePattern& p, const CTimeZone& zone) {
    if (p.deletedDates.empty() && p.exceptions.empty()) return;
    CWBXMLLiterals& list = AddContainer(block, kRecurrencePage, kTagExceptions);
    std::set<std::int64_t> covered;
    for (const _recur_exception& e : p.exceptions) covered.insert(Day(e.originalStart));
    std::vector<std::int64_t> deleted = p.deletedDates;
    std::sort(deleted.begin(), deleted.end());
    std::set<std::int64_t> sent;
    for (std::int64_t d : deleted) {
        if (covered.count(Day(d)) != 0 || !sent.insert(Day(d)).second) continue;
        CWBXMLLiterals& ex = AddContainer(list, kRecurrencePage, kTagException);
        AddField(ex, kRecurrencePage, kTagOriginalDate,
                 FormatItemDate(zone.LocalToUtc(OnDayAtStart(d, p))));
        AddField(ex, kRecurrencePage, kTagDeleted, "1");
    }
    for (const _recur_exception& e : p.exceptions) {
        CWBXMLLiterals& ex = AddContainer(list, kRecurrencePage, kTagException);
        AddField(ex, kRecurrencePage, kTagOriginalDate,
                 FormatItemDate(zone.LocalToUtc(OnDayAtStart(e.originalStart, p))));
        AddField(ex, kAppointmentPage, kTagApptStart,
                 FormatItemDate(zone.LocalToUtc(ItemTimeFromMinutes(e.start))));
        AddField(ex, kAppointmentPage, kTagApptEnd,
                 FormatItemDate(zone.LocalToUtc(ItemTimeFromMinutes(e.end))));
        if (e.overrideFlags & 0x0010) AddField(ex, kAppointmentPage, kTagApptLocation, e.location);
        if (e.overrideFlags & 0x0001) AddField(ex, kAppointmentPage, kTagApptSubject, e.subject);
        if (e.overrideFlags & 0x0080)
            AddField(ex, kAppointmentPage, kTagApptAllDayEvent, e.allDay ? "1" : "0");
        if (e.overrideFlags & 0x0020)
            AddField(ex, kAppointmentPage, kTagApptBusyStatus, Number(e.busyStatus));
        if (e.overrideFlags & 0x0008)
            AddField(ex, kAppointmentPage, kTagApptReminderSet, e.reminderSet ? "1" : "0");
        if (e.overrideFlags & 0x0004)
            AddField(ex, kAppointmentPage, kTagApptReminderMinutes, Number(e.reminderDelta));
    }
}

}  // namespace

int DeviceRecurrenceType(int kind) {
    std::optional<recur::Frequency> frequency = FrequencyOfKind(kind);
    return frequency ? static_cast<int>(*frequency) : -1;
}

int KindOfDeviceRecurrenceType(long deviceType) {
    // Only a number of a frequency names one; the kinds' numbers differ from them.
    for (int kind = kRecurDaily; kind <= kRecurYearNth; ++kind)
        if (DeviceRecurrenceType(kind) == deviceType) return kind;
    return kRecurNone;
}

CWBXMLLiterals RecurrenceBlockElements(const RecurrencePattern& p, const CTimeZone& zone) {
    CWBXMLLiterals block;
    AddField(block, kRecurrencePage, kTagRecurrenceType, Number(DeviceRecurrenceType(p.kind)));
    if (!p.endless) AddField(block, kRecurrencePage, kTagOccurrences, Number(p.occurrences));
    AddField(block, kRecurrencePage, kTagInterval, Number(p.interval));
    AddField(block, kRecurrencePage, kTagDayOfWeekMask, Number(p.dayMask & 0x7F));
    if (p.monthOfYear != 0)
        AddField(block, kRecurrencePage, kTagMonthOfYear, Number(p.monthOfYear));
    AddField(block, kRecurrencePage, kTagNoEndDate, p.endless ? "1" : "0");
    if (p.dayOfMonth != 0) AddField(block, kRecurrencePage, kTagDayOfMonth, Number(p.dayOfMonth));
    // The month goes out a second time here; it carries the same month, so a reader
    // that keeps either value gets it right.
    if (p.monthOfYear != 0)
        AddField(block, kRecurrencePage, kTagMonthOfYear, Number(p.monthOfYear));
    if (p.instance != 0) AddField(block, kRecurrencePage, kTagWeekOfMonth, Number(p.instance));
    AddField(block, kRecurrencePage, kTagPatternStartDate, FormatItemDate(p.patternStart));
    AddField(block, kRecurrencePage, kTagStartTime, FormatItemDate(p.patternStart));
    if (p.patternEnd.day != 0) {
        AddField(block, kRecurrencePage, kTagPatternEndDate, FormatItemDate(p.patternEnd));
        AddField(block, kRecurrencePage, kTagEndTime, FormatItemDate(p.patternEnd));
    }
    if (p.seriesEnd.day != 0)
        AddField(block, kRecurrencePage, kTagSerieEndDate, FormatItemDate(p.seriesEnd));
    AddExceptions(block, p, zone);
    return block;
}

std::optional<std::string> ApplyRecurrenceElements(RecurrencePattern& pattern,
                                                   const CWBXMLLiterals& children,
                                                   const CItemTime& wholeStart,
                                                   const CItemTime& wholeEnd,
                                                   const CTimeZone& zone) {
    // Built on a copy: a block that describes no occurrence leaves the pattern as
    // it was.
    RecurrencePattern p = pattern;
    // The dates as the item holds them now.
    p.start = wholeStart;
    p.end = wholeEnd;
    p.clipStart = wholeStart;
    p.clipEnd = wholeEnd;
    p.seriesStart = wholeStart;
    p.seriesEnd = wholeEnd;
    p.reminderTime = wholeStart;
    // The rule comes from this block alone.
    p.kind = kRecurNone;
    p.interval = 1;
    p.occurrences = 0;
    p.dayMask = 0;
    p.instance = 0;
    p.dayOfMonth = 0;
    p.monthOfYear = 0;
    p.endless = false;
    p.endsByDate = false;
    p.patternStart = wholeStart;
    p.patternEnd = wholeEnd;

    // An endless series is named by NoEndDate or by an end in kEndlessYear or later,
    // in any order: the pattern end that follows NoEndDate (its date first, then its
    // time) does not undo it.
    bool noEndDate = false;
    bool farEnd = false;
    bool haveMonth = false;
    std::optional<long> interval;
    std::optional<long> count;
    std::optional<CItemTime> serieEnd;
    for (const auto& owned : children) {
        const CWBXMLLiteral& node = *owned;
        if (node.codePage != kRecurrencePage) continue;
        switch (node.token) {
            case kTagRecurrenceType:
                if (auto v = NumberOf(node, "RecurrenceType"))
                    p.kind = KindOfDeviceRecurrenceType(*v);
                break;
            case kTagPatternStartDate:
                if (auto t = DateOf(node, "PatternStartDate"))
                    p.patternStart = WithDate(p.patternStart, *t);
                break;
            case kTagStartTime:
                if (auto t = DateOf(node, "StartTime"))
                    p.patternStart = WithTime(p.patternStart, *t);
                break;
            case kTagEndTime:
                if (auto t = DateOf(node, "EndTime")) {
                    p.endsByDate = true;
                    p.patternEnd = WithTime(p.patternEnd, *t);
                    if (p.patternEnd.year >= kEndlessYear) farEnd = true;
                }
                break;
            case kTagPatternEndDate:
                if (auto t = DateOf(node, "PatternEndDate")) {
                    p.patternEnd = WithDate(p.patternEnd, *t);
                    p.endsByDate = true;
                    if (t->year >= kEndlessYear) {
                        farEnd = true;
                        p.patternEnd.year = p.patternStart.year;
                        p.patternEnd.month = p.patternStart.month;
                        int days = DaysInMonth(p.patternEnd.year, p.patternEnd.month);
                        if (p.patternEnd.day > days) p.patternEnd.day = days;
                    }
                }
                break;
            case kTagNoEndDate:
                if (auto v = NumberOf(node, "NoEndDate")) noEndDate = *v != 0;
                break;
            case kTagOccurrences:
                if (auto v = NumberOf(node, "Occurrences")) {
                    p.occurrences = static_cast<int>(*v < 0 ? kEndlessOccurrences : *v);
                    p.endsByDate = false;
                    count = *v;
                }
                break;
            case kTagInterval:
                if (auto v = NumberOf(node, "Interval")) {
                    p.interval = static_cast<int>(*v);
                    interval = *v;
                }
                break;
            case kTagSerieEndDate:
                if (auto t = DateOf(node, "SerieEndDate")) serieEnd = *t;
                break;
            case kTagDayOfMonth:
                if (auto v = NumberOf(node, "DayOfMonth")) p.dayOfMonth = static_cast<int>(*v);
                break;
            case kTagMonthOfYear:
                // The first value of a block counts (an older writer sent the month
                // a second time, one too high).
                if (!haveMonth) {
                    if (auto v = NumberOf(node, "MonthOfYear")) {
                        p.monthOfYear = static_cast<int>(*v);
                        haveMonth = true;
                    }
                }
                break;
            case kTagWeekOfMonth:
                if (auto v = NumberOf(node, "WeekOfMonth")) p.instance = static_cast<int>(*v);
                break;
            case kTagDayOfWeekMask:
                if (auto v = NumberOf(node, "DayOfWeekMask"))
                    p.dayMask |= static_cast<int>(*v & 0x7F);
                break;
            case kTagExceptions:
                if (node.children) ApplyExceptionElements(p, *node.children, zone);
                break;
            default:
                break;
        }
    }

    // A block that names no end at all (no count, no end date) has none.
    p.endless = noEndDate || farEnd || (!count && !p.endsByDate);
    bool counted = !p.endless && !p.endsByDate;
    if (p.kind != kRecurNone) {
        if (interval && *interval < 1) return "interval " + std::to_string(*interval);
        if (counted && count && *count == 0) return std::string("count 0");
    }
    p.seriesStart = p.patternStart;
    p.clipStart = p.patternStart;
    p.seriesEnd = p.patternEnd;
    p.clipEnd = p.patternEnd;
    p.reminderTime = p.seriesStart;
    p.recurring = true;
    NormalisePattern(p);
    if (std::optional<recur::Rule> rule = RuleOfPattern(p)) {
        if (std::optional<std::string> problem = recur::RuleProblem(*rule)) return problem;
        if (p.endsByDate && !p.endless && !count) {
            // A series that ends by date carries the number of its occurrences.
            std::size_t n =
                recur::OccurrenceDays(*rule, rule->startDay, rule->endDay, kMaxOccurrences).size();
            p.occurrences = static_cast<int>(n);
        }
        if (counted) {
            // A series that ends after its count still has a last day: the one
            // the device names, or else the count-th occurrence's.
            std::optional<CItemTime> last = serieEnd;
            if (!last) last = LastOccurrenceDate(p);
            if (last) {
                p.seriesEnd = WithTime(*last, p.patternEnd);
                p.clipEnd = p.seriesEnd;
            }
        }
    }
    pattern = std::move(p);
    return std::nullopt;
}

void ApplyExceptionElements(RecurrencePattern& p, const CWBXMLLiterals& children,
                            const CTimeZone& zone) {
    std::int64_t duration = OccurrenceMinutes(p);
    std::vector<std::int64_t> deleted;
    std::vector<_recur_exception> exceptions;
    for (const auto& owned : children) {
        const CWBXMLLiteral& item = *owned;
        if (item.codePage != kRecurrencePage || item.token != kTagException || !item.children)
            continue;
        _recur_exception e;
        bool haveOriginal = false;
        bool haveStart = false;
        bool haveEnd = false;
        for (const auto& field : *item.children) {
            const CWBXMLLiteral& f = *field;
            if (f.codePage == kRecurrencePage && f.token == kTagOriginalDate) {
                if (auto t = DateOf(f, "OriginalDate")) {
                    e.originalStart = MinutesFrom1601(zone.UtcToLocal(*t));
                    if (!haveStart) e.start = e.originalStart;
                    haveOriginal = true;
                }
            } else if (f.codePage == kRecurrencePage && f.token == kTagDeleted) {
                std::optional<long> v = ParseNumber(f.value);
                e.deleted = !v || *v != 0;
            } else if (f.codePage == kAppointmentPage && f.token == kTagApptSubject) {
                e.subject = f.value.substr(0, kMaxExceptionText);
                e.overrideFlags |= 0x0001;
            } else if (f.codePage == kAppointmentPage && f.token == kTagApptLocation) {
                e.location = f.value.substr(0, kMaxExceptionText);
                e.overrideFlags |= 0x0010;
            } else if (f.codePage == kAppointmentPage && f.token == kTagApptStart) {
                if (auto t = DateOf(f, "Start")) {
                    e.start = MinutesFrom1601(zone.UtcToLocal(*t));
                    haveStart = true;
                }
            } else if (f.codePage == kAppointmentPage && f.token == kTagApptEnd) {
                if (auto t = DateOf(f, "End")) {
                    e.end = MinutesFrom1601(zone.UtcToLocal(*t));
                    haveEnd = true;
                }
            } else if (const ExceptionNumberField* number = FindExceptionNumberField(f)) {
                if (auto v = NumberOf(f, number->name)) {
                    number->store(e, *v);
                    e.overrideFlags |= number->overrideFlag;
                }
            }
        }
        if (!haveOriginal) {
            AddLiveTrace("Recurrence: Exception without OriginalDate skipped");
            continue;
        }
        if (!haveEnd || e.end < e.start) e.end = e.start + duration;
        deleted.push_back(e.originalStart);
        if (!e.deleted) exceptions.push_back(std::move(e));
    }
    // Reminder and busy-status overrides that a device does not send (older ones
    // send none) stay as they were for the same occurrence.
    for (_recur_exception& e : exceptions) {
        for (const _recur_exception& old : p.exceptions) {
            if (Day(old.originalStart) != Day(e.originalStart)) continue;
            KeepOverride(e, old, kOverrideReminderDelta, &_recur_exception::reminderDelta);
            KeepOverride(e, old, kOverrideReminderSet, &_recur_exception::reminderSet);
            KeepOverride(e, old, kOverrideBusyStatus, &_recur_exception::busyStatus);
            break;
        }
    }
    p.deletedDates = std::move(deleted);
    p.exceptions = std::move(exceptions);
}

bool IsSeriesTimeElement(int32_t codePage, int32_t token) {
    return codePage == kAppointmentPage &&
           (token == kTagApptStart || token == kTagApptEnd || token == kTagApptDuration);
}

bool KeepsSeriesTimes(bool storedRecurring, const CWBXMLLiterals& itemElement) {
    if (!storedRecurring) return false;
    for (const auto& node : itemElement) {
        if (node->codePage == kRecurrencePage && node->token == kTagRecurrence) return false;
    }
    return true;
}
