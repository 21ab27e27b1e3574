// Escaping and cutting of outside text for logs and stored values.
#include "server/config/log_text.h"

#include "common/base/text.h"

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

void AppendHexEscape(std::string& out, unsigned char c) {
    out += "\\x";
    AppendHexByte(out, c);
}

}  // namespace

void CLogEscaper::Append(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size());
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\r' || c == '\n') {
            out += ch;
            lineStart_ = true;
            continue;
        }
        if ((IsControl(c) && c != '\t') || (c == '!' && lineStart_)) {
            AppendHexEscape(out, c);
        } else {
            out += ch;
        }
        lineStart_ = false;
    }
}

std::string EscapeLogText(std::string_view text) {
    std::string out;
    CLogEscaper().Append(out, text);
    return out;
}

std::string DropControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (!IsControl(static_cast<unsigned char>(ch))) out += ch;
    }
    return out;
}

std::string EscapeTraceLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (IsControl(c) && c != '\t') {
            AppendHexEscape(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

std::string OneLineValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (ch == '\r' || ch == '\n') {
            out += ' ';
        } else if (!IsControl(static_cast<unsigned char>(ch))) {
            out += ch;
        }
    }
    return out;
}

std::string NotLoggedLine(size_t count, std::string_view lineEnd) {
    std::string line = "[... " + std::to_string(count) + " more bytes not logged]";
    line.append(lineEnd);
    return line;
}

std::string CutForLog(std::string_view text, size_t maxBytes, std::string_view lineEnd) {
    if (text.size() <= maxBytes) return std::string(text);
    std::string out(text.substr(0, maxBytes));
    if (!out.empty() && out.back() != '\n') out.append(lineEnd);
    out += NotLoggedLine(text.size() - maxBytes, lineEnd);
    return out;
}
