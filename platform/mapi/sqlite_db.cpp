// SQLite connection, statement and transaction wrappers.
#include "platform/mapi/sqlite_db.h"

#include "platform/mapi/write_batch.h"

namespace mapistore {

namespace {
constexpr int kBusyTimeoutMs = 10000;

// out holds the n bytes at p, or nothing when p is null (a NULL column).
void AssignColumnBytes(std::string& out, const char* p, int n) {
    if (p == nullptr)
        out.clear();
    else
        out.assign(p, static_cast<std::size_t>(n));
}
}  // namespace

HRESULT SqliteError(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW:
            return S_OK;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return MAPI_E_BUSY;
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_FORMAT:
            return MAPI_E_CORRUPT_STORE;
        case SQLITE_FULL:
            return MAPI_E_NOT_ENOUGH_DISK;
        case SQLITE_NOMEM:
            return MAPI_E_NOT_ENOUGH_MEMORY;
        case SQLITE_TOOBIG:
            return MAPI_E_TOO_BIG;
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_AUTH:
            return MAPI_E_NO_ACCESS;
        case SQLITE_CANTOPEN:
            return MAPI_E_NOT_FOUND;
        default:
            return MAPI_E_DISK_ERROR;
    }
}

SqliteDb::~SqliteDb() { Close(); }

HRESULT SqliteDb::Open(const std::string& path, bool create) {
    Close();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        Close();
        return SqliteError(rc);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    return S_OK;
}

void SqliteDb::Close() {
    kept_.clear();
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

HRESULT SqliteDb::Exec(const char* sql) {
    if (db_ == nullptr) return MAPI_E_CALL_FAILED;
    return SqliteError(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

void SqliteDb::EndReadSnapshot() {
    if (!inReadSnapshot) return;
    inReadSnapshot = false;
    // The transaction only read: a COMMIT refused loses nothing by the rollback.
    if (FAILED(Exec("COMMIT"))) Exec("ROLLBACK");
}

HRESULT SqliteDb::ExecKept(std::string_view sql) {
    if (db_ == nullptr) return MAPI_E_CALL_FAILED;
    for (auto& [text, kept] : kept_) {
        if (text != sql) continue;
        kept->Reset();
        return kept->Run();
    }
    auto stmt = std::make_unique<SqliteStmt>(*this, sql);
    if (FAILED(stmt->status())) return stmt->status();  // not kept: prepared again next time
    HRESULT hr = stmt->Run();
    kept_.emplace_back(std::string(sql), std::move(stmt));
    return hr;
}

SqliteStmt::~SqliteStmt() { sqlite3_finalize(stmt_); }

HRESULT SqliteStmt::Prepare(SqliteDb& db, std::string_view sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    if (db.handle() == nullptr) return status_ = MAPI_E_CALL_FAILED;
    int rc =
        sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    status_ = rc == SQLITE_OK ? S_OK : SqliteError(rc);
    return status_;
}

void SqliteStmt::Reset() {
    if (stmt_ == nullptr) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    status_ = S_OK;
}

void SqliteStmt::BindInt(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
void SqliteStmt::BindDouble(int index, double value) { sqlite3_bind_double(stmt_, index, value); }
void SqliteStmt::BindText(int index, std::string_view text) {
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}
void SqliteStmt::BindBlob(int index, std::string_view bytes) {
    sqlite3_bind_blob64(stmt_, index, bytes.empty() ? "" : bytes.data(), bytes.size(),
                        SQLITE_TRANSIENT);
}
void SqliteStmt::BindTextRef(int index, std::string_view text) {
    sqlite3_bind_text64(stmt_, index, text.empty() ? "" : text.data(), text.size(), SQLITE_STATIC,
                        SQLITE_UTF8);
}
void SqliteStmt::BindBlobRef(int index, std::string_view bytes) {
    sqlite3_bind_blob64(stmt_, index, bytes.empty() ? "" : bytes.data(), bytes.size(),
                        SQLITE_STATIC);
}
void SqliteStmt::BindNull(int index) { sqlite3_bind_null(stmt_, index); }

bool SqliteStmt::Step() {
    if (stmt_ == nullptr) return false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    status_ = rc == SQLITE_DONE ? S_OK : SqliteError(rc);
    return false;
}

HRESULT SqliteStmt::Run() {
    if (stmt_ == nullptr) return status_;
    while (Step()) {
    }
    HRESULT hr = status_;
    sqlite3_reset(stmt_);
    return hr;
}

int SqliteStmt::ColumnType(int col) const { return sqlite3_column_type(stmt_, col); }
std::int64_t SqliteStmt::ColumnInt(int col) const { return sqlite3_column_int64(stmt_, col); }
double SqliteStmt::ColumnDouble(int col) const { return sqlite3_column_double(stmt_, col); }
std::string SqliteStmt::ColumnText(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}
std::string SqliteStmt::ColumnBlob(int col) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, col));
    int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}

void SqliteStmt::ColumnBlobInto(int col, std::string& out) const {
    // The bytes are asked for after the pointer, which may convert the value first.
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, col));
    AssignColumnBytes(out, p, sqlite3_column_bytes(stmt_, col));
}

void SqliteStmt::ColumnTextInto(int col, std::string& out) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    AssignColumnBytes(out, p, sqlite3_column_bytes(stmt_, col));
}

void SqliteDb::EnableBatches(std::weak_ptr<void> owner, std::recursive_mutex* mutex,
                             std::function<void()> rolledBack) {
    batchOwner_ = std::move(owner);
    batchMutex_ = mutex;
    rolledBack_ = std::move(rolledBack);
}

WriteTransaction::WriteTransaction(SqliteDb& db, Kind kind) : db_(db) {
    // A read snapshot of this thread gives way: the save begins a write transaction.
    db_.EndReadSnapshot();
    HRESULT hr = S_OK;
    if (JoinThreadBatch(db_, hr)) {
        batched_ = true;
        savepoint_ = kind == kAnyChange;
        if (SUCCEEDED(hr) && savepoint_) hr = db_.ExecKept("SAVEPOINT save");
        status_ = hr;
        open_ = status_ == S_OK;
        if (open_) ++db_.savepointDepth;
        return;
    }
    status_ = db_.Exec("BEGIN IMMEDIATE");
    open_ = status_ == S_OK;
}

WriteTransaction::~WriteTransaction() {
    if (!open_) return;
    if (!batched_) {
        db_.Exec("ROLLBACK");
        return;
    }
    --db_.savepointDepth;
    if (savepoint_) {
        db_.ExecKept("ROLLBACK TO save");
        db_.ExecKept("RELEASE save");
    } else {
        UndoAdds();
    }
    // Some failures (disk full, I/O errors) make SQLite roll back the whole
    // transaction, and with it every save of the batch in this store.
    if (db_.inBatch && sqlite3_get_autocommit(db_.handle()) != 0) BatchTransactionLost(db_);
}

void WriteTransaction::UndoAdds() {
    if (!undo_ || sqlite3_get_autocommit(db_.handle()) != 0) return;
    HRESULT hr = MAPI_E_CALL_FAILED;
    try {
        hr = undo_();
    } catch (...) {
        hr = MAPI_E_CALL_FAILED;
    }
    // What cannot be taken out again goes with the whole transaction.
    if (FAILED(hr)) db_.Exec("ROLLBACK");
}

HRESULT WriteTransaction::Commit() {
    if (!open_) return status_ == S_OK ? MAPI_E_CALL_FAILED : status_;
    if (batched_) {
        if (savepoint_) {
            HRESULT hr = db_.ExecKept("RELEASE save");
            if (hr != S_OK) return hr;  // destructor rolls back
        }
        open_ = false;
        if (--db_.savepointDepth != 0) return S_OK;
        if (sqlite3_get_autocommit(db_.handle()) != 0) {
            BatchTransactionLost(db_);
            return MAPI_E_DISK_ERROR;
        }
        return SaveJoinedBatch(db_);
    }
    HRESULT hr = db_.Exec("COMMIT");
    if (hr == S_OK) {
        open_ = false;
        return S_OK;
    }
    return hr;  // destructor rolls back
}

}  // namespace mapistore
