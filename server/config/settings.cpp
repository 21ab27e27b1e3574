// Settings: defaults, settings.inf, device names and the help texts.
#include "server/config/settings.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/base/atomic_file.h"
#include "server/config/data_folder.h"
#include "server/config/live_trace.h"
#include "server/config/log_text.h"
#include "server/config/text_file.h"
#include "server/mapi/mapi_status_calls.h"

namespace {

std::string ReadFileText(const std::string& path, bool& read) {
    std::string text;
    read = false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return text;
    char buffer[8192];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, count);
    read = std::ferror(file.get()) == 0;
    return text;
}

}  // namespace

Settings::Settings() = default;

Settings::~Settings() = default;

void Settings::LoadSettings() { LoadSettings(DefaultDataFolder()); }

void Settings::LoadSettings(const std::string& dataFolder) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dataFolder_ = dataFolder;
    }
    if (!CreateDataFolder(dataFolder)) {
        AddLiveTraceF("Data folder %s cannot be created: %s", dataFolder.c_str(),
                      std::strerror(errno));
    }
    ReadSettingsFile(SettingsFilePath());
}

void Settings::LoadSettingsFile(const std::string& dataFolder) { LoadSettings(dataFolder); }

CSettingsFileValues Settings::FileValues() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return FileValuesLocked();
}

void Settings::SetFileValues(const CSettingsFileValues& values) {
    std::lock_guard<std::mutex> lock(mutex_);
    SetFileValuesLocked(values);
}

CSettingsFileValues Settings::FileValuesLocked() const { return values_; }

void Settings::SetFileValuesLocked(const CSettingsFileValues& values) { values_ = values; }

void Settings::ReadSettingsFile(const std::string& path) {
    std::vector<std::string> notes;  // traced after the locks are released
    {
        std::lock_guard<std::mutex> files(fileMutex_);
        CSettingsFileLock lock(DataFolder());
        CFileStamp stamp = StampOf(path);
        bool read = false;
        std::string text = ReadFileText(path, read);
        // A missing or unreadable file leaves the defaults; the first save writes them.
        onDisk_ = read ? ParseSettingsFile(text, notes) : FileValues();
        diskStamp_ = read ? stamp : CFileStamp();
        if (read) SetFileValues(onDisk_);
    }
    for (const std::string& note : notes) AddLiveTrace(note);
}

bool Settings::MergeChangedFile(const std::string& path) {
    CFileStamp stamp = StampOf(path);
    if (!stamp.exists || stamp == diskStamp_) return false;
    bool read = false;
    std::string text = ReadFileText(path, read);
    if (!read) return false;
    std::vector<std::string> notes;
    CSettingsFileValues theirs = ParseSettingsFile(text, notes);
    {
        // Setters change the fields under mutex_ only: merge under it, so a change
        // made meanwhile by the console is neither lost nor half taken.
        std::lock_guard<std::mutex> lock(mutex_);
        SetFileValuesLocked(MergeSettingsFiles(onDisk_, FileValuesLocked(), theirs));
    }
    for (const std::string& note : notes) AddLiveTrace(note);
    onDisk_ = theirs;
    diskStamp_ = stamp;
    return true;
}

bool Settings::SaveSettings() {
    bool changedOutside = false;
    {
        std::lock_guard<std::mutex> files(fileMutex_);
        std::string path = SettingsFilePath();
        CSettingsFileLock lock(DataFolder());
        if (!lock.IsHeld()) {
            AddLiveTrace("SaveSettings: settings.inf is held by another program; not written");
            return false;
        }
        changedOutside = MergeChangedFile(path);
        CSettingsFileValues values = FileValues();
        std::string error;
        if (!WriteFileAtomically(path, SerializeSettingsFile(values), error)) {
            AddLiveTrace("SaveSettings: " + error);
            return false;
        }
        onDisk_ = values;
        diskStamp_ = StampOf(path);
    }
    if (changedOutside) RunSettingsChangedHook();
    return true;
}

bool Settings::ReloadIfChanged() {
    {
        std::lock_guard<std::mutex> files(fileMutex_);
        std::string path = SettingsFilePath();
        if (StampOf(path) == diskStamp_) return false;  // the usual case: no lock needed
        CSettingsFileLock lock(DataFolder());
        if (!lock.IsHeld() || !MergeChangedFile(path)) return false;
    }
    RunSettingsChangedHook();
    return true;
}

void Settings::RunSettingsChangedHook() {
    AddLiveTrace("settings.inf was changed outside the server; the changes are in effect");
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = settingsChanged_;
    }
    if (hook) hook();
}

void Settings::SetSettingsChangedHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    settingsChanged_ = std::move(hook);
}

std::string Settings::GetDeviceName(const std::string& deviceId, const std::string& proposedName) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = values_.deviceNames.find(deviceId);
        if (it != values_.deviceNames.end()) return it->second;
        name = proposedName.empty() ? "Gerät " + std::to_string(values_.deviceNames.size() + 1)
                                    : DeviceNameForFile(deviceId, proposedName);
        values_.deviceNames.emplace(deviceId, name);
    }
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = deviceListChanged_;
    }
    if (hook) hook();
    SaveSettings();
    return name;
}

void Settings::SetDeviceListChangedHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    deviceListChanged_ = std::move(hook);
}

std::string Settings::HelpFilePath() const {
    std::string dataFolder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!helpFilePath_.empty()) return helpFilePath_;
        dataFolder = dataFolder_;
    }
    // Beside the program file when it is there or can be made there; otherwise
    // in the data folder.
    std::string programFolder = ProgramFolder();
    if (!programFolder.empty()) {
        std::string beside = programFolder + "/help.inf";
        if (access(beside.c_str(), R_OK) == 0 || access(programFolder.c_str(), W_OK) == 0) {
            return beside;
        }
    }
    return dataFolder + "/help.inf";
}

void Settings::SetHelpFilePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    helpFilePath_ = path;
}

void Settings::LoadHelpTexts() { helpTexts_.Load(HelpFilePath()); }

bool Settings::SaveHelpTexts() {
    std::string error;
    if (!helpTexts_.Save(HelpFilePath(), error)) {
        AddLiveTrace("SaveHelpTexts: " + error);
        return false;
    }
    return true;
}

std::string Settings::GetHelpText(const std::string& key) const { return helpTexts_.Get(key); }

void Settings::SetHelpText(const std::string& key, const std::string& text) {
    helpTexts_.Set(key, text);
}

std::string Settings::DataFolder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dataFolder_;
}

std::string Settings::SettingsFilePath() const { return DataFolder() + "/settings.inf"; }

std::map<std::string, std::string> Settings::DeviceNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_.deviceNames;
}

void Settings::SetDeviceName(const std::string& deviceId, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.deviceNames[deviceId] = DeviceNameForFile(deviceId, name);
}

void Settings::RemoveDeviceName(const std::string& deviceId) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.deviceNames.erase(deviceId);
}

std::map<std::string, CWebDirectory> Settings::WebDirectories() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_.webDirectories;
}

void Settings::SetWebDirectory(const CWebDirectory& directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.webDirectories[directory.Directory] = directory;
}

void Settings::RemoveWebDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.webDirectories.erase(directory);
}

bool Settings::ProtocolTrace() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return protocolTrace_;
}

void Settings::SetProtocolTrace(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    protocolTrace_ = on;
}

#define CORVEL_SETTING_ACCESSORS(Name, ...)                     \
    CORVEL_SETTING_TYPE(Name) Settings::Name() const {          \
        std::lock_guard<std::mutex> lock(mutex_);               \
        return values_.Name;                                    \
    }                                                           \
    void Settings::Set##Name(CORVEL_SETTING_TYPE(Name) value) { \
        std::lock_guard<std::mutex> lock(mutex_);               \
        values_.Name = std::move(value);                        \
    }
CORVEL_SETTINGS_KEYS(CORVEL_SETTING_ACCESSORS)
#undef CORVEL_SETTING_ACCESSORS
