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
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/read_snapshot_ptr.h"
#include "server/syncstate/change_entry.h"
#include "server/syncstate/contents_table_file.h"

class CPocketDevice;

// Rows a snapshot holds back: items whose modification time is later than the
// moment their change list was computed were changed while the request ran and
// were not sent as they are now, unless the request itself wrote them.
struct CSnapshotHold {
    std::int64_t computedAt = 0;  // FILETIME of the computation; 0 holds nothing back
    const std::set<std::string>* writtenByRequest = nullptr;  // upper-case item keys
    // The generation the snapshot is written with (its "Generation=" line); 0 for
    // none.
    std::uint64_t generation = 0;
};

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

    // Change detection against the live contents table of folder, restricted to
    // dayWindow (a code or day count, see DayWindowDays; 0: the whole folder):
    // reads the columns PR_ENTRYID, PR_DISPLAY_NAME, PR_LAST_MODIFICATION_TIME,
    // PR_DISPLAY_NAME, PR_MESSAGE_FLAGS, PR_SUBJECT and compares the rows as
    // CompareRows does. session is the device's (kept for the call's shape; the
    // folder is already open). True when the whole table was compared; false after
    // a store error, with the entries found up to it in changes.
    bool ComputeChanges(const std::string& className, IMAPISession* session, IMAPIFolderPtr& folder,
                        ChangeList& changes, const std::string& deviceId, int dayWindow);

    // Writes the live contents table of folder (restricted to dayWindow) as
    // <dataFolder>/<deviceId>/<fileKey>.csv, one row per item in table order, and
    // traces "Saving Table %s" and each row. The file is replaced only when every
    // row was read and written: on a store error or a failed write the previous
    // file stays as it was, the reason is traced and the result is false. Without a
    // day window, when the store's version is still the one the last comparison
    // (ComputeChanges) read its rows at, those rows are written without reading the
    // table again; they are kept for one snapshot.
    bool SaveContentsTable(const std::string& deviceId, const std::string& fileKey,
                           IMAPISession* session, IMAPIFolderPtr& folder, int dayWindow);
    // The same, holding rows back as hold says: such a row keeps the baseline row
    // of its item (the baseline last loaded), or is left out when the baseline has
    // none, so that the next comparison reports the item again. Traces "Saving
    // Table %s: %s changed during the request, kept for the next answer" per row.
    bool SaveContentsTable(const std::string& deviceId, const std::string& fileKey,
                           IMAPISession* session, IMAPIFolderPtr& folder, int dayWindow,
                           const CSnapshotHold& hold);

    // Restricts table to the items of the last DayWindowDays(code) days: by
    // PR_LAST_MODIFICATION_TIME, or in a folder of class "IPF.Appointment" by the
    // appointment's end (named property 0x820E of PSETID_Appointment, PT_SYSTIME,
    // created in the store when missing), RELOP_GE the cutoff computed from the UTC
    // clock. Traces "Restriction = %s\n" with the restriction's text before it is
    // applied. Returns 0 (S_OK) when restricted or when there is no window; raises
    // CMAPIException when the store refuses.
    static HRESULT ApplyDayWindow(int code, IMAPIFolderPtr& folder, IMAPITablePtr& table);

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
    // The steps of CompareRows, so a table can be compared while it is read.
    void BeginComparison(ChangeList& changes);
    void CompareRow(const CLiveRow& live, bool detectReadState, ChangeList& changes);
    void EndComparison(ChangeList& changes);
    bool WriteSnapshot(const std::string& deviceId, const std::string& fileKey,
                       const std::string& content);

    std::string dataFolder_;
    std::string statePath_;
    bool reset_ = false;
    std::string entryIdText_;
    std::string displayName_;
    CBaseline baseline_;
    std::string folderKey_;
    // The live rows of the last complete comparison without a day window, and the
    // store's version they were read at (none: not kept); SaveContentsTable writes
    // them instead of reading the table again while the store is unchanged.
    std::vector<CLiveRow> comparedRows_;
    std::optional<STOREVERSION> comparedVersion_;
};

// The sync state of folder for device: the record kept in device.syncState under the
// folder's entry ID (upper-case hexadecimal), created with that ID, the folder's
// display name and dataFolder when missing. None when the folder is not open or a
// store error occurs.
std::shared_ptr<CFolderInfo> GetInfo(CPocketDevice& device, IMAPIFolderPtr& folder,
                                     const std::string& dataFolder);
