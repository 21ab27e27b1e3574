// The store side of a recurring appointment as plain values: the named
// properties LoadFromMessage reads and WriteToMessage writes, without the store.
// recurrence_message.h moves these values to and from a message.
//
// Properties (appointment set 00062002-0000-0000-C000-000000000046 unless noted;
// common set 00062008-0000-0000-C000-000000000046 marked C):
//   0x8216 blob, 0x8223 recurring, 0x8231 recurrence type, 0x8233 time-zone
//   structure, 0x8235 clip start, 0x8236 clip end, 0x820D whole start, 0x820E
//   whole end, C 0x8516 common start, C 0x8517 common end, C 0x8502 reminder
//   time, C 0x8510 side effects.
// Times are UTC FILETIMEs in the store and local CItemTime in the pattern; each is
// converted with the zone rules in force at its own date.
//
// Pure functions over values; safe from any number of threads.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "server/itemconv/recurrence_pattern.h"
#include "server/itemconv/time_zone.h"
#include "server/itemconv/time_zone_info.h"

// Property identifiers (numeric names) in their property sets.
inline constexpr std::uint16_t kLidRecurrenceBlob = 0x8216;
inline constexpr std::uint16_t kLidRecurring = 0x8223;
inline constexpr std::uint16_t kLidRecurrenceType = 0x8231;
inline constexpr std::uint16_t kLidRecurrencePatternText = 0x8232;
inline constexpr std::uint16_t kLidTimeZoneStruct = 0x8233;
inline constexpr std::uint16_t kLidClipStart = 0x8235;
inline constexpr std::uint16_t kLidClipEnd = 0x8236;
inline constexpr std::uint16_t kLidWholeStart = 0x820D;
inline constexpr std::uint16_t kLidWholeEnd = 0x820E;
inline constexpr std::uint16_t kLidCommonStart = 0x8516;   // common set
inline constexpr std::uint16_t kLidCommonEnd = 0x8517;     // common set
inline constexpr std::uint16_t kLidReminderTime = 0x8502;  // common set
inline constexpr std::uint16_t kLidSideEffects = 0x8510;   // common set
inline constexpr std::int32_t kAppointmentSideEffects = 369;
inline constexpr const char* kAppointmentSetGuid = "00062002-0000-0000-C000-000000000046";
inline constexpr const char* kCommonSetGuid = "00062008-0000-0000-C000-000000000046";

// What the store holds; a missing property is an empty optional.
struct CRecurrenceStoreValues {
    std::optional<std::uint64_t> wholeStart;
    std::optional<std::uint64_t> wholeEnd;
    std::optional<std::uint64_t> commonStart;
    std::optional<std::uint64_t> commonEnd;
    std::optional<std::uint64_t> clipStart;
    std::optional<std::uint64_t> clipEnd;
    std::optional<std::uint64_t> reminderTime;
    std::optional<bool> recurring;
    std::optional<std::int32_t> recurrenceType;
    std::optional<std::vector<std::uint8_t>> blob;
    std::optional<std::vector<std::uint8_t>> timeZone;
    std::optional<std::int32_t> sideEffects;
    bool operator==(const CRecurrenceStoreValues&) const = default;
};

// LoadFromMessage without the store: the seven dates (converted to local time,
// a missing one left unset), the recurring flag, and for a recurring item the
// series from the blob (ApplyBlobToPattern). A blob that cannot be read leaves the
// pattern without a series (kind none) but keeps the dates and the flag.
RecurrencePattern PatternFromStoreValues(const CRecurrenceStoreValues& values,
                                         const CTimeZone& zone);

// WriteToMessage without the store. The pattern is normalised and its clip dates
// computed (ComputeClipDates); the whole start becomes the series start and the
// whole end the series start plus one occurrence's duration (the first
// occurrence, as the appointment itself shows it). Each of the seven dates whose
// year is above 1900 is converted to UTC; the recurring flag, zoneStruct and side
// effects 369 are always set; a recurring pattern adds its recurrence type and
// blob (a pattern without a kind is written as not recurring). The pattern passed in is updated
// with the values written.
CRecurrenceStoreValues StoreValuesFromPattern(RecurrencePattern& pattern, const CTimeZone& zone,
                                              const CTimeZoneStruct& zoneStruct);
