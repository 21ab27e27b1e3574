// Profile folders and their store lists.
#include "platform/mapi/profiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/base/atomic_file.h"
#include "common/base/text.h"
#include "platform/mapi/store_db.h"

namespace mapistore {

namespace {

constexpr const char* kListFile = "profile";
constexpr const char* kLockFile = "lock";
constexpr const char* kDefaultFile = "default-profile";
constexpr const char* kHeader = "corvel-profile 1";
constexpr const char* kDefaultStoreName = "Personal Folders";

HRESULT MakeDirs(const std::string& path) {
    std::string cur;
    std::stringstream parts(path);
    std::string part;
    if (!path.empty() && path[0] == '/') cur = "/";
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        cur += part;
        if (::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) return MAPI_E_NO_ACCESS;
        cur += "/";
    }
    return S_OK;
}

// An exclusive lock on the profile's lock file for the life of the object.
class ProfileLock {
public:
    explicit ProfileLock(const std::string& folder) {
        fd_ = ::open((folder + "/" + kLockFile).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ProfileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;
    bool ok() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

HRESULT WriteProfileFile(const std::string& path, const std::string& text) {
    FileWriteResult written = WriteFileAtomically(path, text);
    if (written) return S_OK;
    return written.failedAt == FileWriteStep::Open ? MAPI_E_NO_ACCESS : MAPI_E_DISK_ERROR;
}

HRESULT WriteList(const Profile& p) {
    std::string text = std::string(kHeader) + "\n";
    for (const StoreEntry& s : p.stores)
        text += "store " + HexEncode(s.uid) + " " + (s.isDefault ? "1" : "0") + " " + s.file + " " +
                s.displayName + "\n";
    return WriteProfileFile(p.folder + "/" + kListFile, text);
}

HRESULT ValidateStoreName(const std::string& name) {
    if (name.empty() || name.size() > kMaxStoreNameBytes) return MAPI_E_INVALID_PARAMETER;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return MAPI_E_INVALID_PARAMETER;
    return S_OK;
}

// Creates a store file in the profile folder and fills entry; the caller adds it to the list.
HRESULT NewStoreFile(const std::string& folder, const std::string& displayName, StoreEntry& entry) {
    entry.uid = StoreDb::NewRandomBytes(kUidBytes);
    entry.file = "store-" + HexEncode(entry.uid) + ".db";
    entry.displayName = displayName;
    return StoreDb::Create(folder + "/" + entry.file, entry.uid, displayName);
}

}  // namespace

std::string ProfilesRoot() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            struct passwd* pw = ::getpwuid(::getuid());
            home = pw != nullptr ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.local/share";
    }
    return base + "/MAPI/Profiles";
}

HRESULT ValidateProfileName(const std::string& name) {
    if (name.empty() || name.size() > kMaxProfileNameBytes || name == "." || name == "..")
        return MAPI_E_INVALID_PARAMETER;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return MAPI_E_INVALID_PARAMETER;
    return S_OK;
}

HRESULT ReadProfile(const std::string& name, Profile& profile) {
    HRESULT hr = ValidateProfileName(name);
    if (FAILED(hr)) return hr;
    Profile p;
    p.name = name;
    p.folder = ProfilesRoot() + "/" + name;
    std::ifstream in(p.folder + "/" + kListFile, std::ios::binary);
    if (!in) {
        struct stat st {};
        return ::stat(p.folder.c_str(), &st) == 0 ? MAPI_E_CORRUPT_DATA : MAPI_E_NOT_FOUND;
    }
    std::string line;
    if (!std::getline(in, line) || line != kHeader) return MAPI_E_CORRUPT_DATA;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string kind, uidHex, def, file;
        if (!(fields >> kind >> uidHex >> def >> file) || kind != "store")
            return MAPI_E_CORRUPT_DATA;
        StoreEntry s;
        std::optional<std::string> uid = HexDecode(uidHex);
        if (!uid || uid->size() != kUidBytes || (def != "0" && def != "1"))
            return MAPI_E_CORRUPT_DATA;
        s.uid = std::move(*uid);
        if (file.find('/') != std::string::npos || file == "." || file == "..")
            return MAPI_E_CORRUPT_DATA;
        s.isDefault = def == "1";
        s.file = file;
        std::getline(fields >> std::ws, s.displayName);
        p.stores.push_back(std::move(s));
    }
    profile = std::move(p);
    return S_OK;
}

HRESULT CreateProfileOnDisk(const std::string& name) {
    HRESULT hr = ValidateProfileName(name);
    if (FAILED(hr)) return hr;
    const std::string root = ProfilesRoot();
    if (FAILED(hr = MakeDirs(root))) return hr;
    Profile p;
    p.name = name;
    p.folder = root + "/" + name;
    if (::mkdir(p.folder.c_str(), 0700) != 0)
        return errno == EEXIST ? MAPI_E_NO_ACCESS : MAPI_E_DISK_ERROR;
    ProfileLock lock(p.folder);
    StoreEntry entry;
    if (!lock.ok() || FAILED(hr = NewStoreFile(p.folder, kDefaultStoreName, entry))) {
        std::error_code ec;
        std::filesystem::remove_all(p.folder, ec);
        return FAILED(hr) ? hr : MAPI_E_NO_ACCESS;
    }
    entry.isDefault = true;
    p.stores.push_back(entry);
    if (FAILED(hr = WriteList(p))) {
        std::error_code ec;
        std::filesystem::remove_all(p.folder, ec);
        return hr;
    }
    return S_OK;
}

HRESULT DeleteProfileOnDisk(const std::string& name) {
    HRESULT hr = ValidateProfileName(name);
    if (FAILED(hr)) return hr;
    const std::string folder = ProfilesRoot() + "/" + name;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return MAPI_E_NOT_FOUND;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return ec ? MAPI_E_DISK_ERROR : S_OK;
}

HRESULT AddStoreToProfile(const std::string& name, const std::string& displayName, bool makeDefault,
                          StoreEntry& added) {
    HRESULT hr = ValidateStoreName(displayName);
    if (FAILED(hr)) return hr;
    Profile p;
    if (FAILED(hr = ReadProfile(name, p))) return hr;
    ProfileLock lock(p.folder);
    if (!lock.ok()) return MAPI_E_NO_ACCESS;
    if (FAILED(hr = ReadProfile(name, p))) return hr;  // as it stands under the lock
    StoreEntry entry;
    if (FAILED(hr = NewStoreFile(p.folder, displayName, entry))) return hr;
    if (makeDefault)
        for (StoreEntry& s : p.stores) s.isDefault = false;
    entry.isDefault = makeDefault || p.stores.empty();
    p.stores.push_back(entry);
    if (FAILED(hr = WriteList(p))) {
        ::unlink((p.folder + "/" + entry.file).c_str());
        return hr;
    }
    added = entry;
    return S_OK;
}

HRESULT ListProfiles(std::vector<std::string>& names, std::string& defaultName) {
    names.clear();
    defaultName.clear();
    const std::string root = ProfilesRoot();
    DIR* dir = ::opendir(root.c_str());
    if (dir == nullptr) return errno == ENOENT ? S_OK : MAPI_E_NO_ACCESS;
    while (dirent* e = ::readdir(dir)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || FAILED(ValidateProfileName(n))) continue;
        struct stat st {};
        if (::stat((root + "/" + n + "/" + kListFile).c_str(), &st) == 0) names.push_back(n);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    std::ifstream in(root + "/" + kDefaultFile);
    std::string chosen;
    if (in && std::getline(in, chosen) &&
        std::find(names.begin(), names.end(), chosen) != names.end()) {
        defaultName = chosen;
    } else if (std::find(names.begin(), names.end(), "Default") != names.end()) {
        defaultName = "Default";
    } else if (!names.empty()) {
        defaultName = names.front();
    }
    return S_OK;
}

HRESULT SetDefaultProfileName(const std::string& name) {
    Profile p;
    HRESULT hr = ReadProfile(name, p);
    if (FAILED(hr)) return hr;
    return WriteProfileFile(ProfilesRoot() + "/" + kDefaultFile, name + "\n");
}

}  // namespace mapistore
