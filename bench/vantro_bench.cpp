// The Vantro protocol path against the store engine, for 10,000 contacts of 30
// fields: one request whose Sync adds all of them, and one GetData (Reset 1) that
// sends all of them back, each answered by `corvel --headless` over loopback;
// beside them the engine's own bulk create (one SetProps and a save per item) and
// read (one GetProps per item) of the same values in this process, and raw SQLite
// inserting the same 30 values per item into a store file of the engine's schema in
// one transaction (WAL, synchronous FULL). Every benchmark runs once; compare
// items_per_second. The protocol benchmarks also report x_engine (their wall time
// over the engine's for the same items), server_cpu_s and x_engine_cpu (the
// server's processor time for the request, and that over the engine's), the add
// x_raw_sqlite and x_raw_sqlite_cpu (the same over raw SQLite's), and peak_MiB (the
// server's peak resident set, VmHWM, after the request).
//   build/bench/vantro_bench
// CORVEL_BENCH_QUIET=1 turns the web log (which keeps every whole request) off in
// settings.inf before the server starts; the protocol log stays on, as after every
// start, and so does the live trace, which tells the benchmark the server's port.
#include "bench/vantro_bench.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <utility>

#include "bench/bench_store.h"
#include "bench/contact_fields.h"
#include "bench/raw_sqlite.h"
#include "common/wbxml/wbxml.h"
#include "platform/mapi/store_db.h"
#include "server/config/live_trace.h"
#include "server/itemconv/element_map.h"
#include "server/mapi/mapi_wrapper.h"
#include "server/vantro/vantro_tags.h"

namespace {

using benchcontacts::Fields;
using benchcontacts::WriteEngineContact;

}  // namespace

// ---- the benchmarks ------------------------------------------------------------

namespace {

constexpr int kItems = 10000;
constexpr double kMiB = 1024.0;

// Logon, then a Sync whose contacts folder adds every item.
std::string AddRequest() {
    CWBXML doc;
    doc.BeginDocument(size_t{16} << 20);
    WriteBenchLogon(doc);
    doc.StartTag(vantro::kPage, vantro::kSync);
    doc.StartTag(vantro::kPage, vantro::kFolder);
    doc.WriteElement(vantro::kPage, vantro::kClientID, std::string_view("-1"));
    doc.WriteElement(vantro::kPage, vantro::kTyp, std::string_view("Contact"));
    for (int i = 0; i < kItems; ++i) {
        doc.StartTag(vantro::kPage, vantro::kAdd);
        doc.WriteElement(vantro::kPage, vantro::kClientID, std::to_string(i + 1));
        doc.StartTag(vantro::kPage, vantro::kCollection);
        for (auto& [token, value] : Fields(i)) doc.WriteElement(kItemContact, token, value);
        doc.EndTag();
        doc.EndTag();
    }
    doc.EndTag();
    doc.EndTag();
    return VantroHttpRequest(doc);
}

// corvel --headless over a data home of its own, with the user "bench" (password
// "pw", the default folders) made by "corvel user add".
struct BenchServer {
    BenchServer() {
        if (folder.Path().empty()) std::abort();
        std::filesystem::create_directories(home + "/Norvex/Corvel");
        BenchProgram add("corvel", home, {"user", "add", "bench", "--password", "pw", "--auto"});
        if (add.Wait() != 0) {
            problem = "corvel user add failed: " + add.Out();
            return;
        }
        const char* quiet = std::getenv("CORVEL_BENCH_QUIET");
        if (quiet != nullptr && std::string(quiet) == "1") {
            std::ofstream settings(home + "/Norvex/Corvel/settings.inf");
            settings << "TraceWEB=0\n";
        }
        server = std::make_unique<BenchProgram>(
            "corvel", home,
            std::vector<std::string>{"--headless", "--port", "0", "--https-port", "0",
                                     "--trace-port", "0"});
        port = server->Port();
        if (port == 0) problem = "corvel did not start: " + server->Out();
    }
    TempFolder folder{"corvel-vantro-bench"};
    const std::string home = folder.Path();
    // Ends before its home is removed.
    std::unique_ptr<BenchProgram> server;
    int port = 0;
    std::string problem;
};

BenchServer& Server() {
    static BenchServer server;
    return server;
}

// The engine's own store in this process, under a second data home.
struct EngineStore {
    EngineStore() { SetLiveTraceSink(nullptr); }
    BenchProfileStore profile{"corvel-vantro-bench-engine", "Engine"};
    benchcontacts::StoreFieldTags fieldTags;
    std::vector<CByteBuffer> items;
};

EngineStore& Engine() {
    static EngineStore engine;
    return engine;
}

double engineCreateSeconds = 0;
double engineReadSeconds = 0;
double engineCreateCpu = 0;
double engineReadCpu = 0;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Processor time of this thread, in seconds.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void BM_EngineCreate(benchmark::State& state) {
    EngineStore& s = Engine();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpuStart = ThreadCpuSeconds();
        s.items.clear();
        for (int i = 0; i < kItems; ++i) {
            IMessagePtr m = s.profile.contacts.CreateMessage();
            WriteEngineContact(m, s.fieldTags.Of(m), i);
            s.items.push_back(m.GetEntryID());
        }
        engineCreateSeconds = Seconds(start);
        engineCreateCpu = ThreadCpuSeconds() - cpuStart;
        state.SetIterationTime(engineCreateSeconds);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_EngineCreate)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// Raw SQLite beside the engine: the same 30 values of each contact written as rows
// of a store file of the engine's schema (one object row and 30 property rows per
// item) in one transaction, WAL, synchronous FULL, with the statements prepared
// once, as a hand-written program would.
double rawCreateSeconds = 0;
double rawCreateCpu = 0;

void BM_RawSqliteCreate(benchmark::State& state) {
    EngineStore& s = Engine();
    IMessagePtr probe = s.profile.contacts.CreateMessage();
    const std::vector<ULONG>& tags = s.fieldTags.Of(probe);
    std::string path = s.profile.Home() + "/raw.db";
    if (FAILED(mapistore::StoreDb::Create(path, mapistore::StoreDb::NewRandomBytes(16), "Raw"))) {
        state.SkipWithError("no raw store file");
        return;
    }
    RawConnection db(path);
    if (!db.IsOpen()) {
        state.SkipWithError("raw store file does not open");
        return;
    }
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    RawStatement object(db,
                        "INSERT INTO objects(eid, kind, parent, num, created, modified, flags) "
                        "VALUES(?1, 5, 1, 0, ?2, ?2, 0)");
    RawStatement prop(db, "INSERT INTO props(obj, pid, type, val) VALUES(?1, ?2, ?3, ?4)");
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpuStart = ThreadCpuSeconds();
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (int i = 0; i < kItems; ++i) {
            std::string eid = mapistore::StoreDb::NewRandomBytes(16);
            sqlite3_bind_blob(object, 1, eid.data(), static_cast<int>(eid.size()), SQLITE_STATIC);
            sqlite3_bind_int64(object, 2, 133000000000000000LL + i);
            sqlite3_step(object);
            sqlite3_reset(object);
            const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
            auto fields = Fields(i);
            for (size_t f = 0; f < fields.size(); ++f) {
                const ULONG tag = tags[f];
                sqlite3_bind_int64(prop, 1, id);
                sqlite3_bind_int64(prop, 2, PROP_ID(tag));
                if (PROP_TYPE(tag) == PT_SYSTIME) {
                    sqlite3_bind_int(prop, 3, PT_SYSTIME);
                    sqlite3_bind_int64(prop, 4, 0x01A9D3F07A7A0000LL);
                } else if (PROP_TYPE(tag) == PT_MV_STRING8) {
                    static const char kList[] = "Business\0Private";
                    sqlite3_bind_int(prop, 3, PT_MV_UNICODE);
                    sqlite3_bind_blob(prop, 4, kList, sizeof kList, SQLITE_STATIC);
                } else {
                    sqlite3_bind_int(prop, 3, PT_UNICODE);
                    sqlite3_bind_text(prop, 4, fields[f].second.data(),
                                      static_cast<int>(fields[f].second.size()), SQLITE_STATIC);
                }
                sqlite3_step(prop);
                sqlite3_reset(prop);
            }
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        rawCreateSeconds = Seconds(start);
        rawCreateCpu = ThreadCpuSeconds() - cpuStart;
        state.SetIterationTime(rawCreateSeconds);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_RawSqliteCreate)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void BM_EngineRead(benchmark::State& state) {
    EngineStore& s = Engine();
    if (s.items.empty()) state.SkipWithError("run BM_EngineCreate first");
    size_t values = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpuStart = ThreadCpuSeconds();
        for (const CByteBuffer& id : s.items) {
            IMessagePtr m = s.profile.contacts.OpenMessage(id);
            CPropArray read = m.GetProps(CPropTagArray(s.fieldTags.Of(m)));
            values += read.Count();
        }
        engineReadSeconds = Seconds(start);
        engineReadCpu = ThreadCpuSeconds() - cpuStart;
        state.SetIterationTime(engineReadSeconds);
    }
    benchmark::DoNotOptimize(values);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.items.size()));
}
BENCHMARK(BM_EngineRead)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// Sends request and checks that the answer holds `expected` start tags (page,
// token); reports wall time, the server's processor time and peak memory, and
// both times over the engine's (on a loaded machine the processor times compare
// more steadily than the wall times).
void RunExchange(benchmark::State& state, const std::string& request, int32_t page, int32_t token,
                 size_t expected, double engineSeconds, double engineCpu, double rawSeconds = 0,
                 double rawCpu = 0) {
    BenchServer& server = Server();
    if (!server.problem.empty()) {
        state.SkipWithError(server.problem.c_str());
        return;
    }
    double seconds = 0;
    double cpu = 0;
    size_t bytes = 0;
    pid_t pid = server.server->Pid();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpuStart = ProcessCpuSeconds(pid);
        std::string answer = Exchange(server.port, request);
        seconds = Seconds(start);
        cpu = ProcessCpuSeconds(pid) - cpuStart;
        state.SetIterationTime(seconds);
        std::string body = BodyOf(answer);
        bytes = body.size();
        size_t found = CountElements(body, page, token);
        if (found != expected) {
            std::string why = "the answer holds " + std::to_string(found) + " of " +
                              std::to_string(expected) + " expected elements";
            state.SkipWithError(why.c_str());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    state.counters["answer_bytes"] = static_cast<double>(bytes);
    state.counters["peak_MiB"] = static_cast<double>(PeakResidentKiB(pid)) / kMiB;
    state.counters["server_cpu_s"] = cpu;
    if (engineSeconds > 0) state.counters["x_engine"] = seconds / engineSeconds;
    if (engineCpu > 0) state.counters["x_engine_cpu"] = cpu / engineCpu;
    if (rawSeconds > 0) state.counters["x_raw_sqlite"] = seconds / rawSeconds;
    if (rawCpu > 0) state.counters["x_raw_sqlite_cpu"] = cpu / rawCpu;
}

void BM_VantroAddContacts(benchmark::State& state) {
    std::string request = AddRequest();
    state.counters["request_bytes"] = static_cast<double>(request.size());
    // Every added contact is answered with one Element mapping.
    RunExchange(state, request, vantro::kPage, vantro::kElement, kItems, engineCreateSeconds,
                engineCreateCpu, rawCreateSeconds, rawCreateCpu);
}
BENCHMARK(BM_VantroAddContacts)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void BM_VantroGetDataContacts(benchmark::State& state) {
    // Every stored contact is sent as Add.
    RunExchange(state, GetDataRequest("Contact", true), vantro::kPage, vantro::kAdd, kItems,
                engineReadSeconds, engineReadCpu);
}
BENCHMARK(BM_VantroGetDataContacts)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
