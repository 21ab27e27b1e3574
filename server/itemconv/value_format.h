// The text forms of store property values in item elements, both ways.
//
// Writing (value to element text):
//   16- and 32-bit integers "%d"; floating point "%f"; booleans "%d" of the 16-bit
//   value; 8-bit strings as UTF-8; times converted from UTC to the zone's local
//   time (the rules in force at that date) in the form "DD.MM.YYYY HH:MM.SS:ms";
//   binaries in Base64 (standard alphabet, "=" padding); multi-valued strings
//   joined with ", " as UTF-8; any other type gives the empty text (no element).
// Reading (element text, already ANSI, to value):
//   16-bit integers and booleans: the decimal value of the leading digits, kept
//   in 16 bits; 32-bit integers: the decimal value; strings as they stand; times
//   in the wire form or the handheld's legacy form "DDMMYYYY HH:MM:SS", converted
//   from local time to UTC; multi-valued strings split at every ",", each piece
//   with the blanks around it trimmed (so "A, B" reads back as "A" and "B", not
//   " B"), empty pieces dropped. Other types are not written.
//
// Pure functions; safe from any number of threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/itemconv/time_zone.h"
#include "server/mapi/mapi_prop_value.h"

// Base64 of bytes with the standard alphabet and "=" padding.
std::string Base64Encode(const std::uint8_t* bytes, std::size_t length);

// The element text of value (empty: no element is written).
std::string PropValueToElementText(const SPropValue& value, const CTimeZone& zone);

// The pieces of a received multi-valued text, as described above.
std::vector<std::string> SplitMultiValueText(std::string_view text);

enum class ValueParse {
    kOk,               // out holds the value
    kUnsupportedType,  // the property type is not read from elements; nothing to write
    kInvalid,          // the text does not parse as a value of the type
};

// The value of tag (its type decides) for the received text. A number without a
// digit, one out of the 32-bit range, and a date in neither form are kInvalid.
ValueParse ElementTextToPropValue(ULONG tag, std::string_view text, const CTimeZone& zone,
                                  CPropValue& out);
