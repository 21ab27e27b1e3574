// Sessions and message stores.
#include "server/mapi/mapi_store_ptrs.h"

#include "server/mapi/adapter_calls.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_query.h"

// ---- stores ------------------------------------------------------------------------------

IMsgStorePtr IMsgStorePtr::FromUnknown(IUnknown* object) {
    return IMsgStorePtr(MapiQueryAs<IMsgStore>(object, "IMsgStorePtr::FromUnknown"));
}

IMAPIFolderPtr IMsgStorePtr::GetIPMRoot(ULONG flags) {
    constexpr const char* kPlace = "IMsgStorePtr::_getIPMRoot";
    try {
        return OpenFolder(GetBinaryProp(PR_IPM_SUBTREE_ENTRYID), flags);
    } catch (const CMAPIException& e) {
        throw CMAPIException(e.GetHResult(), kPlace, e.GetDetails());
    }
}

IMAPIFolderPtr IMsgStorePtr::OpenRoot(ULONG flags) {
    constexpr const char* kPlace = "IMsgStorePtr::OpenRoot";
    IMsgStore* store = Require(kPlace);
    ULONG type = 0;
    CMapiRef<IUnknown> object;
    MapiCheck(store->OpenEntry(0, nullptr, nullptr, flags, &type, object.Put()), kPlace, store);
    return IMAPIFolderPtr::FromUnknown(object.Get());
}

CMapiRef<IUnknown> IMsgStorePtr::OpenEntry(const CByteBuffer& entryId, ULONG flags,
                                           ULONG* objectType) {
    constexpr const char* kPlace = "IMsgStorePtr::OpenEntry";
    return OpenEntryThrough(Require(kPlace), entryId, flags, objectType, kPlace);
}

IMAPIFolderPtr IMsgStorePtr::OpenFolder(const CByteBuffer& entryId, ULONG flags) {
    return IMAPIFolderPtr::FromUnknown(OpenEntry(entryId, flags).Get());
}

IMessagePtr IMsgStorePtr::OpenMessage(const CByteBuffer& entryId, ULONG flags) {
    return IMessagePtr::FromUnknown(OpenEntry(entryId, flags).Get());
}

CByteBuffer IMsgStorePtr::GetReceiveFolder(const std::string& messageClass) {
    constexpr const char* kPlace = "IMsgStorePtr::GetReceiveFolder";
    IMsgStore* store = Require(kPlace);
    std::string copy = messageClass;
    ULONG size = 0;
    CMapiBuffer<ENTRYID> entryId;
    MapiCheck(store->GetReceiveFolder(copy.data(), 0, &size, entryId.Put(), nullptr), kPlace,
              store);
    if (!entryId || size == 0) throw CMAPIException(MAPI_E_NOT_FOUND, kPlace);
    return CByteBuffer(entryId.Get(), size);
}

// ---- sessions ------------------------------------------------------------------------------

IMAPISessionPtr IMAPISessionPtr::Logon(const std::string& profileName, ULONG flags) {
    std::string copy = profileName;
    CMapiRef<IMAPISession> session;
    MapiCheck(MAPILogonEx(0, copy.empty() ? nullptr : copy.data(), nullptr, flags, session.Put()),
              "MAPILogonEx");
    if (!session) throw CMAPIException(MAPI_E_LOGON_FAILED, "MAPILogonEx");
    return IMAPISessionPtr(std::move(session));
}

IMAPISession* IMAPISessionPtr::Require(const char* place) const {
    if (!session_) throw CMAPIException(MAPI_E_INVALID_OBJECT, place);
    return session_.Get();
}

IMAPITablePtr IMAPISessionPtr::GetMsgStoresTable() {
    constexpr const char* kPlace = "IMAPISessionPtr::GetMsgStoresTable";
    return TakeTable(Require(kPlace), &IMAPISession::GetMsgStoresTable, 0, kPlace);
}

IMsgStorePtr IMAPISessionPtr::OpenMsgStore(const CByteBuffer& storeEntryId, ULONG flags) {
    constexpr const char* kPlace = "IMAPISessionPtr::OpenMsgStore";
    IMAPISession* session = Require(kPlace);
    if (storeEntryId.Empty()) throw CMAPIException(MAPI_E_INVALID_ENTRYID, kPlace);
    CMapiRef<IMsgStore> store;
    MapiCheck(session->OpenMsgStore(0, storeEntryId.EntryIdSize(), storeEntryId.EntryId(), nullptr,
                                    flags, store.Put()),
              kPlace, session);
    if (!store) throw CMAPIException(MAPI_E_NOT_FOUND, kPlace);
    return IMsgStorePtr(std::move(store));
}

IMsgStorePtr IMAPISessionPtr::OpenDefaultStore(ULONG flags) {
    constexpr const char* kPlace = "IMAPISessionPtr::OpenDefaultStore";
    IMAPITablePtr table = GetMsgStoresTable();
    CRowSet rows = table.QueryAllRows({PR_ENTRYID, PR_DEFAULT_STORE});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        if (CRowSet::Long(rows[i], PR_DEFAULT_STORE) != 0)
            return OpenMsgStore(CRowSet::Binary(rows[i], PR_ENTRYID), flags);
    }
    throw CMAPIException(MAPI_E_NOT_FOUND, kPlace);
}

CMapiRef<IUnknown> IMAPISessionPtr::OpenEntry(const CByteBuffer& entryId, ULONG flags,
                                              ULONG* objectType) {
    constexpr const char* kPlace = "IMAPISessionPtr::OpenEntry";
    return OpenEntryThrough(Require(kPlace), entryId, flags, objectType, kPlace);
}
