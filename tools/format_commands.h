// corvel-store import and export: a folder's contacts as vCard, its tasks or
// appointments as iCalendar (the folder's container class decides the kind).
//
//   corvel-store import FOLDER FILE... [--strict]
//   corvel-store export FOLDER [FILE] [--vcard3]
//
// Import reports each error and warning on err ("error: FILE:LINE: entry N: ..."),
// a progress line on a terminal, and the counts on out (a line, or one JSON object
// with --json). Its result: 0 when every entry was imported, 3 when any entry was
// skipped or a file could not be read (with --strict nothing is imported then).
// Export writes the file (atomically: a temporary file renamed over it) or standard
// output, and with a FILE its count on out. Store failures throw ToolError.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/store_commands.h"

int CmdImport(const std::string& profile, const std::string& folder,
              const std::vector<std::string>& files, bool strict, Output& o, std::ostream& err);
void CmdExport(const std::string& profile, const std::string& folder, const std::string& file,
               bool vcard3, Output& o);
