// RecurrencePattern to and from the blob, the clip dates and the store values.
#include "server/itemconv/recurrence_mapping.h"

#include <gtest/gtest.h>

#include <string>

#include "server/itemconv/item_time_test_util.h"
#include "server/itemconv/recurrence_store.h"
#include "server/itemconv/recurrence_vectors_test.h"

namespace {

using itemtest::MovedOccurrence;
using itemtest::Series;
using itemtest::T;
using itemtest::Weekly2MonWed5;

std::string BlobHex(const RecurrencePattern& p) {
    return HexText(EncodeRecurrenceBlob(BlobFromPattern(p)));
}

RecurrencePattern FromBlob(const char* hex) {
    std::vector<std::uint8_t> bytes = HexBytes(hex);
    std::optional<CRecurrenceBlob> blob = DecodeRecurrenceBlob(bytes);
    EXPECT_TRUE(blob.has_value());
    RecurrencePattern p;
    p.recurring = true;
    ApplyBlobToPattern(blob.value_or(CRecurrenceBlob()), std::nullopt, p);
    return p;
}

// Replaces the bytes at a byte offset of a hex text.
std::string Patch(std::string hex, std::size_t offset, const std::string& bytes) {
    return hex.replace(offset * 2, bytes.size(), bytes);
}

}  // namespace

TEST(RecurrenceMapping, WeeklyEveryTwoWeeksFiveTimes) {
    EXPECT_EQ(
        "04300430"
        "0B20"
        "0100"
        "0000"
        "00000000"
        "02000000"
        "00000000"
        "0A000000"
        "22200000"
        "05000000"
        "01000000"
        "00000000"
        "00000000"
        "C0D0CB0C"
        "C0D0CB0C"
        "06300000"
        "06300000"
        "58020000"
        "76020000"
        "0000"
        "00000000"
        "00000000",
        BlobHex(Weekly2MonWed5()));
}

TEST(RecurrenceMapping, DailyEveryThreeDaysAndTheWeekdayForm) {
    RecurrencePattern p;
    p.kind = kRecurDaily;
    p.interval = 3;
    p.occurrences = 4;
    p.seriesStart = T(2009, 3, 9, 8, 0);
    p.seriesEnd = T(2009, 3, 9, 8, 30);
    CRecurrenceBlob b = BlobFromPattern(p);
    EXPECT_EQ(kRecurFrequencyDaily, b.recurFrequency);
    EXPECT_EQ(kPatternDay, b.patternType);
    EXPECT_EQ(4320U, b.period);
    EXPECT_EQ(2880U, b.firstDateTime);
    p.dayMask = 0x3E;
    b = BlobFromPattern(p);
    EXPECT_EQ(kRecurFrequencyDaily, b.recurFrequency);
    EXPECT_EQ(kPatternWeek, b.patternType);
    EXPECT_EQ(1U, b.period);
    EXPECT_EQ(0U, b.firstDateTime);
    EXPECT_EQ(0x3EU, b.patternSpecific1);
}

TEST(RecurrenceMapping, FirstDateTimeOfMonthlyAndYearlySeries) {
    RecurrencePattern p;
    p.kind = kRecurMonthly;
    p.dayOfMonth = 9;
    p.seriesStart = T(2008, 2, 9);
    p.interval = 1;
    EXPECT_EQ(0U, FirstDateTimeOf(p));
    p.interval = 3;  // k = (0 x 407 mod 3) = 0, n = (0 + 2 - 1) mod 3 = 1: January
    EXPECT_EQ(44640U, FirstDateTimeOf(p));
    p.interval = 5;  // k = (2 x (407 mod 5)) mod 5 = 4, n = (4 + 1) mod 5 = 0
    EXPECT_EQ(0U, FirstDateTimeOf(p));
    p.seriesStart = T(2009, 11, 1);
    p.interval = 7;  // k = (5 x (408 mod 7)) mod 7 = 3, n = (3 + 10) mod 7 = 6
    EXPECT_EQ(181U * 1440, FirstDateTimeOf(p));
    p.kind = kRecurYearNth;
    p.monthOfYear = 8;
    EXPECT_EQ(305280U, FirstDateTimeOf(p));
}

TEST(RecurrenceMapping, EndlessSeries) {
    RecurrencePattern p = Weekly2MonWed5();
    p.endless = true;
    CRecurrenceBlob b = BlobFromPattern(p);
    EXPECT_EQ(kEndNever, b.endType);
    EXPECT_EQ(10U, b.occurrenceCount);
    EXPECT_EQ(0x5AE980DFU, b.endDate);
    p.endless = false;
    p.seriesEnd = T(4501, 1, 1);
    EXPECT_EQ(kEndNever, BlobFromPattern(p).endType);
    p.seriesEnd = T(2009, 4, 20, 10, 30);
    p.endsByDate = true;
    b = BlobFromPattern(p);
    EXPECT_EQ(kEndAfterDate, b.endType);
    EXPECT_EQ(214744320U, b.endDate);
}

// The system's own form of a published blob: the same series, with the values the
// system writes where it differs (FirstDOW 1, WriterVersion2 0x3006).
TEST(RecurrenceMapping, YearlyNthFromAnotherWriterIsWrittenInTheSystemsForm) {
    RecurrencePattern p = FromBlob(kV8);
    EXPECT_EQ(kRecurYearNth, p.kind);
    EXPECT_EQ(2, p.monthOfYear);
    EXPECT_EQ(0x20, p.dayMask);
    EXPECT_EQ(3, p.instance);
    EXPECT_TRUE(p.endless);
    EXPECT_EQ(T(2015, 2, 20, 15, 30), p.patternStart);
    EXPECT_EQ(T(4500, 12, 31, 16, 0), p.patternEnd);
    std::string expected = Patch(Patch(kV8, 0x26, "01000000"), 0x3E, "06300000");
    EXPECT_EQ(expected, BlobHex(p));
}

TEST(RecurrenceMapping, YearlySeriesKeepTheirInterval) {
    RecurrencePattern p = FromBlob(kV8);
    EXPECT_EQ(1, p.interval);
    p.interval = 2;  // every other year
    CRecurrenceBlob b = BlobFromPattern(p);
    EXPECT_EQ(24U, b.period);
    RecurrencePattern back;
    back.recurring = true;
    ApplyBlobToPattern(b, 4, back);
    EXPECT_EQ(kRecurYearNth, back.kind);
    EXPECT_EQ(2, back.interval);
    // A period below 12 from another writer is every year.
    b.period = 6;
    ApplyBlobToPattern(b, 4, back);
    EXPECT_EQ(1, back.interval);
}

TEST(RecurrenceMapping, DailyWithDeletedOccurrences) {
    RecurrencePattern p = FromBlob(kV3);
    EXPECT_EQ(kRecurDaily, p.kind);
    EXPECT_EQ(3, p.interval);
    EXPECT_TRUE(p.endsByDate);
    EXPECT_FALSE(p.endless);
    EXPECT_EQ((std::vector<std::int64_t>{215794080, 215798400}), p.deletedDates);
    EXPECT_EQ(T(2011, 4, 7, 8, 0), p.seriesStart);
    EXPECT_EQ(T(2011, 5, 4, 8, 30), p.seriesEnd);
    // FirstDateTime (interval - 1) x 1440 = 2880 instead of the document's 1440.
    std::string expected =
        Patch(Patch(Patch(kV3, 0x0A, "400B0000"), 0x1E, "01000000"), 0x3E, "06300000");
    EXPECT_EQ(expected, BlobHex(p));
}

TEST(RecurrenceMapping, ExceptionsAreWrittenWithTheirFieldsOnly) {
    RecurrencePattern p = FromBlob(kV2);
    ASSERT_EQ(1U, p.exceptions.size());
    EXPECT_EQ("Simple Recurrence with exceptions", p.exceptions[0].subject);
    EXPECT_EQ(213686520, p.exceptions[0].originalStart);
    // No ExtendedException: the blob ends after the ExceptionInfo with two zero sizes.
    std::string v2(kV2);
    std::string expected =
        Patch(Patch(Patch(v2.substr(0, 0x8E * 2), 0x0A, "00000000"), 0x22, "01000000"), 0x42,
              "06300000") +
        "0000000000000000";
    EXPECT_EQ(expected, BlobHex(p));

    // A moved occurrence: ModifiedInstanceDates keeps its original date (the
    // document's example has the new one there).
    RecurrencePattern moved = FromBlob(kV4);
    ASSERT_EQ(2U, moved.exceptions.size());
    CRecurrenceBlob b = BlobFromPattern(moved);
    EXPECT_EQ((std::vector<std::uint32_t>{214247520, 214378560}), b.modifiedInstanceDates);
    EXPECT_EQ((std::vector<std::uint32_t>{214247520, 214378560}), b.deletedInstanceDates);
    EXPECT_EQ(214249800U, b.exceptions[0].startDateTime);
    EXPECT_EQ(214248360U, b.exceptions[0].originalStartDate);
}

TEST(RecurrenceMapping, OnlyFlagsWhoseFieldsAreWrittenAreKept) {
    RecurrencePattern p = Weekly2MonWed5();
    _recur_exception e;
    e.originalStart = MinutesFrom1601(T(2009, 3, 11, 10, 0));
    e.start = e.originalStart + 60;
    e.end = e.start + 30;
    e.overrideFlags = 0x03FF;
    e.subject = std::string(300, 's');
    e.location = "room";
    e.reminderDelta = 15;
    e.reminderSet = true;
    e.busyStatus = 2;
    e.allDay = true;
    p.exceptions.push_back(e);
    p.deletedDates.push_back(MinutesFrom1601(T(2009, 3, 23, 10, 0)));
    std::vector<std::uint8_t> bytes = EncodeRecurrenceBlob(BlobFromPattern(p));
    std::optional<CRecurrenceBlob> back = DecodeRecurrenceBlob(bytes);
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(1U, back->exceptions.size());
    const CRecurExceptionInfo& info = back->exceptions[0];
    EXPECT_EQ(kWrittenOverrides, info.overrideFlags);
    EXPECT_EQ(std::string(255, 's'), info.subject);
    EXPECT_EQ("room", info.location);
    EXPECT_EQ(15U, info.reminderDelta);
    EXPECT_EQ(1U, info.reminderSet);
    EXPECT_EQ(2U, info.busyStatus);
    EXPECT_EQ(1U, info.subType);
    EXPECT_EQ(CRecurTail::kReservedOnly, back->tail);
    // Deleted dates: the exception's day and the deleted day, earliest first.
    EXPECT_EQ((std::vector<std::uint32_t>{214686720, 214704000}), back->deletedInstanceDates);
}

TEST(RecurrencePattern, ValuesFromTheWireAreBroughtIntoRange) {
    RecurrencePattern p;
    p.kind = kRecurMonthly;
    p.interval = 0;
    p.dayOfMonth = 40;
    p.patternStart = T(2009, 3, 9, 10);
    p.seriesStart = p.patternStart;
    NormalisePattern(p);
    EXPECT_EQ(1, p.interval);
    EXPECT_EQ(9, p.dayOfMonth);
    EXPECT_EQ(0U, FirstDateTimeOf(p));

    RecurrencePattern y;
    y.kind = kRecurYearNth;
    y.monthOfYear = 40;
    y.instance = 9;
    y.occurrences = -3;
    y.patternStart = T(2009, 3, 30, 10);
    NormalisePattern(y);
    EXPECT_EQ(3, y.monthOfYear);
    EXPECT_EQ(5, y.instance);
    EXPECT_EQ(0x02, y.dayMask);  // 2009-03-30 was a Monday
    EXPECT_EQ(10, y.occurrences);

    RecurrencePattern big;
    big.kind = kRecurMonthly;
    big.interval = 999999;
    big.occurrences = 999999;
    big.seriesStart = T(2009, 3, 9, 10);
    NormalisePattern(big);
    EXPECT_EQ(kMaxInterval, big.interval);
    EXPECT_EQ(kMaxOccurrences, big.occurrences);
    ComputeClipDates(big);
    EXPECT_EQ(T(4500, 12, 31), big.clipEnd);
    EXPECT_EQ(T(2009, 3, 9), big.clipStart);
}

TEST(RecurrencePattern, ClipDates) {
    RecurrencePattern p = Weekly2MonWed5();
    ComputeClipDates(p);
    EXPECT_EQ(T(2009, 3, 9), p.clipStart);
    // 5 x 2 x 10080 minutes = 70 days, plus one.
    EXPECT_EQ(T(2009, 5, 19), p.clipEnd);
    p.occurrences = 0;
    ComputeClipDates(p);
    EXPECT_EQ(ItemTimeFromMinutes(MinutesFrom1601(T(2009, 3, 9)) + (107136000 / 1440 + 1) * 1440),
              p.clipEnd);
    p.kind = kRecurYearly;
    p.interval = 1;
    p.occurrences = 2;
    ComputeClipDates(p);
    EXPECT_EQ(T(2011, 3, 24), p.clipEnd);  // 2 x 535680 minutes = 744 days, plus one
    p.endsByDate = true;
    p.seriesEnd = T(2009, 6, 1, 10, 30);
    ComputeClipDates(p);
    EXPECT_EQ(T(2009, 6, 1), p.clipEnd);
    p.endless = true;
    ComputeClipDates(p);
    EXPECT_EQ(T(4500, 8, 31, 23, 59), p.clipEnd);
}

TEST(RecurrencePattern, KindsAndRuleFieldsGoBothWays) {
    // Each kind has its own frequency, and the frequency leads back to it.
    for (int kind = kRecurDaily; kind <= kRecurYearNth; ++kind) {
        std::optional<recur::Frequency> f = FrequencyOfKind(kind);
        ASSERT_TRUE(f) << kind;
        EXPECT_EQ(kind, KindOfFrequency(*f));
    }
    EXPECT_EQ(recur::Frequency::kDaily, FrequencyOfKind(kRecurDaily));
    EXPECT_EQ(recur::Frequency::kYearNth, FrequencyOfKind(kRecurYearNth));
    EXPECT_FALSE(FrequencyOfKind(kRecurNone));
    EXPECT_FALSE(FrequencyOfKind(7));
    EXPECT_FALSE(FrequencyOfKind(-1));
    EXPECT_FALSE(RuleOfPattern(RecurrencePattern{}));

    RecurrencePattern p;
    p.occurrences = 7;
    recur::Rule rule;
    rule.frequency = recur::Frequency::kYearNth;
    rule.interval = 2;
    rule.dayMask = 0x41;
    rule.instance = 5;
    rule.dayOfMonth = 13;
    rule.monthOfYear = 11;
    SetRuleFields(p, rule);
    EXPECT_EQ(kRecurYearNth, p.kind);
    EXPECT_EQ(2, p.interval);
    EXPECT_EQ(0x41, p.dayMask);
    EXPECT_EQ(5, p.instance);
    EXPECT_EQ(13, p.dayOfMonth);
    EXPECT_EQ(11, p.monthOfYear);
    EXPECT_EQ(7, p.occurrences);  // not a rule field
    p.seriesStart = T(2009, 3, 9);
    std::optional<recur::Rule> back = RuleOfPattern(p);
    ASSERT_TRUE(back);
    EXPECT_EQ(rule.frequency, back->frequency);
    EXPECT_EQ(rule.interval, back->interval);
    EXPECT_EQ(rule.dayMask, back->dayMask);
    EXPECT_EQ(rule.instance, back->instance);
    EXPECT_EQ(rule.dayOfMonth, back->dayOfMonth);
    EXPECT_EQ(rule.monthOfYear, back->monthOfYear);
}

TEST(RecurrenceStore, WriteThenLoadKeepsTheSeriesAcrossDaylightTime) {
    CRuleTimeZone zone(FixedCentralEuropeanTimeZone());
    RecurrencePattern p = Series(kRecurDaily);
    p.occurrences = 0;
    p.endsByDate = true;
    p.start = T(2009, 3, 20, 9, 0);
    p.end = T(2009, 3, 20, 10, 15);
    p.seriesStart = T(2009, 3, 20, 9, 0);
    p.seriesEnd = T(2009, 4, 10, 10, 15);
    p.reminderTime = T(2009, 3, 20, 9, 0);
    // An occurrence after the change to summer time.
    _recur_exception e = MovedOccurrence(T(2009, 4, 2, 9, 0), T(2009, 4, 2, 11, 0),
                                         T(2009, 4, 2, 12, 0), kOverrideLocation);
    e.location = "B";
    p.exceptions.push_back(e);
    p.deletedDates = {MinutesFrom1601(T(2009, 3, 25)), MinutesFrom1601(T(2009, 4, 2))};

    CRecurrenceStoreValues v = StoreValuesFromPattern(p, zone, FixedCentralEuropeanTimeZone());
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 20, 8, 0)), v.wholeStart);  // UTC+1 in March
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 20, 9, 15)), v.wholeEnd);
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 4, 10, 8, 15)), v.commonEnd);  // UTC+2 in April
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 3, 19, 23, 0)), v.clipStart);
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 4, 9, 22, 0)), v.clipEnd);
    EXPECT_EQ(true, v.recurring);
    EXPECT_EQ(1, v.recurrenceType);
    EXPECT_EQ(369, v.sideEffects);
    EXPECT_EQ(HexBytes("C4FFFFFF00000000C4FFFFFF000000000A00000005000300000000000000000000000300000"
                       "005000200000000000000"),
              v.timeZone);

    RecurrencePattern back = PatternFromStoreValues(v, zone);
    EXPECT_EQ(p.kind, back.kind);
    EXPECT_EQ(p.interval, back.interval);
    EXPECT_EQ(p.endsByDate, back.endsByDate);
    EXPECT_EQ(p.start, back.start);
    EXPECT_EQ(p.end, back.end);
    EXPECT_EQ(p.seriesStart, back.seriesStart);
    EXPECT_EQ(p.seriesEnd, back.seriesEnd);
    EXPECT_EQ(p.clipStart, back.clipStart);
    EXPECT_EQ(p.clipEnd, back.clipEnd);
    EXPECT_EQ(p.reminderTime, back.reminderTime);
    EXPECT_EQ(p.exceptions, back.exceptions);
    EXPECT_EQ(p.deletedDates, back.deletedDates);
    // Writing what was loaded gives the same store values.
    EXPECT_EQ(v, StoreValuesFromPattern(back, zone, FixedCentralEuropeanTimeZone()));
}

TEST(RecurrenceStore, MissingAndUnreadableValues) {
    CRuleTimeZone zone(FixedCentralEuropeanTimeZone());
    CRecurrenceStoreValues v;
    RecurrencePattern p = PatternFromStoreValues(v, zone);
    EXPECT_FALSE(p.recurring);
    EXPECT_FALSE(p.start.IsSet());
    v.recurring = true;
    v.wholeStart = FiletimeFromItemTime(T(2009, 3, 20, 8, 0));
    v.blob = std::vector<std::uint8_t>{0x04, 0x30, 0x04};
    p = PatternFromStoreValues(v, zone);
    EXPECT_TRUE(p.recurring);
    EXPECT_EQ(kRecurNone, p.kind);
    EXPECT_EQ(T(2009, 3, 20, 9, 0), p.start);
    // Unset dates are not written; a pattern without a kind is not recurring.
    CRecurrenceStoreValues w = StoreValuesFromPattern(p, zone, FixedCentralEuropeanTimeZone());
    EXPECT_FALSE(w.commonStart.has_value());
    EXPECT_FALSE(w.clipStart.has_value());
    EXPECT_EQ(false, w.recurring);
    EXPECT_FALSE(w.blob.has_value());
}

TEST(RecurrenceMapping, EveryWeekdayFormIsReadAsTheWeeklySeries) {
    RecurrencePattern p;
    p.kind = kRecurDaily;
    p.dayMask = 0x3E;
    p.occurrences = 3;
    p.seriesStart = T(2009, 3, 9, 8);
    p.seriesEnd = T(2009, 3, 9, 9);
    CRecurrenceBlob b = BlobFromPattern(p);
    RecurrencePattern back;
    ApplyBlobToPattern(b, 1, back);
    EXPECT_EQ(kRecurWeekly, back.kind);
    EXPECT_EQ(1, back.interval);
    EXPECT_EQ(0x3E, back.dayMask);
    EXPECT_EQ(3, back.occurrences);
    // Without the store's type the blob's frequency decides.
    RecurrencePattern fromBlob;
    ApplyBlobToPattern(b, std::nullopt, fromBlob);
    EXPECT_EQ(kRecurWeekly, fromBlob.kind);
    b.patternType = kPatternDay;
    b.period = 2880;
    ApplyBlobToPattern(b, 7, fromBlob);  // a type that names none: the frequency decides
    EXPECT_EQ(kRecurDaily, fromBlob.kind);
    EXPECT_EQ(2, fromBlob.interval);
}
