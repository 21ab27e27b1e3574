// SQLite storage of the PIM store.
#include "platform/pocketoutlook/pim_database.h"

#include <random>
#include <stdexcept>

#include "common/base/text.h"

namespace {
// Resets a statement when the scope ends, so it never holds a read lock.
struct ResetGuard {
    sqlite3_stmt* s;
    ~ResetGuard() {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};
}  // namespace

PimDatabase::PimDatabase(const std::string& path) {
    int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("PIM store " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 10000);
    // WAL with NORMAL sync: a commit survives a crash of the process; only a power loss
    // can take the last commits (never a half-written item), and saves stay cheap.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL") ||
        !Exec("CREATE TABLE IF NOT EXISTS items(oid INTEGER PRIMARY KEY AUTOINCREMENT,"
              " folder INTEGER NOT NULL)") ||
        !Exec("CREATE TABLE IF NOT EXISTS props(oid INTEGER NOT NULL, name TEXT NOT NULL,"
              " value, PRIMARY KEY(oid, name)) WITHOUT ROWID") ||
        !Exec("CREATE INDEX IF NOT EXISTS items_folder ON items(folder, oid)") ||
        !Exec("CREATE TABLE IF NOT EXISTS store(name TEXT PRIMARY KEY, value TEXT NOT NULL)") ||
        !ReadIdentity()) {
        std::string message = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("PIM store " + path + ": " + message);
    }
    // Recurring appointments (pim_recurrence_store.h): added to older files in place.
    if (!CreateRecurrenceTables(db_)) {
        std::string message = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("PIM store " + path + ": " + message);
    }
    recurrences_ = std::make_unique<PimRecurrenceStore>(db_);
}

PimDatabase::~PimDatabase() {
    list_.reset();
    folderOf_.reset();
    load_.reset();
    insertItem_.reset();
    deleteProps_.reset();
    insertProp_.reset();
    deleteItem_.reset();
    recurrences_.reset();
    sqlite3_close(db_);
}

bool PimDatabase::ReadIdentity() {
    // Two processes opening a new store at once: the first insert wins, both read it.
    std::random_device random;
    std::string fresh;
    for (int i = 0; i < 16; ++i) fresh += kUpperHexDigits[random() % 16];
    try {
        Stmt insert, select;
        sqlite3_stmt* s =
            Prepare(insert, "INSERT OR IGNORE INTO store(name, value) VALUES('identity', ?)");
        sqlite3_bind_text(s, 1, fresh.data(), static_cast<int>(fresh.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(s) != SQLITE_DONE) return false;
        s = Prepare(select, "SELECT value FROM store WHERE name='identity'");
        if (sqlite3_step(s) != SQLITE_ROW) return false;
        const unsigned char* text = sqlite3_column_text(s, 0);
        identity_ = text ? reinterpret_cast<const char*>(text) : "";
    } catch (const std::exception&) {
        return false;
    }
    return !identity_.empty();
}

bool PimDatabase::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3_stmt* PimDatabase::Prepare(Stmt& slot, const char* sql) {
    if (!slot) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("PIM store: ") + sqlite3_errmsg(db_));
        }
        slot.reset(s);
    }
    return slot.get();
}

std::vector<long> PimDatabase::ListFolder(int folder) {
    sqlite3_stmt* s = Prepare(list_, "SELECT oid FROM items WHERE folder=? ORDER BY oid");
    ResetGuard guard{s};
    sqlite3_bind_int(s, 1, folder);
    std::vector<long> oids;
    while (sqlite3_step(s) == SQLITE_ROW)
        oids.push_back(static_cast<long>(sqlite3_column_int64(s, 0)));
    return oids;
}

int PimDatabase::FolderOf(long oid) {
    sqlite3_stmt* s = Prepare(folderOf_, "SELECT folder FROM items WHERE oid=?");
    ResetGuard guard{s};
    sqlite3_bind_int64(s, 1, oid);
    return sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : 0;
}

PimValues PimDatabase::Load(long oid) {
    sqlite3_stmt* s = Prepare(load_, "SELECT name, value FROM props WHERE oid=?");
    ResetGuard guard{s};
    sqlite3_bind_int64(s, 1, oid);
    PimValues values;
    while (sqlite3_step(s) == SQLITE_ROW) {
        std::string name(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        switch (sqlite3_column_type(s, 1)) {
            case SQLITE_INTEGER:
                values[name] = static_cast<long long>(sqlite3_column_int64(s, 1));
                break;
            case SQLITE_FLOAT:
                values[name] = sqlite3_column_double(s, 1);
                break;
            default: {
                const unsigned char* text = sqlite3_column_text(s, 1);
                values[name] = std::string(text ? reinterpret_cast<const char*>(text) : "",
                                           static_cast<size_t>(sqlite3_column_bytes(s, 1)));
            }
        }
    }
    return values;
}

std::optional<PimRecurrence> PimDatabase::LoadRecurrence(long oid) {
    return recurrences_->Load(oid);
}

bool PimDatabase::BeginWrite() {
    if (!batch_) return Exec("BEGIN IMMEDIATE");
    return !batchFailed_ && Exec("SAVEPOINT item");
}

bool PimDatabase::EndWrite(bool ok) {
    if (!batch_) {
        if (ok && Exec("COMMIT")) return true;
        Exec("ROLLBACK");
        return false;
    }
    if (!ok) {
        Exec("ROLLBACK TO item");
        Exec("RELEASE item");
        return false;
    }
    if (!Exec("RELEASE item")) return false;
    if (++batchSaves_ < batchBound_) return true;
    batchSaves_ = 0;
    if (Exec("COMMIT") && Exec("BEGIN IMMEDIATE")) return true;
    Exec("ROLLBACK");
    batchFailed_ = true;
    return false;
}

bool PimDatabase::BeginBatch(int bound) {
    if (batch_ || !Exec("BEGIN IMMEDIATE")) return false;
    batch_ = true;
    batchBound_ = bound < 1 ? 1 : bound;
    batchSaves_ = 0;
    batchFailed_ = false;
    return true;
}

bool PimDatabase::CommitBatch() {
    if (!batch_) return false;
    batch_ = false;
    if (!batchFailed_ && Exec("COMMIT")) return true;
    Exec("ROLLBACK");
    return false;
}

void PimDatabase::AbortBatch() {
    if (!batch_) return;
    batch_ = false;
    Exec("ROLLBACK");
}

long PimDatabase::Save(long oid, int folder, const PimValues& values,
                       const std::optional<PimRecurrence>* recurrence) {
    if (!BeginWrite()) return 0;
    bool ok = true;
    if (oid == 0) {
        sqlite3_stmt* s = Prepare(insertItem_, "INSERT INTO items(folder) VALUES(?)");
        ResetGuard guard{s};
        sqlite3_bind_int(s, 1, folder);
        ok = sqlite3_step(s) == SQLITE_DONE;
        oid = static_cast<long>(sqlite3_last_insert_rowid(db_));
    } else {
        ok = FolderOf(oid) == folder;  // an item deleted meanwhile is not brought back
    }
    if (ok) {
        sqlite3_stmt* s = Prepare(deleteProps_, "DELETE FROM props WHERE oid=?");
        ResetGuard guard{s};
        sqlite3_bind_int64(s, 1, oid);
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    for (auto it = values.begin(); ok && it != values.end(); ++it) {
        sqlite3_stmt* s = Prepare(insertProp_, "INSERT INTO props(oid, name, value) VALUES(?,?,?)");
        ResetGuard guard{s};
        sqlite3_bind_int64(s, 1, oid);
        sqlite3_bind_text(s, 2, it->first.data(), static_cast<int>(it->first.size()),
                          SQLITE_TRANSIENT);
        if (const auto* text = std::get_if<std::string>(&it->second)) {
            sqlite3_bind_text(s, 3, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
        } else if (const auto* number = std::get_if<long long>(&it->second)) {
            sqlite3_bind_int64(s, 3, *number);
        } else {
            sqlite3_bind_double(s, 3, std::get<double>(it->second));
        }
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    if (ok && recurrence) ok = recurrences_->Save(oid, *recurrence);
    return EndWrite(ok) ? oid : 0;
}

bool PimDatabase::Delete(long oid) {
    if (!BeginWrite()) return false;
    bool ok;
    int changes = 0;
    {
        sqlite3_stmt* s = Prepare(deleteProps_, "DELETE FROM props WHERE oid=?");
        ResetGuard guard{s};
        sqlite3_bind_int64(s, 1, oid);
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    if (ok) {
        sqlite3_stmt* s = Prepare(deleteItem_, "DELETE FROM items WHERE oid=?");
        ResetGuard guard{s};
        sqlite3_bind_int64(s, 1, oid);
        ok = sqlite3_step(s) == SQLITE_DONE;
        changes = sqlite3_changes(db_);
    }
    if (ok) ok = recurrences_->Save(oid, std::nullopt);
    return EndWrite(ok && changes > 0);
}
