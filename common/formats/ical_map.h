// iCalendar for tasks (VTODO) and appointments (VEVENT): the mapping table (which
// property carries which field, the desktop's field token, whether the handheld
// holds it, or why a field is not carried), the streaming component reader, the
// conversion of a parsed component into a PimRecord (libical parses it), and the
// writer.
//
// Reading: a file is cut into its top-level components by IcsReader (one at a
// time, memory bounded by the largest component); each is parsed by libical. A
// component that libical cannot read whole (a property it rejects) is an error
// naming the line of the first property that does not parse on its own.
// Times: DATE values are whole days; a TZID names an IANA zone or a VTIMEZONE of
// the file (an unknown one is read as floating time and reported); UTC and
// floating times as they stand. DTEND, else DURATION, else the start.
// Recurrence: RRULE (its normalised text), EXDATE and RDATE as given; a component
// with RECURRENCE-ID is an override of its series (RecordFromComponent reports it
// with overrideOf set). The first VALARM gives the reminder.
//
// Writing: VCALENDAR 2.0 with a VTIMEZONE per zone used (VTimezoneText), then
// each record; a series' overrides follow it as components with RECURRENCE-ID.
// Lines end with CRLF and are folded at 75 bytes.
//
// Single-threaded (libical's zone cache, civil_time.h).
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "common/formats/civil_time.h"
#include "common/formats/pim_record.h"
#include "common/vcard/content_line.h"

namespace pimfmt {

struct ICalMapEntry {
    RecordKind kind;
    const char* field;     // the record's field
    std::int32_t token;    // desktop field token (code page 3 tasks, 2 appointments); -1 none
    bool handheld;         // the handheld holds the field
    const char* property;  // iCalendar property, null when not carried
    const char* note;      // how it is carried, or why not
};
extern const ICalMapEntry kICalMap[];
std::size_t ICalMapSize();

// One problem with one entry of a file.
struct EntryError {
    std::size_t entry = 0;  // 1-based; 0 for text outside any entry
    std::size_t line = 0;
    std::string message;
};

struct IcsComponent {
    std::string kind;                // "VEVENT", "VTODO", "VTIMEZONE", ...
    std::string text;                // its lines, BEGIN to END, CRLF-separated
    std::vector<std::size_t> lines;  // the first physical line of each logical line
    std::size_t index = 0;           // 1-based among the file's components
};

class IcsReader {
public:
    explicit IcsReader(std::istream& in) : lines_(in) {}
    enum class Result { kComponent, kError, kEnd };
    // The next top-level component of a VCALENDAR, or an error: text that is no
    // iCalendar, a component cut off by the end of the file, an END that closes
    // nothing open, a line over the length limit (the component is dropped).
    Result Next(IcsComponent& component, EntryError& error);
    std::size_t linesRead() const { return lines_.linesRead(); }

private:
    vcard::ContentLineReader lines_;
    std::size_t components_ = 0;
    bool inCalendar_ = false;
    bool sawCalendar_ = false;
    bool outsideReported_ = false;
};

enum class ComponentOutcome {
    kRecord,   // out holds a task or an appointment
    kZone,     // a VTIMEZONE, now known to zones
    kIgnored,  // a component of another kind (VJOURNAL, VFREEBUSY); error.message says so
    kError,    // error names the entry and line
};

// Parses one component. wanted is the kind of record the caller takes; a VTODO
// where appointments are wanted (or the other way round) is kIgnored.
// overrideOf: for a component with RECURRENCE-ID, its UID (the record then holds
// the override in recurrence->overrides[0]); otherwise empty.
ComponentOutcome RecordFromComponent(const IcsComponent& component, RecordKind wanted,
                                     FileZones& zones, PimRecord& out, std::string& overrideOf,
                                     EntryError& error);

// The file's text around the records.
std::string CalendarHeader();
std::string CalendarFooter();
// VEVENT or VTODO lines of a record (and its overrides).
std::string WriteComponent(const PimRecord& record);
// The zones a record's times name (kZoned), each once.
void ZonesOf(const PimRecord& record, std::vector<std::string>& zones);

// RecordTime as iCalendar text and its parameters: "20240320T100000Z",
// ";TZID=Europe/Berlin" + "20240320T100000", ";VALUE=DATE" + "20240320".
std::string TimeValue(const RecordTime& t);
std::string TimeParams(const RecordTime& t);

}  // namespace pimfmt
