// Contents and hierarchy row sources.
#include "platform/mapi/table_sources.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "platform/mapi/computed_props.h"

namespace mapistore {

namespace {

constexpr std::size_t kRangeQueryThreshold = 32;

// The stored columns of ids (those not derived for kind) as a list for "pid IN";
// empty when every column is derived.
std::string StoredIdList(ULONG kind, const std::vector<ULONG>& ids) {
    const std::vector<ULONG>& computed = ComputedIds(kind);
    std::string list;
    for (ULONG id : ids) {
        if (id == PROP_ID(PR_DEPTH) ||
            std::find(computed.begin(), computed.end(), id) != computed.end())
            continue;
        if (!list.empty()) list += ",";
        list += std::to_string(id);
    }
    return list;
}

// The statement that reads the stored columns ids (those not derived for kind) of one
// object; null when every column is derived.
SqliteStmt* StoredQuery(StoreDb& db, ULONG kind, const std::vector<ULONG>& ids, HRESULT& hr) {
    hr = S_OK;
    std::string list = StoredIdList(kind, ids);
    if (list.empty()) return nullptr;
    std::string sql = "SELECT pid, type, val FROM props WHERE obj = ?1 AND pid IN (" + list + ")";
    SqliteStmt* q = &db.Cached(sql.c_str());
    hr = q->status();
    return FAILED(hr) ? nullptr : q;
}

// Writes the derived values of ids into row.
void FillDerived(StoreDb& db, const ObjectRow& object, const std::vector<ULONG>& ids,
                 const std::string* parentEid, int depth, RowData& row) {
    for (ULONG id : ids) {
        if (id == PROP_ID(PR_DEPTH)) {
            if (depth > 0) row.Put(id) = Value::Long(depth);
            continue;
        }
        // Written into the row's slot, so its string keeps its capacity from row to row.
        if (ComputedProp(db, object, parentEid, id, row.Put(id)) != Computed::kValue) row.Unput();
    }
}

// Puts the stored value in the columns pidCol (pid), pidCol + 1 (type) and
// pidCol + 2 (val) of st into row; false when it is corrupt.
bool PutStored(const SqliteStmt& st, int pidCol, RowData& row) {
    Value& v = row.Put(static_cast<ULONG>(st.ColumnInt(pidCol)));
    if (!ReadValue(st, pidCol + 1, pidCol + 2, v)) return false;
    // Large values are read through streams, not in table rows.
    if (v.blob != 0) row.Unput();
    return true;
}

// Fills one row with the derived and stored values of ids.
HRESULT FillRow(StoreDb& db, const ObjectRow& object, const std::vector<ULONG>& ids,
                const std::string* parentEid, SqliteStmt* stored, int depth, RowData& row) {
    FillDerived(db, object, ids, parentEid, depth, row);
    if (stored != nullptr) {
        stored->Reset();
        stored->BindInt(1, object.id);
        while (stored->Step()) {
            if (!PutStored(*stored, 0, row)) return MAPI_E_CORRUPT_STORE;
        }
        if (FAILED(stored->status())) return stored->status();
    }
    return S_OK;
}

// The rows of a folder of one store file: the file's lock, its text index, the folder.
class FolderRowSource : public RowSource {
public:
    FolderRowSource(std::shared_ptr<StoreDb> db, const ObjectRow& folder)
        : db_(std::move(db)), folder_(folder) {}

    std::recursive_mutex& Mutex() override { return db_->mutex(); }

    bool IndexLookup(ULONG propId, const std::string& text, std::vector<std::int64_t>& keys,
                     HRESULT& hr) override {
        return db_->FindText(propId, text, keys, hr);
    }

protected:
    std::shared_ptr<StoreDb> db_;
    ObjectRow folder_;
};

class ContentsSource : public FolderRowSource {
public:
    using FolderRowSource::FolderRowSource;

    HRESULT ListRows(std::vector<std::int64_t>& keys) override {
        SqliteStmt& q =
            db_->Cached("SELECT id FROM objects WHERE parent = ?1 AND kind = 5 ORDER BY id");
        if (FAILED(q.status())) return q.status();
        q.BindInt(1, folder_.id);
        keys.clear();
        while (q.Step()) keys.push_back(q.ColumnInt(0));
        return q.status();
    }

    bool KeyOrdered() const override { return true; }

    HRESULT ListRowsFrom(std::int64_t from, std::size_t limit,
                         std::vector<std::int64_t>& keys) override {
        SqliteStmt& q = db_->Cached(
            "SELECT id FROM objects WHERE parent = ?1 AND kind = 5 AND id >= ?2 ORDER BY id "
            "LIMIT ?3");
        if (FAILED(q.status())) return q.status();
        q.BindInt(1, folder_.id);
        q.BindInt(2, from);
        q.BindInt(3, static_cast<std::int64_t>(std::min<std::size_t>(limit, INT64_MAX)));
        keys.clear();
        while (q.Step()) keys.push_back(q.ColumnInt(0));
        return q.status();
    }

    HRESULT Fetch(const std::vector<std::int64_t>& keys, const std::vector<ULONG>& ids,
                  std::vector<RowData>& rows, std::vector<bool>& found) override {
        rows.resize(keys.size());
        for (RowData& r : rows) r.Reset();
        found.assign(keys.size(), false);
        if (keys.empty()) return S_OK;
        HRESULT hr = S_OK;
        SqliteStmt* stored = StoredQuery(*db_, MAPI_MESSAGE, ids, hr);
        if (FAILED(hr)) return hr;
        ObjectRow object;
        if (keys.size() <= kRangeQueryThreshold) {
            for (std::size_t k = 0; k < keys.size(); ++k) {
                hr = db_->LoadObject(keys[k], object);
                if (hr == MAPI_E_NOT_FOUND) continue;
                if (FAILED(hr)) return hr;
                if (object.parent != folder_.id || object.kind != MAPI_MESSAGE) continue;
                found[k] = true;
                if (FAILED(hr = FillRow(*db_, object, ids, &folder_.eid, stored, 0, rows[k])))
                    return hr;
            }
            return S_OK;
        }
        // Many rows: one pass over the folder's range, matched against the keys in order.
        std::vector<std::size_t> order(keys.size());
        for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
        if (!std::is_sorted(keys.begin(), keys.end()))
            std::sort(order.begin(), order.end(),
                      [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
        if (stored != nullptr) return FetchJoined(keys, order, ids, rows, found);
        SqliteStmt& q = db_->Cached(
            "SELECT id, eid, kind, parent, num, created, modified, flags FROM objects "
            "WHERE parent = ?1 AND kind = 5 AND id BETWEEN ?2 AND ?3 ORDER BY id");
        if (FAILED(q.status())) return q.status();
        q.BindInt(1, folder_.id);
        q.BindInt(2, keys[order.front()]);
        q.BindInt(3, keys[order.back()]);
        // The stored-value statement is stepped while this one is open; both are cached apart.
        std::size_t next = 0;
        while (next < order.size() && q.Step()) {
            ReadObjectRow(q, object);
            while (next < order.size() && keys[order[next]] < object.id) ++next;
            while (next < order.size() && keys[order[next]] == object.id) {
                found[order[next]] = true;
                if (FAILED(hr = FillRow(*db_, object, ids, &folder_.eid, stored, 0,
                                        rows[order[next]]))) {
                    q.Reset();
                    return hr;
                }
                ++next;
            }
        }
        hr = q.status();
        q.Reset();
        return hr;
    }

    HRESULT SubRows(std::int64_t key, ULONG subObject, std::vector<PropMap>& rows) override {
        return LoadSubRows(*db_, key, subObject, rows);
    }

private:
    // The many-rows pass with stored columns: one statement for the folder's range
    // gives each object's row followed by its stored values (one result row per
    // value, or one without a value), instead of one statement per object.
    HRESULT FetchJoined(const std::vector<std::int64_t>& keys,
                        const std::vector<std::size_t>& order, const std::vector<ULONG>& ids,
                        std::vector<RowData>& rows, std::vector<bool>& found) {
        constexpr int kPidColumn = 8;
        const std::string sql =
            "SELECT o.id, o.eid, o.kind, o.parent, o.num, o.created, o.modified, o.flags, "
            "p.pid, p.type, p.val FROM objects o LEFT JOIN props p ON p.obj = o.id AND p.pid IN (" +
            StoredIdList(MAPI_MESSAGE, ids) +
            ") WHERE o.parent = ?1 AND o.kind = 5 AND o.id BETWEEN ?2 AND ?3 ORDER BY o.id";
        SqliteStmt& q = db_->Cached(sql);
        if (FAILED(q.status())) return q.status();
        q.BindInt(1, folder_.id);
        q.BindInt(2, keys[order.front()]);
        q.BindInt(3, keys[order.back()]);
        ObjectRow object;
        std::size_t next = 0;
        bool more = q.Step();
        while (more && next < order.size()) {
            ReadObjectRow(q, object);
            while (next < order.size() && keys[order[next]] < object.id) ++next;
            const std::size_t first = next;
            while (next < order.size() && keys[order[next]] == object.id) ++next;
            RowData* row = first < next ? &rows[order[first]] : nullptr;
            if (row != nullptr) FillDerived(*db_, object, ids, &folder_.eid, 0, *row);
            do {
                if (row != nullptr && q.ColumnType(kPidColumn) != SQLITE_NULL &&
                    !PutStored(q, kPidColumn, *row)) {
                    q.Reset();
                    return MAPI_E_CORRUPT_STORE;
                }
                more = q.Step();
            } while (more && q.ColumnInt(0) == object.id);
            // A key asked for twice gets the same row twice.
            for (std::size_t k = first; k < next; ++k) {
                found[order[k]] = true;
                if (k != first) rows[order[k]] = *row;
            }
        }
        HRESULT hr = q.status();
        q.Reset();
        return hr;
    }

public:
    std::vector<ULONG> DefaultColumns() override {
        return {PR_ENTRYID,      PR_INSTANCE_KEY,           PR_MESSAGE_CLASS, PR_SUBJECT,
                PR_DISPLAY_NAME, PR_LAST_MODIFICATION_TIME, PR_MESSAGE_FLAGS};
    }
};

class HierarchySource : public FolderRowSource {
public:
    HierarchySource(std::shared_ptr<StoreDb> db, const ObjectRow& folder, bool deep)
        : FolderRowSource(std::move(db), folder), deep_(deep) {}

    HRESULT ListRows(std::vector<std::int64_t>& keys) override {
        keys.clear();
        depths_.clear();
        return Walk(folder_.id, 1, keys);
    }

    HRESULT Fetch(const std::vector<std::int64_t>& keys, const std::vector<ULONG>& ids,
                  std::vector<RowData>& rows, std::vector<bool>& found) override {
        rows.resize(keys.size());
        for (RowData& r : rows) r.Reset();
        found.assign(keys.size(), false);
        HRESULT hr = S_OK;
        SqliteStmt* stored = StoredQuery(*db_, MAPI_FOLDER, ids, hr);
        if (FAILED(hr)) return hr;
        ObjectRow object;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            hr = db_->LoadObject(keys[k], object);
            if (hr == MAPI_E_NOT_FOUND) continue;
            if (FAILED(hr)) return hr;
            if (object.kind != MAPI_FOLDER) continue;
            found[k] = true;
            auto depth = depths_.find(keys[k]);
            if (FAILED(hr = FillRow(*db_, object, ids, nullptr, stored,
                                    depth == depths_.end() ? 0 : depth->second, rows[k])))
                return hr;
        }
        return S_OK;
    }

    std::vector<ULONG> DefaultColumns() override {
        return {PR_ENTRYID, PR_INSTANCE_KEY,  PR_DISPLAY_NAME, PR_CONTAINER_CLASS,
                PR_DEPTH,   PR_CONTENT_COUNT, PR_SUBFOLDERS};
    }

private:
    HRESULT Walk(std::int64_t parent, int depth, std::vector<std::int64_t>& keys) {
        if (depth > kMaxFolderDepth) return S_OK;
        std::vector<ObjectRow> kids;
        HRESULT hr = db_->Children(parent, MAPI_FOLDER, kids);
        if (FAILED(hr)) return hr;
        for (const ObjectRow& kid : kids) {
            keys.push_back(kid.id);
            depths_[kid.id] = depth;
            if (deep_ && FAILED(hr = Walk(kid.id, depth + 1, keys))) return hr;
        }
        return S_OK;
    }

    bool deep_;
    std::unordered_map<std::int64_t, int> depths_;
};

}  // namespace

HRESULT LoadSubRows(StoreDb& db, std::int64_t message, ULONG subObject,
                    std::vector<PropMap>& rows) {
    ULONG kind;
    if (subObject == PR_MESSAGE_RECIPIENTS)
        kind = MAPI_MAILUSER;
    else if (subObject == PR_MESSAGE_ATTACHMENTS)
        kind = MAPI_ATTACH;
    else
        return MAPI_E_TOO_COMPLEX;
    std::vector<ObjectRow> kids;
    HRESULT hr = db.Children(message, kind, kids);
    if (FAILED(hr)) return hr;
    rows.clear();
    for (const ObjectRow& kid : kids) {
        PropMap props;
        if (FAILED(hr = db.LoadProps(kid.id, props))) return hr;
        // The size of what is stored, as the attachment itself gives it.
        if (kind == MAPI_ATTACH)
            props[PROP_ID(PR_ATTACH_SIZE)] = Value::Long(AttachmentSize(props));
        for (ULONG id : ComputedIds(kind)) {
            Value v;
            if (ComputedProp(db, kid, nullptr, id, v) == Computed::kValue) props[id] = std::move(v);
        }
        rows.push_back(std::move(props));
    }
    return S_OK;
}

std::unique_ptr<RowSource> MakeContentsSource(std::shared_ptr<StoreDb> db,
                                              const ObjectRow& folder) {
    return std::make_unique<ContentsSource>(std::move(db), folder);
}

std::unique_ptr<RowSource> MakeHierarchySource(std::shared_ptr<StoreDb> db, const ObjectRow& folder,
                                               bool deep) {
    return std::make_unique<HierarchySource>(std::move(db), folder, deep);
}

}  // namespace mapistore
