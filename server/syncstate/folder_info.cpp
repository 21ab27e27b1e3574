// CFolderInfo: baseline loading, comparison with the live table, snapshot writing,
// and the day-window arithmetic.
#include "server/syncstate/folder_info.h"

#include <chrono>
#include <optional>

#include "common/base/file_time.h"
#include "common/base/text.h"
#include "server/config/live_trace.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_exception.h"
#include "server/restriction/compile_restriction.h"

int DayWindowDays(int code) {
    switch (code) {
        case -1:
            return 1;
        case -2:
            return 3;
        case -3:
            return 7;
        case -4:
            return 14;
        case -5:
            return 31;
        case -6:
            return 91;
        default:
            break;
    }
    // Other negative values are no codes: a negative count would put the start of
    // the window in the future and report every item deleted.
    if (code <= 0) return 0;
    return code > kMaxWindowDays ? kMaxWindowDays : code;
}

std::int64_t DayWindowCutoff(int days, std::int64_t nowFileTime) {
    return nowFileTime - static_cast<std::int64_t>(days) * kFileTimeUnitsPerDay;
}

CFolderInfo::CFolderInfo(std::string dataFolder, std::string entryIdText, std::string displayName)
    : dataFolder_(std::move(dataFolder)),
      entryIdText_(std::move(entryIdText)),
      displayName_(std::move(displayName)) {}

bool CFolderInfo::LoadContentsTable(const std::string& deviceId, const std::string& folderKey) {
    std::string path = StateFilePath(dataFolder_, deviceId, folderKey);
    folderKey_ = folderKey;
    if (!ReadStateFile(path, baseline_)) {
        baseline_.clear();
        return false;
    }
    statePath_ = path;
    return true;
}

void CFolderInfo::CompareRows(const std::string& className, const std::vector<CLiveRow>& rows,
                              ChangeList& changes) {
    BeginComparison(changes);
    const bool detectReadState = className == "Email";
    for (const CLiveRow& live : rows) CompareRow(live, detectReadState, changes);
    EndComparison(changes);
}

void CFolderInfo::BeginComparison(ChangeList& changes) {
    if (reset_) {
        reset_ = false;
        baseline_.clear();
        changes.clear();
    }
    AddLiveTraceF("Folder %s\n", displayName_.c_str());
    for (auto& [key, row] : baseline_) row.seen = false;
}

void CFolderInfo::CompareRow(const CLiveRow& live, bool detectReadState, ChangeList& changes) {
    auto labelOf = [&live] {
        return live.displayName ? *live.displayName : std::string("unknown");
    };
    auto found = baseline_.find(live.key);
    if (found == baseline_.end()) {
        changes.push_back(std::make_unique<CChangeEntry>(kChangeNew, live.key, labelOf()));
        return;
    }
    CBaselineRow& row = found->second;
    row.seen = true;
    if (live.modLow != row.modLow || live.modHigh != row.modHigh) {
        changes.push_back(std::make_unique<CChangeEntry>(kChangeModified, live.key, labelOf()));
    } else if (detectReadState && (live.readFlag & 1) != row.readFlag) {
        auto entry = std::make_unique<CChangeEntry>(kChangeReadState, live.key, labelOf());
        entry->SetReadFlag(live.readFlag & 1);
        changes.push_back(std::move(entry));
    }
}

void CFolderInfo::EndComparison(ChangeList& changes) {
    for (const auto& [key, row] : baseline_) {
        if (!row.seen)
            changes.push_back(std::make_unique<CChangeEntry>(kChangeDeleted, key, "unknown"));
    }
    AddLiveTraceF("%d changed items", static_cast<int>(changes.size()));
}

bool CFolderInfo::SaveRows(const std::string& deviceId, const std::string& fileKey,
                           const std::vector<CLiveRow>& rows) {
    std::string content(kStateFileHeader);
    content += '\n';
    AddLiveTraceF("Saving Table %s", fileKey.c_str());
    for (const CLiveRow& row : rows) {
        std::string line = FormatStateRow(row);
        AddLiveTrace(line);
        content += line;
        content += '\n';
    }
    return WriteSnapshot(deviceId, fileKey, content);
}

bool CFolderInfo::WriteSnapshot(const std::string& deviceId, const std::string& fileKey,
                                const std::string& content) {
    std::string error;
    if (!WriteStateFile(StateFilePath(dataFolder_, deviceId, fileKey), content, error)) {
        AddLiveTraceF("Saving Table %s failed: %s", fileKey.c_str(), error.c_str());
        return false;
    }
    return true;
}

// ---- the store side ---------------------------------------------------------------

namespace {

// Rows are read in batches, so a large folder never sits in memory as one row set.
constexpr LONG kRowBatch = 512;

// PidLidAppointmentEndWhole: the appointment's end.
constexpr LONG kAppointmentEndId = 0x820E;

std::string HexText(const SBinary& bin) {
    if (bin.cb == 0) return std::string();
    return HexEncode(std::string_view(reinterpret_cast<const char*>(bin.lpb), bin.cb));
}

std::optional<std::string> OptionalText(const SRow& row, ULONG tag) {
    const SPropValue* value = CRowSet::Find(row, tag);
    if (value == nullptr || value->Value.lpszA == nullptr) return std::nullopt;
    return std::string(value->Value.lpszA);
}

// The live row of a table row; false when the row has no entry ID.
bool ToLiveRow(const SRow& row, CLiveRow& live) {
    const SPropValue* id = CRowSet::Find(row, PR_ENTRYID);
    if (id == nullptr || id->Value.bin.cb == 0) return false;
    live.key = HexText(id->Value.bin);
    live.displayName = OptionalText(row, PR_DISPLAY_NAME);
    live.subject = OptionalText(row, PR_SUBJECT);
    const SPropValue* time = CRowSet::Find(row, PR_LAST_MODIFICATION_TIME);
    live.modLow = time ? static_cast<std::int32_t>(time->Value.ft.dwLowDateTime) : 0;
    live.modHigh = time ? static_cast<std::int32_t>(time->Value.ft.dwHighDateTime) : 0;
    live.readFlag = static_cast<int>(CRowSet::Long(row, PR_MESSAGE_FLAGS) & MSGFLAG_READ);
    return true;
}

// Opens the contents table of folder, restricts it to the day window and hands
// every row to visit, in table order. Raises CMAPIException on store errors.
template <class Visit>
void ForEachLiveRow(IMAPIFolderPtr& folder, int dayWindow, const CPropTagArray& columns,
                    Visit visit) {
    IMAPITablePtr table = folder.GetContentsTable();
    if (dayWindow != 0) CFolderInfo::ApplyDayWindow(dayWindow, folder, table);
    table.SetColumns(columns);
    CLiveRow live;
    for (;;) {
        CRowSet rows = table.QueryRows(kRowBatch);
        if (rows.Empty()) break;
        for (ULONG i = 0; i < rows.Count(); ++i) {
            if (ToLiveRow(rows[i], live)) visit(live);
        }
    }
}

}  // namespace

bool CFolderInfo::ComputeChanges(const std::string& className, IMAPISession* /*session*/,
                                 IMAPIFolderPtr& folder, ChangeList& changes,
                                 const std::string& /*deviceId*/, int dayWindow) {
    const bool wasReset = reset_;
    BeginComparison(changes);
    const bool detectReadState = className == "Email";
    // Without a day window (whose start moves with the clock) the rows are kept for
    // the snapshot, as long as the store does not change.
    comparedRows_.clear();
    comparedVersion_.reset();
    std::optional<STOREVERSION> version;
    if (dayWindow == 0) version = StoreVersionOf(folder);
    try {
        static const CPropTagArray kColumns = {
            PR_ENTRYID,      PR_DISPLAY_NAME,  PR_LAST_MODIFICATION_TIME,
            PR_DISPLAY_NAME, PR_MESSAGE_FLAGS, PR_SUBJECT};
        ForEachLiveRow(folder, dayWindow, kColumns, [&](const CLiveRow& live) {
            CompareRow(live, detectReadState, changes);
            if (version) comparedRows_.push_back(live);
        });
    } catch (const CMAPIException& e) {
        comparedRows_.clear();
        // The rows not read cannot be told from deleted ones: no deletions are
        // reported from an incomplete comparison.
        AddLiveTraceF("Folder %s: change detection failed: %s", displayName_.c_str(), e.what());
        reset_ = reset_ || wasReset;  // a reset that found no table is still owed
        return false;
    }
    EndComparison(changes);
    if (version && StoreVersionOf(folder) == version)
        comparedVersion_ = version;
    else
        comparedRows_.clear();
    return true;
}

bool CFolderInfo::SaveContentsTable(const std::string& deviceId, const std::string& fileKey,
                                    IMAPISession* session, IMAPIFolderPtr& folder, int dayWindow) {
    return SaveContentsTable(deviceId, fileKey, session, folder, dayWindow, CSnapshotHold());
}

bool CFolderInfo::SaveContentsTable(const std::string& deviceId, const std::string& fileKey,
                                    IMAPISession* /*session*/, IMAPIFolderPtr& folder,
                                    int dayWindow, const CSnapshotHold& hold) {
    // The row that stands for live in the snapshot: live itself, or for an item
    // changed behind the request's back its baseline row; none to leave it out.
    auto rowToWrite = [&](const CLiveRow& live) -> std::optional<CLiveRow> {
        if (hold.computedAt == 0) return live;
        std::uint64_t modified =
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(live.modHigh)) << 32) |
            static_cast<std::uint32_t>(live.modLow);
        if (modified <= static_cast<std::uint64_t>(hold.computedAt)) return live;
        if (hold.writtenByRequest != nullptr && hold.writtenByRequest->count(live.key) != 0)
            return live;
        AddLiveTraceF("Saving Table %s: %s changed during the request, kept for the next answer",
                      fileKey.c_str(), live.key.c_str());
        auto found = baseline_.find(live.key);
        if (found == baseline_.end()) return std::nullopt;
        CLiveRow kept;
        kept.key = live.key;
        kept.displayName = found->second.label;
        kept.modLow = found->second.modLow;
        kept.modHigh = found->second.modHigh;
        kept.readFlag = found->second.readFlag;
        return kept;
    };
    std::string content;
    if (hold.generation != 0) {
        content += kGenerationKey;
        content += std::to_string(hold.generation);
        content += '\n';
    }
    content += kStateFileHeader;
    content += '\n';
    AddLiveTraceF("Saving Table %s", fileKey.c_str());
    auto writeRow = [&](const CLiveRow& live) {
        std::optional<CLiveRow> row = rowToWrite(live);
        if (!row) return;
        std::string line = FormatStateRow(*row);
        AddLiveTrace(line);
        content += line;
        content += '\n';
    };
    // The rows the change list was computed from, when the store is as it was then
    // (the table would give them again); they are used once.
    std::vector<CLiveRow> compared = std::move(comparedRows_);
    comparedRows_.clear();
    const bool unchanged =
        dayWindow == 0 && comparedVersion_ && StoreVersionOf(folder) == comparedVersion_;
    comparedVersion_.reset();
    try {
        static const CPropTagArray kColumns = {PR_ENTRYID, PR_LAST_MODIFICATION_TIME,
                                               PR_MESSAGE_FLAGS, PR_DISPLAY_NAME, PR_SUBJECT};
        if (unchanged) {
            for (const CLiveRow& live : compared) writeRow(live);
        } else {
            ForEachLiveRow(folder, dayWindow, kColumns, writeRow);
        }
    } catch (const CMAPIException& e) {
        AddLiveTraceF("Saving Table %s failed: %s", fileKey.c_str(), e.what());
        return false;
    }
    return WriteSnapshot(deviceId, fileKey, content);
}

HRESULT CFolderInfo::ApplyDayWindow(int code, IMAPIFolderPtr& folder, IMAPITablePtr& table) {
    int days = DayWindowDays(code);
    if (days == 0) return S_OK;
    ULONG tag = PR_LAST_MODIFICATION_TIME;
    if (folder.GetPropText(PR_CONTAINER_CLASS) == "IPF.Appointment")
        tag = folder.GetIDFromName(PSETID_Appointment, kAppointmentEndId, PT_SYSTIME, MAPI_CREATE);

    std::uint64_t cutoff =
        static_cast<std::uint64_t>(DayWindowCutoff(days, static_cast<std::int64_t>(FileTimeNow())));
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.ft.dwLowDateTime = static_cast<DWORD>(cutoff);
    value.Value.ft.dwHighDateTime = static_cast<DWORD>(cutoff >> 32);
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_GE;
    restriction.res.resProperty.ulPropTag = tag;
    restriction.res.resProperty.lpProp = &value;

    AddLiveTraceF("Restriction = %s\n", CCompileRestriction(folder).Compile(&restriction).c_str());
    table.Restrict(&restriction);
    return S_OK;
}

std::shared_ptr<CFolderInfo> GetInfo(CPocketDevice& device, IMAPIFolderPtr& folder,
                                     const std::string& dataFolder) {
    if (!folder) return nullptr;
    try {
        std::string entryIdText = folder.GetEntryID().ToText();
        if (entryIdText.empty()) return nullptr;
        std::shared_ptr<CFolderInfo>& slot = device.syncState[entryIdText];
        if (!slot) {
            slot = std::make_shared<CFolderInfo>(dataFolder, entryIdText,
                                                 folder.GetPropText(PR_DISPLAY_NAME));
        }
        return slot;
    } catch (const CMAPIException&) {
        return nullptr;
    }
}
