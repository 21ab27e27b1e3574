// Speed of the WBXML codec on an answer-like document of about 1 MiB (300 items
// of 30 contact fields), each figure beside memcpy of the same bytes.
//   build/bench/wbxml_bench
#include <benchmark/benchmark.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/wbxml/wbxml.h"

namespace {

constexpr int kItems = 300;
constexpr int kFields = 30;

struct Item {
    std::string serverId;
    std::vector<std::string> values;  // one per field token 0..kFields-1
};

const std::vector<Item>& Items() {
    static const std::vector<Item> items = [] {
        std::vector<Item> list;
        for (int i = 0; i < kItems; ++i) {
            Item item;
            item.serverId = std::string(40, 'A') + std::to_string(100000 + i);
            for (int f = 0; f < kFields; ++f) {
                // Short fields, a few longer ones, and a body of some 1.6 kB.
                size_t length = f == 0x1A ? 1600 : 20 + static_cast<size_t>((f * 7 + i) % 80);
                std::string value;
                while (value.size() < length) value += "Field text M\xC3\xBCller 0123456789 ";
                value.resize(length);
                item.values.push_back(value);
            }
            list.push_back(std::move(item));
        }
        return list;
    }();
    return items;
}

// Sync > Folder > Element > Add > ServerID, COLLECTION with the item's fields.
void WriteAnswer(CWBXML& w) {
    w.BeginDocument(CWBXML::kAnswerCapacity);
    w.StartTag(0, 0x01);
    w.StartTag(0, 0x15);
    w.WriteElement(0, 0x18, "-1");
    w.StartTag(0, 0x27);
    for (const Item& item : Items()) {
        w.StartTag(0, 0x1D);
        w.WriteElement(0, 0x18, item.serverId);
        w.StartTag(0, 0x14);
        for (int f = 0; f < kFields; ++f)
            w.WriteElementIfNotEmpty(1, f, item.values[static_cast<size_t>(f)]);
        w.EndTag();
        w.EndTag();
    }
    w.EndTag();
    w.EndTag();
    w.EndTag();
}

const std::string& Answer() {
    static const std::string bytes = [] {
        CWBXML w;
        WriteAnswer(w);
        return std::string(w.Document().View());
    }();
    return bytes;
}

void BM_Memcpy(benchmark::State& state) {
    const std::string& source = Answer();
    std::vector<char> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_Memcpy);

void BM_NextEvent(benchmark::State& state) {
    CWBXML r;
    r.SetDocument(Answer());
    size_t events = 0;
    for (auto _ : state) {
        r.ResetReader();
        CWBXMLEvent e;
        events = 0;
        while (r.NextEvent(e)) ++events;
        benchmark::DoNotOptimize(e.value.data());
    }
    state.counters["events"] = static_cast<double>(events);
    state.counters["bytes"] = static_cast<double>(Answer().size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Answer().size()));
}
BENCHMARK(BM_NextEvent);

void BM_BuildTree(benchmark::State& state) {
    CWBXML r;
    r.SetDocument(Answer());
    for (auto _ : state) {
        r.ResetReader();
        CWBXMLEvent e;
        r.NextEvent(e);  // Sync: the tree is its content
        CWBXMLLiterals tree;
        if (!r.BuildTree(tree, e)) state.SkipWithError("tree did not end");
        benchmark::DoNotOptimize(tree.Size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Answer().size()));
}
BENCHMARK(BM_BuildTree);

void BM_Write(benchmark::State& state) {
    CWBXML w;
    for (auto _ : state) {
        WriteAnswer(w);
        benchmark::DoNotOptimize(w.Document().Data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Answer().size()));
}
BENCHMARK(BM_Write);

void BM_DumpDocument(benchmark::State& state) {
    CWBXML w;
    for (auto _ : state) {
        std::ostringstream out;
        w.DumpDocument(out, Answer());
        benchmark::DoNotOptimize(out.tellp());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Answer().size()));
}
BENCHMARK(BM_DumpDocument);

}  // namespace

BENCHMARK_MAIN();
