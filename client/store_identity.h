// Which handheld PIM store the state files of the data folder were made for.
//
// The file "store.txt" in the data folder holds the line "Store=<identity>" (the PIM
// store's identity, platform/pocketoutlook) and, after the files were found to
// belong to another store, "Previous=<identity>" until a run has applied a whole
// answer. At the start of a run (and of the Save command) the identity on file is
// compared with the store's:
//   - equal: nothing happens;
//   - no file, and no state file either: a new installation; the identity is
//     recorded;
//   - no file, but state files of an older version: they were made for this store
//     (the only one there was); the identity is recorded;
//   - different (the store was recreated, the data home changed, the files were
//     copied from another handheld): the snapshots, id maps, lists of sent items and
//     pending acknowledgements are set aside (renamed with ".old" appended, replacing
//     earlier ones), the new identity is recorded with Previous, and the run is the
//     first sync of a new handheld store: every item goes as Add, every folder asks
//     with Reset, nothing is deleted on the desktop from the old files.
//
// Functions touch only the data folder's files; one run (holding the data-folder
// lock) at a time.
#pragma once

#include <string>
#include <vector>

constexpr const char* kStoreFileName = "store.txt";

struct StoreCheck {
    bool newStore = false;  // the files were made for another store (now or on a run
                            // that has not applied an answer since)
    bool setAside = false;  // this check set the old files aside
    std::string error;      // a file that could not be written or renamed
};

// The state files of the data folder that belong to one PIM store (without
// store.txt), by name.
std::vector<std::string> StoreStateFileNames();

// Compares and records as above. An empty identity (no store) checks nothing.
StoreCheck CheckStoreIdentity(const std::string& dataFolder, const std::string& identity);

// After a run applied a whole answer: drops the Previous line.
void ConfirmStoreIdentity(const std::string& dataFolder);
