// sync.log in a device's sub-folder of the data folder: one line per handheld
// value that lost to the desktop's when both sides changed the same field of an
// item. The file begins with a header that says what the lines hold:
//
//   # Corvel sync log of device <device ID>: handheld values that lost to the desktop's
//   # One line per field, fields separated by tabs: time (UTC, YYYY-MM-DD hh:mm:ss),
//   # folder, item key, field, losing handheld value, winning desktop value.
//   # In values, "\" is written "\\", a tab "\t", a line feed "\n", a carriage return "\r".
//
// and then, for example,
//   2024-05-01 09:30:12<TAB>Contacts<TAB>00AB...<TAB>CompanyName<TAB>Initech<TAB>ACME
//
// Lines are appended whole (AppendToLogFile); the file (mode 0600) is removed with
// the device's other files when the device is reset. Any thread.
#pragma once

#include <ctime>
#include <string>

struct CSyncLogLine {
    std::string folder;   // the folder's display name
    std::string itemKey;  // the item's server key
    std::string field;    // the field's element name
    std::string losing;   // the handheld's value
    std::string winning;  // the desktop's value
};

// <dataFolder>/<deviceId>/sync.log
std::string SyncLogPath(const std::string& dataFolder, const std::string& deviceId);

// The header the file begins with (three lines, each ended by "\n").
std::string SyncLogHeader(const std::string& deviceId);

// One line of the file (ended by "\n") for line at UTC time t.
std::string FormatSyncLogLine(const CSyncLogLine& line, std::time_t t);

// Appends line to the device's sync.log, writing the header first when the file is
// new (the device folder is created when missing). False when it cannot be written.
bool AppendSyncLog(const std::string& dataFolder, const std::string& deviceId,
                   const CSyncLogLine& line, std::time_t t);
