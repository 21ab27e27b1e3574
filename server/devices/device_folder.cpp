// The files of one device.
#include "server/devices/device_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "server/devices/device_list.h"

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::string DeviceLastAccess(const std::string& dataFolder, const std::string& deviceId) {
    if (!IsValidDeviceId(deviceId)) return std::string();
    std::string folder = dataFolder + "/" + deviceId;
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) return std::string();
    time_t latest = 0;
    bool found = false;
    while (dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".csv") != 0) continue;
        struct stat info {};
        if (stat((folder + "/" + name).c_str(), &info) != 0) continue;
        if (!found || info.st_mtime > latest) latest = info.st_mtime;
        found = true;
    }
    if (!found) return std::string();
    struct tm utc {};
    gmtime_r(&latest, &utc);
    char text[64];  // "dd.mm.yyyy hh:mm", room for any int
    std::snprintf(text, sizeof(text), "%02d.%02d.%04d %02d:%02d", utc.tm_mday, utc.tm_mon + 1,
                  utc.tm_year + 1900, utc.tm_hour, utc.tm_min);
    return text;
}

bool DeleteDeviceFiles(const std::string& dataFolder, const std::string& deviceId) {
    if (!IsValidDeviceId(deviceId)) return false;
    unlink((dataFolder + "/" + deviceId + ".ifo").c_str());
    std::string folder = dataFolder + "/" + deviceId;
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) return true;
    while (dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.') continue;
        std::string path = folder + "/" + entry->d_name;
        struct stat info {};
        // Only files: sub-folders stay, a link is removed itself, never its target.
        if (lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
        unlink(path.c_str());
    }
    return true;
}

bool ApplyDeviceReset(const std::string& dataFolder, CDeviceList& devices,
                      const std::string& deviceId) {
    if (!DeleteDeviceFiles(dataFolder, deviceId)) return false;
    if (auto record = devices.FindExistingDevice(deviceId)) record->syncState.clear();
    return true;
}
