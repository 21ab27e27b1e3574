// The top of the store: a log-on session to a profile (IMAPISessionPtr) and a
// message store (IMsgStorePtr); the engine itself is started by CMapiInitializer.
// Each wrapper holds one reference and releases it when destroyed or reassigned;
// copies share the object.
//
// Not shared between threads; each request builds its own from its user's session
// (a session itself may be used from several threads, as the store serialises calls).
#pragma once

#include <string>

#include "platform/mapi/mapi.h"
#include "server/mapi/byte_buffer.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/mapi_ref.h"
#include "server/mapi/mapi_table_ptr.h"

class IMsgStorePtr : public CMapiPropHolder<IMsgStore> {
public:
    using CMapiPropHolder::CMapiPropHolder;
    // The object's IMsgStore interface; raises ("IMsgStorePtr::FromUnknown").
    static IMsgStorePtr FromUnknown(IUnknown* object);

    // The top of the personal folders (PR_IPM_SUBTREE_ENTRYID). Raises
    // ("IMsgStorePtr::_getIPMRoot").
    IMAPIFolderPtr GetIPMRoot(ULONG flags = MAPI_BEST_ACCESS);
    // The store's root folder (it has no parent). Raises ("IMsgStorePtr::OpenRoot").
    IMAPIFolderPtr OpenRoot(ULONG flags = MAPI_BEST_ACCESS);
    // Opens a folder or message of this store. Raises ("IMsgStorePtr::OpenEntry"),
    // MAPI_E_INVALID_ENTRYID for an empty identifier.
    CMapiRef<IUnknown> OpenEntry(const CByteBuffer& entryId, ULONG flags,
                                 ULONG* objectType = nullptr);
    IMAPIFolderPtr OpenFolder(const CByteBuffer& entryId, ULONG flags = MAPI_BEST_ACCESS);
    IMessagePtr OpenMessage(const CByteBuffer& entryId, ULONG flags = MAPI_BEST_ACCESS);
    // The entry identifier of the receive folder of a message class ("IPM": the
    // inbox). Raises ("IMsgStorePtr::GetReceiveFolder").
    CByteBuffer GetReceiveFolder(const std::string& messageClass);
};

class IMAPISessionPtr {
public:
    IMAPISessionPtr() = default;
    explicit IMAPISessionPtr(CMapiRef<IMAPISession> session) : session_(std::move(session)) {}

    // MAPILogonEx to a profile (the empty name: the default profile) with flags
    // (MAPI_NEW_SESSION | MAPI_EXTENDED and the like). Raises ("MAPILogonEx"),
    // MAPI_E_LOGON_FAILED for a profile that does not exist.
    static IMAPISessionPtr Logon(const std::string& profileName, ULONG flags);

    IMAPISession* Get() const { return session_.Get(); }
    explicit operator bool() const { return static_cast<bool>(session_); }
    void Reset() { session_.Reset(); }

    // The stores of the profile. Raises ("IMAPISessionPtr::GetMsgStoresTable").
    IMAPITablePtr GetMsgStoresTable();
    // Raises ("IMAPISessionPtr::OpenMsgStore").
    IMsgStorePtr OpenMsgStore(const CByteBuffer& storeEntryId, ULONG flags = MDB_WRITE);
    // The profile's default store (PR_DEFAULT_STORE in the store table). Raises
    // ("IMAPISessionPtr::OpenDefaultStore"), MAPI_E_NOT_FOUND without one.
    IMsgStorePtr OpenDefaultStore(ULONG flags = MDB_WRITE);
    // Opens a store, folder or message of any store of the profile. Raises
    // ("IMAPISessionPtr::OpenEntry"), MAPI_E_INVALID_ENTRYID for an empty identifier.
    CMapiRef<IUnknown> OpenEntry(const CByteBuffer& entryId, ULONG flags,
                                 ULONG* objectType = nullptr);

private:
    IMAPISession* Require(const char* place) const;

    CMapiRef<IMAPISession> session_;
};
