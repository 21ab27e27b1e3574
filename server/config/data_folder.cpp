// The data folder and the program folder.
#include "server/config/data_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return "/tmp";
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string DefaultDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base =
        (xdg != nullptr && xdg[0] == '/') ? std::string(xdg) : HomeFolder() + "/.local/share";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/Norvex/Corvel";
}

bool CreateDataFolder(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    // Walk down from the root, creating what is missing.
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string level = path.substr(0, slash);
        if (!level.empty() && level.back() != '/' && !IsFolder(level)) {
            if (mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
        if (slash == std::string::npos) break;
    }
    if (!IsFolder(path)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

std::string ProgramFolder() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::string();
    return exe.parent_path().string();
}
