// Two-way sync of a large handheld and desktop: the first sync of 5,000 contacts,
// 2,000 tasks and 5,000 appointments (a quarter of the desktop's appointments
// recurring) that both sides already hold, then an incremental sync after 1% of the
// items changed on each side. corvel and skiff run as programs; the figures are the
// wall time of "skiff sync", and the peak resident size and CPU time of each program
// (corvel is started afresh for each sync, so its peak belongs to that sync).
//
// Build and run (Release; the target builds corvel and skiff too):
//   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVEL_BENCH=ON &&
//   cmake --build build-rel --target sync_bench && build-rel/bench/sync_bench
// SYNC_BENCH_SCALE=0.1 runs a tenth of the items (of BM_TwoWaySync).
// --benchmark_filter=Growth runs only the growth of the first sync (1,000, 4,000,
// 16,000 items).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/base/temp_home.h"
#include "common/base/text.h"
#include "platform/pocketoutlook/pocket_outlook.h"
#include "tests/sync_matrix_process.h"
#include "tools/table_rows.h"
#include "tools/tool_context.h"

namespace {

// The weekly example blob of the public calendar protocol document.
constexpr const char* kWeeklyBlob =
    "043004300B2001000000C0210000010000000000000032000000222000000C00000000000000000000000000000080"
    "20BC0C20ADBC0C"
    "0630000009300000580200007602000000000000000000000000";

struct Sizes {
    int contacts, tasks, appointments;
};

Sizes ScaledSizes() {
    double scale = 1.0;
    if (const char* s = std::getenv("SYNC_BENCH_SCALE")) scale = std::atof(s);
    if (scale <= 0) scale = 1.0;
    return {static_cast<int>(5000 * scale), static_cast<int>(2000 * scale),
            static_cast<int>(5000 * scale)};
}

std::string Numbered(const char* format, int n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

double OleDate(int day, int hour) {
    SYSTEMTIME t;
    t.wYear = 2026, t.wMonth = 12, t.wDay = static_cast<uint16_t>(1 + day % 28),
    t.wHour = static_cast<uint16_t>(hour);
    double date = 0;
    SystemTimeToVariantTime(t, &date);
    return date;
}

FILETIME FileTimeAt(int day, int hour) {
    std::uint64_t ft = 0;
    IsoToFileTime(Numbered("2026-12-%02dT", 1 + day % 28) + Numbered("%02d:00:00Z", hour), ft);
    return mapistore::ToFileTime(ft);
}

// The desktop's items, written straight into the user's message store.
class DesktopSeeder {
public:
    DesktopSeeder() : session_("Default") {}

    void Seed(const Sizes& sizes) {
        CMapiRef<IMAPIFolder> contacts = session_.Folder("Contacts");
        ULONG fileAs = Named(contacts.Get(), "PSETID_Address:0x8005:PT_STRING8");
        ULONG email = Named(contacts.Get(), "PSETID_Address:0x8083:PT_STRING8");
        for (int i = 0; i < sizes.contacts; ++i) {
            std::vector<std::string> texts = {"IPM.Contact",
                                              Numbered("Name%05d, Vera", i),
                                              "Vera",
                                              Numbered("Name%05d", i),
                                              Numbered("Firma %d", i % 97),
                                              Numbered("+49 30 %05d", i),
                                              Numbered("v%05d@example.org", i)};
            std::vector<ULONG> tags = {PR_MESSAGE_CLASS,
                                       fileAs,
                                       PR_GIVEN_NAME,
                                       PR_SURNAME,
                                       PR_COMPANY_NAME,
                                       PR_BUSINESS_TELEPHONE_NUMBER,
                                       email};
            Create(contacts.Get(), tags, texts, {});
        }
        CMapiRef<IMAPIFolder> tasks = session_.Folder("Tasks");
        ULONG due = Named(tasks.Get(), "PSETID_Task:0x8105:PT_SYSTIME");
        for (int i = 0; i < sizes.tasks; ++i) {
            SPropValue extra[2]{};
            extra[0].ulPropTag = PR_IMPORTANCE, extra[0].Value.l = 1;
            extra[1].ulPropTag = due, extra[1].Value.ft = FileTimeAt(i, 0);
            Create(tasks.Get(), {PR_MESSAGE_CLASS, PR_SUBJECT},
                   {"IPM.Task", Numbered("Aufgabe %05d", i)}, {extra[0], extra[1]});
        }
        CMapiRef<IMAPIFolder> calendar = session_.Folder("Calendar");
        ULONG location = Named(calendar.Get(), "PSETID_Appointment:0x8208:PT_STRING8");
        ULONG start = Named(calendar.Get(), "PSETID_Appointment:0x820D:PT_SYSTIME");
        ULONG end = Named(calendar.Get(), "PSETID_Appointment:0x820E:PT_SYSTIME");
        ULONG duration = Named(calendar.Get(), "PSETID_Appointment:0x8213:PT_LONG");
        ULONG recurring = Named(calendar.Get(), "PSETID_Appointment:0x8223:PT_BOOLEAN");
        ULONG blob = Named(calendar.Get(), "PSETID_Appointment:0x8216:PT_BINARY");
        std::string blobBytes = HexDecode(kWeeklyBlob).value();
        for (int i = 0; i < sizes.appointments; ++i) {
            std::vector<SPropValue> extra(4);
            extra[0].ulPropTag = start, extra[0].Value.ft = FileTimeAt(i, 9);
            extra[1].ulPropTag = end, extra[1].Value.ft = FileTimeAt(i, 10);
            extra[2].ulPropTag = duration, extra[2].Value.l = 60;
            extra[3].ulPropTag = recurring, extra[3].Value.b = i % 4 == 0;
            if (i % 4 == 0) {
                SPropValue b{};
                b.ulPropTag = blob;
                b.Value.bin.cb = static_cast<ULONG>(blobBytes.size());
                b.Value.bin.lpb = reinterpret_cast<LPBYTE>(blobBytes.data());
                extra.push_back(b);
            }
            Create(calendar.Get(), {PR_MESSAGE_CLASS, PR_SUBJECT, location},
                   {"IPM.Appointment", Numbered("Termin %05d", i), Numbered("Raum %d", i % 13)},
                   extra);
        }
    }

    // Changes every hundredth item of a folder, starting at offset, with the text
    // property tag (named when tagText names one).
    int Change(const std::string& folderPath, const std::string& tagText, int offset) {
        CMapiRef<IMAPIFolder> folder = session_.Folder(folderPath);
        ULONG tag =
            tagText.rfind("PR_", 0) == 0 ? ParsePropRef(tagText).tag : Named(folder.Get(), tagText);
        CMapiRef<IMAPITable> table;
        Check(folder->GetContentsTable(0, table.Put()), "GetContentsTable");
        TableRows rows(table.Get(), {PR_ENTRYID});
        std::vector<std::string> ids;
        for (ULONG k = 0; k < rows.Count(); ++k) ids.push_back(rows.Binary(k, 0));
        int changed = 0;
        for (size_t k = static_cast<size_t>(offset); k < ids.size(); k += 100) {
            CMapiRef<IMessage> item = session_.Item(HexEncode(ids[k]), true);
            std::string text = "Desktop change " + std::to_string(k);
            SPropValue v{};
            v.ulPropTag = tag;
            v.Value.lpszA = text.data();
            Check(item->SetProps(1, &v, nullptr), "SetProps");
            Check(item->SaveChanges(0), "SaveChanges");
            ++changed;
        }
        return changed;
    }

private:
    ULONG Named(IMAPIFolder* folder, const std::string& name) {
        return ResolvePropSpec(folder, ParsePropRef(name), true);
    }
    void Create(IMAPIFolder* folder, const std::vector<ULONG>& tags, std::vector<std::string> texts,
                std::vector<SPropValue> extra) {
        std::vector<SPropValue> values = extra;
        for (size_t k = 0; k < tags.size(); ++k) {
            SPropValue v{};
            v.ulPropTag = tags[k];
            v.Value.lpszA = texts[k].data();
            values.push_back(v);
        }
        CMapiRef<IMessage> item;
        Check(folder->CreateMessage(nullptr, 0, item.Put()), "CreateMessage");
        Check(item->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr),
              "SetProps");
        Check(item->SaveChanges(0), "SaveChanges");
    }

    MapiRuntime runtime_;
    ToolSession session_;
};

// The handheld's items: the same ones, without recurrence (the handheld has no field
// for it).
void SeedHandheld(const Sizes& sizes) {
    PocketOutlookApplication app;
    if (!app.Logon()) throw std::runtime_error(app.error());
    PimItems contacts = app.GetDefaultFolder(10)->Items();
    for (int i = 0; i < sizes.contacts; ++i) {
        auto item = contacts.Add();
        item->SetText("FileAs", Numbered("Name%05d, Vera", i));
        item->SetText("FirstName", "Vera");
        item->SetText("LastName", Numbered("Name%05d", i));
        item->SetText("CompanyName", Numbered("Firma %d", i % 97));
        item->SetText("BusinessTelephoneNumber", Numbered("+49 30 %05d", i));
        item->SetText("Email1Address", Numbered("v%05d@example.org", i));
        item->Save();
    }
    PimItems tasks = app.GetDefaultFolder(13)->Items();
    for (int i = 0; i < sizes.tasks; ++i) {
        auto item = tasks.Add();
        item->SetText("Subject", Numbered("Aufgabe %05d", i));
        item->SetLong("Importance", 1);
        item->SetDate("DueDate", OleDate(i, 0));
        item->Save();
    }
    PimItems calendar = app.GetDefaultFolder(9)->Items();
    for (int i = 0; i < sizes.appointments; ++i) {
        auto item = calendar.Add();
        item->SetText("Subject", Numbered("Termin %05d", i));
        item->SetText("Location", Numbered("Raum %d", i % 13));
        item->SetDate("Start", OleDate(i, 9));
        item->SetDate("End", OleDate(i, 10));
        item->SetLong("Duration", 60);
        item->Save();
    }
}

// Changes every hundredth item of a handheld folder, starting at offset.
int ChangeHandheld(int folder, const char* property, int offset) {
    PocketOutlookApplication app;
    if (!app.Logon()) throw std::runtime_error(app.error());
    PimItems items = app.GetDefaultFolder(folder)->Items();
    int changed = 0;
    for (int position = offset + 1; position <= items.Count(); position += 100) {
        auto item = items.Item(position);
        item->SetText(property, "Handheld change " + std::to_string(position));
        item->Save();
        ++changed;
    }
    return changed;
}

struct SyncFigures {
    ProgramRun skiff, corvel;
    std::string report;
};

SyncFigures OneSync(const std::string& home) {
    SyncFigures f;
    BackgroundProgram corvel(
        "corvel", home, {"--headless", "--port", "0", "--https-port", "0", "--trace-port", "0"});
    std::string port = corvel.WaitFor("Web server listening on port ([0-9]+)\n");
    if (port.empty()) throw std::runtime_error("corvel did not start: " + corvel.Out());
    ProgramRun config = RunProgram(
        "skiff", home,
        {"config", "--server", "127.0.0.1:" + port, "--user", "alice", "--password", "Secret"});
    if (config.status != 0) throw std::runtime_error("skiff config: " + config.err);
    f.skiff = RunProgram("skiff", home, {"sync", "--json"});
    f.corvel = corvel.Stop();
    std::smatch m;
    std::string all = f.skiff.err;
    if (std::regex_search(all, m, std::regex("Sync report: [^\n]*"))) f.report = m[0].str();
    if (f.skiff.status != 0) {
        throw std::runtime_error(
            "skiff sync ended with " + std::to_string(f.skiff.status) + ": " + f.skiff.out +
            f.skiff.err.substr(f.skiff.err.size() > 2000 ? f.skiff.err.size() - 2000 : 0));
    }
    return f;
}

void Report(benchmark::State& state, const char* phase, const SyncFigures& f) {
    std::string p = phase;
    state.counters[p + "_wall_s"] = f.skiff.seconds;
    state.counters[p + "_skiff_cpu_s"] = f.skiff.cpuSeconds;
    state.counters[p + "_skiff_peak_MB"] = static_cast<double>(f.skiff.peakKb) / 1024.0;
    state.counters[p + "_corvel_cpu_s"] = f.corvel.cpuSeconds;
    state.counters[p + "_corvel_peak_MB"] = static_cast<double>(f.corvel.peakKb) / 1024.0;
    std::fprintf(stderr,
                 "%s sync: %.2f s wall; skiff %.2f s CPU, peak %ld KiB; corvel %.2f s CPU, peak "
                 "%ld KiB\n  %s\n",
                 phase, f.skiff.seconds, f.skiff.cpuSeconds, f.skiff.peakKb, f.corvel.cpuSeconds,
                 f.corvel.peakKb, f.report.c_str());
}

// A fresh data home (the environment pointing at it) with the user alice and the
// same items on both sides; removed with the object.
class SeededHome {
public:
    explicit SeededHome(const Sizes& sizes) {
        if (path_.empty()) throw std::runtime_error("no temporary folder");
        setenv("XDG_DATA_HOME", path_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
        setenv("HOME", path_.c_str(), 1);
        setenv("TZ", "UTC", 1);
        ProgramRun add =
            RunProgram("corvel", path_, {"user", "add", "alice", "--password", "Secret", "--auto"});
        if (add.status != 0) throw std::runtime_error("corvel user add: " + add.out + add.err);
        {
            DesktopSeeder desktop;
            desktop.Seed(sizes);
        }
        SeedHandheld(sizes);
    }
    SeededHome(const SeededHome&) = delete;
    SeededHome& operator=(const SeededHome&) = delete;
    const std::string& path() const { return path_; }

private:
    TempFolder folder_{"corvel-sync-bench"};
    const std::string path_ = folder_.Path();
};

void BM_TwoWaySync(benchmark::State& state) {
    Sizes sizes = ScaledSizes();
    for (auto _ : state) {
        try {
            SeededHome home(sizes);
            SyncFigures first = OneSync(home.path());
            // 1% on each side, different items.
            int handheld = ChangeHandheld(10, "CompanyName", 0) + ChangeHandheld(13, "Body", 0) +
                           ChangeHandheld(9, "Location", 0);
            int desktopChanged = 0;
            {
                DesktopSeeder desktop;
                desktopChanged =
                    desktop.Change("Contacts", "PR_COMPANY_NAME", 50) +
                    desktop.Change("Tasks", "PR_BODY", 50) +
                    desktop.Change("Calendar", "PSETID_Appointment:0x8208:PT_STRING8", 50);
            }
            std::fprintf(stderr, "changed %d items on the handheld and %d on the desktop\n",
                         handheld, desktopChanged);
            SyncFigures second = OneSync(home.path());
            state.SetIterationTime(first.skiff.seconds + second.skiff.seconds);
            Report(state, "first", first);
            Report(state, "incremental", second);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
        } catch (const ToolError& e) {
            state.SkipWithError(("store: " + e.message).c_str());
        }
    }
}

BENCHMARK(BM_TwoWaySync)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// How the first sync grows: 1,000, 4,000 and 16,000 items in the proportions above
// (5 contacts : 2 tasks : 5 appointments), each in a home of its own; the figures
// per size and the growth exponents log(t16000 / t1000) / log(16) of the wall time
// and of corvel's CPU time (1 is linear).
void BM_FirstSyncGrowth(benchmark::State& state) {
    const int totals[] = {1000, 4000, 16000};
    for (auto _ : state) {
        std::vector<SyncFigures> runs;
        try {
            for (int total : totals) {
                Sizes sizes{total * 5 / 12, total - 2 * (total * 5 / 12), total * 5 / 12};
                SeededHome home(sizes);
                runs.push_back(OneSync(home.path()));
                const SyncFigures& f = runs.back();
                const std::string n = std::to_string(total);
                state.counters["wall_s_" + n] = f.skiff.seconds;
                state.counters["corvel_cpu_s_" + n] = f.corvel.cpuSeconds;
                std::fprintf(stderr, "%d items: %.2f s wall, corvel %.2f s CPU\n  %s\n", total,
                             f.skiff.seconds, f.corvel.cpuSeconds, f.report.c_str());
            }
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        } catch (const ToolError& e) {
            state.SkipWithError(("store: " + e.message).c_str());
            return;
        }
        auto exponent = [](double small, double large) {
            return small > 0 && large > 0 ? std::log(large / small) / std::log(16.0) : 0.0;
        };
        const double wall = exponent(runs[0].skiff.seconds, runs[2].skiff.seconds);
        const double cpu = exponent(runs[0].corvel.cpuSeconds, runs[2].corvel.cpuSeconds);
        state.counters["exponent_wall"] = wall;
        state.counters["exponent_corvel_cpu"] = cpu;
        std::fprintf(stderr, "growth exponent 1,000 -> 16,000 items: wall %.2f, corvel CPU %.2f\n",
                     wall, cpu);
        double all = 0;
        for (const SyncFigures& f : runs) all += f.skiff.seconds;
        state.SetIterationTime(all);
    }
}

BENCHMARK(BM_FirstSyncGrowth)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
