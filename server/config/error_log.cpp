// error.log entries.
#include "server/config/error_log.h"

#include <ctime>

#include "server/config/text_file.h"

void CErrorLog::SetPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
}

bool CErrorLog::Open(const std::string& path) {
    SetPath(path);
    return TouchFile(path);
}

std::string CErrorLog::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

bool CErrorLog::Add(const std::string& text) {
    std::string path = Path();
    if (path.empty()) return false;
    return AppendToLogFile(path, FormatErrorLogEntry(FormatLogStamp(std::time(nullptr)), text));
}

std::string MessageBoxEntryText(const std::string& text, const std::string& caption) {
    return caption.empty() ? text : caption + ": " + text;
}

std::string FormatErrorLogEntry(const std::string& stamp, const std::string& text) {
    std::string entry = "!!!" + stamp + " - ";
    size_t start = 0;
    for (bool first = true;; first = false) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!first && line.compare(0, 3, "!!!") == 0) line.insert(0, " ");
        entry += line + "\n";
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return entry;
}
