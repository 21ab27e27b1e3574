#include "common/base/text.h"

#include <charconv>
#include <cstdio>
#include <limits>

std::string AsciiLowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

std::string AsciiUpperCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiUpper(c);
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view needle, std::size_t pos) {
    for (; pos + needle.size() <= text.size(); ++pos) {
        if (EqualsIgnoringCase(text.substr(pos, needle.size()), needle)) return pos;
    }
    return std::string_view::npos;
}

void AppendHexByte(std::string& out, unsigned char byte) {
    out.push_back(kUpperHexDigits[byte >> 4]);
    out.push_back(kUpperHexDigits[byte & 15]);
}

std::string HexEncode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) AppendHexByte(out, b);
    return out;
}

std::optional<std::string> HexDecode(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = HexDigitValue(text[i]);
        int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

void AppendHexNumber(std::string& out, std::uint64_t value, int digits) {
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        out[start + static_cast<std::size_t>(i)] = kUpperHexDigits[value & 15];
        value >>= 4;
    }
}

std::string HexNumber(std::uint64_t value, int digits) {
    std::string out;
    AppendHexNumber(out, value, digits);
    return out;
}

std::optional<std::uint64_t> ParseHexNumber(std::string_view text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int d = HexDigitValue(c);
        if (d < 0) return std::nullopt;
        value = (value << 4) | static_cast<std::uint64_t>(d);
    }
    return value;
}

std::string DecodeEscapedHex(std::string_view text, char escape) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == escape && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            out.push_back(
                static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::int32_t LeadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kHigh + 1) value = kHigh + 1;
    }
    if (negative) value = -value;
    if (value > kHigh) return static_cast<std::int32_t>(kHigh);
    if (value < kLow) return static_cast<std::int32_t>(kLow);
    return static_cast<std::int32_t>(value);
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::string FormatArgs(const char* format, std::va_list args) {
    std::va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) return std::string();
    std::string text(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(needed));
    return text;
}

std::vector<std::string_view> SplitSkippingEmpty(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == separator) ++i;
        if (i >= text.size()) break;
        std::size_t end = text.find(separator, i);
        if (end == std::string_view::npos) end = text.size();
        pieces.push_back(text.substr(i, end - i));
        i = end;
    }
    return pieces;
}

std::string_view TakeLine(std::string_view& rest) {
    std::size_t end = rest.find('\n');
    std::size_t length = end == std::string_view::npos ? rest.size() : end + 1;
    std::string_view line = rest.substr(0, length);
    rest.remove_prefix(length);
    return line;
}
