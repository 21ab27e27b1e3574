// corvel-store import of 10,000 contacts (30 fields each, as vCard 3.0) beside the
// engine writing the same contacts itself (one SetProps and one save each, all in
// one write batch, as the import saves them), measured side by side in one run; and
// the peak memory of importing a 100 MB vCard file (large photos, passed over),
// which is streamed. The goal: import_per_engine at most 2.
//
//   cmake --build build-rel --target formats_bench && build-rel/bench/formats_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bench/contact_fields.h"
#include "common/base/temp_home.h"
#include "server/mapi/write_batch_ptr.h"
#include "tools/store_tool.h"

namespace {

constexpr int kContacts = 10000;

int Tool(std::vector<std::string> args) {
    std::vector<char*> argv{const_cast<char*>("corvel-store")};
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    return RunStoreTool(static_cast<int>(argv.size()), argv.data(), out, err);
}

// A temporary home with the profile "Default", made on first use and removed
// when the run ends.
struct ProfileHome {
    ProfileHome() {
        if (home.Path().empty() || Tool({"profile", "create", "Default"}) != 0) std::abort();
    }
    TempHome home{"corvel-formats-bench"};
};

std::string Home() {
    static const ProfileHome made;
    return made.home.Path();
}

// The 30 fields of the engine's contacts as one vCard.
std::string Card(int i) {
    std::string n = std::to_string(i);
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Surname" + n + ";Given" + n +
           ";Middle;Dr.;\r\nFN:Dr. Given" + n + " Middle Surname" + n + "\r\nX-FILE-AS:Surname" +
           n + "\\, Given" + n + "\r\nORG:Company " + n +
           ";Sales\r\nTITLE:Engineer\r\nX-OFFICE-LOCATION:Room " + n +
           "\r\nBDAY:1975-05-20\r\nEMAIL:mail" + n + "@example.org\r\nEMAIL:second" + n +
           "@example.org\r\nEMAIL:third" + n + "@example.org\r\nTEL;TYPE=WORK:+49 30 " + n +
           "\r\nTEL;TYPE=WORK:+49 30 9" + n + "\r\nTEL;TYPE=HOME:+49 331 " + n +
           "\r\nTEL;TYPE=HOME:+49 331 9" + n + "\r\nTEL;TYPE=CELL:+49 170 " + n +
           "\r\nTEL;TYPE=CAR:+49 172 " + n + "\r\nTEL;TYPE=PAGER:+49 171 " + n +
           "\r\nTEL;TYPE=WORK,FAX:+49 30 8" + n + "\r\nTEL;TYPE=HOME,FAX:+49 331 8" + n +
           "\r\nADR;TYPE=HOME:;;Street " + n +
           ";Potsdam;;14467;Germany\r\nURL:https://example.org/" + n +
           "\r\nCATEGORIES:Business,Private\r\nX-SPOUSE:Spouse\r\nNOTE:Notes for contact " + n +
           "\r\nEND:VCARD\r\n";
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_ImportBesideEngineSave(benchmark::State& state) {
    const std::string home = Home();
    const std::string file = home + "/contacts.vcf";
    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < kContacts; ++i) out << Card(i);
    }
    for (auto _ : state) {
        static int round = 0;
        ++round;
        const std::string engine = "Contacts/Engine" + std::to_string(round);
        const std::string imported = "Contacts/Import" + std::to_string(round);
        Tool({"folder", "create", engine, "--class", "IPF.Contact"});
        Tool({"folder", "create", imported, "--class", "IPF.Contact"});

        auto start = std::chrono::steady_clock::now();
        {
            CMapiInitializer init;
            IMAPISessionPtr session = IMAPISessionPtr::Logon("Default", MAPI_NEW_SESSION);
            IMsgStorePtr store = session.OpenDefaultStore();
            IMAPIFolderPtr inbox = store.OpenFolder(store.GetReceiveFolder("IPM"));
            IMAPIFolderPtr contacts = store.OpenFolder(inbox.GetBinaryProp(PR_IPM_CONTACT_ENTRYID));
            IMAPIFolderPtr folder = contacts.CreateFolder("Engine" + std::to_string(round));
            std::vector<ULONG> tags;
            CWriteBatch batch;
            for (int i = 0; i < kContacts; ++i) {
                IMessagePtr m = folder.CreateMessage();
                if (tags.empty()) tags = benchcontacts::FieldTags(m);
                benchcontacts::WriteEngineContact(m, tags, i);
            }
            if (FAILED(batch.Commit())) std::abort();
        }
        const double engineSeconds = Seconds(start);

        start = std::chrono::steady_clock::now();
        if (Tool({"import", imported, file}) != 0) std::abort();
        const double importSeconds = Seconds(start);

        state.SetIterationTime(importSeconds);
        state.counters["engine_s"] = engineSeconds;
        state.counters["import_s"] = importSeconds;
        state.counters["import_per_engine"] = importSeconds / engineSeconds;
    }
    state.SetItemsProcessed(state.iterations() * kContacts);
}

long PeakKilobytes() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void BM_Import100MegabytesStreamed(benchmark::State& state) {
    const std::string home = Home();
    const std::string file = home + "/big.vcf";
    std::size_t bytes = 0;
    {
        // Each card carries a 64 KiB photo (not carried, so little is stored).
        std::string photo(65536 / 3 * 4, 'A');
        std::string folded;
        for (std::size_t k = 0; k < photo.size(); k += 74)
            folded += " " + photo.substr(k, 74) + "\r\n";
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; bytes < 100u * 1024 * 1024; ++i) {
            std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Big" + std::to_string(i) +
                               ";Photo;;;\r\nFN:Photo Big\r\nPHOTO;ENCODING=b;TYPE=JPEG:\r\n" +
                               folded + "END:VCARD\r\n";
            out << card;
            bytes += card.size();
        }
    }
    Tool({"folder", "create", "Contacts/Big", "--class", "IPF.Contact"});
    const long before = PeakKilobytes();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (Tool({"import", "Contacts/Big", file}) != 0) std::abort();
        state.SetIterationTime(Seconds(start));
    }
    state.counters["file_MB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    state.counters["peak_growth_MB"] = static_cast<double>(PeakKilobytes() - before) / 1024.0;
}
// First, so that the peak memory is that of this import alone.
BENCHMARK(BM_Import100MegabytesStreamed)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportBesideEngineSave)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
