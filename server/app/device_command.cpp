// corvel device list / reset / remove.
#include "server/app/device_command.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

#include "common/base/escape.h"
#include "server/config/data_folder.h"
#include "server/config/data_folder_lock.h"
#include "server/config/settings.h"
#include "server/config/text_file.h"
#include "server/devices/device_file.h"
#include "server/devices/device_folder.h"
#include "server/devices/device_list.h"
#include "server/devices/device_requests.h"
#include "server/devices/sync_log.h"

namespace {

struct DeviceRow {
    std::string id;
    std::string name;
    std::string user;
    bool hasFile = false;
    std::optional<CLastSync> lastSync;
    std::string lastAccess;  // newest state file, when there is no sync line
};

// Every device of the data folder: the .ifo files and the names of settings.inf.
std::vector<DeviceRow> Devices(const std::string& dataFolder) {
    std::map<std::string, DeviceRow> rows;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dataFolder, error)) {
        if (entry.path().extension() != ".ifo") continue;
        CLineReader reader(entry.path().string());
        if (!reader.IsOpen()) continue;
        CDeviceConfig record;
        bool inSignature = false;
        std::string raw;
        while (reader.Next(raw)) ParseDeviceFileLine(StripLineEnd(raw), record, inSignature);
        std::string id = record.DeviceID.empty() ? entry.path().stem().string() : record.DeviceID;
        if (!IsValidDeviceId(id)) continue;
        rows[id].id = id;
        rows[id].user = record.Name;
        rows[id].hasFile = true;
    }
    Settings settings;
    settings.LoadSettingsFile(dataFolder);
    for (const auto& [id, name] : settings.DeviceNames()) {
        if (!IsValidDeviceId(id)) continue;
        rows[id].id = id;
        rows[id].name = name;
    }
    std::vector<DeviceRow> list;
    for (auto& [id, row] : rows) {
        row.lastSync = ReadLastSync(dataFolder, id);
        if (!row.lastSync) row.lastAccess = DeviceLastAccess(dataFolder, id);
        list.push_back(std::move(row));
    }
    return list;
}

std::string JsonCounts(const CSyncCounts& c) {
    return "{\"added\":" + std::to_string(c.added) + ",\"changed\":" + std::to_string(c.changed) +
           ",\"deleted\":" + std::to_string(c.deleted) + "}";
}

// Tabs and line breaks would break the columns of the text output.
std::string Column(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

// True when a running server holds the data folder (it then carries out requests).
bool ServerRuns(const std::string& dataFolder, CDataFolderLock& lock) {
    std::string error;
    return !lock.TryAcquire(dataFolder, error) && error.find("running server") != std::string::npos;
}

// Leaves request to the running server and waits; the exit status.
int AskTheServer(const std::string& dataFolder, const CDeviceRequest& request, const char* command,
                 const std::string& done, std::chrono::milliseconds wait, std::ostream& out,
                 std::ostream& err) {
    std::string error;
    if (!WriteDeviceRequest(dataFolder, request, error)) {
        err << command << ": " << error << "\n";
        return 1;
    }
    switch (WaitForDeviceRequest(dataFolder, request.deviceId, wait)) {
        case CRequestWait::kDone:
            break;
        case CRequestWait::kWithdrawn:
            err << command << ": the running server did not take the request within "
                << wait.count() / 1000.0 << " s; nothing was changed\n";
            return 1;
        case CRequestWait::kStillRunning:
            err << command << ": the running server is still carrying out the request (see its "
                << "live trace)\n";
            return 1;
    }
    out << done << " by the running server\n";
    return 0;
}

bool KnownDevice(const std::string& dataFolder, const std::string& deviceId) {
    for (const DeviceRow& row : Devices(dataFolder)) {
        if (row.id == deviceId) return true;
    }
    std::error_code error;
    return std::filesystem::is_directory(dataFolder + "/" + deviceId, error);
}

// 0 when deviceId is a device ID, folderKey (when given) a folder key, and the data
// folder knows the device; else the exit status, the reason written for command.
int DeviceProblem(const std::string& dataFolder, const std::string& deviceId,
                  const std::string& folderKey, const char* command, std::ostream& err) {
    if (!IsValidDeviceId(deviceId)) {
        err << command << ": \"" << deviceId << "\" is not a device ID\n";
        return 2;
    }
    if (!folderKey.empty() && !IsFolderKey(folderKey)) {
        err << command << ": \"" << folderKey
            << "\" is not a folder key (-1 ... -8 or an entry ID in hexadecimal)\n";
        return 2;
    }
    if (!KnownDevice(dataFolder, deviceId)) {
        err << command << ": there is no device " << deviceId << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int RunDeviceList(const std::string& dataFolder, bool json, std::ostream& out, std::ostream&) {
    std::vector<DeviceRow> rows = Devices(dataFolder);
    if (json) {
        out << "[";
        for (size_t i = 0; i < rows.size(); ++i) {
            const DeviceRow& row = rows[i];
            out << (i ? "," : "") << "{\"device\":" << JsonQuote(row.id, JsonLineBreaks::kNumeric)
                << ",\"name\":" << JsonQuote(row.name, JsonLineBreaks::kNumeric)
                << ",\"user\":" << JsonQuote(row.user, JsonLineBreaks::kNumeric)
                << ",\"deviceFile\":" << (row.hasFile ? "true" : "false") << ",\"lastSync\":"
                << (row.lastSync ? JsonQuote(row.lastSync->timeText, JsonLineBreaks::kNumeric)
                                 : std::string("null"))
                << ",\"folders\":[";
            if (row.lastSync) {
                for (size_t f = 0; f < row.lastSync->folders.size(); ++f) {
                    const CSyncFolderLine& line = row.lastSync->folders[f];
                    out << (f ? "," : "")
                        << "{\"folder\":" << JsonQuote(line.folder, JsonLineBreaks::kNumeric)
                        << ",\"handheld\":" << JsonCounts(line.handheld)
                        << ",\"desktop\":" << JsonCounts(line.desktop)
                        << ",\"conflicts\":" << line.conflicts << "}";
                }
            }
            out << "]}";
        }
        out << "]\n";
        return 0;
    }
    if (rows.empty()) {
        out << "No devices have logged on yet.\n";
        return 0;
    }
    out << "DEVICE\tNAME\tUSER\tLAST SYNC (UTC)\tLAST SYNC PER FOLDER\n";
    for (const DeviceRow& row : rows) {
        out << row.id << "\t" << Column(row.name) << "\t"
            << (row.hasFile ? Column(row.user) : std::string("(no device file)")) << "\t";
        if (row.lastSync) {
            out << row.lastSync->timeText << "\t";
            for (size_t f = 0; f < row.lastSync->folders.size(); ++f) {
                const CSyncFolderLine& line = row.lastSync->folders[f];
                out << (f ? "; " : "") << Column(line.folder) << ": "
                    << FormatSyncCounts("handheld", line.handheld) << ", "
                    << FormatSyncCounts("desktop", line.desktop);
                if (line.conflicts > 0) out << ", " << line.conflicts << " conflicts";
            }
        } else if (!row.lastAccess.empty()) {
            out << row.lastAccess << "\t(state files only)";
        } else {
            out << "never\t";
        }
        out << "\n";
    }
    return 0;
}

int RunDeviceReset(const std::string& dataFolder, const std::string& deviceId,
                   const std::string& folderKey, std::ostream& out, std::ostream& err,
                   std::chrono::milliseconds wait) {
    if (int problem = DeviceProblem(dataFolder, deviceId, folderKey, "corvel device reset", err))
        return problem;
    CDataFolderLock lock;
    if (ServerRuns(dataFolder, lock)) {
        CDeviceRequest request{deviceId, CDeviceRequest::Kind::kReset, folderKey};
        return AskTheServer(dataFolder, request, "corvel device reset",
                            "Device " + deviceId +
                                (folderKey.empty() ? " reset" : ": folder " + folderKey + " reset"),
                            wait, out, err);
    }
    if (!folderKey.empty()) {
        int deleted = DeleteFolderStateFiles(dataFolder, deviceId, folderKey);
        out << "Device " << deviceId << ": " << deleted << " state file(s) of folder " << folderKey
            << " deleted; the folder's next sync starts afresh\n";
        return 0;
    }
    DeleteDeviceFiles(dataFolder, deviceId);
    out << "Device " << deviceId
        << " reset: its device file and sync state are deleted; its next sync starts afresh\n";
    return 0;
}

int RunDeviceRemove(const std::string& dataFolder, const std::string& deviceId, std::ostream& out,
                    std::ostream& err, std::chrono::milliseconds wait) {
    if (int problem = DeviceProblem(dataFolder, deviceId, "", "corvel device remove", err))
        return problem;
    CDataFolderLock lock;
    if (ServerRuns(dataFolder, lock)) {
        CDeviceRequest request{deviceId, CDeviceRequest::Kind::kRemove, ""};
        return AskTheServer(dataFolder, request, "corvel device remove",
                            "Device " + deviceId + " removed", wait, out, err);
    }
    Settings settings;
    settings.LoadSettingsFile(dataFolder);
    settings.RemoveDeviceName(deviceId);
    if (!settings.SaveSettings()) {
        err << "corvel device remove: " << settings.SettingsFilePath() << " cannot be written\n";
        return 1;
    }
    DeleteDeviceFiles(dataFolder, deviceId);
    out << "Device " << deviceId
        << " removed: its name, device file and sync state are deleted (a new log-on makes it "
           "anew from its user)\n";
    return 0;
}

void AddDeviceCommand(CLI::App& app, CommandAction& chosen) {
    CLI::App* device =
        app.add_subcommand("device", "List, reset or remove devices (the console's device pane)");
    device->require_subcommand(1);
    AddListSubcommand(*device, "The devices and their last sync", RunDeviceList, chosen);
    auto id = std::make_shared<std::string>();
    auto folder = std::make_shared<std::string>();
    CLI::App* reset = device->add_subcommand(
        "reset", "Delete a device's sync state, so its next sync starts afresh");
    reset->add_option("ID", *id, "Device ID (see corvel device list)")->required();
    reset->add_option("--folder", *folder,
                      "Only this folder (its key: -1 contacts, -2 tasks, "
                      "-3 calendar, -4 inbox, or an entry ID)");
    reset->callback([id, folder, &chosen] {
        chosen = [id, folder] {
            return RunDeviceReset(DefaultDataFolder(), *id, *folder, std::cout, std::cerr);
        };
    });
    CLI::App* remove =
        device->add_subcommand("remove", "Forget a device: its name, device file and sync state");
    remove->add_option("ID", *id, "Device ID (see corvel device list)")->required();
    remove->callback([id, &chosen] {
        chosen = [id] { return RunDeviceRemove(DefaultDataFolder(), *id, std::cout, std::cerr); };
    });
}
