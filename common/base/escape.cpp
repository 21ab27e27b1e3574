#include "common/base/escape.h"

std::string JsonQuote(std::string_view text, JsonLineBreaks lineBreaks) {
    const bool shortForms = lineBreaks == JsonLineBreaks::kShort;
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (shortForms && c == '\n') {
            out += "\\n";
        } else if (shortForms && c == '\r') {
            out += "\\r";
        } else if (shortForms && c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            out += "\\u00";
            out.push_back(static_cast<char>('0' + (c >> 4)));
            out.push_back("0123456789abcdef"[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

std::string BackslashEscape(std::string_view text, std::string_view alsoEscaped) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (alsoEscaped.find(c) != std::string_view::npos) {
            out.push_back('\\');
            out.push_back(c == '\t' ? 't' : c);
        } else {
            out.push_back(c);
        }
    }
    return out;
}
