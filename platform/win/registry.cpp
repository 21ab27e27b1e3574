// The registry stand-in: parse the whole file, act, write it back atomically.
#include "platform/win/registry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "common/base/atomic_file.h"
#include "common/base/escape.h"
#include "common/base/text.h"
#include "common/base/user_folder.h"

namespace {

std::mutex gRegistryMutex;

struct Value {
    std::string name;  // spelling as set
    bool bytes = false;
    std::string data;  // text, or raw bytes
};

struct Key {
    std::string name;  // full spelling of the first creator, with root prefix
    std::vector<Value> values;
};

using Hive = std::map<std::string, Key>;  // lower-case full path -> key

const char* RootName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? "HKCU" : "HKLM";
}

// Checks the path; kRegOk when every component is a non-empty name of bounded size.
long CheckPath(std::string_view path) {
    if (path.empty()) return kRegBadPathname;
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        size_t len = (end == std::string_view::npos ? path.size() : end) - start;
        if (len == 0 || len > kRegMaxNameLength) return kRegBadPathname;
        if (end == std::string_view::npos) return kRegOk;
        start = end + 1;
    }
}

std::string FullName(RegistryRoot root, std::string_view path) {
    return std::string(RootName(root)) + "\\" + std::string(path);
}

std::string Escape(std::string_view text) { return BackslashEscape(text, "="); }

// Unescapes up to an unescaped "=" when stopAtEquals; returns the position after it.
size_t Unescape(std::string_view text, size_t pos, bool stopAtEquals, std::string& out) {
    while (pos < text.size()) {
        char c = text[pos];
        if (c == '=' && stopAtEquals) return pos + 1;
        if (c == '\\' && pos + 1 < text.size()) {
            char n = text[pos + 1];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
            pos += 2;
            continue;
        }
        out += c;
        ++pos;
    }
    return stopAtEquals ? std::string_view::npos : pos;
}

Hive ReadHive() {
    Hive hive;
    std::ifstream in(RegistryFilePath(), std::ios::binary);
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            std::string name = line.substr(1, line.size() - 2);
            Key& key = hive[AsciiLowerCopy(name)];
            if (key.name.empty()) key.name = name;
            current = &key;
            continue;
        }
        if (!current || line.size() < 2 || line[1] != ':' || (line[0] != 'S' && line[0] != 'B')) {
            continue;
        }
        Value value;
        value.bytes = line[0] == 'B';
        size_t pos = Unescape(line, 2, true, value.name);
        if (pos == std::string_view::npos || value.name.empty()) continue;
        if (value.bytes) {
            std::optional<std::string> data = HexDecode(std::string_view(line).substr(pos));
            if (!data) continue;
            value.data = std::move(*data);
        } else {
            Unescape(line, pos, false, value.data);
        }
        current->values.push_back(std::move(value));
    }
    return hive;
}

bool WriteHive(const Hive& hive) {
    std::string path = RegistryFilePath();
    std::error_code ec;
    // The file holds passwords in plain text: owner-only folder and file.
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (std::filesystem::create_directories(folder, ec)) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    }
    std::ostringstream out;
    for (const auto& [lower, key] : hive) {
        out << '[' << key.name << "]\n";
        for (const Value& v : key.values) {
            out << (v.bytes ? "B:" : "S:") << Escape(v.name) << '=';
            if (v.bytes) {
                out << HexEncode(v.data);
            } else {
                out << Escape(v.data);
            }
            out << '\n';
        }
    }
    AtomicWriteOptions options;
    options.temporaryPerProcess = true;
    return static_cast<bool>(WriteFileAtomically(path, out.str(), options));
}

Value* FindValue(Key& key, std::string_view name) {
    std::string lower = AsciiLowerCopy(name);
    for (Value& v : key.values) {
        if (AsciiLowerCopy(v.name) == lower) return &v;
    }
    return nullptr;
}

// The value name of the key root\path; null when the key or the value is missing.
Value* FindValue(Hive& hive, RegistryRoot root, const std::string& path, std::string_view name) {
    auto it = hive.find(AsciiLowerCopy(FullName(root, path)));
    return it == hive.end() ? nullptr : FindValue(it->second, name);
}

}  // namespace

std::string RegistryFilePath() {
    return UserFolder("XDG_CONFIG_HOME", ".config") + "/WinRegistry/registry.txt";
}

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (i + len > utf8.size()) len = 1;
        units += len == 4 ? 2 : 1;
        i += len;
    }
    return units;
}

long RegistryKey::Open(RegistryRoot root, std::string_view path, std::optional<RegistryKey>& key) {
    key.reset();
    long check = CheckPath(path);
    if (check != kRegOk) return check;
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    Hive hive = ReadHive();
    if (hive.find(AsciiLowerCopy(FullName(root, path))) == hive.end()) return kRegFileNotFound;
    key = RegistryKey(root, std::string(path));
    return kRegOk;
}

long RegistryKey::Create(RegistryRoot root, std::string_view path,
                         std::optional<RegistryKey>& key) {
    key.reset();
    long check = CheckPath(path);
    if (check != kRegOk) return check;
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    Hive hive = ReadHive();
    bool changed = false;
    // Create every missing parent as well, so the file lists the whole tree.
    for (size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
        std::string_view part = path.substr(0, end);
        std::string full = FullName(root, part);
        Key& k = hive[AsciiLowerCopy(full)];
        if (k.name.empty()) {
            k.name = full;
            changed = true;
        }
        if (end == std::string_view::npos) break;
    }
    if (changed && !WriteHive(hive)) return kRegWriteFault;
    key = RegistryKey(root, std::string(path));
    return kRegOk;
}

long RegistryKey::QueryString(std::string_view name, std::string& value, size_t maxBytes) const {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    Hive hive = ReadHive();
    const Value* v = FindValue(hive, root_, path_, name);
    if (!v) return kRegFileNotFound;
    if (v->bytes) return kRegInvalidData;
    if (Utf16Length(v->data) * 2 + 2 > maxBytes) return kRegMoreData;
    value = v->data;
    return kRegOk;
}

long RegistryKey::QueryBytes(std::string_view name, std::vector<uint8_t>& value) const {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    Hive hive = ReadHive();
    const Value* v = FindValue(hive, root_, path_, name);
    if (!v) return kRegFileNotFound;
    if (!v->bytes) return kRegInvalidData;
    value.assign(v->data.begin(), v->data.end());
    return kRegOk;
}

namespace {
long SetValue(RegistryRoot root, const std::string& path, std::string_view name, bool bytes,
              std::string data) {
    if (name.empty() || name.size() > kRegMaxNameLength || data.size() > kRegMaxValueBytes) {
        return kRegInvalidData;
    }
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    Hive hive = ReadHive();
    auto it = hive.find(AsciiLowerCopy(FullName(root, path)));
    if (it == hive.end()) return kRegFileNotFound;
    Value* v = FindValue(it->second, name);
    if (!v) {
        it->second.values.push_back(Value{std::string(name), bytes, {}});
        v = &it->second.values.back();
    }
    v->bytes = bytes;
    v->data = std::move(data);
    return WriteHive(hive) ? kRegOk : kRegWriteFault;
}
}  // namespace

long RegistryKey::SetString(std::string_view name, std::string_view value) {
    return SetValue(root_, path_, name, false, std::string(value));
}

long RegistryKey::SetBytes(std::string_view name, const std::vector<uint8_t>& value) {
    return SetValue(root_, path_, name, true, std::string(value.begin(), value.end()));
}

long RegistryKey::DeleteValue(std::string_view name) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    Hive hive = ReadHive();
    auto it = hive.find(AsciiLowerCopy(FullName(root_, path_)));
    if (it == hive.end()) return kRegFileNotFound;
    std::string lower = AsciiLowerCopy(name);
    auto& values = it->second.values;
    for (auto v = values.begin(); v != values.end(); ++v) {
        if (AsciiLowerCopy(v->name) == lower) {
            values.erase(v);
            return WriteHive(hive) ? kRegOk : kRegWriteFault;
        }
    }
    return kRegFileNotFound;
}
