// Acknowledgement tokens and installing a snapshot as the baseline.
#include "server/vantro/ack_string.h"

#include <cstdio>

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
                         const std::string& text) {
    std::optional<CAckString> parts = SplitAckString(text);
    if (!parts) return AckResult::kMalformed;
    if (loggedOnDeviceId.empty() || dataFolder.empty() || parts->deviceId != loggedOnDeviceId) {
        return AckResult::kRefused;
    }
    if (!EndsWith(parts->stateFile, ".csv")) return AckResult::kRefused;
    std::string key = parts->stateFile.substr(0, parts->stateFile.size() - 4);
    if (!IsStateFileKey(key) || parts->tempFile != key + "_temp.csv") return AckResult::kRefused;
    std::string folder = dataFolder + "/" + parts->deviceId + "/";
    if (std::rename((folder + parts->tempFile).c_str(), (folder + parts->stateFile).c_str()) != 0) {
        return AckResult::kNoSnapshot;
    }
    return AckResult::kInstalled;
}
