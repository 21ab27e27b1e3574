// The Vantro tag table: the element names of the (code page, tag token) pairs.
//
// Names serve only the reader's element names and paths, the tag texts of reader
// events and the readable dump; encoding and every protocol decision use the numbers.
// The table is constant data; every function here may be called from any thread.
#pragma once

#include <cstdint>
#include <string_view>

// One row of a tag table. A table is an array of rows ending with a row whose
// name is null.
struct WBXMLTag {
    int32_t codePage;
    int32_t token;  // 0 to 63
    const char* name;
};

// The Vantro table: pages 0 (protocol), 1 (contacts), 2 (appointments),
// 3 (tasks), 6 (recurrence pattern) and 7 (e-mail). Pages 4 and 5 are unassigned.
// Some names end in a space (page 7, tokens 0x0E and 0x17); they are printed so.
extern const WBXMLTag kVantroTagTable[];

// Number of rows of kVantroTagTable before its terminating row.
size_t VantroTagTableSize();

// First row of rows (null-name terminated) whose page and token both match, or
// null. Rows after the first match with the same pair never take effect.
const WBXMLTag* FindTagRow(const WBXMLTag* rows, int32_t codePage, int32_t token);

// The full table name of (codePage, token) in the Vantro table. A pair without a
// row yields the miss text "unknown %x %x" (page and token in hexadecimal).
// The returned view stays valid for the life of the program when page is 0..255
// and token 0..63 (misses there are kept once per pair); for any other pair it is
// valid on the calling thread until its next such miss.
std::string_view TagName(int32_t codePage, int32_t token);

// The element name the reader reports: TagName cut after its first "_"
// ("PR_BODY" gives "BODY", "PocketAppointment_Recipients" gives "Recipients");
// a name without "_" is reported whole. Lifetime as for TagName.
std::string_view ElementName(int32_t codePage, int32_t token);
