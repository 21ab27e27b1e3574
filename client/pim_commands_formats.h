// "skiff pim import" and "skiff pim export": the handheld's contacts as vCard, its
// tasks and calendar as iCalendar, through the codec both programs share
// (common/formats). The fields are the PIM properties of the same names; the
// mapping tables (vcard_map.h, ical_map.h) say which the handheld holds.
//
// Times: the handheld keeps local wall-clock time (the process's zone). Exported
// times carry that zone's IANA name (UTC times when the zone is UTC); dates
// (birthdays, task dates at midnight, all-day events) are whole days. The handheld
// keeps no UID or stamp: an exported entry's UID is derived from its content (the
// same item gives the same UID), DTSTAMP is 1970-01-01.
// A recurring appointment goes out and in with its series (record_recurrence.h).
// An import saves in one write batch of the store (pim_write_batch.h).
//
// Results as the other pim commands: 0 done, 1 the store failed, 2 bad input,
// 3 entries were skipped (with --strict: nothing imported).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "common/formats/civil_time.h"
#include "common/formats/pim_record.h"
#include "platform/pocketoutlook/pocket_outlook.h"

int PimImport(const std::string& folder, const std::vector<std::string>& files, bool strict,
              bool json, std::ostream& out, std::ostream& err);
int PimExport(const std::string& folder, const std::string& file, bool vcard3, bool json,
              std::ostream& out, std::ostream& err);

// The record of a handheld item, and an item filled from a record (not saved;
// what it cannot hold goes to notHeld).
pimfmt::PimRecord HandheldRecordOfItem(const PimItem& item);
void HandheldItemOfRecord(PimItem& item, const pimfmt::PimRecord& record,
                          const pimfmt::FileZones& zones, std::vector<std::string>& notHeld);
