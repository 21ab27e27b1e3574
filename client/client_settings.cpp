// Settings in the registry stand-in, data folder, device identifier.
#include "client/client_settings.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>

#include "client/store_identity.h"
#include "common/base/text.h"
#include "common/base/user_folder.h"
#include "platform/win/device_id.h"
#include "platform/win/registry.h"

namespace {

std::mutex gSettingsMutex;
ClientSettings gSettings;
std::string gDataFolder;
std::vector<std::string> gUnreadable;

constexpr const char* kLeadingSlashKey = "\\Software\\Norvex\\Plimsa";

}  // namespace

std::string ServerAddressProblem(const std::string& address) {
    if (address.empty()) return "the server address is empty";
    std::string server = address;
    for (const char* scheme : {"https://", "http://"}) {
        size_t length = std::strlen(scheme);
        if (server.size() >= length && strncasecmp(server.c_str(), scheme, length) == 0) {
            server = server.substr(length);
            break;
        }
    }
    size_t colon = server.rfind(':');
    std::string host = server.substr(0, colon);
    if (host.empty()) return "the server address has no host name: " + server;
    for (unsigned char c : host) {
        if (c <= ' ' || c == '/' || c == ':' || c == 127)
            return "the host name holds a blank, \"/\" or \":\": " + host;
    }
    if (colon == std::string::npos) return std::string();
    std::string port = server.substr(colon + 1);
    bool digits = !port.empty() && port.size() <= 5 &&
                  port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoul(port) < 1 || std::stoul(port) > 65535)
        return "the port is not a number from 1 to 65535: " + port;
    return std::string();
}

std::string ClientSettingsProblem(const ClientSettings& settings) {
    const std::pair<const char*, const std::string*> values[] = {
        {"server address", &settings.server},
        {"user name", &settings.username},
        {"password", &settings.password}};
    for (const auto& [what, value] : values) {
        if (Utf16Length(*value) > kMaxSettingUnits)
            return std::string("the ") + what + " is longer than " +
                   std::to_string(kMaxSettingUnits) + " characters, the most that can be read back";
    }
    if (!settings.server.empty()) return ServerAddressProblem(settings.server);
    return std::string();
}

std::vector<std::string> UnreadableClientSettings() {
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    return gUnreadable;
}

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
    std::vector<std::string> unreadable;
    const std::pair<const char*, std::string*> values[] = {{"Server", &settings.server},
                                                           {"Username", &settings.username},
                                                           {"Password", &settings.password}};
    for (const auto& [name, field] : values) {
        std::string value;
        long result = key->QueryString(name, value, kSettingsReadBytes);
        if (result == kRegOk) {
            *field = value;
        } else if (result != kRegFileNotFound) {
            unreadable.push_back(name);  // there, but too long or not a text
        }
    }
    SetClientSettings(settings);
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gUnreadable = std::move(unreadable);
    return true;
}

bool SaveClientSettings() {
    if (!ClientSettingsProblem(GetClientSettings()).empty()) return false;
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
        const std::string base = UserFolder("XDG_DOCUMENTS_DIR", "Documents");
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
    const std::string hex =
        HexEncode(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
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
        std::random_device rd;
        id.clear();
        for (size_t i = 0; i < kDeviceIdLength; ++i) id += kUpperHexDigits[rd() % 16];
    }
    return key->SetString(kDeviceIdValue, id) == kRegOk ? id : std::string();
}
