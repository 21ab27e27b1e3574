// How corvel's command line is put together. Running without a subcommand starts
// the server; every subcommand lives in its own file and adds itself through one
// function of type AddSubcommandFunction, listed in subcommands.cpp.
//
// A subcommand's add function creates its CLI11 subcommand on app, binds its
// options to state it owns (for example a shared_ptr captured by the callback),
// and sets a callback that stores the action to run in chosen:
//
//   void AddDumpCommand(CLI::App& app, CommandAction& chosen) {
//       auto file = std::make_shared<std::string>();
//       CLI::App* dump = app.add_subcommand("dump", "Show a WBXML file as text");
//       dump->add_option("FILE", *file)->required();
//       dump->callback([file, &chosen] { chosen = [file] { return RunDump(*file); }; });
//   }
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// The work a chosen subcommand does; its result is the program's exit status.
using CommandAction = std::function<int()>;

using AddSubcommandFunction = void (*)(CLI::App& app, CommandAction& chosen);

// What a "list" subcommand runs: the records of the data folder, one JSON array
// with json; the exit status.
using ListFunction = int (*)(const std::string& dataFolder, bool json, std::ostream& out,
                             std::ostream& err);

// A "list" subcommand of parent with its --json flag; when chosen it runs list over
// the default data folder, writing to standard output and error.
void AddListSubcommand(CLI::App& parent, const char* description, ListFunction list,
                       CommandAction& chosen);

// Every subcommand of corvel, in the order --help lists them.
std::vector<AddSubcommandFunction> Subcommands();
