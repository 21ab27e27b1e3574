// HtmlToText: a single pass with one "last output was white space" flag.
#include "server/itemconv/html_to_text.h"

#include <cstdint>

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#';
}

// Case-insensitive test that text at pos begins with word (word is lower case).
bool StartsWithAt(std::string_view text, std::size_t pos, std::string_view word) {
    if (pos > text.size() || text.size() - pos < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (Lower(text[pos + i]) != word[i]) return false;
    }
    return true;
}

// True when the tag whose name starts at pos is exactly name (the name is followed
// by a blank, "/", ">" or the end of the text).
bool TagNameIs(std::string_view text, std::size_t pos, std::string_view name) {
    if (!StartsWithAt(text, pos, name)) return false;
    std::size_t after = pos + name.size();
    return after >= text.size() || IsBlank(text[after]) || text[after] == '/' || text[after] == '>';
}

// Position of the ">" that ends the tag starting at pos, or npos. A ">" inside a
// quoted attribute value does not end the tag; an unbalanced quote falls back to
// the first ">".
std::size_t TagEnd(std::string_view text, std::size_t pos) {
    for (std::size_t i = pos; i < text.size(); ++i) {
        if (text[i] == '>') return i;
        if (text[i] == '"' || text[i] == '\'') {
            std::size_t close = text.find(text[i], i + 1);
            if (close == std::string_view::npos) return text.find('>', pos);
            i = close;
        }
    }
    return std::string_view::npos;
}

// Case-insensitive search for needle (lower case) from pos.
std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t pos) {
    for (; pos + needle.size() <= text.size(); ++pos) {
        if (StartsWithAt(text, pos, needle)) return pos;
    }
    return std::string_view::npos;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Value of a numeric reference body ("#233", "#x41"): kMalformed when the body
// is not a number, kForbidden when it names no character that may be written.
constexpr long kMalformed = -2;
constexpr long kForbidden = -1;
long NumericReference(std::string_view name) {
    if (name.size() < 2 || name[0] != '#') return kMalformed;
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::size_t i = hex ? 2 : 1;
    if (i >= name.size()) return kMalformed;
    long value = 0;
    bool tooLarge = false;
    for (; i < name.size(); ++i) {
        char c = Lower(name[i]);
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return kMalformed;
        }
        if (!tooLarge) value = value * (hex ? 16 : 10) + digit;
        if (value > 0x10FFFF) tooLarge = true;
    }
    if (tooLarge || value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return kForbidden;
    return value;
}

class Renderer {
public:
    explicit Renderer(std::string_view in) : in_(in) { out_.reserve(in.size()); }

    std::string Run(std::size_t pos) {
        while (pos < in_.size()) {
            char c = in_[pos];
            if (c == '<') {
                pos = Tag(pos);
            } else if (c == '&') {
                pos = Entity(pos);
            } else if (c == ' ' || c == '\n' || c == '\r') {
                if (!white_) out_ += ' ';
                white_ = true;
                ++pos;
            } else {
                out_ += c;
                white_ = false;
                ++pos;
            }
        }
        return std::move(out_);
    }

private:
    // Handles the tag starting at pos; returns the position after it (the end of
    // the input when the tag is not closed).
    std::size_t Tag(std::size_t pos) {
        if (StartsWithAt(in_, pos, "<!--")) {
            std::size_t end = in_.find("-->", pos + 4);
            return end == std::string_view::npos ? in_.size() : end + 3;
        }
        std::size_t end = TagEnd(in_, pos);
        if (end == std::string_view::npos) return in_.size();
        std::size_t name = pos + 1;
        if (TagNameIs(in_, name, "br") || TagNameIs(in_, name, "/p")) {
            out_ += "\r\n";
        } else if (TagNameIs(in_, name, "style") || TagNameIs(in_, name, "script")) {
            std::string_view closing = Lower(in_[name + 1]) == 't' ? "</style" : "</script";
            std::size_t close = FindNoCase(in_, closing, end + 1);
            if (close == std::string_view::npos) return in_.size();
            std::size_t closeEnd = TagEnd(in_, close);
            return closeEnd == std::string_view::npos ? in_.size() : closeEnd + 1;
        }
        return end + 1;
    }

    // Handles the "&" at pos; returns the position after what was consumed.
    std::size_t Entity(std::size_t pos) {
        std::size_t i = pos + 1;
        while (i < in_.size() && i - (pos + 1) <= kMaxEntityLength && IsNameChar(in_[i])) ++i;
        std::size_t length = i - (pos + 1);
        if (i >= in_.size() || in_[i] != ';' || length == 0 || length > kMaxEntityLength) {
            out_ += '&';  // not an entity: the ampersand stays
            white_ = false;
            return pos + 1;
        }
        std::string_view name = in_.substr(pos + 1, length);
        std::string lower;
        for (char c : name) lower += Lower(c);
        if (lower == "nbsp") {
            out_ += ' ';
            white_ = true;
        } else if (lower[0] == '#') {
            long cp = NumericReference(name);
            if (cp > 0) {
                AppendUtf8(out_, static_cast<std::uint32_t>(cp));
                white_ = false;
            } else if (cp == kMalformed) {
                out_.append(in_.substr(pos, length + 2));
                white_ = false;
            }
        } else if (const char* text = Named(lower)) {
            out_ += text;
            white_ = false;
        } else {
            out_.append(in_.substr(pos, length + 2));  // unknown: kept as written
            white_ = false;
        }
        return i + 1;
    }

    static const char* Named(const std::string& name) {
        if (name == "amp") return "&";
        if (name == "lt") return "<";
        if (name == "gt") return ">";
        if (name == "quot") return "\"";
        if (name == "apos") return "'";
        return nullptr;
    }

    std::string_view in_;
    std::string out_;
    bool white_ = false;
};

// Position just after the body start tag, or 0 when the text has none.
std::size_t BodyStart(std::string_view html) {
    std::size_t pos = 0;
    while ((pos = FindNoCase(html, "<body", pos)) != std::string_view::npos) {
        if (TagNameIs(html, pos + 1, "body")) {
            std::size_t end = TagEnd(html, pos);
            return end == std::string_view::npos ? html.size() : end + 1;
        }
        pos += 5;
    }
    return 0;
}

}  // namespace

std::string HtmlToText(std::string_view html) noexcept {
    try {
        std::size_t nul = html.find('\0');
        if (nul != std::string_view::npos) html = html.substr(0, nul);
        Renderer renderer(html);
        return renderer.Run(BodyStart(html));
    } catch (...) {
        return std::string();
    }
}

std::string HtmlToText(const char* html) noexcept {
    return html == nullptr ? std::string() : HtmlToText(std::string_view(html));
}

bool LooksLikeHtml(std::string_view text) noexcept {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (StartsWithAt(text, pos, "<!doctype")) {
        std::size_t end = TagEnd(text, pos);
        if (end == std::string_view::npos) return false;
        pos = end + 1;
        while (pos < text.size() && IsBlank(text[pos])) ++pos;
    }
    return pos < text.size() && text[pos] == '<' && TagNameIs(text, pos + 1, "html");
}
