// State files of the device folders: parsing, formatting, atomic writing.
#include "server/syncstate/contents_table_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "common/base/text.h"
#include "common/base/utf.h"
#include "server/config/data_folder.h"
#include "server/config/text_file.h"

namespace {

// Fields of a line split at ";"; runs of ";" give no empty fields.
std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t position = 0;
    while (position < line.size()) {
        size_t end = line.find(';', position);
        if (end == std::string_view::npos) end = line.size();
        if (end > position) fields.push_back(line.substr(position, end - position));
        position = end + 1;
    }
    return fields;
}

// A decimal number as the C library's atoi reads it (leading blanks, a sign,
// digits up to the first other character), kept to 32 bits; 0 when none.
std::int32_t ParseDecimal(std::string_view text) {
    size_t position = 0;
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) ++position;
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        negative = text[position] == '-';
        ++position;
    }
    std::uint64_t value = 0;
    const char* first = text.data() + position;
    const char* last = text.data() + text.size();
    auto [stop, error] = std::from_chars(first, last, value);
    if (error != std::errc() || stop == first) return 0;
    // Wrap to 32 bits: the halves of a time were written as signed 32-bit numbers.
    std::uint32_t low = static_cast<std::uint32_t>(value);
    if (negative) low = 0u - low;
    return static_cast<std::int32_t>(low);
}

std::string ParentFolder(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

size_t ParseStateFile(std::string_view content, CBaseline& baseline) {
    baseline.clear();
    bool inRows = false;
    size_t taken = 0;
    std::string_view rest = content;
    while (!rest.empty()) {
        std::string_view line = TakeLine(rest);
        if (line.size() > kMaxStateLineLength) continue;
        line = StripLineEnd(line);
        if (!inRows) {
            inRows = line == kStateFileHeader;
            continue;
        }
        std::vector<std::string_view> fields = SplitFields(line);
        if (fields.empty()) continue;
        CBaselineRow row;
        row.key = std::string(fields[0]);
        if (fields.size() > 1) row.modLow = ParseDecimal(fields[1]);
        if (fields.size() > 2) row.modHigh = ParseDecimal(fields[2]);
        if (fields.size() > 3) row.readFlag = ParseDecimal(fields[3]);
        if (fields.size() > 4) row.label = std::string(fields[4]);
        std::string key = row.key;
        if (baseline.emplace(std::move(key), std::move(row)).second) ++taken;
    }
    return taken;
}

std::string SnapshotLabel(const CLiveRow& row) {
    std::string label = row.displayName ? *row.displayName
                        : row.subject   ? *row.subject
                                        : std::string("(null)");
    for (char& c : label) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return label;
}

std::string FormatStateRow(const CLiveRow& row) {
    std::string line;
    line.reserve(row.key.size() + 40);
    line += row.key;
    line += ';';
    line += std::to_string(row.modLow);
    line += ';';
    line += std::to_string(row.modHigh);
    line += ';';
    line += std::to_string(row.readFlag);
    line += ';';
    std::string label = SnapshotLabel(row);
    // The line end counts against the limit.
    const size_t room =
        line.size() < kMaxStateLineLength - 1 ? kMaxStateLineLength - 1 - line.size() : 0;
    label.resize(Utf8CutLength(label, room));
    line += label;
    return line;
}

std::uint64_t ParseStateFileGeneration(std::string_view content) {
    size_t position = 0;
    while (position < content.size()) {
        size_t end = content.find('\n', position);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == kStateFileHeader) break;
        if (line.substr(0, kGenerationKey.size()) != kGenerationKey) continue;
        std::string_view digits = line.substr(kGenerationKey.size());
        std::uint64_t generation = 0;
        auto [stop, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), generation);
        if (error != std::errc() || stop != digits.data() + digits.size()) return 0;
        return generation;
    }
    return 0;
}

std::uint64_t ReadStateFileGeneration(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    // The line stands before the header, at the start of the file.
    std::string head(256, '\0');
    ssize_t got;
    do {
        got = read(fd, head.data(), head.size());
    } while (got < 0 && errno == EINTR);
    close(fd);
    head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return ParseStateFileGeneration(head);
}

std::string SnapshotFileKey(const std::string& folderKey, std::uint64_t generation) {
    if (generation == 0) return folderKey + "_temp";
    return folderKey + "_temp." + std::to_string(generation);
}

std::optional<std::uint64_t> SnapshotGenerationOfName(std::string_view fileName,
                                                      const std::string& folderKey) {
    const std::string stem = folderKey + "_temp";
    if (fileName.size() < stem.size() + 4 || fileName.substr(0, stem.size()) != stem ||
        fileName.substr(fileName.size() - 4) != ".csv")
        return std::nullopt;
    std::string_view middle = fileName.substr(stem.size(), fileName.size() - stem.size() - 4);
    if (middle.empty()) return 0;
    if (middle[0] != '.' || middle.size() < 2 || middle.size() > 21) return std::nullopt;
    middle.remove_prefix(1);
    if (middle[0] == '0') return std::nullopt;  // one spelling per generation
    std::uint64_t generation = 0;
    auto [stop, error] = std::from_chars(middle.data(), middle.data() + middle.size(), generation);
    if (error != std::errc() || stop != middle.data() + middle.size()) return std::nullopt;
    return generation;
}

std::map<std::uint64_t, std::string> ListSnapshots(const std::string& dataFolder,
                                                   const std::string& deviceId,
                                                   const std::string& folderKey) {
    std::map<std::uint64_t, std::string> found;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir((dataFolder + "/" + deviceId).c_str()),
                                            closedir);
    if (!dir) return found;
    while (dirent* entry = readdir(dir.get())) {
        std::optional<std::uint64_t> generation =
            SnapshotGenerationOfName(entry->d_name, folderKey);
        if (generation) found[*generation] = entry->d_name;
    }
    return found;
}

std::uint64_t NextSnapshotGeneration(const std::string& dataFolder, const std::string& deviceId,
                                     const std::string& folderKey) {
    std::uint64_t last = ReadStateFileGeneration(StateFilePath(dataFolder, deviceId, folderKey));
    std::map<std::uint64_t, std::string> snapshots = ListSnapshots(dataFolder, deviceId, folderKey);
    if (!snapshots.empty() && snapshots.rbegin()->first > last) last = snapshots.rbegin()->first;
    return last + 1;
}

int RemoveSnapshotsExcept(const std::string& dataFolder, const std::string& deviceId,
                          const std::string& folderKey, std::uint64_t keep) {
    int removed = 0;
    for (const auto& [generation, name] : ListSnapshots(dataFolder, deviceId, folderKey)) {
        if (generation == keep) continue;
        if (unlink((dataFolder + "/" + deviceId + "/" + name).c_str()) == 0) ++removed;
    }
    return removed;
}

std::string StateFilePath(const std::string& dataFolder, const std::string& deviceId,
                          const std::string& fileKey) {
    return dataFolder + "/" + deviceId + "/" + fileKey + ".csv";
}

bool ReadStateFile(const std::string& path, CBaseline& baseline) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string content;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        ssize_t got = read(fd, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            break;  // what was read so far is parsed; a half row is only a row less
        }
        if (got == 0) break;
        content.append(chunk.data(), static_cast<size_t>(got));
    }
    close(fd);
    ParseStateFile(content, baseline);
    return true;
}

bool WriteStateFile(const std::string& path, std::string_view content, std::string& error) {
    std::string folder = ParentFolder(path);
    if (!folder.empty()) {
        errno = 0;
        if (FileWriteFaultInjected(FileWriteStep::CreateFolder) || !CreateDataFolder(folder)) {
            error = "cannot create folder " + folder + ": " + std::strerror(errno ? errno : EIO);
            return false;
        }
    }
    return WriteFileAtomically(path, content, error);
}
