// Message store engine against raw SQLite statements on the same schema, in one run.
// Each benchmark does one piece of work both ways and reports the engine's time as
// the iteration time, with engine_s, raw_s and ratio (engine / raw) as counters:
//   create:  10,000 contacts of 40 properties, one save (transaction) each
//   read:    open every one of them and read all its properties
//   table:   contents table of 100,000 items with entry ID, modification time, flags
//   findrow: FindRow RELOP_EQ on the file-as text over 10,000 items, 1,000 times
//   update:  one property changed on each of 10,000 items, one save each
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/raw_sqlite.h"
#include "common/base/temp_home.h"
#include "platform/mapi/com_base.h"
#include "platform/mapi/mapi.h"
#include "platform/mapi/store_db.h"

namespace {

using mapistore::ComPtr;
using Clock = std::chrono::steady_clock;

constexpr int kContacts = 10000;
constexpr int kTableItems = 100000;
constexpr int kFinds = 1000;
constexpr ULONG kFileAsId = 0x8000;  // the first named property of the bench store

// A moment by the wall clock and by this thread's processor time: the machines are
// shared, so the processor-time ratio is the steadier one.
struct Moment {
    Clock::time_point wall;
    double cpu;
};
Moment Now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return Moment{Clock::now(),
                  static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9};
}

void Report(benchmark::State& state, Moment t0, Moment t1, Moment t2) {
    const double engine = std::chrono::duration<double>(t1.wall - t0.wall).count();
    const double raw = std::chrono::duration<double>(t2.wall - t1.wall).count();
    const double engineCpu = t1.cpu - t0.cpu;
    const double rawCpu = t2.cpu - t1.cpu;
    state.SetIterationTime(engine);
    state.counters["engine_s"] = engine;
    state.counters["raw_s"] = raw;
    state.counters["ratio"] = raw > 0 ? engine / raw : 0;
    state.counters["engine_cpu_s"] = engineCpu;
    state.counters["raw_cpu_s"] = rawCpu;
    state.counters["cpu_ratio"] = rawCpu > 0 ? engineCpu / rawCpu : 0;
}

std::string ContactName(int k) { return "Contact " + std::to_string(100000 + k); }

// The 40 properties of one contact, with values that vary by contact.
struct ContactProps {
    std::vector<SPropValue> values;
    std::vector<std::string> texts;
    std::string blob;
};

void MakeContact(int k, ContactProps& c) {
    c.values.clear();
    c.texts.clear();
    c.texts.reserve(40);
    c.blob.assign(32, static_cast<char>(k & 0xFF));
    auto text = [&](ULONG tag, std::string value) {
        c.texts.push_back(std::move(value));
        SPropValue p{};
        p.ulPropTag = tag;
        c.values.push_back(p);
    };
    text(PR_MESSAGE_CLASS, "IPM.Contact");
    text(PROP_TAG(PT_STRING8, kFileAsId), ContactName(k));
    text(PR_DISPLAY_NAME, ContactName(k));
    for (ULONG id = 0x3A06; c.values.size() < 30; ++id)
        text(PROP_TAG(PT_STRING8, id), "value " + std::to_string(id) + "/" + std::to_string(k));
    for (std::size_t t = 0; t < c.texts.size(); ++t) c.values[t].Value.lpszA = c.texts[t].data();
    for (ULONG j = 0; j < 5; ++j) {
        SPropValue p{};
        p.ulPropTag = PROP_TAG(PT_LONG, 0x6800 + j);
        p.Value.l = k * 7 + static_cast<LONG>(j);
        c.values.push_back(p);
    }
    for (ULONG j = 0; j < 3; ++j) {
        SPropValue p{};
        p.ulPropTag = PROP_TAG(PT_SYSTIME, 0x6810 + j);
        std::uint64_t ft = 128809047090000000ull + static_cast<std::uint64_t>(k) * 10000000ull;
        p.Value.ft.dwLowDateTime = static_cast<DWORD>(ft);
        p.Value.ft.dwHighDateTime = static_cast<DWORD>(ft >> 32);
        c.values.push_back(p);
    }
    for (ULONG j = 0; j < 2; ++j) {
        SPropValue p{};
        p.ulPropTag = PROP_TAG(PT_BINARY, 0x6820 + j);
        p.Value.bin.cb = static_cast<ULONG>(c.blob.size());
        p.Value.bin.lpb = reinterpret_cast<LPBYTE>(c.blob.data());
        c.values.push_back(p);
    }
}

// A raw connection to a second store file of the same schema, and the statements a
// hand-written store would use.
struct Raw {
    sqlite3* db = nullptr;
    std::int64_t folder = 0;
    ~Raw() { sqlite3_close(db); }
    void Exec(const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
    RawStatement Prepare(const char* sql) const { return RawStatement(db, sql); }
};

struct World {
    TempHome temp{"store-bench"};  // removed after the store is closed
    const std::string home = temp.Path();
    ComPtr<IMAPISession> session;
    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> contacts;   // the 10,000 contacts
    ComPtr<IMAPIFolder> bigFolder;  // the 100,000 items
    std::vector<std::string> contactIds;
    Raw raw;
    std::vector<std::int64_t> rawIds;
    std::int64_t rawBigFolder = 0;

    World() {
        if (home.empty()) std::abort();
        MAPIInitialize(nullptr);
        ComPtr<IProfAdmin> admin;
        MAPIAdminProfiles(0, admin.put());
        admin->CreateProfile(const_cast<char*>("Bench"), nullptr, 0, 0);
        MAPILogonEx(0, const_cast<char*>("Bench"), nullptr, 0, session.put());
        ComPtr<IMAPITable> table;
        session->GetMsgStoresTable(0, table.put());
        SizedSPropTagArray(1, cols) = {1, {PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&cols), nullptr, nullptr, 0,
                       &rows);
        const SBinary& b = rows->aRow[0].lpProps[0].Value.bin;
        session->OpenMsgStore(0, b.cb, reinterpret_cast<LPENTRYID>(b.lpb), nullptr,
                              MAPI_BEST_ACCESS, store.put());
        FreeProws(rows);
        ComPtr<IMAPIFolder> root = Folder(Binary(store.get(), PR_IPM_SUBTREE_ENTRYID));
        root->CreateFolder(FOLDER_GENERIC, const_cast<char*>("Bench Contacts"), nullptr, nullptr, 0,
                           contacts.put());
        root->CreateFolder(FOLDER_GENERIC, const_cast<char*>("Bench Big"), nullptr, nullptr, 0,
                           bigFolder.put());
        // FileAs becomes id 0x8000 in this store.
        GUID address = PSETID_Address;
        MAPINAMEID fileAs{&address, MNID_ID, {0x8005}};
        LPMAPINAMEID names[1] = {&fileAs};
        LPSPropTagArray tags = nullptr;
        contacts->GetIDsFromNames(1, names, MAPI_CREATE, &tags);
        MAPIFreeBuffer(tags);

        std::string rawPath = home + "/raw.db";
        mapistore::StoreDb::Create(rawPath, mapistore::StoreDb::NewRandomBytes(16), "Raw");
        sqlite3_open(rawPath.c_str(), &raw.db);
        raw.Exec("PRAGMA journal_mode=WAL");
        raw.Exec("PRAGMA synchronous=FULL");
        raw.folder = RawFolder("Bench Contacts");
        rawBigFolder = RawFolder("Bench Big");
    }
    ~World() {
        contacts.reset();
        bigFolder.reset();
        store.reset();
        session.reset();
        MAPIUninitialize();
    }

    std::int64_t RawFolder(const char* name) {
        std::string sql =
            "INSERT INTO objects(eid, kind, parent, created, modified) VALUES(randomblob(16), 3, "
            "1, 0, 0)";
        raw.Exec(sql.c_str());
        std::int64_t id = sqlite3_last_insert_rowid(raw.db);
        RawStatement st =
            raw.Prepare("INSERT INTO props(obj, pid, type, val) VALUES(?1, 12289, 31, ?2)");
        sqlite3_bind_int64(st, 1, id);
        sqlite3_bind_text(st, 2, name, -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        return id;
    }

    static std::string Binary(IMAPIProp* obj, ULONG tag) {
        LPSPropValue v = nullptr;
        if (FAILED(HrGetOneProp(obj, tag, &v))) return {};
        std::string s(reinterpret_cast<char*>(v->Value.bin.lpb), v->Value.bin.cb);
        MAPIFreeBuffer(v);
        return s;
    }
    ComPtr<IMAPIFolder> Folder(const std::string& id) {
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        store->OpenEntry(static_cast<ULONG>(id.size()),
                         reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), nullptr,
                         MAPI_BEST_ACCESS, &type, unk.put());
        return ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.detach()));
    }
};

World& TheWorld() {
    static World world;
    return world;
}

// Binds one SPropValue the way the store keeps it.
void RawBind(sqlite3_stmt* st, const SPropValue& p) {
    switch (PROP_TYPE(p.ulPropTag)) {
        case PT_STRING8:
            sqlite3_bind_int(st, 3, PT_UNICODE);
            sqlite3_bind_text(st, 4, p.Value.lpszA, -1, SQLITE_STATIC);
            break;
        case PT_LONG:
            sqlite3_bind_int(st, 3, PT_LONG);
            sqlite3_bind_int64(st, 4, p.Value.l);
            break;
        case PT_SYSTIME:
            sqlite3_bind_int(st, 3, PT_SYSTIME);
            sqlite3_bind_int64(
                st, 4,
                static_cast<sqlite3_int64>((std::uint64_t{p.Value.ft.dwHighDateTime} << 32) |
                                           p.Value.ft.dwLowDateTime));
            break;
        default:
            sqlite3_bind_int(st, 3, PT_BINARY);
            sqlite3_bind_blob(st, 4, p.Value.bin.lpb, static_cast<int>(p.Value.bin.cb),
                              SQLITE_STATIC);
    }
}

void BM_CreateContacts(benchmark::State& state) {
    World& w = TheWorld();
    for (auto _ : state) {
        ContactProps c;
        Moment t0 = Now();
        for (int k = 0; k < kContacts; ++k) {
            MakeContact(k, c);
            ComPtr<IMessage> m;
            w.contacts->CreateMessage(nullptr, 0, m.put());
            m->SetProps(static_cast<ULONG>(c.values.size()), c.values.data(), nullptr);
            m->SaveChanges(KEEP_OPEN_READONLY);
            w.contactIds.push_back(World::Binary(m.get(), PR_ENTRYID));
        }
        Moment t1 = Now();
        RawStatement obj = w.raw.Prepare(
            "INSERT INTO objects(eid, kind, parent, num, created, modified, flags) "
            "VALUES(randomblob(16), 5, ?1, 0, ?2, ?2, 0)");
        RawStatement prop =
            w.raw.Prepare("INSERT INTO props(obj, pid, type, val) VALUES(?1, ?2, ?3, ?4)");
        for (int k = 0; k < kContacts; ++k) {
            MakeContact(k, c);
            w.raw.Exec("BEGIN IMMEDIATE");
            sqlite3_bind_int64(obj, 1, w.raw.folder);
            sqlite3_bind_int64(obj, 2, 128809047090000000ll + k);
            sqlite3_step(obj);
            sqlite3_reset(obj);
            std::int64_t id = sqlite3_last_insert_rowid(w.raw.db);
            w.rawIds.push_back(id);
            for (const SPropValue& p : c.values) {
                sqlite3_bind_int64(prop, 1, id);
                sqlite3_bind_int64(prop, 2, PROP_ID(p.ulPropTag));
                RawBind(prop, p);
                sqlite3_step(prop);
                sqlite3_reset(prop);
            }
            w.raw.Exec("COMMIT");
        }
        Report(state, t0, t1, Now());
    }
}

void BM_ReadContacts(benchmark::State& state) {
    World& w = TheWorld();
    for (auto _ : state) {
        std::size_t seen = 0;
        Moment t0 = Now();
        for (const std::string& id : w.contactIds) {
            ULONG type = 0;
            ComPtr<IUnknown> unk;
            w.store->OpenEntry(static_cast<ULONG>(id.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), nullptr,
                               0, &type, unk.put());
            ULONG count = 0;
            LPSPropValue values = nullptr;
            static_cast<IMessage*>(unk.get())->GetProps(nullptr, 0, &count, &values);
            seen += count;
            MAPIFreeBuffer(values);
        }
        Moment t1 = Now();
        RawStatement row = w.raw.Prepare(
            "SELECT eid, parent, created, modified, flags FROM objects WHERE id = ?1");
        RawStatement props = w.raw.Prepare("SELECT pid, type, val FROM props WHERE obj = ?1");
        std::size_t rawSeen = 0;
        for (std::int64_t id : w.rawIds) {
            sqlite3_bind_int64(row, 1, id);
            if (sqlite3_step(row) == SQLITE_ROW) rawSeen += 5;
            sqlite3_reset(row);
            sqlite3_bind_int64(props, 1, id);
            while (sqlite3_step(props) == SQLITE_ROW) {
                std::string value(reinterpret_cast<const char*>(sqlite3_column_blob(props, 2)),
                                  static_cast<std::size_t>(sqlite3_column_bytes(props, 2)));
                benchmark::DoNotOptimize(value);
                ++rawSeen;
            }
            sqlite3_reset(props);
        }
        Report(state, t0, t1, Now());
        state.counters["props_read"] = static_cast<double>(seen);
    }
}

// Fills both big folders with the same 100,000 items in one transaction each.
void SeedBigFolders(World& w) {
    static bool done = false;
    if (done) return;
    done = true;
    std::string path;
    for (const auto& e : std::filesystem::directory_iterator(w.home + "/MAPI/Profiles/Bench"))
        if (e.path().extension() == ".db") path = e.path();
    sqlite3* engineDb = nullptr;
    sqlite3_open(path.c_str(), &engineDb);
    sqlite3_busy_timeout(engineDb, 10000);
    std::string folderEid = World::Binary(w.bigFolder.get(), PR_ENTRYID).substr(20);
    // The lookup is finalized before the writes begin.
    const std::int64_t engineFolder = [&] {
        RawStatement find(engineDb, "SELECT id FROM objects WHERE eid = ?1");
        sqlite3_bind_blob(find, 1, folderEid.data(), static_cast<int>(folderEid.size()),
                          SQLITE_STATIC);
        sqlite3_step(find);
        return static_cast<std::int64_t>(sqlite3_column_int64(find, 0));
    }();
    for (auto [db, folder] :
         {std::pair{engineDb, engineFolder}, std::pair{w.raw.db, w.rawBigFolder}}) {
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        RawStatement obj(db,
                         "INSERT INTO objects(eid, kind, parent, num, created, modified, flags) "
                         "VALUES(randomblob(16), 5, ?1, 0, ?2, ?2, ?3)");
        RawStatement prop(db, "INSERT INTO props(obj, pid, type, val) VALUES(?1, 55, 31, ?2)");
        for (int k = 0; k < kTableItems; ++k) {
            sqlite3_bind_int64(obj, 1, folder);
            sqlite3_bind_int64(obj, 2, 128809047090000000ll + k);
            sqlite3_bind_int(obj, 3, k & 1);
            sqlite3_step(obj);
            sqlite3_reset(obj);
            sqlite3_bind_int64(prop, 1, sqlite3_last_insert_rowid(db));
            std::string subject = "Mail " + std::to_string(k);
            sqlite3_bind_text(prop, 2, subject.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(prop);
            sqlite3_reset(prop);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_close(engineDb);
}

void BM_ChangeDetectionTable(benchmark::State& state) {
    World& w = TheWorld();
    SeedBigFolders(w);
    for (auto _ : state) {
        Moment t0 = Now();
        ComPtr<IMAPITable> table;
        w.bigFolder->GetContentsTable(0, table.put());
        SizedSPropTagArray(3, cols) = {3,
                                       {PR_ENTRYID, PR_LAST_MODIFICATION_TIME, PR_MESSAGE_FLAGS}};
        LPSRowSet rows = nullptr;
        HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&cols), nullptr, nullptr, 0,
                       &rows);
        const ULONG engineRows = rows->cRows;
        FreeProws(rows);
        Moment t1 = Now();
        RawStatement q = w.raw.Prepare(
            "SELECT eid, modified, flags FROM objects WHERE parent = ?1 AND kind = 5 ORDER BY id");
        sqlite3_bind_int64(q, 1, w.rawBigFolder);
        ULONG rawRows = 0;
        while (sqlite3_step(q) == SQLITE_ROW) {
            std::string eid(static_cast<const char*>(sqlite3_column_blob(q, 0)), 16);
            benchmark::DoNotOptimize(eid);
            benchmark::DoNotOptimize(sqlite3_column_int64(q, 1));
            ++rawRows;
        }
        Report(state, t0, t1, Now());
        state.counters["rows"] = engineRows;
        state.counters["raw_rows"] = rawRows;
    }
}

void BM_FindRowOnFileAs(benchmark::State& state) {
    World& w = TheWorld();
    std::mt19937 rng(7);
    std::vector<std::string> wanted;
    for (int k = 0; k < kFinds; ++k)
        wanted.push_back(ContactName(static_cast<int>(rng() % kContacts)));
    for (auto _ : state) {
        int found = 0;
        Moment t0 = Now();
        ComPtr<IMAPITable> table;
        w.contacts->GetContentsTable(0, table.put());
        for (const std::string& name : wanted) {
            SPropValue v{};
            v.ulPropTag = PROP_TAG(PT_STRING8, kFileAsId);
            v.Value.lpszA = const_cast<char*>(name.c_str());
            SRestriction r{};
            r.rt = RES_PROPERTY;
            r.res.resProperty = SPropertyRestriction{RELOP_EQ, v.ulPropTag, &v};
            if (table->FindRow(&r, BOOKMARK_BEGINNING, 0) == S_OK) ++found;
        }
        Moment t1 = Now();
        RawStatement q = w.raw.Prepare(
            "SELECT p.obj FROM props p JOIN objects o ON o.id = p.obj WHERE p.pid = ?1 AND p.val = "
            "?2 AND p.type = 31 "
            "AND length(p.val) <= 255 AND o.parent = ?3 ORDER BY o.id LIMIT 1");
        int rawFound = 0;
        for (const std::string& name : wanted) {
            sqlite3_bind_int(q, 1, static_cast<int>(kFileAsId));
            sqlite3_bind_text(q, 2, name.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_int64(q, 3, w.raw.folder);
            if (sqlite3_step(q) == SQLITE_ROW) ++rawFound;
            sqlite3_reset(q);
        }
        Report(state, t0, t1, Now());
        state.counters["found"] = found;
        state.counters["raw_found"] = rawFound;
    }
}

void BM_UpdateOneProperty(benchmark::State& state) {
    World& w = TheWorld();
    for (auto _ : state) {
        Moment t0 = Now();
        LONG value = 1;
        for (const std::string& id : w.contactIds) {
            ULONG type = 0;
            ComPtr<IUnknown> unk;
            w.store->OpenEntry(static_cast<ULONG>(id.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), nullptr,
                               MAPI_MODIFY, &type, unk.put());
            auto* m = static_cast<IMessage*>(unk.get());
            SPropValue v{};
            v.ulPropTag = PR_IMPORTANCE;
            v.Value.l = value++;
            m->SetProps(1, &v, nullptr);
            m->SaveChanges(0);
        }
        Moment t1 = Now();
        RawStatement row = w.raw.Prepare("SELECT modified FROM objects WHERE id = ?1");
        RawStatement touch = w.raw.Prepare("UPDATE objects SET modified = ?2 WHERE id = ?1");
        RawStatement put = w.raw.Prepare(
            "INSERT OR REPLACE INTO props(obj, pid, type, val) VALUES(?1, 23, 3, ?2)");
        for (std::int64_t id : w.rawIds) {
            w.raw.Exec("BEGIN IMMEDIATE");
            sqlite3_bind_int64(row, 1, id);
            sqlite3_step(row);
            std::int64_t modified = sqlite3_column_int64(row, 0);
            sqlite3_reset(row);
            sqlite3_bind_int64(touch, 1, id);
            sqlite3_bind_int64(touch, 2, modified + 1);
            sqlite3_step(touch);
            sqlite3_reset(touch);
            sqlite3_bind_int64(put, 1, id);
            sqlite3_bind_int64(put, 2, value++);
            sqlite3_step(put);
            sqlite3_reset(put);
            w.raw.Exec("COMMIT");
        }
        Report(state, t0, t1, Now());
    }
}

}  // namespace

BENCHMARK(BM_CreateContacts)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadContacts)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangeDetectionTable)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindRowOnFileAs)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateOneProperty)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
