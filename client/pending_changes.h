// What the next sync would send: per folder, the items new or changed since the
// folder's snapshot and the deletions the server would be told of (items gone from
// the PIM store whose server key is known, or that went as Add without an answer). "skiff save"
// warns with it, since saving the snapshots makes the current items count as sent.
#pragma once

#include <string>
#include <vector>

struct PendingChanges {
    struct Folder {
        std::string name;  // "Contacts", "Tasks", "Calendar"
        int changed = 0;   // new or changed items
        int deleted = 0;   // deletions the server knows the item of
    };
    std::vector<Folder> folders;  // every folder of a run, in run order

    int Total() const;
    // "Contacts: 1 changed, 2 deleted; Tasks: 1 changed" (folders without changes left out).
    std::string Summary() const;
};

// Scans every folder of the data folder against its snapshot, as a run would,
// without writing anything. False (with error) when the PIM store is unavailable.
bool FindPendingChanges(PendingChanges& pending, std::string* error = nullptr);
