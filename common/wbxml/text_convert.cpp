// Text conversions: UTF-8 validation, the Windows-1252 reading, the locale's
// character set through iconv, and UTF-16.
#include "common/wbxml/text_convert.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

namespace {

// Windows-1252 bytes 0x80..0x9F; the unassigned ones keep their C1 value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendCodePoint(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when it is not one.
size_t SequenceLength(std::string_view text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b = byte(i);
    size_t left = text.size() - i;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return left >= 2 && (byte(i + 1) & 0xC0) == 0x80 ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        if (left < 3) return 0;
        unsigned char b1 = byte(i + 1);
        unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
        unsigned char hi = b == 0xED ? 0x9F : 0xBF;  // no surrogates
        if (b1 < lo || b1 > hi || (byte(i + 2) & 0xC0) != 0x80) return 0;
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (left < 4) return 0;
        unsigned char b1 = byte(i + 1);
        unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
        unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
        if (b1 < lo || b1 > hi || (byte(i + 2) & 0xC0) != 0x80 || (byte(i + 3) & 0xC0) != 0x80)
            return 0;
        return 4;
    }
    return 0;
}

char32_t DecodeSequence(std::string_view text, size_t i, size_t length) {
    auto byte = [&](size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(text[i + k]));
    };
    switch (length) {
        case 1:
            return byte(0);
        case 2:
            return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3:
            return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default:
            return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
                   (byte(3) & 0x3F);
    }
}

bool IsUtf8Like(std::string_view charset) {
    auto equalsIgnoringCase = [&](std::string_view other) {
        if (charset.size() != other.size()) return false;
        for (size_t i = 0; i < charset.size(); ++i) {
            char a = charset[i];
            if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
            if (a != other[i]) return false;
        }
        return true;
    };
    return equalsIgnoringCase("UTF-8") || equalsIgnoringCase("UTF8") ||
           equalsIgnoringCase("ANSI_X3.4-1968") || equalsIgnoringCase("ASCII") ||
           equalsIgnoringCase("US-ASCII");
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

IconvHandle OpenIconv(const std::string& to, const std::string& from) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return IconvHandle();
    return IconvHandle(cd);
}

// Converts all of input; on an input sequence the target cannot take, calls
// onInvalid(out, in, left), which must consume at least one byte. False when the
// conversion cannot go on.
template <typename OnInvalid>
bool RunIconv(iconv_t cd, std::string_view input, std::string& out, OnInvalid onInvalid) {
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t used = out.size();
    auto convert = [&](char** inPtr, size_t* inLeftPtr) {
        if (out.size() - used < 16) out.resize(used + 64);
        for (;;) {
            char* outPtr = out.data() + used;
            size_t outLeft = out.size() - used;
            size_t rc = iconv(cd, inPtr, inLeftPtr, &outPtr, &outLeft);
            used = static_cast<size_t>(outPtr - out.data());
            if (rc != static_cast<size_t>(-1)) return 0;
            if (errno != E2BIG) return errno;
            // Output full: grow, whatever was written.
            out.resize(std::max<size_t>(out.size() * 2, used + 64));
        }
    };
    while (inLeft > 0) {
        int error = convert(&in, &inLeft);
        if (error == 0) continue;
        if (error != EILSEQ && error != EINVAL) return false;
        out.resize(used);
        if (!onInvalid(out, in, inLeft)) return false;
        used = out.size();
    }
    bool flushed = convert(nullptr, nullptr) == 0;
    out.resize(used);
    return flushed;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        // ASCII is the common case: eight bytes at a time.
        if (size - i >= 8) {
            uint64_t block;
            std::memcpy(&block, text.data() + i, 8);
            if ((block & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        size_t n = SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string Windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (char ch : text) {
        unsigned char b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b <= 0x9F)
            AppendCodePoint(out, kCp1252High[b - 0x80]);
        else
            AppendCodePoint(out, b);
    }
    return out;
}

char32_t Windows1252CodePoint(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80] : byte;
}

int Windows1252Byte(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return static_cast<int>(codePoint);
    if (codePoint < 0x100) return -1;  // C1 controls
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == codePoint) return 0x80 + i;
    }
    return -1;
}

void AppendUtf8(std::string& out, char32_t codePoint) { AppendCodePoint(out, codePoint); }

std::string RepairUtf8(std::string_view text) {
    if (IsValidUtf8(text)) return std::string(text);
    return Windows1252ToUtf8(text);
}

bool AnsiCharsetIsUtf8() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset == nullptr || *codeset == 0 || IsUtf8Like(codeset);
}

std::string AnsiCharset() {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || *codeset == 0) return "UTF-8";
    if (IsUtf8Like(codeset)) return "UTF-8";
    return codeset;
}

std::string ToUtf8(std::string_view text) { return AnsiToUtf8(text, AnsiCharset()); }

std::string FromUtf8(std::string_view text) { return Utf8ToAnsi(text, AnsiCharset()); }

std::string AnsiToUtf8(std::string_view text, std::string_view charset) {
    if (IsUtf8Like(charset)) return RepairUtf8(text);
    IconvHandle cd = OpenIconv("UTF-8", std::string(charset));
    std::string out;
    out.reserve(text.size());
    if (!cd || !RunIconv(cd.get(), text, out, [](std::string&, char*&, size_t&) { return false; }))
        return Windows1252ToUtf8(text);
    return out;
}

std::string Utf8ToAnsi(std::string_view text, std::string_view charset) {
    std::string utf8 = RepairUtf8(text);
    if (IsUtf8Like(charset)) return utf8;
    IconvHandle cd = OpenIconv(std::string(charset), "UTF-8");
    if (!cd) return utf8;
    std::string out;
    out.reserve(utf8.size());
    // The input is valid UTF-8, so an invalid sequence is a character the target
    // lacks: write "?" and step over the whole character.
    auto replace = [&utf8](std::string& o, char*& in, size_t& left) {
        size_t at = static_cast<size_t>(in - utf8.data());
        size_t n = SequenceLength(utf8, at);
        if (n == 0 || n > left) n = 1;
        o.push_back('?');
        in += n;
        left -= n;
        return true;
    };
    if (!RunIconv(cd.get(), utf8, out, replace)) return utf8;
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendCodePoint(out, c);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::string repaired;
    if (!IsValidUtf8(text)) {
        repaired = Windows1252ToUtf8(text);
        text = repaired;
    }
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t n = SequenceLength(text, i);
        char32_t c = DecodeSequence(text, i, n);
        i += n;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}
