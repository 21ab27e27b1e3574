// Small text helpers every layer shares: ASCII case folding, hexadecimal digits,
// percent escapes, decimal integers and printf-style formatting.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// 'A'..'Z' become 'a'..'z'; every other byte stays as it is (no locale).
constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string AsciiLowerCopy(std::string_view text);
std::string AsciiUpperCopy(std::string_view text);

bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);
// First place at or after pos where needle stands in text, ignoring ASCII case; npos if none.
std::size_t FindIgnoringCase(std::string_view text, std::string_view needle, std::size_t pos = 0);

// Value of one hexadecimal digit (either case), or -1.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// Two upper-case digits a byte, most significant first.
std::string HexEncode(std::string_view bytes);
void AppendHexByte(std::string& out, unsigned char byte);
// The bytes of an even count of hexadecimal digits (either case); none on any other text.
std::optional<std::string> HexDecode(std::string_view text);
// value in exactly `digits` upper-case digits (the high ones dropped when it does not fit).
std::string HexNumber(std::uint64_t value, int digits);
// HexNumber appended to out.
void AppendHexNumber(std::string& out, std::uint64_t value, int digits);
// An unsigned number of 1 to 16 hexadecimal digits and nothing else.
std::optional<std::uint64_t> ParseHexNumber(std::string_view text);

// Every `escape` followed by two hexadecimal digits becomes the byte they encode;
// anything else, including a lone or malformed escape, is kept as it stands.
std::string DecodeEscapedHex(std::string_view text, char escape = '%');
inline std::string PercentDecode(std::string_view text) { return DecodeEscapedHex(text, '%'); }

// The first line of rest, its LF included, taken off the front of rest (all of
// rest when it holds no LF).
std::string_view TakeLine(std::string_view& rest);

// The pieces of text between separators; runs of separators, and separators at
// either end, give no empty pieces.
std::vector<std::string_view> SplitSkippingEmpty(std::string_view text, char separator);

// Leading decimal integer after blanks and an optional sign ("12x" is 12, no
// digits give 0), clamped to the range of 32 bits.
std::int32_t LeadingInteger(std::string_view text);
// A whole decimal integer (optional '-' or '+', digits, nothing else) in the range of 64 bits.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// What vsnprintf writes for format and args (args is used up); empty when it fails.
std::string FormatArgs(const char* format, std::va_list args) __attribute__((format(printf, 1, 0)));
