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

std::string Windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (char ch : text) {
        unsigned char b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b <= 0x9F)
            AppendUtf8(out, kCp1252High[b - 0x80]);
        else
            AppendUtf8(out, b);
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
        size_t n = Utf8SequenceLength(utf8, at);
        if (n == 0 || n > left) n = 1;
        o.push_back('?');
        in += n;
        left -= n;
        return true;
    };
    if (!RunIconv(cd.get(), utf8, out, replace)) return utf8;
    return out;
}
