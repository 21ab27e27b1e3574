// Small file helpers for the configuration files and logs of the data folder.
//
// Files are created with mode 0600: they hold passwords and request logs.
// Every function may be called from any thread.
#pragma once

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

// Longest line the readers take, line end included; a longer line is skipped whole.
inline constexpr size_t kMaxLineLength = 64 * 1024;

// Reads a text file line by line. A line is handed back with its line end ("\n",
// and a "\r" before it) so callers that keep line ends can; StripLineEnd removes it.
// A file without a final line end gives its last line whole.
class CLineReader {
public:
    // Opens path; IsOpen() false when it cannot be read.
    explicit CLineReader(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }
    // Next line into line; false at the end of the file. Lines longer than
    // kMaxLineLength are skipped, and counted in SkippedLines().
    bool Next(std::string& line);
    size_t SkippedLines() const { return skipped_; }

private:
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file_;
    size_t skipped_ = 0;
};

// Removes one trailing "\n" and the "\r" before it; nothing else.
std::string_view StripLineEnd(std::string_view line);

// Size at which a log file is rotated.
inline constexpr unsigned long long kMaxLogFileBytes = 10ULL * 1024 * 1024;

// Appends bytes to path (created with mode 0600) as one unit: appends of other
// threads to the same path never interleave with it. A file that has reached
// maxBytes is first renamed to path + ".1" (replacing an older one), so a log and
// its one older part never hold much more than twice maxBytes. False when the file
// cannot be opened or written.
bool AppendToLogFile(const std::string& path, std::string_view bytes,
                     unsigned long long maxBytes = kMaxLogFileBytes);

// Renames path to path + ".1" (replacing an older one) when it holds maxBytes or
// more; true when it did. For logs written through a stream of their own.
bool RotateLogIfFull(const std::string& path, unsigned long long maxBytes = kMaxLogFileBytes);

// Creates path (mode 0600) if it does not exist; true when it exists afterwards.
bool TouchFile(const std::string& path);

// Local time t as "dd.mm.yyyy hh:mm:ss", the stamp of the log entries.
std::string FormatLogStamp(std::time_t t);
