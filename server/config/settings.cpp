// Settings: defaults, settings.inf, device names and the help texts.
#include "server/config/settings.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/config/data_folder.h"
#include "server/config/live_trace.h"
#include "server/config/log_text.h"
#include "server/config/mapi_access.h"
#include "server/config/text_file.h"

namespace {

// Leading decimal integer of a value ("8080x" is 8080; no digits give 0).
int ParseInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;  // clamps below
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::string_view Trim(std::string_view text) {
    const char* kSpace = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return std::string_view();
    size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

// Tokens between ";" separators; runs of separators give no empty tokens.
std::vector<std::string_view> SplitTokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ';') ++i;
        if (i >= text.size()) break;
        size_t end = text.find(';', i);
        if (end == std::string_view::npos) end = text.size();
        tokens.push_back(text.substr(i, end - i));
        i = end;
    }
    return tokens;
}

// A value may not break its line in settings.inf.
std::string OneLine(std::string_view text) { return OneLineValue(text); }

}  // namespace

Settings::Settings() {
    MAPIINIT_0 init{MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    HRESULT hr = MAPIInitialize(&init);
    mapiStarted_ = SUCCEEDED(hr);
    if (!mapiStarted_) AddLiveTraceF("MAPIInitialize failed: 0x%08X", static_cast<unsigned>(hr));
}

Settings::~Settings() {
    // The records hold MAPI objects: they go before MAPI ends.
    devices_.Clear();
    ClearStoreCache();
    if (mapiStarted_) MAPIUninitialize();
}

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
    LoadUsersAndDevices();
    ReadSettingsFile(SettingsFilePath());
}

void Settings::LoadUsersAndDevices() { devices_.LoadAll(DataFolder()); }

void Settings::RemoveDevice(const std::string& deviceId) {
    devices_.RemoveDevice(deviceId);
    RemoveDeviceName(deviceId);
}

void Settings::ReadSettingsFile(const std::string& path) {
    CLineReader reader(path);
    if (!reader.IsOpen()) return;
    std::string raw;
    std::vector<std::string> notes;  // traced after the lock is released
    std::unique_lock<std::mutex> lock(mutex_);
    while (reader.Next(raw)) {
        std::string_view line = StripLineEnd(raw);
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        if (key == "Device") {
            size_t colon = value.find(':');
            if (colon == std::string_view::npos) continue;
            deviceNames_.emplace(std::string(value.substr(0, colon)),
                                 std::string(value.substr(colon + 1)));
        } else if (key == "WebDir") {
            std::vector<std::string_view> tokens = SplitTokens(value);
            if (tokens.empty()) continue;
            CWebDirectory record;
            std::string* fields[] = {&record.Directory, &record.URL, &record.Realm,
                                     &record.Username, &record.Password};
            for (size_t i = 0; i < tokens.size() && i < 5; ++i) fields[i]->assign(Trim(tokens[i]));
            webDirectories_.emplace(record.Directory, record);
        } else if (key == "WebBaseDir") {
            webBaseDir_.assign(value);
        } else if (key == "AnswerWeb") {
            answerWeb_ = ParseInteger(value);
        } else if (key == "HttpPort") {
            int port = ParseInteger(value);
            if (port >= 1 && port <= 65535) {
                httpPort_ = port;
            } else {
                httpPort_ = kDefaultHttpPort;
                notes.push_back("settings.inf: HttpPort " + std::to_string(port) +
                                " is outside 1-65535; port " + std::to_string(kDefaultHttpPort) +
                                " is used");
            }
        } else if (key == "KeepSyncFiles") {
            keepSyncFiles_ = ParseInteger(value);
        } else if (key == "MaxBodyMB") {
            int mb = ParseInteger(value);
            maxBodyMB_ = mb >= 1 ? mb : kDefaultMaxBodyMB;
        } else if (key == "BodyBudgetMB") {
            int mb = ParseInteger(value);
            bodyBudgetMB_ = mb >= 1 ? mb : kDefaultBodyBudgetMB;
        } else if (key == "TraceXML") {
            traceXML_ = ParseInteger(value) != 0;
        } else if (key == "TraceWEB") {
            traceWEB_ = ParseInteger(value) != 0;
        } else if (key == "TraceLive") {
            traceLive_ = ParseInteger(value) != 0;
        } else if (key == "StartOutlook") {
            startOutlook_ = ParseInteger(value) != 0;
        }
    }
    lock.unlock();
    if (reader.SkippedLines() > 0) {
        notes.push_back("settings.inf: " + std::to_string(reader.SkippedLines()) +
                        " overlong line(s) skipped");
    }
    for (const std::string& note : notes) AddLiveTrace(note);
}

std::string Settings::SerializeSettings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    for (const auto& [id, name] : deviceNames_)
        out += "Device=" + OneLine(id) + ":" + OneLine(name) + "\n";
    out += "WebBaseDir=" + OneLine(webBaseDir_) + "\n";
    out += "AnswerWeb=" + std::to_string(answerWeb_) + "\n";
    out += "TraceXML=" + std::to_string(traceXML_ ? 1 : 0) + "\n";
    out += "TraceWEB=" + std::to_string(traceWEB_ ? 1 : 0) + "\n";
    out += "TraceLive=" + std::to_string(traceLive_ ? 1 : 0) + "\n";
    out += "StartOutlook=" + std::to_string(startOutlook_ ? 1 : 0) + "\n";
    out += "HttpPort=" + std::to_string(httpPort_) + "\n";
    out += "KeepSyncFiles=" + std::to_string(keepSyncFiles_) + "\n";
    out += "MaxBodyMB=" + std::to_string(maxBodyMB_) + "\n";
    out += "BodyBudgetMB=" + std::to_string(bodyBudgetMB_) + "\n";
    for (const auto& [name, dir] : webDirectories_) {
        out += "WebDir=" + OneLine(dir.Directory) + " ;" + OneLine(dir.URL) + " ;" +
               OneLine(dir.Realm) + " ;" + OneLine(dir.Username) + " ;" + OneLine(dir.Password) +
               "\n";
    }
    return out;
}

bool Settings::SaveSettings() {
    std::lock_guard<std::mutex> save(saveMutex_);
    std::string error;
    if (!WriteFileAtomically(SettingsFilePath(), SerializeSettings(), error)) {
        AddLiveTrace("SaveSettings: " + error);
        return false;
    }
    return true;
}

std::string Settings::GetDeviceName(const std::string& deviceId, const std::string& proposedName) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = deviceNames_.find(deviceId);
        if (it != deviceNames_.end()) return it->second;
        name = proposedName.empty() ? "Gerät " + std::to_string(deviceNames_.size() + 1)
                                    : OneLine(proposedName);
        deviceNames_.emplace(deviceId, name);
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
    return deviceNames_;
}

void Settings::SetDeviceName(const std::string& deviceId, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    deviceNames_[deviceId] = OneLine(name);
}

void Settings::RemoveDeviceName(const std::string& deviceId) {
    std::lock_guard<std::mutex> lock(mutex_);
    deviceNames_.erase(deviceId);
}

std::map<std::string, CWebDirectory> Settings::WebDirectories() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return webDirectories_;
}

void Settings::SetWebDirectory(const CWebDirectory& directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    webDirectories_[directory.Directory] = directory;
}

void Settings::RemoveWebDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    webDirectories_.erase(directory);
}

#define CORVEL_SETTING(Type, Name, member)        \
    Type Settings::Name() const {                 \
        std::lock_guard<std::mutex> lock(mutex_); \
        return member;                            \
    }                                             \
    void Settings::Set##Name(Type value) {        \
        std::lock_guard<std::mutex> lock(mutex_); \
        member = value;                           \
    }

std::string Settings::WebBaseDir() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return webBaseDir_;
}

void Settings::SetWebBaseDir(const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    webBaseDir_ = value;
}

CORVEL_SETTING(bool, ProtocolTrace, protocolTrace_)
CORVEL_SETTING(int, AnswerWeb, answerWeb_)
CORVEL_SETTING(bool, TraceXML, traceXML_)
CORVEL_SETTING(bool, TraceWEB, traceWEB_)
CORVEL_SETTING(bool, TraceLive, traceLive_)
CORVEL_SETTING(bool, StartOutlook, startOutlook_)
CORVEL_SETTING(int, HttpPort, httpPort_)
CORVEL_SETTING(int, KeepSyncFiles, keepSyncFiles_)
CORVEL_SETTING(int, MaxBodyMB, maxBodyMB_)
CORVEL_SETTING(int, BodyBudgetMB, bodyBudgetMB_)
#undef CORVEL_SETTING
