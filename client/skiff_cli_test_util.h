// Test helper: skiff's command line run in this process, with its exit status and
// what it wrote.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "client/skiff_cli.h"

struct CliRun {
    int status;
    std::string out, err;
};

// Runs "skiff args..." as the program would.
inline CliRun Skiff(std::vector<std::string> args) {
    args.insert(args.begin(), "skiff");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    int status = RunSkiffCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}
