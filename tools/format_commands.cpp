// Import and export of standard formats over the store.
#include "tools/format_commands.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "common/base/atomic_file.h"
#include "common/base/text.h"
#include "common/formats/transfer.h"
#include "server/formats/desktop_records.h"
#include "server/itemconv/element_map.h"
#include "server/mapi/write_batch_ptr.h"
#include "tools/json_writer.h"
#include "tools/table_rows.h"
#include "tools/tool_context.h"

namespace {

pimfmt::RecordKind KindOfFolder(IMAPIFolder* folder) {
    std::string cls = GetStringProperty(folder, PR_CONTAINER_CLASS);
    if (cls.rfind("IPF.Contact", 0) == 0) return pimfmt::RecordKind::kContact;
    if (cls.rfind("IPF.Task", 0) == 0) return pimfmt::RecordKind::kTask;
    if (cls.rfind("IPF.Appointment", 0) == 0) return pimfmt::RecordKind::kAppointment;
    throw ToolError{MAPI_E_INVALID_PARAMETER,
                    "the folder holds no contacts, tasks or appointments (class '" + cls + "')"};
}

ItemKind ItemKindOf(pimfmt::RecordKind kind) {
    return kind == pimfmt::RecordKind::kContact ? kItemContact
           : kind == pimfmt::RecordKind::kTask  ? kItemTask
                                                : kItemAppointment;
}

class DesktopSink final : public pimfmt::RecordSink {
public:
    explicit DesktopSink(IMAPIFolder* folder) : folder_(IMAPIFolderPtr::FromUnknown(folder)) {}
    bool Store(const pimfmt::PimRecord& record, const pimfmt::FileZones& zones, std::string& error,
               std::vector<std::string>& notHeld) override {
        try {
            IMessagePtr item = folder_.CreateMessage();
            DesktopItemOfRecord(item, record, zones, notHeld);
            item.SaveChanges(0);
            return true;
        } catch (const CMAPIException& e) {
            error = "the store refused the item: " + e.GetErrorText();
            return false;
        }
    }

private:
    IMAPIFolderPtr folder_;
};

// One progress line on a terminal, at most five times a second.
class Progress {
public:
    explicit Progress(std::ostream& err) : err_(err), tty_(::isatty(STDERR_FILENO) != 0) {}
    void Update(const std::string& file, std::size_t entries) {
        if (!tty_) return;
        auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        err_ << "\rImporting " << file << ": " << entries << " entries\033[K" << std::flush;
        shown_ = true;
    }
    ~Progress() {
        if (shown_) err_ << "\r\033[K" << std::flush;
    }

private:
    std::ostream& err_;
    bool tty_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

void WriteMessages(JsonWriter& w, const std::vector<pimfmt::ImportMessage>& list) {
    w.BeginArray();
    for (const pimfmt::ImportMessage& m : list) {
        w.BeginObject().Key("file").String(m.file).Key("entry").Number(
            static_cast<std::int64_t>(m.entry));
        w.Key("line")
            .Number(static_cast<std::int64_t>(m.line))
            .Key("message")
            .String(m.text)
            .EndObject();
    }
    w.EndArray();
}

}  // namespace

int CmdImport(const std::string& profile, const std::string& folderText,
              const std::vector<std::string>& files, bool strict, Output& o, std::ostream& err) {
    MapiRuntime runtime;
    ToolSession s(profile);
    CMapiRef<IMAPIFolder> folder = s.Folder(folderText);
    pimfmt::RecordKind kind = KindOfFolder(folder.Get());
    DesktopSink sink(folder.Get());
    pimfmt::ImportOptions options;
    options.strict = strict;
    pimfmt::ImportReport report;
    {
        // Every save of the import joins one write batch (committed on its own at the
        // engine's bound and at the end), so many items cost few syncs to disk.
        CWriteBatch batch;
        Progress progress(err);
        options.progress = [&](const std::string& file, std::size_t n) {
            progress.Update(file, n);
        };
        report = pimfmt::ImportFiles(files, kind, sink, options);
        HRESULT committed = batch.Commit();
        if (FAILED(committed))
            throw ToolError{committed,
                            "the import could not be stored (the items since the "
                            "last commit are lost): " +
                                CMAPIException::ResultText(committed)};
    }
    for (const pimfmt::ImportMessage& m : report.errors) err << "error: " << m.Format() << "\n";
    for (const pimfmt::ImportMessage& m : report.warnings) err << "warning: " << m.Format() << "\n";
    if (o.json) {
        JsonWriter w;
        w.BeginObject()
            .Key("entries")
            .Number(static_cast<std::int64_t>(report.entries))
            .Key("imported")
            .Number(static_cast<std::int64_t>(report.imported))
            .Key("skipped")
            .Number(static_cast<std::int64_t>(report.skipped))
            .Key("ignored")
            .Number(static_cast<std::int64_t>(report.ignored))
            .Key("errors");
        WriteMessages(w, report.errors);
        w.Key("warnings");
        WriteMessages(w, report.warnings);
        w.EndObject();
        o.out << w.text() << "\n";
    } else {
        o.out << "imported " << report.imported << ", skipped " << report.skipped << ", warnings "
              << report.warnings.size() << "\n";
    }
    return report.skipped > 0 || !report.errors.empty() ? 3 : 0;
}

void CmdExport(const std::string& profile, const std::string& folderText, const std::string& file,
               bool vcard3, Output& o) {
    MapiRuntime runtime;
    ToolSession s(profile);
    CMapiRef<IMAPIFolder> folder = s.Folder(folderText);
    pimfmt::RecordKind kind = KindOfFolder(folder.Get());
    CMapiRef<IMAPITable> table;
    Check(folder->GetContentsTable(0, table.Put()), "GetContentsTable");
    TableRows set(table.Get(), {PR_ENTRYID, PR_MESSAGE_CLASS});
    std::vector<std::string> ids;
    for (ULONG k = 0; k < set.Count(); ++k) {
        if (ItemKindOfClass(set.Text(k, 1)) != ItemKindOf(kind)) continue;
        ids.push_back(set.Binary(k, 0));
    }
    std::vector<pimfmt::PimRecord> records;
    records.reserve(ids.size());
    try {
        for (const std::string& id : ids) {
            ULONG type = 0;
            CMapiRef<IUnknown> unk;
            Check(folder->OpenEntry(static_cast<ULONG>(id.size()),
                                    reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())),
                                    nullptr, 0, &type, unk.Put()),
                  "cannot open item " + HexEncode(id));
            IMessagePtr item = IMessagePtr::FromUnknown(unk.Get());
            records.push_back(DesktopRecordOfItem(item, kind));
        }
    } catch (const CMAPIException& e) {
        throw ToolError{e.GetHResult(), e.GetErrorText()};
    }
    std::string text = kind == pimfmt::RecordKind::kContact
                           ? pimfmt::ExportVCards(records, vcard3 ? 3 : 4)
                           : pimfmt::ExportCalendar(records, DesktopZoneRule);
    if (file.empty()) {
        o.out << text << std::flush;
        return;
    }
    AtomicWriteOptions ordinaryFile;
    ordinaryFile.ownerOnly = false;
    FileWriteResult written = WriteFileAtomically(file, text, ordinaryFile);
    if (!written) {
        const std::string& failed =
            written.failedAt == FileWriteStep::Rename ? file : TemporaryPathFor(file);
        throw ToolError{MAPI_E_DISK_ERROR, "cannot write '" + failed + "'"};
    }
    if (o.json) {
        JsonWriter w;
        w.BeginObject().Key("exported").Number(static_cast<std::int64_t>(records.size()));
        w.Key("file").String(file).EndObject();
        o.out << w.text() << "\n";
    } else {
        o.out << "exported " << records.size() << "\n";
    }
}
