// The store database: opening, entry identifiers, objects and their properties.
#include "platform/mapi/store_db.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace mapistore {

namespace {

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, std::weak_ptr<StoreDb>>& Registry() {
    static std::map<std::string, std::weak_ptr<StoreDb>> r;
    return r;
}

// Chunk rows of large values; files made before them get them when opened.
constexpr const char* kBlobSchema = R"sql(
CREATE TABLE IF NOT EXISTS blobs(id INTEGER PRIMARY KEY AUTOINCREMENT, size INTEGER NOT NULL,
  chunk INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS chunks(blob INTEGER NOT NULL, seq INTEGER NOT NULL, data BLOB NOT NULL,
  PRIMARY KEY(blob, seq)) WITHOUT ROWID;
CREATE TRIGGER IF NOT EXISTS props_blob_gone AFTER DELETE ON props
  WHEN OLD.type = 258 AND typeof(OLD.val) = 'integer' BEGIN
  DELETE FROM chunks WHERE blob = OLD.val;
  DELETE FROM blobs WHERE id = OLD.val;
END;
)sql";

// A large value in the chunk rows of one store. Reads take the store's lock; a
// blob replaced or removed meanwhile reads as MAPI_E_OBJECT_DELETED (ids are not
// used twice).
class StoredBlob : public LargeBytes {
public:
    StoredBlob(std::shared_ptr<StoreDb> store, std::int64_t blob, std::uint64_t size,
               std::uint64_t chunk)
        : store_(std::move(store)), blob_(blob), size_(size), chunk_(chunk) {}

    std::uint64_t Size() const override { return size_; }
    HRESULT ReadAt(std::uint64_t offset, std::size_t n, std::string& out) const override {
        out.clear();
        if (offset >= size_ || n == 0) return S_OK;
        std::lock_guard<std::recursive_mutex> lock(store_->mutex());
        const auto seq = static_cast<std::int64_t>(offset / chunk_);
        if (seq != cachedSeq_) {
            // Readers go front to back in pieces smaller than a chunk: one chunk is kept.
            cachedSeq_ = -1;
            SqliteStmt& q = store_->Cached("SELECT data FROM chunks WHERE blob = ?1 AND seq = ?2");
            if (FAILED(q.status())) return q.status();
            q.BindInt(1, blob_);
            q.BindInt(2, seq);
            if (!q.Step()) return FAILED(q.status()) ? q.status() : MAPI_E_OBJECT_DELETED;
            q.ColumnBlobInto(0, cached_);
            q.Reset();
            cachedSeq_ = seq;
        }
        const auto within = static_cast<std::size_t>(offset % chunk_);
        if (within >= cached_.size()) return MAPI_E_CORRUPT_STORE;
        out.assign(cached_, within, std::min<std::size_t>(n, cached_.size() - within));
        return S_OK;
    }

    const StoreDb* store() const { return store_.get(); }
    std::int64_t blob() const { return blob_; }

private:
    std::shared_ptr<StoreDb> store_;
    std::int64_t blob_;
    std::uint64_t size_;
    std::uint64_t chunk_;
    // The chunk read last, under the store's lock.
    mutable std::string cached_;
    mutable std::int64_t cachedSeq_ = -1;
};

constexpr ULONG kBlobType = PT_BINARY;

}  // namespace

// The terms repeat the index's condition so the planner may use it.
const char* const kFindTextSql =
    "SELECT obj FROM props WHERE pid = ?1 AND val = ?2 AND type = 31 AND length(val) <= 255";

StoreDb::~StoreDb() {
    stmts_.clear();
    db_.Close();
}

HRESULT StoreDb::OpenFile(const std::string& path, bool create) {
    HRESULT hr = db_.Open(path, create);
    if (FAILED(hr)) return hr;
    path_ = path;
    // WAL: readers never wait for the writer, and a killed writer leaves the last
    // committed state. FULL: a committed save survives a power failure as well.
    SqliteStmt wal(db_, "PRAGMA journal_mode=WAL");
    if (FAILED(wal.status())) return wal.status();
    if (!wal.Step()) return FAILED(wal.status()) ? wal.status() : MAPI_E_CORRUPT_STORE;
    if (wal.ColumnText(0) != "wal") return MAPI_E_CORRUPT_STORE;
    hr = db_.Exec("PRAGMA synchronous=FULL");
    if (FAILED(hr)) return hr;
    // A large transaction (a write batch) grows the log; after the checkpoint it is
    // cut back to this size instead of staying as large on disk.
    if (FAILED(hr = db_.Exec("PRAGMA journal_size_limit=67108864"))) return hr;
    // Each save of a write batch is a savepoint, whose undo copies of the pages it
    // changes would otherwise go to a temporary file once past a few pages: kept in
    // memory they cost no writes, and they are dropped when the save is released.
    if (FAILED(hr = db_.Exec("PRAGMA temp_store=MEMORY"))) return hr;
    // A props row replaced (INSERT OR REPLACE) takes its chunk rows along too.
    return db_.Exec("PRAGMA recursive_triggers=ON");
}

HRESULT StoreDb::EnsureBlobTables() {
    SqliteStmt q(db_, "SELECT count(*) FROM sqlite_master WHERE name = 'props_blob_gone'");
    if (FAILED(q.status())) return q.status();
    if (!q.Step()) return FAILED(q.status()) ? q.status() : MAPI_E_CORRUPT_STORE;
    if (q.ColumnInt(0) == 1) return S_OK;
    WriteTransaction tx(db_);
    HRESULT hr = tx.status();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = db_.Exec(kBlobSchema))) return hr;
    return tx.Commit();
}

HRESULT StoreDb::Open(const std::string& path, const std::string& expectedUid,
                      std::shared_ptr<StoreDb>& out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return MAPI_E_NOT_FOUND;
    if (!S_ISREG(st.st_mode)) return MAPI_E_CORRUPT_STORE;
    char resolved[PATH_MAX];
    std::string key = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;

    std::lock_guard<std::mutex> guard(RegistryMutex());
    auto it = Registry().find(key);
    if (it != Registry().end()) {
        if (auto existing = it->second.lock()) {
            if (!expectedUid.empty() && existing->uid_ != expectedUid) return MAPI_E_CORRUPT_STORE;
            out = existing;
            return S_OK;
        }
    }
    std::shared_ptr<StoreDb> s(new StoreDb);
    HRESULT hr = s->OpenFile(key, false);
    if (FAILED(hr)) return hr == MAPI_E_NOT_FOUND ? MAPI_E_NOT_FOUND : MAPI_E_CORRUPT_STORE;
    // A foreign or damaged file fails one of these checks.
    std::string format, uid;
    std::int64_t version = 0;
    {
        SqliteStmt q(s->db_, "SELECT key, value FROM meta");
        if (FAILED(q.status())) return MAPI_E_CORRUPT_STORE;
        while (q.Step()) {
            std::string k = q.ColumnText(0);
            if (k == "format") format = q.ColumnText(1);
            if (k == "version") version = q.ColumnInt(1);
            if (k == "uid") uid = q.ColumnBlob(1);
        }
        if (FAILED(q.status())) return MAPI_E_CORRUPT_STORE;
    }
    if (format != kStoreFormatName || version != kStoreFormatVersion || uid.size() != kUidBytes)
        return MAPI_E_CORRUPT_STORE;
    if (!expectedUid.empty() && uid != expectedUid) return MAPI_E_CORRUPT_STORE;
    s->uid_ = uid;
    if (FAILED(hr = s->EnsureBlobTables())) return hr == MAPI_E_BUSY ? hr : MAPI_E_CORRUPT_STORE;
    {
        SqliteStmt q(s->db_, "SELECT id, kind FROM objects WHERE parent IS NULL ORDER BY id");
        if (FAILED(q.status())) return MAPI_E_CORRUPT_STORE;
        while (q.Step()) {
            if (q.ColumnInt(1) == MAPI_STORE && s->storeObjectId_ == 0)
                s->storeObjectId_ = q.ColumnInt(0);
            if (q.ColumnInt(1) == MAPI_FOLDER && s->rootId_ == 0) s->rootId_ = q.ColumnInt(0);
        }
        if (FAILED(q.status()) || s->storeObjectId_ == 0 || s->rootId_ == 0)
            return MAPI_E_CORRUPT_STORE;
    }
    // Saves may join a write batch of their thread; a rolled-back batch takes named
    // properties it created with it, so the cache of them is dropped.
    StoreDb* raw = s.get();
    s->db_.EnableBatches(s, &s->mutex_, [raw] { raw->namesById_.clear(); });
    Registry()[key] = s;
    out = std::move(s);
    return S_OK;
}

SqliteStmt& StoreDb::Cached(std::string_view sql) {
    auto it = stmts_.find(sql);
    if (it == stmts_.end()) {
        auto st = std::make_unique<SqliteStmt>(db_, sql);
        it = stmts_.emplace(std::string(sql), std::move(st)).first;
    } else {
        it->second->Reset();
    }
    return *it->second;
}

std::string StoreDb::EntryIdOf(const std::string& objectEid) const {
    std::string id;
    id.reserve(4 + uid_.size() + objectEid.size());
    id.append(4, '\0').append(uid_).append(objectEid);
    return id;
}

std::string StoreDb::StoreEntryId() const { return std::string(4, '\0') + uid_; }

bool StoreDb::SplitEntryId(ULONG cb, const void* entryId, std::string& storeUid,
                           std::string& objectEid) {
    if (entryId == nullptr) return false;
    if (cb != kStoreEntryIdBytes && cb != kObjectEntryIdBytes) return false;
    const auto* p = static_cast<const char*>(entryId);
    if (p[0] != 0 || p[1] != 0 || p[2] != 0 || p[3] != 0) return false;
    storeUid.assign(p + 4, kUidBytes);
    objectEid =
        cb == kObjectEntryIdBytes ? std::string(p + 4 + kUidBytes, kObjectEidBytes) : std::string();
    return true;
}

HRESULT StoreDb::ObjectEidOf(ULONG cb, const void* entryId, std::string& objectEid) const {
    std::string uid;
    if (!SplitEntryId(cb, entryId, uid, objectEid) || uid != uid_ || objectEid.empty())
        return MAPI_E_INVALID_ENTRYID;
    return S_OK;
}

std::string StoreDb::NewRandomBytes(std::size_t n) {
    std::string out(n, '\0');
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::getrandom(out.data() + got, n - got, 0);
        if (r > 0)
            got += static_cast<std::size_t>(r);
        else if (errno != EINTR)
            std::abort();  // no source of randomness: never hand out weak ids
    }
    return out;
}

std::uint64_t StoreDb::NextModificationTime(std::uint64_t previous) {
    std::uint64_t now = FileTimeNow();
    return now > previous ? now : previous + 1;
}

void ReadObjectRow(const SqliteStmt& q, ObjectRow& row) {
    row.id = q.ColumnInt(0);
    q.ColumnBlobInto(1, row.eid);
    row.kind = static_cast<ULONG>(q.ColumnInt(2));
    row.parent = q.ColumnType(3) == SQLITE_NULL ? 0 : q.ColumnInt(3);
    row.num = static_cast<ULONG>(q.ColumnInt(4));
    row.created = static_cast<std::uint64_t>(q.ColumnInt(5));
    row.modified = static_cast<std::uint64_t>(q.ColumnInt(6));
    row.flags = static_cast<ULONG>(q.ColumnInt(7));
}

namespace {

// The one row q selects once its key is bound; MAPI_E_NOT_FOUND when there is none.
HRESULT ReadOneObjectRow(SqliteStmt& q, ObjectRow& row) {
    if (!q.Step()) return FAILED(q.status()) ? q.status() : MAPI_E_NOT_FOUND;
    ReadObjectRow(q, row);
    q.Reset();
    return S_OK;
}

}  // namespace

HRESULT StoreDb::LoadObject(std::int64_t id, ObjectRow& row) {
    SqliteStmt& q = Cached(
        "SELECT id, eid, kind, parent, num, created, modified, flags FROM objects WHERE id = ?1");
    if (FAILED(q.status())) return q.status();
    q.BindInt(1, id);
    return ReadOneObjectRow(q, row);
}

HRESULT StoreDb::LoadObjectByEid(const std::string& eid, ObjectRow& row) {
    SqliteStmt& q = Cached(
        "SELECT id, eid, kind, parent, num, created, modified, flags FROM objects WHERE eid = ?1");
    if (FAILED(q.status())) return q.status();
    q.BindBlob(1, eid);
    return ReadOneObjectRow(q, row);
}

HRESULT StoreDb::Children(std::int64_t parent, ULONG kind, std::vector<ObjectRow>& rows) {
    SqliteStmt& q = Cached(
        "SELECT id, eid, kind, parent, num, created, modified, flags FROM objects "
        "WHERE parent = ?1 AND kind = ?2 ORDER BY id");
    if (FAILED(q.status())) return q.status();
    q.BindInt(1, parent);
    q.BindInt(2, kind);
    rows.clear();
    while (q.Step()) {
        ObjectRow row;
        ReadObjectRow(q, row);
        rows.push_back(std::move(row));
    }
    return q.status();
}

namespace {

// How a stored value of type sits in the val column of props: the one mapping the
// writing (BindValue) and the reading (ReadValue) of values follow. Multi-valued
// values are a counted blob (EncodeMulti).
enum class ValueColumn { kInteger, kReal, kText, kBytes, kMulti };

ValueColumn ColumnOfValue(ULONG type) {
    switch (type) {
        case PT_I2:
        case PT_LONG:
        case PT_BOOLEAN:
        case PT_I8:
        case PT_SYSTIME:
        case PT_CURRENCY:
            return ValueColumn::kInteger;
        case PT_R4:
        case PT_DOUBLE:
        case PT_APPTIME:
            return ValueColumn::kReal;
        case PT_UNICODE:
            return ValueColumn::kText;
        case PT_BINARY:
        case PT_CLSID:
            return ValueColumn::kBytes;
        default:
            return ValueColumn::kMulti;
    }
}

}  // namespace

bool ReadValue(const SqliteStmt& st, int typeCol, int valCol, Value& v) {
    // Field by field, so that a reused value keeps its string capacity.
    v.i = 0;
    v.d = 0;
    v.s.clear();
    v.mvi.clear();
    v.mvd.clear();
    v.mvs.clear();
    v.large.reset();
    v.blob = 0;
    v.type =
        static_cast<ULONG>(st.ColumnType(typeCol) == SQLITE_INTEGER ? st.ColumnInt(typeCol) : 0);
    switch (ColumnOfValue(v.type)) {
        case ValueColumn::kInteger:
            v.i = st.ColumnInt(valCol);
            return true;
        case ValueColumn::kReal:
            v.d = st.ColumnDouble(valCol);
            return true;
        case ValueColumn::kText:
            st.ColumnTextInto(valCol, v.s);
            return true;
        case ValueColumn::kBytes:
            // A large binary value's column holds the key of its chunk rows.
            if (v.type == PT_BINARY && st.ColumnType(valCol) == SQLITE_INTEGER) {
                v.blob = st.ColumnInt(valCol);
                return v.blob > 0;
            }
            st.ColumnBlobInto(valCol, v.s);
            return true;
        case ValueColumn::kMulti:
            break;
    }
    if (!IsMultiValued(v.type) || !IsSettableType(v.type)) return false;
    std::string blob = st.ColumnBlob(valCol);
    return DecodeMulti(v.type, blob.data(), blob.size(), v);
}

HRESULT StoreDb::LoadProps(std::int64_t id, PropMap& props) {
    SqliteStmt& q = Cached("SELECT pid, type, val FROM props WHERE obj = ?1");
    if (FAILED(q.status())) return q.status();
    q.BindInt(1, id);
    props.clear();
    while (q.Step()) {
        // The rows come in the key's order (obj, pid), so each one's node goes at
        // the end and its value is read in place.
        const auto pid = static_cast<ULONG>(q.ColumnInt(0));
        auto slot = props.empty() || std::prev(props.end())->first < pid
                        ? props.emplace_hint(props.end(), pid, Value())
                        : props.try_emplace(pid).first;
        if (!ReadValue(q, 1, 2, slot->second)) {
            q.Reset();
            props.clear();
            return MAPI_E_CORRUPT_STORE;
        }
    }
    if (FAILED(q.status())) return q.status();
    for (auto& [pid, v] : props) {
        if (v.blob == 0) continue;
        HRESULT hr = ResolveBlob(v);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT StoreDb::ResolveBlob(Value& v) {
    SqliteStmt& q = Cached("SELECT size, chunk FROM blobs WHERE id = ?1");
    if (FAILED(q.status())) return q.status();
    q.BindInt(1, v.blob);
    if (!q.Step()) return FAILED(q.status()) ? q.status() : MAPI_E_CORRUPT_STORE;
    const std::int64_t size = q.ColumnInt(0);
    const std::int64_t chunk = q.ColumnInt(1);
    q.Reset();
    if (size < 0 || chunk <= 0) return MAPI_E_CORRUPT_STORE;
    v.large =
        std::make_shared<StoredBlob>(shared_from_this(), v.blob, static_cast<std::uint64_t>(size),
                                     static_cast<std::uint64_t>(chunk));
    v.blob = 0;
    return S_OK;
}

HRESULT StoreDb::NewBlob(const LargeBytes& bytes, std::int64_t& blob) {
    SqliteStmt& head = Cached("INSERT INTO blobs(size, chunk) VALUES(?1, ?2)");
    if (FAILED(head.status())) return head.status();
    head.BindInt(1, static_cast<std::int64_t>(bytes.Size()));
    head.BindInt(2, static_cast<std::int64_t>(kBlobChunkBytes));
    HRESULT hr = head.Run();
    if (FAILED(hr)) return hr;
    blob = sqlite3_last_insert_rowid(db_.handle());
    std::string piece, rest;
    std::int64_t seq = 0;
    std::uint64_t at = 0;
    while (at < bytes.Size()) {
        // A source may hand out shorter pieces than a chunk: gather one chunk.
        piece.clear();
        while (piece.size() < kBlobChunkBytes && at + piece.size() < bytes.Size()) {
            if (FAILED(hr = bytes.ReadAt(at + piece.size(), kBlobChunkBytes - piece.size(), rest)))
                return hr;
            if (rest.empty()) return MAPI_E_CORRUPT_DATA;
            piece += rest;
        }
        SqliteStmt& put = Cached("INSERT INTO chunks(blob, seq, data) VALUES(?1, ?2, ?3)");
        if (FAILED(put.status())) return put.status();
        put.BindInt(1, blob);
        put.BindInt(2, seq++);
        put.BindBlobRef(3, piece);
        db_.NoteWritten(piece.size());
        if (FAILED(hr = put.Run())) return hr;
        at += piece.size();
    }
    return S_OK;
}

HRESULT StoreDb::CopyBlob(std::int64_t from, std::int64_t& blob) {
    SqliteStmt& head =
        Cached("INSERT INTO blobs(size, chunk) SELECT size, chunk FROM blobs WHERE id = ?1");
    if (FAILED(head.status())) return head.status();
    head.BindInt(1, from);
    HRESULT hr = head.Run();
    if (FAILED(hr)) return hr;
    if (sqlite3_changes(db_.handle()) != 1) return MAPI_E_OBJECT_DELETED;
    blob = sqlite3_last_insert_rowid(db_.handle());
    SqliteStmt& body = Cached(
        "INSERT INTO chunks(blob, seq, data) SELECT ?1, seq, data FROM chunks WHERE blob = ?2");
    if (FAILED(body.status())) return body.status();
    body.BindInt(1, blob);
    body.BindInt(2, from);
    return body.Run();
}

HRESULT StoreDb::WriteLarge(std::int64_t id, ULONG pid, const Value& v) {
    HRESULT hr = S_OK;
    std::int64_t blob = 0;
    const auto* stored = dynamic_cast<const StoredBlob*>(v.large.get());
    if (stored != nullptr && stored->store() == this) {
        // Still this row's own blob: nothing to write.
        SqliteStmt& own =
            Cached("SELECT val FROM props WHERE obj = ?1 AND pid = ?2 AND type = 258");
        if (FAILED(own.status())) return own.status();
        own.BindInt(1, id);
        own.BindInt(2, pid);
        const bool same =
            own.Step() && own.ColumnType(0) == SQLITE_INTEGER && own.ColumnInt(0) == stored->blob();
        own.Reset();
        if (same) return S_OK;
        if (FAILED(hr = CopyBlob(stored->blob(), blob))) return hr;
    } else if (FAILED(hr = NewBlob(*v.large, blob))) {
        return hr;
    }
    SqliteStmt& put =
        Cached("INSERT OR REPLACE INTO props(obj, pid, type, val) VALUES(?1, ?2, ?3, ?4)");
    if (FAILED(put.status())) return put.status();
    put.BindInt(1, id);
    put.BindInt(2, pid);
    put.BindInt(3, kBlobType);
    put.BindInt(4, blob);
    return put.Run();
}

namespace {

// parent (NULL for none), num, created, modified and flags of row, bound from first on.
void BindChangeableColumns(SqliteStmt& q, int first, const ObjectRow& row) {
    if (row.parent != 0)
        q.BindInt(first, row.parent);
    else
        q.BindNull(first);
    q.BindInt(first + 1, row.num);
    q.BindInt(first + 2, static_cast<std::int64_t>(row.created));
    q.BindInt(first + 3, static_cast<std::int64_t>(row.modified));
    q.BindInt(first + 4, row.flags);
}

}  // namespace

HRESULT StoreDb::InsertObject(ObjectRow& row) {
    if (row.eid.empty()) row.eid = NewRandomBytes(kObjectEidBytes);
    SqliteStmt& q = Cached(
        "INSERT INTO objects(eid, kind, parent, num, created, modified, flags) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    if (FAILED(q.status())) return q.status();
    q.BindBlob(1, row.eid);
    q.BindInt(2, row.kind);
    BindChangeableColumns(q, 3, row);
    HRESULT hr = q.Run();
    if (FAILED(hr)) return hr;
    row.id = sqlite3_last_insert_rowid(db_.handle());
    return S_OK;
}

HRESULT StoreDb::UpdateObject(const ObjectRow& row) {
    SqliteStmt& q = Cached(
        "UPDATE objects SET parent = ?2, num = ?3, created = ?4, modified = ?5, flags = ?6 WHERE "
        "id = ?1");
    if (FAILED(q.status())) return q.status();
    q.BindInt(1, row.id);
    BindChangeableColumns(q, 2, row);
    HRESULT hr = q.Run();
    if (FAILED(hr)) return hr;
    return sqlite3_changes(db_.handle()) == 1 ? S_OK : MAPI_E_OBJECT_DELETED;
}

HRESULT StoreDb::BindValue(SqliteStmt& st, int index, const Value& v) {
    db_.NoteWritten(ValueSize(v));
    switch (ColumnOfValue(v.type)) {
        case ValueColumn::kInteger:
            st.BindInt(index, v.i);
            return S_OK;
        case ValueColumn::kReal:
            st.BindDouble(index, v.d);
            return S_OK;
        // The value outlives the statement's run: bound without a copy.
        case ValueColumn::kText:
            st.BindTextRef(index, v.s);
            return S_OK;
        case ValueColumn::kBytes:
            st.BindBlobRef(index, v.s);
            return S_OK;
        case ValueColumn::kMulti:
            break;
    }
    if (!IsMultiValued(v.type)) return MAPI_E_INVALID_TYPE;
    st.BindBlob(index, EncodeMulti(v));
    return S_OK;
}

HRESULT StoreDb::WriteProps(std::int64_t id, const PropMap& props, const std::set<ULONG>& dirty,
                            const std::set<ULONG>& deleted) {
    HRESULT hr = S_OK;
    if (!deleted.empty()) {
        SqliteStmt& del = Cached("DELETE FROM props WHERE obj = ?1 AND pid = ?2");
        if (FAILED(del.status())) return del.status();
        for (ULONG pid : deleted) {
            del.Reset();
            del.BindInt(1, id);
            del.BindInt(2, pid);
            if (FAILED(hr = del.Run())) return hr;
        }
    }
    if (dirty.empty()) return S_OK;
    SqliteStmt& put =
        Cached("INSERT OR REPLACE INTO props(obj, pid, type, val) VALUES(?1, ?2, ?3, ?4)");
    if (FAILED(put.status())) return put.status();
    for (ULONG pid : dirty) {
        auto it = props.find(pid);
        if (it == props.end()) continue;
        if (it->second.large != nullptr) {
            if (FAILED(hr = WriteLarge(id, pid, it->second))) return hr;
            continue;
        }
        put.Reset();
        put.BindInt(1, id);
        put.BindInt(2, pid);
        put.BindInt(3, it->second.type);
        if (FAILED(hr = BindValue(put, 4, it->second))) return hr;
        if (FAILED(hr = put.Run())) return hr;
    }
    return S_OK;
}

HRESULT StoreDb::WriteAllProps(std::int64_t id, const PropMap& props) {
    return PutAllProps(id, props,
                       "INSERT OR REPLACE INTO props(obj, pid, type, val) VALUES(?1, ?2, ?3, ?4)");
}

// A plain insert is one row written: a replace is a statement that may delete rows
// (and, with recursive triggers, fire the chunk trigger), which SQLite guards with
// a statement journal copying every page it touches.
HRESULT StoreDb::WriteNewProps(std::int64_t id, const PropMap& props) {
    return PutAllProps(id, props, "INSERT INTO props(obj, pid, type, val) VALUES(?1, ?2, ?3, ?4)");
}

HRESULT StoreDb::PutAllProps(std::int64_t id, const PropMap& props, std::string_view insertSql) {
    if (props.empty()) return S_OK;
    SqliteStmt& put = Cached(insertSql);
    if (FAILED(put.status())) return put.status();
    HRESULT hr = S_OK;
    for (const auto& [pid, v] : props) {
        if (v.large != nullptr) {
            if (FAILED(hr = WriteLarge(id, pid, v))) return hr;
            continue;
        }
        put.Reset();
        put.BindInt(1, id);
        put.BindInt(2, pid);
        put.BindInt(3, v.type);
        if (FAILED(hr = BindValue(put, 4, v))) return hr;
        if (FAILED(hr = put.Run())) return hr;
    }
    return S_OK;
}

HRESULT StoreDb::DeleteTree(std::int64_t id) {
    std::vector<std::int64_t> pending{id}, all;
    SqliteStmt& kids = Cached("SELECT id FROM objects WHERE parent = ?1");
    if (FAILED(kids.status())) return kids.status();
    while (!pending.empty()) {
        std::int64_t cur = pending.back();
        pending.pop_back();
        all.push_back(cur);
        kids.Reset();
        kids.BindInt(1, cur);
        while (kids.Step()) pending.push_back(kids.ColumnInt(0));
        if (FAILED(kids.status())) return kids.status();
    }
    SqliteStmt& delProps = Cached("DELETE FROM props WHERE obj = ?1");
    SqliteStmt& delObj = Cached("DELETE FROM objects WHERE id = ?1");
    if (FAILED(delProps.status())) return delProps.status();
    if (FAILED(delObj.status())) return delObj.status();
    for (std::int64_t cur : all) {
        delProps.Reset();
        delProps.BindInt(1, cur);
        HRESULT hr = delProps.Run();
        if (FAILED(hr)) return hr;
        delObj.Reset();
        delObj.BindInt(1, cur);
        if (FAILED(hr = delObj.Run())) return hr;
    }
    return S_OK;
}

HRESULT StoreDb::CopyTree(std::int64_t id, std::int64_t newParent, ObjectRow& newRow) {
    ObjectRow src;
    HRESULT hr = LoadObject(id, src);
    if (FAILED(hr)) return hr;
    newRow = src;
    newRow.id = 0;
    newRow.eid.clear();
    newRow.parent = newParent;
    newRow.created = newRow.modified = FileTimeNow();
    if (FAILED(hr = InsertObject(newRow))) return hr;
    SqliteStmt& cp = Cached(
        "INSERT INTO props(obj, pid, type, val) SELECT ?1, pid, type, val FROM props WHERE obj = "
        "?2");
    if (FAILED(cp.status())) return cp.status();
    cp.BindInt(1, newRow.id);
    cp.BindInt(2, id);
    if (FAILED(hr = cp.Run())) return hr;
    // Each blob belongs to one row: the copy's large values get copies of theirs.
    std::vector<std::pair<ULONG, std::int64_t>> blobs;
    {
        SqliteStmt& q = Cached(
            "SELECT pid, val FROM props WHERE obj = ?1 AND type = 258 AND typeof(val) = 'integer'");
        if (FAILED(q.status())) return q.status();
        q.BindInt(1, newRow.id);
        while (q.Step()) blobs.emplace_back(static_cast<ULONG>(q.ColumnInt(0)), q.ColumnInt(1));
        if (FAILED(q.status())) return q.status();
    }
    for (const auto& [pid, from] : blobs) {
        std::int64_t blob = 0;
        if (FAILED(hr = CopyBlob(from, blob))) return hr;
        SqliteStmt& set = Cached("UPDATE props SET val = ?3 WHERE obj = ?1 AND pid = ?2");
        if (FAILED(set.status())) return set.status();
        set.BindInt(1, newRow.id);
        set.BindInt(2, pid);
        set.BindInt(3, blob);
        if (FAILED(hr = set.Run())) return hr;
    }
    std::vector<std::int64_t> kids;
    {
        SqliteStmt& q = Cached("SELECT id FROM objects WHERE parent = ?1 ORDER BY id");
        if (FAILED(q.status())) return q.status();
        q.BindInt(1, id);
        while (q.Step()) kids.push_back(q.ColumnInt(0));
        if (FAILED(q.status())) return q.status();
    }
    for (std::int64_t kid : kids) {
        ObjectRow copy;
        if (FAILED(hr = CopyTree(kid, newRow.id, copy))) return hr;
    }
    return S_OK;
}

HRESULT StoreDb::LoadTree(std::int64_t id, ObjectTree& tree) {
    HRESULT hr = LoadObject(id, tree.row);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = LoadProps(id, tree.props))) return hr;
    std::vector<std::int64_t> kids;
    {
        SqliteStmt& q = Cached("SELECT id FROM objects WHERE parent = ?1 ORDER BY id");
        if (FAILED(q.status())) return q.status();
        q.BindInt(1, id);
        while (q.Step()) kids.push_back(q.ColumnInt(0));
        if (FAILED(q.status())) return q.status();
    }
    tree.children.clear();
    for (std::int64_t kid : kids) {
        tree.children.emplace_back();
        if (FAILED(hr = LoadTree(kid, tree.children.back()))) return hr;
    }
    return S_OK;
}

HRESULT StoreDb::InsertTree(ObjectTree& tree, std::int64_t newParent) {
    tree.row.id = 0;
    tree.row.eid.clear();
    tree.row.parent = newParent;
    tree.row.created = tree.row.modified = FileTimeNow();
    HRESULT hr = InsertObject(tree.row);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = WriteNewProps(tree.row.id, tree.props))) return hr;
    for (ObjectTree& kid : tree.children)
        if (FAILED(hr = InsertTree(kid, tree.row.id))) return hr;
    return S_OK;
}

}  // namespace mapistore
