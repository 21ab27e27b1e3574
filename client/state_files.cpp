// Snapshot and id-map files.
#include "client/state_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "common/base/atomic_file.h"

namespace {

void PutU32(std::ofstream& out, uint32_t v) {
    char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                 static_cast<char>(v >> 24)};
    out.write(b, 4);
}

bool GetU32(std::ifstream& in, uint32_t& v) {
    unsigned char b[4];
    if (!in.read(reinterpret_cast<char*>(b), 4)) return false;
    v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

// The client's files: ordinary modes, and a temporary per process, since two
// runs of the client may replace the same file.
AtomicWriteOptions ClientFile() {
    AtomicWriteOptions options;
    options.ownerOnly = false;
    options.temporaryPerProcess = true;
    return options;
}

std::string TempName(const std::string& path) { return TemporaryPathFor(path, ClientFile()); }

bool PutInPlace(const std::string& temp, const std::string& path) {
    std::string error;
    return ReplaceWithTemporary(temp, path, error);
}

}  // namespace

bool SnapshotReader::Open(const std::string& path) {
    file_.close();
    records_ = 0;
    file_.open(path, std::ios::binary);
    return file_.is_open();
}

SnapshotReader::Result SnapshotReader::Next(uint32_t& oid, std::string& data) {
    uint32_t length = 0;
    if (!file_.is_open() || !GetU32(file_, oid) || !GetU32(file_, length) ||
        (oid == 0 && length == 0) || length > kMaxSnapshotRecord) {
        file_.close();
        return kEnd;
    }
    data.resize(length);
    if (length > 0 && !file_.read(data.data(), length)) {
        file_.close();
        return kEnd;
    }
    ++records_;
    return kRecord;
}

SnapshotWriter::~SnapshotWriter() {
    if (file_.is_open()) {
        file_.close();
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
    }
}

bool SnapshotWriter::Open(const std::string& path) {
    path_ = path;
    temp_ = TempName(path);
    file_.open(temp_, std::ios::binary | std::ios::trunc);
    return file_.is_open();
}

void SnapshotWriter::Add(uint32_t oid, const char* data, size_t length) {
    PutU32(file_, oid);
    PutU32(file_, static_cast<uint32_t>(length));
    file_.write(data, static_cast<std::streamsize>(length));
}

bool SnapshotWriter::Finish() {
    if (!file_.is_open()) return false;
    PutU32(file_, 0);
    PutU32(file_, 0);
    file_.flush();
    bool ok = static_cast<bool>(file_);
    file_.close();
    if (!ok) {
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
        return false;
    }
    return PutInPlace(temp_, path_);
}

bool WriteIdMap(const std::string& path, const IdMap& map) {
    std::string text;
    for (const auto& [server, client] : map) text += server + "=" + client + "\n";
    return static_cast<bool>(WriteFileAtomically(path, text, ClientFile()));
}

bool ReadIdMap(const std::string& path, IdMap& map) {
    map.clear();
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        map[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return true;
}

bool AppendIdMapEntry(const std::string& path, const std::string& serverId,
                      const std::string& clientId) {
    std::string line = serverId + "=" + clientId + "\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
    return written == static_cast<ssize_t>(line.size());
}

bool WriteLineFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (line.empty() || line.find_first_of("\r\n") != std::string::npos) continue;
        text += line + "\n";
    }
    std::error_code ec;
    if (text.empty()) {
        std::filesystem::remove(path, ec);
        return !ec;
    }
    return static_cast<bool>(WriteFileAtomically(path, text, ClientFile()));
}

std::vector<std::string> ReadLineFile(const std::string& path) {
    std::vector<std::string> acks;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) acks.push_back(line);
    }
    return acks;
}
