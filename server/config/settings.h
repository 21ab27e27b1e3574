// Settings: the one process-wide configuration of the server — the data folder,
// the options of settings.inf (format in settings_file.h), the device-name map, the
// web directories and the help texts of help.inf.
//
// settings.inf may be changed by other processes while the server runs ("corvel
// web", "corvel device", an editor). Every writer holds CSettingsFileLock while it
// reads, merges and writes. Settings remembers the file as it last read or wrote
// it; when the file has changed since (another writer), SaveSettings and
// ReloadIfChanged merge: what the other writer changed is taken, what this process
// changed stays (MergeSettingsFiles). A running server calls ReloadIfChanged every
// second (CSettingsWatcher), so changes made outside take effect as the console's
// own changes do.
//
// The users and devices are not kept here: see server/devices/device_records.h.
//
// Thread use: every member may be called from any thread. Field reads and writes
// take an internal lock; SaveSettings and ReloadIfChanged run under the file lock
// and their own lock from reading to rename, so concurrent saves never interleave.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "server/config/help_texts.h"
#include "server/config/settings_file.h"

class Settings {
public:
    static constexpr int kDefaultHttpPort = ::kDefaultHttpPort;
    static constexpr int kDefaultHttpsPort = ::kDefaultHttpsPort;
    static constexpr int kDefaultMaxBodyMB = ::kDefaultMaxBodyMB;
    static constexpr int kDefaultBodyBudgetMB = ::kDefaultBodyBudgetMB;

    // Sets the defaults: port 80, TraceXML, TraceWEB and TraceLive on, StartOutlook
    // off, empty maps, the protocol trace on. The data folder is not yet known.
    Settings();
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Determines the data folder (DefaultDataFolder) and loads from it.
    void LoadSettings();
    // Creates dataFolder and its missing parents (mode 0700), then reads
    // settings.inf if it exists; a missing or unreadable
    // file leaves the defaults. Malformed lines are skipped one by one. An
    // HttpPort outside 1-65535 keeps 80 and is reported in the live trace.
    void LoadSettings(const std::string& dataFolder);
    // The same: what the command-line tools that change the file need.
    void LoadSettingsFile(const std::string& dataFolder);
    // Rewrites settings.inf from memory, atomically (see WriteFileAtomically),
    // after taking over what another writer changed since this process last read
    // or wrote the file. False when it cannot be written (or the file lock cannot
    // be had within 5 s): the old file stays, the in-memory values stay, and the
    // reason goes to the live trace.
    bool SaveSettings();
    // When settings.inf changed since this process last read or wrote it, takes
    // over what the other writer changed (a line in the live trace says so) and
    // runs the settings-changed hook; true then. A missing file changes nothing.
    bool ReloadIfChanged();
    // Called (outside every lock) after changes made outside were taken over.
    void SetSettingsChangedHook(std::function<void()> hook);
    // The display name of a device. An unknown ID is registered under proposedName,
    // or under "Gerät N" (N = entries already known + 1) when proposedName is
    // empty; the device-list hook runs and settings.inf is rewritten. CR and LF in
    // a name become blanks, so a name can never add a line to settings.inf.
    std::string GetDeviceName(const std::string& deviceId, const std::string& proposedName);

    // Help texts (help.inf beside the program file, else in the data folder).
    void LoadHelpTexts();
    bool SaveHelpTexts();
    std::string GetHelpText(const std::string& key) const;
    void SetHelpText(const std::string& key, const std::string& text);
    std::string HelpFilePath() const;
    void SetHelpFilePath(const std::string& path);  // overrides the default place

    // Called (outside the settings lock) after GetDeviceName registered a device;
    // the console refreshes its device list there.
    void SetDeviceListChangedHook(std::function<void()> hook);

    std::string DataFolder() const;
    std::string SettingsFilePath() const;  // DataFolder() + "/settings.inf"

    std::map<std::string, std::string> DeviceNames() const;
    void SetDeviceName(const std::string& deviceId, const std::string& name);
    void RemoveDeviceName(const std::string& deviceId);
    std::map<std::string, CWebDirectory> WebDirectories() const;
    // Inserts or replaces the record keyed by its Directory.
    void SetWebDirectory(const CWebDirectory& directory);
    void RemoveWebDirectory(const std::string& directory);

    bool ProtocolTrace() const;  // not stored: on after every start
    void SetProtocolTrace(bool on);

    // One pair per key of settings.inf (settings_keys.h says what each holds):
    // WebBaseDir()/SetWebBaseDir(), HttpPort()/SetHttpPort(), ... Values read from
    // the file have been brought into their limits; setters store what they get.
#define CORVEL_SETTING_ACCESSORS(Name, ...) \
    CORVEL_SETTING_TYPE(Name) Name() const; \
    void Set##Name(CORVEL_SETTING_TYPE(Name) value);
    CORVEL_SETTINGS_KEYS(CORVEL_SETTING_ACCESSORS)
#undef CORVEL_SETTING_ACCESSORS

private:
    void ReadSettingsFile(const std::string& path);
    CSettingsFileValues FileValues() const;
    void SetFileValues(const CSettingsFileValues& values);
    CSettingsFileValues FileValuesLocked() const;  // mutex_ held
    void SetFileValuesLocked(const CSettingsFileValues& values);
    // Under fileMutex_ and the file lock: takes over the file's changes when it
    // changed since it was last read or written. True when it had.
    bool MergeChangedFile(const std::string& path);
    void RunSettingsChangedHook();

    std::mutex fileMutex_;        // one reader or writer of settings.inf at a time; guards
                                  // onDisk_ and diskStamp_
    CSettingsFileValues onDisk_;  // the file as last read or written
    CFileStamp diskStamp_;
    mutable std::mutex mutex_;    // guards every field below
    CSettingsFileValues values_;  // what settings.inf holds, as this process has it
    bool protocolTrace_ = true;
    std::string dataFolder_;
    std::string helpFilePath_;
    CHelpTexts helpTexts_;
    std::function<void()> deviceListChanged_;
    std::function<void()> settingsChanged_;
};
