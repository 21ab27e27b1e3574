// The device's sync.log: sync lines, conflict lines, and reading the last sync.
#include "server/devices/sync_log.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>

#include "common/base/escape.h"
#include "server/config/data_folder.h"
#include "server/config/text_file.h"
#include "server/devices/device_list.h"

namespace {

std::string Escape(const std::string& value) { return BackslashEscape(value, "\t"); }

std::string Unescape(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out.push_back(value[i]);
            continue;
        }
        char next = value[++i];
        out.push_back(next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next);
    }
    return out;
}

std::string Stamp(SyncLogTime t) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

bool ParseStamp(const std::string& text, std::time_t& t) {
    struct tm utc {};
    int milliseconds = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d%n", &utc.tm_year, &utc.tm_mon,
                    &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &milliseconds,
                    &consumed) != 7 ||
        consumed != static_cast<int>(text.size())) {
        return false;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    t = timegm(&utc);
    return true;
}

bool Append(const std::string& dataFolder, const std::string& deviceId, const std::string& lines) {
    if (!IsValidDeviceId(deviceId)) return false;
    if (!CreateDataFolder(dataFolder + "/" + deviceId)) return false;
    const std::string path = SyncLogPath(dataFolder, deviceId);
    // A full file is set aside first, so the header opens the new one.
    RotateLogIfFull(path, kMaxSyncLogBytes);
    struct stat info {};
    std::string text;
    if (stat(path.c_str(), &info) != 0 || info.st_size == 0) text = SyncLogHeader(deviceId);
    text += lines;
    return AppendToLogFile(path, text, kMaxSyncLogBytes);
}

// The last sync of one file, if it has one.
std::optional<CLastSync> LastSyncIn(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::optional<CLastSync> last;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields = SplitSyncLogLine(line);
        if (fields.size() != 6 || fields[1] != "sync") continue;
        CSyncFolderLine folder;
        folder.folder = fields[2];
        std::time_t t = 0;
        int consumed = 0;
        if (!ParseStamp(fields[0], t) || !ParseSyncCounts(fields[3], "handheld", folder.handheld) ||
            !ParseSyncCounts(fields[4], "desktop", folder.desktop) ||
            std::sscanf(fields[5].c_str(), "conflicts %d%n", &folder.conflicts, &consumed) != 1 ||
            consumed != static_cast<int>(fields[5].size())) {
            continue;
        }
        // A new time begins a new sync; the lines of one sync share theirs.
        if (!last || last->timeText != fields[0]) {
            last = CLastSync();
            last->time = t;
            last->timeText = fields[0];
        }
        last->folders.push_back(folder);
    }
    return last;
}

}  // namespace

std::string SyncLogPath(const std::string& dataFolder, const std::string& deviceId) {
    return dataFolder + "/" + deviceId + "/sync.log";
}

std::string SyncLogHeader(const std::string& deviceId) {
    return "# Corvel sync log of device " + deviceId +
           "\n"
           "# One line per event, fields separated by tabs; the first two are the time (UTC,\n"
           "# YYYY-MM-DD hh:mm:ss.mmm) and the kind of the line:\n"
           "#   sync      folder, \"handheld +A ~C -D\", \"desktop +A ~C -D\", \"conflicts N\": "
           "one\n"
           "#             line per folder of a sync; handheld counts the items the answer sent "
           "to\n"
           "#             the device (added, changed, deleted), desktop the device's changes the\n"
           "#             store took, conflicts the fields both sides had changed\n"
           "#   conflict  folder, item key, field, losing handheld value, winning desktop value\n"
           "# In values, \"\\\" is written \"\\\\\", a tab \"\\t\", a line feed \"\\n\", a "
           "carriage return \"\\r\".\n";
}

std::string FormatSyncCounts(const char* side, const CSyncCounts& counts) {
    return std::string(side) + " +" + std::to_string(counts.added) + " ~" +
           std::to_string(counts.changed) + " -" + std::to_string(counts.deleted);
}

bool ParseSyncCounts(const std::string& text, const char* side, CSyncCounts& counts) {
    std::string expected = std::string(side) + " +%d ~%d -%d%n";
    int consumed = 0;
    CSyncCounts read;
    if (std::sscanf(text.c_str(), expected.c_str(), &read.added, &read.changed, &read.deleted,
                    &consumed) != 3 ||
        consumed != static_cast<int>(text.size())) {
        return false;
    }
    counts = read;
    return true;
}

std::string FormatSyncLogLine(const CSyncLogLine& line, SyncLogTime t) {
    return Stamp(t) + "\tconflict\t" + Escape(line.folder) + "\t" + Escape(line.itemKey) + "\t" +
           Escape(line.field) + "\t" + Escape(line.losing) + "\t" + Escape(line.winning) + "\n";
}

std::string FormatSyncFolderLine(const CSyncFolderLine& line, SyncLogTime t) {
    return Stamp(t) + "\tsync\t" + Escape(line.folder) + "\t" +
           FormatSyncCounts("handheld", line.handheld) + "\t" +
           FormatSyncCounts("desktop", line.desktop) + "\tconflicts " +
           std::to_string(line.conflicts) + "\n";
}

bool AppendSyncLog(const std::string& dataFolder, const std::string& deviceId,
                   const CSyncLogLine& line, SyncLogTime t) {
    return Append(dataFolder, deviceId, FormatSyncLogLine(line, t));
}

bool AppendSyncLog(const std::string& dataFolder, const std::string& deviceId,
                   const CSyncLogLine& line, std::time_t t) {
    return AppendSyncLog(dataFolder, deviceId, line, std::chrono::system_clock::from_time_t(t));
}

bool AppendSyncFolders(const std::string& dataFolder, const std::string& deviceId,
                       const std::vector<CSyncFolderLine>& lines, SyncLogTime t) {
    if (lines.empty()) return true;
    {
        // Two syncs of a device never share a time: the later one moves on.
        static std::mutex mutex;
        static std::map<std::string, SyncLogTime> lastTimes;  // by sync.log path
        std::lock_guard<std::mutex> lock(mutex);
        t = std::chrono::time_point_cast<std::chrono::milliseconds>(t);
        SyncLogTime& last = lastTimes[SyncLogPath(dataFolder, deviceId)];
        if (t <= last) t = last + std::chrono::milliseconds(1);
        last = t;
    }
    std::string text;
    for (const CSyncFolderLine& line : lines) text += FormatSyncFolderLine(line, t);
    return Append(dataFolder, deviceId, text);
}

std::vector<std::string> SplitSyncLogLine(const std::string& line) {
    std::vector<std::string> fields;
    std::string_view text = StripLineEnd(line);
    if (text.empty() || text[0] == '#') return fields;
    size_t start = 0;
    while (true) {
        size_t tab = text.find('\t', start);
        fields.push_back(Unescape(std::string(text.substr(start, tab - start))));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    return fields;
}

std::optional<CLastSync> ReadLastSync(const std::string& dataFolder, const std::string& deviceId) {
    if (!IsValidDeviceId(deviceId)) return std::nullopt;
    std::string path = SyncLogPath(dataFolder, deviceId);
    if (std::optional<CLastSync> last = LastSyncIn(path)) return last;
    return LastSyncIn(path + ".1");
}
