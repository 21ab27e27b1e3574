// Escaped forms of text for the programs' output and line files: JSON string
// literals and backslash escapes that keep a value on one line.
#pragma once

#include <string>
#include <string_view>

// How a JSON string literal writes LF, CR and TAB: as "\n", "\r", "\t", or like every
// other control character as "\u00xx".
enum class JsonLineBreaks { kShort, kNumeric };

// A JSON string literal for text: quotes included, '"' and '\' escaped, control
// characters (bytes below 0x20) escaped as lineBreaks says; other bytes as they are
// (the caller hands UTF-8).
std::string JsonQuote(std::string_view text, JsonLineBreaks lineBreaks = JsonLineBreaks::kShort);

// text with '\' as "\\", LF as "\n" and CR as "\r", so it stays on one line; each
// character of alsoEscaped is written with a '\' before it too (TAB as "\t").
std::string BackslashEscape(std::string_view text, std::string_view alsoEscaped = {});
