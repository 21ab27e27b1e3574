// The protocol trace file wbxml.log.
#include "server/vantro/protocol_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

bool CProtocolLog::Open(const std::string& dataFolder) {
    if (dataFolder.empty()) return false;
    std::string path = dataFolder + "/wbxml.log";
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && info.st_size >= kMaxLogBytes) {
        std::rename(path.c_str(), (path + ".1").c_str());
    }
    // The trace holds personal data: owner-only.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::FILE* f = fdopen(fd, "a");
    if (f == nullptr) {
        close(fd);
        return false;
    }
    file_.reset(f);
    return true;
}

void CProtocolLog::Write(std::string_view text) {
    if (file_) std::fwrite(text.data(), 1, text.size(), file_.get());
}

std::string CProtocolLog::EntryHead() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char line[64];
    std::snprintf(line, sizeof line, "\n!!!%02d.%02d.%04d %02d:%02d %s(%s) %s\n", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, "", "", "");
    return line;
}
