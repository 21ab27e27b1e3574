// Calendar arithmetic on civil times (proleptic Gregorian) and the time zones of
// the file formats: IANA zones by name through libical's zone data, zones defined
// by a file's VTIMEZONE, and the yearly rule of a zone as a compact VTIMEZONE.
//
// libical's built-in zone cache is process-wide and not locked: the zone functions
// belong to one thread at a time (the import and export commands run on one).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/formats/pim_record.h"

struct _icaltimezone;
struct icalcomponent_impl;

namespace pimfmt {

// Days since 1970-01-01 of a date (month and day may run over), and back; the
// calendar of common/recurrence counted from another day.
std::int64_t DaysFromCivil(int year, int month, int day);
CivilTime CivilFromDays(std::int64_t days);
// 0 Sunday ... 6 Saturday.
int WeekdayOf(const CivilTime& t);
int DaysInMonth(int year, int month);
// Seconds since 1970-01-01 of a civil time read as UTC, and back.
std::int64_t SecondsOf(const CivilTime& t);
CivilTime CivilFromSeconds(std::int64_t seconds);
// "20240320T100000" / "20240320", and back (nothing for other text).
std::string FormatBasic(const CivilTime& t, bool dateOnly);
std::optional<CivilTime> ParseBasic(const std::string& text, bool* dateOnly = nullptr);

// A zone: an IANA zone of libical's data, or one defined by a file.
class Zone {
public:
    // local = UTC + OffsetAt(utc seconds), in seconds.
    virtual ~Zone() = default;
    virtual int OffsetAt(std::int64_t utcSeconds) const = 0;
    virtual const std::string& name() const = 0;

    CivilTime ToLocal(const CivilTime& utc) const;
    // A wall-clock time skipped by a change to daylight time maps with the offset
    // before the change; a repeated one to its first instant.
    CivilTime ToUtc(const CivilTime& local) const;
};

// The zone of an IANA name ("Europe/Berlin"), from libical's zone data; null for
// a name it does not know. The object lives for the whole process.
const Zone* FindIanaZone(const std::string& name);
// The process's own zone by IANA name: the TZ setting, /etc/timezone or the link
// /etc/localtime; "UTC" when none tells.
std::string LocalZoneName();
// FindIanaZone(LocalZoneName()), or UTC.
const Zone& LocalZone();
const Zone& UtcZone();

// Zones a file defines with VTIMEZONE, by TZID; owns them.
class FileZones {
public:
    FileZones();
    ~FileZones();
    FileZones(const FileZones&) = delete;
    FileZones& operator=(const FileZones&) = delete;
    // Takes a parsed VTIMEZONE (ownership passes). False when it has no TZID.
    bool Add(icalcomponent_impl* vtimezone);
    // The file's zone of that TZID, else the IANA zone of that name; null when
    // neither exists.
    const Zone* Find(const std::string& tzid) const;

private:
    struct Entry;
    std::map<std::string, std::unique_ptr<Entry>> zones_;
};

// The yearly rule of a zone: standard offset and, with daylight time, the
// daylight offset and the two changes (month, weekday, week 1-4 or -1 for the
// last, local time of the change in minutes after midnight).
struct ZoneRule {
    int standardOffset = 0;  // seconds east of UTC
    bool daylight = false;
    int daylightOffset = 0;
    int toDaylightMonth = 0, toDaylightWeekday = 0, toDaylightWeek = 0, toDaylightMinute = 0;
    int toStandardMonth = 0, toStandardWeekday = 0, toStandardWeek = 0, toStandardMinute = 0;
    bool operator==(const ZoneRule&) const = default;
};
// The rule in force in the given year (found from the zone's offsets).
ZoneRule RuleOfZone(const Zone& zone, int year);
// A zone following a rule every year.
std::unique_ptr<Zone> ZoneOfRule(const ZoneRule& rule, const std::string& name);
// The VTIMEZONE lines (CRLF, folded) for a zone of that TZID following rule.
std::string VTimezoneText(const std::string& tzid, const ZoneRule& rule);

}  // namespace pimfmt
