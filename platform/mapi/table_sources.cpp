// Contents and hierarchy row sources.
#include "platform/mapi/table_sources.h"

#include <algorithm>
#include <unordered_map>

#include "platform/mapi/computed_props.h"

namespace mapistore {

namespace {

constexpr std::size_t kRangeQueryThreshold = 32;

void ReadObjectRow(const SqliteStmt& q, ObjectRow& row) {
  row.id = q.ColumnInt(0);
  row.eid = q.ColumnBlob(1);
  row.kind = static_cast<ULONG>(q.ColumnInt(2));
  row.parent = q.ColumnType(3) == SQLITE_NULL ? 0 : q.ColumnInt(3);
  row.num = static_cast<ULONG>(q.ColumnInt(4));
  row.created = static_cast<std::uint64_t>(q.ColumnInt(5));
  row.modified = static_cast<std::uint64_t>(q.ColumnInt(6));
  row.flags = static_cast<ULONG>(q.ColumnInt(7));
}

// Fills rows with computed and stored values of ids for objects found in objects.
HRESULT FillRows(StoreDb& db, const std::vector<std::int64_t>& keys,
                 const std::unordered_map<std::int64_t, ObjectRow>& objects,
                 const std::vector<ULONG>& ids, const std::string* parentEid,
                 std::vector<PropMap>& rows, std::vector<bool>& found,
                 const std::unordered_map<std::int64_t, int>* depths = nullptr) {
  rows.assign(keys.size(), PropMap());
  found.assign(keys.size(), false);
  std::vector<ULONG> stored;
  for (ULONG id : ids) {
    if (depths != nullptr && id == PROP_ID(PR_DEPTH)) continue;
    ULONG kind = objects.empty() ? MAPI_MESSAGE : objects.begin()->second.kind;
    const std::vector<ULONG>& computed = ComputedIds(kind);
    if (std::find(computed.begin(), computed.end(), id) == computed.end()) stored.push_back(id);
  }
  SqliteStmt* propQuery = nullptr;
  if (!stored.empty()) {
    std::string sql = "SELECT pid, type, val FROM props WHERE obj = ?1 AND pid IN (";
    for (std::size_t k = 0; k < stored.size(); ++k) sql += (k ? "," : "") + std::to_string(stored[k]);
    sql += ")";
    propQuery = &db.Cached(sql.c_str());
    if (FAILED(propQuery->status())) return propQuery->status();
  }
  for (std::size_t k = 0; k < keys.size(); ++k) {
    auto it = objects.find(keys[k]);
    if (it == objects.end()) continue;
    found[k] = true;
    PropMap& row = rows[k];
    for (ULONG id : ids) {
      Value v;
      if (depths != nullptr && id == PROP_ID(PR_DEPTH)) {
        auto d = depths->find(keys[k]);
        if (d != depths->end()) row[id] = Value::Long(d->second);
        continue;
      }
      if (ComputedProp(db, it->second, parentEid, id, v) == Computed::kValue) row[id] = std::move(v);
    }
    if (propQuery != nullptr) {
      propQuery->Reset();
      propQuery->BindInt(1, keys[k]);
      while (propQuery->Step()) {
        Value v;
        if (!ReadValue(*propQuery, 1, 2, v)) return MAPI_E_CORRUPT_STORE;
        row[static_cast<ULONG>(propQuery->ColumnInt(0))] = std::move(v);
      }
      if (FAILED(propQuery->status())) return propQuery->status();
    }
  }
  return S_OK;
}

class ContentsSource : public RowSource {
 public:
  ContentsSource(std::shared_ptr<StoreDb> db, const ObjectRow& folder) : db_(std::move(db)), folder_(folder) {}

  std::recursive_mutex& Mutex() override { return db_->mutex(); }

  HRESULT ListRows(std::vector<std::int64_t>& keys) override {
    SqliteStmt& q = db_->Cached("SELECT id FROM objects WHERE parent = ?1 AND kind = 5 ORDER BY id");
    if (FAILED(q.status())) return q.status();
    q.BindInt(1, folder_.id);
    keys.clear();
    while (q.Step()) keys.push_back(q.ColumnInt(0));
    return q.status();
  }

  HRESULT Fetch(const std::vector<std::int64_t>& keys, const std::vector<ULONG>& ids,
                std::vector<PropMap>& rows, std::vector<bool>& found) override {
    std::unordered_map<std::int64_t, ObjectRow> objects;
    if (keys.empty()) {
      rows.clear();
      found.clear();
      return S_OK;
    }
    if (keys.size() > kRangeQueryThreshold) {
      auto [lo, hi] = std::minmax_element(keys.begin(), keys.end());
      std::unordered_map<std::int64_t, bool> wanted;
      for (std::int64_t key : keys) wanted[key] = true;
      SqliteStmt& q = db_->Cached(
          "SELECT id, eid, kind, parent, num, created, modified, flags FROM objects "
          "WHERE parent = ?1 AND kind = 5 AND id BETWEEN ?2 AND ?3");
      if (FAILED(q.status())) return q.status();
      q.BindInt(1, folder_.id);
      q.BindInt(2, *lo);
      q.BindInt(3, *hi);
      while (q.Step()) {
        ObjectRow row;
        ReadObjectRow(q, row);
        if (wanted.count(row.id)) objects.emplace(row.id, std::move(row));
      }
      if (FAILED(q.status())) return q.status();
    } else {
      for (std::int64_t key : keys) {
        ObjectRow row;
        HRESULT hr = db_->LoadObject(key, row);
        if (hr == MAPI_E_NOT_FOUND) continue;
        if (FAILED(hr)) return hr;
        if (row.parent == folder_.id && row.kind == MAPI_MESSAGE) objects.emplace(key, std::move(row));
      }
    }
    return FillRows(*db_, keys, objects, ids, &folder_.eid, rows, found);
  }

  HRESULT SubRows(std::int64_t key, ULONG subObject, std::vector<PropMap>& rows) override {
    return LoadSubRows(*db_, key, subObject, rows);
  }

  bool IndexLookup(ULONG propId, const std::string& text, std::vector<std::int64_t>& keys,
                   HRESULT& hr) override {
    return db_->FindText(propId, text, keys, hr);
  }

  std::vector<ULONG> DefaultColumns() override {
    return {PR_ENTRYID, PR_INSTANCE_KEY, PR_MESSAGE_CLASS, PR_SUBJECT, PR_DISPLAY_NAME,
            PR_LAST_MODIFICATION_TIME, PR_MESSAGE_FLAGS};
  }

 private:
  std::shared_ptr<StoreDb> db_;
  ObjectRow folder_;
};

class HierarchySource : public RowSource {
 public:
  HierarchySource(std::shared_ptr<StoreDb> db, const ObjectRow& folder, bool deep)
      : db_(std::move(db)), folder_(folder), deep_(deep) {}

  std::recursive_mutex& Mutex() override { return db_->mutex(); }

  HRESULT ListRows(std::vector<std::int64_t>& keys) override {
    keys.clear();
    depths_.clear();
    return Walk(folder_.id, 1, keys);
  }

  HRESULT Fetch(const std::vector<std::int64_t>& keys, const std::vector<ULONG>& ids,
                std::vector<PropMap>& rows, std::vector<bool>& found) override {
    std::unordered_map<std::int64_t, ObjectRow> objects;
    for (std::int64_t key : keys) {
      ObjectRow row;
      HRESULT hr = db_->LoadObject(key, row);
      if (hr == MAPI_E_NOT_FOUND) continue;
      if (FAILED(hr)) return hr;
      if (row.kind == MAPI_FOLDER) objects.emplace(key, std::move(row));
    }
    return FillRows(*db_, keys, objects, ids, nullptr, rows, found, &depths_);
  }

  bool IndexLookup(ULONG propId, const std::string& text, std::vector<std::int64_t>& keys,
                   HRESULT& hr) override {
    return db_->FindText(propId, text, keys, hr);
  }

  std::vector<ULONG> DefaultColumns() override {
    return {PR_ENTRYID, PR_INSTANCE_KEY, PR_DISPLAY_NAME, PR_CONTAINER_CLASS, PR_DEPTH,
            PR_CONTENT_COUNT, PR_SUBFOLDERS};
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

  std::shared_ptr<StoreDb> db_;
  ObjectRow folder_;
  bool deep_;
  std::unordered_map<std::int64_t, int> depths_;
};

}  // namespace

HRESULT LoadSubRows(StoreDb& db, std::int64_t message, ULONG subObject, std::vector<PropMap>& rows) {
  ULONG kind;
  if (subObject == PR_MESSAGE_RECIPIENTS) kind = MAPI_MAILUSER;
  else if (subObject == PR_MESSAGE_ATTACHMENTS) kind = MAPI_ATTACH;
  else return MAPI_E_TOO_COMPLEX;
  std::vector<ObjectRow> kids;
  HRESULT hr = db.Children(message, kind, kids);
  if (FAILED(hr)) return hr;
  rows.clear();
  for (const ObjectRow& kid : kids) {
    PropMap props;
    if (FAILED(hr = db.LoadProps(kid.id, props))) return hr;
    for (ULONG id : ComputedIds(kind)) {
      Value v;
      if (ComputedProp(db, kid, nullptr, id, v) == Computed::kValue) props[id] = std::move(v);
    }
    rows.push_back(std::move(props));
  }
  return S_OK;
}

std::unique_ptr<RowSource> MakeContentsSource(std::shared_ptr<StoreDb> db, const ObjectRow& folder) {
  return std::make_unique<ContentsSource>(std::move(db), folder);
}

std::unique_ptr<RowSource> MakeHierarchySource(std::shared_ptr<StoreDb> db, const ObjectRow& folder,
                                               bool deep) {
  return std::make_unique<HierarchySource>(std::move(db), folder, deep);
}

}  // namespace mapistore
