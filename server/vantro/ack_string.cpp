// Acknowledgement tokens and installing a snapshot as the baseline.
#include "server/vantro/ack_string.h"

#include <cstdio>

#include "server/syncstate/contents_table_file.h"

std::string FormatAckString(const std::string& deviceId, const std::string& key,
                            const std::string& tempKey) {
    return deviceId + ":" + key + ".csv:" + tempKey + ".csv";
}

std::optional<CAckString> SplitAckString(const std::string& text) {
    size_t first = text.find(':');
    if (first == std::string::npos) return std::nullopt;
    size_t second = text.find(':', first + 1);
    if (second == std::string::npos) return std::nullopt;
    CAckString parts;
    parts.deviceId = text.substr(0, first);
    parts.stateFile = text.substr(first + 1, second - first - 1);
    parts.tempFile = text.substr(second + 1);
    return parts;
}

bool IsStateFileKey(const std::string& key) {
    if (key.empty()) return false;
    for (char c : key) {
        bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex && c != '-') return false;
    }
    return true;
}

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

AckResult ApplyAckString(const std::string& dataFolder, const std::string& loggedOnDeviceId,
                         const std::string& text, std::uint64_t* generation) {
    std::optional<CAckString> parts = SplitAckString(text);
    if (!parts) return AckResult::kMalformed;
    if (loggedOnDeviceId.empty() || dataFolder.empty() || parts->deviceId != loggedOnDeviceId) {
        return AckResult::kRefused;
    }
    if (!EndsWith(parts->stateFile, ".csv")) return AckResult::kRefused;
    std::string key = parts->stateFile.substr(0, parts->stateFile.size() - 4);
    if (!IsStateFileKey(key)) return AckResult::kRefused;
    std::optional<std::uint64_t> named = SnapshotGenerationOfName(parts->tempFile, key);
    if (!named) return AckResult::kRefused;
    if (generation != nullptr) *generation = *named;
    std::string folder = dataFolder + "/" + parts->deviceId + "/";
    const std::string baseline = folder + parts->stateFile;
    const std::string snapshot = folder + parts->tempFile;
    std::uint64_t installed = ReadStateFileGeneration(baseline);
    if (*named != 0 ? *named <= installed : installed != 0) {
        // A snapshot no newer than the baseline (left by a failed cleanup) is spent.
        std::remove(snapshot.c_str());
        return AckResult::kOlder;
    }
    if (std::rename(snapshot.c_str(), baseline.c_str()) != 0) return AckResult::kNoSnapshot;
    return AckResult::kInstalled;
}
