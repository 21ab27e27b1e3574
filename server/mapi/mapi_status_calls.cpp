// The status-returning store calls.
#include "server/mapi/mapi_status_calls.h"

#include <map>
#include <mutex>

#include "common/base/limits.h"
#include "common/base/text.h"
#include "server/mapi/adapter_calls.h"
#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_query.h"

namespace {

std::string BinaryOf(const SPropValue& value) {
    if (PROP_TYPE(value.ulPropTag) != PT_BINARY || value.Value.bin.lpb == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
}

std::string StringOf(const SPropValue& value) {
    if (PROP_TYPE(value.ulPropTag) != PT_STRING8 || value.Value.lpszA == nullptr) return {};
    return std::string(value.Value.lpszA);
}

// MAPI passes entry identifiers as byte blocks typed ENTRYID; nothing writes to them.
LPENTRYID EntryIdOf(const std::string& entryId) {
    return reinterpret_cast<LPENTRYID>(const_cast<char*>(entryId.data()));
}

// The entry source->OpenEntry opens, as interface T; none on every failure.
template <class T, class Source>
CMapiRef<T> OpenEntryAs(Source* source, const std::string& entryId, ULONG flags) {
    CMapiRef<IUnknown> opened;
    if (FAILED(TryOpenEntry(source, static_cast<ULONG>(entryId.size()), EntryIdOf(entryId), flags,
                            nullptr, opened))) {
        return {};
    }
    CMapiRef<T> asked;
    TryQueryAs(opened.Get(), asked);
    return asked;
}

// Every row, with columns, of the table (object->*getter) hands out; no rows when
// either call fails.
template <class Object, class Getter>
CRowSet AllRowsOf(Object* object, Getter getter, const CPropTagArray& columns) {
    CMapiRef<IMAPITable> table;
    CRowSet rows;
    if (SUCCEEDED(TryTakeTable(object, getter, 0, table))) {
        TryQueryAllRows(table.Get(), columns, rows);
    }
    return rows;
}

std::mutex& StoreCacheLock() {
    static std::mutex lock;
    return lock;
}

// Guarded by StoreCacheLock().
std::map<std::string, CMapiRef<IMsgStore>>& StoreCache() {
    static std::map<std::string, CMapiRef<IMsgStore>> cache;
    return cache;
}

}  // namespace

std::string GetBinaryProperty(IMAPIProp* object, ULONG tag) {
    if (object == nullptr) return {};
    CMapiBuffer<SPropValue> value;
    if (FAILED(HrGetOneProp(object, tag, value.Put()))) return {};
    return BinaryOf(*value.Get());
}

std::string GetStringProperty(IMAPIProp* object, ULONG tag) {
    if (object == nullptr) return {};
    CMapiBuffer<SPropValue> value;
    if (FAILED(HrGetOneProp(object, tag, value.Put()))) return {};
    return StringOf(*value.Get());
}

CMapiRef<IMAPIFolder> OpenFolderEntry(IMAPISession* session, const std::string& entryId,
                                      ULONG flags) {
    return OpenEntryAs<IMAPIFolder>(session, entryId, flags);
}

CMapiRef<IMAPIFolder> OpenFolderEntry(IMsgStore* store, const std::string& entryId, ULONG flags) {
    return OpenEntryAs<IMAPIFolder>(store, entryId, flags);
}

CMapiRef<IMAPIFolder> OpenFolderEntry(IMAPIFolder* container, const std::string& entryId,
                                      ULONG flags) {
    return OpenEntryAs<IMAPIFolder>(container, entryId, flags);
}

CMapiRef<IMessage> OpenMessageEntry(IMsgStore* store, const std::string& entryId, ULONG flags) {
    return OpenEntryAs<IMessage>(store, entryId, flags);
}

CMapiRef<IMsgStore> OpenStore(IMAPISession* session, const std::string& entryId) {
    if (session == nullptr || entryId.empty()) return {};
    CMapiRef<IMsgStore> store;
    if (FAILED(session->OpenMsgStore(0, static_cast<ULONG>(entryId.size()), EntryIdOf(entryId),
                                     nullptr, MAPI_BEST_ACCESS | MDB_NO_DIALOG, store.Put()))) {
        return {};
    }
    return store;
}

std::vector<CStoreRow> ListStores(IMAPISession* session) {
    std::vector<CStoreRow> stores;
    CRowSet rows = AllRowsOf(session, &IMAPISession::GetMsgStoresTable,
                             {PR_ENTRYID, PR_DISPLAY_NAME, PR_DEFAULT_STORE});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SRow& row = rows[i];
        if (row.cValues < 3) continue;
        CStoreRow store;
        store.entryId = BinaryOf(row.lpProps[0]);
        store.displayName = StringOf(row.lpProps[1]);
        store.isDefault =
            PROP_TYPE(row.lpProps[2].ulPropTag) == PT_BOOLEAN && row.lpProps[2].Value.b;
        stores.push_back(std::move(store));
    }
    return stores;
}

std::vector<CChildFolder> ListChildFolders(IMAPIFolder* folder) {
    std::vector<CChildFolder> children;
    CRowSet rows =
        AllRowsOf(folder, &IMAPIFolder::GetHierarchyTable, {PR_ENTRYID, PR_DISPLAY_NAME});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SRow& row = rows[i];
        if (row.cValues < 2) continue;
        children.push_back({BinaryOf(row.lpProps[0]), StringOf(row.lpProps[1])});
    }
    return children;
}

CMapiRef<IMAPISession> LogonProfile(const std::string& profile, HRESULT& error) {
    std::string name = profile;
    CMapiRef<IMAPISession> session;
    error = MAPILogonEx(0, name.data(), nullptr, MAPI_NEW_SESSION | MAPI_EXTENDED | MAPI_NO_MAIL,
                        session.Put());
    if (FAILED(error) || !session) {
        if (!FAILED(error)) error = MAPI_E_LOGON_FAILED;
        return {};
    }
    error = S_OK;
    return session;
}

CMapiRef<IMAPIFolder> OpenConfiguredFolder(const std::string& profile, IMAPISession* session,
                                           const std::string& outlookPath) {
    std::vector<std::string> parts;
    for (std::string_view part : SplitSkippingEmpty(outlookPath, '\\')) parts.emplace_back(part);
    // A path naming only a store would offer everything in it: not a folder.
    if (parts.size() < 2 || session == nullptr) return {};
    CMapiRef<IMsgStore> store;
    std::string key = profile + ":" + parts[0];
    {
        std::lock_guard<std::mutex> lock(StoreCacheLock());
        auto it = StoreCache().find(key);
        if (it != StoreCache().end()) store = it->second;
    }
    if (!store) {
        for (const CStoreRow& row : ListStores(session)) {
            if (EqualsIgnoringCase(row.displayName, parts[0])) {
                store = OpenStore(session, row.entryId);
                break;
            }
        }
        if (!store) return {};
        std::lock_guard<std::mutex> lock(StoreCacheLock());
        StoreCache().emplace(key, store);
    }
    CMapiRef<IMAPIFolder> folder =
        OpenFolderEntry(store.Get(), GetBinaryProperty(store.Get(), PR_IPM_SUBTREE_ENTRYID));
    for (size_t i = 1; folder && i < parts.size(); ++i) {
        CMapiRef<IMAPIFolder> next;
        for (const CChildFolder& child : ListChildFolders(folder.Get())) {
            if (EqualsIgnoringCase(child.displayName, parts[i])) {
                next = OpenFolderEntry(folder.Get(), child.entryId);
                break;
            }
        }
        folder = std::move(next);
    }
    return folder;
}

void ClearStoreCache() {
    std::lock_guard<std::mutex> lock(StoreCacheLock());
    StoreCache().clear();
}

std::string ReceiveFolderId(IMsgStore* store, const std::string& messageClass) {
    if (store == nullptr) return {};
    std::string copy = messageClass;
    ULONG size = 0;
    CMapiBuffer<ENTRYID> raw;
    if (FAILED(store->GetReceiveFolder(copy.data(), 0, &size, raw.Put(), nullptr)) || !raw) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(raw.Get()), size);
}

std::string FolderFullPath(IMsgStore* store, IMAPIFolder* folder) {
    if (store == nullptr || folder == nullptr) return {};
    std::string top = GetBinaryProperty(store, PR_IPM_SUBTREE_ENTRYID);
    std::string path;
    CMapiRef<IMAPIFolder> current;
    IMAPIFolder* at = folder;
    for (int depth = 0; depth < kMaxFolderDepth; ++depth) {
        std::string id = GetBinaryProperty(at, PR_ENTRYID);
        if (id.empty()) return {};
        if (id == top) {
            std::string storeName = GetStringProperty(store, PR_DISPLAY_NAME);
            return path.empty() ? storeName : storeName + "\\" + path;
        }
        std::string name = GetStringProperty(at, PR_DISPLAY_NAME);
        path = path.empty() ? name : name + "\\" + path;
        current = OpenFolderEntry(store, GetBinaryProperty(at, PR_PARENT_ENTRYID));
        if (!current) return {};
        at = current.Get();
    }
    return {};
}
