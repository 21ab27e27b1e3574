// The acknowledgement token of one sent folder ("<device ID>:<key>.csv:<key>_temp.csv")
// and the step that makes the acknowledged snapshot the folder's baseline.
//
// The token comes back from the device, so its parts are checked before they name
// any file: the device ID must be the one logged on in this request, and the two
// names must be exactly the state file and the snapshot of one folder key (a key
// is "-" and hexadecimal digits only, the forms the server writes). The snapshot
// replaces the baseline in one rename, so there is no moment without a baseline and
// a repeated acknowledgement (the snapshot is gone by then) leaves it untouched.
//
// Pure functions over text plus one rename; any thread.
#pragma once

#include <optional>
#include <string>

struct CAckString {
    std::string deviceId;
    std::string stateFile;  // <key>.csv
    std::string tempFile;   // <key>_temp.csv
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
    kNoSnapshot,  // no snapshot to install: the baseline stays as it was
    kMalformed,   // fewer than two ":"
    kRefused,     // a part names something other than this device's state files
};

// Checks text against loggedOnDeviceId and, when it passes, renames
// <dataFolder>/<D>/<B> over <dataFolder>/<D>/<A>.
AckResult ApplyAckString(const std::string& dataFolder, const std::string& loggedOnDeviceId,
                         const std::string& text);
