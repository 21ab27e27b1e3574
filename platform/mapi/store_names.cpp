// The store's named-property map, receive folders and the text index search.
#include <cstring>

#include "platform/mapi/store_db.h"

namespace mapistore {

namespace {

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

// guid, kind, lid and name from the columns at first and after; false when the
// guid is not 16 bytes.
bool ReadNameColumns(const SqliteStmt& q, int first, NamedProp& n) {
    std::string guid = q.ColumnBlob(first);
    if (guid.size() != 16) return false;
    std::memcpy(&n.guid, guid.data(), 16);
    n.kind = static_cast<ULONG>(q.ColumnInt(first + 1));
    n.lid = static_cast<LONG>(q.ColumnInt(first + 2));
    n.name = q.ColumnText(first + 3);
    return true;
}

}  // namespace

HRESULT StoreDb::IdForName(const NamedProp& name, bool create, ULONG& id) {
    const std::string guid = GuidBlob(name.guid);
    const LONG lid = name.kind == MNID_ID ? name.lid : 0;
    const std::string text = name.kind == MNID_STRING ? name.name : std::string();
    for (const auto& [known, n] : namesById_) {
        if (n.kind == name.kind && n.guid == name.guid &&
            (name.kind == MNID_ID ? n.lid == lid : n.name == text)) {
            id = known;
            return S_OK;
        }
    }
    auto lookup = [&]() -> HRESULT {
        SqliteStmt& q =
            Cached("SELECT id FROM names WHERE guid = ?1 AND kind = ?2 AND lid = ?3 AND name = ?4");
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
    SqliteStmt& ins =
        Cached("INSERT INTO names(id, guid, kind, lid, name) VALUES(?1, ?2, ?3, ?4, ?5)");
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
    NamedProp n;
    if (!ReadNameColumns(q, 0, n)) return MAPI_E_CORRUPT_STORE;
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
        NamedProp n;
        if (!ReadNameColumns(q, 1, n)) return MAPI_E_CORRUPT_STORE;
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

bool StoreDb::FindText(ULONG pid, const std::string& text, std::vector<std::int64_t>& ids,
                       HRESULT& hr) {
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
