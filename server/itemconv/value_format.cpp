#include "server/itemconv/value_format.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/wbxml/text_convert.h"

namespace {

std::string Decimal(long long value) { return std::to_string(value); }

std::string Floating(double value) {
    char text[64];
    int n = std::snprintf(text, sizeof text, "%f", value);
    if (n >= 0 && static_cast<size_t>(n) < sizeof text) return text;
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), "%f", value);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::uint64_t FiletimeValue(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The decimal value of the leading digits (after blanks and an optional sign);
// false without a digit or when the value leaves the 64-bit range.
bool LeadingDecimal(std::string_view text, long long& value) {
    size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    size_t first = pos;
    long long v = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        if (v > (std::numeric_limits<long long>::max() - 9) / 10) return false;
        v = v * 10 + (text[pos] - '0');
    }
    if (pos == first) return false;
    value = negative ? -v : v;
    return true;
}

}  // namespace

std::string Base64Encode(const std::uint8_t* bytes, std::size_t length) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (length - i == 1) {
        std::uint32_t v = bytes[i] << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (length - i == 2) {
        std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string PropValueToElementText(const SPropValue& value, const CTimeZone& zone) {
    switch (PROP_TYPE(value.ulPropTag)) {
        case PT_I2:
            return Decimal(value.Value.i);
        case PT_LONG:
            return Decimal(static_cast<LONG>(value.Value.l));
        case PT_R4:
            return Floating(value.Value.flt);
        case PT_DOUBLE:
            return Floating(value.Value.dbl);
        case PT_BOOLEAN:
            return Decimal(value.Value.b);
        case PT_STRING8:
            return value.Value.lpszA ? ToUtf8(value.Value.lpszA) : std::string();
        case PT_SYSTIME:
            return StoreTimeToText(FiletimeValue(value.Value.ft), zone);
        case PT_BINARY:
            if (value.Value.bin.lpb == nullptr) return std::string();
            return Base64Encode(value.Value.bin.lpb, value.Value.bin.cb);
        case PT_MV_STRING8: {
            std::string joined;
            for (ULONG i = 0; i < value.Value.MVszA.cValues; ++i) {
                if (i > 0) joined += ", ";
                const char* piece =
                    value.Value.MVszA.lppszA ? value.Value.MVszA.lppszA[i] : nullptr;
                if (piece) joined += piece;
            }
            return ToUtf8(joined);
        }
        default:
            return std::string();
    }
}

std::vector<std::string> SplitMultiValueText(std::string_view text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        size_t end = comma == std::string_view::npos ? text.size() : comma;
        size_t a = start, b = end;
        while (a < b && IsBlank(text[a])) ++a;
        while (b > a && IsBlank(text[b - 1])) --b;
        if (b > a) pieces.emplace_back(text.substr(a, b - a));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return pieces;
}

ValueParse ElementTextToPropValue(ULONG tag, std::string_view text, const CTimeZone& zone,
                                  CPropValue& out) {
    switch (PROP_TYPE(tag)) {
        case PT_I2:
        case PT_BOOLEAN: {
            long long v = 0;
            if (!LeadingDecimal(text, v)) return ValueParse::kInvalid;
            std::uint16_t kept =
                static_cast<std::uint16_t>(static_cast<unsigned long long>(v) & 0xFFFF);
            SPropValue value{};
            value.ulPropTag = tag;
            if (PROP_TYPE(tag) == PT_I2) {
                value.Value.i = static_cast<short>(kept);
            } else {
                value.Value.b = kept;
            }
            out = CPropValue::Copy(value);
            return ValueParse::kOk;
        }
        case PT_LONG: {
            long long v = 0;
            if (!LeadingDecimal(text, v)) return ValueParse::kInvalid;
            if (v < std::numeric_limits<std::int32_t>::min() ||
                v > std::numeric_limits<std::int32_t>::max()) {
                return ValueParse::kInvalid;
            }
            out = CPropValue::Long(tag, static_cast<LONG>(v));
            return ValueParse::kOk;
        }
        case PT_STRING8:
            out = CPropValue::String8(tag, text);
            return ValueParse::kOk;
        case PT_SYSTIME: {
            std::optional<std::uint64_t> utc = TextToStoreTime(text, zone);
            if (!utc) return ValueParse::kInvalid;
            FILETIME ft;
            ft.dwLowDateTime = static_cast<DWORD>(*utc);
            ft.dwHighDateTime = static_cast<DWORD>(*utc >> 32);
            out = CPropValue::Time(tag, ft);
            return ValueParse::kOk;
        }
        case PT_MV_STRING8:
            out = CPropValue::MultiString8(tag, SplitMultiValueText(text));
            return ValueParse::kOk;
        default:
            return ValueParse::kUnsupportedType;
    }
}
