// Import and export of whole files, for both stores: the store gives a
// RecordSink to import into and hands its records to the writers.
//
// Import: the folder's kind decides the format (contacts read vCard, tasks and
// appointments iCalendar); a file of the other format gives an error. Entries are read one at a
// time; an entry that cannot be read is skipped whole (an error naming the file, the entry and the
// line), the others go on. Recurring events are held until the end of their file so that overrides
// (RECURRENCE-ID) anywhere in it join them; an override whose series never comes is stored as an
// event of its own (reported). What an entry holds that no field carries is reported as a warning.
// With strict, a first pass reads every file and stores nothing when any error turns up.
//
// Runs on the caller's thread; the sink is called on it.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "common/formats/civil_time.h"
#include "common/formats/pim_record.h"

namespace pimfmt {

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // Stores one record (a series with its overrides); zones resolves the zone
    // names of its times. What the store cannot hold goes to notHeld. False with a
    // reason when the store refused it: nothing of it is stored.
    virtual bool Store(const PimRecord& record, const FileZones& zones, std::string& error,
                       std::vector<std::string>& notHeld) = 0;
};

struct ImportMessage {
    std::string file;
    std::size_t entry = 0;  // 0: not one entry
    std::size_t line = 0;
    std::string text;
    std::string Format() const;  // "file:line: entry N: text"
};

struct ImportReport {
    std::size_t entries = 0;   // entries read (valid or not), overrides counted with their series
    std::size_t imported = 0;  // records stored
    std::size_t skipped = 0;   // entries not stored (errors)
    std::size_t ignored = 0;   // components of another kind
    std::vector<ImportMessage> errors;
    std::vector<ImportMessage> warnings;
};

struct ImportOptions {
    bool strict = false;
    // Called after each entry with the entries read so far in this file.
    std::function<void(const std::string& file, std::size_t entries)> progress;
};

// Imports each file into sink (files are named for the messages; "-" reads
// standard input, once; a strict import keeps it in a temporary file for its two
// passes).
// Files that cannot be opened are errors. Returns the report.
ImportReport ImportFiles(const std::vector<std::string>& files, RecordKind kind, RecordSink& sink,
                         const ImportOptions& options);
// One stream (for tests and standard input).
void ImportStream(std::istream& in, const std::string& name, RecordKind kind, RecordSink* sink,
                  ImportReport& report, const ImportOptions& options);

// The whole file for records of one kind: vCards (version 4 or 3) or one calendar
// with the VTIMEZONE of every zone used (rules of the zone in the year of its
// first use; zones is the name → rule lookup the store supplies), single items
// before series.
std::string ExportVCards(const std::vector<PimRecord>& records, int version);
std::string ExportCalendar(const std::vector<PimRecord>& records,
                           const std::function<struct ZoneRule(const std::string&, int)>& ruleOf);

}  // namespace pimfmt
