// FolderRun: what one sync run did with one folder, kept from the change scan to
// the rewrite of the folder's snapshot after the answer.
//
// The snapshot written after a whole answer describes the state both sides agree
// on, so that a change is never taken as sent when it was not:
//   - an item written from the answer: its state now;
//   - an item sent and taken as stored: its state as sent (a change made while
//     the answer was awaited is found again by the next scan);
//   - an item not taken as stored (the server reported an error, confirmed nothing
//     for an Add, or answered it with a key another item holds): its old record, or
//     none for a new item, so it goes again;
//   - an item neither sent nor received: its old record;
//   - an item whose deletion the mass-delete guard held back: its old record,
//     though the item is gone, so the deletion is found again;
//   - an item deleted while the answer was awaited: its record as above, so the
//     next scan finds the deletion;
//   - items whose deletion this run sent or applied, deletions that could not be
//     reported (no server ID), and items made after the scan: no record.
//
// Owned by its SyncFolder; one thread at a time.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// Items added, changed and deleted on one side by a run. kept: deletions from the
// other side passed over because the item was changed on this side; matched: Adds
// that the other side took for an item it already held.
struct SideCounts {
    int added = 0;
    int matched = 0;
    int changed = 0;
    int deleted = 0;
    int kept = 0;
};

struct FolderRun {
    // Change scan.
    bool scanned = false;
    int snapshotRecords = 0;                 // records of the old snapshot
    std::map<long, std::string> oldRecords;  // their data, by object identifier
    std::vector<long> gone;                  // in the old snapshot, gone from the PIM store

    // Request.
    struct SentItem {
        bool asAdd = false;         // sent as Add (no server key known)
        bool needsMapping = false;  // the server answers it with a key or an error
        std::string snapshot;       // the item's snapshot record as sent
        // The fields a Modify carried, in the client's form ("" for a cleared one):
        // a field the answer replaces is a conflict the desktop won.
        std::map<int, std::string> fields;
    };
    std::map<long, SentItem> sent;            // Add and Modify, by identifier
    std::map<long, std::string> sentDeletes;  // identifier -> server key deleted
    std::set<long> sentClientDeletes;         // Delete by ClientID (no key known)
    std::set<long> heldDeletes;               // device deletions the guard did not send

    // Answer.
    std::set<long> failed;     // not taken as stored: sent again next run
    std::set<long> confirmed;  // a mapping came back
    std::set<long> received;   // written from the answer
    std::set<long> deletedByAnswer;
    std::set<std::string> keptKeys;  // sent deletions the desktop passed over
    int heldReceivedDeletes = 0;
    int conflicts = 0;

    // The report of the run.
    SideCounts handheld, desktop;
};
