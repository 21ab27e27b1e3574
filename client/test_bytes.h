// Test helper: WBXML documents of the protocol written byte by byte, so that tests
// compare whole documents with what the client writes or reads.
#pragma once

#include <string>

#include "client/sync_item.h"

namespace testbytes {

inline std::string B(const char* bytes, size_t n) { return std::string(bytes, n); }
// A text element on the current page: tag byte, inline string, end.
inline std::string T(int token, const std::string& text) {
    return std::string(1, static_cast<char>(token | 0x40)) + "\x03" + text + B("\x00\x01", 2);
}
// A start tag with content on the current page.
inline std::string S(int token) { return std::string(1, static_cast<char>(token | 0x40)); }
// A page switch.
inline std::string P(int page) { return B("\x00", 1) + std::string(1, static_cast<char>(page)); }
const std::string kEnd = "\x01";
const std::string kHeader = B("\x03\x01\x6A\x00", 4);

}  // namespace testbytes
