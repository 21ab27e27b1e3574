// PimRecord: one contact, task or appointment between a file format and a store,
// in the terms both stores share. The vCard and iCalendar mappings
// (vcard_map.h, ical_map.h) fill and read it; each store's binding moves it to and
// from its items (the desktop's element map, the handheld's PIM properties).
//
// Fields are named as the handheld's PIM properties name them ("FirstName",
// "Email2Address", "Anniversary", "Subject", "DueDate", "Start"); their tables
// also give the desktop's field token of each (vcard_map.h, ical_map.h).
//
// Plain values; no shared state.
#pragma once

#include <compare>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pimfmt {

enum class RecordKind { kContact, kTask, kAppointment };

// A calendar date and wall-clock time; year 0 means not set.
struct CivilTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool IsSet() const { return year != 0; }
    auto operator<=>(const CivilTime&) const = default;
};

enum class TimeForm {
    kUtc,       // an instant, the civil time read in UTC
    kZoned,     // wall-clock time in the named zone
    kFloating,  // wall-clock time in whatever zone the reader is in
    kDate,      // a whole day (all-day events, birthdays, task dates)
};

struct RecordTime {
    CivilTime time;
    TimeForm form = TimeForm::kUtc;
    std::string zone;  // kZoned: the zone's name (an IANA name, or a file's own TZID)
    bool IsSet() const { return time.IsSet(); }
    bool operator==(const RecordTime&) const = default;
};

// One changed occurrence of a series (a RECURRENCE-ID component).
struct RecordOverride {
    RecordTime recurrenceId;  // the occurrence's original start
    RecordTime start, end;
    std::optional<std::string> subject, location;
    std::optional<bool> allDay;
    std::optional<long> busyStatus;
    std::optional<bool> reminderSet;
    std::optional<long> reminderMinutes;
    bool operator==(const RecordOverride&) const = default;
};

struct RecordRecurrence {
    std::string rule;                 // the RRULE value ("FREQ=WEEKLY;COUNT=5;BYDAY=MO,WE")
    std::vector<RecordTime> exdates;  // deleted occurrences (original starts)
    std::vector<RecordTime> rdates;   // added occurrences
    std::vector<RecordOverride> overrides;
    bool operator==(const RecordRecurrence&) const = default;
};

struct PimRecord {
    RecordKind kind = RecordKind::kContact;
    std::map<std::string, std::string> text;  // UTF-8; an absent field is empty
    std::map<std::string, long> numbers;
    std::map<std::string, bool> flags;
    std::map<std::string, RecordTime> times;
    std::vector<std::string> categories;
    std::vector<std::string> children;  // contacts
    std::string uid;
    RecordTime stamp;  // when the file's entry was made (DTSTAMP); unset: none
    std::optional<RecordRecurrence> recurrence;
    // What the entry held that no field carries ("PHOTO", "ATTENDEE"), once each, in
    // the order met, for the import's report.
    std::vector<std::string> dropped;
    bool operator==(const PimRecord&) const = default;

    std::string Text(const std::string& field) const;
    void SetText(const std::string& field, const std::string& value);  // empty: removed
    void Drop(const std::string& what);
};

}  // namespace pimfmt
