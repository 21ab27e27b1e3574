// IMsgStore and opening entries within a store.
#include <cstring>

#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/objects.h"
#include "platform/mapi/prop_object.h"

namespace mapistore {

namespace {

// PR_MDB_PROVIDER of every store of this engine.
const std::string& ProviderUid() {
    static const std::string uid("\x6b\x3c\x21\x90\x4e\x52\x4d\x0a\x9a\x11\x52\x6f\x72\x76\x65\x6c",
                                 16);
    return uid;
}

const std::vector<ULONG> kStoreComputed = {PROP_ID(PR_ENTRYID),     PROP_ID(PR_STORE_ENTRYID),
                                           PROP_ID(PR_RECORD_KEY),  PROP_ID(PR_STORE_RECORD_KEY),
                                           PROP_ID(PR_OBJECT_TYPE), PROP_ID(PR_MDB_PROVIDER)};

class MsgStoreImpl : public PropObject<IMsgStore> {
public:
    MsgStoreImpl(std::shared_ptr<StoreDb> db, bool writable)
        : PropObject(std::move(db), writable) {}

    HRESULT Load() { return db_->LoadProps(db_->storeObjectId(), props_); }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IMsgStore>(this, riid, ppv, IID_IMAPIProp, IID_IMsgStore);
    }

    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG,
                            ULONG* result) override {
        if (result == nullptr || (cb1 && !e1) || (cb2 && !e2)) return MAPI_E_INVALID_PARAMETER;
        std::string u1, o1, u2, o2;
        if (!StoreDb::SplitEntryId(cb1, e1, u1, o1) || !StoreDb::SplitEntryId(cb2, e2, u2, o2))
            return MAPI_E_INVALID_ENTRYID;
        *result = (u1 == u2 && o1 == o2) ? TRUE : FALSE;
        return S_OK;
    }

    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override {
        return OpenEntryInStore(db_, cb, eid, iid, flags, type, out);
    }

    HRESULT SetReceiveFolder(LPTSTR cls, ULONG flags, ULONG cb, LPENTRYID eid) override {
        if ((flags & ~MAPI_UNICODE) != 0) return MAPI_E_UNKNOWN_FLAGS;
        std::string name = TextArgument(cls, flags);
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        HRESULT hr = CheckWritable();
        if (FAILED(hr)) return hr;
        std::int64_t folder = 0;
        if (cb != 0) {
            std::string objectEid;
            if (FAILED(hr = db_->ObjectEidOf(cb, eid, objectEid))) return hr;
            ObjectRow row;
            if (FAILED(hr = db_->LoadObjectByEid(objectEid, row))) return hr;
            if (row.kind != MAPI_FOLDER) return MAPI_E_INVALID_ENTRYID;
            folder = row.id;
        }
        WriteTransaction tx(db_->db());
        if (FAILED(hr = tx.status())) return hr;
        if (FAILED(hr = db_->SetReceiveFolder(name, folder))) return hr;
        return tx.Commit();
    }

    HRESULT GetReceiveFolder(LPTSTR cls, ULONG flags, ULONG* cb, LPENTRYID* eid,
                             LPTSTR* explicitClass) override {
        if (cb == nullptr || eid == nullptr) return MAPI_E_INVALID_PARAMETER;
        if ((flags & ~MAPI_UNICODE) != 0) return MAPI_E_UNKNOWN_FLAGS;
        *cb = 0;
        *eid = nullptr;
        if (explicitClass) *explicitClass = nullptr;
        std::string name = TextArgument(cls, flags);
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        std::int64_t folder = 0;
        std::string matched;
        HRESULT hr = db_->ReceiveFolder(name, folder, matched);
        if (FAILED(hr)) return hr;
        ObjectRow row;
        if (FAILED(hr = db_->LoadObject(folder, row))) return hr;
        std::string id = db_->EntryIdOf(row.eid);
        void* p = nullptr;
        if (FAILED(hr = CopyToMapi(id.data(), id.size(), nullptr, &p))) return hr;
        if (explicitClass) {
            void* s = nullptr;
            if ((flags & MAPI_UNICODE) != 0) {
                std::u16string w = Utf8ToUtf16(matched);
                hr = CopyToMapi(w.c_str(), (w.size() + 1) * sizeof(char16_t), nullptr, &s);
            } else {
                hr = CopyToMapi(matched.c_str(), matched.size() + 1, nullptr, &s);
            }
            if (FAILED(hr)) {
                MAPIFreeBuffer(p);
                return hr;
            }
            *explicitClass = static_cast<LPTSTR>(s);
        }
        *cb = static_cast<ULONG>(id.size());
        *eid = static_cast<LPENTRYID>(p);
        return S_OK;
    }

    HRESULT StoreLogoff(ULONG* flags) override {
        if (flags) *flags = 0;
        return S_OK;
    }

protected:
    HRESULT Refresh() override { return Load(); }

    Computed ComputedValue(ULONG id, Value& out) override {
        switch (id) {
            case PROP_ID(PR_ENTRYID):
            case PROP_ID(PR_STORE_ENTRYID):
                out = Value::Binary(db_->StoreEntryId());
                return Computed::kValue;
            case PROP_ID(PR_RECORD_KEY):
            case PROP_ID(PR_STORE_RECORD_KEY):
                out = Value::Binary(db_->uid());
                return Computed::kValue;
            case PROP_ID(PR_OBJECT_TYPE):
                out = Value::Long(MAPI_STORE);
                return Computed::kValue;
            case PROP_ID(PR_MDB_PROVIDER):
                out = Value::Binary(ProviderUid());
                return Computed::kValue;
            default:
                return Computed::kNo;
        }
    }
    const std::vector<ULONG>& ComputedIdList() override { return kStoreComputed; }
    bool IsReadOnly(ULONG id) override {
        for (ULONG c : kStoreComputed)
            if (c == id) return true;
        return false;
    }
    bool WriteThrough() const override { return true; }
    HRESULT Persist() override {
        WriteTransaction tx(db_->db());
        HRESULT hr = tx.status();
        if (FAILED(hr)) return hr;
        if (FAILED(hr = db_->WriteProps(db_->storeObjectId(), props_, dirty_, deleted_))) return hr;
        if (FAILED(hr = tx.Commit())) return hr;
        dirty_.clear();
        deleted_.clear();
        return S_OK;
    }
};

bool InterfaceFits(LPCIID iid, ULONG kind) {
    if (kind == MAPI_FOLDER)
        return InterfaceServed(iid, IID_IMAPIProp, IID_IMAPIContainer, IID_IMAPIFolder);
    if (kind == MAPI_MESSAGE) return InterfaceServed(iid, IID_IMAPIProp, IID_IMessage);
    return InterfaceServed(iid, IID_IMAPIProp);
}

}  // namespace

HRESULT NewMsgStore(std::shared_ptr<StoreDb> db, bool writable, LPMDB* out) {
    ComPtr<MsgStoreImpl> store(new MsgStoreImpl(std::move(db), writable));
    HRESULT hr = store->Load();
    if (FAILED(hr)) return hr;
    *out = store.detach();
    return S_OK;
}

HRESULT OpenEntryInStore(const std::shared_ptr<StoreDb>& db, ULONG cbEntryID, LPENTRYID lpEntryID,
                         LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk) {
    if (lppUnk == nullptr || (cbEntryID != 0 && lpEntryID == nullptr))
        return MAPI_E_INVALID_PARAMETER;
    if ((ulFlags & ~(MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    *lppUnk = nullptr;
    const bool writable = (ulFlags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
    std::lock_guard<std::recursive_mutex> lock(db->mutex());
    ObjectRow row;
    HRESULT hr;
    if (cbEntryID == 0) {
        hr = db->LoadObject(db->rootId(), row);
    } else {
        std::string objectEid;
        if (FAILED(hr = db->ObjectEidOf(cbEntryID, lpEntryID, objectEid))) return hr;
        hr = db->LoadObjectByEid(objectEid, row);
    }
    if (FAILED(hr)) return hr;
    if (!InterfaceFits(lpInterface, row.kind)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (row.kind == MAPI_FOLDER) {
        LPMAPIFOLDER folder = nullptr;
        if (FAILED(hr = NewFolder(db, row, writable, &folder))) return hr;
        *lppUnk = folder;
    } else if (row.kind == MAPI_MESSAGE) {
        ObjectRow parent;  // the folder's identifier is read when someone asks for it
        parent.id = row.parent;
        parent.kind = MAPI_FOLDER;
        LPMESSAGE message = nullptr;
        if (FAILED(hr = NewMessage(db, parent, &row, writable, &message))) return hr;
        *lppUnk = message;
    } else {
        return MAPI_E_NOT_FOUND;  // recipients and attachments are reached through their message
    }
    if (lpulObjType) *lpulObjType = row.kind;
    return S_OK;
}

}  // namespace mapistore
