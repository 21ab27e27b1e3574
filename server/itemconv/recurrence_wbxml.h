// Writing element trees, and the Recurrence block, into a WBXML document.
// A document belongs to one thread at a time.
#pragma once

#include "common/wbxml/wbxml.h"
#include "server/itemconv/recurrence_pattern.h"
#include "server/itemconv/time_zone.h"

// Writes every node of list in order: a field as one element whose 8-bit text is
// sent as UTF-8 (ToUtf8), a container as its start tag, its children and its end
// tag. False as soon as the writer refuses an element (the document is then
// unusable and the caller ends its request).
bool WriteLiterals(CWBXML& writer, const CWBXMLLiterals& list);

// Writes the (6, 0x00 Recurrence) container for pattern (RecurrenceBlockElements).
bool WriteRecurrenceBlock(CWBXML& writer, const RecurrencePattern& pattern, const CTimeZone& zone);
