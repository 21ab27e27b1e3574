// settings.inf as values: reading, writing, and the three-way merge that lets
// several processes change the file (the running server, "corvel web", "corvel
// device") without losing each other's changes.
//
// settings.inf, written with single line feeds in this order:
//   Device=<id>:<name>                (one per device, in byte order of the id)
//   <Key>=<value>                     (every key of settings_keys.h, in its order)
//   WebDir=<Directory> ;<URL> ;<Realm> ;<Username> ;<Password>   (one per directory)
// The blank before each ";" keeps an empty field a token of its own when read back.
// Reading: values lose their control characters first (OneLineValue), so what
// is read is what the next write puts back; keys are compared exactly; a Device
// or WebDir already read keeps its first value, any other key read twice its
// last; a Device line without ":" is skipped; WebDir fields are cut at ";" (runs
// give no empty token) and trimmed; the other keys read as their forms say
// (setting_forms.h). A line without "=", with an unknown key or longer than
// kMaxLineLength is skipped with a note for the operator: it is not written back.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "server/config/settings_keys.h"

struct CWebDirectory {
    std::string Directory;  // the virtual directory, also the map key
    std::string URL;        // target folder, or a URL beginning with "http://"
    std::string Realm;
    std::string Username;
    std::string Password;
    bool operator==(const CWebDirectory&) const = default;
};

// Why a web directory cannot be stored as it is, or the empty text: an empty
// Directory, or a field holding ";", a line break, or blanks at either end (the
// reader trims them).
std::string WebDirectoryProblem(const CWebDirectory& directory);

// name as the device-name map keeps it for deviceId: on one line (OneLineValue) and
// cut, at the start of a UTF-8 character, so that its Device line is no longer than
// the reader takes (kMaxLineLength).
std::string DeviceNameForFile(std::string_view deviceId, std::string_view name);

inline constexpr int kDefaultHttpPort = SettingKeys::HttpPort.initial;
inline constexpr int kDefaultHttpsPort = SettingKeys::HttpsPort.initial;
inline constexpr int kDefaultMaxBodyMB = SettingKeys::MaxBodyMB.initial;
inline constexpr int kDefaultBodyBudgetMB = SettingKeys::BodyBudgetMB.initial;

// Everything settings.inf holds; the defaults are those of a fresh installation.
struct CSettingsFileValues {
    std::map<std::string, std::string> deviceNames;  // the Device lines: id -> name
#define CORVEL_SETTING_FIELD(Name, ...) \
    CORVEL_SETTING_TYPE(Name) Name = SettingKeys::Name.Initial();
    CORVEL_SETTINGS_KEYS(CORVEL_SETTING_FIELD)
#undef CORVEL_SETTING_FIELD
    std::map<std::string, CWebDirectory> webDirectories;  // the WebDir lines, by Directory
    bool operator==(const CSettingsFileValues&) const = default;
};

// Parses the text of settings.inf over the defaults. Notes for the operator (a
// number out of its range, lines skipped) are appended to notes.
CSettingsFileValues ParseSettingsFile(std::string_view text, std::vector<std::string>& notes);
// The file's text. CR and LF in values become blanks, so a value can never add a
// line, and other control characters are dropped (OneLineValue). A ";" in a web directory field
// would end the field when read back: the places that take the fields refuse it
// (WebDirectoryProblem).
std::string SerializeSettingsFile(const CSettingsFileValues& values);

// The values after two sides changed the same base: every field (and every entry
// of the two maps) that theirs changed against base is taken from theirs, every
// other from mine. An entry one side removed and the other left alone is removed.
CSettingsFileValues MergeSettingsFiles(const CSettingsFileValues& base,
                                       const CSettingsFileValues& mine,
                                       const CSettingsFileValues& theirs);

// An advisory lock on <data folder>/settings.lock, held while a process reads,
// merges and writes settings.inf, so two writers never interleave. Waits up to
// timeoutMs for another holder; IsHeld() false when it could not be had.
// Thread use: one owner; the lock is held for the object's lifetime.
class CSettingsFileLock {
public:
    CSettingsFileLock(const std::string& dataFolder, int timeoutMs = 5000);
    ~CSettingsFileLock();
    CSettingsFileLock(const CSettingsFileLock&) = delete;
    CSettingsFileLock& operator=(const CSettingsFileLock&) = delete;
    bool IsHeld() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

inline constexpr const char* kSettingsLockName = "settings.lock";

// What identifies one version of a file: a rename over it gives a new inode, a
// rewrite a new time or size. All zero when the file does not exist.
struct CFileStamp {
    unsigned long long inode = 0;
    long long seconds = 0;
    long long nanoseconds = 0;
    long long size = 0;
    bool exists = false;
    bool operator==(const CFileStamp&) const = default;
};
CFileStamp StampOf(const std::string& path);
