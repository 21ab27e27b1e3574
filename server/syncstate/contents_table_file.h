// The sync-state files of one device folder, in the device's sub-folder of the
// data folder:
//   <key>.csv       the baseline the device acknowledged;
//   <key>_temp.csv  the snapshot sent with the last answer, not yet acknowledged.
//
// Format (single line feeds):
//   [FolderInfo]
//   <item key>;<mtime low>;<mtime high>;<read flag>;<label>     one line per item
// where the item key is the entry ID in upper-case hexadecimal, the two halves of
// PR_LAST_MODIFICATION_TIME are signed decimal 32-bit numbers, the read flag is 0
// or 1, and the label is PR_DISPLAY_NAME, else PR_SUBJECT, else "(null)".
//
// Parsing and formatting are pure functions over text; the file functions wrap
// them. Every function may be called from any thread (the fault seam is for tests
// and is not meant to be changed while writes run).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "common/base/atomic_file.h"

inline constexpr std::string_view kStateFileHeader = "[FolderInfo]";
// Longest state-file line taken, line end included; a longer line is skipped whole.
inline constexpr size_t kMaxStateLineLength = 64 * 1024;

// One row of a baseline.
struct CBaselineRow {
    std::string key;
    std::string label;
    std::int32_t modLow = 0;
    std::int32_t modHigh = 0;
    int readFlag = 0;
    bool seen = false;  // set during one comparison
};

// Item key -> row, in byte order of the key.
using CBaseline = std::map<std::string, CBaselineRow>;

// One row of a folder's live contents table, as the comparison and the snapshot
// need it. An absent property is std::nullopt.
struct CLiveRow {
    std::string key;  // PR_ENTRYID in upper-case hexadecimal
    std::optional<std::string> displayName;
    std::optional<std::string> subject;
    std::int32_t modLow = 0;
    std::int32_t modHigh = 0;
    int readFlag = 0;  // bit 0 of PR_MESSAGE_FLAGS
};

// Replaces baseline with the rows of a state file's text. Lines before the line
// "[FolderInfo]" are passed over; after it every non-empty line is a row, split at
// ";" (runs of ";" give no empty fields): key, mtime low, mtime high, read flag,
// label; further fields are ignored, missing ones stay 0 or empty, numbers that do
// not parse read as 0. A key seen twice keeps its first row. A line end is "\n"
// with an optional "\r" before it; a last line without one is taken whole. Lines
// longer than kMaxStateLineLength are skipped. Returns the number of rows taken.
size_t ParseStateFile(std::string_view content, CBaseline& baseline);

// The label written for a row: display name, else subject, else "(null)"; CR and
// LF become blanks so a label can never start a line of its own.
std::string SnapshotLabel(const CLiveRow& row);

// "%s;%d;%d;%d;%s" of key, mtime low, mtime high, read flag and SnapshotLabel,
// without a line end. A label that would make the line (with its line end) longer
// than kMaxStateLineLength is cut, at the start of a UTF-8 character, so that the
// line reads back: a skipped line would make its item new in every comparison.
std::string FormatStateRow(const CLiveRow& row);

// Generations: every snapshot an answer names carries a generation of its own, in
// its file name (<key>_temp.<generation>.csv) and in the line
// "Generation=<generation>" before "[FolderInfo]", which readers that do not know
// it pass over like every line before the header. The baseline made from a
// snapshot keeps the line. A file without it is of generation 0.
inline constexpr std::string_view kGenerationKey = "Generation=";
// The generation a state file's text names; 0 when none (or not a decimal number).
std::uint64_t ParseStateFileGeneration(std::string_view content);
// The generation of the state file at path; 0 when it cannot be read or names none.
std::uint64_t ReadStateFileGeneration(const std::string& path);
// The file key of the snapshot of folderKey of a generation: "<key>_temp.<n>", or
// "<key>_temp" for generation 0 (the name of snapshots before generations).
std::string SnapshotFileKey(const std::string& folderKey, std::uint64_t generation);
// The generation of a snapshot file name ("<key>_temp.<n>.csv", or the older
// "<key>_temp.csv" as 0) of folderKey; none for any other name.
std::optional<std::uint64_t> SnapshotGenerationOfName(std::string_view fileName,
                                                      const std::string& folderKey);
// The snapshots of folderKey in the device folder, by generation (file names).
std::map<std::uint64_t, std::string> ListSnapshots(const std::string& dataFolder,
                                                   const std::string& deviceId,
                                                   const std::string& folderKey);
// The generation for a new snapshot of folderKey: one more than the baseline's and
// every snapshot's in the device folder.
std::uint64_t NextSnapshotGeneration(const std::string& dataFolder, const std::string& deviceId,
                                     const std::string& folderKey);
// Removes every snapshot of folderKey other than generation keep; the number
// removed.
int RemoveSnapshotsExcept(const std::string& dataFolder, const std::string& deviceId,
                          const std::string& folderKey, std::uint64_t keep);

// <dataFolder>/<deviceId>/<fileKey>.csv
std::string StateFilePath(const std::string& dataFolder, const std::string& deviceId,
                          const std::string& fileKey);

// Reads and parses a state file into baseline. False when the file cannot be
// opened (baseline untouched); true otherwise.
bool ReadStateFile(const std::string& path, CBaseline& baseline);

// Writes content to path atomically (WriteFileAtomically: mode 0600, through
// path + ".tmp"). Creates the parent folder (mode 0700) when missing. On any
// failure path keeps its previous content (or stays absent), error names the step
// and reason, and the result is false. A test makes a step fail with
// SetFileWriteFaultHook.
bool WriteStateFile(const std::string& path, std::string_view content, std::string& error);
