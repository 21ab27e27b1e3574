// vCard and iCalendar import and export of the handheld's PIM store.
#include "client/pim_commands_formats.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <ostream>

#include "client/pim_command_steps.h"
#include "client/pim_commands.h"
#include "client/record_recurrence.h"
#include "client/record_times.h"
#include "common/base/atomic_file.h"
#include "common/base/escape.h"
#include "common/formats/ical_map.h"
#include "common/formats/transfer.h"
#include "common/formats/vcard_map.h"
#include "platform/pocketoutlook/pim_write_batch.h"

using pimfmt::PimRecord;
using pimfmt::RecordKind;

namespace {

RecordKind KindOfFolder(int folder) {
    return folder == olFolderContacts ? RecordKind::kContact
           : folder == olFolderTasks  ? RecordKind::kTask
                                      : RecordKind::kAppointment;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text + ",") {
        if (c == ',') {
            std::size_t a = cur.find_first_not_of(' '), b = cur.find_last_not_of(' ');
            if (a != std::string::npos) out.push_back(cur.substr(a, b - a + 1));
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    return out;
}

std::string JoinList(const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& v : values) out += (out.empty() ? "" : ", ") + v;
    return out;
}

bool NotCarried(RecordKind kind, const std::string& name) {
    if (kind == RecordKind::kContact) {
        for (std::size_t i = 0; i < pimfmt::VCardMapSize(); ++i)
            if (name == pimfmt::kVCardMap[i].field) return pimfmt::kVCardMap[i].property == nullptr;
        return true;
    }
    for (std::size_t i = 0; i < pimfmt::ICalMapSize(); ++i)
        if (pimfmt::kICalMap[i].kind == kind && name == pimfmt::kICalMap[i].field)
            return pimfmt::kICalMap[i].property == nullptr;
    return true;
}

// FNV-1a of the entry's text: the same item gives the same UID.
std::string ContentUid(const PimRecord& r) {
    std::string text =
        r.kind == RecordKind::kContact ? pimfmt::WriteVCard(r, 4) : pimfmt::WriteComponent(r);
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "skiff-%016llx", static_cast<unsigned long long>(h));
    return buf;
}

}  // namespace

PimRecord HandheldRecordOfItem(const PimItem& item) {
    PimRecord r;
    r.kind = KindOfFolder(item.DefaultFolder());
    const bool allDay = r.kind == RecordKind::kAppointment && item.GetBool("AllDayEvent");
    for (const PimPropertyDef& def : PimProperties(item.DefaultFolder())) {
        const std::string name = def.name;
        if (NotCarried(r.kind, name) || name == "IsRecurring" || name == "Duration") continue;
        switch (def.type) {
            case PimType::Text: {
                std::string v = item.GetText(name);
                if (name == "Categories")
                    r.categories = SplitList(v);
                else if (name == "Children")
                    r.children = SplitList(v);
                else
                    r.SetText(name, v);
                break;
            }
            case PimType::Long:
                r.numbers[name] = item.GetLong(name);
                break;
            case PimType::Bool:
                r.flags[name] = item.GetBool(name);
                break;
            case PimType::Date: {
                pimfmt::CivilTime t;
                if (!CivilOfOle(item.GetDate(name), t)) break;
                const bool midnight = t.hour == 0 && t.minute == 0 && t.second == 0;
                if (r.kind == RecordKind::kContact ||
                    (allDay && (name == "Start" || name == "End")) ||
                    ((name == "StartDate" || name == "DueDate") && midnight)) {
                    r.times[name] = DayRecordTime(t);
                } else if (name == "DateCompleted" || name == "ReminderTime") {
                    pimfmt::RecordTime u;
                    u.time = pimfmt::LocalZone().ToUtc(t);
                    r.times[name] = u;
                } else {
                    r.times[name] = LocalRecordTime(t);
                }
                break;
            }
        }
    }
    if (r.kind == RecordKind::kAppointment) {
        r.numbers.erase("MeetingStatus");
        if (!r.flags["ReminderSet"]) r.numbers.erase("ReminderMinutesBeforeStart");
        r.recurrence = RecordRecurrenceOfItem(item);
    }
    if (r.kind != RecordKind::kContact) r.uid = ContentUid(r);
    return r;
}

void HandheldItemOfRecord(PimItem& item, const PimRecord& r, const pimfmt::FileZones& zones,
                          std::vector<std::string>& notHeld) {
    const int folder = item.DefaultFolder();
    for (const PimPropertyDef& def : PimProperties(folder)) {
        const std::string name = def.name;
        switch (def.type) {
            case PimType::Text:
                if (name == "Categories")
                    item.SetText(name, JoinList(r.categories));
                else if (name == "Children")
                    item.SetText(name, JoinList(r.children));
                else if (!r.Text(name).empty())
                    item.SetText(name, r.Text(name));
                break;
            case PimType::Long:
                if (r.numbers.count(name)) item.SetLong(name, r.numbers.at(name));
                break;
            case PimType::Bool:
                if (r.flags.count(name)) item.SetBool(name, r.flags.at(name));
                break;
            case PimType::Date: {
                auto it = r.times.find(name);
                if (it == r.times.end() || !it->second.IsSet()) break;
                double ole = 0;
                if (OleOfCivil(HandheldLocal(it->second, zones), ole)) item.SetDate(name, ole);
                break;
            }
        }
    }
    if (r.kind == RecordKind::kAppointment) {
        auto s = r.times.find("Start"), e = r.times.find("End");
        if (s != r.times.end() && e != r.times.end()) {
            std::int64_t minutes = (pimfmt::SecondsOf(HandheldLocal(e->second, zones)) -
                                    pimfmt::SecondsOf(HandheldLocal(s->second, zones))) /
                                   60;
            item.SetLong("Duration", minutes < 0 ? 0 : static_cast<long>(minutes));
        }
        if (r.recurrence) SetItemRecurrence(item, r, zones, notHeld);
    }
}

namespace {

class HandheldSink final : public pimfmt::RecordSink {
public:
    HandheldSink(PocketOutlookApplication& app, int folder) : app_(app), folder_(folder) {}
    bool Store(const PimRecord& record, const pimfmt::FileZones& zones, std::string& error,
               std::vector<std::string>& notHeld) override {
        std::unique_ptr<PimFolder> folder = app_.GetDefaultFolder(folder_);
        if (!folder) {
            error = "the PIM store is not open";
            return false;
        }
        std::unique_ptr<PimItem> item = folder->Items().Add();
        HandheldItemOfRecord(*item, record, zones, notHeld);
        if (!item->Save()) {
            error = "the item could not be saved";
            return false;
        }
        return true;
    }

private:
    PocketOutlookApplication& app_;
    int folder_;
};

std::string Messages(const std::vector<pimfmt::ImportMessage>& list) {
    std::string out = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
        const pimfmt::ImportMessage& m = list[i];
        out += (i ? "," : "") + std::string("{\"file\":") + JsonQuote(m.file) +
               ",\"entry\":" + std::to_string(m.entry) + ",\"line\":" + std::to_string(m.line) +
               ",\"message\":" + JsonQuote(m.text) + "}";
    }
    return out + "]";
}

}  // namespace

int PimImport(const std::string& folderName, const std::vector<std::string>& files, bool strict,
              bool json, std::ostream& out, std::ostream& err) {
    int folder = PimFolderOrComplain(folderName, err);
    if (!folder) return 2;
    PocketOutlookApplication app;
    if (!LogOnOrComplain(app, err)) return 1;
    HandheldSink sink(app, folder);
    pimfmt::ImportOptions options;
    options.strict = strict;
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    auto last = std::chrono::steady_clock::now();
    bool shown = false;
    options.progress = [&](const std::string& file, std::size_t n) {
        auto now = std::chrono::steady_clock::now();
        if (!tty || now - last < std::chrono::milliseconds(200)) return;
        last = now;
        shown = true;
        err << "\rImporting " << file << ": " << n << " entries\033[K" << std::flush;
    };
    // Every save of the import joins one write batch of the store.
    PimWriteBatch batch(app);
    pimfmt::ImportReport report = pimfmt::ImportFiles(files, KindOfFolder(folder), sink, options);
    if (shown) err << "\r\033[K" << std::flush;
    const bool stored = !batch.Active() || batch.Commit();
    for (const auto& m : report.errors) err << "error: " << m.Format() << "\n";
    for (const auto& m : report.warnings) err << "warning: " << m.Format() << "\n";
    if (!stored) {
        err << "PIM store: the import could not be stored (the items since the last commit are "
               "lost)\n";
        return 1;
    }
    if (json) {
        out << "{\"entries\":" << report.entries << ",\"imported\":" << report.imported
            << ",\"skipped\":" << report.skipped << ",\"ignored\":" << report.ignored
            << ",\"errors\":" << Messages(report.errors)
            << ",\"warnings\":" << Messages(report.warnings) << "}\n";
    } else {
        out << "imported " << report.imported << ", skipped " << report.skipped << ", warnings "
            << report.warnings.size() << "\n";
    }
    return report.skipped > 0 || !report.errors.empty() ? 3 : 0;
}

int PimExport(const std::string& folderName, const std::string& file, bool vcard3, bool json,
              std::ostream& out, std::ostream& err) {
    int folder = PimFolderOrComplain(folderName, err);
    if (!folder) return 2;
    if (json && file.empty()) {
        err << "export --json needs a FILE (the data goes to standard output)\n";
        return 2;
    }
    PocketOutlookApplication app;
    if (!LogOnOrComplain(app, err)) return 1;
    PimItems items = app.GetDefaultFolder(folder)->Items();
    std::vector<PimRecord> records;
    for (int i = 1; i <= items.Count(); ++i) {
        auto item = items.Item(i);
        if (item) records.push_back(HandheldRecordOfItem(*item));
    }
    std::string text =
        KindOfFolder(folder) == RecordKind::kContact
            ? pimfmt::ExportVCards(records, vcard3 ? 3 : 4)
            : pimfmt::ExportCalendar(records, [](const std::string& name, int year) {
                  const pimfmt::Zone* z = pimfmt::FindIanaZone(name);
                  return pimfmt::RuleOfZone(z ? *z : pimfmt::LocalZone(), year ? year : 2000);
              });
    if (file.empty()) {
        out << text << std::flush;
        return 0;
    }
    AtomicWriteOptions ordinaryFile;
    ordinaryFile.ownerOnly = false;
    FileWriteResult written = WriteFileAtomically(file, text, ordinaryFile);
    if (!written) {
        err << "cannot write "
            << (written.failedAt == FileWriteStep::Rename ? file : TemporaryPathFor(file)) << "\n";
        return 1;
    }
    if (json)
        out << "{\"exported\":" << records.size() << ",\"file\":" << JsonQuote(file) << "}\n";
    else
        out << "exported " << records.size() << "\n";
    return 0;
}
