// Time zones for converting item dates between UTC (as the store keeps them) and
// the server's local time (as devices see them). Each date is converted with the
// zone rules in force at that date, daylight saving included.
//
// CSystemTimeZone asks the system's zone data (the TZ setting, else the system's
// local zone) through the C library. CRuleTimeZone follows the yearly rule of a
// 48-byte time-zone structure (time_zone_info.h). Both are immutable; one object
// may be used from any number of threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/itemconv/item_time.h"

// The zone's state at one instant: local = UTC + offsetMinutes.
struct CZoneState {
    int offsetMinutes = 0;
    bool daylight = false;
};

class CTimeZone {
public:
    virtual ~CTimeZone() = default;
    // State at an instant given as seconds since 1601-01-01 UTC; nothing when the
    // zone cannot tell (the conversions then treat local time as UTC).
    virtual std::optional<CZoneState> StateAt(std::int64_t utcSecondsFrom1601) const = 0;

    // Wall-clock UTC to local time of this zone, and back. A local time that does
    // not exist (skipped by a change to daylight time) maps to the instant it
    // would be with the offset before the change; an ambiguous one (repeated when
    // daylight time ends) maps to its first instant. Milliseconds pass through.
    CItemTime UtcToLocal(const CItemTime& utc) const;
    CItemTime LocalToUtc(const CItemTime& local) const;
    // The same for store FILETIMEs (UTC) and blob minutes (local).
    CItemTime FiletimeToLocal(std::uint64_t utcFiletime) const;
    std::uint64_t LocalToFiletime(const CItemTime& local) const;

protected:
    int OffsetAt(std::int64_t utcSeconds) const;
};

class CSystemTimeZone final : public CTimeZone {
public:
    std::optional<CZoneState> StateAt(std::int64_t utcSecondsFrom1601) const override;
};

// The server's local zone: one process-wide CSystemTimeZone.
const CTimeZone& ServerTimeZone();

// A store time (UTC FILETIME) as element text: converted to local time with the
// rules in force at that date, then in the wire form ("07.03.2009 14:05.09:0").
std::string StoreTimeToText(std::uint64_t utcFiletime, const CTimeZone& zone = ServerTimeZone());
// Element text (the wire form, or the handheld's legacy form) as a store time:
// read as local time and converted to UTC. Nothing when the text is no date
// (ParseItemDate); the caller then leaves the property unwritten.
std::optional<std::uint64_t> TextToStoreTime(std::string_view text,
                                             const CTimeZone& zone = ServerTimeZone());
