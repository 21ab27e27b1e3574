// Where Corvel keeps its files: the data folder ($XDG_DATA_HOME/Norvex/Corvel, with
// ~/.local/share when XDG_DATA_HOME is unset or not absolute) and the folder of the
// program file (where help.inf lies).
#pragma once

#include <string>

// The data folder path; does not create anything.
std::string DefaultDataFolder();

// Creates path and every missing folder above it with mode 0700 (the data folder
// holds passwords and logs). Existing folders keep their mode. True when path is
// a folder afterwards; false (errno set) otherwise.
bool CreateDataFolder(const std::string& path);

// The folder that holds the running program file; empty when it cannot be found.
std::string ProgramFolder();
