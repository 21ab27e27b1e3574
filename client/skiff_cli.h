// The skiff command line: sync, save, config and pim (see RunSkiffCommandLine).
#pragma once

#include <iosfwd>

// Parses argv and runs the command; returns the process exit status:
//   sync    0 when the server answered and the answer was applied, 1 when it could
//           not be reached, answered nothing or no whole answer (or the run could not
//           start), 3 when the answer was applied but the mass-delete guard held
//           deletions back (run again with --allow-mass-delete), 130 when stopped by
//           an interrupt. The last log line is the sync report (sync_report.h).
//           --json prints one object: started, folders, itemsSent, sent, answered,
//           itemsApplied, mappings, foldersSaved, stopped, error, deletesSent,
//           acksSent, deletesApplied, failed, acksKept, massDeleteHeld, report (the
//           array of sync_report.h) and reportLine, in this order;
//   others  0 done, 1 failed, 2 bad input.
// Log lines go to out (to err with --json, where out gets one JSON object).
int RunSkiffCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);
