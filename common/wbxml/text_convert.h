// Text conversions at the wire. Vantro strings travel as UTF-8; Corvel keeps 8-bit
// text in the ANSI code page, which on this system is the character set of the
// current locale (UTF-8 on every supported system); Skiff works in UTF-16.
//
// Nothing is ever turned into the empty text: bytes that are not valid UTF-8 where
// UTF-8 is expected are read as Windows-1252 (the ANSI page of the handhelds that
// sent 8-bit text), and a character the target character set lacks becomes "?".
// Embedded zero bytes are kept. All functions are pure and may be called from any
// thread (the locale's character set is read at each call).
#pragma once

#include <string>
#include <string_view>

#include "common/base/utf.h"

// Decodes every byte as Windows-1252 and returns the UTF-8 text. The five bytes
// that page leaves unassigned (81 8D 8F 90 9D) become the C1 controls of the same value.
std::string Windows1252ToUtf8(std::string_view text);

// The character a Windows-1252 byte stands for (the five unassigned bytes 81 8D 8F
// 90 9D give the C1 controls of the same value).
char32_t Windows1252CodePoint(unsigned char byte);
// The Windows-1252 byte of a character, or -1 when the page lacks it (C1 controls
// included).
int Windows1252Byte(char32_t codePoint);

// text when it is valid UTF-8, otherwise its Windows-1252 reading.
std::string RepairUtf8(std::string_view text);

// The character set of the current locale as iconv names it. The plain "C"
// locale (7-bit ASCII) counts as UTF-8, its superset, so a program that never
// selected a locale does not lose its non-ASCII text.
std::string AnsiCharset();
// AnsiCharset() == "UTF-8", without building the name.
bool AnsiCharsetIsUtf8();

// ANSI text to UTF-8. On a UTF-8 system this validates only; invalid input is
// read as Windows-1252. Other character sets convert through iconv.
std::string ToUtf8(std::string_view text);
// UTF-8 text to ANSI. Invalid UTF-8 is read as Windows-1252 first; characters the
// ANSI character set lacks become "?".
std::string FromUtf8(std::string_view text);

// The same with the ANSI character set named explicitly (an iconv name such as
// "ISO-8859-1"); an unknown name converts as Windows-1252 (to UTF-8) or to UTF-8.
std::string AnsiToUtf8(std::string_view text, std::string_view charset);
std::string Utf8ToAnsi(std::string_view text, std::string_view charset);
