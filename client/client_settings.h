// Skiff's settings, data folder and device identifier.
//
// The three settings live in the registry key "Software\Norvex\Plimsa" of the current
// user (values "Server", "Username", "Password", plain text). The state files live in
// $XDG_DOCUMENTS_DIR/Norvex/VantroMobile (default ~/Documents/Norvex/VantroMobile).
//
// Thread-safety: the process-wide settings are guarded by a mutex; readers take a copy
// (a sync run copies them once at its start, so the options dialog may change them
// meanwhile without tearing a run's values). All functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ClientSettings {
    std::string server;  // [https://]host name or address, optionally ":port"
    std::string username;
    std::string password;
};

constexpr const char* kSettingsKey = "Software\\Norvex\\Plimsa";
// Buffer of a settings read in the platform's terms (bytes of UTF-16 with terminator).
constexpr size_t kSettingsReadBytes = 512;

// The longest text a setting can hold and still be read back through the read
// buffer (UTF-16 units, the terminating zero not counted): 255.
constexpr size_t kMaxSettingUnits = kSettingsReadBytes / 2 - 1;

// Why a server address cannot be used, or the empty text: an address is a host
// name or dotted address (no blanks, no "/"), optionally followed by ":" and a
// port from 1 to 65535, optionally after "https://" (the sync goes over TLS) or
// "http://".
std::string ServerAddressProblem(const std::string& server);
// Why the settings cannot be saved, or the empty text: a value longer than
// kMaxSettingUnits would be written but never read back, and a server address that
// ServerAddressProblem refuses (an empty address is allowed: not configured).
std::string ClientSettingsProblem(const ClientSettings& settings);
// The names of the values the last LoadClientSettings found but could not read
// ("Password": longer than the read buffer, or not a text), in the order read.
std::vector<std::string> UnreadableClientSettings();

// A copy of the process-wide settings / replaces them (in memory only).
ClientSettings GetClientSettings();
void SetClientSettings(const ClientSettings& settings);

// Reads the three values from "\Software\Norvex\Plimsa", falling back to the key
// without the leading backslash; when neither opens, the values stay as they were.
// A value that cannot be read (missing, too long for the buffer) keeps its previous
// value. True when a key was opened.
bool LoadClientSettings();
// Writes the three values: creates "Software\Norvex\Plimsa", then tries the name
// with a leading backslash, then opens either; false when no key could be had or a
// value could not be written. Settings that ClientSettingsProblem refuses are not
// written at all (false).
bool SaveClientSettings();

// The folder for the state files, created when missing (creation errors are
// ignored), cached after the first call.
std::string GetDataFolder();
// Forgets the cached folder, so the next call reads the environment again (tests).
void ResetDataFolderForTesting();

constexpr const char* kDeviceIdValue = "DeviceId";
constexpr size_t kDeviceIdLength = 17;

// The ID this handheld logs on with: the value "DeviceId" of the settings key,
// kept with the handheld's other settings. When there is none (or it is no usable
// ID: 1 to 64 of [A-Za-z0-9-]), one is made once and kept there: 17 random
// upper-case hexadecimal digits, so two installations on one machine (two homes)
// are two devices; an installation whose data folder holds state files of an
// earlier version keeps the ID it logged on with, DeviceIdFromBlock of the
// platform's identifier block. The empty text only when nothing can be kept.
std::string GetDeviceId();
// 17 upper-case hexadecimal characters from the platform's identifier block:
// characters 40-41, 45-53 and 70-75 of the block written as hexadecimal (pure); a
// block shorter than 38 bytes yields the characters that exist at those positions.
std::string DeviceIdFromBlock(const std::vector<uint8_t>& block);
