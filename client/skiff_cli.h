// The skiff command line: sync, save, config and pim (see RunSkiffCommandLine).
#pragma once

#include <iosfwd>

// Exit statuses of "skiff sync".
constexpr int kExitSynced = 0;         // answered and applied, every item stored
constexpr int kExitNotSynced = 1;      // not reached, no whole answer, answer refused, or
                                       // the run could not start
constexpr int kExitDeletionsHeld = 3;  // applied, but the mass-delete guard held
                                       // deletions back (run with --allow-mass-delete)
constexpr int kExitNotStored = 4;      // applied, but items were not stored on the
                                       // desktop (they go again next run); wins over 3
constexpr int kExitStopped = 130;      // stopped by an interrupt

// Parses argv and runs the command; returns the process exit status:
//   sync    one of the kExit statuses above. The last log line is the sync report
//           (sync_report.h). --json prints one object: started, folders, itemsSent,
//           sent, answered, itemsApplied, mappings, foldersSaved, stopped, error,
//           deletesSent, acksSent, deletesApplied, failed, acksKept, massDeleteHeld,
//           newHandheldStore, conflicts, notStored, report (the array of
//           sync_report.h) and reportLine, in this order;
//   others  0 done, 1 failed, 2 bad input.
// Log lines go to out (to err with --json, where out gets one JSON object).
int RunSkiffCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);
