// The per-request work of routing a GET before any file is touched, and the texts
// built for directory pages and the forwarding log.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "server/http/content_types.h"
#include "server/http/dump_message.h"
#include "server/http/web_answers.h"
#include "server/http/web_path.h"
#include "server/http/web_routing.h"

namespace {

void BM_CleanAndMap(benchmark::State& state) {
    std::map<std::string, CWebDirectory> directories;
    for (int i = 0; i < state.range(0); ++i) {
        std::string name = "dir" + std::to_string(i);
        directories[name] = {name, "/srv/" + name, "", "", ""};
    }
    const std::string url = "/static/images/%7Euser/photo%20001.jpeg";
    for (auto _ : state) {
        std::optional<std::string> clean = CleanRequestPath(url);
        CWebMapping mapping = MapToVirtualDirectory(directories, *clean);
        benchmark::DoNotOptimize(mapping);
        benchmark::DoNotOptimize(ContentTypeForUrl(*clean));
    }
}
BENCHMARK(BM_CleanAndMap)->Arg(0)->Arg(10)->Arg(100);

void BM_DirectoryPage(benchmark::State& state) {
    std::vector<CDirectoryEntry> entries;
    for (int i = 0; i < state.range(0); ++i) {
        entries.push_back({"file" + std::to_string(i) + ".htm", i % 10 == 0, 1000u + i});
    }
    for (auto _ : state) {
        std::string page = DirectoryPageBody("/srv/www/docs", "/docs", entries);
        benchmark::DoNotOptimize(page);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DirectoryPage)->Arg(100)->Arg(10000);

void BM_HexDump(benchmark::State& state) {
    std::string body(static_cast<size_t>(state.range(0)), '\x5a');
    for (auto _ : state) {
        std::string dump = HexDump(body);
        benchmark::DoNotOptimize(dump);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HexDump)->Arg(1 << 16);

}  // namespace

BENCHMARK_MAIN();
