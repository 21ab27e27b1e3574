// Profiles on disk: $XDG_DATA_HOME/MAPI/Profiles/<name>/ holds "profile" (the list
// of stores) and the store databases. The list is rewritten whole through a
// temporary file and a rename, under an exclusive lock on "lock" in the profile
// folder, so readers never see half a list.
//
// "profile" format, one record per line:
//   corvel-profile 1
//   store <uid, 32 hex digits> <1 default | 0> <file name> <display name to line end>
#pragma once

#include <string>
#include <vector>

#include "platform/mapi/mapi_codes.h"

namespace mapistore {

struct StoreEntry {
    std::string uid;  // 16 bytes
    bool isDefault = false;
    std::string file;  // name inside the profile folder
    std::string displayName;
};

struct Profile {
    std::string name;
    std::string folder;
    std::vector<StoreEntry> stores;
};

constexpr std::size_t kMaxProfileNameBytes = 64;
constexpr std::size_t kMaxStoreNameBytes = 256;

std::string ProfilesRoot();
// MAPI_E_INVALID_PARAMETER for a name that cannot be a profile folder.
HRESULT ValidateProfileName(const std::string& name);
// MAPI_E_NOT_FOUND when the profile does not exist; MAPI_E_CORRUPT_DATA when its list
// cannot be read.
HRESULT ReadProfile(const std::string& name, Profile& profile);
// Creates the folder and its default store "Personal Folders".
HRESULT CreateProfileOnDisk(const std::string& name);
HRESULT DeleteProfileOnDisk(const std::string& name);
// Adds a store (a new database with the default folders) to an existing profile.
HRESULT AddStoreToProfile(const std::string& name, const std::string& displayName, bool makeDefault,
                          StoreEntry& added);
// Profile names in byte order, and the default one ("" when there is none).
HRESULT ListProfiles(std::vector<std::string>& names, std::string& defaultName);
HRESULT SetDefaultProfileName(const std::string& name);

}  // namespace mapistore
