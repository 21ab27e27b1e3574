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

namespace {

constexpr std::string_view kDeviceKey = "Device";
constexpr std::string_view kWebDirKey = "WebDir";
// Skipped lines named one by one in the notes; the rest are counted.
constexpr size_t kSkippedLinesNamed = 5;

// Takes one line's value for key; false when the key is unknown or the value is
// not one the key can take (why then says so).
bool ReadKey(CSettingsFileValues& values, std::string_view key, std::string_view value,
             std::vector<std::string>& notes, std::string& why) {
    if (key == kDeviceKey) {
        size_t colon = value.find(':');
        if (colon == std::string_view::npos) {
            why = "a Device line without \":\"";
            return false;
        }
        values.deviceNames.emplace(std::string(value.substr(0, colon)),
                                   std::string(value.substr(colon + 1)));
        return true;
    }
    if (key == kWebDirKey) {
        std::vector<std::string_view> tokens = SplitSkippingEmpty(value, ';');
        if (tokens.empty() || Trim(tokens.front()).empty()) {
            why = "a WebDir line without a directory";
            return false;
        }
        CWebDirectory record;
        std::string* fields[] = {&record.Directory, &record.URL, &record.Realm, &record.Username,
                                 &record.Password};
        for (size_t i = 0; i < tokens.size() && i < 5; ++i) fields[i]->assign(Trim(tokens[i]));
        values.webDirectories.emplace(record.Directory, record);
        return true;
    }
#define CORVEL_READ_SETTING(Name, ...)                             \
    if (key == #Name) {                                            \
        values.Name = SettingKeys::Name.Read(#Name, value, notes); \
        return true;                                               \
    }
    CORVEL_SETTINGS_KEYS(CORVEL_READ_SETTING)
#undef CORVEL_READ_SETTING
    why = "the unknown key \"" + std::string(key.substr(0, 64)) + "\"";
    return false;
}

}  // namespace

std::string DeviceNameForFile(std::string_view deviceId, std::string_view name) {
    std::string kept = OneLine(name);
    // "Device=" <id> ":" <name> "\n"
    size_t fixed = std::string_view(kDeviceKey).size() + 1 + OneLine(deviceId).size() + 1 + 1;
    size_t room = fixed < kMaxLineLength ? kMaxLineLength - fixed : 0;
    if (kept.size() <= room) return kept;
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(kept[cut]) & 0xC0) == 0x80) --cut;
    kept.resize(cut);
    return kept;
}

CSettingsFileValues ParseSettingsFile(std::string_view text, std::vector<std::string>& notes) {
    CSettingsFileValues values;
    size_t overlong = 0;
    size_t skipped = 0;
    size_t lineNumber = 0;
    std::string_view rest = text;
    while (!rest.empty()) {
        std::string_view line = TakeLine(rest);
        ++lineNumber;
        if (line.size() > kMaxLineLength) {
            ++overlong;
            continue;
        }
        line = StripLineEnd(line);
        if (Trim(line).empty()) continue;
        size_t equals = line.find('=');
        std::string why = "no \"=\"";
        if (equals != std::string_view::npos &&
            ReadKey(values, line.substr(0, equals), OneLineValue(line.substr(equals + 1)), notes,
                    why)) {
            continue;
        }
        if (++skipped <= kSkippedLinesNamed) {
            notes.push_back("settings.inf line " + std::to_string(lineNumber) + ": " + why +
                            "; the line is skipped and not written back");
        }
    }
    if (skipped > kSkippedLinesNamed) {
        notes.push_back("settings.inf: " + std::to_string(skipped - kSkippedLinesNamed) +
                        " more line(s) skipped");
    }
    if (overlong > 0) {
        notes.push_back("settings.inf: " + std::to_string(overlong) + " overlong line(s) skipped");
    }
    return values;
}

std::string SerializeSettingsFile(const CSettingsFileValues& values) {
    std::string out;
    for (const auto& [id, name] : values.deviceNames) {
        out.append(kDeviceKey).append("=").append(OneLine(id)).append(":");
        out.append(OneLine(name)).append("\n");
    }
#define CORVEL_WRITE_SETTING(Name, ...) \
    out.append(#Name "=").append(SettingKeys::Name.Write(values.Name)).append("\n");
    CORVEL_SETTINGS_KEYS(CORVEL_WRITE_SETTING)
#undef CORVEL_WRITE_SETTING
    for (const auto& [name, dir] : values.webDirectories) {
        out.append(kWebDirKey).append("=");
        out += OneLine(dir.Directory) + " ;" + OneLine(dir.URL) + " ;" + OneLine(dir.Realm) + " ;" +
               OneLine(dir.Username) + " ;" + OneLine(dir.Password) + "\n";
    }
    return out;
}

CSettingsFileValues MergeSettingsFiles(const CSettingsFileValues& base,
                                       const CSettingsFileValues& mine,
                                       const CSettingsFileValues& theirs) {
    CSettingsFileValues merged = mine;
    MergeMap(base.deviceNames, theirs.deviceNames, merged.deviceNames);
    MergeMap(base.webDirectories, theirs.webDirectories, merged.webDirectories);
#define CORVEL_MERGE_SETTING(Name, ...) MergeField(base.Name, theirs.Name, merged.Name);
    CORVEL_SETTINGS_KEYS(CORVEL_MERGE_SETTING)
#undef CORVEL_MERGE_SETTING
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
