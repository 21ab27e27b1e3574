// sync.log in a device's sub-folder of the data folder: what each sync did, one line
// per folder, and every handheld value that lost to the desktop's when both sides
// changed the same field of an item. The console's device pane shows it, "corvel
// device list" reads the last sync from it. The file begins with a header:
//
//   # Corvel sync log of device <device ID>
//   # One line per event, fields separated by tabs; the first two are the time (UTC,
//   # YYYY-MM-DD hh:mm:ss.mmm) and the kind of the line:
//   #   sync      folder, "handheld +A ~C -D", "desktop +A ~C -D", "conflicts N": one
//   #             line per folder of a sync; handheld counts the items the answer sent to
//   #             the device (added, changed, deleted), desktop the device's changes the
//   #             store took, conflicts the fields both sides had changed
//   #   conflict  folder, item key, field, losing handheld value, winning desktop value
//   # In values, "\" is written "\\", a tab "\t", a line feed "\n", a carriage return "\r".
//
// and then, for example,
//   2024-05-01
//   09:30:12.345<TAB>conflict<TAB>Contacts<TAB>00AB...<TAB>CompanyName<TAB>Initech<TAB>ACME
//   2024-05-01 09:30:12.512<TAB>sync<TAB>Contacts<TAB>handheld +2 ~1 -0<TAB>desktop +1 ~0
//   -0<TAB>conflicts 1
//
// The sync lines of one sync share their time and are appended as one unit
// (AppendToLogFile), so syncs of several threads never interleave; a process never
// gives two syncs of a device the same time (a later one is moved on by a
// millisecond), so the lines of the last sync are those of the last time. At
// kMaxSyncLogBytes the file is renamed to sync.log.1 (replacing an older one) and
// a new one begins with the header. The files (mode 0600) are removed with the
// device's other files when the device is reset or removed. Any thread.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

inline constexpr unsigned long long kMaxSyncLogBytes = 1024 * 1024;

// Items added, changed and deleted.
struct CSyncCounts {
    int added = 0;
    int changed = 0;
    int deleted = 0;
    bool operator==(const CSyncCounts&) const = default;
};

// What one sync did with one folder.
struct CSyncFolderLine {
    std::string folder;    // the folder's display name
    CSyncCounts handheld;  // sent to the device in the answer
    CSyncCounts desktop;   // the device's changes taken into the store
    int conflicts = 0;     // fields both sides had changed (their conflict lines come first)
    bool operator==(const CSyncFolderLine&) const = default;
};

// A handheld value that lost to the desktop's.
struct CSyncLogLine {
    std::string folder;   // the folder's display name
    std::string itemKey;  // the item's server key
    std::string field;    // the field's element name
    std::string losing;   // the handheld's value
    std::string winning;  // the desktop's value
};

// <dataFolder>/<deviceId>/sync.log
std::string SyncLogPath(const std::string& dataFolder, const std::string& deviceId);

// The header the file begins with (lines ended by "\n").
std::string SyncLogHeader(const std::string& deviceId);

using SyncLogTime = std::chrono::system_clock::time_point;

// One line of the file (ended by "\n") at time t.
std::string FormatSyncLogLine(const CSyncLogLine& line, SyncLogTime t);
std::string FormatSyncFolderLine(const CSyncFolderLine& line, SyncLogTime t);

// Append to the device's sync.log, writing the header first when the file is new
// (the device folder is created when missing). False when it cannot be written,
// or when deviceId cannot name a folder.
bool AppendSyncLog(const std::string& dataFolder, const std::string& deviceId,
                   const CSyncLogLine& line, SyncLogTime t = std::chrono::system_clock::now());
bool AppendSyncLog(const std::string& dataFolder, const std::string& deviceId,
                   const CSyncLogLine& line, std::time_t t);
bool AppendSyncFolders(const std::string& dataFolder, const std::string& deviceId,
                       const std::vector<CSyncFolderLine>& lines,
                       SyncLogTime t = std::chrono::system_clock::now());

// The last sync recorded in the device's sync.log (or in sync.log.1 when the
// current file holds none yet): its time and its folder lines. None when there is
// no sync line.
struct CLastSync {
    std::time_t time = 0;  // seconds
    std::string timeText;  // "YYYY-MM-DD hh:mm:ss.mmm" (UTC), as in the file
    std::vector<CSyncFolderLine> folders;
};
std::optional<CLastSync> ReadLastSync(const std::string& dataFolder, const std::string& deviceId);

// A line of the file split into its fields, values unescaped; empty for a header
// line or an empty line.
std::vector<std::string> SplitSyncLogLine(const std::string& line);
// "handheld +2 ~1 -0" and back; false when text is not of that form.
std::string FormatSyncCounts(const char* side, const CSyncCounts& counts);
bool ParseSyncCounts(const std::string& text, const char* side, CSyncCounts& counts);
