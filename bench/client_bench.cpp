// Skiff with 5,000 new contacts: the pieces of one sync run, and the whole run over
// loopback against a listener that answers with the server keys of every contact.
// Peak memory of the process is reported as the counter peak_rss_mb.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_log.h"
#include "client/client_settings.h"
#include "client/fake_http_server.h"
#include "client/sync_engine.h"
#include "common/base/temp_home.h"

namespace {

constexpr int kContacts = 5000;

std::string Folder() {
    static const TempFolder folder("skiff-bench");  // removed when the run ends
    static std::string root = [] {
        if (folder.Path().empty()) std::abort();
        const std::filesystem::path dir = folder.Path();
        setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        setenv("XDG_DOCUMENTS_DIR", (dir / "docs").c_str(), 1);
        PocketOutlookApplication app;
        app.Logon();
        auto items = app.GetDefaultFolder(olFolderContacts)->Items();
        for (int i = 0; i < kContacts; ++i) {
            auto c = items.Add();
            std::string n = std::to_string(i);
            c->SetText("FirstName", "First" + n);
            c->SetText("LastName", "Last" + n);
            c->SetText("FileAs", "Last" + n + ", First" + n);
            c->SetText("Email1Address", "person" + n + "@example.com");
            c->SetText("BusinessTelephoneNumber", "+49 228 " + n);
            c->SetText("BusinessAddressCity", "Bonn");
            c->SetText("CompanyName", "Example GmbH");
            c->SetText("Body", "Met at the fair; call back about the offer number " + n);
            c->SetDate("Birthday", 30000 + i);
            c->Save();
        }
        return dir.string();
    }();
    return root;
}

double PeakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

SyncSession Session(PocketOutlookApplication& app) {
    SyncSession session;
    for (auto& f : SyncFolder::MakeRunFolders(GetDataFolder())) {
        if (f->Attach(app)) session.folders.push_back(std::move(f));
    }
    return session;
}

void RemoveState() {
    for (const char* name : {"contacts.dat", "tasks.dat", "appointment.dat", "contacts.txt"}) {
        std::filesystem::remove(GetDataFolder() + "/" + name);
    }
}

// Server key number i of a series: upper-case hexadecimal, as skiff takes keys
// (it refuses an answer that names an item otherwise).
std::string BenchKey(unsigned series, int i) {
    char key[40];
    std::snprintf(key, sizeof key, "%08X%016X", series, static_cast<unsigned>(i));
    return key;
}

// The server's answer to a first run: one key per contact.
std::string MappingAnswer(PocketOutlookApplication& app) {
    CWBXML w;
    w.BeginDocument();
    w.StartTag(0, vantro::kResponse);
    w.StartTag(0, vantro::kFolder);
    w.WriteElement(0, vantro::kClientID, std::string_view("-1"));
    w.WriteElement(0, vantro::kServerID, std::string_view("-1"));
    auto items = app.GetDefaultFolder(olFolderContacts)->Items();
    for (int i = 1; i <= items.Count(); ++i) {
        w.StartTag(0, vantro::kElement);
        w.WriteElement(0, vantro::kClientID, std::string_view(std::to_string(items.OidAt(i))));
        char key[40];
        std::snprintf(key, sizeof key, "00000000A1B2C3D4%016X", i);
        w.WriteElement(0, vantro::kServerID, std::string_view(key));
        w.EndTag();
    }
    w.EndTag();
    w.EndTag();
    return w.Document().ToString();
}

// A loopback listener that answers every request with the server keys of every
// contact (MappingAnswer), and skiff's settings pointing at it.
class MappingListener {
public:
    explicit MappingListener(PocketOutlookApplication& app)
        : http_(HttpAnswer(MappingAnswer(app))),
          server_([this](const std::string&) { return std::vector<std::string>{http_}; }) {
        SetClientSettings({"127.0.0.1:" + std::to_string(server_.Port()), "bench", "pw"});
    }

private:
    static std::string HttpAnswer(const std::string& body) {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/vantro.wbxml\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    const std::string http_;
    FakeHttpServer server_;
};

// An answer of one folder (serverId) with kContacts elements, element(w, i) writing
// the inside of the i-th.
std::string FolderAnswer(std::string_view serverId,
                         const std::function<void(CWBXML& w, int i)>& element) {
    CWBXML w;
    w.BeginDocument();
    w.StartTag(0, vantro::kSync);
    w.StartTag(0, vantro::kFolder);
    w.WriteElement(0, vantro::kServerID, serverId);
    for (int i = 0; i < kContacts; ++i) {
        w.StartTag(0, vantro::kElement);
        element(w, i);
        w.EndTag();
    }
    w.EndTag();
    w.EndTag();
    return w.Document().ToString();
}

void BM_BuildRequest5000NewContacts(benchmark::State& state) {
    Folder();
    RemoveState();
    PocketOutlookApplication app;
    app.Logon();
    size_t bytes = 0;
    for (auto _ : state) {
        SyncSession session = Session(app);
        CWBXML writer;
        benchmark::DoNotOptimize(BuildRequest(session, writer));
        bytes = writer.Document().Length();
    }
    state.counters["request_kb"] = static_cast<double>(bytes) / 1024.0;
    state.counters["peak_rss_mb"] = PeakRssMb();
}
BENCHMARK(BM_BuildRequest5000NewContacts)->Unit(benchmark::kMillisecond);

void BM_HandleAnswer5000Mappings(benchmark::State& state) {
    Folder();
    RemoveState();
    PocketOutlookApplication app;
    app.Logon();
    std::string answer = MappingAnswer(app);
    for (auto _ : state) {
        SyncSession session = Session(app);
        benchmark::DoNotOptimize(HandleAnswer(session, answer).mappings);
    }
    state.counters["answer_kb"] = static_cast<double>(answer.size()) / 1024.0;
}
BENCHMARK(BM_HandleAnswer5000Mappings)->Unit(benchmark::kMillisecond);

void BM_ChangeScan5000Unchanged(benchmark::State& state) {
    Folder();
    PocketOutlookApplication app;
    app.Logon();
    SyncSession session = Session(app);
    session.folders[0]->SaveSnapshot();
    for (auto _ : state) {
        session.folders[0]->BeginChanges(std::chrono::steady_clock::now());
        int changes = 0;
        while (session.folders[0]->NextChange()) ++changes;
        benchmark::DoNotOptimize(changes);
    }
    RemoveState();
}
BENCHMARK(BM_ChangeScan5000Unchanged)->Unit(benchmark::kMillisecond);

void BM_SaveSnapshot5000(benchmark::State& state) {
    Folder();
    PocketOutlookApplication app;
    app.Logon();
    SyncSession session = Session(app);
    for (auto _ : state) benchmark::DoNotOptimize(session.folders[0]->SaveSnapshot());
    RemoveState();
}
BENCHMARK(BM_SaveSnapshot5000)->Unit(benchmark::kMillisecond);

// A whole run: connection step, change scan, request, loopback listener that answers
// with 5,000 keys at once, answer walk and id map.
void BM_SyncRun5000NewContacts(benchmark::State& state) {
    Folder();
    PocketOutlookApplication app;
    app.Logon();
    MappingListener listener(app);
    RunResult r;
    for (auto _ : state) {
        RemoveState();
        r = RunSync();
    }
    if (!r.answered || r.applied.mappings != kContacts) state.SkipWithError(r.error.c_str());
    state.counters["items_sent"] = r.itemsSent;
    state.counters["peak_rss_mb"] = PeakRssMb();
}
BENCHMARK(BM_SyncRun5000NewContacts)->Unit(benchmark::kMillisecond);

// Store changes for every contact (same match keys, new company): found by key,
// written field by field and saved one by one, then the snapshot of the folder.
void BM_HandleAnswer5000IncomingContacts(benchmark::State& state) {
    Folder();
    RemoveState();  // no keys known yet: each contact is found by its match keys
    PocketOutlookApplication app;
    app.Logon();
    std::string answer = FolderAnswer("-1", [](CWBXML& w, int i) {
        std::string n = std::to_string(i);
        w.StartTag(0, vantro::kModify);
        w.WriteElement(0, vantro::kServerID, BenchKey(0xC0, i));
        w.StartTag(0, vantro::kCollection);
        w.WriteElement(1, 47, std::string_view("Last" + n + ", First" + n));
        w.WriteElement(1, 7, std::string_view("person" + n + "@example.com"));
        w.WriteElement(1, 27, std::string_view("First" + n));
        w.WriteElement(1, 29, std::string_view("Last" + n));
        w.WriteElement(1, 11, std::string_view("+49 228 " + n));
        w.WriteElement(1, 42, std::string_view("Bonn"));
        w.WriteElement(1, 6, std::string_view("Other GmbH"));
        w.EndTag();
        w.EndTag();
    });
    int applied = 0;
    for (auto _ : state) {
        SyncSession session = Session(app);
        applied = HandleAnswer(session, answer).itemsApplied;
    }
    RemoveState();
    if (applied != kContacts) state.SkipWithError("not every contact was applied");
    state.counters["answer_kb"] = static_cast<double>(answer.size()) / 1024.0;
    state.counters["peak_rss_mb"] = PeakRssMb();
}
BENCHMARK(BM_HandleAnswer5000IncomingContacts)->Unit(benchmark::kMillisecond)->Iterations(2);

// Deletions from the desktop for 5,000 mapped tasks (allowed past the mass-delete
// guard): each task found through the id map, deleted, its map entries dropped;
// then the snapshots and the id map.
void BM_HandleAnswer5000TaskDeletes(benchmark::State& state) {
    Folder();
    PocketOutlookApplication app;
    app.Logon();
    std::string answer = FolderAnswer("-2", [](CWBXML& w, int i) {
        w.StartTag(0, vantro::kDelete);
        w.WriteElement(0, vantro::kServerID, BenchKey(0x7A, i));
        w.EndTag();
    });
    SyncOptions allow;
    allow.allowMassDelete = true;
    int deleted = 0;
    for (auto _ : state) {
        state.PauseTiming();
        IdMap map;
        auto tasks = app.GetDefaultFolder(olFolderTasks)->Items();
        for (int i = 0; i < kContacts; ++i) {
            auto t = tasks.Add();
            t->SetText("Subject", "Task " + std::to_string(i));
            t->Save();
            map[BenchKey(0x7A, i)] = std::to_string(t->Oid());
        }
        WriteIdMap(GetDataFolder() + "/tasks.txt", map);
        SyncSession session = Session(app);
        state.ResumeTiming();
        deleted = HandleAnswer(session, answer, nullptr, allow).deletesApplied;
    }
    std::filesystem::remove(GetDataFolder() + "/tasks.txt");
    if (deleted != kContacts) state.SkipWithError("not every task was deleted");
    state.counters["peak_rss_mb"] = PeakRssMb();
}
BENCHMARK(BM_HandleAnswer5000TaskDeletes)->Unit(benchmark::kMillisecond)->Iterations(2);

// The skiff program itself: `skiff sync` as a process, for its wall time and its peak
// memory (counter skiff_peak_rss_mb). Needs build/bin/skiff beside build/bench.
void BM_SkiffProgramSync5000NewContacts(benchmark::State& state) {
    Folder();
    std::string skiff =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/../bin/skiff";
    if (!std::filesystem::exists(skiff)) {
        state.SkipWithError("skiff program not built");
        return;
    }
    PocketOutlookApplication app;
    app.Logon();
    MappingListener listener(app);
    SaveClientSettings();
    double peak = 0;
    int status = -1;
    for (auto _ : state) {
        state.PauseTiming();
        RemoveState();
        state.ResumeTiming();
        std::string cmd = "sync", json = "--json";
        char* argv[] = {skiff.data(), cmd.data(), json.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawn(&pid, skiff.c_str(), &actions, nullptr, argv, environ) == 0) {
            rusage usage{};
            int raw = 0;
            wait4(pid, &raw, 0, &usage);
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
            peak = std::max(peak, static_cast<double>(usage.ru_maxrss) / 1024.0);
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    if (status != 0) state.SkipWithError("skiff sync failed");
    state.counters["skiff_peak_rss_mb"] = peak;
}
BENCHMARK(BM_SkiffProgramSync5000NewContacts)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
