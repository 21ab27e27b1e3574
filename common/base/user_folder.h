// Where the programs keep a user's files when no folder is configured: the
// folder an environment variable names, else a folder below the home folder.
#pragma once

#include <string>
#include <string_view>

// The value of variable when it is set and not empty; else $HOME (or "." when
// HOME is unset or empty) followed by "/" and belowHome.
std::string UserFolder(const char* variable, std::string_view belowHome);
