// Value forms of item fields: dates, integers, flags, and the body measure.
//
// Two date forms exist. The client's own, kept in its snapshot files:
//   "%02d%02d%04d %02d:%02d:%02d"        (day, month, year, hour, minute, second)
// and the server's, used on the wire in both directions:
//   "%02d.%02d.%04d %02d:%02d.%02d:%d"   (the same, then milliseconds, always 0 here)
// Both carry the PIM store's local time unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The client form of an OLE date; the empty text for 0 and for dates that cannot be
// represented; contact dates (noDateToo) also read kOleNoDate as empty.
std::string FormatClientDate(double date, bool noDateToo);
// The server form of the same date (same empty cases).
std::string FormatServerDate(double date, bool noDateToo);
// Reads a date in either form (the server's is recognised by the "." after the day).
// The server form is read by its character positions 0-1, 3-4, 6-9, 11-12, 14-15,
// 17-18. False, date unchanged, when the text is too short, a position holds no
// digits or the fields make no valid date.
bool ParseDate(std::string_view text, double& date);

// Decimal value of a text: optional blanks, optional sign, leading digits; 0 when
// there are none; saturates at the 32-bit range.
long ParseDecimal(std::string_view text);

// CRC-32 (the common IEEE polynomial, as in zip files) of text.
uint32_t Crc32(std::string_view text);
