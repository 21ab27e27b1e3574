// CFolderInfo: baseline loading, comparison with the live table, snapshot writing,
// and the day-window arithmetic.
#include "server/config/folder_info.h"

#include <chrono>

#include "server/config/live_trace.h"

int DayWindowDays(int code) {
    switch (code) {
        case -1: return 1;
        case -2: return 3;
        case -3: return 7;
        case -4: return 14;
        case -5: return 31;
        case -6: return 91;
        default: break;
    }
    // Other negative values are no codes: a negative count would put the start of
    // the window in the future and report every item deleted.
    if (code <= 0) return 0;
    return code > kMaxWindowDays ? kMaxWindowDays : code;
}

std::int64_t DayWindowCutoff(int days, std::int64_t nowFileTime) {
    return nowFileTime - static_cast<std::int64_t>(days) * kFileTimeUnitsPerDay;
}

std::int64_t CurrentFileTime() {
    // Seconds from 1601-01-01 to 1970-01-01.
    constexpr std::int64_t kEpochDifference = 11644473600LL;
    auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return (kEpochDifference * 1000000 + since1970.count()) * 10;
}

CFolderInfo::CFolderInfo(std::string dataFolder, std::string entryIdText,
                         std::string displayName)
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
    if (reset_) {
        reset_ = false;
        baseline_.clear();
        changes.clear();
    }
    AddLiveTraceF("Folder %s\n", displayName_.c_str());

    for (auto& [key, row] : baseline_) row.seen = false;
    const bool detectReadState = className == "Email";

    for (const CLiveRow& live : rows) {
        auto labelOf = [&live] { return live.displayName ? *live.displayName : std::string("unknown"); };
        auto found = baseline_.find(live.key);
        if (found == baseline_.end()) {
            changes.push_back(std::make_unique<CChangeEntry>(
                kChangeNew, live.key, labelOf()));
            continue;
        }
        CBaselineRow& row = found->second;
        row.seen = true;
        if (live.modLow != row.modLow || live.modHigh != row.modHigh) {
            changes.push_back(std::make_unique<CChangeEntry>(
                kChangeModified, live.key, labelOf()));
        } else if (detectReadState && (live.readFlag & 1) != row.readFlag) {
            auto entry = std::make_unique<CChangeEntry>(kChangeReadState, live.key, labelOf());
            entry->SetReadFlag(live.readFlag & 1);
            changes.push_back(std::move(entry));
        }
    }
    for (const auto& [key, row] : baseline_) {
        if (!row.seen) changes.push_back(std::make_unique<CChangeEntry>(kChangeDeleted, key, "unknown"));
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
    std::string error;
    if (!WriteStateFile(StateFilePath(dataFolder_, deviceId, fileKey), content, error)) {
        AddLiveTraceF("Saving Table %s failed: %s", fileKey.c_str(), error.c_str());
        return false;
    }
    return true;
}
