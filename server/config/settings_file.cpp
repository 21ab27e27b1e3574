// settings.inf: parse, serialize, merge, and the writers' lock.
#include "server/config/settings_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include "common/base/text.h"
#include "server/config/log_text.h"
#include "server/config/text_file.h"

namespace {

std::string_view Trim(std::string_view text) {
    const char* kSpace = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return std::string_view();
    size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

// Tokens between ";" separators; runs of separators give no empty tokens.
std::vector<std::string_view> SplitTokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ';') ++i;
        if (i >= text.size()) break;
        size_t end = text.find(';', i);
        if (end == std::string_view::npos) end = text.size();
        tokens.push_back(text.substr(i, end - i));
        i = end;
    }
    return tokens;
}

// A value may not break its line in settings.inf.
std::string OneLine(std::string_view text) { return OneLineValue(text); }

template <typename Value>
void MergeMap(const std::map<std::string, Value>& base, const std::map<std::string, Value>& theirs,
              std::map<std::string, Value>& merged) {
    for (const auto& [key, value] : base) {
        auto their = theirs.find(key);
        if (their == theirs.end()) {
            merged.erase(key);  // they removed it
        } else if (!(their->second == value)) {
            merged[key] = their->second;  // they changed it
        }
    }
    for (const auto& [key, value] : theirs) {
        if (base.count(key) == 0) merged[key] = value;  // they added it
    }
}

template <typename Field>
void MergeField(const Field& base, const Field& theirs, Field& merged) {
    if (!(theirs == base)) merged = theirs;
}

}  // namespace

std::string WebDirectoryProblem(const CWebDirectory& directory) {
    if (directory.Directory.empty()) return "the virtual directory has no name";
    const std::pair<const char*, const std::string*> fields[] = {{"name", &directory.Directory},
                                                                 {"target", &directory.URL},
                                                                 {"realm", &directory.Realm},
                                                                 {"user name", &directory.Username},
                                                                 {"password", &directory.Password}};
    for (const auto& [what, text] : fields) {
        if (text->find_first_of(";\r\n") != std::string::npos)
            return std::string("the ") + what + " holds \";\" or a line break";
        if (!text->empty() && (Trim(*text).size() != text->size()))
            return std::string("the ") + what + " begins or ends with a blank";
    }
    return std::string();
}

CSettingsFileValues ParseSettingsFile(std::string_view text, std::vector<std::string>& notes) {
    CSettingsFileValues values;
    size_t overlong = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(start, next - start);
        start = next;
        if (line.size() > kMaxLineLength) {
            ++overlong;
            continue;
        }
        line = StripLineEnd(line);
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        if (key == "Device") {
            size_t colon = value.find(':');
            if (colon == std::string_view::npos) continue;
            values.deviceNames.emplace(std::string(value.substr(0, colon)),
                                       std::string(value.substr(colon + 1)));
        } else if (key == "WebDir") {
            std::vector<std::string_view> tokens = SplitTokens(value);
            if (tokens.empty()) continue;
            CWebDirectory record;
            std::string* fields[] = {&record.Directory, &record.URL, &record.Realm,
                                     &record.Username, &record.Password};
            for (size_t i = 0; i < tokens.size() && i < 5; ++i) fields[i]->assign(Trim(tokens[i]));
            values.webDirectories.emplace(record.Directory, record);
        } else if (key == "WebBaseDir") {
            values.webBaseDir.assign(value);
        } else if (key == "AnswerWeb") {
            values.answerWeb = LeadingInteger(value);
        } else if (key == "HttpPort") {
            int port = LeadingInteger(value);
            if (port >= 1 && port <= 65535) {
                values.httpPort = port;
            } else {
                values.httpPort = kDefaultHttpPort;
                notes.push_back("settings.inf: HttpPort " + std::to_string(port) +
                                " is outside 1-65535; port " + std::to_string(kDefaultHttpPort) +
                                " is used");
            }
        } else if (key == "HttpsPort") {
            int port = LeadingInteger(value);
            if (port >= 0 && port <= 65535) {
                values.httpsPort = port;
            } else {
                values.httpsPort = kDefaultHttpsPort;
                notes.push_back("settings.inf: HttpsPort " + std::to_string(port) +
                                " is outside 0-65535; port " + std::to_string(kDefaultHttpsPort) +
                                " is used");
            }
        } else if (key == "TlsCertFile") {
            values.tlsCertFile.assign(value);
        } else if (key == "TlsKeyFile") {
            values.tlsKeyFile.assign(value);
        } else if (key == "RequireTls") {
            values.requireTls = LeadingInteger(value) != 0;
        } else if (key == "KeepSyncFiles") {
            values.keepSyncFiles = LeadingInteger(value);
        } else if (key == "MaxBodyMB") {
            int mb = LeadingInteger(value);
            values.maxBodyMB = mb >= 1 ? mb : kDefaultMaxBodyMB;
        } else if (key == "BodyBudgetMB") {
            int mb = LeadingInteger(value);
            values.bodyBudgetMB = mb >= 1 ? mb : kDefaultBodyBudgetMB;
        } else if (key == "TraceXML") {
            values.traceXML = LeadingInteger(value) != 0;
        } else if (key == "TraceWEB") {
            values.traceWEB = LeadingInteger(value) != 0;
        } else if (key == "TraceLive") {
            values.traceLive = LeadingInteger(value) != 0;
        } else if (key == "StartOutlook") {
            values.startOutlook = LeadingInteger(value) != 0;
        }
    }
    if (overlong > 0) {
        notes.push_back("settings.inf: " + std::to_string(overlong) + " overlong line(s) skipped");
    }
    return values;
}

std::string SerializeSettingsFile(const CSettingsFileValues& values) {
    std::string out;
    for (const auto& [id, name] : values.deviceNames)
        out += "Device=" + OneLine(id) + ":" + OneLine(name) + "\n";
    out += "WebBaseDir=" + OneLine(values.webBaseDir) + "\n";
    out += "AnswerWeb=" + std::to_string(values.answerWeb) + "\n";
    out += "TraceXML=" + std::to_string(values.traceXML ? 1 : 0) + "\n";
    out += "TraceWEB=" + std::to_string(values.traceWEB ? 1 : 0) + "\n";
    out += "TraceLive=" + std::to_string(values.traceLive ? 1 : 0) + "\n";
    out += "StartOutlook=" + std::to_string(values.startOutlook ? 1 : 0) + "\n";
    out += "HttpPort=" + std::to_string(values.httpPort) + "\n";
    out += "KeepSyncFiles=" + std::to_string(values.keepSyncFiles) + "\n";
    out += "MaxBodyMB=" + std::to_string(values.maxBodyMB) + "\n";
    out += "BodyBudgetMB=" + std::to_string(values.bodyBudgetMB) + "\n";
    out += "HttpsPort=" + std::to_string(values.httpsPort) + "\n";
    out += "TlsCertFile=" + OneLine(values.tlsCertFile) + "\n";
    out += "TlsKeyFile=" + OneLine(values.tlsKeyFile) + "\n";
    out += "RequireTls=" + std::to_string(values.requireTls ? 1 : 0) + "\n";
    for (const auto& [name, dir] : values.webDirectories) {
        out += "WebDir=" + OneLine(dir.Directory) + " ;" + OneLine(dir.URL) + " ;" +
               OneLine(dir.Realm) + " ;" + OneLine(dir.Username) + " ;" + OneLine(dir.Password) +
               "\n";
    }
    return out;
}

CSettingsFileValues MergeSettingsFiles(const CSettingsFileValues& base,
                                       const CSettingsFileValues& mine,
                                       const CSettingsFileValues& theirs) {
    CSettingsFileValues merged = mine;
    MergeMap(base.deviceNames, theirs.deviceNames, merged.deviceNames);
    MergeMap(base.webDirectories, theirs.webDirectories, merged.webDirectories);
    MergeField(base.webBaseDir, theirs.webBaseDir, merged.webBaseDir);
    MergeField(base.answerWeb, theirs.answerWeb, merged.answerWeb);
    MergeField(base.traceXML, theirs.traceXML, merged.traceXML);
    MergeField(base.traceWEB, theirs.traceWEB, merged.traceWEB);
    MergeField(base.traceLive, theirs.traceLive, merged.traceLive);
    MergeField(base.startOutlook, theirs.startOutlook, merged.startOutlook);
    MergeField(base.httpPort, theirs.httpPort, merged.httpPort);
    MergeField(base.keepSyncFiles, theirs.keepSyncFiles, merged.keepSyncFiles);
    MergeField(base.maxBodyMB, theirs.maxBodyMB, merged.maxBodyMB);
    MergeField(base.bodyBudgetMB, theirs.bodyBudgetMB, merged.bodyBudgetMB);
    MergeField(base.httpsPort, theirs.httpsPort, merged.httpsPort);
    MergeField(base.tlsCertFile, theirs.tlsCertFile, merged.tlsCertFile);
    MergeField(base.tlsKeyFile, theirs.tlsKeyFile, merged.tlsKeyFile);
    MergeField(base.requireTls, theirs.requireTls, merged.requireTls);
    return merged;
}

CSettingsFileLock::CSettingsFileLock(const std::string& dataFolder, int timeoutMs) {
    std::string path = dataFolder + "/" + kSettingsLockName;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    fd_ = fd;
}

CSettingsFileLock::~CSettingsFileLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
}

CFileStamp StampOf(const std::string& path) {
    struct stat info {};
    CFileStamp stamp;
    if (stat(path.c_str(), &info) != 0) return stamp;
    stamp.exists = true;
    stamp.inode = info.st_ino;
    stamp.seconds = info.st_mtim.tv_sec;
    stamp.nanoseconds = info.st_mtim.tv_nsec;
    stamp.size = info.st_size;
    return stamp;
}
