// DumpMessage for the forwarding log.
#include "server/http/dump_message.h"

#include <cstdio>
#include <sstream>

#include "common/wbxml/wbxml.h"

namespace {

constexpr size_t kBytesPerLine = 15;

void AppendPadded(std::string& out, std::string_view text, size_t width) {
    out.append(text);
    if (text.size() < width) out.append(width - text.size(), ' ');
}

size_t ParseLength(const std::string& value) {
    size_t n = 0;
    size_t i = 0;
    while (i < value.size() && value[i] == ' ') ++i;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        if (n > (SIZE_MAX - 9) / 10) return SIZE_MAX;
        n = n * 10 + static_cast<size_t>(value[i] - '0');
    }
    return n;
}

}  // namespace

std::string HexDump(std::string_view bytes) {
    std::string out;
    for (size_t start = 0; start < bytes.size(); start += kBytesPerLine) {
        size_t n = std::min(kBytesPerLine, bytes.size() - start);
        std::string hex;
        std::string chars;
        for (size_t i = 0; i < n; ++i) {
            unsigned char b = static_cast<unsigned char>(bytes[start + i]);
            char piece[4];
            std::snprintf(piece, sizeof piece, "%02x ", b);
            hex += piece;
            chars += (b < 32 || b > 127) ? '.' : static_cast<char>(b);
        }
        if (n == kBytesPerLine) {
            AppendPadded(out, std::to_string(start), 8);
            out += ' ';
        }
        AppendPadded(out, hex, 40);
        out += ' ';
        out += chars;
        out += '\n';
    }
    return out;
}

std::string DumpMessage(const CHTMLCommand& message, std::string_view raw, bool isRequest) {
    std::string out;
    if (isRequest) {
        out += message.Method() + " " + message.URL() + " " + message.Version();
    } else {
        out.append(raw.substr(0, raw.find_first_of("\r\n")));
        out += '\n';
    }
    for (const CHTMLField& parameter : message.Parameters()) {
        out += "par ";
        AppendPadded(out, parameter.name, 40);
        out += ' ';
        AppendPadded(out, parameter.value, 40);
        out += '\n';
    }
    for (const CHTMLField& field : message.Fields()) {
        AppendPadded(out, field.name, 40);
        out += ' ';
        AppendPadded(out, field.value, 40);
        out += '\n';
    }
    std::string_view body = message.BodyView();
    if (body.empty()) return out;
    std::string contentType = message.GetHeader("Content-Type");
    if (contentType.compare(0, 4, "text") == 0) {
        out.append(body);
        out += '\n';
        return out;
    }
    size_t count = body.size();
    std::string length = message.GetHeader("Content-Length");
    if (!length.empty()) count = std::min(count, ParseLength(length));
    out += HexDump(body.substr(0, count));
    if (contentType == "application/vnd.ms-sync.wbxml") {
        std::ostringstream dump;
        CWBXML wbxml;
        wbxml.DumpDocument(dump, body);
        out += dump.str();
    }
    return out;
}
