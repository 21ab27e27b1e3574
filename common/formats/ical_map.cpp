// The iCalendar mapping table, the component reader and the conversions.
#include "common/formats/ical_map.h"

#include <libical/ical.h>

#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "common/base/version.h"
#include "common/vcard/text_codec.h"

namespace pimfmt {

namespace {
constexpr RecordKind T = RecordKind::kTask;
constexpr RecordKind A = RecordKind::kAppointment;
}  // namespace

const ICalMapEntry kICalMap[] = {
    {T, "Subject", 0x01, true, "SUMMARY", nullptr},
    {T, "Categories", 0x02, true, "CATEGORIES", nullptr},
    {T, "StartDate", 0x03, true, "DTSTART", "a date (VALUE=DATE)"},
    {T, "DueDate", 0x04, true, "DUE", "a date (VALUE=DATE)"},
    {T, "DateCompleted", -1, true, "COMPLETED", "the desktop's element map has no property for it"},
    {T, "Importance", 0x06, true, "PRIORITY", "high 1, normal 5, low 9; read 1-4 high, 6-9 low"},
    {T, "Complete", 0x07, true, "STATUS", "COMPLETED with PERCENT-COMPLETE 100, else NEEDS-ACTION"},
    {T, "Sensitivity", 0x08, true, "CLASS", "PUBLIC 0, X-PERSONAL 1, PRIVATE 2, CONFIDENTIAL 3"},
    {T, "TeamTask", -1, true, nullptr, "a task assigned to others; no attendees are carried"},
    {T, "Body", 0x0A, true, "DESCRIPTION", nullptr},
    {T, "ReminderSet", 0x0B, true, "VALARM", "a VALARM with an absolute TRIGGER"},
    {T, "ReminderTime", 0x0D, true, "VALARM", "its TRIGGER;VALUE=DATE-TIME"},
    {T, "ReminderSoundFile", -1, true, nullptr, "a file on the handheld; meaningless elsewhere"},
    {T, "ReminderOptions", -1, true, nullptr, "how the handheld signals; no counterpart"},
    {T, "IsRecurring", -1, true, nullptr, "neither store holds a series of tasks"},
    {A, "IsRecurring", 0x00, true, "RRULE", "recurring when the event has a rule"},
    {A, "Subject", 0x01, true, "SUMMARY", nullptr},
    {A, "Location", 0x02, true, "LOCATION", nullptr},
    {A, "Categories", 0x03, true, "CATEGORIES", nullptr},
    {A, "Start", 0x04, true, "DTSTART",
     "with TZID (IANA name) and its VTIMEZONE; VALUE=DATE for all-day events"},
    {A, "Duration", 0x05, true, "DTEND", "follows from DTEND"},
    {A, "End", 0x06, true, "DTEND", nullptr},
    {A, "AllDayEvent", 0x07, true, "DTSTART", "VALUE=DATE"},
    {A, "BusyStatus", 0x08, true, "TRANSP",
     "free TRANSPARENT; busy OPAQUE; tentative and out of office as X-BUSY-STATUS"},
    {A, "Sensitivity", 0x09, true, "CLASS", "as for tasks"},
    {A, "Body", 0x0A, true, "DESCRIPTION", nullptr},
    {A, "Recipients", 0x0B, true, nullptr, "attendees are not carried"},
    {A, "MeetingStatus", 0x0C, true, nullptr, "a meeting's status needs its attendees"},
    {A, "ReminderSet", 0x0D, true, "VALARM", "a VALARM whose TRIGGER is before the start"},
    {A, "ReminderSoundFile", -1, true, nullptr, "a file on the handheld; meaningless elsewhere"},
    {A, "ReminderMinutesBeforeStart", 0x0F, true, "VALARM", "TRIGGER:-PT<n>M"},
    {A, "ReminderOptions", -1, true, nullptr, "how the handheld signals; no counterpart"},
    {A, "Recurrence", 0x11, false, "RRULE",
     "RRULE, EXDATE and RECURRENCE-ID overrides as the desktop's pattern holds them; "
     "rules it cannot hold and RDATE are reported and the first occurrence is kept"},
};

std::size_t ICalMapSize() { return sizeof kICalMap / sizeof kICalMap[0]; }

IcsReader::Result IcsReader::Next(IcsComponent& c, EntryError& error) {
    std::string text;
    std::size_t lineNo = 0;
    for (;;) {
        auto r = lines_.Next(text, lineNo);
        if (r == vcard::ContentLineReader::Result::kEnd) {
            if (inCalendar_) {
                inCalendar_ = false;
                error = EntryError{0, lines_.linesRead(), "the file ends before END:VCALENDAR"};
                return Result::kError;
            }
            if (!sawCalendar_ && !outsideReported_) {
                outsideReported_ = true;
                error = EntryError{0, 0, "not iCalendar: no BEGIN:VCALENDAR"};
                return Result::kError;
            }
            return Result::kEnd;
        }
        vcard::ContentLine line;
        std::string why;
        bool parsed = r == vcard::ContentLineReader::Result::kLine &&
                      vcard::ParseContentLine(text, line, why);
        if (!inCalendar_) {
            if (parsed && line.name == "BEGIN" &&
                vcard::EqualsIgnoreCase(line.value, "VCALENDAR")) {
                inCalendar_ = sawCalendar_ = true;
                outsideReported_ = false;
                continue;
            }
            if (!outsideReported_) {
                outsideReported_ = true;
                error = EntryError{
                    0, lineNo,
                    sawCalendar_ ? "text outside a calendar" : "not iCalendar: no BEGIN:VCALENDAR"};
                return Result::kError;
            }
            continue;
        }
        if (parsed && line.name == "END" && vcard::EqualsIgnoreCase(line.value, "VCALENDAR")) {
            inCalendar_ = false;
            continue;
        }
        if (!parsed || line.name != "BEGIN") continue;  // calendar properties
        c = IcsComponent();
        c.kind = vcard::Upper(line.value);
        c.index = ++components_;
        c.text = text + "\r\n";
        c.lines.push_back(lineNo);
        std::vector<std::string> open{c.kind};
        std::string failure;
        std::size_t failureLine = 0;
        while (!open.empty()) {
            auto rr = lines_.Next(text, lineNo);
            if (rr == vcard::ContentLineReader::Result::kEnd) {
                inCalendar_ = false;
                error = EntryError{c.index, lines_.linesRead(),
                                   c.kind + " ends before END:" + open.back() + " (line " +
                                       std::to_string(c.lines[0]) + " began it)"};
                return Result::kError;
            }
            if (rr == vcard::ContentLineReader::Result::kTooLong) {
                if (failure.empty()) {
                    failure = "a line is longer than " + std::to_string(vcard::kMaxLogicalLine) +
                              " bytes";
                    failureLine = lineNo;
                }
                continue;
            }
            vcard::ContentLine inner;
            if (vcard::ParseContentLine(text, inner, why)) {
                if (inner.name == "BEGIN") {
                    open.push_back(vcard::Upper(inner.value));
                } else if (inner.name == "END") {
                    if (!vcard::EqualsIgnoreCase(inner.value, open.back())) {
                        if (failure.empty()) {
                            failure = "END:" + inner.value + " closes " + open.back();
                            failureLine = lineNo;
                        }
                    }
                    open.pop_back();
                }
            } else if (failure.empty()) {
                failure = why;
                failureLine = lineNo;
            }
            if (failure.empty()) {
                c.text += text + "\r\n";
                c.lines.push_back(lineNo);
            }
        }
        if (!failure.empty()) {
            error = EntryError{c.index, failureLine, failure};
            return Result::kError;
        }
        return Result::kComponent;
    }
}

namespace {

struct ComponentFree {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentFree>;

bool HasParseError(icalcomponent* c, std::string& message) {
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_XLICERROR_PROPERTY)) {
        const char* text = icalproperty_get_xlicerror(p);
        message = text ? text : "a property cannot be read";
        return true;
    }
    for (icalcomponent* sub = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); sub;
         sub = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT))
        if (HasParseError(sub, message)) return true;
    return false;
}

// The line of the first property that libical rejects on its own.
std::size_t FailingLine(const IcsComponent& c) {
    std::size_t start = 0, k = 0;
    while (start < c.text.size()) {
        std::size_t end = c.text.find("\r\n", start);
        if (end == std::string::npos) end = c.text.size();
        std::string line = c.text.substr(start, end - start);
        start = end + 2;
        std::size_t lineNo = k < c.lines.size() ? c.lines[k] : 0;
        ++k;
        vcard::ContentLine parsed;
        std::string why;
        if (!vcard::ParseContentLine(line, parsed, why)) return lineNo;
        if (parsed.name == "BEGIN" || parsed.name == "END") continue;
        icalproperty* p = icalproperty_new_from_string(line.c_str());
        if (p == nullptr) return lineNo;
        bool bad = icalproperty_isa(p) == ICAL_XLICERROR_PROPERTY;
        icalproperty_free(p);
        if (bad) return lineNo;
    }
    return c.lines.empty() ? 0 : c.lines[0];
}

RecordTime FromIcal(icaltimetype t, icalproperty* prop, FileZones& zones, PimRecord& r) {
    RecordTime out;
    out.time = CivilTime{t.year,
                         t.month,
                         t.day,
                         t.is_date ? 0 : t.hour,
                         t.is_date ? 0 : t.minute,
                         t.is_date ? 0 : t.second};
    if (t.is_date) {
        out.form = TimeForm::kDate;
        return out;
    }
    if (icaltime_is_utc(t)) {
        out.form = TimeForm::kUtc;
        return out;
    }
    icalparameter* tzid =
        prop ? icalproperty_get_first_parameter(prop, ICAL_TZID_PARAMETER) : nullptr;
    if (tzid && icalparameter_get_tzid(tzid)) {
        std::string name = icalparameter_get_tzid(tzid);
        if (zones.Find(name)) {
            out.form = TimeForm::kZoned;
            out.zone = name;
            return out;
        }
        r.Drop("TZID " + name + " (unknown zone, read as floating time)");
    }
    out.form = TimeForm::kFloating;
    return out;
}

std::string Unescaped(icalproperty* p) {
    // libical keeps text values unescaped already.
    const char* v = icalproperty_get_value_as_string(p);
    return v ? vcard::UnescapeText(v) : std::string();
}

// A store number and the name a calendar file gives it.
struct NamedNumber {
    long number;
    const char* name;
};

// The CLASS of each sensitivity but 0 (public, written without a CLASS).
constexpr NamedNumber kClasses[] = {{1, "X-PERSONAL"}, {2, "PRIVATE"}, {3, "CONFIDENTIAL"}};
// The X-BUSY-STATUS of each busy status but 2 (busy, what any other text means).
constexpr NamedNumber kBusyTexts[] = {{0, "FREE"}, {1, "TENTATIVE"}, {3, "OOF"}};

// The name of number in table; nullptr when it has none.
const char* NameOf(std::span<const NamedNumber> table, long number) {
    for (const NamedNumber& row : table)
        if (row.number == number) return row.name;
    return nullptr;
}

// The number named name (in any case) in table; fallback when none is.
long NumberOf(std::span<const NamedNumber> table, const std::string& name, long fallback) {
    for (const NamedNumber& row : table)
        if (vcard::EqualsIgnoreCase(name, row.name)) return row.number;
    return fallback;
}

long SensitivityOf(const std::string& cls) { return NumberOf(kClasses, cls, 0); }

const char* ClassOf(long sensitivity) { return NameOf(kClasses, sensitivity); }

bool IsQuiet(icalproperty_kind k) {
    return k == ICAL_DTSTAMP_PROPERTY || k == ICAL_SEQUENCE_PROPERTY ||
           k == ICAL_CREATED_PROPERTY || k == ICAL_LASTMODIFIED_PROPERTY || k == ICAL_UID_PROPERTY;
}

void ReadAlarm(icalcomponent* comp, PimRecord& r, FileZones& zones, bool task) {
    icalcomponent* alarm = icalcomponent_get_first_component(comp, ICAL_VALARM_COMPONENT);
    if (!alarm) return;
    icalproperty* trig = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
    if (!trig) return;
    icaltriggertype t = icalproperty_get_trigger(trig);
    bool absolute = !icaltime_is_null_time(t.time);
    if (task) {
        if (absolute) {
            r.flags["ReminderSet"] = true;
            r.times["ReminderTime"] = FromIcal(t.time, trig, zones, r);
        } else {
            r.Drop("VALARM (a task reminder relative to a date)");
        }
        return;
    }
    long minutes = 0;
    if (absolute) {
        r.Drop("VALARM (an absolute reminder of an event)");
        return;
    }
    int seconds = icaldurationtype_as_int(t.duration);
    minutes = -seconds / 60;
    if (minutes < 0) {
        r.Drop("VALARM (a reminder after the start)");
        return;
    }
    r.flags["ReminderSet"] = true;
    r.numbers["ReminderMinutesBeforeStart"] = minutes;
    if (icalcomponent_get_next_component(comp, ICAL_VALARM_COMPONENT))
        r.Drop("VALARM (more than one)");
}

}  // namespace

ComponentOutcome RecordFromComponent(const IcsComponent& c, RecordKind wanted, FileZones& zones,
                                     PimRecord& r, std::string& overrideOf, EntryError& error) {
    overrideOf.clear();
    error = EntryError{c.index, c.lines.empty() ? 0 : c.lines[0], ""};
    icalcomponent* raw = icalcomponent_new_from_string(c.text.c_str());
    if (raw == nullptr) {
        error.line = FailingLine(c);
        error.message = c.kind + " cannot be read";
        return ComponentOutcome::kError;
    }
    ComponentPtr comp(raw);
    std::string message;
    if (HasParseError(raw, message)) {
        error.line = FailingLine(c);
        error.message = message;
        return ComponentOutcome::kError;
    }
    icalcomponent_kind kind = icalcomponent_isa(raw);
    if (kind == ICAL_VTIMEZONE_COMPONENT) {
        if (!zones.Add(comp.release())) {
            error.message = "VTIMEZONE without TZID";
            return ComponentOutcome::kError;
        }
        return ComponentOutcome::kZone;
    }
    bool task = kind == ICAL_VTODO_COMPONENT;
    bool event = kind == ICAL_VEVENT_COMPONENT;
    if ((!task && !event) || (task && wanted != RecordKind::kTask) ||
        (event && wanted != RecordKind::kAppointment)) {
        error.message = c.kind + " passed over (this folder holds " +
                        (wanted == RecordKind::kTask ? "tasks" : "appointments") + ")";
        return ComponentOutcome::kIgnored;
    }
    r = PimRecord();
    r.kind = task ? RecordKind::kTask : RecordKind::kAppointment;
    RecordOverride ov;
    bool isOverride = false;
    RecordRecurrence rec;
    bool recurring = false;
    for (icalproperty* p = icalcomponent_get_first_property(raw, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(raw, ICAL_ANY_PROPERTY)) {
        icalproperty_kind k = icalproperty_isa(p);
        switch (k) {
            case ICAL_UID_PROPERTY:
                r.uid = icalproperty_get_uid(p) ? icalproperty_get_uid(p) : "";
                break;
            case ICAL_DTSTAMP_PROPERTY:
                r.stamp = FromIcal(icalproperty_get_dtstamp(p), p, zones, r);
                break;
            case ICAL_SUMMARY_PROPERTY:
                r.SetText("Subject", Unescaped(p));
                break;
            case ICAL_LOCATION_PROPERTY:
                if (event)
                    r.SetText("Location", Unescaped(p));
                else
                    r.Drop("LOCATION");
                break;
            case ICAL_DESCRIPTION_PROPERTY:
                r.SetText("Body", Unescaped(p));
                break;
            case ICAL_CATEGORIES_PROPERTY: {
                const char* v = icalproperty_get_categories(p);
                if (v) {
                    for (std::string& s : vcard::SplitEscaped(v, ','))
                        if (!s.empty()) r.categories.push_back(s);
                }
                break;
            }
            case ICAL_CLASS_PROPERTY:
                r.numbers["Sensitivity"] = SensitivityOf(Unescaped(p));
                break;
            case ICAL_DTSTART_PROPERTY:
                r.times[task ? "StartDate" : "Start"] =
                    FromIcal(icalproperty_get_dtstart(p), p, zones, r);
                break;
            case ICAL_DTEND_PROPERTY:
                if (event) r.times["End"] = FromIcal(icalproperty_get_dtend(p), p, zones, r);
                break;
            case ICAL_DUE_PROPERTY:
                if (task) r.times["DueDate"] = FromIcal(icalproperty_get_due(p), p, zones, r);
                break;
            case ICAL_COMPLETED_PROPERTY:
                if (task)
                    r.times["DateCompleted"] = FromIcal(icalproperty_get_completed(p), p, zones, r);
                break;
            case ICAL_PRIORITY_PROPERTY: {
                int prio = icalproperty_get_priority(p);
                if (task)
                    r.numbers["Importance"] = prio >= 1 && prio <= 4 ? 2 : prio >= 6 ? 0 : 1;
                else
                    r.Drop("PRIORITY");
                break;
            }
            case ICAL_STATUS_PROPERTY: {
                icalproperty_status s = icalproperty_get_status(p);
                if (task)
                    r.flags["Complete"] = s == ICAL_STATUS_COMPLETED || r.flags["Complete"];
                else if (s == ICAL_STATUS_TENTATIVE && !r.numbers.count("BusyStatus"))
                    r.numbers["BusyStatus"] = 1;
                break;
            }
            case ICAL_PERCENTCOMPLETE_PROPERTY:
                if (task && icalproperty_get_percentcomplete(p) >= 100) r.flags["Complete"] = true;
                break;
            case ICAL_TRANSP_PROPERTY:
                if (event && !r.numbers.count("BusyStatus"))
                    r.numbers["BusyStatus"] =
                        icalproperty_get_transp(p) == ICAL_TRANSP_TRANSPARENT ? 0 : 2;
                break;
            case ICAL_X_PROPERTY: {
                const char* name = icalproperty_get_x_name(p);
                std::string n = name ? vcard::Upper(name) : "";
                if (event && n == "X-BUSY-STATUS") {
                    r.numbers["BusyStatus"] = NumberOf(kBusyTexts, Unescaped(p), 2);
                } else {
                    r.Drop(n);
                }
                break;
            }
            case ICAL_RRULE_PROPERTY: {
                if (task) {
                    r.Drop("RRULE (neither store holds a series of tasks)");
                    break;
                }
                if (recurring) {
                    r.Drop("RRULE (more than one)");
                    break;
                }
                icalrecurrencetype rt = icalproperty_get_rrule(p);
                char* text = icalrecurrencetype_as_string_r(&rt);
                rec.rule = text ? text : "";
                icalmemory_free_buffer(text);
                recurring = true;
                break;
            }
            case ICAL_EXDATE_PROPERTY:
                if (event) rec.exdates.push_back(FromIcal(icalproperty_get_exdate(p), p, zones, r));
                break;
            case ICAL_RDATE_PROPERTY:
                if (event) {
                    icaldatetimeperiodtype dp = icalproperty_get_rdate(p);
                    if (!icaltime_is_null_time(dp.time))
                        rec.rdates.push_back(FromIcal(dp.time, p, zones, r));
                    else
                        r.Drop("RDATE (a period)");
                }
                break;
            case ICAL_RECURRENCEID_PROPERTY:
                if (event) {
                    isOverride = true;
                    ov.recurrenceId = FromIcal(icalproperty_get_recurrenceid(p), p, zones, r);
                }
                break;
            case ICAL_DURATION_PROPERTY:
                break;  // below
            default:
                if (!IsQuiet(k)) r.Drop(icalproperty_kind_to_string(k));
        }
    }
    if (event) {
        auto start = r.times.find("Start");
        if (start == r.times.end()) {
            error.message = "VEVENT without DTSTART";
            return ComponentOutcome::kError;
        }
        if (!r.times.count("End")) {
            RecordTime end = start->second;
            icalproperty* d = icalcomponent_get_first_property(raw, ICAL_DURATION_PROPERTY);
            std::int64_t seconds = d ? icaldurationtype_as_int(icalproperty_get_duration(d))
                                   : start->second.form == TimeForm::kDate ? 86400
                                                                           : 0;
            end.time = CivilFromSeconds(SecondsOf(start->second.time) + seconds);
            r.times["End"] = end;
        }
        r.flags["AllDayEvent"] = start->second.form == TimeForm::kDate;
        if (!r.numbers.count("BusyStatus")) r.numbers["BusyStatus"] = 2;
    }
    ReadAlarm(raw, r, zones, task);
    if (!r.flags.count("ReminderSet")) r.flags["ReminderSet"] = false;
    if (isOverride) {
        ov.start = r.times["Start"];
        ov.end = r.times["End"];
        ov.subject = r.Text("Subject");
        ov.location = r.Text("Location");
        ov.allDay = r.flags["AllDayEvent"];
        ov.busyStatus = r.numbers["BusyStatus"];
        ov.reminderSet = r.flags["ReminderSet"];
        if (r.numbers.count("ReminderMinutesBeforeStart"))
            ov.reminderMinutes = r.numbers["ReminderMinutesBeforeStart"];
        rec = RecordRecurrence();
        rec.overrides.push_back(ov);
        r.recurrence = rec;
        overrideOf = r.uid;
        return ComponentOutcome::kRecord;
    }
    if (recurring || !rec.rdates.empty() || !rec.exdates.empty()) r.recurrence = rec;
    return ComponentOutcome::kRecord;
}

std::string CalendarHeader() {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Norvex//Corvel " +
           std::string(ProductVersion()) + "//EN\r\n";
}

std::string CalendarFooter() { return "END:VCALENDAR\r\n"; }

std::string TimeValue(const RecordTime& t) {
    if (t.form == TimeForm::kDate) return FormatBasic(t.time, true);
    return FormatBasic(t.time, false) + (t.form == TimeForm::kUtc ? "Z" : "");
}

std::string TimeParams(const RecordTime& t) {
    if (t.form == TimeForm::kDate) return ";VALUE=DATE";
    if (t.form == TimeForm::kZoned) {
        bool quote = t.zone.find_first_of(":;,") != std::string::npos;
        return ";TZID=" + (quote ? "\"" + t.zone + "\"" : t.zone);
    }
    return "";
}

void ZonesOf(const PimRecord& r, std::vector<std::string>& zones) {
    auto add = [&](const RecordTime& t) {
        if (t.form != TimeForm::kZoned) return;
        for (const std::string& z : zones)
            if (z == t.zone) return;
        zones.push_back(t.zone);
    };
    for (const auto& [name, t] : r.times) add(t);
    if (r.recurrence) {
        for (const RecordTime& t : r.recurrence->exdates) add(t);
        for (const RecordTime& t : r.recurrence->rdates) add(t);
        for (const RecordOverride& o : r.recurrence->overrides) {
            add(o.recurrenceId);
            add(o.start);
            add(o.end);
        }
    }
}

namespace {

void Line(std::string& out, const std::string& text) { out += vcard::FoldLine(text); }

void TextLine(std::string& out, const char* name, const std::string& value) {
    if (!value.empty()) Line(out, std::string(name) + ":" + vcard::EscapeText(value));
}

void TimeLine(std::string& out, const char* name, const RecordTime& t) {
    if (t.IsSet()) Line(out, std::string(name) + TimeParams(t) + ":" + TimeValue(t));
}

std::string Stamp(const PimRecord& r) {
    if (r.stamp.IsSet() && r.stamp.form == TimeForm::kUtc) return TimeValue(r.stamp);
    return "19700101T000000Z";
}

void Alarm(std::string& out, const std::string& trigger) {
    out += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\n";
    Line(out, "TRIGGER" + trigger);
    out += "END:VALARM\r\n";
}

const char* BusyText(long status) {
    const char* text = NameOf(kBusyTexts, status);
    return text ? text : "BUSY";
}

long Number(const PimRecord& r, const char* name, long fallback) {
    auto it = r.numbers.find(name);
    return it == r.numbers.end() ? fallback : it->second;
}

bool Flag(const PimRecord& r, const char* name) {
    auto it = r.flags.find(name);
    return it != r.flags.end() && it->second;
}

RecordTime Time(const PimRecord& r, const char* name) {
    auto it = r.times.find(name);
    return it == r.times.end() ? RecordTime() : it->second;
}

void EventBody(std::string& out, const std::string& subject, const std::string& location,
               const PimRecord& r, long busy, bool reminder, long minutes) {
    TextLine(out, "SUMMARY", subject);
    TextLine(out, "LOCATION", location);
    TextLine(out, "DESCRIPTION", r.Text("Body"));
    if (!r.categories.empty()) Line(out, "CATEGORIES:" + vcard::JoinEscaped(r.categories, ','));
    if (const char* cls = ClassOf(Number(r, "Sensitivity", 0)))
        Line(out, std::string("CLASS:") + cls);
    Line(out, busy == 0 ? "TRANSP:TRANSPARENT" : "TRANSP:OPAQUE");
    if (busy == 1 || busy == 3) Line(out, std::string("X-BUSY-STATUS:") + BusyText(busy));
    if (reminder) Alarm(out, ":-PT" + std::to_string(minutes) + "M");
}

}  // namespace

std::string WriteComponent(const PimRecord& r) {
    std::string out;
    if (r.kind == RecordKind::kTask) {
        out += "BEGIN:VTODO\r\n";
        TextLine(out, "UID", r.uid);
        Line(out, "DTSTAMP:" + Stamp(r));
        TimeLine(out, "DTSTART", Time(r, "StartDate"));
        TimeLine(out, "DUE", Time(r, "DueDate"));
        RecordTime done = Time(r, "DateCompleted");
        TimeLine(out, "COMPLETED", done);
        TextLine(out, "SUMMARY", r.Text("Subject"));
        TextLine(out, "DESCRIPTION", r.Text("Body"));
        if (!r.categories.empty()) Line(out, "CATEGORIES:" + vcard::JoinEscaped(r.categories, ','));
        long importance = Number(r, "Importance", 1);
        Line(out, "PRIORITY:" + std::string(importance >= 2 ? "1" : importance <= 0 ? "9" : "5"));
        bool complete = Flag(r, "Complete");
        Line(out, complete ? "STATUS:COMPLETED" : "STATUS:NEEDS-ACTION");
        if (complete) Line(out, "PERCENT-COMPLETE:100");
        if (const char* cls = ClassOf(Number(r, "Sensitivity", 0)))
            Line(out, std::string("CLASS:") + cls);
        RecordTime remind = Time(r, "ReminderTime");
        if (Flag(r, "ReminderSet") && remind.IsSet())
            Alarm(out, ";VALUE=DATE-TIME:" + TimeValue(remind));
        out += "END:VTODO\r\n";
        return out;
    }
    const long busy = Number(r, "BusyStatus", 2);
    const bool reminder = Flag(r, "ReminderSet");
    const long minutes = Number(r, "ReminderMinutesBeforeStart", 15);
    out += "BEGIN:VEVENT\r\n";
    TextLine(out, "UID", r.uid);
    Line(out, "DTSTAMP:" + Stamp(r));
    TimeLine(out, "DTSTART", Time(r, "Start"));
    TimeLine(out, "DTEND", Time(r, "End"));
    if (r.recurrence) {
        if (!r.recurrence->rule.empty()) Line(out, "RRULE:" + r.recurrence->rule);
        for (const RecordTime& t : r.recurrence->exdates) TimeLine(out, "EXDATE", t);
        for (const RecordTime& t : r.recurrence->rdates) TimeLine(out, "RDATE", t);
    }
    EventBody(out, r.Text("Subject"), r.Text("Location"), r, busy, reminder, minutes);
    out += "END:VEVENT\r\n";
    if (!r.recurrence) return out;
    for (const RecordOverride& o : r.recurrence->overrides) {
        out += "BEGIN:VEVENT\r\n";
        TextLine(out, "UID", r.uid);
        Line(out, "DTSTAMP:" + Stamp(r));
        TimeLine(out, "RECURRENCE-ID", o.recurrenceId);
        TimeLine(out, "DTSTART", o.start);
        TimeLine(out, "DTEND", o.end);
        EventBody(out, o.subject.value_or(r.Text("Subject")),
                  o.location.value_or(r.Text("Location")), r, o.busyStatus.value_or(busy),
                  o.reminderSet.value_or(reminder), o.reminderMinutes.value_or(minutes));
        out += "END:VEVENT\r\n";
    }
    return out;
}

}  // namespace pimfmt
