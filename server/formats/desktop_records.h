// The desktop store's contacts, tasks and appointments as PimRecords and back.
//
// Fields follow the element map (server/itemconv/element_map.h): each row of the
// item's kind whose token the format's table names (vcard_map.h, ical_map.h)
// carries that field. Beyond the map: the message class; for contacts the file-as
// text also as display name and subject (as the store's own rule keeps them);
// the file's UID and DTSTAMP in the public-strings properties "UID" and
// "DTSTAMP" (so an export gives back what an import took in); for appointments
// the zone's name in the appointment property 0x8234 (time-zone description) and
// the recurrence through recurrence_message.h, with the time-zone structure
// (0x8233) of the zone's rules in the year the series begins.
//
// Times: the store keeps UTC. Dates (birthdays, task dates, all-day events) are
// days of the server's zone; an appointment's times are written in its zone (the
// stored name, else the server's zone); floating times are read in the server's
// zone.
//
// Runs on the caller's thread (libical zones, civil_time.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/formats/civil_time.h"
#include "common/formats/pim_record.h"
#include "server/itemconv/time_zone.h"
#include "server/itemconv/time_zone_info.h"
#include "server/mapi/mapi_wrapper.h"

// A pimfmt zone seen as the recurrence code's CTimeZone.
class CFormatZone final : public CTimeZone {
public:
    explicit CFormatZone(const pimfmt::Zone& zone) : zone_(zone) {}
    std::optional<CZoneState> StateAt(std::int64_t utcSecondsFrom1601) const override;

private:
    const pimfmt::Zone& zone_;
};

CTimeZoneStruct ZoneStructOfRule(const pimfmt::ZoneRule& rule);
pimfmt::ZoneRule RuleOfZoneStruct(const CTimeZoneStruct& zone);

// The record of an item (its kind as given). Store errors raise CMAPIException.
pimfmt::PimRecord DesktopRecordOfItem(IMessagePtr& item, pimfmt::RecordKind kind);

// Writes the record into item (a new item; the caller saves it). zones resolves
// the record's zone names. What the item cannot hold is appended to notHeld.
// Store errors raise CMAPIException.
void DesktopItemOfRecord(IMessagePtr& item, const pimfmt::PimRecord& record,
                         const pimfmt::FileZones& zones, std::vector<std::string>& notHeld);

// The yearly rule of a zone named by the desktop's items: an IANA zone's rule in
// that year, else the rule of the server's zone.
pimfmt::ZoneRule DesktopZoneRule(const std::string& name, int year);
