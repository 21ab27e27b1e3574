// One message store file: the SQLite database with its schema, the object rows
// (store, folders, messages, recipients, attachments), their properties, the named
// property map and the receive folders. Higher layers (folder, message, table
// objects) call it under mutex().
//
// Schema:
//   meta(key, value)                       format name, version, store uid
//   objects(id, eid, kind, parent, num, created, modified, flags)
//   props(obj, pid, type, val)             one value per object and property ID
//   names(id, guid, kind, lid, name)       named properties, ids from 0x8000
//   receive(class, folder)                 receive folders by message class
//   blobs(id, size, chunk)                 large binary values: length, chunk size
//   chunks(blob, seq, data)                their bytes, chunk by chunk
// A partial index on props(pid, val) for text values answers equality searches.
// A large value's props row holds its blob id (an integer where bytes would be);
// the blob belongs to that row alone and goes with it (a trigger removes it).
//
// Threads: share one StoreDb per file in a process (Open does); every use of db()
// and of the object calls happens under mutex().
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/base/limits.h"
#include "platform/mapi/prop_value.h"
#include "platform/mapi/sqlite_db.h"

namespace mapistore {

constexpr std::size_t kUidBytes = 16;
constexpr std::size_t kObjectEidBytes = 16;
constexpr std::size_t kStoreEntryIdBytes = 4 + kUidBytes;
constexpr std::size_t kObjectEntryIdBytes = 4 + kUidBytes + kObjectEidBytes;
using ::kMaxFolderDepth;
constexpr const char* kStoreFormatName = "corvel-mapi-store";
constexpr std::int64_t kStoreFormatVersion = 1;
// Text values longer than this (in characters) stay out of the text index.
constexpr std::size_t kIndexedTextChars = 255;

struct ObjectRow {
    std::int64_t id = 0;
    std::string eid;          // kObjectEidBytes random bytes
    ULONG kind = 0;           // MAPI_STORE, MAPI_FOLDER, MAPI_MESSAGE, MAPI_MAILUSER, MAPI_ATTACH
    std::int64_t parent = 0;  // 0: none (store object and root folder)
    ULONG num = 0;            // attachment number or recipient row id
    std::uint64_t created = 0;
    std::uint64_t modified = 0;
    ULONG flags = 0;  // PR_MESSAGE_FLAGS
};

// The row of a statement whose first eight columns are, in this order, id, eid,
// kind, parent, num, created, modified, flags of objects.
void ReadObjectRow(const SqliteStmt& q, ObjectRow& row);

// An object with its properties and sub-objects, for copies between stores.
struct ObjectTree {
    ObjectRow row;
    PropMap props;
    std::vector<ObjectTree> children;
};

struct NamedProp {
    GUID guid{};
    ULONG kind = MNID_ID;
    LONG lid = 0;
    std::string name;  // UTF-8
};

class StoreDb : public std::enable_shared_from_this<StoreDb> {
public:
    ~StoreDb();

    // Creates a new store file (mode 0600; MAPI_E_COLLISION when it exists) with its
    // default folders, named displayName, with the given uid (kUidBytes bytes).
    static HRESULT Create(const std::string& path, const std::string& uid,
                          const std::string& displayName);
    // Opens a store file, sharing one instance per file in the process.
    // MAPI_E_NOT_FOUND when the file is missing; MAPI_E_CORRUPT_STORE when it is not a
    // store of this engine, is damaged, or carries another uid than expectedUid (when
    // that is not empty).
    static HRESULT Open(const std::string& path, const std::string& expectedUid,
                        std::shared_ptr<StoreDb>& out);

    std::recursive_mutex& mutex() { return mutex_; }
    SqliteDb& db() { return db_; }
    const std::string& uid() const { return uid_; }
    const std::string& path() const { return path_; }
    std::int64_t rootId() const { return rootId_; }
    std::int64_t storeObjectId() const { return storeObjectId_; }

    // A statement prepared once per store; reset and ready for binding. Check status().
    SqliteStmt& Cached(std::string_view sql);

    // ---- entry identifiers ----
    std::string EntryIdOf(const std::string& objectEid) const;
    std::string StoreEntryId() const;
    // Splits an entry identifier of this engine; false for any other form. objectEid is
    // empty for a store identifier.
    static bool SplitEntryId(ULONG cb, const void* entryId, std::string& storeUid,
                             std::string& objectEid);
    // The object eid of an identifier of this store: MAPI_E_INVALID_ENTRYID otherwise.
    HRESULT ObjectEidOf(ULONG cb, const void* entryId, std::string& objectEid) const;
    static std::string NewRandomBytes(std::size_t n);

    // ---- objects ----
    HRESULT LoadObject(std::int64_t id, ObjectRow& row);
    HRESULT LoadObjectByEid(const std::string& eid, ObjectRow& row);  // MAPI_E_NOT_FOUND
    HRESULT LoadProps(std::int64_t id, PropMap& props);
    HRESULT Children(std::int64_t parent, ULONG kind, std::vector<ObjectRow>& rows);
    // Inserts a row (new random eid when empty); sets row.id.
    HRESULT InsertObject(ObjectRow& row);
    HRESULT UpdateObject(const ObjectRow& row);
    // Writes the named properties of props (dirty) and removes deleted ones. Large
    // values are written in chunk rows, read piece by piece from their source.
    HRESULT WriteProps(std::int64_t id, const PropMap& props, const std::set<ULONG>& dirty,
                       const std::set<ULONG>& deleted);
    // Writes every property of props, replacing values the object has.
    HRESULT WriteAllProps(std::int64_t id, const PropMap& props);
    // The same for an object inserted in this transaction, which has no props rows
    // yet: plain inserts, which fail when a row is there after all.
    HRESULT WriteNewProps(std::int64_t id, const PropMap& props);
    HRESULT DeleteTree(std::int64_t id);
    // A value read by ReadValue that refers to chunk rows gets its reader (large).
    HRESULT ResolveBlob(Value& v);
    // Copies an object with its sub-objects below newParent in this store; new eids and
    // times. newRow receives the copy's row.
    HRESULT CopyTree(std::int64_t id, std::int64_t newParent, ObjectRow& newRow);
    HRESULT LoadTree(std::int64_t id, ObjectTree& tree);
    HRESULT InsertTree(ObjectTree& tree, std::int64_t newParent);
    // A modification time later than previous, and not before now.
    static std::uint64_t NextModificationTime(std::uint64_t previous);

    // ---- named properties ----
    // MAPI_E_NOT_FOUND when unknown and !create; MAPI_E_NOT_ENOUGH_RESOURCES when full.
    HRESULT IdForName(const NamedProp& name, bool create, ULONG& id);
    HRESULT NameForId(ULONG id, NamedProp& name);
    HRESULT AllNames(std::vector<std::pair<ULONG, NamedProp>>& names);

    // ---- receive folders ----
    HRESULT ReceiveFolder(const std::string& messageClass, std::int64_t& folder,
                          std::string& matched);
    HRESULT SetReceiveFolder(const std::string& messageClass, std::int64_t folder);

    // ---- text index ----
    // Objects with a text property pid equal to text (exact bytes). False when the
    // index cannot answer (text too long), true with the ids otherwise.
    bool FindText(ULONG pid, const std::string& text, std::vector<std::int64_t>& ids, HRESULT& hr);

private:
    StoreDb() = default;
    HRESULT OpenFile(const std::string& path, bool create);
    HRESULT BindValue(SqliteStmt& st, int index, const Value& v);
    HRESULT EnsureBlobTables();
    HRESULT WriteLarge(std::int64_t id, ULONG pid, const Value& v);
    HRESULT PutAllProps(std::int64_t id, const PropMap& props, std::string_view insertSql);
    HRESULT NewBlob(const LargeBytes& bytes, std::int64_t& blob);
    HRESULT CopyBlob(std::int64_t from, std::int64_t& blob);

    std::recursive_mutex mutex_;
    SqliteDb db_;
    std::string path_;
    std::string uid_;
    std::int64_t rootId_ = 0;
    std::int64_t storeObjectId_ = 0;
    // Looked up by the text without copying it.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>()(text);
        }
    };
    std::unordered_map<std::string, std::unique_ptr<SqliteStmt>, TextHash, std::equal_to<>> stmts_;
    std::map<ULONG, NamedProp> namesById_;
};

// The equality search on text values; the planner answers it from props_text.
extern const char* const kFindTextSql;

// Reads one stored value (type from the row) from columns of st; false when corrupt.
// A large value comes back with blob set (StoreDb::ResolveBlob gives its reader).
bool ReadValue(const SqliteStmt& st, int typeCol, int valCol, Value& v);

}  // namespace mapistore
