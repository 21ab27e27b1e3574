// CWBXML: the readable dump of a document, as written to the WBXML log.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "common/wbxml/wbxml.h"
#include "platform/win/message_box.h"

namespace {

constexpr const char* kCutLine = "---------------------- cut -----------------\n";
constexpr size_t kTagColumn = 40;

int32_t ReadInt32(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void CWBXML::DumpDocument(std::ostream& out, const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (bytes == nullptr) length = 0;
    for (size_t i = 0; i < kHeaderSize; ++i) header_[i] = i < length ? bytes[i] : 0;
    try {
        out << "Version = " << header_[0] << "\n"
            << "Identifier = " << header_[1] << "\n"
            << "Charset = " << header_[2] << "\n"
            << "StringTable = " << header_[3] << "\n"
            << kCutLine << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
        if (length > kHeaderSize) DumpTokens(out, bytes + kHeaderSize, length - kHeaderSize);
    } catch (...) {
        ShowMessageBox("catch");
        // The closing line is still attempted; a stream that keeps failing is left
        // failed for the caller to see.
        out.clear();
    }
    try {
        out << kCutLine;
    } catch (...) {
    }
}

void CWBXML::DumpTokens(std::ostream& out, const unsigned char* data, size_t length) {
    int32_t page = 0;
    std::vector<std::string_view> names;
    std::string indent;
    std::string line;
    size_t at = 0;
    while (at < length) {
        const unsigned char b = data[at++];
        switch (b) {
            case 0x00:
                if (at >= length) return;
                page = data[at++];
                break;
            case 0x01:
                if (!names.empty()) {
                    out << indent << "</" << names.back() << ">\n";
                    names.pop_back();
                } else {
                    out << indent << "</*>\n";
                }
                if (!indent.empty()) indent.pop_back();
                break;
            case 0x02:
            case 0x04: {
                if (length - at < 4) return;
                const int32_t value = ReadInt32(data + at);
                at += 4;
                if (b == 0x02)
                    out << indent << "char idenitiy " << value << "\n";
                else
                    out << indent << "'" << value << "'";
                break;
            }
            case 0x03: {
                const auto* zero =
                    static_cast<const unsigned char*>(std::memchr(data + at, 0, length - at));
                if (zero == nullptr) return;
                out << indent << "'";
                out.write(reinterpret_cast<const char*>(data + at), zero - (data + at));
                out << "'";
                at = static_cast<size_t>(zero - data) + 1;
                break;
            }
            default: {
                const std::string_view name = TagName(page, b & 0x3F);
                if (b & 0x40) {
                    if (names.size() >= static_cast<size_t>(kMaxDepth)) return;
                    names.push_back(name);
                    indent.push_back(' ');
                }
                line.clear();
                line.push_back('<');
                line.append(name.data(), name.size());
                line.push_back('>');
                if (line.size() < kTagColumn) line.append(kTagColumn - line.size(), ' ');
                out << indent << line << (at < length && data[at] == 0x03 ? "\t" : "\n");
                break;
            }
        }
    }
}
