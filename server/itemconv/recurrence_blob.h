// The appointment recurrence blob (the appointment property 0x8216), field for
// field: the AppointmentRecurrencePattern structure of the public calendar
// protocol document [MS-OXOCAL] (a RecurrencePattern followed by the appointment
// part), little-endian, dates as minutes since 1601-01-01 in the item's local time.
//
// This layer only moves fields between bytes and CRecurrenceBlob; it decides no
// values (recurrence_mapping.h does). Decoding then encoding a blob gives back the
// same bytes, whichever of the shapes below it has after its ExceptionInfo array:
//  - nothing (older writers stop there);
//  - ReservedBlock1Size, ExtendedException per exception, ReservedBlock2Size
//    (the document's form; with no exceptions this is two zero sizes, which is
//    also what this system writes);
//  - ReservedBlock1Size and ReservedBlock2Size without ExtendedException although
//    there are exceptions (what this system writes with exceptions);
//  - anything else, kept as raw bytes.
// The buffer grows as needed: any number of dates and exceptions is written whole.
// Pure functions over values; safe from any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Override flags of an exception (which of its fields are present).
enum : std::uint16_t {
    kOverrideSubject = 0x0001,
    kOverrideMeetingType = 0x0002,
    kOverrideReminderDelta = 0x0004,
    kOverrideReminderSet = 0x0008,
    kOverrideLocation = 0x0010,
    kOverrideBusyStatus = 0x0020,
    kOverrideAttachment = 0x0040,
    kOverrideAllDay = 0x0080,
    kOverrideColor = 0x0100,
    kOverrideBody = 0x0200,  // no field; the exception has its own body
};

enum : std::uint16_t {
    kRecurFrequencyDaily = 0x200A,
    kRecurFrequencyWeekly = 0x200B,
    kRecurFrequencyMonthly = 0x200C,
    kRecurFrequencyYearly = 0x200D,
};

enum : std::uint16_t {
    kPatternDay = 0x0000,
    kPatternWeek = 0x0001,
    kPatternMonth = 0x0002,
    kPatternMonthNth = 0x0003,
    kPatternMonthEnd = 0x0004,
    kPatternHjMonth = 0x000A,
    kPatternHjMonthNth = 0x000B,
    kPatternHjMonthEnd = 0x000C,
};

enum : std::uint32_t {
    kEndAfterDate = 0x2021,
    kEndAfterCount = 0x2022,
    kEndNever = 0x2023,
    kEndNeverOld = 0xFFFFFFFF,  // another writer's form of "never ends"
};

// One ExceptionInfo. Strings are 8-bit, at most 0xFFFE bytes (longer ones are cut
// when written).
struct CRecurExceptionInfo {
    std::uint32_t startDateTime = 0;
    std::uint32_t endDateTime = 0;
    std::uint32_t originalStartDate = 0;
    std::uint16_t overrideFlags = 0;
    std::string subject;                 // kOverrideSubject
    std::uint32_t meetingType = 0;       // kOverrideMeetingType
    std::uint32_t reminderDelta = 0;     // kOverrideReminderDelta
    std::uint32_t reminderSet = 0;       // kOverrideReminderSet
    std::string location;                // kOverrideLocation
    std::uint32_t busyStatus = 0;        // kOverrideBusyStatus
    std::uint32_t attachment = 0;        // kOverrideAttachment
    std::uint32_t subType = 0;           // kOverrideAllDay
    std::uint32_t appointmentColor = 0;  // kOverrideColor
    bool operator==(const CRecurExceptionInfo&) const = default;
};

// One ExtendedException; which fields are present follows the writer version and
// the override flags of the matching ExceptionInfo.
struct CRecurExtendedException {
    std::uint32_t changeHighlightSize = 0;  // only with writer version 2 >= 0x3009
    std::uint32_t changeHighlightValue = 0;
    std::vector<std::uint8_t> changeHighlightReserved;
    std::vector<std::uint8_t> reservedEE1;
    std::uint32_t startDateTime = 0;  // these with subject or location override
    std::uint32_t endDateTime = 0;
    std::uint32_t originalStartDate = 0;
    std::u16string subject;   // with subject override
    std::u16string location;  // with location override
    std::vector<std::uint8_t> reservedEE2;
    bool operator==(const CRecurExtendedException&) const = default;
};

enum class CRecurTail {
    kNone,          // the blob ends after the ExceptionInfo array
    kFull,          // reserved block 1, ExtendedException per exception, reserved block 2
    kReservedOnly,  // reserved blocks 1 and 2 only, although there are exceptions
    kRaw,           // bytes that fit none of these, kept in rawTail
};

struct CRecurrenceBlob {
    std::uint16_t readerVersion = 0x3004;
    std::uint16_t writerVersion = 0x3004;
    std::uint16_t recurFrequency = kRecurFrequencyDaily;
    std::uint16_t patternType = kPatternDay;
    std::uint16_t calendarType = 0;
    std::uint32_t firstDateTime = 0;
    std::uint32_t period = 0;
    std::uint32_t slidingFlag = 0;
    // Week, MonthNth: day mask; Month, MonthEnd: day of month. MonthNth: instance.
    std::uint32_t patternSpecific1 = 0;
    std::uint32_t patternSpecific2 = 0;
    std::uint32_t endType = kEndAfterCount;
    std::uint32_t occurrenceCount = 0;
    std::uint32_t firstDOW = 0;
    std::vector<std::uint32_t> deletedInstanceDates;
    std::vector<std::uint32_t> modifiedInstanceDates;
    std::uint32_t startDate = 0;
    std::uint32_t endDate = 0;
    std::uint32_t readerVersion2 = 0x3006;
    std::uint32_t writerVersion2 = 0x3006;
    std::uint32_t startTimeOffset = 0;
    std::uint32_t endTimeOffset = 0;
    std::vector<CRecurExceptionInfo> exceptions;
    CRecurTail tail = CRecurTail::kFull;
    std::vector<std::uint8_t> reservedBlock1;
    std::vector<CRecurExtendedException> extendedExceptions;  // kFull: one per exception
    std::vector<std::uint8_t> reservedBlock2;
    std::vector<std::uint8_t> rawTail;  // kRaw
    bool operator==(const CRecurrenceBlob&) const = default;
};

// Bytes of the pattern-specific part for a pattern type; nothing for an unknown
// type.
std::optional<std::size_t> PatternSpecificSize(std::uint16_t patternType);

// The bytes of blob. An unknown pattern type writes no pattern-specific part; with
// kFull, missing ExtendedException entries are written empty (and extra ones
// dropped) so that the count always matches the exceptions.
std::vector<std::uint8_t> EncodeRecurrenceBlob(const CRecurrenceBlob& blob);

// Reads a blob. Nothing when the bytes end before the ExceptionInfo array is
// complete, when a count or length promises more bytes than remain, or when the
// pattern type is unknown (also for an 8-bit string of 0xFFFF bytes, which its
// first length cannot describe); the caller then treats the item as having no blob. A
// tail after the ExceptionInfo array that fits no known shape is kept raw.
std::optional<CRecurrenceBlob> DecodeRecurrenceBlob(std::span<const std::uint8_t> bytes);
