// Test helpers: a temporary data folder with one profile, and short forms of the
// MAPI calls the tests repeat.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "common/base/temp_home.h"
#include "platform/mapi/com_base.h"
#include "platform/mapi/mapi.h"

namespace mapitest {

using mapistore::ComPtr;

inline SPropValue LongProp(ULONG tag, LONG v) {
    SPropValue p{};
    p.ulPropTag = tag;
    p.Value.l = v;
    return p;
}
inline SPropValue StringProp(ULONG tag, const char* text) {
    SPropValue p{};
    p.ulPropTag = tag;
    p.Value.lpszA = const_cast<char*>(text);
    return p;
}
// The bytes are kept for the life of the test program: callers pass temporaries.
inline SPropValue BinaryProp(ULONG tag, const std::string& bytes) {
    static std::deque<std::string> kept;
    kept.push_back(bytes);
    SPropValue p{};
    p.ulPropTag = tag;
    p.Value.bin.cb = static_cast<ULONG>(kept.back().size());
    p.Value.bin.lpb = reinterpret_cast<LPBYTE>(kept.back().data());
    return p;
}
inline SPropValue TimeProp(ULONG tag, std::uint64_t ft) {
    SPropValue p{};
    p.ulPropTag = tag;
    p.Value.ft.dwLowDateTime = static_cast<DWORD>(ft);
    p.Value.ft.dwHighDateTime = static_cast<DWORD>(ft >> 32);
    return p;
}
inline SPropValue BoolProp(ULONG tag, bool v) {
    SPropValue p{};
    p.ulPropTag = tag;
    p.Value.b = v ? 1 : 0;
    return p;
}

inline HRESULT Set(IMAPIProp* obj, SPropValue value) { return HrSetOneProp(obj, &value); }

inline std::string GetString(IMAPIProp* obj, ULONG tag) {
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(obj, tag, &v))) return "<missing>";
    std::string s = v->Value.lpszA;
    MAPIFreeBuffer(v);
    return s;
}
inline std::string GetBinary(IMAPIProp* obj, ULONG tag) {
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(obj, tag, &v))) return std::string();
    std::string s(reinterpret_cast<const char*>(v->Value.bin.lpb), v->Value.bin.cb);
    MAPIFreeBuffer(v);
    return s;
}
inline LONG GetLong(IMAPIProp* obj, ULONG tag, LONG missing = -1) {
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(obj, tag, &v))) return missing;
    LONG l = v->Value.l;
    MAPIFreeBuffer(v);
    return l;
}
inline std::uint64_t GetTime(IMAPIProp* obj, ULONG tag) {
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(obj, tag, &v))) return 0;
    std::uint64_t t = (std::uint64_t{v->Value.ft.dwHighDateTime} << 32) | v->Value.ft.dwLowDateTime;
    MAPIFreeBuffer(v);
    return t;
}
inline HRESULT GetError(IMAPIProp* obj, ULONG tag) {
    LPSPropValue v = nullptr;
    HRESULT hr = HrGetOneProp(obj, tag, &v);
    MAPIFreeBuffer(v);
    return hr;
}

inline LPENTRYID Eid(const std::string& bytes) {
    return reinterpret_cast<LPENTRYID>(const_cast<char*>(bytes.data()));
}

// A profile "Test" with its default store open, and the default folders at hand.
class StoreTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        ComPtr<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, admin.put()), S_OK);
        ASSERT_EQ(admin->CreateProfile(const_cast<char*>("Test"), nullptr, 0, 0), S_OK);
        ASSERT_EQ(
            MAPILogonEx(0, const_cast<char*>("Test"), nullptr, MAPI_NEW_SESSION, session.put()),
            S_OK);
        store = OpenDefaultStore(session.get());
        ASSERT_TRUE(store);
        inbox = OpenFolder(store.get(), InboxId());
        contacts = OpenFolder(store.get(), GetBinary(inbox.get(), PR_IPM_CONTACT_ENTRYID));
        ASSERT_TRUE(inbox && contacts);
    }
    void TearDown() override {
        inbox.reset();
        contacts.reset();
        store.reset();
        if (session) session->Logoff(0, 0, 0);
        session.reset();
        MAPIUninitialize();
    }

    static ComPtr<IMsgStore> OpenDefaultStore(IMAPISession* s, bool wantDefault = true) {
        ComPtr<IMAPITable> table;
        if (FAILED(s->GetMsgStoresTable(0, table.put()))) return {};
        SizedSPropTagArray(2, cols) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
        LPSRowSet rows = nullptr;
        if (FAILED(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&cols), nullptr,
                                  nullptr, 0, &rows)))
            return {};
        ComPtr<IMsgStore> result;
        for (ULONG k = 0; k < rows->cRows && !result; ++k) {
            if ((rows->aRow[k].lpProps[1].Value.b != 0) != wantDefault) continue;
            const SBinary& b = rows->aRow[k].lpProps[0].Value.bin;
            s->OpenMsgStore(0, b.cb, reinterpret_cast<LPENTRYID>(b.lpb), nullptr, MAPI_BEST_ACCESS,
                            result.put());
        }
        FreeProws(rows);
        return result;
    }

    // The file of the profile's default store.
    std::string StoreFile() {
        for (const auto& entry :
             std::filesystem::directory_iterator(home.Path() + "/MAPI/Profiles/Test"))
            if (entry.path().extension() == ".db") return entry.path();
        return {};
    }

    // Runs sql on the store file through another connection, as another process
    // would: the first column of its first row, 0 for none, -1 when it does not run.
    int OnFile(const char* sql) {
        sqlite3* db = nullptr;
        int value = -1;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_open(StoreFile().c_str(), &db) == SQLITE_OK &&
            sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
            const int rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) value = sqlite3_column_int(st, 0);
            if (rc == SQLITE_DONE) value = 0;
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return value;
    }
    // Messages of the store file as another connection (another process) sees them.
    int CommittedMessages() { return OnFile("SELECT count(*) FROM objects WHERE kind = 5"); }

    std::string InboxId() {
        ULONG cb = 0;
        LPENTRYID eid = nullptr;
        if (FAILED(store->GetReceiveFolder(const_cast<char*>("IPM"), 0, &cb, &eid, nullptr)))
            return {};
        std::string id(reinterpret_cast<const char*>(eid), cb);
        MAPIFreeBuffer(eid);
        return id;
    }

    // The entry id opened through the store, when it is of the type asked for.
    template <class I>
    static ComPtr<I> OpenEntryOf(ULONG wantedType, IMsgStore* s, const std::string& id,
                                 ULONG flags) {
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        if (FAILED(s->OpenEntry(static_cast<ULONG>(id.size()), Eid(id), nullptr, flags, &type,
                                unk.put())) ||
            type != wantedType)
            return {};
        return ComPtr<I>(static_cast<I*>(unk.detach()));
    }
    static ComPtr<IMAPIFolder> OpenFolder(IMsgStore* s, const std::string& id,
                                          ULONG flags = MAPI_BEST_ACCESS) {
        return OpenEntryOf<IMAPIFolder>(MAPI_FOLDER, s, id, flags);
    }
    static ComPtr<IMessage> OpenMessage(IMsgStore* s, const std::string& id,
                                        ULONG flags = MAPI_BEST_ACCESS) {
        return OpenEntryOf<IMessage>(MAPI_MESSAGE, s, id, flags);
    }

    // The entry identifiers of the folder's messages in the contents table's order;
    // empty when the table cannot be read.
    static std::vector<std::string> MessageIds(IMAPIFolder* folder) {
        std::vector<std::string> ids;
        ComPtr<IMAPITable> table;
        if (FAILED(folder->GetContentsTable(0, table.put()))) return ids;
        SizedSPropTagArray(1, cols) = {1, {PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        if (FAILED(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&cols), nullptr,
                                  nullptr, 0, &rows)))
            return ids;
        for (ULONG k = 0; k < rows->cRows; ++k) {
            const SBinary& b = rows->aRow[k].lpProps[0].Value.bin;
            ids.emplace_back(reinterpret_cast<const char*>(b.lpb), b.cb);
        }
        FreeProws(rows);
        return ids;
    }

    // A saved message with a subject in folder; returns its entry identifier.
    static std::string AddMessage(IMAPIFolder* folder, const char* subject,
                                  std::vector<SPropValue> extra = {}) {
        ComPtr<IMessage> m;
        if (FAILED(folder->CreateMessage(nullptr, 0, m.put()))) return {};
        extra.push_back(StringProp(PR_SUBJECT, subject));
        if (FAILED(m->SetProps(static_cast<ULONG>(extra.size()), extra.data(), nullptr))) return {};
        if (FAILED(m->SaveChanges(KEEP_OPEN_READWRITE))) return {};
        return GetBinary(m.get(), PR_ENTRYID);
    }

    // One column of every row of the table, as text (strings) or decimal (longs).
    static std::vector<std::string> Column(IMAPITable* table, ULONG tag) {
        SizedSPropTagArray(1, cols) = {1, {tag}};
        std::vector<std::string> out;
        if (FAILED(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&cols), 0))) return out;
        if (FAILED(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) return out;
        LPSRowSet rows = nullptr;
        if (FAILED(table->QueryRows(1000000, 0, &rows))) return out;
        for (ULONG k = 0; k < rows->cRows; ++k) {
            const SPropValue& v = rows->aRow[k].lpProps[0];
            if (PROP_TYPE(v.ulPropTag) == PT_ERROR)
                out.push_back("-");
            else if (PROP_TYPE(v.ulPropTag) == PT_STRING8)
                out.push_back(v.Value.lpszA);
            else
                out.push_back(std::to_string(v.Value.l));
        }
        FreeProws(rows);
        return out;
    }

    TempHome home{"mapistore"};
    ComPtr<IMAPISession> session;
    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> inbox;
    ComPtr<IMAPIFolder> contacts;
};

}  // namespace mapitest
