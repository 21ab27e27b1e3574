// corvel web: the web server's files without editing settings.inf by hand.
//
//   corvel web base [DIR] [--clear]   show or set WebBaseDir (the folder GET requests
//                                     outside the virtual directories are served from)
//   corvel web dir list [--json]      the virtual directories (WebDir lines)
//   corvel web dir add NAME TARGET [--realm R] [--user U] [--password P]
//                                     NAME is the first part of the URL path; TARGET a
//                                     folder or a URL "http://..." to forward to; with
//                                     --user the directory asks for Basic credentials
//                                     ("*": any user of the server with its password)
//   corvel web dir remove NAME
//
// They may run while the server runs: settings.inf is changed under its file lock,
// merged with what the server wrote (settings.h), and the running server takes the
// change within a second. Folders are stored as absolute paths and must exist.
#pragma once

#include <ostream>
#include <string>

#include "server/app/command.h"
#include "server/config/settings_file.h"

// Each returns the exit status: 0 done, 1 failed (message on err), 2 bad input.
int RunWebBase(const std::string& dataFolder, const std::string* newBase, bool clear,
               std::ostream& out, std::ostream& err);
int RunWebDirList(const std::string& dataFolder, bool json, std::ostream& out, std::ostream& err);
int RunWebDirAdd(const std::string& dataFolder, CWebDirectory directory, std::ostream& out,
                 std::ostream& err);
int RunWebDirRemove(const std::string& dataFolder, const std::string& name, std::ostream& out,
                    std::ostream& err);

void AddWebCommand(CLI::App& app, CommandAction& chosen);
