// The device's sync.log of values that lost a conflict.
#include "server/config/sync_log.h"

#include <sys/stat.h>

#include "server/config/data_folder.h"
#include "server/config/text_file.h"

namespace {

std::string Escape(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string TwoDigits(int value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}

}  // namespace

std::string SyncLogPath(const std::string& dataFolder, const std::string& deviceId) {
    return dataFolder + "/" + deviceId + "/sync.log";
}

std::string SyncLogHeader(const std::string& deviceId) {
    return "# Corvel sync log of device " + deviceId +
           ": handheld values that lost to the desktop's\n"
           "# One line per field, fields separated by tabs: time (UTC, YYYY-MM-DD hh:mm:ss),\n"
           "# folder, item key, field, losing handheld value, winning desktop value.\n"
           "# In values, \"\\\" is written \"\\\\\", a tab \"\\t\", a line feed \"\\n\", a "
           "carriage return \"\\r\".\n";
}

std::string FormatSyncLogLine(const CSyncLogLine& line, std::time_t t) {
    struct tm utc {};
    gmtime_r(&t, &utc);
    std::string stamp = std::to_string(utc.tm_year + 1900) + "-" + TwoDigits(utc.tm_mon + 1) + "-" +
                        TwoDigits(utc.tm_mday) + " " + TwoDigits(utc.tm_hour) + ":" +
                        TwoDigits(utc.tm_min) + ":" + TwoDigits(utc.tm_sec);
    return stamp + "\t" + Escape(line.folder) + "\t" + Escape(line.itemKey) + "\t" +
           Escape(line.field) + "\t" + Escape(line.losing) + "\t" + Escape(line.winning) + "\n";
}

bool AppendSyncLog(const std::string& dataFolder, const std::string& deviceId,
                   const CSyncLogLine& line, std::time_t t) {
    if (!CreateDataFolder(dataFolder + "/" + deviceId)) return false;
    const std::string path = SyncLogPath(dataFolder, deviceId);
    struct stat info {};
    std::string text;
    if (stat(path.c_str(), &info) != 0 || info.st_size == 0) text = SyncLogHeader(deviceId);
    text += FormatSyncLogLine(line, t);
    return AppendToLogFile(path, text);
}
