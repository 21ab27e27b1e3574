// CDeviceList: loading users and devices, device lookup and creation.
#include "server/devices/device_list.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "server/config/live_trace.h"

namespace {

// Files of folder whose name ends with extension, in name order.
std::vector<std::string> FilesEndingWith(const std::string& folder, const std::string& extension) {
    std::vector<std::string> paths;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return paths;
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        if (name.size() > extension.size() &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0 &&
            entry.is_regular_file(error)) {
            paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

bool IsValidDeviceId(const std::string& deviceId) {
    if (deviceId.empty() || deviceId.size() > kMaxDeviceIdLength) return false;
    for (char c : deviceId) {
        bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok) return false;
    }
    return true;
}

bool IsValidUserName(const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 32 || u == 127) return false;
    }
    return true;
}

void CDeviceList::LoadAll(const std::string& dataFolder) {
    std::vector<std::shared_ptr<CPocketDevice>> loaded;
    for (const char* extension : {".dxt", ".ifo"}) {
        for (const std::string& path : FilesEndingWith(dataFolder, extension)) {
            auto record = std::make_shared<CPocketDevice>();
            if (!record->ReadDeviceFile(path)) {
                AddLiveTraceF("%s cannot be read", path.c_str());
                record->EditConfig([&](CDeviceConfig& config) { config.filePath = path; });
            }
            loaded.push_back(std::move(record));
        }
    }
    std::lock_guard<std::mutex> lock(lock_);
    dataFolder_ = dataFolder;
    records_ = std::move(loaded);
}

std::shared_ptr<CPocketDevice> CDeviceList::FindDevice(const std::string& deviceId,
                                                       const std::string& userName,
                                                       const std::string& password) {
    if (!IsValidDeviceId(deviceId)) return nullptr;
    // 1 and 2 under the lock; what reads or writes files, or logs on to a store,
    // runs outside it, so the console never waits for a disk or a store.
    std::shared_ptr<CPocketDevice> made;
    std::string dataFolder;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (auto known = FindKnownLocked(deviceId, password)) return *known;
        if (!IsValidUserName(userName)) return nullptr;
        for (const auto& record : records_) {
            std::shared_ptr<const CDeviceConfig> config = record->Config();
            if (!config->Name.empty() && config->Name == userName) {
                if (config->Passwort != password) return nullptr;
                made = record->MakeDevice(deviceId, dataFolder_ + "/" + deviceId + ".ifo");
                break;
            }
        }
        dataFolder = dataFolder_;
    }
    if (made) {
        made->WriteDeviceFile();
    } else {
        // 3. A user file of its own, read (and its profile logged on to) unlocked.
        for (const std::string& probe :
             {dataFolder + "/" + deviceId + ".dxt", dataFolder + "/" + userName + ".dxt"}) {
            if (!FileExists(probe)) continue;
            auto record = std::make_shared<CPocketDevice>();
            if (!record->ReadDeviceFile(probe)) return nullptr;
            std::shared_ptr<const CDeviceConfig> config = record->EditConfig([&](CDeviceConfig& c) {
                c.DeviceID = deviceId;
                c.filePath = dataFolder + "/" + deviceId + ".dxt";
            });
            if (config->Name.empty() || config->Passwort != password) return nullptr;
            made = std::move(record);
            break;
        }
        if (!made) return nullptr;
    }
    std::lock_guard<std::mutex> lock(lock_);
    // Another log-on of the same device may have added it meanwhile: that one counts.
    if (auto known = FindKnownLocked(deviceId, password)) return *known;
    records_.push_back(made);
    return made;
}

std::optional<std::shared_ptr<CPocketDevice>> CDeviceList::FindKnownLocked(
    const std::string& deviceId, const std::string& password) const {
    for (const auto& record : records_) {
        std::shared_ptr<const CDeviceConfig> config = record->Config();
        if (!config->DeviceID.empty() && config->DeviceID == deviceId) {
            if (config->Passwort != password) return std::shared_ptr<CPocketDevice>();
            return record;
        }
    }
    return std::nullopt;
}

std::shared_ptr<CPocketDevice> CDeviceList::FindExistingDevice(const std::string& deviceId) const {
    if (deviceId.empty()) return nullptr;
    std::lock_guard<std::mutex> lock(lock_);
    for (const auto& record : records_) {
        if (record->Config()->DeviceID == deviceId) return record;
    }
    return nullptr;
}

bool CDeviceList::HasCredentials(const std::string& name, const std::string& password) const {
    if (name.empty()) return false;
    std::lock_guard<std::mutex> lock(lock_);
    for (const auto& record : records_) {
        std::shared_ptr<const CDeviceConfig> config = record->Config();
        if (!config->Name.empty() && config->Name == name && config->Passwort == password) {
            return true;
        }
    }
    return false;
}

void CDeviceList::Add(std::shared_ptr<CPocketDevice> record) {
    if (!record) return;
    std::lock_guard<std::mutex> lock(lock_);
    records_.push_back(std::move(record));
}

bool CDeviceList::RemoveDevice(const std::string& deviceId) {
    std::lock_guard<std::mutex> lock(lock_);
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if ((*it)->Config()->DeviceID == deviceId) {
            records_.erase(it);
            return true;
        }
    }
    return false;
}

bool CDeviceList::RemoveUser(const std::string& name) {
    std::lock_guard<std::mutex> lock(lock_);
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        std::shared_ptr<const CDeviceConfig> config = (*it)->Config();
        if (config->DeviceID.empty() && config->Name == name) {
            records_.erase(it);
            return true;
        }
    }
    return false;
}

void CDeviceList::Clear() {
    std::vector<std::shared_ptr<CPocketDevice>> dropped;
    std::lock_guard<std::mutex> lock(lock_);
    dropped.swap(records_);
}

std::vector<std::shared_ptr<CPocketDevice>> CDeviceList::Records() const {
    std::lock_guard<std::mutex> lock(lock_);
    return records_;
}

std::string CDeviceList::DataFolder() const {
    std::lock_guard<std::mutex> lock(lock_);
    return dataFolder_;
}
