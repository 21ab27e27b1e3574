// Item conversion over a real store in a temporary data folder: 10,000 contacts of
// 30 fields applied with XMLtoMessage and written with MessageToXML, beside the
// engine's own bulk create (one SetProps and a save per item) and read (one
// GetProps per item) of the same 30 values. Each benchmark handles all 10,000
// items once per iteration; compare items_per_second.
//   build/bench/items_bench
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "bench/bench_store.h"
#include "bench/contact_fields.h"
#include "common/wbxml/wbxml.h"
#include "server/config/live_trace.h"
#include "server/itemconv/element_map.h"
#include "server/itemconv/item_reader.h"
#include "server/itemconv/item_writer.h"
#include "server/mapi/mapi_wrapper.h"

namespace {

using benchcontacts::Fields;
using benchcontacts::WriteEngineContact;

constexpr int kItems = 10000;

CWBXMLLiterals Tree(int item) {
    CWBXMLLiterals tree;
    for (auto& [token, value] : Fields(item)) tree.Add(kItemContact, token, value);
    return tree;
}

// The profile's contacts with a folder for the engine's items and one for the
// converted items; the folders close before the store.
struct BenchStore {
    BenchStore() {
        SetLiveTraceSink(nullptr);
        engineFolder = profile.contacts.CreateFolder("Engine");
        itemFolder = profile.contacts.CreateFolder("Items");
    }

    BenchProfileStore profile{"corvel-items-bench", "Bench"};
    IMAPIFolderPtr engineFolder;
    IMAPIFolderPtr itemFolder;
    benchcontacts::StoreFieldTags fieldTags;
    std::vector<CByteBuffer> engineItems;
    std::vector<CByteBuffer> convertedItems;
};

BenchStore& Store() {
    static BenchStore store;
    return store;
}

void BM_EngineCreate(benchmark::State& state) {
    BenchStore& s = Store();
    for (auto _ : state) {
        s.engineItems.clear();
        for (int i = 0; i < kItems; ++i) {
            IMessagePtr m = s.engineFolder.CreateMessage();
            WriteEngineContact(m, s.fieldTags.Of(m), i);
            s.engineItems.push_back(m.GetEntryID());
        }
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_EngineCreate)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_XMLtoMessage(benchmark::State& state) {
    BenchStore& s = Store();
    std::vector<CWBXMLLiterals> trees;
    for (int i = 0; i < kItems; ++i) trees.push_back(Tree(i));
    for (auto _ : state) {
        s.convertedItems.clear();
        for (int i = 0; i < kItems; ++i) {
            IMessagePtr m = s.itemFolder.CreateMessage();
            m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Contact");
            if (XMLtoMessage(m, trees[i]) != ItemApplyResult::kSaved) std::abort();
            s.convertedItems.push_back(m.GetEntryID());
        }
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_XMLtoMessage)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_EngineRead(benchmark::State& state) {
    BenchStore& s = Store();
    if (s.engineItems.empty()) state.SkipWithError("run BM_EngineCreate first");
    size_t bytes = 0;
    for (auto _ : state) {
        for (const CByteBuffer& id : s.engineItems) {
            IMessagePtr m = s.engineFolder.OpenMessage(id);
            CPropArray values = m.GetProps(CPropTagArray(s.fieldTags.Of(m)));
            bytes += values.Count();
        }
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.engineItems.size()));
}
BENCHMARK(BM_EngineRead)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MessageToXML(benchmark::State& state) {
    BenchStore& s = Store();
    if (s.convertedItems.empty()) state.SkipWithError("run BM_XMLtoMessage first");
    CItemWriteContext context;
    size_t bytes = 0;
    for (auto _ : state) {
        for (const CByteBuffer& id : s.convertedItems) {
            IMessagePtr m = s.itemFolder.OpenMessage(id);
            CWBXML doc;
            doc.BeginDocument(4096);
            MessageToXML(m, doc, context);
            bytes += doc.Document().Length();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.convertedItems.size()));
}
BENCHMARK(BM_MessageToXML)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
