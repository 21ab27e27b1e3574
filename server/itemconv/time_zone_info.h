// The 48-byte time-zone structure written beside a recurrence (the appointment
// property 0x8233): bias, standard bias and daylight bias in minutes
// (UTC = local + bias [+ the bias of the season]), then when standard and when
// daylight time begin, each as a year and a SYSTEMTIME-shaped rule. A rule with
// year 0 recurs yearly: dayOfWeek (0 Sunday) on the day-th such weekday of the
// month (5 = the last), at the given local time; month 0 in the standard rule
// means the zone keeps no daylight time. All fields little-endian.
//
// Values and pure functions; CRuleTimeZone is immutable and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "server/itemconv/time_zone.h"

inline constexpr std::size_t kTimeZoneStructSize = 48;

struct CTimeZoneRule {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t dayOfWeek = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
    bool operator==(const CTimeZoneRule&) const = default;
};

struct CTimeZoneStruct {
    std::int32_t bias = 0;
    std::int32_t standardBias = 0;
    std::int32_t daylightBias = 0;
    std::uint16_t standardYear = 0;
    CTimeZoneRule standardDate;
    std::uint16_t daylightYear = 0;
    CTimeZoneRule daylightDate;
    bool operator==(const CTimeZoneStruct&) const = default;
};

// Exactly kTimeZoneStructSize bytes.
std::vector<std::uint8_t> EncodeTimeZoneStruct(const CTimeZoneStruct& zone);
// Nothing unless bytes holds exactly kTimeZoneStructSize bytes.
std::optional<CTimeZoneStruct> DecodeTimeZoneStruct(std::span<const std::uint8_t> bytes);

// UTC+1 with European summer time (last Sunday of March 02:00 to last Sunday of
// October 03:00): written when the server's zone cannot be determined.
CTimeZoneStruct FixedCentralEuropeanTimeZone();

// The rules of zone in the given year: the standard offset, and when it keeps
// daylight time, the daylight offset and the two changes as yearly rules. A year
// whose changes do not form one daylight period is described by its offset at the
// end of the year without daylight time. Nothing when the zone cannot tell its
// offset.
std::optional<CTimeZoneStruct> TimeZoneStructOfZone(const CTimeZone& zone, int year);

// The structure for the server's own zone in the current year, or the fixed
// UTC+1 structure when that cannot be determined.
CTimeZoneStruct ServerTimeZoneStruct();

// A zone that follows a structure's rules.
class CRuleTimeZone final : public CTimeZone {
public:
    explicit CRuleTimeZone(const CTimeZoneStruct& rules) : rules_(rules) {}
    std::optional<CZoneState> StateAt(std::int64_t utcSecondsFrom1601) const override;

private:
    CTimeZoneStruct rules_;
};
