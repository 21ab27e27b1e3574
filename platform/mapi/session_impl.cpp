// IMAPISession, IProfAdmin and the log-on and administration functions.
#include <atomic>
#include <cstring>

#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/objects.h"
#include "platform/mapi/profiles.h"
#include "platform/mapi/prop_object.h"
#include "platform/mapi/table_impl.h"

namespace mapistore {

namespace {

std::atomic<int> g_initCount{0};

constexpr ULONG STATUS_DEFAULT_STORE = 0x00000001;

const std::string& ProviderUid() {
    static const std::string uid("\x6b\x3c\x21\x90\x4e\x52\x4d\x0a\x9a\x11\x52\x6f\x72\x76\x65\x6c",
                                 16);
    return uid;
}

class Session : public RefCounted<IMAPISession> {
public:
    explicit Session(std::string profile) : profile_(std::move(profile)) {}

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IMAPISession>(this, riid, ppv, IID_IMAPISession);
    }

    HRESULT GetLastError(HRESULT hr, ULONG, LPMAPIERROR* out) override {
        return MakeLastError(hr, "message store session", out);
    }

    HRESULT GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        if ((flags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS)) != 0) return MAPI_E_UNKNOWN_FLAGS;
        if (ended_) return MAPI_E_END_OF_SESSION;
        Profile p;
        HRESULT hr = ReadProfile(profile_, p);
        if (FAILED(hr)) return hr;
        std::vector<PropMap> rows;
        auto add = [&](const StoreEntry& s) {
            PropMap row;
            row[PROP_ID(PR_ENTRYID)] = Value::Binary(std::string(4, '\0') + s.uid);
            row[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(s.displayName);
            row[PROP_ID(PR_DEFAULT_STORE)] = Value::Bool(s.isDefault);
            row[PROP_ID(PR_RECORD_KEY)] = Value::Binary(s.uid);
            row[PROP_ID(PR_PROVIDER_DISPLAY)] = Value::Text("Personal Folders");
            row[PROP_ID(PR_MDB_PROVIDER)] = Value::Binary(ProviderUid());
            row[PROP_ID(PR_RESOURCE_FLAGS)] = Value::Long(s.isDefault ? STATUS_DEFAULT_STORE : 0);
            row[PROP_ID(PR_OBJECT_TYPE)] = Value::Long(MAPI_STORE);
            rows.push_back(std::move(row));
        };
        for (const StoreEntry& s : p.stores)
            if (s.isDefault) add(s);
        for (const StoreEntry& s : p.stores)
            if (!s.isDefault) add(s);
        return CreateTable(
            MakeStaticSource(std::move(rows), {PR_ENTRYID, PR_DISPLAY_NAME, PR_DEFAULT_STORE,
                                               PR_INSTANCE_KEY, PR_RECORD_KEY}),
            table);
    }

    HRESULT OpenMsgStore(ULONG_PTR, ULONG cb, LPENTRYID eid, LPCIID iid, ULONG flags,
                         LPMDB* out) override {
        if (out == nullptr || (cb != 0 && eid == nullptr)) return MAPI_E_INVALID_PARAMETER;
        constexpr ULONG known = MDB_NO_DIALOG | MDB_WRITE | MDB_TEMPORARY | MDB_NO_MAIL |
                                MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS;
        if ((flags & ~known) != 0) return MAPI_E_UNKNOWN_FLAGS;
        if (!InterfaceServed(iid, IID_IMAPIProp, IID_IMsgStore))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        *out = nullptr;
        if (ended_) return MAPI_E_END_OF_SESSION;
        std::string uid, objectEid;
        if (!StoreDb::SplitEntryId(cb, eid, uid, objectEid) || !objectEid.empty())
            return MAPI_E_INVALID_ENTRYID;
        std::shared_ptr<StoreDb> db;
        HRESULT hr = OpenStoreDb(uid, db);
        if (FAILED(hr)) return hr;
        std::lock_guard<std::recursive_mutex> lock(db->mutex());
        return NewMsgStore(db, (flags & (MDB_WRITE | MAPI_BEST_ACCESS)) != 0, out);
    }

    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override {
        if (out == nullptr || cb == 0 || eid == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (ended_) return MAPI_E_END_OF_SESSION;
        std::string uid, objectEid;
        if (!StoreDb::SplitEntryId(cb, eid, uid, objectEid)) return MAPI_E_INVALID_ENTRYID;
        if (objectEid.empty()) {
            LPMDB store = nullptr;
            HRESULT hr = OpenMsgStore(0, cb, eid, nullptr, MAPI_BEST_ACCESS, &store);
            if (FAILED(hr)) return hr;
            if (type) *type = MAPI_STORE;
            *out = store;
            return S_OK;
        }
        std::shared_ptr<StoreDb> db;
        HRESULT hr = OpenStoreDb(uid, db);
        if (FAILED(hr)) return hr;
        return OpenEntryInStore(db, cb, eid, iid, flags, type, out);
    }

    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG,
                            ULONG* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::string u1, o1, u2, o2;
        if (!StoreDb::SplitEntryId(cb1, e1, u1, o1) || !StoreDb::SplitEntryId(cb2, e2, u2, o2))
            return MAPI_E_INVALID_ENTRYID;
        *result = (u1 == u2 && o1 == o2) ? TRUE : FALSE;
        return S_OK;
    }

    HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override {
        ended_ = true;
        return S_OK;
    }

private:
    HRESULT OpenStoreDb(const std::string& uid, std::shared_ptr<StoreDb>& db) {
        Profile p;
        HRESULT hr = ReadProfile(profile_, p);
        if (FAILED(hr)) return hr;
        for (const StoreEntry& s : p.stores)
            if (s.uid == uid) return StoreDb::Open(p.folder + "/" + s.file, s.uid, db);
        return MAPI_E_NOT_FOUND;
    }

    std::string profile_;
    std::atomic<bool> ended_{false};
};

class ProfAdmin : public RefCounted<IProfAdmin> {
public:
    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IProfAdmin>(this, riid, ppv, IID_IProfAdmin);
    }
    HRESULT GetLastError(HRESULT hr, ULONG, LPMAPIERROR* out) override {
        return MakeLastError(hr, "profile administration", out);
    }
    HRESULT GetProfileTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        if ((flags & ~MAPI_UNICODE) != 0) return MAPI_E_UNKNOWN_FLAGS;
        std::vector<std::string> names;
        std::string def;
        HRESULT hr = ListProfiles(names, def);
        if (FAILED(hr)) return hr;
        std::vector<PropMap> rows;
        for (const std::string& n : names) {
            PropMap row;
            row[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(n);
            row[PROP_ID(PR_DEFAULT_PROFILE)] = Value::Bool(n == def);
            rows.push_back(std::move(row));
        }
        return CreateTable(MakeStaticSource(std::move(rows),
                                            {PR_DISPLAY_NAME, PR_DEFAULT_PROFILE, PR_INSTANCE_KEY}),
                           table);
    }
    HRESULT CreateProfile(LPTSTR name, LPTSTR, ULONG_PTR, ULONG flags) override {
        if (name == nullptr) return MAPI_E_INVALID_PARAMETER;
        if ((flags & ~(MAPI_DEFAULT_SERVICES | MAPI_DIALOG)) != 0) return MAPI_E_UNKNOWN_FLAGS;
        return CreateProfileOnDisk(name);
    }
    HRESULT DeleteProfile(LPTSTR name, ULONG) override {
        if (name == nullptr) return MAPI_E_INVALID_PARAMETER;
        return DeleteProfileOnDisk(name);
    }
    HRESULT SetDefaultProfile(LPTSTR name, ULONG) override {
        if (name == nullptr) return MAPI_E_INVALID_PARAMETER;
        return SetDefaultProfileName(name);
    }
};

}  // namespace
}  // namespace mapistore

using namespace mapistore;

HRESULT MAPIInitialize(LPVOID lpMapiInit) {
    if (lpMapiInit != nullptr &&
        static_cast<MAPIINIT_0*>(lpMapiInit)->ulVersion != MAPI_INIT_VERSION)
        return MAPI_E_VERSION;
    g_initCount.fetch_add(1);
    return S_OK;
}

void MAPIUninitialize() {
    int current = g_initCount.load();
    while (current > 0 && !g_initCount.compare_exchange_weak(current, current - 1)) {
    }
}

HRESULT MAPILogonEx(ULONG_PTR, LPTSTR lpszProfileName, LPTSTR, FLAGS, LPMAPISESSION* lppSession) {
    if (lppSession == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppSession = nullptr;
    if (g_initCount.load() <= 0) return MAPI_E_NOT_INITIALIZED;
    std::string name;
    if (lpszProfileName != nullptr && lpszProfileName[0] != '\0') {
        name = lpszProfileName;
    } else {
        std::vector<std::string> names;
        if (FAILED(ListProfiles(names, name)) || name.empty()) return MAPI_E_LOGON_FAILED;
    }
    Profile p;
    if (FAILED(ReadProfile(name, p))) return MAPI_E_LOGON_FAILED;
    *lppSession = new Session(name);
    return S_OK;
}

HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
    if (lppProfAdmin == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppProfAdmin = nullptr;
    if (ulFlags != 0) return MAPI_E_UNKNOWN_FLAGS;
    if (g_initCount.load() <= 0) return MAPI_E_NOT_INITIALIZED;
    *lppProfAdmin = new ProfAdmin;
    return S_OK;
}

HRESULT HrCreateMsgStore(LPCSTR lpszProfileName, LPCSTR lpszDisplayName, ULONG ulFlags,
                         ULONG* lpcbEntryID, LPENTRYID* lppEntryID) {
    if (lpszProfileName == nullptr || lpszDisplayName == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags != 0) return MAPI_E_UNKNOWN_FLAGS;
    StoreEntry added;
    HRESULT hr = AddStoreToProfile(lpszProfileName, lpszDisplayName, false, added);
    if (FAILED(hr)) return hr;
    if (lpcbEntryID != nullptr && lppEntryID != nullptr) {
        std::string id = std::string(4, '\0') + added.uid;
        void* p = nullptr;
        if (FAILED(hr = CopyToMapi(id.data(), id.size(), nullptr, &p))) return hr;
        *lpcbEntryID = static_cast<ULONG>(id.size());
        *lppEntryID = static_cast<LPENTRYID>(p);
    }
    return S_OK;
}

std::string MapiProfilesFolder() { return ProfilesRoot(); }
