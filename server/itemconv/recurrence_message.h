// The recurrence of an appointment in the message store: LoadFromMessage,
// WriteToMessage, and ReadRecurrence / ReadException, which apply a received
// Recurrence block or Exceptions block to an item and write its pattern back.
// The pure parts live in recurrence_store.h (values) and recurrence_elements.h
// (element values); this file only moves them through the store's wrappers.
//
// Named properties are resolved with the create flag, so an item of a store that
// has never held a recurrence gets the mappings made. Nothing here saves the item:
// the caller (the item element reader) saves it with its other fields.
//
// Runs on the request thread that owns the item; no shared state.
#pragma once

#include <string>

#include "server/itemconv/recurrence_pattern.h"
#include "server/itemconv/recurrence_store.h"
#include "server/itemconv/time_zone.h"
#include "server/itemconv/time_zone_info.h"
#include "server/mapi/mapi_wrapper.h"

class CWBXMLLiterals;

// The property tags of the recurrence properties in the item's store.
struct CRecurrenceTags {
    ULONG blob = 0;
    ULONG recurring = 0;
    ULONG recurrenceType = 0;
    ULONG timeZone = 0;
    ULONG clipStart = 0;
    ULONG clipEnd = 0;
    ULONG wholeStart = 0;
    ULONG wholeEnd = 0;
    ULONG commonStart = 0;
    ULONG commonEnd = 0;
    ULONG reminderTime = 0;
    ULONG sideEffects = 0;

    // Resolves every name (creating missing mappings). Raises CMAPIException when
    // the store cannot map one.
    static CRecurrenceTags Resolve(CGenMapiPropPtr& item);
};

// The values the item holds (including values set but not yet saved). A missing
// property, or one of an unexpected type, stays empty. Raises CMAPIException when
// a read fails otherwise.
CRecurrenceStoreValues ReadRecurrenceValues(CGenMapiPropPtr& item, const CRecurrenceTags& tags);
// Sets every value that is present. Raises CMAPIException when a set fails.
void WriteRecurrenceValues(CGenMapiPropPtr& item, const CRecurrenceTags& tags,
                           const CRecurrenceStoreValues& values);

// Fills pattern from the item (PatternFromStoreValues). True on success; false
// after a store error, which goes to the live trace ("Error in LoadFromMessage:
// %s"); pattern is then left as it was.
bool LoadFromMessage(CGenMapiPropPtr& item, RecurrencePattern& pattern,
                     const CTimeZone& zone = ServerTimeZone());

// Writes pattern to the item (StoreValuesFromPattern) with the time-zone structure
// of zoneStruct, or of the server's zone when none is given. True on success;
// after a failure the live trace gets "Error in WriteToMessage line %d" with the
// step reached (1 names, 2 values, 3 writing) and false is returned; values
// already set stay set until the caller saves or drops the item.
bool WriteToMessage(CGenMapiPropPtr& item, RecurrencePattern& pattern,
                    const CTimeZone& zone = ServerTimeZone(),
                    const CTimeZoneStruct* zoneStruct = nullptr);

// True when two patterns are stored as the same properties (blob, type, flag and the
// dates WriteToMessage writes; for two endless series the common end, which names
// no day, is not compared).
bool SameStoredSeries(const RecurrencePattern& a, const RecurrencePattern& b,
                      const CTimeZone& zone = ServerTimeZone());

// Applies the children of a received Recurrence element to pattern, based on the
// start and end the item holds now, and writes the pattern with WriteToMessage;
// a series that comes back as stored (SameStoredSeries with the pattern as loaded)
// is not written again, so its stored properties keep their bytes.
// pattern is the item's pattern as loaded (LoadFromMessage), so that the deleted
// dates and exceptions of a block without Exceptions are kept.
// False after a failure, traced as "Crash in ReadRecurrence line %d" (1 names,
// 2 dates, 3 block, 4 writing); the block ends there. A block that describes no
// occurrence (ApplyRecurrenceElements) is refused: nothing is written, the live
// trace gets "Recurrence refused, it describes no occurrence: %s", the reason goes
// to refused (when given) and the result is true.
bool ReadRecurrence(CGenMapiPropPtr& item, RecurrencePattern& pattern,
                    const CWBXMLLiterals& children, const CTimeZone& zone = ServerTimeZone(),
                    std::string* refused = nullptr);

// Applies the children of a received Exceptions element to pattern and writes the
// pattern with WriteToMessage. False after a failure, traced as
// "Crash in ReadException".
bool ReadException(CGenMapiPropPtr& item, RecurrencePattern& pattern,
                   const CWBXMLLiterals& children, const CTimeZone& zone = ServerTimeZone());
