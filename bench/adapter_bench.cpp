// Speed of the MAPI adapter over a real store in a temporary data folder: an item of
// 40 string properties written one value at a time, batched, and with one raw
// SetProps call; a 200000-byte body read through the wrapper and through the raw
// stream; entry identifiers to key text and back.
//   build/bench/adapter_bench
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_store.h"
#include "server/mapi/mapi_query.h"
#include "server/mapi/mapi_wrapper.h"

namespace {

constexpr int kProps = 40;
const ULONG kTags[kProps] = {PR_SUBJECT,
                             PR_DISPLAY_NAME,
                             PR_COMPANY_NAME,
                             PR_DEPARTMENT_NAME,
                             PR_GIVEN_NAME,
                             PR_SURNAME,
                             PR_MIDDLE_NAME,
                             PR_TITLE,
                             PR_PROFESSION,
                             PR_SPOUSE_NAME,
                             PR_ASSISTANT,
                             PR_NICKNAME,
                             PR_BUSINESS_TELEPHONE_NUMBER,
                             PR_BUSINESS2_TELEPHONE_NUMBER,
                             PR_HOME_TELEPHONE_NUMBER,
                             PR_HOME2_TELEPHONE_NUMBER,
                             PR_MOBILE_TELEPHONE_NUMBER,
                             PR_CAR_TELEPHONE_NUMBER,
                             PR_PAGER_TELEPHONE_NUMBER,
                             PR_BUSINESS_FAX_NUMBER,
                             PR_HOME_FAX_NUMBER,
                             PR_OFFICE_LOCATION,
                             PR_HOME_ADDRESS_STREET,
                             PR_HOME_ADDRESS_CITY,
                             PR_HOME_ADDRESS_STATE_OR_PROVINCE,
                             PR_HOME_ADDRESS_POSTAL_CODE,
                             PR_HOME_ADDRESS_COUNTRY,
                             PR_OTHER_ADDRESS_STREET,
                             PR_OTHER_ADDRESS_CITY,
                             PR_OTHER_ADDRESS_POSTAL_CODE,
                             PR_OTHER_ADDRESS_COUNTRY,
                             PR_STREET_ADDRESS,
                             PR_LOCALITY,
                             PR_STATE_OR_PROVINCE,
                             PR_POSTAL_CODE,
                             PR_COUNTRY,
                             PR_BUSINESS_HOME_PAGE,
                             PR_PERSONAL_HOME_PAGE,
                             PR_EMAIL_ADDRESS,
                             PR_INITIALS};

// One profile for the whole run, removed at the end.
BenchProfileStore& Store() {
    static BenchProfileStore store("corvel-adapter-bench", "Bench");
    return store;
}

std::string Value(int i) { return "Value number " + std::to_string(i) + " of a contact"; }

void BM_WriteItemOneByOne(benchmark::State& state) {
    BenchProfileStore& s = Store();
    for (auto _ : state) {
        IMessagePtr message = s.contacts.CreateMessage();
        for (int i = 0; i < kProps; ++i) message.SetStrProp(kTags[i], Value(i));
        message.SaveChanges(0);
    }
}
BENCHMARK(BM_WriteItemOneByOne)->Unit(benchmark::kMicrosecond);

void BM_WriteItemBatched(benchmark::State& state) {
    BenchProfileStore& s = Store();
    for (auto _ : state) {
        IMessagePtr message = s.contacts.CreateMessage();
        message.SetBatched(true);
        for (int i = 0; i < kProps; ++i) message.SetStrProp(kTags[i], Value(i));
        message.SaveChanges(0);
    }
}
BENCHMARK(BM_WriteItemBatched)->Unit(benchmark::kMicrosecond);

void BM_WriteItemRaw(benchmark::State& state) {
    BenchProfileStore& s = Store();
    std::vector<std::string> texts;
    for (int i = 0; i < kProps; ++i) texts.push_back(Value(i));
    for (auto _ : state) {
        CMapiRef<IMessage> message;
        s.contacts.Get()->CreateMessage(nullptr, 0, message.Put());
        SPropValue values[kProps]{};
        for (int i = 0; i < kProps; ++i) {
            values[i].ulPropTag = kTags[i];
            values[i].Value.lpszA = texts[i].data();
        }
        message->SetProps(kProps, values, nullptr);
        message->SaveChanges(0);
    }
}
BENCHMARK(BM_WriteItemRaw)->Unit(benchmark::kMicrosecond);

IMessagePtr BodyItem() {
    BenchProfileStore& s = Store();
    static CByteBuffer id;
    if (id.Empty()) {
        IMessagePtr message = s.contacts.CreateMessage();
        message.SetBody(std::string(200000, 'b'));
        message.SaveChanges(KEEP_OPEN_READWRITE);
        id = message.GetEntryID();
    }
    return s.contacts.OpenMessage(id);
}

void BM_GetBody200k(benchmark::State& state) {
    IMessagePtr message = BodyItem();
    for (auto _ : state) benchmark::DoNotOptimize(message.GetBody());
    state.SetBytesProcessed(state.iterations() * 200000);
}
BENCHMARK(BM_GetBody200k)->Unit(benchmark::kMicrosecond);

void BM_GetBody200kRawStream(benchmark::State& state) {
    IMessagePtr message = BodyItem();
    std::vector<char> chunk(65536);
    for (auto _ : state) {
        CMapiRef<IUnknown> opened;
        message.Get()->OpenProperty(PR_BODY, &IID_IStream, STGM_READ, 0, opened.Put());
        CMapiRef<IStream> stream = MapiQueryAs<IStream>(opened.Get(), "bench");
        std::string body;
        ULONG read = 0;
        do {
            stream->Read(chunk.data(), 65536, &read);
            body.append(chunk.data(), read);
        } while (read > 0);
        benchmark::DoNotOptimize(body);
    }
    state.SetBytesProcessed(state.iterations() * 200000);
}
BENCHMARK(BM_GetBody200kRawStream)->Unit(benchmark::kMicrosecond);

void BM_KeyTextRoundTrip(benchmark::State& state) {
    std::vector<uint8_t> bytes(24);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37);
    CByteBuffer id(bytes);
    for (auto _ : state) {
        std::string key = id.ToText();
        benchmark::DoNotOptimize(CByteBuffer::ParseHex(key));
    }
}
BENCHMARK(BM_KeyTextRoundTrip);

}  // namespace

BENCHMARK_MAIN();
