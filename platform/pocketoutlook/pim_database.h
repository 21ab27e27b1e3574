// The SQLite file behind the PIM store (internal to platform/pocketoutlook).
//
// Schema: items(oid INTEGER PRIMARY KEY AUTOINCREMENT, folder) and
// props(oid, name, value) with the value stored as TEXT, INTEGER or REAL by the
// property's type; the recurrence tables of pim_recurrence_store.h; store(name, value) holds the
// row "identity": 16 upper-case hexadecimal digits drawn at random when the file is made (or first
// opened by a version that knows it), never changed afterwards, so a recreated store never takes
// the identity of the one before it. AUTOINCREMENT keeps object identifiers from being reused after
// a delete, so an identifier a peer remembers never names another item. WAL mode and a busy timeout
// let several processes (the client, the pim command) share the file.
//
// Thread-safety: one PimDatabase belongs to one thread at a time.
#pragma once

#include <sqlite3.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/pocketoutlook/pim_recurrence.h"
#include "platform/pocketoutlook/pim_recurrence_store.h"

using PimValue = std::variant<std::string, long long, double>;
using PimValues = std::map<std::string, PimValue>;  // property name -> stored value

class PimDatabase {
public:
    // Opens (creating when missing) the store file; throws std::runtime_error with
    // SQLite's message when it cannot be opened or its schema cannot be made.
    explicit PimDatabase(const std::string& path);
    ~PimDatabase();
    PimDatabase(const PimDatabase&) = delete;
    PimDatabase& operator=(const PimDatabase&) = delete;

    // Object identifiers of a folder in creation order.
    std::vector<long> ListFolder(int folder);
    // Folder of an item; 0 when the identifier names no item.
    int FolderOf(long oid);
    // Loads every stored property of an item.
    PimValues Load(long oid);
    // Writes the item's properties in one transaction: a new item (oid 0) gets its
    // identifier first. Returns the identifier, 0 on failure (nothing written).
    // recurrence, when given, replaces the item's recurrence in the same
    // transaction (an empty optional removes it); null leaves it as stored.
    long Save(long oid, int folder, const PimValues& values,
              const std::optional<PimRecurrence>* recurrence = nullptr);
    // Deletes item, properties and recurrence in one transaction. False when nothing
    // was deleted.
    bool Delete(long oid);
    // The item's recurrence (pim_recurrence_store.h); nothing for a single item.
    // Throws std::runtime_error on an SQLite error.
    std::optional<PimRecurrence> LoadRecurrence(long oid);
    // The store's identity (see above).
    const std::string& Identity() const { return identity_; }

    // A write batch: from BeginBatch until CommitBatch or AbortBatch every Save and
    // Delete joins one transaction (each in a savepoint of its own, so one that fails
    // is undone alone), committed every bound saves and by CommitBatch, so many
    // saves cost few commits. Other connections wait for the store meanwhile (the
    // busy timeout), at most for bound saves. False when a batch is open already or
    // the store cannot be locked.
    bool BeginBatch(int bound);
    // Commits and ends the batch. False when this commit or one at the bound failed:
    // what was not committed is lost (saves after a failed commit at the bound fail).
    bool CommitBatch();
    // Rolls back what is not committed and ends the batch.
    void AbortBatch();

private:
    struct StmtDeleter {
        void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
    };
    using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;
    sqlite3_stmt* Prepare(Stmt& slot, const char* sql);
    bool Exec(const char* sql);
    bool ReadIdentity();
    // One write: its own transaction, or a savepoint of the batch.
    bool BeginWrite();
    bool EndWrite(bool ok);

    // The open batch: its bound, saves since its last commit, and whether a commit
    // at the bound failed.
    bool batch_ = false;
    int batchBound_ = 0;
    int batchSaves_ = 0;
    bool batchFailed_ = false;

    sqlite3* db_ = nullptr;
    std::string identity_;
    Stmt list_, folderOf_, load_, insertItem_, deleteProps_, insertProp_, deleteItem_;
    std::unique_ptr<PimRecurrenceStore> recurrences_;  // on db_, gone before it closes
};
