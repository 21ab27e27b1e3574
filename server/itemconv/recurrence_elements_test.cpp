// The Recurrence block: what is sent, what a received block does, and round trips
// store -> wire -> store through real WBXML documents.
#include "server/itemconv/recurrence_elements.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/config/live_trace.h"
#include "server/itemconv/item_time_test_util.h"
#include "server/itemconv/recurrence_mapping.h"
#include "server/itemconv/recurrence_store.h"
#include "server/itemconv/recurrence_vectors_test.h"
#include "server/itemconv/recurrence_wbxml.h"
#include "server/itemconv/time_zone_info.h"

namespace {

using itemtest::MovedOccurrence;
using itemtest::Series;
using itemtest::T;
using itemtest::Weekly2MonWed5;
using itemtest::Zone;

// "page/token=value" per field, containers as "page/token[...]".
std::string Render(const CWBXMLLiterals& list) {
    std::string out;
    for (const auto& node : list) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "%d/%02X", node->codePage, node->token);
        out += tag;
        if (node->children) {
            out += "[" + Render(*node->children) + "]";
        } else {
            out += "=" + node->value + ";";
        }
    }
    return out;
}

CWBXMLLiterals Block(std::initializer_list<std::pair<int32_t, std::string>> fields) {
    CWBXMLLiterals list;
    for (const auto& [token, value] : fields) list.Add(kRecurrencePage, token, value);
    return list;
}

RecurrencePattern Received(const CWBXMLLiterals& block, const CItemTime& start,
                           const CItemTime& end) {
    RecurrencePattern p;
    ApplyRecurrenceElements(p, block, start, end, Zone());
    return p;
}

CRecurrenceBlob StoredBlob(RecurrencePattern p) {
    CRecurrenceStoreValues v = StoreValuesFromPattern(p, Zone(), FixedCentralEuropeanTimeZone());
    EXPECT_TRUE(v.blob.has_value());
    return DecodeRecurrenceBlob(v.blob.value_or(std::vector<std::uint8_t>()))
        .value_or(CRecurrenceBlob());
}

// Writes the block into a document and reads it back as a received tree.
CWBXMLLiterals OverTheWire(const RecurrencePattern& p, std::string* bytes = nullptr) {
    CWBXML writer;
    EXPECT_TRUE(writer.BeginDocument(256));
    EXPECT_TRUE(WriteRecurrenceBlock(writer, p, Zone()));
    std::string doc(writer.Document().View());
    if (bytes) *bytes = doc;
    CWBXML reader;
    reader.SetDocument(doc);
    CWBXMLEvent event;
    reader.NextEvent(event);
    EXPECT_EQ(kRecurrencePage, event.codePage);
    EXPECT_EQ(kTagRecurrence, event.token);
    CWBXMLLiterals children;
    reader.BuildTree(children, event);
    return children;
}

std::string Str(const std::string& text) {
    std::string out = "\x03" + text;
    out.push_back('\0');
    return out + "\x01";
}

}  // namespace

TEST(RecurrenceElements, WeeklyEveryTwoWeeksMondayAndWednesdayFiveTimes) {
    RecurrencePattern p = Weekly2MonWed5();
    p.start = p.patternStart = p.seriesStart;
    p.end = p.seriesEnd;
    std::string bytes;
    CWBXMLLiterals received = OverTheWire(p, &bytes);
    std::string expected = std::string("\x03\x01\x6A\x00\x00\x06\x40", 7) + "\x43" + Str("1") +
                           "\x49" + Str("5") + "\x4A" + Str("2") + "\x4B" + Str("10") + "\x48" +
                           Str("0") + "\x44" + Str("09.03.2009 10:00.00:0") + "\x45" +
                           Str("09.03.2009 10:00.00:0") + "\x54" + Str("09.03.2009 10:30.00:0") +
                           "\x01";
    EXPECT_EQ(HexText(std::vector<std::uint8_t>(expected.begin(), expected.end())),
              HexText(std::vector<std::uint8_t>(bytes.begin(), bytes.end())));

    // Written back: weekly, Period 2, ends after the count.
    CRecurrenceBlob b = StoredBlob(Received(received, p.start, p.end));
    EXPECT_EQ(kRecurFrequencyWeekly, b.recurFrequency);
    EXPECT_EQ(kPatternWeek, b.patternType);
    EXPECT_EQ(2U, b.period);
    EXPECT_EQ(0x0AU, b.patternSpecific1);
    EXPECT_EQ(kEndAfterCount, b.endType);
    EXPECT_EQ(5U, b.occurrenceCount);
}

TEST(RecurrenceElements, ReceivedEndsAndCounts) {
    CItemTime s = T(2009, 3, 9, 10, 0), e = T(2009, 3, 9, 10, 30);
    CRecurrenceBlob endless =
        StoredBlob(Received(Block({{kTagRecurrenceType, "0"}, {kTagNoEndDate, "1"}}), s, e));
    EXPECT_EQ(kEndNever, endless.endType);
    EXPECT_EQ(10U, endless.occurrenceCount);
    EXPECT_EQ(static_cast<std::uint32_t>(kLatestMinutes), endless.endDate);

    RecurrencePattern negative =
        Received(Block({{kTagRecurrenceType, "0"}, {kTagOccurrences, "-3"}}), s, e);
    EXPECT_EQ(10, negative.occurrences);
    EXPECT_EQ(10U, StoredBlob(negative).occurrenceCount);

    CRecurrenceBlob daily =
        StoredBlob(Received(Block({{kTagRecurrenceType, "0"}, {kTagInterval, "3"}}), s, e));
    EXPECT_EQ(4320U, daily.period);
    EXPECT_EQ(2880U, daily.firstDateTime);

    // An end date: ends by date with the count sent; the series end is the
    // pattern end.
    RecurrencePattern byDate = Received(Block({{kTagRecurrenceType, "1"},
                                               {kTagOccurrences, "4"},
                                               {kTagPatternEndDate, "30.03.2009 00:00.00:0"},
                                               {kTagEndTime, "01.01.2000 10:30.00:0"}}),
                                        s, e);
    EXPECT_TRUE(byDate.endsByDate);
    EXPECT_FALSE(byDate.endless);
    EXPECT_EQ(4, byDate.occurrences);
    // Without a count, the number of occurrences up to the end date: the Mondays
    // 9, 16, 23 and 30 March.
    EXPECT_EQ(
        4,
        Received(Block({{kTagRecurrenceType, "1"}, {kTagPatternEndDate, "30.03.2009 00:00.00:0"}}),
                 s, e)
            .occurrences);
    EXPECT_EQ(T(2009, 3, 30, 10, 30), byDate.seriesEnd);
    CRecurrenceStoreValues v =
        StoreValuesFromPattern(byDate, Zone(), FixedCentralEuropeanTimeZone());
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 9, 9, 0)), v.wholeStart);
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 9, 9, 30)), v.wholeEnd);  // the first occurrence
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 29, 22, 0)), v.clipEnd);  // midnight of the last day

    // A pattern end in 4500 or later is endless.
    RecurrencePattern far = Received(
        Block({{kTagRecurrenceType, "1"}, {kTagPatternEndDate, "31.12.4500 00:00.00:0"}}), s, e);
    EXPECT_TRUE(far.endless);
    EXPECT_EQ(kEndNever, StoredBlob(far).endType);
}

TEST(RecurrenceElements, PatternStartAndTimesFromTheBlock) {
    RecurrencePattern p = Received(Block({{kTagRecurrenceType, "2"},
                                          {kTagDayOfMonth, "15"},
                                          {kTagPatternStartDate, "15.04.2009 00:00.00:0"},
                                          {kTagStartTime, "01.01.2000 08:15.00:0"}}),
                                   T(2009, 3, 9, 10, 0), T(2009, 3, 9, 11, 0));
    EXPECT_EQ(kRecurMonthly, p.kind);
    EXPECT_EQ(T(2009, 4, 15, 8, 15), p.seriesStart);
    EXPECT_EQ(T(2009, 4, 15, 8, 15), p.reminderTime);
    EXPECT_TRUE(p.recurring);
    CRecurrenceBlob b = StoredBlob(p);
    EXPECT_EQ(495U, b.startTimeOffset);
    EXPECT_EQ(555U, b.endTimeOffset);  // one hour, the appointment's own length
}

TEST(RecurrenceElements, MonthOfYearTwiceCarriesTheSameMonth) {
    RecurrencePattern p;
    p.kind = kRecurYearly;
    p.monthOfYear = 3;
    p.dayOfMonth = 7;
    p.endless = true;
    p.patternStart = T(2009, 3, 7, 10);
    EXPECT_EQ(
        "6/03=5;6/0A=1;6/0B=0;6/0F=3;6/08=1;6/0C=7;6/0F=3;6/04=07.03.2009 10:00.00:0;"
        "6/05=07.03.2009 10:00.00:0;",
        Render(RecurrenceBlockElements(p, Zone())));
    // From an older writer the second value is one too high: the first one counts.
    RecurrencePattern r = Received(Block({{kTagRecurrenceType, "5"},
                                          {kTagMonthOfYear, "3"},
                                          {kTagDayOfMonth, "7"},
                                          {kTagMonthOfYear, "4"}}),
                                   T(2009, 3, 7, 10), T(2009, 3, 7, 11));
    EXPECT_EQ(3, r.monthOfYear);
    EXPECT_EQ(DaysFrom1601(1601, 3, 1) * 1440, StoredBlob(r).firstDateTime);
}

TEST(RecurrenceElements, ValuesThatWouldCrashOrDoNotParse) {
    std::vector<std::string> trace;
    SetLiveTraceSink([&](const std::string& line) { trace.push_back(line); });
    CItemTime s = T(2009, 3, 9, 10), e = T(2009, 3, 9, 11);
    // Monthly without an interval: interval 1, no division by zero.
    RecurrencePattern monthly = Received(Block({{kTagRecurrenceType, "2"}}), s, e);
    EXPECT_EQ(1, monthly.interval);
    EXPECT_EQ(9, monthly.dayOfMonth);
    EXPECT_EQ(kPatternMonth, StoredBlob(monthly).patternType);
    RecurrencePattern zero =
        Received(Block({{kTagRecurrenceType, "2"}, {kTagInterval, "0"}}), s, e);
    EXPECT_EQ(1, zero.interval);
    // Huge count and interval: the clip end stays after the start, within 4500.
    RecurrencePattern huge = Received(
        Block({{kTagRecurrenceType, "2"}, {kTagOccurrences, "999999"}, {kTagInterval, "999"}}), s,
        e);
    CRecurrenceStoreValues v = StoreValuesFromPattern(huge, Zone(), FixedCentralEuropeanTimeZone());
    ASSERT_TRUE(v.clipStart && v.clipEnd);
    EXPECT_LT(*v.clipStart, *v.clipEnd);
    EXPECT_LE(*v.clipEnd, FiletimeFromItemTime(T(4501, 1, 1)));
    // Month 40 takes the pattern start's month.
    EXPECT_EQ(
        3, Received(Block({{kTagRecurrenceType, "5"}, {kTagMonthOfYear, "40"}}), s, e).monthOfYear);
    // Unreadable fields are skipped with a trace line; the others still apply.
    trace.clear();
    RecurrencePattern bad = Received(Block({{kTagRecurrenceType, "1"},
                                            {kTagInterval, "x"},
                                            {kTagDayOfWeekMask, "4"},
                                            {kTagPatternStartDate, "07032009"}}),
                                     s, e);
    SetLiveTraceSink(nullptr);
    EXPECT_EQ(kRecurWeekly, bad.kind);
    EXPECT_EQ(1, bad.interval);
    EXPECT_EQ(4, bad.dayMask);
    EXPECT_EQ(s, bad.seriesStart);
    EXPECT_EQ((std::vector<std::string>{
                  "Recurrence: Interval \"x\" not readable, skipped",
                  "Recurrence: PatternStartDate \"07032009\" not readable, skipped"}),
              trace);
    EXPECT_EQ(kRecurNone, KindOfDeviceRecurrenceType(4));
    EXPECT_EQ(kRecurNone, KindOfDeviceRecurrenceType(7));
    EXPECT_EQ(-1, DeviceRecurrenceType(kRecurNone));
    EXPECT_EQ(kRecurDaily, KindOfDeviceRecurrenceType(0));
    EXPECT_EQ(kRecurYearly, KindOfDeviceRecurrenceType(5));
    for (long n : {0, 1, 2, 3, 5, 6})
        EXPECT_EQ(n, DeviceRecurrenceType(KindOfDeviceRecurrenceType(n)));
}

TEST(RecurrenceElements, ExceptionsAreSentInUtcAndReadBackOnTheirDay) {
    RecurrencePattern p = Series(kRecurDaily);
    p.occurrences = 10;
    p.start = T(2009, 1, 5, 23, 30);  // late in the evening: the UTC date is the same day
    p.end = T(2009, 1, 5, 23, 45);
    p.patternStart = p.start;
    p.seriesStart = p.start;
    p.seriesEnd = p.end;
    p.deletedDates = {MinutesFrom1601(T(2009, 1, 7)), MinutesFrom1601(T(2009, 1, 8))};
    _recur_exception moved = MovedOccurrence(
        T(2009, 1, 8, 23, 30), T(2009, 1, 9, 0, 30), T(2009, 1, 9, 1, 0),
        kOverrideSubject | kOverrideLocation | kOverrideAllDay | kOverrideBusyStatus);
    moved.subject = "Late";
    moved.location = "Hall";
    moved.busyStatus = 2;
    p.exceptions.push_back(moved);
    CWBXMLLiterals block = RecurrenceBlockElements(p, Zone());
    std::string text = Render(block);
    EXPECT_NE(
        std::string::npos,
        text.find(
            "6/02[6/01[6/10=07.01.2009 22:30.00:0;6/11=1;]6/01[6/10=08.01.2009 22:30.00:0;"
            "2/04=08.01.2009 23:30.00:0;2/06=09.01.2009 00:00.00:0;2/02=Hall;2/01=Late;2/07=0;"
            "2/08=2;]]"))
        << text;

    RecurrencePattern back = p;  // the stored pattern the block is applied to
    ApplyRecurrenceElements(back, OverTheWire(p), p.start, p.end, Zone());
    EXPECT_EQ((std::vector<std::int64_t>{MinutesFrom1601(T(2009, 1, 7, 23, 30)),
                                         MinutesFrom1601(T(2009, 1, 8, 23, 30))}),
              back.deletedDates);
    ASSERT_EQ(1U, back.exceptions.size());
    const _recur_exception& e = back.exceptions[0];
    EXPECT_EQ(moved.originalStart, e.originalStart);  // from OriginalDate, not from Start
    EXPECT_EQ(moved.start, e.start);
    EXPECT_EQ(moved.end, e.end);
    EXPECT_EQ("Late", e.subject);
    EXPECT_EQ("Hall", e.location);
    EXPECT_EQ(moved.overrideFlags, e.overrideFlags);
    EXPECT_EQ(2, e.busyStatus);
    // A device that sends no busy status (older ones send none) keeps the stored one.
    RecurrencePattern older = p;
    older.exceptions[0].overrideFlags = kOverrideSubject;
    RecurrencePattern kept = p;
    ApplyRecurrenceElements(kept, OverTheWire(older), p.start, p.end, Zone());
    ASSERT_EQ(1U, kept.exceptions.size());
    EXPECT_EQ(kOverrideSubject | kOverrideBusyStatus, kept.exceptions[0].overrideFlags);
    EXPECT_EQ(2, kept.exceptions[0].busyStatus);
    CRecurrenceBlob b = StoredBlob(back);
    EXPECT_EQ(
        (std::vector<std::uint32_t>{static_cast<std::uint32_t>(MinutesFrom1601(T(2009, 1, 7))),
                                    static_cast<std::uint32_t>(MinutesFrom1601(T(2009, 1, 8)))}),
        b.deletedInstanceDates);
    ASSERT_EQ(1U, b.exceptions.size());
    EXPECT_EQ(static_cast<std::uint32_t>(moved.originalStart), b.exceptions[0].originalStartDate);
}

TEST(RecurrenceElements, ExceptionWithoutOriginalDateOrEnd) {
    RecurrencePattern p;
    p.start = T(2009, 3, 9, 10);
    p.end = T(2009, 3, 9, 11);
    CWBXMLLiterals list;
    CWBXMLLiteral& first = list.Add(kRecurrencePage, kTagException);
    first.children = std::make_unique<CWBXMLLiterals>();
    first.children->Add(kAppointmentPage, kTagApptSubject, "lost");
    CWBXMLLiteral& second = list.Add(kRecurrencePage, kTagException);
    second.children = std::make_unique<CWBXMLLiterals>();
    second.children->Add(kRecurrencePage, kTagOriginalDate, "10.03.2009 09:00.00:0");
    second.children->Add(kAppointmentPage, kTagApptStart, "10.03.2009 12:00.00:0");
    ApplyExceptionElements(p, list, Zone());
    ASSERT_EQ(1U, p.exceptions.size());
    EXPECT_EQ(MinutesFrom1601(T(2009, 3, 10, 10)), p.exceptions[0].originalStart);
    EXPECT_EQ(MinutesFrom1601(T(2009, 3, 10, 13)), p.exceptions[0].start);
    EXPECT_EQ(MinutesFrom1601(T(2009, 3, 10, 14)), p.exceptions[0].end);
}

// Store -> wire -> store for every kind, with deleted and modified occurrences:
// the blob written after the round trip equals the one stored before it.
TEST(RecurrenceElements, RoundTripStoreWireStoreForEveryKind) {
    struct Case {
        const char* name;
        int kind, interval, mask, dayOfMonth, month, instance, occurrences;
        bool endless, byDate;
    };
    const Case cases[] = {
        {"daily", kRecurDaily, 2, 0, 0, 0, 0, 8, false, false},
        {"weekdays", kRecurWeekly, 1, 0x3E, 0, 0, 0, 1, false, true},
        {"weekly", kRecurWeekly, 2, 0x0A, 0, 0, 0, 0, true, false},
        {"monthly", kRecurMonthly, 3, 0, 15, 0, 0, 6, false, false},
        {"monthly n-th", kRecurMonthNth, 1, 0x20, 0, 0, 3, 1, false, true},
        {"yearly", kRecurYearly, 1, 0, 15, 6, 0, 0, true, false},
        {"yearly n-th", kRecurYearNth, 1, 0x02, 0, 6, 5, 4, false, false},
    };
    // The every-weekday form of a daily series is read from the store as the
    // equivalent weekly series on Monday to Friday, and so written back.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecurrencePattern p = Series(c.kind, c.interval);
        p.dayMask = c.mask;
        p.dayOfMonth = c.dayOfMonth;
        p.monthOfYear = c.month;
        p.instance = c.instance;
        p.occurrences = c.occurrences;
        p.endless = c.endless;
        p.endsByDate = c.byDate;
        p.start = T(2009, 6, 15, 9, 30);
        p.end = T(2009, 6, 15, 10, 45);
        p.seriesStart = p.start;
        p.seriesEnd = c.byDate ? T(2010, 6, 30, 10, 45) : p.end;
        p.reminderTime = p.start;
        p.deletedDates = {MinutesFrom1601(T(2009, 7, 15)), MinutesFrom1601(T(2009, 12, 15))};
        _recur_exception e =
            MovedOccurrence(T(2009, 12, 15, 9, 30), T(2009, 12, 16, 14, 0), T(2009, 12, 16, 15, 0),
                            kOverrideSubject | kOverrideLocation | kOverrideReminderDelta);
        e.subject = "Moved";
        e.location = "Room 2";
        e.reminderDelta = 30;
        p.exceptions.push_back(e);

        CRecurrenceStoreValues stored =
            StoreValuesFromPattern(p, Zone(), FixedCentralEuropeanTimeZone());
        RecurrencePattern loaded = PatternFromStoreValues(stored, Zone());
        RecurrencePattern received = loaded;
        ApplyRecurrenceElements(received, OverTheWire(loaded), loaded.start, loaded.end, Zone());
        CRecurrenceStoreValues again =
            StoreValuesFromPattern(received, Zone(), FixedCentralEuropeanTimeZone());
        ASSERT_TRUE(stored.blob && again.blob);
        EXPECT_EQ(HexText(*stored.blob), HexText(*again.blob));
        EXPECT_EQ(stored.wholeStart, again.wholeStart);
        EXPECT_EQ(stored.wholeEnd, again.wholeEnd);
        EXPECT_EQ(stored.clipStart, again.clipStart);
        EXPECT_EQ(stored.clipEnd, again.clipEnd);
        EXPECT_EQ(stored.recurrenceType, again.recurrenceType);
    }
}

TEST(RecurrenceElements, PublishedBlobsSurviveTheWire) {
    for (const char* hex : {kV1, kV2, kV3, kV4, kV8, kV9, kV10}) {
        SCOPED_TRACE(hex);
        CRecurrenceStoreValues stored;
        stored.recurring = true;
        stored.blob = HexBytes(hex);
        RecurrencePattern loaded = PatternFromStoreValues(stored, Zone());
        std::vector<std::uint8_t> first = EncodeRecurrenceBlob(BlobFromPattern(loaded));
        RecurrencePattern received = loaded;
        CItemTime start = loaded.seriesStart;
        CItemTime end = ItemTimeFromMinutes(MinutesFrom1601(start) + OccurrenceMinutes(loaded));
        ApplyRecurrenceElements(received, OverTheWire(loaded), start, end, Zone());
        NormalisePattern(received);
        std::vector<std::uint8_t> second = EncodeRecurrenceBlob(BlobFromPattern(received));
        // Every end form comes back as it was: a count-ended series with its last
        // day, one that ends by date with its count.
        EXPECT_EQ(HexText(first), HexText(second));
    }
}

TEST(RecurrenceElements, SeriesTimesKeptForDeviceEditsWithoutABlock) {
    CWBXMLLiterals item;
    item.Add(kAppointmentPage, kTagApptSubject, "x");
    item.Add(kAppointmentPage, kTagApptStart, "09.03.2009 10:00.00:0");
    EXPECT_TRUE(KeepsSeriesTimes(true, item));
    EXPECT_FALSE(KeepsSeriesTimes(false, item));
    CWBXMLLiteral& block = item.Add(kRecurrencePage, kTagRecurrence);
    block.children = std::make_unique<CWBXMLLiterals>();
    EXPECT_FALSE(KeepsSeriesTimes(true, item));
    EXPECT_TRUE(IsSeriesTimeElement(2, 0x04));
    EXPECT_TRUE(IsSeriesTimeElement(2, 0x05));
    EXPECT_TRUE(IsSeriesTimeElement(2, 0x06));
    EXPECT_FALSE(IsSeriesTimeElement(2, 0x01));
    EXPECT_FALSE(IsSeriesTimeElement(1, 0x04));
}
