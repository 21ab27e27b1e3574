// Thin RAII wrappers over SQLite: a connection, a prepared statement and a write
// transaction. Errors map to MAPI codes (SqliteError).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/mapi/mapi_codes.h"

namespace mapistore {

// MAPI code for an SQLite result: BUSY/LOCKED -> MAPI_E_BUSY, NOTADB/CORRUPT ->
// MAPI_E_CORRUPT_STORE, FULL -> MAPI_E_NOT_ENOUGH_DISK, NOMEM -> MAPI_E_NOT_ENOUGH_MEMORY,
// TOOBIG -> MAPI_E_TOO_BIG, other errors -> MAPI_E_DISK_ERROR.
HRESULT SqliteError(int rc);

class SqliteStmt;

// One open database connection. Not thread-safe: the store lock guards it.
class SqliteDb {
public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Opens an existing file read-write (create: the file may be new).
    HRESULT Open(const std::string& path, bool create);
    void Close();
    sqlite3* handle() const { return db_; }
    // Runs statements without results.
    HRESULT Exec(const char* sql);
    // Runs one statement without results, prepared on its first use and kept until
    // Close (the few statements every save runs: SAVEPOINT, RELEASE, ROLLBACK TO).
    HRESULT ExecKept(std::string_view sql);

    // Lets write transactions on this connection join the calling thread's write
    // batch (write_batch.h): owner keeps the connection alive while a batch holds it,
    // mutex is the lock that guards it (held by the batch from its first save to its
    // end), and rolledBack is called (under that lock) when a batch's transaction is
    // rolled back, so caches of what it wrote can be dropped. Without this call a
    // connection never joins a batch.
    void EnableBatches(std::weak_ptr<void> owner, std::recursive_mutex* mutex,
                       std::function<void()> rolledBack);
    bool Batchable() const { return batchMutex_ != nullptr; }
    std::shared_ptr<void> BatchOwner() const { return batchOwner_.lock(); }
    std::recursive_mutex* BatchMutex() const { return batchMutex_; }
    void NotifyRolledBack() const {
        if (rolledBack_) rolledBack_();
    }
    // Bytes of values written, counted toward the size bound of the open batch.
    void NoteWritten(std::uint64_t bytes) { written_ += bytes; }
    std::uint64_t Written() const { return written_; }

    // Bookkeeping of WriteTransaction inside a batch: whether this connection's
    // transaction belongs to a batch, and how deep its open saves are nested.
    bool inBatch = false;
    int savepointDepth = 0;
    // A read snapshot (read_snapshot.h) has its transaction open on this connection.
    bool inReadSnapshot = false;
    // Ends the open read snapshot's transaction, so that a write transaction can
    // begin (the snapshot then reads what is written).
    void EndReadSnapshot();

private:
    sqlite3* db_ = nullptr;
    std::vector<std::pair<std::string, std::unique_ptr<SqliteStmt>>> kept_;
    std::weak_ptr<void> batchOwner_;
    std::recursive_mutex* batchMutex_ = nullptr;
    std::function<void()> rolledBack_;
    std::uint64_t written_ = 0;
};

class SqliteStmt {
public:
    SqliteStmt() = default;
    SqliteStmt(SqliteDb& db, std::string_view sql) { Prepare(db, sql); }
    ~SqliteStmt();
    SqliteStmt(const SqliteStmt&) = delete;
    SqliteStmt& operator=(const SqliteStmt&) = delete;

    HRESULT Prepare(SqliteDb& db, std::string_view sql);
    HRESULT status() const { return status_; }
    // Resets for another run and clears the bindings.
    void Reset();

    void BindInt(int index, std::int64_t value);
    void BindDouble(int index, double value);
    void BindText(int index, std::string_view text);
    void BindBlob(int index, std::string_view bytes);
    // Without a copy: the bytes must stay unchanged until the statement is reset.
    void BindTextRef(int index, std::string_view text);
    void BindBlobRef(int index, std::string_view bytes);
    void BindNull(int index);

    // True while a row is there; after false, status() tells why it ended (S_OK or error).
    bool Step();
    // Runs a statement without rows: S_OK or the error.
    HRESULT Run();

    int ColumnType(int col) const;
    std::int64_t ColumnInt(int col) const;
    double ColumnDouble(int col) const;
    std::string ColumnText(int col) const;
    std::string ColumnBlob(int col) const;
    // Into an existing string, keeping its capacity.
    void ColumnBlobInto(int col, std::string& out) const;
    void ColumnTextInto(int col, std::string& out) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
    HRESULT status_ = MAPI_E_CALL_FAILED;
};

// One save: BEGIN IMMEDIATE ... COMMIT; rolls back when destroyed without Commit.
// While the calling thread has a write batch open (write_batch.h) and the
// connection allows it, the save is a savepoint inside the batch's transaction
// instead: Commit releases it into the batch (which may then commit on its own at
// its size bound), destruction without Commit rolls back this save only.
// A save that only adds rows (new objects) can be undone by removing them again:
// opened with kAddsOnly it opens no savepoint in a batch (a savepoint copies every
// page the save changes before changing it), and when it ends without Commit the
// undo given to UndoBy runs instead; should that fail, the batch loses its saves in
// this store (as when SQLite rolls its transaction back on its own).
// Call under the lock that guards db.
class WriteTransaction {
public:
    enum Kind { kAnyChange, kAddsOnly };
    explicit WriteTransaction(SqliteDb& db, Kind kind = kAnyChange);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    HRESULT status() const { return status_; }
    HRESULT Commit();
    // For kAddsOnly: removes what the save added so far. It must not throw.
    void UndoBy(std::function<HRESULT()> undo) { undo_ = std::move(undo); }

private:
    void UndoAdds();

    SqliteDb& db_;
    HRESULT status_;
    bool open_ = false;
    bool batched_ = false;
    bool savepoint_ = false;
    std::function<HRESULT()> undo_;
};

}  // namespace mapistore
