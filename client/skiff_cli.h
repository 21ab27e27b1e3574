// The skiff command line: sync, save, config and pim (see RunSkiffCommandLine).
#pragma once

#include <iosfwd>

// Parses argv and runs the command; returns the process exit status:
//   sync    0 when the server answered, 1 when it could not be reached or answered
//           nothing (or the run could not start), 130 when stopped by an interrupt;
//   others  0 done, 1 failed, 2 bad input.
// Log lines go to out (to err with --json, where out gets one JSON object).
int RunSkiffCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);
