// settings.inf as values: reading, writing, and the three-way merge that lets
// several processes change the file (the running server, "corvel web", "corvel
// device") without losing each other's changes.
//
// settings.inf, written with single line feeds in this order:
//   Device=<id>:<name>                (one per device, in byte order of the id)
//   WebBaseDir=<text>  AnswerWeb=<n>  TraceXML=<0|1>  TraceWEB=<0|1>  TraceLive=<0|1>
//   StartOutlook=<0|1> HttpPort=<n>   KeepSyncFiles=<n>
//   MaxBodyMB=<n>      BodyBudgetMB=<n>
//   HttpsPort=<n>      TlsCertFile=<path>  TlsKeyFile=<path>  RequireTls=<0|1>
//   WebDir=<Directory> ;<URL> ;<Realm> ;<Username> ;<Password>   (one per directory)
// The blank before each ";" keeps an empty field a token of its own when read back.
// Reading: keys compared exactly; a line without "=" or with an unknown key is
// skipped; a Device or WebDir already read keeps its first value; a Device line
// without ":" is skipped; WebDir fields are cut at ";" (runs give no empty token)
// and trimmed; numbers are their leading decimal digits (none: 0); switches are
// on when their number is not 0; an HttpPort outside 1-65535 reads as 80, an
// HttpsPort outside 0-65535 as 8443 (0: no HTTPS listener), a MaxBodyMB or
// BodyBudgetMB below 1 as its default.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

struct CWebDirectory {
    std::string Directory;  // the virtual directory, also the map key
    std::string URL;        // target folder, or a URL beginning with "http://"
    std::string Realm;
    std::string Username;
    std::string Password;
    bool operator==(const CWebDirectory&) const = default;
};

// Why a web directory cannot be stored as it is, or the empty text: an empty
// Directory, or a field holding ";", a line break, or blanks at either end (the
// reader trims them).
std::string WebDirectoryProblem(const CWebDirectory& directory);

inline constexpr int kDefaultHttpPort = 80;
inline constexpr int kDefaultHttpsPort = 8443;
// Largest request body taken, in MiB (read at start).
inline constexpr int kDefaultMaxBodyMB = 64;
// All request bodies held in memory at once, in MiB (read at start).
inline constexpr int kDefaultBodyBudgetMB = 256;

// Everything settings.inf holds; the defaults are those of a fresh installation.
struct CSettingsFileValues {
    std::map<std::string, std::string> deviceNames;
    std::string webBaseDir;
    int answerWeb = 0;
    bool traceXML = true;
    bool traceWEB = true;
    bool traceLive = true;
    bool startOutlook = false;
    int httpPort = kDefaultHttpPort;
    int keepSyncFiles = 0;
    int maxBodyMB = kDefaultMaxBodyMB;
    int bodyBudgetMB = kDefaultBodyBudgetMB;
    int httpsPort = kDefaultHttpsPort;
    std::string tlsCertFile;  // empty: the certificate corvel made in the data folder
    std::string tlsKeyFile;
    bool requireTls = false;
    std::map<std::string, CWebDirectory> webDirectories;
    bool operator==(const CSettingsFileValues&) const = default;
};

// Parses the text of settings.inf over the defaults. Notes for the operator
// (an HttpPort out of range, overlong lines skipped) are appended to notes.
CSettingsFileValues ParseSettingsFile(std::string_view text, std::vector<std::string>& notes);
// The file's text. CR and LF in values become blanks, so a value can never add a
// line, and other control characters are dropped (OneLineValue). A ";" in a web directory field
// would end the field when read back: the places that take the fields refuse it
// (WebDirectoryProblem).
std::string SerializeSettingsFile(const CSettingsFileValues& values);

// The values after two sides changed the same base: every field (and every entry
// of the two maps) that theirs changed against base is taken from theirs, every
// other from mine. An entry one side removed and the other left alone is removed.
CSettingsFileValues MergeSettingsFiles(const CSettingsFileValues& base,
                                       const CSettingsFileValues& mine,
                                       const CSettingsFileValues& theirs);

// An advisory lock on <data folder>/settings.lock, held while a process reads,
// merges and writes settings.inf, so two writers never interleave. Waits up to
// timeoutMs for another holder; IsHeld() false when it could not be had.
// Thread use: one owner; the lock is held for the object's lifetime.
class CSettingsFileLock {
public:
    CSettingsFileLock(const std::string& dataFolder, int timeoutMs = 5000);
    ~CSettingsFileLock();
    CSettingsFileLock(const CSettingsFileLock&) = delete;
    CSettingsFileLock& operator=(const CSettingsFileLock&) = delete;
    bool IsHeld() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

inline constexpr const char* kSettingsLockName = "settings.lock";

// What identifies one version of a file: a rename over it gives a new inode, a
// rewrite a new time or size. All zero when the file does not exist.
struct CFileStamp {
    unsigned long long inode = 0;
    long long seconds = 0;
    long long nanoseconds = 0;
    long long size = 0;
    bool exists = false;
    bool operator==(const CFileStamp&) const = default;
};
CFileStamp StampOf(const std::string& path);
