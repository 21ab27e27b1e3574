// Line reader, atomic file writer and log appender.
#include "server/config/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "common/base/atomic_file.h"

namespace {

// One lock per log file path, so entries of concurrent threads stay whole.
std::mutex& LogFileMutex(const std::string& path) {
    static std::mutex registryMutex;
    static std::map<std::string, std::unique_ptr<std::mutex>> registry;
    std::lock_guard<std::mutex> lock(registryMutex);
    std::unique_ptr<std::mutex>& slot = registry[path];
    if (!slot) slot = std::make_unique<std::mutex>();
    return *slot;
}

}  // namespace

CLineReader::CLineReader(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}

bool CLineReader::Next(std::string& line) {
    line.clear();
    if (!file_) return false;
    bool tooLong = false;
    int c;
    while ((c = getc_unlocked(file_.get())) != EOF) {
        if (!tooLong) {
            if (line.size() >= kMaxLineLength) {
                tooLong = true;
                line.clear();
            } else {
                line.push_back(static_cast<char>(c));
            }
        }
        if (c == '\n') {
            if (!tooLong) return true;
            ++skipped_;
            tooLong = false;
        }
    }
    if (tooLong) {
        ++skipped_;
        return false;
    }
    return !line.empty();
}

std::string_view StripLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    }
    return line;
}

bool RotateLogIfFull(const std::string& path, unsigned long long maxBytes) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    if (static_cast<unsigned long long>(info.st_size) < maxBytes) return false;
    return std::rename(path.c_str(), (path + ".1").c_str()) == 0;
}

bool AppendToLogFile(const std::string& path, std::string_view bytes, unsigned long long maxBytes) {
    std::lock_guard<std::mutex> lock(LogFileMutex(path));
    RotateLogIfFull(path, maxBytes);
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = WriteAllTo(fd, bytes);
    if (close(fd) != 0) ok = false;
    return ok;
}

bool TouchFile(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    close(fd);
    return true;
}

std::string FormatLogStamp(std::time_t t) {
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) local = std::tm{};
    char text[48];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
    return text;
}
