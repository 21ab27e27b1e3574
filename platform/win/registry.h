// The device registry, kept in one text file under $XDG_CONFIG_HOME.
//
// Keys live under two roots (the current user's hive and the machine's hive) and are
// paths of names joined by "\"; names are compared ignoring case, as the real
// registry does, and keep the spelling they were created with. A path with an empty
// component (a leading, trailing or doubled "\") names no key: opening or creating it
// fails, so callers that try "\Software\..." and then "Software\..." fall back as they
// would on a desktop system. Values are strings or byte blocks.
//
// File: $XDG_CONFIG_HOME/WinRegistry/registry.txt (default ~/.config), written whole
// to a temporary file and renamed over the old one after every change, so a crash
// leaves either the old or the new content. Lines:
//   [HKCU\Software\Norvex\Plimsa]      a key
//   S:Server=desk.example              a string value (\\, \n, \r and \= escaped)
//   B:Block=0A1B                       a byte value in hexadecimal
// A line that is none of these is skipped; a value before the first key is skipped.
//
// Thread-safety: every operation re-reads the file and is serialised by one
// process-wide mutex, so keys may be used from several threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class RegistryRoot { CurrentUser, LocalMachine };

// Result codes of the registry calls (the platform's error numbers).
constexpr long kRegOk = 0;
constexpr long kRegFileNotFound = 2;   // no such key or value
constexpr long kRegBadPathname = 161;  // empty path component
constexpr long kRegMoreData = 234;     // value does not fit the caller's buffer
constexpr long kRegWriteFault = 29;    // the registry file could not be written
constexpr long kRegInvalidData = 13;   // value has another type

// Largest accepted value and key-name sizes; larger values are refused when set.
constexpr size_t kRegMaxValueBytes = 1 << 20;
constexpr size_t kRegMaxNameLength = 255;

// Full path of the registry file for the current environment.
std::string RegistryFilePath();

class RegistryKey {
public:
    // Opens an existing key. kRegOk and the key, kRegFileNotFound when it does not
    // exist, kRegBadPathname for a path with an empty component or an overlong name.
    static long Open(RegistryRoot root, std::string_view path, std::optional<RegistryKey>& key);
    // Opens the key, creating it and its parents when missing (kRegWriteFault when the
    // file cannot be written; kRegBadPathname as Open).
    static long Create(RegistryRoot root, std::string_view path, std::optional<RegistryKey>& key);

    // Reads a string value. maxBytes is the caller's buffer in the platform's terms:
    // the value's UTF-16 length times two plus a terminating zero must fit, otherwise
    // kRegMoreData and value is unchanged. kRegFileNotFound when the value or the key
    // is gone; kRegInvalidData when the value holds bytes.
    long QueryString(std::string_view name, std::string& value, size_t maxBytes) const;
    long SetString(std::string_view name, std::string_view value);
    long QueryBytes(std::string_view name, std::vector<uint8_t>& value) const;
    long SetBytes(std::string_view name, const std::vector<uint8_t>& value);
    long DeleteValue(std::string_view name);

    const std::string& Path() const { return path_; }

private:
    RegistryKey(RegistryRoot root, std::string path) : root_(root), path_(std::move(path)) {}
    RegistryRoot root_;
    std::string path_;  // as given by the opener
};

// Number of UTF-16 code units of a UTF-8 text (invalid bytes count one unit each).
size_t Utf16Length(std::string_view utf8);
