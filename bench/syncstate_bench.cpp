// Folder sync state: change detection (baseline load + comparison) and the snapshot
// of a folder of 50,000 items whose baseline of 50,000 rows differs in 1% of them,
// beside the engine's own contents-table scan of the same columns in the same run.
//
// Memory: peak_new_bytes is the peak of C++ heap bytes (operator new) above the
// level at the start of one iteration (baseline map, change list, snapshot text);
// the store's row buffers come from malloc and are not in it. max_rss_kb is the
// process's peak resident size so far.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

#include "bench/bench_store.h"
#include "platform/mapi/mapi.h"
#include "server/config/live_trace.h"
#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/mapi_store_ptrs.h"
#include "server/syncstate/folder_info.h"

namespace {

std::atomic<long long> gHeapNow{0};
std::atomic<long long> gHeapPeak{0};

void CountAlloc(std::size_t size) {
    long long now = gHeapNow.fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
    long long peak = gHeapPeak.load();
    while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace

// Sized bookkeeping: a header in front of every block holds its size.
void* operator new(std::size_t size) {
    void* block = std::malloc(size + 16);
    if (block == nullptr) throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = size;
    CountAlloc(size);
    return static_cast<char*>(block) + 16;
}
void operator delete(void* p) noexcept {
    if (p == nullptr) return;
    void* block = static_cast<char*>(p) - 16;
    gHeapNow.fetch_sub(static_cast<long long>(*static_cast<std::size_t*>(block)));
    std::free(block);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr int kItems = 50000;
constexpr int kChanged = kItems / 100;
const char* const kDevice = "BENCH1";

// A folder of kItems mails whose baseline was taken before 1% of them changed; the
// store and state files go with the process.
struct World {
    World() {
        SetLiveTraceSink(nullptr);
        for (int k = 0; k < kItems; ++k) {
            IMessagePtr message = profile.inbox.CreateMessage();
            message.SetStrProp(PR_SUBJECT, "Mail " + std::to_string(k));
            message.SetStrProp(PR_MESSAGE_CLASS, "IPM.Note");
            message.SaveChanges(0);
        }
        // The baseline is the folder as it is now; then 1% of the items change.
        CFolderInfo info(dataFolder, "", "Inbox");
        info.SaveContentsTable(kDevice, "-4", profile.session.Get(), profile.inbox, 0);
        IMAPITablePtr table = profile.inbox.GetContentsTable();
        CRowSet rows = table.QueryAllRows({PR_ENTRYID});
        for (int k = 0; k < kChanged; ++k) {
            ULONG row = static_cast<ULONG>(k) * (kItems / kChanged);
            IMessagePtr message = profile.inbox.OpenMessage(CRowSet::Binary(rows[row], PR_ENTRYID));
            message.SetStrProp(PR_SUBJECT, "Changed " + std::to_string(k));
            message.SaveChanges(0);
        }
    }

    BenchProfileStore profile{"syncstate-bench", "Bench"};
    const std::string dataFolder = profile.DataFolder();
};

World& TheWorld() {
    static World world;
    return world;
}

// Starts the heap peak of one iteration.
long long StartPeak() {
    long long now = gHeapNow.load();
    gHeapPeak.store(now);
    return now;
}

void ReportMemory(benchmark::State& state, long long maxPeakAbove) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_new_bytes"] = static_cast<double>(maxPeakAbove);
    state.counters["max_rss_kb"] = static_cast<double>(usage.ru_maxrss);
    state.counters["items"] = kItems;
}

// Runs measured once per iteration; the peak of the heap above its level at the
// start of an iteration, the largest of all iterations, is reported.
template <typename Measured>
void MeasurePeak(benchmark::State& state, Measured measured) {
    long long peakAbove = 0;
    for (auto _ : state) {
        long long start = StartPeak();
        measured();
        peakAbove = std::max(peakAbove, gHeapPeak.load() - start);
    }
    ReportMemory(state, peakAbove);
}

// The engine's contents-table scan of the columns change detection reads.
void BM_RawContentsScan(benchmark::State& state) {
    World& w = TheWorld();
    MeasurePeak(state, [&] {
        CMapiRef<IMAPITable> table;
        w.profile.inbox.Get()->GetContentsTable(0, table.Put());
        CPropTagArray columns{PR_ENTRYID,      PR_DISPLAY_NAME,  PR_LAST_MODIFICATION_TIME,
                              PR_DISPLAY_NAME, PR_MESSAGE_FLAGS, PR_SUBJECT};
        table->SetColumns(columns.Get(), 0);
        long long seen = 0;
        for (;;) {
            LPSRowSet raw = nullptr;
            table->QueryRows(512, 0, &raw);
            CRowSet rows(raw);
            if (rows.Empty()) break;
            for (ULONG i = 0; i < rows.Count(); ++i) {
                benchmark::DoNotOptimize(rows[i].lpProps[0].Value.bin.cb);
                ++seen;
            }
        }
        benchmark::DoNotOptimize(seen);
    });
}

// The baseline file loaded and compared with the live table: how many changes.
size_t ComputeChanges(World& w, CFolderInfo& info) {
    info.LoadContentsTable(kDevice, "-4");
    ChangeList changes;
    info.ComputeChanges("Email", w.profile.session.Get(), w.profile.inbox, changes, kDevice, 0);
    return changes.size();
}

// The snapshot of the live table written (atomically, flushed to disk).
void SaveContentsTable(World& w, CFolderInfo& info) {
    info.SaveContentsTable(kDevice, "-4_temp", w.profile.session.Get(), w.profile.inbox, 0);
}

// Loading the baseline file and comparing it with the live table.
void BM_ComputeChanges(benchmark::State& state) {
    World& w = TheWorld();
    size_t found = 0;
    MeasurePeak(state, [&] {
        CFolderInfo info(w.dataFolder, "", "Inbox");
        found = ComputeChanges(w, info);
    });
    state.counters["changes"] = static_cast<double>(found);
}

// Writing the snapshot of the live table.
void BM_SaveContentsTable(benchmark::State& state) {
    World& w = TheWorld();
    MeasurePeak(state, [&] {
        CFolderInfo info(w.dataFolder, "", "Inbox");
        SaveContentsTable(w, info);
    });
}

// Both, as one synchronisation of the folder does them.
void BM_ComputeAndSave(benchmark::State& state) {
    World& w = TheWorld();
    MeasurePeak(state, [&] {
        CFolderInfo info(w.dataFolder, "", "Inbox");
        ComputeChanges(w, info);
        SaveContentsTable(w, info);
    });
}

BENCHMARK(BM_RawContentsScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeChanges)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveContentsTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeAndSave)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
