// The store database: schema, objects, properties, named properties, receive folders.
#include "platform/mapi/store_db.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace mapistore {

namespace {

constexpr const char* kFormatName = "corvel-mapi-store";
constexpr std::int64_t kFormatVersion = 1;
// Text values longer than this (in characters) stay out of the index.
constexpr std::size_t kIndexedTextChars = 255;

constexpr const char* kSchema = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE objects(
  id INTEGER PRIMARY KEY,
  eid BLOB NOT NULL UNIQUE,
  kind INTEGER NOT NULL,
  parent INTEGER,
  num INTEGER NOT NULL DEFAULT 0,
  created INTEGER NOT NULL,
  modified INTEGER NOT NULL,
  flags INTEGER NOT NULL DEFAULT 0);
CREATE INDEX objects_parent ON objects(parent, kind);
CREATE TABLE props(
  obj INTEGER NOT NULL,
  pid INTEGER NOT NULL,
  type INTEGER NOT NULL,
  val,
  PRIMARY KEY(obj, pid)) WITHOUT ROWID;
CREATE INDEX props_text ON props(pid, val) WHERE type = 31 AND length(val) <= 255;
CREATE TABLE names(
  id INTEGER PRIMARY KEY,
  guid BLOB NOT NULL,
  kind INTEGER NOT NULL,
  lid INTEGER NOT NULL,
  name TEXT NOT NULL,
  UNIQUE(guid, kind, lid, name));
CREATE TABLE receive(class TEXT PRIMARY KEY, folder INTEGER NOT NULL) WITHOUT ROWID;
)sql";

std::string GuidBlob(const GUID& g) {
  std::string s(16, '\0');
  std::memcpy(s.data(), &g, 16);
  return s;
}

std::size_t Utf8Chars(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::weak_ptr<StoreDb>>& Registry() {
  static std::map<std::string, std::weak_ptr<StoreDb>> r;
  return r;
}

struct DefaultFolder {
  const char* name;
  const char* containerClass;
  ULONG storeTag;  // tag on the store object, or 0
  ULONG inboxTag;  // tag on the inbox and root folder, or 0
};

constexpr DefaultFolder kDefaultFolders[] = {
    {"Inbox", "IPF.Note", 0, 0},
    {"Outbox", "IPF.Note", PR_IPM_OUTBOX_ENTRYID, 0},
    {"Sent Items", "IPF.Note", PR_IPM_SENTMAIL_ENTRYID, 0},
    {"Deleted Items", "IPF.Note", PR_IPM_WASTEBASKET_ENTRYID, 0},
    {"Drafts", "IPF.Note", 0, PR_IPM_DRAFTS_ENTRYID},
    {"Contacts", "IPF.Contact", 0, PR_IPM_CONTACT_ENTRYID},
    {"Calendar", "IPF.Appointment", 0, PR_IPM_APPOINTMENT_ENTRYID},
    {"Tasks", "IPF.Task", 0, PR_IPM_TASK_ENTRYID},
    {"Notes", "IPF.StickyNote", 0, PR_IPM_NOTE_ENTRYID},
    {"Journal", "IPF.Journal", 0, PR_IPM_JOURNAL_ENTRYID},
};

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
  return hr;
}

HRESULT StoreDb::Create(const std::string& path, const std::string& uid,
                        const std::string& displayName) {
  if (uid.size() != kUidBytes) return MAPI_E_INVALID_PARAMETER;
  int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? MAPI_E_COLLISION : MAPI_E_NO_ACCESS;
  ::close(fd);
  std::unique_ptr<StoreDb> s(new StoreDb);
  HRESULT hr = s->OpenFile(path, false);
  if (FAILED(hr)) {
    ::unlink(path.c_str());
    return hr;
  }
  s->uid_ = uid;
  {
    WriteTransaction tx(s->db_);
    if (FAILED(hr = tx.status())) return hr;
    if (FAILED(hr = s->db_.Exec(kSchema))) return hr;
    SqliteStmt meta(s->db_, "INSERT INTO meta(key, value) VALUES(?1, ?2)");
    meta.BindText(1, "format");
    meta.BindText(2, kFormatName);
    if (FAILED(hr = meta.Run())) return hr;
    meta.Reset();
    meta.BindText(1, "version");
    meta.BindInt(2, kFormatVersion);
    if (FAILED(hr = meta.Run())) return hr;
    meta.Reset();
    meta.BindText(1, "uid");
    meta.BindBlob(2, uid);
    if (FAILED(hr = meta.Run())) return hr;

    const std::uint64_t now = FileTimeNow();
    auto newObject = [&](ULONG kind, std::int64_t parent, ObjectRow& row) {
      row = ObjectRow{};
      row.kind = kind;
      row.parent = parent;
      row.created = row.modified = now;
      return s->InsertObject(row);
    };
    auto folderProps = [&](const ObjectRow& row, const char* name, const char* cls) {
      PropMap p;
      p[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(name);
      if (cls != nullptr) p[PROP_ID(PR_CONTAINER_CLASS)] = Value::Text(cls);
      return s->WriteAllProps(row.id, p);
    };
    ObjectRow store, root, ipm;
    if (FAILED(hr = newObject(MAPI_STORE, 0, store))) return hr;
    if (FAILED(hr = newObject(MAPI_FOLDER, 0, root))) return hr;
    if (FAILED(hr = folderProps(root, "Root", nullptr))) return hr;
    if (FAILED(hr = newObject(MAPI_FOLDER, root.id, ipm))) return hr;
    if (FAILED(hr = folderProps(ipm, "Top of Personal Folders", nullptr))) return hr;
    PropMap storeProps;
    storeProps[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(displayName);
    storeProps[PROP_ID(PR_IPM_SUBTREE_ENTRYID)] = Value::Binary(s->EntryIdOf(ipm.eid));
    PropMap inboxProps;
    inboxProps[PROP_ID(PR_DISPLAY_NAME)] = Value::Text("Inbox");
    inboxProps[PROP_ID(PR_CONTAINER_CLASS)] = Value::Text("IPF.Note");
    PropMap rootProps;
    rootProps[PROP_ID(PR_DISPLAY_NAME)] = Value::Text("Root");
    ObjectRow inbox;
    for (const DefaultFolder& f : kDefaultFolders) {
      ObjectRow row;
      if (FAILED(hr = newObject(MAPI_FOLDER, ipm.id, row))) return hr;
      Value eid = Value::Binary(s->EntryIdOf(row.eid));
      if (f.storeTag != 0) storeProps[PROP_ID(f.storeTag)] = eid;
      if (f.inboxTag != 0) {
        inboxProps[PROP_ID(f.inboxTag)] = eid;
        rootProps[PROP_ID(f.inboxTag)] = eid;
      }
      if (std::strcmp(f.name, "Inbox") == 0) {
        inbox = row;
      } else if (FAILED(hr = folderProps(row, f.name, f.containerClass))) {
        return hr;
      }
    }
    if (FAILED(hr = s->WriteAllProps(inbox.id, inboxProps))) return hr;
    if (FAILED(hr = s->WriteAllProps(root.id, rootProps))) return hr;
    if (FAILED(hr = s->WriteAllProps(store.id, storeProps))) return hr;
    if (FAILED(hr = s->SetReceiveFolder("", inbox.id))) return hr;
    if (FAILED(hr = s->SetReceiveFolder("IPM", inbox.id))) return hr;
    if (FAILED(hr = tx.Commit())) return hr;
  }
  return S_OK;
}

HRESULT StoreDb::Open(const std::string& path, const std::string& expectedUid,
                      std::shared_ptr<StoreDb>& out) {
  struct stat st{};
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
  if (format != kFormatName || version != kFormatVersion || uid.size() != kUidBytes)
    return MAPI_E_CORRUPT_STORE;
  if (!expectedUid.empty() && uid != expectedUid) return MAPI_E_CORRUPT_STORE;
  s->uid_ = uid;
  {
    SqliteStmt q(s->db_, "SELECT id, kind FROM objects WHERE parent IS NULL ORDER BY id");
    if (FAILED(q.status())) return MAPI_E_CORRUPT_STORE;
    while (q.Step()) {
      if (q.ColumnInt(1) == MAPI_STORE && s->storeObjectId_ == 0) s->storeObjectId_ = q.ColumnInt(0);
      if (q.ColumnInt(1) == MAPI_FOLDER && s->rootId_ == 0) s->rootId_ = q.ColumnInt(0);
    }
    if (FAILED(q.status()) || s->storeObjectId_ == 0 || s->rootId_ == 0) return MAPI_E_CORRUPT_STORE;
  }
  Registry()[key] = s;
  out = std::move(s);
  return S_OK;
}

SqliteStmt& StoreDb::Cached(const char* sql) {
  auto it = stmts_.find(sql);
  if (it == stmts_.end()) {
    auto st = std::make_unique<SqliteStmt>(db_, sql);
    it = stmts_.emplace(sql, std::move(st)).first;
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
  objectEid = cb == kObjectEntryIdBytes ? std::string(p + 4 + kUidBytes, kObjectEidBytes) : std::string();
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
    if (r > 0) got += static_cast<std::size_t>(r);
    else if (errno != EINTR) std::abort();  // no source of randomness: never hand out weak ids
  }
  return out;
}

std::uint64_t StoreDb::NextModificationTime(std::uint64_t previous) {
  std::uint64_t now = FileTimeNow();
  return now > previous ? now : previous + 1;
}

namespace {
void ReadRow(const SqliteStmt& q, ObjectRow& row) {
  row.id = q.ColumnInt(0);
  q.ColumnBlobInto(1, row.eid);
  row.kind = static_cast<ULONG>(q.ColumnInt(2));
  row.parent = q.ColumnType(3) == SQLITE_NULL ? 0 : q.ColumnInt(3);
  row.num = static_cast<ULONG>(q.ColumnInt(4));
  row.created = static_cast<std::uint64_t>(q.ColumnInt(5));
  row.modified = static_cast<std::uint64_t>(q.ColumnInt(6));
  row.flags = static_cast<ULONG>(q.ColumnInt(7));
}
}  // namespace

HRESULT StoreDb::LoadObject(std::int64_t id, ObjectRow& row) {
  SqliteStmt& q = Cached("SELECT id, eid, kind, parent, num, created, modified, flags FROM objects WHERE id = ?1");
  if (FAILED(q.status())) return q.status();
  q.BindInt(1, id);
  if (!q.Step()) return FAILED(q.status()) ? q.status() : MAPI_E_NOT_FOUND;
  ReadRow(q, row);
  q.Reset();
  return S_OK;
}

HRESULT StoreDb::LoadObjectByEid(const std::string& eid, ObjectRow& row) {
  SqliteStmt& q = Cached("SELECT id, eid, kind, parent, num, created, modified, flags FROM objects WHERE eid = ?1");
  if (FAILED(q.status())) return q.status();
  q.BindBlob(1, eid);
  if (!q.Step()) return FAILED(q.status()) ? q.status() : MAPI_E_NOT_FOUND;
  ReadRow(q, row);
  q.Reset();
  return S_OK;
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
    ReadRow(q, row);
    rows.push_back(std::move(row));
  }
  return q.status();
}

bool ReadValue(const SqliteStmt& st, int typeCol, int valCol, Value& v) {
  v = Value{};
  v.type = static_cast<ULONG>(st.ColumnType(typeCol) == SQLITE_INTEGER ? st.ColumnInt(typeCol) : 0);
  switch (v.type) {
    case PT_I2: case PT_LONG: case PT_BOOLEAN: case PT_I8: case PT_SYSTIME: case PT_CURRENCY:
      v.i = st.ColumnInt(valCol);
      return true;
    case PT_R4: case PT_DOUBLE: case PT_APPTIME:
      v.d = st.ColumnDouble(valCol);
      return true;
    case PT_UNICODE:
      v.s = st.ColumnText(valCol);
      return true;
    case PT_BINARY: case PT_CLSID:
      v.s = st.ColumnBlob(valCol);
      return true;
    default:
      if (!IsMultiValued(v.type) || !IsSettableType(v.type)) return false;
      std::string blob = st.ColumnBlob(valCol);
      return DecodeMulti(v.type, blob.data(), blob.size(), v);
  }
}

HRESULT StoreDb::LoadProps(std::int64_t id, PropMap& props) {
  SqliteStmt& q = Cached("SELECT pid, type, val FROM props WHERE obj = ?1");
  if (FAILED(q.status())) return q.status();
  q.BindInt(1, id);
  props.clear();
  while (q.Step()) {
    Value v;
    if (!ReadValue(q, 1, 2, v)) {
      q.Reset();
      return MAPI_E_CORRUPT_STORE;
    }
    props[static_cast<ULONG>(q.ColumnInt(0))] = std::move(v);
  }
  return q.status();
}

HRESULT StoreDb::InsertObject(ObjectRow& row) {
  if (row.eid.empty()) row.eid = NewRandomBytes(kObjectEidBytes);
  SqliteStmt& q = Cached(
      "INSERT INTO objects(eid, kind, parent, num, created, modified, flags) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  if (FAILED(q.status())) return q.status();
  q.BindBlob(1, row.eid);
  q.BindInt(2, row.kind);
  if (row.parent != 0) q.BindInt(3, row.parent); else q.BindNull(3);
  q.BindInt(4, row.num);
  q.BindInt(5, static_cast<std::int64_t>(row.created));
  q.BindInt(6, static_cast<std::int64_t>(row.modified));
  q.BindInt(7, row.flags);
  HRESULT hr = q.Run();
  if (FAILED(hr)) return hr;
  row.id = sqlite3_last_insert_rowid(db_.handle());
  return S_OK;
}

HRESULT StoreDb::UpdateObject(const ObjectRow& row) {
  SqliteStmt& q = Cached(
      "UPDATE objects SET parent = ?2, num = ?3, created = ?4, modified = ?5, flags = ?6 WHERE id = ?1");
  if (FAILED(q.status())) return q.status();
  q.BindInt(1, row.id);
  if (row.parent != 0) q.BindInt(2, row.parent); else q.BindNull(2);
  q.BindInt(3, row.num);
  q.BindInt(4, static_cast<std::int64_t>(row.created));
  q.BindInt(5, static_cast<std::int64_t>(row.modified));
  q.BindInt(6, row.flags);
  HRESULT hr = q.Run();
  if (FAILED(hr)) return hr;
  return sqlite3_changes(db_.handle()) == 1 ? S_OK : MAPI_E_OBJECT_DELETED;
}

HRESULT StoreDb::BindValue(SqliteStmt& st, int index, const Value& v) {
  switch (v.type) {
    case PT_I2: case PT_LONG: case PT_BOOLEAN: case PT_I8: case PT_SYSTIME: case PT_CURRENCY:
      st.BindInt(index, v.i);
      return S_OK;
    case PT_R4: case PT_DOUBLE: case PT_APPTIME:
      st.BindDouble(index, v.d);
      return S_OK;
    case PT_UNICODE:
      st.BindText(index, v.s);
      return S_OK;
    case PT_BINARY: case PT_CLSID:
      st.BindBlob(index, v.s);
      return S_OK;
    default:
      if (!IsMultiValued(v.type)) return MAPI_E_INVALID_TYPE;
      st.BindBlob(index, EncodeMulti(v));
      return S_OK;
  }
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
  SqliteStmt& put = Cached("INSERT OR REPLACE INTO props(obj, pid, type, val) VALUES(?1, ?2, ?3, ?4)");
  if (FAILED(put.status())) return put.status();
  for (ULONG pid : dirty) {
    auto it = props.find(pid);
    if (it == props.end()) continue;
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
  std::set<ULONG> all;
  for (const auto& [pid, v] : props) all.insert(pid);
  return WriteProps(id, props, all, {});
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
  SqliteStmt& cp = Cached("INSERT INTO props(obj, pid, type, val) SELECT ?1, pid, type, val FROM props WHERE obj = ?2");
  if (FAILED(cp.status())) return cp.status();
  cp.BindInt(1, newRow.id);
  cp.BindInt(2, id);
  if (FAILED(hr = cp.Run())) return hr;
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
  if (FAILED(hr = WriteAllProps(tree.row.id, tree.props))) return hr;
  for (ObjectTree& kid : tree.children)
    if (FAILED(hr = InsertTree(kid, tree.row.id))) return hr;
  return S_OK;
}

HRESULT StoreDb::IdForName(const NamedProp& name, bool create, ULONG& id) {
  const std::string guid = GuidBlob(name.guid);
  const LONG lid = name.kind == MNID_ID ? name.lid : 0;
  const std::string text = name.kind == MNID_STRING ? name.name : std::string();
  for (const auto& [known, n] : namesById_) {
    if (n.kind == name.kind && n.guid == name.guid && (name.kind == MNID_ID ? n.lid == lid : n.name == text)) {
      id = known;
      return S_OK;
    }
  }
  auto lookup = [&]() -> HRESULT {
    SqliteStmt& q = Cached("SELECT id FROM names WHERE guid = ?1 AND kind = ?2 AND lid = ?3 AND name = ?4");
    if (FAILED(q.status())) return q.status();
    q.BindBlob(1, guid);
    q.BindInt(2, name.kind);
    q.BindInt(3, lid);
    q.BindText(4, text);
    if (q.Step()) {
      id = static_cast<ULONG>(q.ColumnInt(0));
      q.Reset();
      NamedProp copy = name;
      copy.lid = lid;
      copy.name = text;
      namesById_[id] = copy;
      return S_OK;
    }
    return FAILED(q.status()) ? q.status() : MAPI_E_NOT_FOUND;
  };
  HRESULT hr = lookup();
  if (hr != MAPI_E_NOT_FOUND || !create) return hr;
  WriteTransaction tx(db_);
  if (FAILED(hr = tx.status())) return hr;
  hr = lookup();  // another process may have added it meanwhile
  if (hr != MAPI_E_NOT_FOUND) return FAILED(hr) ? hr : tx.Commit();
  std::int64_t next = PROP_ID_NAMED_FIRST;
  {
    SqliteStmt& q = Cached("SELECT max(id) FROM names");
    if (FAILED(q.status())) return q.status();
    if (q.Step() && q.ColumnType(0) != SQLITE_NULL) next = q.ColumnInt(0) + 1;
    q.Reset();
  }
  if (next > PROP_ID_NAMED_LAST) return MAPI_E_NOT_ENOUGH_RESOURCES;
  SqliteStmt& ins = Cached("INSERT INTO names(id, guid, kind, lid, name) VALUES(?1, ?2, ?3, ?4, ?5)");
  if (FAILED(ins.status())) return ins.status();
  ins.BindInt(1, next);
  ins.BindBlob(2, guid);
  ins.BindInt(3, name.kind);
  ins.BindInt(4, lid);
  ins.BindText(5, text);
  if (FAILED(hr = ins.Run())) return hr;
  if (FAILED(hr = tx.Commit())) return hr;
  id = static_cast<ULONG>(next);
  NamedProp copy = name;
  copy.lid = lid;
  copy.name = text;
  namesById_[id] = copy;
  return S_OK;
}

HRESULT StoreDb::NameForId(ULONG id, NamedProp& name) {
  auto it = namesById_.find(id);
  if (it != namesById_.end()) {
    name = it->second;
    return S_OK;
  }
  SqliteStmt& q = Cached("SELECT guid, kind, lid, name FROM names WHERE id = ?1");
  if (FAILED(q.status())) return q.status();
  q.BindInt(1, id);
  if (!q.Step()) return FAILED(q.status()) ? q.status() : MAPI_E_NOT_FOUND;
  std::string guid = q.ColumnBlob(0);
  if (guid.size() != 16) return MAPI_E_CORRUPT_STORE;
  NamedProp n;
  std::memcpy(&n.guid, guid.data(), 16);
  n.kind = static_cast<ULONG>(q.ColumnInt(1));
  n.lid = static_cast<LONG>(q.ColumnInt(2));
  n.name = q.ColumnText(3);
  q.Reset();
  namesById_[id] = n;
  name = n;
  return S_OK;
}

HRESULT StoreDb::AllNames(std::vector<std::pair<ULONG, NamedProp>>& names) {
  SqliteStmt& q = Cached("SELECT id, guid, kind, lid, name FROM names ORDER BY id");
  if (FAILED(q.status())) return q.status();
  names.clear();
  while (q.Step()) {
    std::string guid = q.ColumnBlob(1);
    if (guid.size() != 16) return MAPI_E_CORRUPT_STORE;
    NamedProp n;
    std::memcpy(&n.guid, guid.data(), 16);
    n.kind = static_cast<ULONG>(q.ColumnInt(2));
    n.lid = static_cast<LONG>(q.ColumnInt(3));
    n.name = q.ColumnText(4);
    names.emplace_back(static_cast<ULONG>(q.ColumnInt(0)), n);
  }
  return q.status();
}

HRESULT StoreDb::ReceiveFolder(const std::string& messageClass, std::int64_t& folder,
                               std::string& matched) {
  // The class itself, then each shorter prefix ending before a ".", then "".
  std::string cls = messageClass;
  for (;;) {
    SqliteStmt& q = Cached("SELECT folder FROM receive WHERE class = ?1 COLLATE NOCASE");
    if (FAILED(q.status())) return q.status();
    q.BindText(1, cls);
    if (q.Step()) {
      folder = q.ColumnInt(0);
      matched = cls;
      q.Reset();
      return S_OK;
    }
    if (FAILED(q.status())) return q.status();
    if (cls.empty()) return MAPI_E_NOT_FOUND;
    std::size_t dot = cls.rfind('.');
    cls = dot == std::string::npos ? std::string() : cls.substr(0, dot);
  }
}

HRESULT StoreDb::SetReceiveFolder(const std::string& messageClass, std::int64_t folder) {
  if (folder == 0) {
    SqliteStmt& q = Cached("DELETE FROM receive WHERE class = ?1 COLLATE NOCASE");
    if (FAILED(q.status())) return q.status();
    q.BindText(1, messageClass);
    return q.Run();
  }
  SqliteStmt& q = Cached("INSERT OR REPLACE INTO receive(class, folder) VALUES(?1, ?2)");
  if (FAILED(q.status())) return q.status();
  q.BindText(1, messageClass);
  q.BindInt(2, folder);
  return q.Run();
}

bool StoreDb::FindText(ULONG pid, const std::string& text, std::vector<std::int64_t>& ids, HRESULT& hr) {
  hr = S_OK;
  if (Utf8Chars(text) > kIndexedTextChars) return false;
  SqliteStmt& q = Cached(kFindTextSql);
  if (FAILED(q.status())) {
    hr = q.status();
    return true;
  }
  q.BindInt(1, pid);
  q.BindText(2, text);
  ids.clear();
  while (q.Step()) ids.push_back(q.ColumnInt(0));
  hr = q.status();
  return true;
}

}  // namespace mapistore
