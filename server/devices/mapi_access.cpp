// MAPI helpers of the user and device records.
#include "server/devices/mapi_access.h"

#include <map>
#include <mutex>

#include "common/base/limits.h"
#include "common/base/text.h"
#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_ref.h"

namespace {

std::string BinaryOf(const SPropValue& value) {
    if (PROP_TYPE(value.ulPropTag) != PT_BINARY || value.Value.bin.lpb == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
}

std::string StringOf(const SPropValue& value) {
    if (PROP_TYPE(value.ulPropTag) != PT_STRING8 || value.Value.lpszA == nullptr) return {};
    return std::string(value.Value.lpszA);
}

template <class T>
MapiShared<T> AskFor(IUnknown* unknown, const IID& iid) {
    if (unknown == nullptr) return nullptr;
    void* asked = nullptr;
    HRESULT hr = unknown->QueryInterface(iid, &asked);
    unknown->Release();
    if (FAILED(hr) || asked == nullptr) return nullptr;
    return AdoptMapi(static_cast<T*>(static_cast<IUnknown*>(asked)));
}

template <class Source>
IUnknown* OpenRaw(Source* source, const std::string& entryId, ULONG flags) {
    if (source == nullptr || entryId.empty()) return nullptr;
    ULONG type = 0;
    IUnknown* unknown = nullptr;
    std::string copy = entryId;
    HRESULT hr =
        source->OpenEntry(static_cast<ULONG>(copy.size()), reinterpret_cast<LPENTRYID>(copy.data()),
                          nullptr, flags, &type, &unknown);
    if (FAILED(hr)) return nullptr;
    return unknown;
}

std::mutex& StoreCacheLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, MapiShared<IMsgStore>>& StoreCache() {
    static std::map<std::string, MapiShared<IMsgStore>> cache;
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

MapiShared<IMAPIFolder> OpenFolderEntry(IMAPISession* session, const std::string& entryId,
                                        ULONG flags) {
    return AskFor<IMAPIFolder>(OpenRaw(session, entryId, flags), IID_IMAPIFolder);
}

MapiShared<IMAPIFolder> OpenFolderEntry(IMsgStore* store, const std::string& entryId, ULONG flags) {
    return AskFor<IMAPIFolder>(OpenRaw(store, entryId, flags), IID_IMAPIFolder);
}

MapiShared<IMAPIFolder> OpenFolderEntry(IMAPIFolder* container, const std::string& entryId,
                                        ULONG flags) {
    return AskFor<IMAPIFolder>(OpenRaw(container, entryId, flags), IID_IMAPIFolder);
}

MapiShared<IMessage> OpenMessageEntry(IMsgStore* store, const std::string& entryId, ULONG flags) {
    return AskFor<IMessage>(OpenRaw(store, entryId, flags), IID_IMessage);
}

MapiShared<IMsgStore> OpenStore(IMAPISession* session, const std::string& entryId) {
    if (session == nullptr || entryId.empty()) return nullptr;
    std::string copy = entryId;
    IMsgStore* store = nullptr;
    HRESULT hr = session->OpenMsgStore(0, static_cast<ULONG>(copy.size()),
                                       reinterpret_cast<LPENTRYID>(copy.data()), nullptr,
                                       MAPI_BEST_ACCESS | MDB_NO_DIALOG, &store);
    if (FAILED(hr)) return nullptr;
    return AdoptMapi(store);
}

namespace {

// Every row, with columns, of the table (object->*getter) hands out; no rows when
// either call fails.
template <class Object, class Getter>
CRowSet AllRowsOf(Object* object, Getter getter, const CPropTagArray& columns) {
    IMAPITable* rawTable = nullptr;
    if (FAILED((object->*getter)(0, &rawTable))) return CRowSet();
    MapiShared<IMAPITable> table = AdoptMapi(rawTable);
    SRowSet* rawRows = nullptr;
    if (FAILED(HrQueryAllRows(table.get(), columns.Get(), nullptr, nullptr, 0, &rawRows)))
        return CRowSet();
    return CRowSet(rawRows);
}

}  // namespace

std::vector<CStoreRow> ListStores(IMAPISession* session) {
    std::vector<CStoreRow> stores;
    if (session == nullptr) return stores;
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
    if (folder == nullptr) return children;
    CRowSet rows =
        AllRowsOf(folder, &IMAPIFolder::GetHierarchyTable, {PR_ENTRYID, PR_DISPLAY_NAME});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SRow& row = rows[i];
        if (row.cValues < 2) continue;
        children.push_back({BinaryOf(row.lpProps[0]), StringOf(row.lpProps[1])});
    }
    return children;
}

MapiShared<IMAPISession> LogonProfile(const std::string& profile, HRESULT& error) {
    std::string name = profile;
    IMAPISession* session = nullptr;
    error = MAPILogonEx(0, name.data(), nullptr, MAPI_NEW_SESSION | MAPI_EXTENDED | MAPI_NO_MAIL,
                        &session);
    if (FAILED(error) || session == nullptr) {
        if (!FAILED(error)) error = MAPI_E_LOGON_FAILED;
        return nullptr;
    }
    error = S_OK;
    return AdoptMapi(session);
}

MapiShared<IMAPIFolder> OpenConfiguredFolder(const std::string& profile, IMAPISession* session,
                                             const std::string& outlookPath) {
    std::vector<std::string> parts;
    for (std::string_view part : SplitSkippingEmpty(outlookPath, '\\')) parts.emplace_back(part);
    // A path naming only a store would offer everything in it: not a folder.
    if (parts.size() < 2 || session == nullptr) return nullptr;
    MapiShared<IMsgStore> store;
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
        if (!store) return nullptr;
        std::lock_guard<std::mutex> lock(StoreCacheLock());
        StoreCache().emplace(key, store);
    }
    MapiShared<IMAPIFolder> folder =
        OpenFolderEntry(store.get(), GetBinaryProperty(store.get(), PR_IPM_SUBTREE_ENTRYID));
    for (size_t i = 1; folder && i < parts.size(); ++i) {
        MapiShared<IMAPIFolder> next;
        for (const CChildFolder& child : ListChildFolders(folder.get())) {
            if (EqualsIgnoringCase(child.displayName, parts[i])) {
                next = OpenFolderEntry(folder.get(), child.entryId);
                break;
            }
        }
        folder = next;
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
    MapiShared<IMAPIFolder> current;
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
        at = current.get();
    }
    return {};
}
