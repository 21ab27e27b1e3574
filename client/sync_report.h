// The sync report: one line that ends the log of a run, counting per folder the
// items this run added, changed and deleted on the handheld (from the answer) and on
// the desktop (sent and taken as stored by the server):
//
//   Sync report: Contacts: handheld +1 ~0 -0, desktop +2 ~1 -0; Tasks: ...; Calendar: ...
//
// Folders taking part, in the order contacts, tasks, calendar, joined by "; ". A
// folder whose deletions the mass-delete guard held back adds, after its counts,
// " (held: handheld -N)", " (held: desktop -N)" or " (held: handheld -N, desktop -M)".
// With no folder taking part the line is "Sync report: no folder".
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <vector>

#include "client/folder_run.h"

struct FolderReport {
    std::string name;  // "Contacts", "Tasks", "Calendar"
    SideCounts handheld, desktop;
    int heldHandheld = 0;  // deletions from the answer not applied
    int heldDesktop = 0;   // device deletions not sent
};

using SyncReport = std::vector<FolderReport>;

std::string FormatReportLine(const SyncReport& report);
// The report as a JSON array: [{"folder":"Contacts","handheld":{"added":1,"changed":0,
// "deleted":0},"desktop":{...},"held":{"handheld":0,"desktop":0}}, ...].
std::string ReportJson(const SyncReport& report);
// True when any folder held deletions back.
bool MassDeleteHeld(const SyncReport& report);
