// Settings: the one process-wide configuration of the server — the data folder,
// the options of settings.inf, the device-name map, the web directories and the
// help texts of help.inf.
//
// settings.inf, written with single line feeds in this order:
//   Device=<id>:<name>                (one per device, in byte order of the id)
//   WebBaseDir=<text>  AnswerWeb=<n>  TraceXML=<0|1>  TraceWEB=<0|1>  TraceLive=<0|1>
//   StartOutlook=<0|1> HttpPort=<n>   KeepSyncFiles=<n>
//   MaxBodyMB=<n>      BodyBudgetMB=<n>
//   WebDir=<Directory> ;<URL> ;<Realm> ;<Username> ;<Password>   (one per directory)
// The blank before each ";" keeps an empty field a token of its own when read back.
//
// Thread use: every member may be called from any thread. Field reads and writes
// take an internal lock; SaveSettings runs under its own lock from snapshot to
// rename, so concurrent saves never interleave and the last save wins. Lock()
// is the lock device lookup and creation hold for their whole run.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "server/config/device_list.h"
#include "server/config/help_texts.h"

struct CWebDirectory {
    std::string Directory;  // the virtual directory, also the map key
    std::string URL;        // target folder, or a URL beginning with "http://"
    std::string Realm;
    std::string Username;
    std::string Password;
};

class Settings {
public:
    static constexpr int kDefaultHttpPort = 80;
    // Largest request body taken, in MiB (read at start).
    static constexpr int kDefaultMaxBodyMB = 64;
    // All request bodies held in memory at once, in MiB (read at start).
    static constexpr int kDefaultBodyBudgetMB = 256;

    // Sets the defaults: port 80, TraceXML, TraceWEB and TraceLive on, StartOutlook
    // off, empty maps, the protocol trace on. The data folder is not yet known.
    // Also starts MAPI (MAPIInitialize with MAPI_MULTITHREAD_NOTIFICATIONS), which the
    // users' log-ons need; the destructor ends it.
    Settings();
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Determines the data folder (DefaultDataFolder) and loads from it.
    void LoadSettings();
    // Creates dataFolder and its missing parents (mode 0700), loads users and
    // devices, then reads settings.inf if it exists; a missing or unreadable
    // file leaves the defaults. Malformed lines are skipped one by one. An
    // HttpPort outside 1-65535 keeps 80 and is reported in the live trace.
    void LoadSettings(const std::string& dataFolder);
    // Rewrites settings.inf from memory, atomically (see WriteFileAtomically).
    // False when it cannot be written: the old file stays, the in-memory values
    // stay, and the reason goes to the live trace.
    bool SaveSettings();
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

    // The lock that device lookup and creation hold for their whole run.
    std::recursive_mutex& Lock() { return deviceLock_; }

    // Users and devices (see device_list.h), loaded by LoadSettings.
    CDeviceList& Devices() { return devices_; }
    const CDeviceList& Devices() const { return devices_; }
    // The device record for a log-on, or none (CDeviceList::FindDevice).
    std::shared_ptr<CPocketDevice> FindDevice(const std::string& deviceId,
                                              const std::string& userName,
                                              const std::string& password) {
        return devices_.FindDevice(deviceId, userName, password);
    }
    // Removes the first record with deviceId and its entry in the device-name map.
    void RemoveDevice(const std::string& deviceId);

    std::string DataFolder() const;
    std::string SettingsFilePath() const;  // DataFolder() + "/settings.inf"

    std::map<std::string, std::string> DeviceNames() const;
    void SetDeviceName(const std::string& deviceId, const std::string& name);
    void RemoveDeviceName(const std::string& deviceId);
    std::map<std::string, CWebDirectory> WebDirectories() const;
    // Inserts or replaces the record keyed by its Directory.
    void SetWebDirectory(const CWebDirectory& directory);
    void RemoveWebDirectory(const std::string& directory);

    std::string WebBaseDir() const;
    void SetWebBaseDir(const std::string& value);
    bool ProtocolTrace() const;  // not stored: on after every start
    void SetProtocolTrace(bool on);
    int AnswerWeb() const;
    void SetAnswerWeb(int value);
    bool TraceXML() const;
    void SetTraceXML(bool on);
    bool TraceWEB() const;
    void SetTraceWEB(bool on);
    bool TraceLive() const;
    void SetTraceLive(bool on);
    bool StartOutlook() const;
    void SetStartOutlook(bool on);
    int HttpPort() const;
    void SetHttpPort(int port);
    int KeepSyncFiles() const;
    void SetKeepSyncFiles(int value);
    // MaxBodyMB and BodyBudgetMB: a value below 1 in settings.inf keeps the default.
    int MaxBodyMB() const;
    void SetMaxBodyMB(int value);
    int BodyBudgetMB() const;
    void SetBodyBudgetMB(int value);

private:
    // Users (*.dxt) and devices (*.ifo) of the data folder are loaded here.
    void LoadUsersAndDevices();
    void ReadSettingsFile(const std::string& path);
    std::string SerializeSettings() const;

    mutable std::mutex mutex_;  // guards every field below
    std::mutex saveMutex_;      // one SaveSettings at a time
    std::recursive_mutex deviceLock_;
    CDeviceList devices_{deviceLock_};
    bool mapiStarted_ = false;
    std::map<std::string, std::string> deviceNames_;
    std::map<std::string, CWebDirectory> webDirectories_;
    std::string webBaseDir_;
    bool protocolTrace_ = true;
    int answerWeb_ = 0;
    bool traceXML_ = true;
    bool traceWEB_ = true;
    bool traceLive_ = true;
    bool startOutlook_ = false;
    int httpPort_ = kDefaultHttpPort;
    int keepSyncFiles_ = 0;
    int maxBodyMB_ = kDefaultMaxBodyMB;
    int bodyBudgetMB_ = kDefaultBodyBudgetMB;
    std::string dataFolder_;
    std::string helpFilePath_;
    CHelpTexts helpTexts_;
    std::function<void()> deviceListChanged_;
};
