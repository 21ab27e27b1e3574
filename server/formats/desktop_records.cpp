// Desktop items and PimRecords.
#include "server/formats/desktop_records.h"

#include <libical/ical.h>

#include <cstring>
#include <map>

#include "common/base/file_time.h"
#include "common/formats/ical_map.h"
#include "common/formats/vcard_map.h"
#include "server/formats/rule_pattern.h"
#include "server/itemconv/element_map.h"
#include "server/itemconv/recurrence_blob.h"
#include "server/itemconv/recurrence_message.h"

using pimfmt::CivilTime;
using pimfmt::PimRecord;
using pimfmt::RecordKind;
using pimfmt::RecordTime;
using pimfmt::TimeForm;

namespace {

constexpr std::uint16_t kLidZoneDescription = 0x8234;
constexpr const char16_t* kUidName = u"UID";
constexpr const char16_t* kStampName = u"DTSTAMP";

std::uint64_t FiletimeOf(const CivilTime& utc) {
    std::int64_t s = pimfmt::SecondsOf(utc) + kSecondsFrom1601To1970;
    return s < 0 ? 0 : static_cast<std::uint64_t>(s) * kFiletimePerSecond;
}

CivilTime CivilOfFiletime(std::uint64_t ft) {
    return pimfmt::CivilFromSeconds(static_cast<std::int64_t>(ft / kFiletimePerSecond) -
                                    kSecondsFrom1601To1970);
}

CItemTime ItemTimeOf(const CivilTime& t) {
    return CItemTime{t.year, t.month, t.day, t.hour, t.minute, t.second, 0};
}

CivilTime CivilOf(const CItemTime& t) {
    return CivilTime{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

// A record time as UTC, reading dates and floating times in local.
CivilTime ToUtc(const RecordTime& t, const pimfmt::FileZones& zones, const pimfmt::Zone& local) {
    switch (t.form) {
        case TimeForm::kUtc:
            return t.time;
        case TimeForm::kZoned:
            if (const pimfmt::Zone* z = zones.Find(t.zone)) return z->ToUtc(t.time);
            return local.ToUtc(t.time);
        case TimeForm::kDate: {
            CivilTime midnight = t.time;
            midnight.hour = midnight.minute = midnight.second = 0;
            return local.ToUtc(midnight);
        }
        case TimeForm::kFloating:
        default:
            return local.ToUtc(t.time);
    }
}

// The local time of t in zone (dates stay dates).
CivilTime ToLocalIn(const RecordTime& t, const pimfmt::FileZones& zones, const pimfmt::Zone& zone) {
    if (t.form == TimeForm::kDate || t.form == TimeForm::kFloating) return t.time;
    if (t.form == TimeForm::kZoned && t.zone == zone.name()) return t.time;
    return zone.ToLocal(ToUtc(t, zones, zone));
}

RecordTime DateOf(const CivilTime& local) {
    RecordTime t;
    t.time = CivilTime{local.year, local.month, local.day};
    t.form = TimeForm::kDate;
    return t;
}

std::optional<std::uint64_t> ReadTime(IMessagePtr& item, ULONG tag) {
    CPropValue v;
    if (FAILED(item.GetOneProp(tag, v)) || v.Empty() || v.Tag() != tag) return std::nullopt;
    return (static_cast<std::uint64_t>(v->Value.ft.dwHighDateTime) << 32) |
           v->Value.ft.dwLowDateTime;
}

void WriteTime(IMessagePtr& item, ULONG tag, std::uint64_t ft) {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(ft);
    f.dwHighDateTime = static_cast<DWORD>(ft >> 32);
    item.SetProp(*CPropValue::Time(tag, f).Get());
}

std::optional<LONG> ReadNumber(IMessagePtr& item, ULONG tag) {
    CPropValue v;
    if (FAILED(item.GetOneProp(tag, v)) || v.Empty() || v.Tag() != tag) return std::nullopt;
    if (PROP_TYPE(tag) == PT_BOOLEAN) return v->Value.b ? 1 : 0;
    if (PROP_TYPE(tag) == PT_I2) return v->Value.i;
    return v->Value.l;
}

std::vector<std::string> ReadList(IMessagePtr& item, ULONG tag) {
    std::vector<std::string> out;
    CPropValue v;
    if (FAILED(item.GetOneProp(tag, v)) || v.Empty() || v.Tag() != tag) return out;
    for (ULONG k = 0; k < v->Value.MVszA.cValues; ++k)
        if (v->Value.MVszA.lppszA[k]) out.emplace_back(v->Value.MVszA.lppszA[k]);
    return out;
}

ULONG NamedTag(IMessagePtr& item, const char16_t* name, ULONG type) {
    return item.GetIDFromName(PS_PUBLIC_STRINGS, std::u16string(name), type, MAPI_CREATE);
}

ULONG ZoneTag(IMessagePtr& item) {
    return item.GetIDFromName(PSETID_Appointment, kLidZoneDescription, PT_STRING8, MAPI_CREATE);
}

// The field of a row of the element map, through the format's table.
const char* FieldOfToken(RecordKind kind, std::int32_t token) {
    if (kind == RecordKind::kContact) {
        for (std::size_t i = 0; i < pimfmt::VCardMapSize(); ++i)
            if (pimfmt::kVCardMap[i].token == token && pimfmt::kVCardMap[i].property)
                return pimfmt::kVCardMap[i].field;
        return nullptr;
    }
    for (std::size_t i = 0; i < pimfmt::ICalMapSize(); ++i) {
        const pimfmt::ICalMapEntry& row = pimfmt::kICalMap[i];
        if (row.kind == kind && row.token == token && row.property) return row.field;
    }
    return nullptr;
}

int KindNumber(RecordKind kind) {
    return kind == RecordKind::kContact ? kItemContact
           : kind == RecordKind::kTask  ? kItemTask
                                        : kItemAppointment;
}

const char* ClassOf(RecordKind kind) {
    return kind == RecordKind::kContact ? "IPM.Contact"
           : kind == RecordKind::kTask  ? "IPM.Task"
                                        : "IPM.Appointment";
}

bool IsDateField(const std::string& f) {
    return f == "Birthday" || f == "Anniversary" || f == "StartDate" || f == "DueDate";
}

// The zone an appointment's times are written in.
struct ItemZone {
    std::string name;
    const pimfmt::Zone* zone = nullptr;
    std::unique_ptr<pimfmt::Zone> owned;
};

ItemZone ZoneOfItem(IMessagePtr& item) {
    ItemZone z;
    z.name = item.GetPropText(ZoneTag(item));
    if (!z.name.empty()) z.zone = pimfmt::FindIanaZone(z.name);
    if (!z.zone && !z.name.empty()) {
        // A file's own zone: its rules as the time-zone structure keeps them.
        CPropValue v;
        ULONG tag =
            item.GetIDFromName(PSETID_Appointment, kLidTimeZoneStruct, PT_BINARY, MAPI_CREATE);
        if (SUCCEEDED(item.GetOneProp(tag, v)) && !v.Empty() && v.Tag() == tag) {
            std::span<const std::uint8_t> bytes(v->Value.bin.lpb, v->Value.bin.cb);
            if (auto s = DecodeTimeZoneStruct(bytes)) {
                z.owned = pimfmt::ZoneOfRule(RuleOfZoneStruct(*s), z.name);
                z.zone = z.owned.get();
            }
        }
    }
    if (!z.zone) {
        z.name = pimfmt::LocalZoneName();
        z.zone = &pimfmt::LocalZone();
    }
    return z;
}

RecordTime InZone(const CivilTime& utc, const ItemZone& z) {
    RecordTime t;
    if (z.name == "UTC") {
        t.time = utc;
        t.form = TimeForm::kUtc;
        return t;
    }
    t.time = z.zone->ToLocal(utc);
    t.form = TimeForm::kZoned;
    t.zone = z.name;
    return t;
}

RecordTime LocalMinutes(std::int64_t minutes, const ItemZone& z, bool allDay) {
    CItemTime it = ItemTimeFromMinutes(minutes);
    RecordTime t;
    t.time = CivilOf(it);
    if (allDay) return DateOf(t.time);
    if (z.name == "UTC") {
        t.form = TimeForm::kUtc;
        return t;
    }
    t.form = TimeForm::kZoned;
    t.zone = z.name;
    return t;
}

void ReadSeries(IMessagePtr& item, PimRecord& r, const ItemZone& z, bool allDay) {
    CFormatZone zone(*z.zone);
    RecurrencePattern p;
    if (!LoadFromMessage(item, p, zone) || !p.recurring || p.kind == kRecurNone) return;
    pimfmt::RecordRecurrence rec;
    std::string until;
    if (p.endsByDate && !p.endless) {
        CivilTime end = CivilOf(p.seriesEnd);
        CivilTime start = CivilOf(p.seriesStart);
        end.hour = start.hour;
        end.minute = start.minute;
        end.second = 0;
        until = allDay ? pimfmt::FormatBasic(end, true)
                       : pimfmt::FormatBasic(z.zone->ToUtc(end), false) + "Z";
    }
    rec.rule = RuleFromPattern(p, until);
    const int startMinute = MinuteOfDay(p.seriesStart);
    for (std::int64_t d : p.deletedDates) {
        bool covered = false;
        for (const _recur_exception& e : p.exceptions)
            if (e.originalStart / kMinutesPerDay == d / kMinutesPerDay) covered = true;
        if (!covered)
            rec.exdates.push_back(
                LocalMinutes(d / kMinutesPerDay * kMinutesPerDay + startMinute, z, allDay));
    }
    for (const _recur_exception& e : p.exceptions) {
        pimfmt::RecordOverride o;
        o.recurrenceId = LocalMinutes(e.originalStart, z, allDay);
        bool exAllDay = (e.overrideFlags & kOverrideAllDay) ? e.allDay : allDay;
        o.start = LocalMinutes(e.start, z, exAllDay);
        o.end = LocalMinutes(e.end, z, exAllDay);
        if (e.overrideFlags & kOverrideSubject) o.subject = e.subject;
        if (e.overrideFlags & kOverrideLocation) o.location = e.location;
        if (e.overrideFlags & kOverrideAllDay) o.allDay = e.allDay;
        if (e.overrideFlags & kOverrideBusyStatus) o.busyStatus = e.busyStatus;
        if (e.overrideFlags & kOverrideReminderSet) o.reminderSet = e.reminderSet;
        if (e.overrideFlags & kOverrideReminderDelta) o.reminderMinutes = e.reminderDelta;
        rec.overrides.push_back(o);
    }
    r.recurrence = rec;
}

}  // namespace

std::optional<CZoneState> CFormatZone::StateAt(std::int64_t utcSecondsFrom1601) const {
    int offset = zone_.OffsetAt(utcSecondsFrom1601 - kSecondsFrom1601To1970);
    return CZoneState{offset / 60, false};
}

CTimeZoneStruct ZoneStructOfRule(const pimfmt::ZoneRule& r) {
    CTimeZoneStruct s;
    s.bias = -r.standardOffset / 60;
    if (!r.daylight) return s;
    s.daylightBias = -(r.daylightOffset - r.standardOffset) / 60;
    auto rule = [](int month, int weekday, int week, int minute) {
        CTimeZoneRule t;
        t.month = static_cast<std::uint16_t>(month);
        t.dayOfWeek = static_cast<std::uint16_t>(weekday);
        t.day = static_cast<std::uint16_t>(week < 0 ? 5 : week);
        t.hour = static_cast<std::uint16_t>(minute / 60);
        t.minute = static_cast<std::uint16_t>(minute % 60);
        return t;
    };
    s.standardDate =
        rule(r.toStandardMonth, r.toStandardWeekday, r.toStandardWeek, r.toStandardMinute);
    s.daylightDate =
        rule(r.toDaylightMonth, r.toDaylightWeekday, r.toDaylightWeek, r.toDaylightMinute);
    return s;
}

pimfmt::ZoneRule RuleOfZoneStruct(const CTimeZoneStruct& s) {
    pimfmt::ZoneRule r;
    r.standardOffset = -s.bias * 60;
    if (s.standardDate.month == 0) return r;
    r.daylight = true;
    r.daylightOffset = r.standardOffset - s.daylightBias * 60;
    r.toStandardMonth = s.standardDate.month;
    r.toStandardWeekday = s.standardDate.dayOfWeek;
    r.toStandardWeek = s.standardDate.day >= 5 ? -1 : s.standardDate.day;
    r.toStandardMinute = s.standardDate.hour * 60 + s.standardDate.minute;
    r.toDaylightMonth = s.daylightDate.month;
    r.toDaylightWeekday = s.daylightDate.dayOfWeek;
    r.toDaylightWeek = s.daylightDate.day >= 5 ? -1 : s.daylightDate.day;
    r.toDaylightMinute = s.daylightDate.hour * 60 + s.daylightDate.minute;
    return r;
}

pimfmt::ZoneRule DesktopZoneRule(const std::string& name, int year) {
    const pimfmt::Zone* z = pimfmt::FindIanaZone(name);
    return pimfmt::RuleOfZone(z ? *z : pimfmt::LocalZone(), year ? year : 2000);
}

PimRecord DesktopRecordOfItem(IMessagePtr& item, RecordKind kind) {
    PimRecord r;
    r.kind = kind;
    const pimfmt::Zone& local = pimfmt::LocalZone();
    const bool appointment = kind == RecordKind::kAppointment;
    ItemZone zone;
    if (appointment) zone = ZoneOfItem(item);
    bool allDay = false;
    if (appointment) {
        ULONG tag = item.GetIDFromName(PSETID_Appointment, 0x8215, PT_BOOLEAN, MAPI_CREATE);
        allDay = ReadNumber(item, tag).value_or(0) != 0;
    }
    for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
        if (row->kind != KindNumber(kind) || !HasProperty(*row)) continue;
        const char* field = FieldOfToken(kind, row->token);
        if (field == nullptr) continue;
        const std::string f = field;
        ULONG tag = ResolveElementTag(item, *row);
        if (tag == PR_BODY) {
            r.SetText(f, item.GetBody());
            continue;
        }
        switch (PROP_TYPE(tag)) {
            case PT_STRING8:
            case PT_UNICODE:
                r.SetText(f, item.GetPropText(tag));
                break;
            case PT_MV_STRING8:
                (f == "Children" ? r.children : r.categories) = ReadList(item, tag);
                break;
            case PT_SYSTIME: {
                std::optional<std::uint64_t> ft = ReadTime(item, tag);
                if (!ft) break;
                CivilTime utc = CivilOfFiletime(*ft);
                if (appointment) {
                    r.times[f] = allDay ? DateOf(zone.zone->ToLocal(utc)) : InZone(utc, zone);
                } else if (IsDateField(f)) {
                    CivilTime l = local.ToLocal(utc);
                    if (l.hour == 0 && l.minute == 0 && l.second == 0) {
                        r.times[f] = DateOf(l);
                    } else {
                        RecordTime t;
                        t.time = utc;
                        r.times[f] = t;
                    }
                } else {
                    RecordTime t;
                    t.time = utc;
                    r.times[f] = t;
                }
                break;
            }
            case PT_LONG:
            case PT_I2:
                if (auto n = ReadNumber(item, tag)) r.numbers[f] = *n;
                break;
            case PT_BOOLEAN:
                if (f == "IsRecurring") break;
                r.flags[f] = ReadNumber(item, tag).value_or(0) != 0;
                break;
            default:
                break;
        }
    }
    r.numbers.erase("Duration");
    if (appointment) {
        // An all-day event ends on the day after its last day.
        auto end = r.times.find("End");
        auto start = r.times.find("Start");
        if (allDay && end != r.times.end() && start != r.times.end() &&
            end->second == start->second) {
            CivilTime next = pimfmt::CivilFromDays(pimfmt::DaysFromCivil(end->second.time.year,
                                                                         end->second.time.month,
                                                                         end->second.time.day) +
                                                   1);
            end->second = DateOf(next);
        }
        ULONG recurring =
            item.GetIDFromName(PSETID_Appointment, kLidRecurring, PT_BOOLEAN, MAPI_CREATE);
        if (ReadNumber(item, recurring).value_or(0) != 0) ReadSeries(item, r, zone, allDay);
    }
    if (kind != RecordKind::kContact) {
        if (!r.flags.count("ReminderSet")) r.flags["ReminderSet"] = false;
    }
    r.uid = item.GetPropText(NamedTag(item, kUidName, PT_STRING8));
    if (r.uid.empty()) r.uid = item.GetEntryID().ToText();
    if (auto stamp = ReadTime(item, NamedTag(item, kStampName, PT_SYSTIME))) {
        r.stamp.time = CivilOfFiletime(*stamp);
    } else if (auto modified = ReadTime(item, PR_LAST_MODIFICATION_TIME)) {
        r.stamp.time = CivilOfFiletime(*modified);
    }
    r.stamp.form = TimeForm::kUtc;
    return r;
}

namespace {

// The exceptions and deleted dates of a series in zone z.
void WriteSeries(IMessagePtr& item, const PimRecord& r, const pimfmt::FileZones& zones,
                 const pimfmt::Zone& z, const CivilTime& firstLocal, const CivilTime& endLocal,
                 std::vector<std::string>& notHeld) {
    const pimfmt::RecordRecurrence& rec = *r.recurrence;
    if (rec.rule.empty()) {
        notHeld.push_back("RDATE or EXDATE without RRULE (a single appointment is kept)");
        return;
    }
    icalrecurrencetype rt = icalrecurrencetype_from_string(rec.rule.c_str());
    CItemTime until;
    if (!icaltime_is_null_time(rt.until)) {
        RecordTime u;
        u.time = CivilTime{rt.until.year,
                           rt.until.month,
                           rt.until.day,
                           rt.until.is_date ? firstLocal.hour : rt.until.hour,
                           rt.until.is_date ? firstLocal.minute : rt.until.minute,
                           rt.until.is_date ? 0 : rt.until.second};
        u.form = icaltime_is_utc(rt.until) ? TimeForm::kUtc : TimeForm::kFloating;
        until = ItemTimeOf(u.form == TimeForm::kUtc ? z.ToLocal(u.time) : u.time);
    }
    RecurrencePattern p;
    std::string why;
    if (!PatternFromRule(rec.rule, ItemTimeOf(firstLocal), until, p, why)) {
        notHeld.push_back("RRULE " + rec.rule + " (" + why + "; the first occurrence is kept)");
        return;
    }
    if (!rec.rdates.empty()) notHeld.push_back("RDATE (the pattern holds no added dates)");
    p.start = ItemTimeOf(firstLocal);
    p.end = ItemTimeOf(endLocal);
    const bool allDay = r.flags.count("AllDayEvent") && r.flags.at("AllDayEvent");
    for (const RecordTime& t : rec.exdates) {
        CivilTime l = ToLocalIn(t, zones, z);
        p.deletedDates.push_back(MinutesFrom1601(ItemTimeOf(l)));
    }
    for (const pimfmt::RecordOverride& o : rec.overrides) {
        _recur_exception e;
        e.originalStart = MinutesFrom1601(ItemTimeOf(ToLocalIn(o.recurrenceId, zones, z)));
        e.start = MinutesFrom1601(ItemTimeOf(ToLocalIn(o.start, zones, z)));
        e.end = MinutesFrom1601(ItemTimeOf(ToLocalIn(o.end, zones, z)));
        if (o.subject && *o.subject != r.Text("Subject")) {
            e.overrideFlags |= kOverrideSubject;
            e.subject = *o.subject;
        }
        if (o.location && *o.location != r.Text("Location")) {
            e.overrideFlags |= kOverrideLocation;
            e.location = *o.location;
        }
        if (o.allDay && *o.allDay != allDay) {
            e.overrideFlags |= kOverrideAllDay;
            e.allDay = *o.allDay;
        }
        long busy = r.numbers.count("BusyStatus") ? r.numbers.at("BusyStatus") : 2;
        if (o.busyStatus && *o.busyStatus != busy) {
            e.overrideFlags |= kOverrideBusyStatus;
            e.busyStatus = static_cast<std::int32_t>(*o.busyStatus);
        }
        bool reminder = r.flags.count("ReminderSet") && r.flags.at("ReminderSet");
        if (o.reminderSet && *o.reminderSet != reminder) {
            e.overrideFlags |= kOverrideReminderSet;
            e.reminderSet = *o.reminderSet;
        }
        long minutes = r.numbers.count("ReminderMinutesBeforeStart")
                           ? r.numbers.at("ReminderMinutesBeforeStart")
                           : 15;
        if (o.reminderMinutes && *o.reminderMinutes != minutes) {
            e.overrideFlags |= kOverrideReminderDelta;
            e.reminderDelta = static_cast<std::int32_t>(*o.reminderMinutes);
        }
        if (e.subject.size() > kMaxExceptionText || e.location.size() > kMaxExceptionText)
            notHeld.push_back("an override's subject or location beyond " +
                              std::to_string(kMaxExceptionText) + " bytes (cut)");
        p.exceptions.push_back(e);
    }
    CFormatZone zone(z);
    CTimeZoneStruct zs = ZoneStructOfRule(pimfmt::RuleOfZone(z, firstLocal.year));
    CRecurrenceStoreValues values = StoreValuesFromPattern(p, zone, zs);
    CRecurrenceTags tags = CRecurrenceTags::Resolve(item);
    WriteRecurrenceValues(item, tags, values);
}

}  // namespace

void DesktopItemOfRecord(IMessagePtr& item, const PimRecord& r, const pimfmt::FileZones& zones,
                         std::vector<std::string>& notHeld) {
    const pimfmt::Zone& local = pimfmt::LocalZone();
    item.SetStrProp(PR_MESSAGE_CLASS, ClassOf(r.kind));
    const bool appointment = r.kind == RecordKind::kAppointment;
    // The zone of an appointment: that of its start.
    const pimfmt::Zone* z = &local;
    std::string zoneName = pimfmt::LocalZoneName();
    if (appointment) {
        auto start = r.times.find("Start");
        if (start != r.times.end() && start->second.form == TimeForm::kZoned) {
            if (const pimfmt::Zone* found = zones.Find(start->second.zone)) {
                z = found;
                zoneName = start->second.zone;
            }
        } else if (start != r.times.end() && start->second.form == TimeForm::kUtc && r.recurrence) {
            z = &pimfmt::UtcZone();
            zoneName = "UTC";
        }
        item.SetStrProp(ZoneTag(item), zoneName);
    }
    const bool allDay = r.flags.count("AllDayEvent") && r.flags.at("AllDayEvent");
    for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
        if (row->kind != KindNumber(r.kind) || !HasProperty(*row)) continue;
        const char* field = FieldOfToken(r.kind, row->token);
        if (field == nullptr) continue;
        const std::string f = field;
        ULONG tag = ResolveElementTag(item, *row);
        if (tag == PR_BODY) {
            if (!r.Text(f).empty()) item.SetBody(r.Text(f));
            continue;
        }
        switch (PROP_TYPE(tag)) {
            case PT_STRING8:
            case PT_UNICODE:
                if (!r.Text(f).empty()) item.SetStrProp(tag, r.Text(f));
                break;
            case PT_MV_STRING8: {
                const std::vector<std::string>& list = f == "Children" ? r.children : r.categories;
                if (!list.empty()) item.SetProp(*CPropValue::MultiString8(tag, list).Get());
                break;
            }
            case PT_SYSTIME: {
                auto it = r.times.find(f);
                if (it == r.times.end() || !it->second.IsSet()) break;
                const pimfmt::Zone& in = appointment ? *z : local;
                CivilTime utc = ToUtc(it->second, zones, in);
                if (appointment && allDay && it->second.form == TimeForm::kDate)
                    utc = z->ToUtc(CivilTime{it->second.time.year, it->second.time.month,
                                             it->second.time.day});
                WriteTime(item, tag, FiletimeOf(utc));
                break;
            }
            case PT_LONG:
            case PT_I2:
                if (f == "Duration") {
                    auto s = r.times.find("Start"), e = r.times.find("End");
                    if (s != r.times.end() && e != r.times.end()) {
                        std::int64_t minutes = (pimfmt::SecondsOf(ToUtc(e->second, zones, *z)) -
                                                pimfmt::SecondsOf(ToUtc(s->second, zones, *z))) /
                                               60;
                        item.SetLongProp(tag, static_cast<LONG>(minutes < 0 ? 0 : minutes));
                    }
                } else if (r.numbers.count(f)) {
                    item.SetLongProp(tag, static_cast<LONG>(r.numbers.at(f)));
                }
                break;
            case PT_BOOLEAN:
                if (f == "IsRecurring") {
                    item.SetProp(*CPropValue::Boolean(tag, false).Get());
                } else if (r.flags.count(f)) {
                    item.SetProp(*CPropValue::Boolean(tag, r.flags.at(f)).Get());
                }
                break;
            default:
                break;
        }
    }
    if (r.kind == RecordKind::kContact && !r.Text("FileAs").empty()) {
        item.SetStrProp(PR_DISPLAY_NAME, r.Text("FileAs"));
        item.SetStrProp(PR_SUBJECT, r.Text("FileAs"));
    }
    if (!r.uid.empty()) item.SetStrProp(NamedTag(item, kUidName, PT_STRING8), r.uid);
    if (r.stamp.IsSet())
        WriteTime(item, NamedTag(item, kStampName, PT_SYSTIME),
                  FiletimeOf(ToUtc(r.stamp, zones, local)));
    if (appointment && r.recurrence) {
        auto s = r.times.find("Start"), e = r.times.find("End");
        if (s != r.times.end() && e != r.times.end())
            WriteSeries(item, r, zones, *z, ToLocalIn(s->second, zones, *z),
                        ToLocalIn(e->second, zones, *z), notHeld);
    }
    if (r.kind == RecordKind::kTask && r.times.count("DateCompleted"))
        notHeld.push_back("COMPLETED (the desktop's tasks hold no completion date)");
    if (r.kind == RecordKind::kContact) {
        for (const char* f :
             {"Suffix", "RadioTelephoneNumber", "YomiFirstName", "YomiLastName", "YomiCompanyName"})
            if (!r.Text(f).empty())
                notHeld.push_back(std::string(f) + " (the desktop has no property for it)");
    }
}
