// Text from outside (requests, log-on strings, device names) on its way into the
// logs and the data folder's files.
//
// In a log, such text must never pass for an entry of its own, nor carry bytes
// that a terminal or viewer acts on: CLogEscaper writes every control character
// other than TAB, CR and LF (and DEL) as "\xNN", and a "!" that begins a line (the
// first character of an entry stamp "!!!") as "\x21". Values stored in settings.inf,
// .dxt and .ifo files lose their control characters instead (DropControlCharacters).
//
// Pure functions; a CLogEscaper belongs to one writer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How much of one request body or document a log entry shows; the rest is
// replaced by one line that says how many bytes were left out.
inline constexpr size_t kMaxLoggedBodyBytes = 256 * 1024;

// Escapes text that arrives piece by piece; a line start is remembered between
// pieces. A fresh escaper stands at the start of a line.
class CLogEscaper {
public:
    explicit CLogEscaper(bool atLineStart = true) : lineStart_(atLineStart) {}
    // Appends the escaped form of text to out.
    void Append(std::string& out, std::string_view text);

private:
    bool lineStart_;
};

// The escaped form of text, taken as starting at a line start.
std::string EscapeLogText(std::string_view text);

// text without its bytes below 0x20 and DEL (TAB, CR and LF included).
std::string DropControlCharacters(std::string_view text);

// One line of the live trace: every control character, CR and LF included, as
// "\xNN", so a received text can neither break the line nor reach the terminal.
std::string EscapeTraceLine(std::string_view text);

// A value for one line of settings.inf, a .dxt or an .ifo file: CR and LF become
// blanks (so a value never adds a line), every other control character is dropped.
std::string OneLineValue(std::string_view text);

// The line that stands for the bytes a log entry leaves out:
// "[... <count> more bytes not logged]" followed by lineEnd.
std::string NotLoggedLine(size_t count, std::string_view lineEnd);

// The first maxBytes of text, and when it is longer, NotLoggedLine for the rest
// (after a lineEnd of its own when the kept part does not end with one).
std::string CutForLog(std::string_view text, size_t maxBytes, std::string_view lineEnd);
