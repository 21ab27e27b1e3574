// corvel tls fingerprint: the SHA-256 fingerprint of the HTTPS listener's
// certificate (TlsCertFile, or corvel's own, made now when there is none yet), so
// the user can compare it with what a client shows on its first connection.
#pragma once

#include <ostream>
#include <string>

#include "server/app/command.h"

// Exit status 0 with the fingerprint on out; 1 with the reason on err.
int RunTlsFingerprint(const std::string& dataFolder, std::ostream& out, std::ostream& err);

void AddTlsCommand(CLI::App& app, CommandAction& chosen);
