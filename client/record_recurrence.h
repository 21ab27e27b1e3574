// The series of a handheld appointment (pim_recurrence.h) and the recurrence of a
// record (an RRULE, EXDATEs, RECURRENCE-ID overrides), through the rule mapping
// both stores share (common/formats/rrule_map.h).
//
// Out: the pattern as an RRULE (a series that ends by date: UNTIL at the series'
// time of day, in UTC, or its date for an all-day series); each removed occurrence
// an EXDATE, each changed one an override with its start and end and the fields it
// changes. In: a rule the pattern cannot hold, RDATEs, and EXDATEs or overrides
// that name no occurrence of the rule are reported and left out (a series whose
// rule cannot be held keeps its first occurrence).
//
// Pure functions over values; one thread at a time per item.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/formats/civil_time.h"
#include "common/formats/pim_record.h"
#include "platform/pocketoutlook/pocket_outlook.h"

// The recurrence of a recurring appointment; nothing for a single one.
std::optional<pimfmt::RecordRecurrence> RecordRecurrenceOfItem(const PimItem& appointment);

// Makes the appointment (its Start, End and other fields already set) the series
// the record describes; what it cannot hold goes to notHeld.
void SetItemRecurrence(PimItem& appointment, const pimfmt::PimRecord& record,
                       const pimfmt::FileZones& zones, std::vector<std::string>& notHeld);
