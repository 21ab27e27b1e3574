// Item conversion over a real store in a temporary data folder: 10,000 contacts of
// 30 fields applied with XMLtoMessage and written with MessageToXML, beside the
// engine's own bulk create (one SetProps and a save per item) and read (one
// GetProps per item) of the same 30 values. Each benchmark handles all 10,000
// items once per iteration; compare items_per_second.
//   build/bench/items_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/wbxml/wbxml.h"
#include "server/config/live_trace.h"
#include "server/itemconv/element_map.h"
#include "server/itemconv/item_reader.h"
#include "server/itemconv/item_writer.h"
#include "server/mapi/mapi_wrapper.h"

namespace {

constexpr int kItems = 10000;

// The 30 contact fields: (token, value).
std::vector<std::pair<int32_t, std::string>> Fields(int item) {
    std::string n = std::to_string(item);
    return {
        {0x1B, "Given" + n}, {0x1D, "Surname" + n}, {0x1C, "Middle"}, {0x1A, "Dr."},
        {0x05, "Sales"}, {0x06, "Company " + n}, {0x07, "mail" + n + "@example.org"},
        {0x0E, "second" + n + "@example.org"}, {0x10, "third" + n + "@example.org"},
        {0x08, "+49 170 " + n}, {0x0A, "+49 171 " + n}, {0x0B, "+49 30 " + n}, {0x19, "+49 30 9" + n},
        {0x0D, "+49 331 " + n}, {0x11, "+49 331 9" + n}, {0x13, "+49 172 " + n}, {0x12, "+49 331 8" + n},
        {0x04, "+49 30 8" + n}, {0x09, "Room " + n}, {0x0C, "Engineer"}, {0x0F, "Spouse"},
        {0x17, "Business, Private"}, {0x18, "https://example.org/" + n},
        {0x1F, "Street " + n}, {0x20, "Potsdam"}, {0x22, "14467"}, {0x23, "Germany"},
        {0x02, "20.05.1975 00:00.00:0"}, {0x2F, "Surname" + n + ", Given" + n},
        {0x30, "Notes for contact " + n},
    };
}

CWBXMLLiterals Tree(int item) {
    CWBXMLLiterals tree;
    for (auto& [token, value] : Fields(item)) tree.Add(kItemContact, token, value);
    return tree;
}

struct BenchStore {
    BenchStore() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvel-items-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        home = pattern;
        ::setenv("XDG_DATA_HOME", home.c_str(), 1);
        SetLiveTraceSink(nullptr);
        init.emplace();
        CMapiRef<IProfAdmin> admin;
        if (FAILED(MAPIAdminProfiles(0, admin.Put())) ||
            FAILED(admin->CreateProfile(const_cast<char*>("Bench"), nullptr, 0, 0)))
            std::abort();
        session = IMAPISessionPtr::Logon("Bench", MAPI_NEW_SESSION);
        store = session.OpenDefaultStore();
        IMAPIFolderPtr inbox = store.OpenFolder(store.GetReceiveFolder("IPM"));
        IMAPIFolderPtr contacts = store.OpenFolder(inbox.GetBinaryProp(PR_IPM_CONTACT_ENTRYID));
        engineFolder = contacts.CreateFolder("Engine");
        itemFolder = contacts.CreateFolder("Items");
    }
    ~BenchStore() {
        engineFolder.Reset();
        itemFolder.Reset();
        store.Reset();
        session.Reset();
        init.reset();
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }

    // The tags of the 30 fields in this store, resolved once (as the engine's own
    // caller would hold them).
    std::vector<ULONG> FieldTags(IMessagePtr& item) {
        if (tags.empty()) {
            for (auto& [token, value] : Fields(0)) {
                for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
                    if (row->kind == kItemContact && row->token == token) {
                        tags.push_back(ResolveElementTag(item, *row));
                        break;
                    }
                }
            }
        }
        return tags;
    }

    std::string home;
    std::optional<CMapiInitializer> init;
    IMAPISessionPtr session;
    IMsgStorePtr store;
    IMAPIFolderPtr engineFolder;
    IMAPIFolderPtr itemFolder;
    std::vector<ULONG> tags;
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
            std::vector<ULONG> tags = s.FieldTags(m);
            auto fields = Fields(i);
            std::vector<CPropValue> values;
            for (size_t f = 0; f < fields.size(); ++f) {
                ULONG tag = tags[f];
                if (PROP_TYPE(tag) == PT_MV_STRING8) {
                    values.push_back(CPropValue::MultiString8(tag, {"Business", "Private"}));
                } else if (PROP_TYPE(tag) == PT_SYSTIME) {
                    values.push_back(CPropValue::Time(tag, FILETIME{0x7A7A0000, 0x01A9D3F0}));
                } else {
                    values.push_back(CPropValue::String8(tag, fields[f].second));
                }
            }
            values.push_back(CPropValue::String8(PR_MESSAGE_CLASS, "IPM.Contact"));
            std::vector<SPropValue> raw;
            for (auto& v : values) raw.push_back(*v.Get());
            if (FAILED(m.Get()->SetProps(static_cast<ULONG>(raw.size()), raw.data(), nullptr))) std::abort();
            m.SaveChanges(KEEP_OPEN_READWRITE);
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
            CPropArray values = m.GetProps(CPropTagArray(s.FieldTags(m)));
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
