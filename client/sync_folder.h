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
// Keys. The id map holds server key -> item, one server key per item and one item
// per server key; it is read from its file when the folder is attached and written
// by SaveIdMap (atomically) or extended by a journalled MapKey (one appended line;
// "key=" drops a key). An entry that an older version wrote (a plain object
// identifier) is taken for this store; while its item is gone it stays in that form
// and is deleted on the desktop only when the snapshot shows the deletion. Items
// sent as Add whose key has not come back are kept in a list of their own (file
// "<folder>.sent", one ClientID per line), so a lost answer never loses track of
// them: they go as Add again, and when they are deleted, as Delete by ClientID.
//
// A folder is on its first run when its snapshot or its id-map file is missing when
// the folder is made; the run then asks the server for every item (Reset) and
// incoming items may be matched by name to local items that hold no key.
//
// A folder and its items belong to one thread at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "client/folder_run.h"
#include "client/state_files.h"
#include "client/sync_item.h"
#include "client/unanswered_fields.h"
#include "platform/pocketoutlook/pocket_outlook.h"

class SyncFolder {
public:
    // kind: kKindContacts, kKindTasks or kKindAppointments. Paths as given; the
    // list of sent Adds lies beside the id map ("tasks.txt" -> "tasks.sent").
    SyncFolder(int kind, std::string clientId, std::string name, std::string snapshotPath,
               std::string idMapPath);

    // The folders of a run, in their order, with paths in dataFolder.
    static std::vector<std::unique_ptr<SyncFolder>> MakeRunFolders(const std::string& dataFolder);

    // Takes the PIM default folder of the kind from app (which must outlive the
    // folder's use) and reads the id map and the list of sent Adds for app's store.
    // False when the application has none.
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
    const std::string& SentAddsPath() const { return sentPath_; }
    const std::string& StoreIdentity() const { return store_; }

    // An empty item of the folder's kind (no PIM item behind it).
    std::unique_ptr<SyncItem> NewItem() const;
    // The item of that identifier in this folder; its PIM item is empty when there
    // is none.
    std::unique_ptr<SyncItem> ItemForOid(long oid);
    bool Exists(long oid) { return ItemForOid(oid)->HasItem(); }
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

    // ---- Keys ----
    // "<oid>@<store identity>".
    std::string ClientIdOf(long oid) const;
    // The object identifier a ClientID names in this folder's store (a plain
    // identifier counts); 0 for any other text.
    long OidOfClientId(std::string_view clientId) const;
    // The item's server key, or the empty text.
    std::string KeyOf(long oid) const;
    // The item a server key names; 0 when none.
    long OidOfKey(const std::string& key) const;
    enum class MapResult {
        kMapped,   // recorded (an earlier key of the item was dropped)
        kSame,     // already so
        kKeyTaken  // the key names another item: nothing changed
    };
    // Records key -> oid for a well-formed key (a malformed one is kKeyTaken: never
    // recorded). journal: appends the change to the id-map file at once.
    MapResult MapKey(const std::string& key, long oid, bool journal = false);
    void DropKey(const std::string& key);
    // Server keys of items that are gone from the PIM store, that this version
    // mapped and that the snapshot does not show (see above), in key order.
    std::vector<std::string> GoneKeysOutsideSnapshot();
    size_t KeyCount() const { return keys_.size(); }
    // The id map as its file holds it: server key -> ClientID text.
    IdMap IdMapText() const;
    bool SaveIdMap() const;

    // Items sent as Add whose key has not come back.
    const std::set<long>& SentAdds() const { return sentAdds_; }
    void NoteSentAdd(long oid) { sentAdds_.insert(oid); }
    void DropSentAdd(long oid) { sentAdds_.erase(oid); }
    bool SaveSentAdds() const;

    // Fields of Modifies sent whose answer was never applied: each goes again with
    // the item's next Modify (unanswered_fields.h), and such an item counts as
    // changed.
    UnansweredFields& Unanswered() { return unanswered_; }
    bool SaveUnanswered() const;

    // How a received item found its local item.
    enum class Target {
        kMapped,     // the item its server key names
        kMatched,    // a local item without a key, by name, on a first run
        kNew,        // a new item
        kRecreated,  // a new item: the one the key named is gone here
    };
    // The local item for a received record with a well-formed server key (how: how
    // it was found). A name match takes the first item of the folder with that
    // match key that holds no server key and was not matched before in this run; an
    // empty key matches nothing.
    std::unique_ptr<SyncItem> FindIncomingItem(const FieldRecord& record,
                                               const std::string& serverKey, Target& how);

    // What the current run did with the folder.
    FolderRun& Run() { return run_; }
    const FolderRun& Run() const { return run_; }

private:
    void BuildNewItemList();
    void ReadKeys();

    struct KeyEntry {
        long oid;
        bool legacy;  // written by an older version and its item is gone
    };

    const ItemKindTable& table_;
    std::string serverId_, clientId_, name_, snapshotPath_, idMapPath_, sentPath_;
    PocketOutlookApplication* app_ = nullptr;
    std::unique_ptr<PimFolder> folder_;
    std::string store_;
    std::map<std::string, KeyEntry> keys_;  // server key -> item
    std::map<long, std::string> keyOfOid_;  // item -> server key
    std::set<long> sentAdds_;
    UnansweredFields unanswered_;
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

    // Match keys of the folder's items without a server key, built at the first
    // name match of a run; an item leaves it when it is matched.
    bool keyIndexBuilt_ = false;
    std::multimap<std::string, long> keyIndex_;  // equal keys in folder order
};
