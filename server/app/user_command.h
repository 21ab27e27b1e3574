// corvel user: users for servers without a display, as the console's "Neu",
// "Automatisch" and "Speichern" make them.
//
//   corvel user add NAME --password P [--profile PROFILE] [--auto]
//       writes NAME.dxt in the data folder; PROFILE defaults to "Default" and is
//       created when missing; --auto adds the seven default folders.
//   corvel user list
//       one line per user file: name, profile and the number of folders.
//
// Both refuse to run while a server holds the data folder (its lock file).
#pragma once

#include <ostream>
#include <string>

#include "server/app/command.h"

struct UserAddOptions {
    std::string name;
    std::string password;
    std::string profile = "Default";
    bool automatic = false;
};

// Exit status 0 on success, 1 on any failure (with a message on err).
int RunUserAdd(const UserAddOptions& options, const std::string& dataFolder, std::ostream& out,
               std::ostream& err);
int RunUserList(const std::string& dataFolder, std::ostream& out, std::ostream& err);

void AddUserCommand(CLI::App& app, CommandAction& chosen);
