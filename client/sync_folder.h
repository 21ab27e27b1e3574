// SyncFolder: one PIM folder (contacts, tasks or calendar) taking part in a sync run.
//
// The change scan (BeginChanges, NextChange) compares the folder with its snapshot:
// records whose item still exists are compared field by field (EqualsSnapshot) and a
// changed item comes back as modified; items that the snapshot does not know come
// back as added, in the folder's order, once the snapshot is read. Items that are in
// the snapshot but gone from the folder are not returned; the scan lists them in
// Run().gone (the device's deletions) and keeps every record it read in
// Run().oldRecords. Without a snapshot every item is new. The snapshot file is
// closed when the scan ends, and at the latest when the folder is destroyed or a new
// scan begins.
//
// The server-id map holds server ID -> client ID for items the server knows; it is
// read from its file when the folder is made and written by SaveIdMap (atomically)
// or extended by JournalServerId (one appended line).
//
// A folder is on its first run when its snapshot or its id-map file is missing when
// the folder is made; the run then asks the server for every item (Reset).
//
// A folder and its items belong to one thread at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "client/folder_run.h"
#include "client/state_files.h"
#include "client/sync_item.h"
#include "platform/pocketoutlook/pocket_outlook.h"

class SyncFolder {
public:
    // kind: kKindContacts, kKindTasks or kKindAppointments. Paths as given.
    SyncFolder(int kind, std::string clientId, std::string name, std::string snapshotPath,
               std::string idMapPath);

    // The folders of a run, in their order, with paths in dataFolder.
    static std::vector<std::unique_ptr<SyncFolder>> MakeRunFolders(const std::string& dataFolder);

    // Takes the PIM default folder of the kind from app (which must outlive the
    // folder's use). False when the application has none.
    bool Attach(PocketOutlookApplication& app);
    bool IsAttached() const { return folder_ != nullptr; }

    int Kind() const { return table_.kind; }
    const ItemKindTable& Table() const { return table_; }
    const std::string& ServerId() const { return serverId_; }
    const std::string& ClientId() const { return clientId_; }
    const std::string& Name() const { return name_; }
    // The folder's name in the sync report: "Contacts", "Tasks", "Calendar".
    std::string ReportName() const;
    bool IsFirstRun() const { return firstRun_; }
    // "Contacts", "Task", "Appointment" (and for other kinds "Journal", "Email",
    // "Files", or the empty text).
    std::string KindName() const { return KindNameOf(table_.kind); }
    static std::string KindNameOf(int kind);
    uint8_t IsDefault() const { return 1; }
    const std::string& SnapshotPath() const { return snapshotPath_; }
    const std::string& IdMapPath() const { return idMapPath_; }

    // An empty item of the folder's kind (no PIM item behind it).
    std::unique_ptr<SyncItem> NewItem() const;
    // The item of that identifier in this folder; its PIM item is empty when there
    // is none.
    std::unique_ptr<SyncItem> ItemForOid(long oid);
    int ItemCount();

    // Writes a snapshot of every item to path (or the folder's snapshot path). False
    // when it could not be written; the old snapshot then stays. stop, when given and
    // set while the items are written, abandons the snapshot the same way.
    bool SaveSnapshot(const std::string& path = std::string(),
                      const std::atomic<bool>* stop = nullptr);
    // Writes the snapshot after a run's answer from Run() (see folder_run.h); when
    // the run did not scan the folder, the same as SaveSnapshot. False when it could
    // not be written (the old snapshot then stays).
    bool SaveRunSnapshot();
    // The snapshot record of an item as it is now.
    std::string SnapshotRecord(const SyncItem& item) const;

    // Starts the change scan; start is the run's start, for the status text.
    void BeginChanges(std::chrono::steady_clock::time_point start);
    // The next changed item (state kChangeAdded or kChangeModified), or null at the end.
    std::unique_ptr<SyncItem> NextChange();
    // Ends the scan early; closes the snapshot file.
    void EndChanges();
    int ChangesFound() const { return changes_; }

    // The local item for a received record: by the server-id map, then by match key
    // (the first item of the folder with that key; an empty key matches nothing),
    // else a new item of the folder.
    std::unique_ptr<SyncItem> FindIncomingItem(const FieldRecord& record,
                                               const std::string& serverId);
    // Records server ID -> client ID (an existing entry is replaced: the item the
    // server ID was last applied to is the one it names).
    void RecordServerId(const std::string& serverId, const std::string& clientId);
    // Records as RecordServerId and appends the entry to the id-map file at once.
    void JournalServerId(const std::string& serverId, const std::string& clientId);
    // Forgets a server ID.
    void DropServerId(const std::string& serverId) { idMap_.erase(serverId); }
    // Client ID -> the server IDs naming it, in map order.
    std::map<std::string, std::vector<std::string>> ReverseIdMap() const;
    bool SaveIdMap() const;
    const IdMap& ServerIdMap() const { return idMap_; }

    // What the current run did with the folder.
    FolderRun& Run() { return run_; }
    const FolderRun& Run() const { return run_; }

private:
    void BuildNewItemList();

    const ItemKindTable& table_;
    std::string serverId_, clientId_, name_, snapshotPath_, idMapPath_;
    PocketOutlookApplication* app_ = nullptr;
    std::unique_ptr<PimFolder> folder_;
    IdMap idMap_;
    bool firstRun_ = false;
    FolderRun run_;

    // Change scan state.
    SnapshotReader snapshot_;
    std::chrono::steady_clock::time_point start_;
    int changes_ = 0;
    std::set<long> seen_;
    std::vector<long> newItems_;
    size_t newPos_ = 0;
    bool newListBuilt_ = false;

    // Match keys of the folder's items, built at the first FindIncomingItem.
    bool keyIndexBuilt_ = false;
    std::map<std::string, long> keyIndex_;
};
