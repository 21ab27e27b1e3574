// The recurrence blob codec against the published example blobs, byte for byte.
#include "server/itemconv/recurrence_blob.h"

#include <gtest/gtest.h>

#include "server/itemconv/recurrence_vectors_test.h"

namespace {

CRecurrenceBlob Decode(const char* hex) {
    std::vector<std::uint8_t> bytes = HexBytes(hex);
    std::optional<CRecurrenceBlob> blob = DecodeRecurrenceBlob(bytes);
    EXPECT_TRUE(blob.has_value()) << hex;
    return blob.value_or(CRecurrenceBlob());
}

}  // namespace

TEST(RecurrenceBlob, EveryExampleDecodesAndEncodesToTheSameBytes) {
    for (const char* hex : {kV1, kV2, kV3, kV4, kV6, kV8, kV9, kV10, kV11, kV12}) {
        EXPECT_EQ(hex, HexText(EncodeRecurrenceBlob(Decode(hex))));
    }
}

TEST(RecurrenceBlob, WeeklyWithoutExceptions) {
    CRecurrenceBlob b = Decode(kV1);
    EXPECT_EQ(kRecurFrequencyWeekly, b.recurFrequency);
    EXPECT_EQ(kPatternWeek, b.patternType);
    EXPECT_EQ(8640U, b.firstDateTime);
    EXPECT_EQ(1U, b.period);
    EXPECT_EQ(0x32U, b.patternSpecific1);
    EXPECT_EQ(kEndAfterCount, b.endType);
    EXPECT_EQ(12U, b.occurrenceCount);
    EXPECT_EQ(213655680U, b.startDate);
    EXPECT_EQ(213691680U, b.endDate);
    EXPECT_EQ(0x3009U, b.writerVersion2);
    EXPECT_EQ(600U, b.startTimeOffset);
    EXPECT_EQ(630U, b.endTimeOffset);
    EXPECT_TRUE(b.exceptions.empty());
    EXPECT_EQ(CRecurTail::kFull, b.tail);
}

TEST(RecurrenceBlob, ExceptionWithSubjectLocationAndWideCopies) {
    CRecurrenceBlob b = Decode(kV2);
    ASSERT_EQ(1U, b.exceptions.size());
    const CRecurExceptionInfo& e = b.exceptions[0];
    EXPECT_EQ(213686580U, e.startDateTime);
    EXPECT_EQ(213686610U, e.endDateTime);
    EXPECT_EQ(213686520U, e.originalStartDate);
    EXPECT_EQ(kOverrideSubject | kOverrideLocation, e.overrideFlags);
    EXPECT_EQ("Simple Recurrence with exceptions", e.subject);
    EXPECT_EQ("34/4141", e.location);
    ASSERT_EQ(1U, b.extendedExceptions.size());
    EXPECT_EQ(4U, b.extendedExceptions[0].changeHighlightSize);
    EXPECT_EQ(u"Simple Recurrence with exceptions", b.extendedExceptions[0].subject);
    EXPECT_EQ(u"34/4141", b.extendedExceptions[0].location);
    EXPECT_EQ(std::vector<std::uint32_t>{213685920}, b.deletedInstanceDates);
    EXPECT_EQ(std::vector<std::uint32_t>{213685920}, b.modifiedInstanceDates);
}

TEST(RecurrenceBlob, DailyMonthlyYearlyAndOlderWriters) {
    CRecurrenceBlob daily = Decode(kV3);
    EXPECT_EQ(kPatternDay, daily.patternType);
    EXPECT_EQ(4320U, daily.period);
    EXPECT_EQ((std::vector<std::uint32_t>{215794080, 215798400}), daily.deletedInstanceDates);
    CRecurrenceBlob nth = Decode(kV4);
    EXPECT_EQ(kPatternMonthNth, nth.patternType);
    EXPECT_EQ(0x41U, nth.patternSpecific1);
    EXPECT_EQ(3U, nth.patternSpecific2);
    ASSERT_EQ(2U, nth.exceptions.size());
    EXPECT_EQ(0, nth.exceptions[0].overrideFlags);
    EXPECT_EQ("new location", nth.exceptions[1].location);
    CRecurrenceBlob hebrew = Decode(kV6);
    EXPECT_EQ(8, hebrew.calendarType);
    EXPECT_EQ(kOverrideReminderDelta | kOverrideBusyStatus | kOverrideBody,
              hebrew.exceptions[0].overrideFlags);
    EXPECT_EQ(60U, hebrew.exceptions[0].reminderDelta);
    EXPECT_EQ(1U, hebrew.exceptions[0].busyStatus);
    EXPECT_EQ(CRecurTail::kNone, Decode(kV11).tail);
    EXPECT_EQ(CRecurTail::kNone, Decode(kV12).tail);
    EXPECT_EQ(1525252319U, Decode(kV8).endDate);
}

TEST(RecurrenceBlob, EveryOverrideFieldInOrder) {
    CRecurrenceBlob b;
    b.patternType = kPatternMonth;
    b.patternSpecific1 = 31;
    CRecurExceptionInfo e;
    e.startDateTime = 1;
    e.endDateTime = 2;
    e.originalStartDate = 3;
    e.overrideFlags = 0x01FF;
    e.subject = "S";
    e.meetingType = 4;
    e.reminderDelta = 5;
    e.reminderSet = 6;
    e.location = "Lo";
    e.busyStatus = 7;
    e.attachment = 8;
    e.subType = 9;
    e.appointmentColor = 10;
    b.exceptions.push_back(e);
    b.tail = CRecurTail::kReservedOnly;
    std::vector<std::uint8_t> bytes = EncodeRecurrenceBlob(b);
    std::string hex = HexText(bytes);
    EXPECT_EQ(
        "010000000200000003000000FF01"
        "0200010053"
        "04000000050000000600000003000200"
        "4C6F"
        "0700000008000000090000000A000000"
        "0000000000000000",
        hex.substr(hex.size() - 122));
    std::optional<CRecurrenceBlob> back = DecodeRecurrenceBlob(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(b, *back);
}

TEST(RecurrenceBlob, ManyExceptionsAreWrittenWhole) {
    CRecurrenceBlob b;
    b.tail = CRecurTail::kReservedOnly;
    for (std::uint32_t i = 0; i < 300; ++i) {
        CRecurExceptionInfo e;
        e.originalStartDate = i;
        e.overrideFlags = kOverrideSubject | kOverrideLocation;
        e.subject = std::string(255, 'S');
        e.location = std::string(255, 'L');
        b.exceptions.push_back(e);
        b.deletedInstanceDates.push_back(i);
        b.modifiedInstanceDates.push_back(i);
    }
    std::vector<std::uint8_t> bytes = EncodeRecurrenceBlob(b);
    EXPECT_EQ(68U + 300 * 8 + 300 * (14 + 4 + 255 + 4 + 255) + 8, bytes.size());
    std::optional<CRecurrenceBlob> back = DecodeRecurrenceBlob(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(b, *back);
}

TEST(RecurrenceBlob, BlobsThatDoNotFitAreRefused) {
    std::vector<std::uint8_t> v2 = HexBytes(kV2);
    // Every cut inside the part up to the ExceptionInfo array is refused.
    for (std::size_t n = 0; n < 0x8E; ++n) {
        EXPECT_FALSE(DecodeRecurrenceBlob(std::span(v2).first(n)).has_value()) << n;
    }
    // A cut inside the tail keeps the tail raw and still re-encodes exactly.
    std::span<const std::uint8_t> cut = std::span(v2).first(v2.size() - 3);
    std::optional<CRecurrenceBlob> partial = DecodeRecurrenceBlob(cut);
    ASSERT_TRUE(partial.has_value());
    EXPECT_EQ(CRecurTail::kRaw, partial->tail);
    EXPECT_EQ(std::vector<std::uint8_t>(cut.begin(), cut.end()), EncodeRecurrenceBlob(*partial));

    // Counts that promise more than the bytes hold.
    std::vector<std::uint8_t> huge = HexBytes(kV3);
    huge[0x22] = 0xFF;
    huge[0x25] = 0x7F;  // DeletedInstanceCount 0x7F0000FF
    EXPECT_FALSE(DecodeRecurrenceBlob(huge).has_value());
    std::vector<std::uint8_t> exceptions = HexBytes(kV3);
    exceptions[0x4A] = 0xFF;
    exceptions[0x4B] = 0xFF;  // ExceptionCount 65535
    EXPECT_FALSE(DecodeRecurrenceBlob(exceptions).has_value());
    std::vector<std::uint8_t> subject = HexBytes(kV2);
    subject[0x60] = 0xFF;  // SubjectLength2 255 with 33 bytes left for it and more
    subject[0x61] = 0x01;
    EXPECT_FALSE(DecodeRecurrenceBlob(subject).has_value());
    std::vector<std::uint8_t> pattern = HexBytes(kV1);
    pattern[6] = 0x05;  // unknown pattern type
    EXPECT_FALSE(DecodeRecurrenceBlob(pattern).has_value());
}
