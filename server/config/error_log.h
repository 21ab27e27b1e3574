// error.log in the data folder: the event log of the console. Message boxes of
// worker threads (and every message box when headless) become entries here.
//
// An entry is "!!!dd.mm.yyyy hh:mm:ss - <text>\n" (local time); further lines of
// a text follow as its detail lines. Thread use: any thread; entries never interleave.
#pragma once

#include <mutex>
#include <string>

class CErrorLog {
public:
    // Sets the file without creating it; entries from now on go there (Add
    // creates the file when it is missing).
    void SetPath(const std::string& path);
    // Sets the file and creates it (mode 0600) when missing; false when it cannot
    // be created (entries are then attempted again each time).
    bool Open(const std::string& path);
    // Appends one entry; false when there is no file or it cannot be written.
    bool Add(const std::string& text);
    std::string Path() const;

private:
    mutable std::mutex mutex_;
    std::string path_;
};

// The entry text for a message box: "<caption>: <text>", or the text alone.
std::string MessageBoxEntryText(const std::string& text, const std::string& caption);

// Renders one entry with the given stamp. A line of the text that begins with
// "!!!" is indented by a blank so it cannot pass for an entry of its own.
std::string FormatErrorLogEntry(const std::string& stamp, const std::string& text);
