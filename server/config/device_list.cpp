// CDeviceList: loading users and devices, device lookup and creation.
#include "server/config/device_list.h"

#include <algorithm>
#include <filesystem>
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
                record->filePath = path;
            }
            loaded.push_back(std::move(record));
        }
    }
    std::lock_guard<std::recursive_mutex> lock(lock_);
    dataFolder_ = dataFolder;
    records_ = std::move(loaded);
}

std::shared_ptr<CPocketDevice> CDeviceList::FindDevice(const std::string& deviceId,
                                                       const std::string& userName,
                                                       const std::string& password) {
    if (!IsValidDeviceId(deviceId)) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return FindLocked(deviceId, userName, password);
}

std::shared_ptr<CPocketDevice> CDeviceList::FindLocked(const std::string& deviceId,
                                                       const std::string& userName,
                                                       const std::string& password) {
    for (const auto& record : records_) {
        if (!record->DeviceID.empty() && record->DeviceID == deviceId) {
            if (record->Passwort != password) return nullptr;
            return record;
        }
    }
    if (!IsValidUserName(userName)) return nullptr;
    for (const auto& record : records_) {
        if (!record->Name.empty() && record->Name == userName) {
            if (record->Passwort != password) return nullptr;
            auto device = record->MakeDevice(deviceId, dataFolder_ + "/" + deviceId + ".ifo");
            device->WriteDeviceFile();
            records_.push_back(device);
            return device;
        }
    }
    for (const std::string& probe :
         {dataFolder_ + "/" + deviceId + ".dxt", dataFolder_ + "/" + userName + ".dxt"}) {
        if (!FileExists(probe)) continue;
        auto record = std::make_shared<CPocketDevice>();
        if (!record->ReadDeviceFile(probe)) return nullptr;
        if (record->Name.empty() || record->Passwort != password) return nullptr;
        record->DeviceID = deviceId;
        record->filePath = dataFolder_ + "/" + deviceId + ".dxt";
        records_.push_back(record);
        return record;
    }
    return nullptr;
}

std::shared_ptr<CPocketDevice> CDeviceList::FindExistingDevice(const std::string& deviceId) const {
    if (deviceId.empty()) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    for (const auto& record : records_) {
        if (record->DeviceID == deviceId) return record;
    }
    return nullptr;
}

bool CDeviceList::HasCredentials(const std::string& name, const std::string& password) const {
    if (name.empty()) return false;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    for (const auto& record : records_) {
        if (!record->Name.empty() && record->Name == name && record->Passwort == password) {
            return true;
        }
    }
    return false;
}

void CDeviceList::Add(std::shared_ptr<CPocketDevice> record) {
    if (!record) return;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    records_.push_back(std::move(record));
}

bool CDeviceList::RemoveDevice(const std::string& deviceId) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if ((*it)->DeviceID == deviceId) {
            records_.erase(it);
            return true;
        }
    }
    return false;
}

bool CDeviceList::RemoveUser(const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if ((*it)->DeviceID.empty() && (*it)->Name == name) {
            records_.erase(it);
            return true;
        }
    }
    return false;
}

void CDeviceList::Clear() {
    std::vector<std::shared_ptr<CPocketDevice>> dropped;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    dropped.swap(records_);
}

std::vector<std::shared_ptr<CPocketDevice>> CDeviceList::Records() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return records_;
}

std::string CDeviceList::DataFolder() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return dataFolder_;
}
