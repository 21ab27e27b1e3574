// HtmlToText: a single pass that keeps the state of the line being written.
#include "server/itemconv/html_to_text.h"

#include <cstdint>
#include <vector>

#include "common/base/text.h"
#include "common/wbxml/text_convert.h"
#include "server/itemconv/html_entities.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#';
}

bool IsTagNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Case-insensitive test that text at pos begins with word (word is lower case).
bool StartsWithAt(std::string_view text, std::size_t pos, std::string_view word) {
    return pos <= text.size() && StartsWithIgnoringCase(text.substr(pos), word);
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
        char c = AsciiLower(name[i]);
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
    if (tooLarge || (value >= 0xD800 && value <= 0xDFFF)) return kForbidden;
    // Generated HTML names the Windows-1252 characters by their byte (&#146; for
    // the apostrophe), as browsers show them.
    if (value >= 0x80 && value <= 0x9F) value = static_cast<long>(Windows1252CodePoint(value));
    // Control characters other than the white space ones have no place in text.
    bool control = value < 0x20 || (value >= 0x7F && value <= 0x9F);
    if (control && value != '\t' && value != '\n' && value != '\r') return kForbidden;
    return value;
}

enum class Block {
    kNone,
    kPlain,  // ends the line before and after
    kList,
    kItem,
    kQuote,
    kPre,
    kTable,
    kRow,
    kCell,
    kSkip,  // contents dropped up to the closing tag
};

Block BlockOf(std::string_view name) {
    static constexpr std::string_view kPlainBlocks[] = {
        "p",      "div",    "h1",  "h2",    "h3",     "h4",      "h5",         "h6",
        "dl",     "dt",     "dd",  "hr",    "center", "address", "section",    "article",
        "header", "footer", "nav", "aside", "main",   "figure",  "figcaption", "caption"};
    for (std::string_view b : kPlainBlocks) {
        if (name == b) return Block::kPlain;
    }
    if (name == "ul" || name == "ol") return Block::kList;
    if (name == "li") return Block::kItem;
    if (name == "blockquote") return Block::kQuote;
    if (name == "pre") return Block::kPre;
    if (name == "table") return Block::kTable;
    if (name == "tr") return Block::kRow;
    if (name == "td" || name == "th") return Block::kCell;
    if (name == "style" || name == "script" || name == "title") return Block::kSkip;
    return Block::kNone;
}

class Renderer {
public:
    Renderer(std::string_view in, TextEncoding encoding) : in_(in), encoding_(encoding) {
        out_.reserve(in.size());
    }

    std::string Run(std::size_t pos) {
        while (pos < in_.size()) {
            char c = in_[pos];
            if (c == '<') {
                pos = Tag(pos);
            } else if (c == '&') {
                pos = Entity(pos);
            } else if (c == ' ' || c == '\n' || c == '\r') {
                WhiteSpace(c);
                ++pos;
            } else {
                Emit(std::string_view(&in_[pos], 1));
                ++pos;
            }
        }
        return std::move(out_);
    }

private:
    // Text of the line: the quoting prefix first when the line is new.
    void Emit(std::string_view text) {
        if (lineStart_) {
            for (int i = 0; i < quoteDepth_; ++i) out_ += "> ";
            lineStart_ = false;
        }
        out_ += text;
        white_ = false;
        preFirst_ = false;
    }

    void WhiteSpace(char c) {
        if (preDepth_ > 0) {
            if (c == '\r') return;
            if (c == '\n') {
                if (!preFirst_) EndLine();
                preFirst_ = false;
                return;
            }
            Emit(" ");
            return;
        }
        if (!white_) {
            Emit(" ");
            white_ = true;
        }
    }

    void EndLine() {
        if (!lineStart_ && white_ && preDepth_ == 0 && !out_.empty() && out_.back() == ' ') {
            out_.pop_back();
        }
        if (lineStart_ && quoteDepth_ > 0) {
            for (int i = 0; i < quoteDepth_; ++i) out_ += i + 1 < quoteDepth_ ? "> " : ">";
        }
        out_ += "\r\n";
        lineStart_ = true;
        white_ = true;
    }

    // Ends the line when it holds text.
    void Break() {
        if (!lineStart_) EndLine();
    }

    // One level deeper at an opening tag, one out at a closing one (never below 0).
    static void Nest(int& depth, bool closing) {
        if (!closing)
            ++depth;
        else if (depth > 0)
            --depth;
    }

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
        bool closing = name < in_.size() && in_[name] == '/';
        if (closing) ++name;
        std::string tag;
        while (name < end && IsTagNameChar(in_[name]) && tag.size() < 16)
            tag += AsciiLower(in_[name++]);
        if (name < end && IsTagNameChar(in_[name])) return end + 1;  // no name we know
        if (tag == "br") {
            EndLine();
            return end + 1;
        }
        const Block block = BlockOf(tag);
        // A block starts and ends a line of its own; a cell stays on its row's line.
        if (block != Block::kNone && block != Block::kCell && block != Block::kSkip) Break();
        switch (block) {
            case Block::kNone:
            case Block::kPlain:
                break;
            case Block::kList:
                Nest(listDepth_, closing);
                break;
            case Block::kItem:
                if (!closing) {
                    Emit(std::string(
                             2 * static_cast<std::size_t>(listDepth_ > 1 ? listDepth_ - 1 : 0),
                             ' ') +
                         "- ");
                    white_ = true;
                }
                break;
            case Block::kQuote:
                Nest(quoteDepth_, closing);
                break;
            case Block::kPre:
                Nest(preDepth_, closing);
                preFirst_ = !closing;  // a line end right after <pre> is not text
                break;
            case Block::kTable:
                if (closing) {
                    if (!cells_.empty()) cells_.pop_back();
                } else {
                    cells_.push_back(0);
                }
                break;
            case Block::kRow:
                if (!cells_.empty()) cells_.back() = 0;
                break;
            case Block::kCell:
                if (!closing) {
                    if (cells_.empty()) cells_.push_back(0);
                    if (cells_.back()++ > 0) {
                        if (!lineStart_ && white_ && !out_.empty() && out_.back() == ' ')
                            out_.pop_back();
                        Emit("\t");
                        white_ = true;
                    }
                }
                break;
            case Block::kSkip:
                if (!closing) return Skip(tag, end);
                break;
        }
        return end + 1;
    }

    // Drops everything up to the end of the element named tag, whose start tag
    // ends at end.
    std::size_t Skip(const std::string& tag, std::size_t end) {
        std::size_t close = FindIgnoringCase(in_, "</" + tag, end + 1);
        if (close == std::string_view::npos) return in_.size();
        std::size_t closeEnd = TagEnd(in_, close);
        return closeEnd == std::string_view::npos ? in_.size() : closeEnd + 1;
    }

    void EmitCodePoint(char32_t cp) {
        if (cp == '\n' || cp == '\r' || cp == ' ') {
            WhiteSpace(static_cast<char>(cp));
            return;
        }
        std::string bytes;
        if (encoding_ == TextEncoding::kUtf8) {
            AppendUtf8(bytes, cp);
        } else {
            int b = Windows1252Byte(cp);
            bytes.assign(1, b < 0 ? '?' : static_cast<char>(b));
        }
        Emit(bytes);
    }

    // Handles the "&" at pos; returns the position after what was consumed.
    std::size_t Entity(std::size_t pos) {
        std::size_t i = pos + 1;
        while (i < in_.size() && i - (pos + 1) <= kMaxEntityLength && IsNameChar(in_[i])) ++i;
        std::size_t length = i - (pos + 1);
        if (i >= in_.size() || in_[i] != ';' || length == 0 || length > kMaxEntityLength) {
            Emit("&");  // not an entity: the ampersand stays
            return pos + 1;
        }
        std::string_view name = in_.substr(pos + 1, length);
        if (name[0] == '#') {
            long cp = NumericReference(name);
            if (cp >= 0) {
                EmitCodePoint(static_cast<char32_t>(cp));
            } else if (cp == kMalformed) {
                Emit(in_.substr(pos, length + 2));
            }
        } else if (std::optional<char32_t> cp = HtmlEntityCodePoint(name)) {
            if (*cp == 0xA0) {
                // A non-breaking space reads as a blank that counts as white space.
                Emit(" ");
                white_ = true;
            } else {
                EmitCodePoint(*cp);
            }
        } else {
            Emit(in_.substr(pos, length + 2));  // unknown: kept as written
        }
        return i + 1;
    }

    std::string_view in_;
    TextEncoding encoding_;
    std::string out_;
    bool white_ = true;      // the last output was white space (or a line end)
    bool lineStart_ = true;  // nothing written on the current line yet
    int quoteDepth_ = 0;
    int listDepth_ = 0;
    int preDepth_ = 0;
    bool preFirst_ = false;
    std::vector<int> cells_;  // cells written in the current row, per open table
};

// Position just after the body start tag, or 0 when the text has none.
std::size_t BodyStart(std::string_view html) {
    std::size_t pos = 0;
    while ((pos = FindIgnoringCase(html, "<body", pos)) != std::string_view::npos) {
        if (TagNameIs(html, pos + 1, "body")) {
            std::size_t end = TagEnd(html, pos);
            return end == std::string_view::npos ? html.size() : end + 1;
        }
        pos += 5;
    }
    return 0;
}

}  // namespace

TextEncoding TextEncodingOf(std::string_view text) noexcept {
    return IsValidUtf8(text) ? TextEncoding::kUtf8 : TextEncoding::kWindows1252;
}

std::string HtmlToText(std::string_view html, TextEncoding encoding) noexcept {
    try {
        std::size_t nul = html.find('\0');
        if (nul != std::string_view::npos) html = html.substr(0, nul);
        Renderer renderer(html, encoding);
        return renderer.Run(BodyStart(html));
    } catch (...) {
        return std::string();
    }
}

std::string HtmlToText(std::string_view html) noexcept {
    std::size_t nul = html.find('\0');
    if (nul != std::string_view::npos) html = html.substr(0, nul);
    return HtmlToText(html, TextEncodingOf(html));
}

std::string HtmlToText(const char* html) noexcept {
    return html == nullptr ? std::string() : HtmlToText(std::string_view(html));
}

std::string HtmlBodyToUtf8(std::string_view html) noexcept {
    try {
        std::size_t nul = html.find('\0');
        if (nul != std::string_view::npos) html = html.substr(0, nul);
        if (!AnsiCharsetIsUtf8()) return HtmlToText(ToUtf8(html), TextEncoding::kUtf8);
        TextEncoding encoding = TextEncodingOf(html);
        std::string text = HtmlToText(html, encoding);
        return encoding == TextEncoding::kUtf8 ? text : Windows1252ToUtf8(text);
    } catch (...) {
        return std::string();
    }
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

bool HeadersSayHtml(std::string_view headers) noexcept {
    // The media type at pos: "text/html" followed by its end, a ";" or a blank.
    auto isHtml = [&headers](std::size_t pos) {
        if (!StartsWithAt(headers, pos, "text/html")) return false;
        std::size_t after = pos + 9;
        return after == headers.size() || headers[after] == ';' || IsBlank(headers[after]);
    };
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t eol = headers.find('\n', pos);
        std::size_t lineEnd = eol == std::string_view::npos ? headers.size() : eol;
        if (lineEnd == pos || (lineEnd == pos + 1 && headers[pos] == '\r'))
            return false;  // the end of the header block
        if (StartsWithAt(headers, pos, "content-type:")) {
            // The value may begin on a folded line.
            std::size_t v = pos + 13;
            while (v < headers.size() && IsBlank(headers[v])) ++v;
            return isHtml(v);
        }
        if (eol == std::string_view::npos) break;
        pos = eol + 1;
    }
    return false;
}
