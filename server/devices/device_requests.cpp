// Requests of "corvel device" to the running server.
#include "server/devices/device_requests.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "common/base/atomic_file.h"
#include "server/config/data_folder.h"
#include "server/config/live_trace.h"
#include "server/config/settings.h"
#include "server/config/text_file.h"
#include "server/devices/device_folder.h"
#include "server/devices/device_list.h"

namespace {

std::string RequestFolder(const std::string& dataFolder) {
    return dataFolder + "/" + kDeviceRequestFolder;
}

}  // namespace

bool IsFolderKey(const std::string& key) {
    if (key.size() == 2 && key[0] == '-' && key[1] >= '1' && key[1] <= '8') return true;
    return !key.empty() && key.size() <= 512 &&
           key.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

int DeleteFolderStateFiles(const std::string& dataFolder, const std::string& deviceId,
                           const std::string& key) {
    if (!IsValidDeviceId(deviceId) || !IsFolderKey(key)) return 0;
    std::string folder = dataFolder + "/" + deviceId;
    int deleted = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        bool own = name == key + ".csv" || name == key + ".map" || name == key + ".map-dirty" ||
                   (name.rfind(key + "_temp", 0) == 0 && name.size() > 4 &&
                    name.compare(name.size() - 4, 4, ".csv") == 0);
        if (own && entry.is_regular_file(error) && unlink(entry.path().c_str()) == 0) ++deleted;
    }
    return deleted;
}

void CarryOutDeviceRequest(Settings& settings, CDeviceList& devices,
                           const CDeviceRequest& request) {
    const std::string& id = request.deviceId;
    if (!IsValidDeviceId(id)) return;
    if (request.kind == CDeviceRequest::Kind::kRemove) {
        settings.RemoveDeviceName(id);
        settings.SaveSettings();
    }
    if (request.folderKey.empty()) {
        DeleteDeviceFiles(settings.DataFolder(), id);
    } else {
        DeleteFolderStateFiles(settings.DataFolder(), id, request.folderKey);
    }
    // The next sync compares against the files as they are now, not an old baseline.
    if (auto record = devices.FindExistingDevice(id)) record->syncState.clear();
    if (request.kind == CDeviceRequest::Kind::kRemove) {
        AddLiveTraceF("Device %s removed (corvel device remove)", id.c_str());
    } else if (request.folderKey.empty()) {
        AddLiveTraceF("Device %s reset (corvel device reset)", id.c_str());
    } else {
        AddLiveTraceF("Device %s: folder %s reset (corvel device reset)", id.c_str(),
                      request.folderKey.c_str());
    }
}

std::string FormatDeviceRequest(const CDeviceRequest& request) {
    if (request.kind == CDeviceRequest::Kind::kRemove) return "remove";
    return request.folderKey.empty() ? "reset" : "reset " + request.folderKey;
}

bool ParseDeviceRequest(const std::string& deviceId, const std::string& line,
                        CDeviceRequest& request) {
    if (!IsValidDeviceId(deviceId)) return false;
    std::string text(StripLineEnd(line));
    CDeviceRequest parsed;
    parsed.deviceId = deviceId;
    if (text == "remove") {
        parsed.kind = CDeviceRequest::Kind::kRemove;
    } else if (text == "reset") {
        parsed.kind = CDeviceRequest::Kind::kReset;
    } else if (text.rfind("reset ", 0) == 0 && IsFolderKey(text.substr(6))) {
        parsed.kind = CDeviceRequest::Kind::kReset;
        parsed.folderKey = text.substr(6);
    } else {
        return false;
    }
    request = parsed;
    return true;
}

bool WriteDeviceRequest(const std::string& dataFolder, const CDeviceRequest& request,
                        std::string& error) {
    if (!IsValidDeviceId(request.deviceId)) {
        error = "\"" + request.deviceId + "\" is not a device ID";
        return false;
    }
    if (!CreateDataFolder(RequestFolder(dataFolder))) {
        error = RequestFolder(dataFolder) + " cannot be created";
        return false;
    }
    return WriteFileAtomically(RequestFolder(dataFolder) + "/" + request.deviceId,
                               FormatDeviceRequest(request) + "\n", error);
}

int TakeDeviceRequests(const std::string& dataFolder,
                       const std::function<void(const CDeviceRequest&)>& carryOut) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(RequestFolder(dataFolder), error)) {
        std::string name = entry.path().filename().string();
        if (IsValidDeviceId(name)) names.push_back(name);  // not .tmp, .taken or others
    }
    int done = 0;
    for (const std::string& name : names) {
        std::string path = RequestFolder(dataFolder) + "/" + name;
        // Taken first: a withdrawal from now on finds nothing, so it is carried out once.
        std::string taken = path + ".taken";
        if (std::rename(path.c_str(), taken.c_str()) != 0) continue;
        std::string line;
        {
            CLineReader reader(taken);
            if (reader.IsOpen()) reader.Next(line);
        }
        CDeviceRequest request;
        if (ParseDeviceRequest(name, line, request)) {
            carryOut(request);
            ++done;
        }
        unlink(taken.c_str());
    }
    return done;
}

CRequestWait WaitForDeviceRequest(const std::string& dataFolder, const std::string& deviceId,
                                  std::chrono::milliseconds timeout) {
    std::string path = RequestFolder(dataFolder) + "/" + deviceId;
    std::string taken = path + ".taken";
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool waiting = access(path.c_str(), F_OK) == 0;
        bool running = access(taken.c_str(), F_OK) == 0;
        if (!waiting && !running) return CRequestWait::kDone;
        if (std::chrono::steady_clock::now() >= deadline) {
            // Withdrawn, unless the server took it just now.
            if (waiting && unlink(path.c_str()) == 0) return CRequestWait::kWithdrawn;
            return CRequestWait::kStillRunning;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
