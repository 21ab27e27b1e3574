// Content lines of vCard (2.1, 3.0, 4.0) and iCalendar files: the reader that
// turns a byte stream into unfolded logical lines with their line numbers, one
// line's parts (group, name, parameters, value), and the writer's folding.
//
// Unfolding: a physical line that begins with a blank or a tab continues the one
// before (the line break and that one blank are dropped). A line of a
// quoted-printable value (vCard 2.1) that ends with "=" continues on the next
// physical line as it stands (a soft line break). Lines end with CRLF, LF or CR.
//
// Limits: a logical line longer than kMaxLogicalLine bytes is reported as too long
// and its remaining bytes are passed over, so a damaged file cannot make the
// reader hold more than that.
//
// The reader belongs to one thread; the free functions are pure.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace vcard {

inline constexpr std::size_t kMaxLogicalLine = 32u * 1024 * 1024;
// Writers fold after this many bytes (never inside a UTF-8 sequence).
inline constexpr std::size_t kFoldWidth = 75;

class ContentLineReader {
public:
    explicit ContentLineReader(std::istream& in, std::size_t limit = kMaxLogicalLine)
        : in_(in), limit_(limit) {}

    enum class Result {
        kLine,     // line holds the next logical line
        kTooLong,  // the logical line starting at firstLine exceeded kMaxLogicalLine
        kEnd,      // no more input
    };
    // The next logical line (without its line break). Empty physical lines are
    // passed over. firstLine is the 1-based number of its first physical line.
    Result Next(std::string& line, std::size_t& firstLine);
    // Physical lines read so far.
    std::size_t linesRead() const { return lineNumber_; }

private:
    bool ReadPhysical(std::string& out, bool& tooLong);
    std::istream& in_;
    std::size_t limit_;
    std::string pending_;
    bool havePending_ = false;
    bool pendingTooLong_ = false;
    std::size_t pendingLine_ = 0;
    std::size_t lineNumber_ = 0;
};

struct ContentParam {
    std::string name;                 // upper case; "" for a vCard 2.1 bare value
    std::vector<std::string> values;  // split at unquoted commas, quotes removed
    bool operator==(const ContentParam&) const = default;
};

struct ContentLine {
    std::string group;  // "item1" of "item1.TEL", as written
    std::string name;   // upper case
    std::vector<ContentParam> params;
    std::string value;  // raw: still escaped and encoded
    bool operator==(const ContentLine&) const = default;

    // The first parameter of that name (upper case), or null.
    const ContentParam* Param(std::string_view upperName) const;
    // True when a parameter of that name holds the value (compared ignoring case).
    bool HasParamValue(std::string_view upperName, std::string_view value) const;
};

// Splits one logical line. False, with a reason in error, for a line without a
// colon after its name, an empty or malformed name, or a quote that is not closed.
bool ParseContentLine(std::string_view text, ContentLine& out, std::string& error);

// The line as text: "GROUP.NAME;PARAM=V1,V2:value" (parameter values quoted when
// they hold ":", ";" or ","), folded and ended with CRLF.
std::string FormatContentLine(const ContentLine& line);
// Folds text at kFoldWidth bytes per physical line (a continuation starts with a
// blank), keeping UTF-8 sequences whole; each physical line ends with CRLF.
std::string FoldLine(std::string_view text);

// ASCII upper case.
std::string Upper(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace vcard
