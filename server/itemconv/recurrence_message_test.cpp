// The recurrence in a real message store: written, saved, read back, and received
// blocks applied to an item.
#include "server/itemconv/recurrence_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/wbxml/wbxml_literals.h"
#include "server/config/live_trace.h"
#include "server/itemconv/item_time_test_util.h"
#include "server/itemconv/recurrence_elements.h"
#include "server/itemconv/recurrence_mapping.h"
#include "server/itemconv/recurrence_vectors_test.h"
#include "server/mapi/adapter_test_store.h"

namespace {

using itemtest::MovedOccurrence;
using itemtest::Series;
using itemtest::T;
using itemtest::Zone;

class RecurrenceMessageTest : public adaptertest::AdapterStoreTest {
protected:
    void SetUp() override {
        AdapterStoreTest::SetUp();
        SetLiveTraceSink([this](const std::string& line) { trace.push_back(line); });
    }
    void TearDown() override {
        SetLiveTraceSink(nullptr);
        AdapterStoreTest::TearDown();
    }

    void SetTime(IMessagePtr& m, ULONG tag, const CItemTime& utc) {
        std::uint64_t v = FiletimeFromItemTime(utc);
        FILETIME ft;
        ft.dwLowDateTime = static_cast<DWORD>(v);
        ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
        m.SetProp(*CPropValue::Time(tag, ft).Get());
    }

    std::vector<std::string> trace;
};

}  // namespace

TEST_F(RecurrenceMessageTest, WrittenPatternIsSavedAndLoadedBack) {
    IMessagePtr m = AddMessage(inbox, "Series");
    RecurrencePattern p = Series(kRecurMonthNth, 2);
    p.dayMask = 0x04;
    p.instance = 2;
    p.occurrences = 6;
    p.start = T(2009, 3, 10, 9, 0);
    p.end = T(2009, 3, 10, 10, 0);
    p.seriesStart = p.start;
    p.seriesEnd = p.end;
    p.reminderTime = p.start;
    _recur_exception e = MovedOccurrence(T(2009, 7, 14, 9, 0), T(2009, 7, 15, 9, 0),
                                         T(2009, 7, 15, 10, 0), kOverrideSubject);
    e.subject = "later";
    p.exceptions.push_back(e);
    CTimeZoneStruct zs = FixedCentralEuropeanTimeZone();
    ASSERT_TRUE(WriteToMessage(m, p, Zone(), &zs));
    m.SaveChanges(KEEP_OPEN_READWRITE);

    CRecurrenceTags tags = CRecurrenceTags::Resolve(m);
    CRecurrenceStoreValues v = ReadRecurrenceValues(m, tags);
    EXPECT_EQ(369, v.sideEffects);
    EXPECT_EQ(true, v.recurring);
    EXPECT_EQ(3, v.recurrenceType);
    EXPECT_EQ(EncodeTimeZoneStruct(zs), v.timeZone);
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 10, 8, 0)), v.wholeStart);
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 9, 23, 0)), v.clipStart);
    EXPECT_EQ(EncodeRecurrenceBlob(BlobFromPattern(p)), v.blob);

    RecurrencePattern back;
    ASSERT_TRUE(LoadFromMessage(m, back, Zone()));
    EXPECT_EQ(kRecurMonthNth, back.kind);
    EXPECT_EQ(2, back.interval);
    EXPECT_EQ(0x04, back.dayMask);
    EXPECT_EQ(2, back.instance);
    EXPECT_EQ(6, back.occurrences);
    EXPECT_EQ(p.start, back.start);
    EXPECT_EQ(p.end, back.end);
    EXPECT_EQ(p.exceptions, back.exceptions);
    EXPECT_TRUE(trace.empty());
}

TEST_F(RecurrenceMessageTest, ReceivedBlockIsAppliedToTheItemsTimes) {
    IMessagePtr m = AddMessage(inbox, "Weekly");
    CRecurrenceTags tags = CRecurrenceTags::Resolve(m);
    SetTime(m, tags.wholeStart, T(2009, 3, 9, 9, 0));  // 10:00 local
    SetTime(m, tags.wholeEnd, T(2009, 3, 9, 9, 30));
    CWBXMLLiterals block;
    block.Add(kRecurrencePage, kTagRecurrenceType, "1");
    block.Add(kRecurrencePage, kTagOccurrences, "5");
    block.Add(kRecurrencePage, kTagInterval, "2");
    block.Add(kRecurrencePage, kTagDayOfWeekMask, "10");
    block.Add(kRecurrencePage, kTagNoEndDate, "0");
    CWBXMLLiteral& exceptions = block.Add(kRecurrencePage, kTagExceptions);
    exceptions.children = std::make_unique<CWBXMLLiterals>();
    CWBXMLLiteral& one = exceptions.children->Add(kRecurrencePage, kTagException);
    one.children = std::make_unique<CWBXMLLiterals>();
    one.children->Add(kRecurrencePage, kTagOriginalDate, "11.03.2009 09:00.00:0");
    one.children->Add(kRecurrencePage, kTagDeleted, "1");

    RecurrencePattern p;
    ASSERT_TRUE(ReadRecurrence(m, p, block, Zone()));
    m.SaveChanges(KEEP_OPEN_READWRITE);
    CRecurrenceStoreValues v = ReadRecurrenceValues(m, tags);
    ASSERT_TRUE(v.blob.has_value());
    std::optional<CRecurrenceBlob> b = DecodeRecurrenceBlob(*v.blob);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(kRecurFrequencyWeekly, b->recurFrequency);
    EXPECT_EQ(kPatternWeek, b->patternType);
    EXPECT_EQ(2U, b->period);
    EXPECT_EQ(0x0AU, b->patternSpecific1);
    EXPECT_EQ(kEndAfterCount, b->endType);
    EXPECT_EQ(5U, b->occurrenceCount);
    EXPECT_EQ(600U, b->startTimeOffset);
    EXPECT_EQ(
        std::vector<std::uint32_t>{static_cast<std::uint32_t>(MinutesFrom1601(T(2009, 3, 11)))},
        b->deletedInstanceDates);
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 9, 9, 0)), v.wholeStart);
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 9, 9, 30)), v.wholeEnd);

    // A later Exceptions block replaces the deleted dates.
    CWBXMLLiterals later;
    CWBXMLLiteral& ex = later.Add(kRecurrencePage, kTagException);
    ex.children = std::make_unique<CWBXMLLiterals>();
    ex.children->Add(kRecurrencePage, kTagOriginalDate, "16.03.2009 09:00.00:0");
    ex.children->Add(kAppointmentPage, kTagApptSubject, "moved");
    ASSERT_TRUE(ReadException(m, p, later, Zone()));
    v = ReadRecurrenceValues(m, tags);
    b = DecodeRecurrenceBlob(*v.blob);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(
        std::vector<std::uint32_t>{static_cast<std::uint32_t>(MinutesFrom1601(T(2009, 3, 16)))},
        b->deletedInstanceDates);
    ASSERT_EQ(1U, b->exceptions.size());
    EXPECT_EQ("moved", b->exceptions[0].subject);
    EXPECT_TRUE(trace.empty());
}

TEST_F(RecurrenceMessageTest, FailuresAreTracedWithTheirStep) {
    IMessagePtr none;
    RecurrencePattern p = Series(kRecurDaily);
    EXPECT_FALSE(WriteToMessage(none, p, Zone()));
    EXPECT_FALSE(LoadFromMessage(none, p, Zone()));
    CWBXMLLiterals block;
    EXPECT_FALSE(ReadRecurrence(none, p, block, Zone()));
    ASSERT_EQ(3U, trace.size());
    EXPECT_EQ("Error in WriteToMessage line 1", trace[0]);
    EXPECT_EQ(0U, trace[1].find("Error in LoadFromMessage: "));
    EXPECT_EQ("Crash in ReadRecurrence line 1", trace[2]);
}

TEST_F(RecurrenceMessageTest, ItemWithoutRecurrenceLoadsAsSingle) {
    IMessagePtr m = AddMessage(inbox, "Single");
    RecurrencePattern p;
    p.kind = kRecurWeekly;
    ASSERT_TRUE(LoadFromMessage(m, p, Zone()));
    EXPECT_FALSE(p.recurring);
    EXPECT_EQ(kRecurNone, p.kind);
    EXPECT_FALSE(p.start.IsSet());
}

// Another writer's blob (a published example, with its wide-character copies and
// change highlights) comes back from a device unchanged: the stored bytes stay.
// Changed on the device, the series is written in the system's own form.
TEST_F(RecurrenceMessageTest, ASeriesThatComesBackUnchangedKeepsItsStoredBytes) {
    IMessagePtr m = AddMessage(inbox, "Simple Recurrence");
    CRecurrenceTags tags = CRecurrenceTags::Resolve(m);
    std::vector<std::uint8_t> published = HexBytes(kV2);
    m.SetProp(*CPropValue::Binary(tags.blob, published.data(), published.size()).Get());
    m.SetProp(*CPropValue::Boolean(tags.recurring, true).Get());
    m.SetLongProp(tags.recurrenceType, 2);
    SetTime(m, tags.wholeStart, T(2007, 3, 26, 8, 0));  // 10:00 summer time
    SetTime(m, tags.wholeEnd, T(2007, 3, 26, 8, 30));
    m.SaveChanges(KEEP_OPEN_READWRITE);

    RecurrencePattern loaded;
    ASSERT_TRUE(LoadFromMessage(m, loaded, Zone()));
    CWBXMLLiterals block = RecurrenceBlockElements(loaded, Zone());
    RecurrencePattern pattern = loaded;
    ASSERT_TRUE(ReadRecurrence(m, pattern, block, Zone()));
    EXPECT_EQ(HexText(published), HexText(ReadRecurrenceValues(m, tags).blob.value()));

    // Every other week now: the system's form, with the exception kept.
    for (auto& node : block) {
        if (node->token == kTagInterval) node->value = "2";
    }
    pattern = loaded;
    ASSERT_TRUE(ReadRecurrence(m, pattern, block, Zone()));
    std::optional<CRecurrenceBlob> written =
        DecodeRecurrenceBlob(ReadRecurrenceValues(m, tags).blob.value());
    ASSERT_TRUE(written);
    EXPECT_EQ(2U, written->period);
    EXPECT_EQ(0x3006U, written->writerVersion2);
    ASSERT_EQ(1U, written->exceptions.size());
    EXPECT_EQ("Simple Recurrence with exceptions", written->exceptions[0].subject);
}
