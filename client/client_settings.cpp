// Settings in the registry stand-in, data folder, device identifier.
#include "client/client_settings.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>

#include "client/store_identity.h"
#include "platform/win/device_id.h"
#include "platform/win/registry.h"

namespace {

std::mutex gSettingsMutex;
ClientSettings gSettings;
std::string gDataFolder;

constexpr const char* kLeadingSlashKey = "\\Software\\Norvex\\Plimsa";

}  // namespace

ClientSettings GetClientSettings() {
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    return gSettings;
}

void SetClientSettings(const ClientSettings& settings) {
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gSettings = settings;
}

bool LoadClientSettings() {
    std::optional<RegistryKey> key;
    if (RegistryKey::Open(RegistryRoot::CurrentUser, kLeadingSlashKey, key) != kRegOk &&
        RegistryKey::Open(RegistryRoot::CurrentUser, kSettingsKey, key) != kRegOk) {
        return false;
    }
    ClientSettings settings = GetClientSettings();
    std::string value;
    if (key->QueryString("Server", value, kSettingsReadBytes) == kRegOk) settings.server = value;
    if (key->QueryString("Username", value, kSettingsReadBytes) == kRegOk)
        settings.username = value;
    if (key->QueryString("Password", value, kSettingsReadBytes) == kRegOk)
        settings.password = value;
    SetClientSettings(settings);
    return true;
}

bool SaveClientSettings() {
    std::optional<RegistryKey> key;
    if (RegistryKey::Create(RegistryRoot::CurrentUser, kSettingsKey, key) != kRegOk &&
        RegistryKey::Create(RegistryRoot::CurrentUser, kLeadingSlashKey, key) != kRegOk &&
        RegistryKey::Open(RegistryRoot::CurrentUser, kLeadingSlashKey, key) != kRegOk &&
        RegistryKey::Open(RegistryRoot::CurrentUser, kSettingsKey, key) != kRegOk) {
        return false;
    }
    ClientSettings settings = GetClientSettings();
    bool ok = key->SetString("Server", settings.server) == kRegOk;
    ok = key->SetString("Username", settings.username) == kRegOk && ok;
    ok = key->SetString("Password", settings.password) == kRegOk && ok;
    return ok;
}

std::string GetDataFolder() {
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    if (gDataFolder.empty()) {
        const char* docs = std::getenv("XDG_DOCUMENTS_DIR");
        std::string base;
        if (docs && *docs) {
            base = docs;
        } else {
            const char* home = std::getenv("HOME");
            base = std::string(home && *home ? home : ".") + "/Documents";
        }
        std::error_code ec;
        std::filesystem::create_directories(base, ec);
        std::string folder = base + "/Norvex";
        std::filesystem::create_directory(folder, ec);
        folder += "/VantroMobile";
        // The state files name the user's items: owner-only.
        if (std::filesystem::create_directory(folder, ec)) {
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
        }
        gDataFolder = folder;
    }
    return gDataFolder;
}

void ResetDataFolderForTesting() {
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gDataFolder.clear();
}

std::string DeviceIdFromBlock(const std::vector<uint8_t>& block) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(block.size() * 2);
    for (uint8_t b : block) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    auto part = [&hex](size_t from, size_t count) {
        return from < hex.size() ? hex.substr(from, count) : std::string();
    };
    return part(40, 2) + part(45, 9) + part(70, 6);
}

namespace {

// What the server accepts as a device ID: 1 to 64 of [A-Za-z0-9-].
bool UsableDeviceId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id) {
        bool ok =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
        if (!ok) return false;
    }
    return true;
}

// True when the data folder holds state files of an earlier version, which logged
// on with the identifier taken from the machine.
bool HasEarlierStateFiles() {
    std::error_code ec;
    for (const std::string& name : StoreStateFileNames()) {
        if (std::filesystem::exists(GetDataFolder() + "/" + name, ec)) return true;
    }
    return false;
}

std::mutex gDeviceIdMutex;

}  // namespace

std::string GetDeviceId() {
    std::lock_guard<std::mutex> lock(gDeviceIdMutex);
    std::optional<RegistryKey> key;
    if (RegistryKey::Create(RegistryRoot::CurrentUser, kSettingsKey, key) != kRegOk) return "";
    std::string id;
    if (key->QueryString(kDeviceIdValue, id, kSettingsReadBytes) == kRegOk && UsableDeviceId(id))
        return id;
    id.clear();
    // An installation that synced before this version logged on with the machine's
    // identifier; the server knows it by that one, so it stays.
    std::vector<uint8_t> block;
    if (HasEarlierStateFiles() && GetDeviceIdBlock(block, 4096)) id = DeviceIdFromBlock(block);
    if (id.size() != kDeviceIdLength) {
        static const char kHex[] = "0123456789ABCDEF";
        std::random_device rd;
        id.clear();
        for (size_t i = 0; i < kDeviceIdLength; ++i) id += kHex[rd() % 16];
    }
    return key->SetString(kDeviceIdValue, id) == kRegOk ? id : std::string();
}
