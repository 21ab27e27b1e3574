// Logical lines, their parts and folding.
#include "common/vcard/content_line.h"

namespace vcard {

namespace {

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// True when the line's parameters (before the first colon outside quotes) name
// quoted-printable, so that a final "=" is a soft line break.
bool IsQuotedPrintableLine(std::string_view line) {
    bool quoted = false;
    std::size_t end = line.size();
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ':' && !quoted) {
            end = i;
            break;
        }
    }
    std::string head = Upper(line.substr(0, end));
    return head.find("QUOTED-PRINTABLE") != std::string::npos;
}

}  // namespace

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool ContentLineReader::ReadPhysical(std::string& out, bool& tooLong) {
    out.clear();
    tooLong = false;
    std::streambuf* buf = in_.rdbuf();
    if (buf == nullptr) return false;
    bool any = false;
    for (;;) {
        int c = buf->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            if (!any) return false;
            break;
        }
        any = true;
        if (c == '\n') break;
        if (c == '\r') {
            if (buf->sgetc() == '\n') buf->sbumpc();
            break;
        }
        if (out.size() < limit_)
            out.push_back(static_cast<char>(c));
        else
            tooLong = true;
    }
    ++lineNumber_;
    return true;
}

ContentLineReader::Result ContentLineReader::Next(std::string& line, std::size_t& firstLine) {
    std::string physical;
    bool tooLong = false;
    // Find the start of a logical line.
    for (;;) {
        if (havePending_) {
            line.swap(pending_);
            tooLong = pendingTooLong_;
            firstLine = pendingLine_;
            havePending_ = false;
        } else {
            if (!ReadPhysical(line, tooLong)) return Result::kEnd;
            firstLine = lineNumber_;
        }
        if (!line.empty() || tooLong) break;
    }
    bool qp = IsQuotedPrintableLine(line);
    for (;;) {
        // A soft line break of a quoted-printable value joins the next line as it is.
        bool soft = qp && !line.empty() && line.back() == '=';
        bool more = false;
        bool physTooLong = false;
        if (!ReadPhysical(physical, physTooLong)) break;
        if (soft) {
            line.pop_back();
            more = true;
        } else if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t')) {
            physical.erase(0, 1);
            more = true;
        }
        if (!more) {
            pending_.swap(physical);
            pendingTooLong_ = physTooLong;
            pendingLine_ = lineNumber_;
            havePending_ = true;
            break;
        }
        if (physTooLong || line.size() + physical.size() > limit_) {
            tooLong = true;
        } else if (!tooLong) {
            line += physical;
        }
    }
    if (tooLong) {
        line.clear();
        return Result::kTooLong;
    }
    return Result::kLine;
}

const ContentParam* ContentLine::Param(std::string_view upperName) const {
    for (const ContentParam& p : params)
        if (p.name == upperName) return &p;
    return nullptr;
}

bool ContentLine::HasParamValue(std::string_view upperName, std::string_view value) const {
    for (const ContentParam& p : params) {
        if (p.name != upperName) continue;
        for (const std::string& v : p.values)
            if (EqualsIgnoreCase(v, value)) return true;
    }
    return false;
}

bool ParseContentLine(std::string_view text, ContentLine& out, std::string& error) {
    out = ContentLine();
    std::size_t i = 0;
    while (i < text.size() && (IsNameChar(text[i]) || text[i] == '.')) ++i;
    std::string_view fullName = text.substr(0, i);
    if (fullName.empty()) {
        error = "no property name";
        return false;
    }
    std::size_t dot = fullName.rfind('.');
    if (dot != std::string_view::npos) {
        out.group = std::string(fullName.substr(0, dot));
        fullName = fullName.substr(dot + 1);
    }
    if (fullName.empty()) {
        error = "no property name";
        return false;
    }
    out.name = Upper(fullName);
    while (i < text.size() && text[i] == ';') {
        ++i;
        ContentParam param;
        std::size_t start = i;
        while (i < text.size() && IsNameChar(text[i])) ++i;
        std::string name = Upper(text.substr(start, i - start));
        // Blanks around "=" occur in 2.1 files.
        std::size_t j = i;
        while (j < text.size() && text[j] == ' ') ++j;
        if (j < text.size() && text[j] == '=') {
            param.name = name;
            i = j + 1;
            while (i < text.size() && text[i] == ' ') ++i;
            std::string current;
            bool any = false;
            for (;;) {
                if (i < text.size() && text[i] == '"') {
                    std::size_t close = text.find('"', i + 1);
                    if (close == std::string_view::npos) {
                        error = "a parameter quote is not closed";
                        return false;
                    }
                    current += text.substr(i + 1, close - i - 1);
                    i = close + 1;
                    any = true;
                    continue;
                }
                if (i >= text.size() || text[i] == ';' || text[i] == ':') {
                    param.values.push_back(current);
                    break;
                }
                if (text[i] == ',') {
                    param.values.push_back(current);
                    current.clear();
                    ++i;
                    continue;
                }
                current.push_back(text[i]);
                ++i;
                any = true;
            }
            (void)any;
        } else {
            if (name.empty()) {
                error = "an empty parameter";
                return false;
            }
            param.values.push_back(name);  // 2.1: "TEL;WORK;VOICE:"
        }
        out.params.push_back(std::move(param));
    }
    if (i >= text.size() || text[i] != ':') {
        error = "no ':' after the property name";
        return false;
    }
    out.value = std::string(text.substr(i + 1));
    return true;
}

std::string FoldLine(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / kFoldWidth * 3 + 2);
    std::size_t width = 0;
    std::size_t limit = kFoldWidth;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80           ? 1
                          : (c >> 5) == 0x6  ? 2
                          : (c >> 4) == 0xE  ? 3
                          : (c >> 3) == 0x1E ? 4
                                             : 1;
        if (i + len > text.size()) len = text.size() - i;
        if (width + len > limit) {
            out += "\r\n ";
            width = 0;
            limit = kFoldWidth - 1;
        }
        out.append(text.substr(i, len));
        width += len;
        i += len;
    }
    out += "\r\n";
    return out;
}

std::string FormatContentLine(const ContentLine& line) {
    std::string text;
    if (!line.group.empty()) text += line.group + ".";
    text += line.name;
    for (const ContentParam& p : line.params) {
        text += ";";
        if (!p.name.empty()) text += p.name + "=";
        for (std::size_t k = 0; k < p.values.size(); ++k) {
            if (k) text += ",";
            const std::string& v = p.values[k];
            bool quote = v.find_first_of(":;,") != std::string::npos;
            if (quote) text += "\"";
            text += v;
            if (quote) text += "\"";
        }
    }
    text += ":";
    text += line.value;
    return FoldLine(text);
}

}  // namespace vcard
