// Sync state of one folder for one device, and change detection against it.
//
// The state machine of a device folder:
//   no file        first synchronisation: the baseline is empty, every item is new.
//   snapshot       each answer that carries the folder's changes comes with a
//                  snapshot of the live table, written as <key>_temp.csv (atomically:
//                  a failed or interrupted write leaves the previous file whole).
//   baseline       when the device acknowledges the answer, the protocol renames the
//                  snapshot over <key>.csv; until then the same changes are sent again.
//   comparison     every computation reloads <key>.csv and compares it with the live
//                  contents table (restricted to the day window, if any).
// Reset discards the baseline for one computation: every item is reported new and the
// next acknowledged snapshot becomes the baseline.
//
// Thread use: a CFolderInfo belongs to its device record and is used by the one
// request thread that synchronises that device at a time; it has no lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/config/change_entry.h"
#include "server/config/contents_table_file.h"

// Day-window codes of the protocol: -1 one day, -2 three, -3 seven, -4 fourteen,
// -5 thirty-one, -6 ninety-one days.
inline constexpr int kMaxWindowDays = 36500;
// 100-nanosecond units per day.
inline constexpr std::int64_t kFileTimeUnitsPerDay = 864000000000LL;

// The number of days a window code stands for: the codes above; 0 and other
// negative values mean no window (0); positive counts are themselves, at most
// kMaxWindowDays.
int DayWindowDays(int code);

// The start of a window of days days ending at nowFileTime (100-ns units since
// 1601-01-01 UTC). days must be 1..kMaxWindowDays.
std::int64_t DayWindowCutoff(int days, std::int64_t nowFileTime);

// The current UTC time as a FILETIME count.
std::int64_t CurrentFileTime();

class CFolderInfo {
public:
    // dataFolder: where the devices' sub-folders lie; entryIdText and displayName
    // identify the folder in the device's map and in traces.
    CFolderInfo(std::string dataFolder, std::string entryIdText, std::string displayName);
    CFolderInfo(const CFolderInfo&) = delete;
    CFolderInfo& operator=(const CFolderInfo&) = delete;

    // Reads <dataFolder>/<deviceId>/<folderKey>.csv into the baseline and remembers
    // the path and key. True when the file was read. A missing or unreadable file
    // empties the baseline (a device whose state files were removed starts afresh)
    // and returns false.
    bool LoadContentsTable(const std::string& deviceId, const std::string& folderKey);

    // Steps of change detection that need no store: when the reset flag is set it
    // is cleared and the baseline and changes are emptied; then rows (the live
    // table, in table order) are compared with the baseline and the entries are
    // appended to changes: kind 1 for a key not in the baseline, kind 2 for a
    // different modification time, kind 5 (with the new read flag) for a different
    // read flag when className is "Email", then kind 4 for every baseline row not
    // seen, in key order. Labels: the display name, else "unknown"; "unknown" for
    // deletions. Traces "Folder %s\n" before and "%d changed items" after. The
    // baseline itself is not changed (apart from its seen marks).
    void CompareRows(const std::string& className, const std::vector<CLiveRow>& rows,
                     ChangeList& changes);

    // Writes rows as <dataFolder>/<deviceId>/<fileKey>.csv (see WriteStateFile) and
    // traces "Saving Table %s" and one line per row. False when the file could not
    // be written: the previous file is then untouched and the reason is traced.
    bool SaveRows(const std::string& deviceId, const std::string& fileKey,
                  const std::vector<CLiveRow>& rows);

    // Drops all baseline rows.
    void ClearBaseline() { baseline_.clear(); }

    bool Reset() const { return reset_; }
    void SetReset(bool reset) { reset_ = reset; }
    const std::string& DataFolder() const { return dataFolder_; }
    const std::string& EntryIdText() const { return entryIdText_; }
    const std::string& DisplayName() const { return displayName_; }
    void SetDisplayName(const std::string& name) { displayName_ = name; }
    const std::string& FolderKey() const { return folderKey_; }
    void SetFolderKey(const std::string& key) { folderKey_ = key; }
    const std::string& StateFilePathLoaded() const { return statePath_; }
    const CBaseline& Baseline() const { return baseline_; }

private:
    std::string dataFolder_;
    std::string statePath_;
    bool reset_ = false;
    std::string entryIdText_;
    std::string displayName_;
    CBaseline baseline_;
    std::string folderKey_;
};
