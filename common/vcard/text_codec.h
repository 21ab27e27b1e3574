// Value encodings of vCard and iCalendar text: quoted-printable, Base64, character
// sets, backslash escapes, and the split of structured and list values.
//
// Pure functions; safe from any number of threads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vcard {

// Quoted-printable to bytes: "=XX" becomes the byte, a "=" that starts no valid
// pair is kept as it stands (as readers of damaged files expect); soft line
// breaks are already gone (content_line.h).
std::string DecodeQuotedPrintable(std::string_view text);
// Base64 (standard alphabet; blanks and line breaks between the digits ignored,
// padding optional). Nothing for any other character or a cut-off last group.
std::optional<std::string> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

// True when bytes are well-formed UTF-8 (no overlong forms or surrogates).
bool IsUtf8(std::string_view bytes);
// Text of the named character set as UTF-8: UTF-8 and US-ASCII checked as they are,
// any other set converted with iconv. Nothing when the set is unknown or the bytes
// do not belong to it.
std::optional<std::string> ToUtf8(std::string_view bytes, std::string_view charset);

// Backslash escapes of a text value: "\n" and "\N" a line feed, "\\", "\,", "\;"
// and "\:" the character; a backslash before anything else is kept.
std::string UnescapeText(std::string_view text);
// The escaped form: "\\", "\n" for a line feed (a CR before it is dropped), "\,"
// and "\;".
std::string EscapeText(std::string_view text);
// Splits a raw (still escaped) value at every unescaped separator, then unescapes
// each piece: "Doe;Jane\;X" with ';' gives "Doe" and "Jane;X".
std::vector<std::string> SplitEscaped(std::string_view raw, char separator);
// Escapes each piece and joins them with separator.
std::string JoinEscaped(const std::vector<std::string>& pieces, char separator);

}  // namespace vcard
