// Creating a store file: the schema and the default folders of a new store.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/mapi/store_db.h"

namespace mapistore {

namespace {

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
        meta.BindText(2, kStoreFormatName);
        if (FAILED(hr = meta.Run())) return hr;
        meta.Reset();
        meta.BindText(1, "version");
        meta.BindInt(2, kStoreFormatVersion);
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

}  // namespace mapistore
