// Speed of the item conversion parts that run for every item sent: HTML bodies
// rendered as text, and the recurrence blob and block.
#include <benchmark/benchmark.h>

#include <string>

#include "server/itemconv/html_to_text.h"
#include "server/itemconv/item_time_test_util.h"
#include "server/itemconv/recurrence_elements.h"
#include "server/itemconv/recurrence_mapping.h"
#include "server/itemconv/time_zone_info.h"

namespace {

std::string HtmlMail(int paragraphs) {
    std::string html =
        "<!DOCTYPE html><html><head><style>p { margin: 0 }</style></head><body lang=de>";
    for (int i = 0; i < paragraphs; ++i) {
        html +=
            "<p class=x>Dear Ann,&nbsp; the meeting on <b>Monday</b> moves to room&nbsp;4 &amp; "
            "5.<br/>\r\n"
            "Prices: 10&#8364; &lt; 20&#x20AC;   Q&A at 10:00</p>\r\n";
    }
    return html + "</body></html>";
}

void BM_HtmlToText(benchmark::State& state) {
    std::string html = HtmlMail(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(HtmlToText(html));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(html.size()));
}
BENCHMARK(BM_HtmlToText)->Arg(10)->Arg(1000);

// The tests' weekly series made weekly on Monday, Wednesday and Friday, 200 times,
// 10:00-11:00 from Monday 2009-03-09, with exceptions moved by an hour.
RecurrencePattern Series(int exceptions) {
    RecurrencePattern p = itemtest::Weekly2MonWed5();
    p.interval = 1;
    p.dayMask = 0x2A;
    p.occurrences = 200;
    p.start = p.seriesStart = p.patternStart = itemtest::T(2009, 3, 9, 10);
    p.end = p.seriesEnd = itemtest::T(2009, 3, 9, 11);
    for (int i = 0; i < exceptions; ++i) {
        _recur_exception e;
        e.originalStart = MinutesFrom1601(p.start) + i * 7 * 1440;
        e.start = e.originalStart + 60;
        e.end = e.start + 60;
        e.overrideFlags = 0x11;
        e.subject = "Weekly review, moved";
        e.location = "Room 4";
        p.exceptions.push_back(e);
        p.deletedDates.push_back(e.originalStart);
    }
    return p;
}

void BM_RecurrenceBlobEncodeDecode(benchmark::State& state) {
    RecurrencePattern p = Series(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<std::uint8_t> bytes = EncodeRecurrenceBlob(BlobFromPattern(p));
        benchmark::DoNotOptimize(DecodeRecurrenceBlob(bytes));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecurrenceBlobEncodeDecode)->Arg(0)->Arg(100);

void BM_RecurrenceBlock(benchmark::State& state) {
    RecurrencePattern p = Series(static_cast<int>(state.range(0)));
    CRuleTimeZone zone(FixedCentralEuropeanTimeZone());
    for (auto _ : state) {
        CWBXMLLiterals block = RecurrenceBlockElements(p, zone);
        RecurrencePattern back = p;
        ApplyRecurrenceElements(back, block, p.start, p.end, zone);
        benchmark::DoNotOptimize(back);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecurrenceBlock)->Arg(0)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
