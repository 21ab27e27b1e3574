// `corvel dump FILE|-`: the readable form of a captured Vantro document.
#pragma once

#include "server/app/command.h"

void AddDumpCommand(CLI::App& app, CommandAction& chosen);
