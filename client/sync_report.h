// The sync report: one line that ends the log of a run, counting per folder what
// this run really did on the handheld (from the answer) and on the desktop (sent and
// taken as stored by the server):
//
//   Sync report: Contacts: handheld +1 ~0 -0, desktop +2 (1 matched) ~1 -0
//   (1 kept: changed on the desktop), conflicts 1; Tasks: ...; Calendar: ...
//
// (one line). Per folder, in the order contacts, tasks, calendar, joined by "; ":
//   handheld +A[ (M matched)] ~C -D[ (K kept: changed on the handheld)]
//   desktop +A[ (M matched)] ~C -D[ (K kept: changed on the desktop)]
// where +A counts the items added on that side, "(M matched)" those of them that
// side took for an item it already held (the desktop pairing a first sync's twins),
// ~C the items changed, -D the items deleted, and "(K kept: ...)" the deletions from
// the other side that were passed over because the item had changed. Then, when not
// zero, ", conflicts N" (fields both sides changed; the desktop's value was kept,
// the handheld's is in the log), ", not stored N" (items the desktop did not take;
// they go again next run), and " (held: handheld -N)", " (held: desktop -N)" or
// " (held: handheld -N, desktop -M)" for deletions the mass-delete guard held back.
// A run that found its state files made for another PIM store begins the list with
// "first sync of a new handheld store; ". With no folder taking part the line is
// "Sync report: no folder".
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
    int conflicts = 0;     // fields changed on both sides; the desktop's value kept
    int notStored = 0;     // items sent that the desktop did not take
};

struct SyncReport {
    std::vector<FolderReport> folders;
    bool newHandheldStore = false;  // first sync of a new handheld store
};

std::string FormatReportLine(const SyncReport& report);
// The folders of the report as a JSON array: [{"folder":"Contacts","handheld":
// {"added":1,"matched":0,"changed":0,"deleted":0,"kept":0},"desktop":{...},
// "conflicts":0,"notStored":0,"held":{"handheld":0,"desktop":0}}, ...].
std::string ReportJson(const SyncReport& report);
// True when any folder held deletions back.
bool MassDeleteHeld(const SyncReport& report);
// Items the desktop did not take, over all folders.
int NotStoredCount(const SyncReport& report);
int ConflictCount(const SyncReport& report);
