// CHelpTexts: the context help texts of the console, kept in help.inf.
//
// help.inf holds, for every entry in key order, "<KEY>\n", the text, and
// "\n</KEY>\n" — the line end before the closing tag is left out when the text
// already ends with one, so a text read back and saved again does not grow.
// Reading keeps line ends: an entry written for "abc" reads back as "abc\n".
//
// Thread use: all members take an internal lock.
#pragma once

#include <map>
#include <mutex>
#include <string>

class CHelpTexts {
public:
    // Replaces the map with the entries of path; a missing file gives an empty map.
    void Load(const std::string& path);
    // Writes every entry to path atomically; false (error filled) when it fails.
    bool Save(const std::string& path, std::string& error) const;
    // The text for key; empty when absent.
    std::string Get(const std::string& key) const;
    // Replaces or inserts.
    void Set(const std::string& key, const std::string& text);
    std::string Serialize() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> texts_;
};
