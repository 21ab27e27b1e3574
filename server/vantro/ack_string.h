// The acknowledgement token of one sent folder
// ("<device ID>:<key>.csv:<key>_temp.<generation>.csv") and the step that makes the
// acknowledged snapshot the folder's baseline.
//
// Every answer's token names a snapshot of its own: the generation in the
// temporary file's name grows with every snapshot of the folder (see
// contents_table_file.h), and only the newest snapshot is kept. A token naming an
// older or unknown generation therefore finds no file, or a generation not newer
// than the baseline's, and installs nothing: a request repeated after a lost
// answer, or an old acknowledgement sent again, never installs a snapshot whose
// answer the device did not take in. Tokens of the older form ("<key>_temp.csv",
// generation 0) are still taken for snapshots of that name.
//
// The token comes back from the device, so its parts are checked before they name
// any file: the device ID must be the one logged on in this request, and the two
// names must be exactly the state file and a snapshot of one folder key (a key is
// "-" and hexadecimal digits only, the forms the server writes; no separators, no
// parent references). The snapshot replaces the baseline in one rename, so there
// is no moment without a baseline and a repeated acknowledgement (the snapshot is
// gone by then) leaves it untouched.
//
// Pure functions over text plus one rename; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct CAckString {
    std::string deviceId;
    std::string stateFile;  // <key>.csv
    std::string tempFile;   // <key>_temp.<generation>.csv
};

// The token DoSendFolder writes: "%s:%s.csv:%s.csv" (device ID, key, temp key).
std::string FormatAckString(const std::string& deviceId, const std::string& key,
                            const std::string& tempKey);

// Splits text at its first two ":" (the rest, ":" included, is the third part).
// None with fewer than two ":".
std::optional<CAckString> SplitAckString(const std::string& text);

// True when a folder key may name a state file: not empty, "-" and 0-9 A-F a-f only.
bool IsStateFileKey(const std::string& key);

enum class AckResult {
    kInstalled,   // the snapshot is now the baseline
    kNoSnapshot,  // no snapshot of that generation: the baseline stays as it was
    kOlder,       // the generation is not newer than the baseline's: nothing installed
    kMalformed,   // fewer than two ":"
    kRefused,     // a part names something other than this device's state files
};

// Checks text against loggedOnDeviceId and, when it passes, renames
// <dataFolder>/<D>/<B> over <dataFolder>/<D>/<A>. generation (when given) receives
// the generation the token names.
AckResult ApplyAckString(const std::string& dataFolder, const std::string& loggedOnDeviceId,
                         const std::string& text, std::uint64_t* generation = nullptr);
