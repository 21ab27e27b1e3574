// Whole-file import and export.
#include "common/formats/transfer.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include "common/formats/civil_time.h"
#include "common/formats/ical_map.h"
#include "common/formats/vcard_map.h"
#include "common/vcard/read_each.h"

namespace pimfmt {

std::string ImportMessage::Format() const {
    std::string out = file;
    if (line) out += ":" + std::to_string(line);
    out += ": ";
    if (entry) out += "entry " + std::to_string(entry) + ": ";
    return out + text;
}

namespace {

void Warn(ImportReport& report, const std::string& file, std::size_t entry, std::size_t line,
          const PimRecord& r) {
    for (const std::string& d : r.dropped)
        report.warnings.push_back({file, entry, line, "not carried: " + d});
}

void StoreOne(RecordSink* sink, const PimRecord& r, const FileZones& zones, const std::string& file,
              std::size_t entry, std::size_t line, ImportReport& report) {
    if (sink == nullptr) {
        ++report.imported;
        return;
    }
    std::string error;
    std::vector<std::string> notHeld;
    bool stored = sink->Store(r, zones, error, notHeld);
    for (const std::string& n : notHeld)
        report.warnings.push_back({file, entry, line, "not held: " + n});
    if (stored) {
        ++report.imported;
    } else {
        ++report.skipped;
        report.errors.push_back({file, entry, line, error});
    }
}

// An error the reader found: the entry it names (if any) counts as read and skipped.
template <typename ReadError>
void CountReadError(ImportReport& report, const std::string& file, const ReadError& error) {
    if (error.entry) {
        ++report.entries;
        ++report.skipped;
    }
    report.errors.push_back({file, error.entry, error.line, error.message});
}

void ImportContacts(std::istream& in, const std::string& name, RecordSink* sink,
                    ImportReport& report, const ImportOptions& options) {
    vcard::VCardReader reader(in);
    const FileZones noZones;
    std::size_t read = 0;
    auto progress = [&] {
        if (options.progress) options.progress(name, ++read);
    };
    vcard::ReadEach<vcard::VCardEntry, vcard::VCardError>(
        reader,
        [&](const vcard::VCardEntry& entry) {
            ++report.entries;
            PimRecord record = ContactFromVCard(entry);
            Warn(report, name, entry.index, entry.firstLine, record);
            StoreOne(sink, record, noZones, name, entry.index, entry.firstLine, report);
            progress();
        },
        [&](const vcard::VCardError& error) {
            CountReadError(report, name, error);
            progress();
        });
}

struct Held {
    PimRecord record;
    std::size_t entry = 0, line = 0;
};

void ImportCalendar(std::istream& in, const std::string& name, RecordKind kind, RecordSink* sink,
                    ImportReport& report, const ImportOptions& options) {
    IcsReader reader(in);
    FileZones zones;
    IcsComponent c;
    EntryError error;
    std::size_t read = 0;
    std::map<std::string, Held> series;                // recurring events by UID, held
    std::vector<std::string> seriesOrder;              // in the file's order
    std::map<std::string, std::vector<Held>> orphans;  // overrides before their series
    for (;;) {
        auto r = reader.Next(c, error);
        if (r == IcsReader::Result::kEnd) break;
        if (options.progress) options.progress(name, ++read);
        if (r == IcsReader::Result::kError) {
            CountReadError(report, name, error);
            continue;
        }
        PimRecord record;
        std::string overrideOf;
        std::size_t line = c.lines.empty() ? 0 : c.lines[0];
        switch (RecordFromComponent(c, kind, zones, record, overrideOf, error)) {
            case ComponentOutcome::kZone:
                continue;
            case ComponentOutcome::kIgnored:
                ++report.ignored;
                report.warnings.push_back({name, c.index, line, error.message});
                continue;
            case ComponentOutcome::kError:
                ++report.entries;
                ++report.skipped;
                report.errors.push_back({name, error.entry, error.line, error.message});
                continue;
            case ComponentOutcome::kRecord:
                break;
        }
        ++report.entries;
        Warn(report, name, c.index, line, record);
        if (!overrideOf.empty()) {
            auto it = series.find(overrideOf);
            if (it != series.end()) {
                --report.entries;  // counted with its series
                it->second.record.recurrence->overrides.push_back(record.recurrence->overrides[0]);
            } else {
                orphans[overrideOf].push_back(Held{record, c.index, line});
            }
            continue;
        }
        if (record.recurrence && !record.uid.empty() && !series.count(record.uid)) {
            auto o = orphans.find(record.uid);
            if (o != orphans.end()) {
                for (const Held& h : o->second) {
                    --report.entries;
                    record.recurrence->overrides.push_back(h.record.recurrence->overrides[0]);
                }
                orphans.erase(o);
            }
            seriesOrder.push_back(record.uid);
            series.emplace(record.uid, Held{record, c.index, line});
            continue;
        }
        StoreOne(sink, record, zones, name, c.index, line, report);
    }
    for (const std::string& uid : seriesOrder) {
        Held& h = series[uid];
        StoreOne(sink, h.record, zones, name, h.entry, h.line, report);
    }
    for (auto& [uid, held] : orphans) {
        for (Held& h : held) {
            report.warnings.push_back({name, h.entry, h.line,
                                       "an override of a series the file does not hold; stored "
                                       "as an event of its own"});
            h.record.recurrence.reset();
            StoreOne(sink, h.record, zones, name, h.entry, h.line, report);
        }
    }
}

}  // namespace

void ImportStream(std::istream& in, const std::string& name, RecordKind kind, RecordSink* sink,
                  ImportReport& report, const ImportOptions& options) {
    if (kind == RecordKind::kContact)
        ImportContacts(in, name, sink, report, options);
    else
        ImportCalendar(in, name, kind, sink, report, options);
}

namespace {

// Standard input copied to an unnamed temporary file, so that a strict import can
// read it twice; null when no such file can be made.
std::FILE* BufferStandardInput() {
    std::FILE* f = std::tmpfile();
    if (f == nullptr) return nullptr;
    char buf[65536];
    while (std::cin.read(buf, sizeof buf) || std::cin.gcount() > 0) {
        if (std::fwrite(buf, 1, static_cast<std::size_t>(std::cin.gcount()), f) !=
            static_cast<std::size_t>(std::cin.gcount())) {
            std::fclose(f);
            return nullptr;
        }
    }
    return f;
}

// Reads a C stream through a std::istream.
class FileBuf final : public std::streambuf {
public:
    explicit FileBuf(std::FILE* f) : f_(f) {}

protected:
    int_type underflow() override {
        std::size_t n = std::fread(buf_, 1, sizeof buf_, f_);
        if (n == 0) return traits_type::eof();
        setg(buf_, buf_, buf_ + n);
        return traits_type::to_int_type(buf_[0]);
    }

private:
    std::FILE* f_;
    char buf_[65536];
};

}  // namespace

ImportReport ImportFiles(const std::vector<std::string>& files, RecordKind kind, RecordSink& sink,
                         const ImportOptions& options) {
    ImportReport report;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> input(nullptr, std::fclose);
    bool stdinUsed = false;
    auto pass = [&](RecordSink* target, ImportReport& into) {
        for (const std::string& file : files) {
            if (file == "-") {
                if (!options.strict) {
                    if (!stdinUsed) ImportStream(std::cin, "-", kind, target, into, options);
                    stdinUsed = true;
                    continue;
                }
                if (!input) input.reset(BufferStandardInput());
                if (!input) {
                    into.errors.push_back(
                        {file, 0, 0, "standard input cannot be kept for a strict import"});
                    continue;
                }
                std::rewind(input.get());
                FileBuf buf(input.get());
                std::istream in(&buf);
                ImportStream(in, "-", kind, target, into, options);
                continue;
            }
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                into.errors.push_back({file, 0, 0, "cannot be opened"});
                continue;
            }
            ImportStream(in, file, kind, target, into, options);
        }
    };
    if (options.strict) {
        ImportReport check;
        pass(nullptr, check);
        if (!check.errors.empty()) {
            check.skipped = check.entries;
            check.imported = 0;
            return check;
        }
    }
    pass(&sink, report);
    return report;
}

std::string ExportVCards(const std::vector<PimRecord>& records, int version) {
    std::string out;
    for (const PimRecord& r : records) out += WriteVCard(r, version);
    return out;
}

std::string ExportCalendar(const std::vector<PimRecord>& records,
                           const std::function<ZoneRule(const std::string&, int)>& ruleOf) {
    std::string out = CalendarHeader();
    // Single items first, then series, each in the store's order: the order an
    // import stores them in (it holds series until the end of their file), so that
    // exporting what an export brought in gives the same file.
    std::vector<const PimRecord*> ordered;
    for (const PimRecord& r : records)
        if (!r.recurrence) ordered.push_back(&r);
    for (const PimRecord& r : records)
        if (r.recurrence) ordered.push_back(&r);
    std::vector<std::string> zones;
    std::map<std::string, int> firstYear;
    for (const PimRecord* record : ordered) {
        const PimRecord& r = *record;
        std::vector<std::string> mine;
        ZonesOf(r, mine);
        for (const std::string& z : mine) {
            int year = 0;
            for (const auto& [field, t] : r.times)
                if (t.form == TimeForm::kZoned && t.zone == z && (year == 0 || t.time.year < year))
                    year = t.time.year;
            auto it = firstYear.find(z);
            if (it == firstYear.end()) {
                zones.push_back(z);
                firstYear[z] = year;
            } else if (year && year < it->second) {
                it->second = year;
            }
        }
    }
    for (const std::string& z : zones) out += VTimezoneText(z, ruleOf(z, firstYear[z]));
    for (const PimRecord* r : ordered) out += WriteComponent(*r);
    out += CalendarFooter();
    return out;
}

}  // namespace pimfmt
