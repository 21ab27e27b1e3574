// The JSON reader of the sync matrix tests.
#include "tests/sync_matrix_json.h"

#include <cstdio>
#include <sstream>
#include <string_view>

namespace {

constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    std::optional<JsonValue> Document(std::string* error) {
        JsonValue value;
        SkipSpace();
        if (!Value(value, 0)) return Fail(error);
        SkipSpace();
        if (pos_ != text_.size()) {
            problem_ = "text after the document";
            return Fail(error);
        }
        return value;
    }

private:
    std::optional<JsonValue> Fail(std::string* error) {
        if (error) *error = problem_ + " at offset " + std::to_string(pos_);
        return std::nullopt;
    }
    void SkipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                       text_[pos_] == '\r' || text_[pos_] == '\t')) {
            ++pos_;
        }
    }
    bool Literal(const char* word) {
        std::string w(word);
        if (text_.compare(pos_, w.size(), w) != 0) {
            problem_ = "unknown literal";
            return false;
        }
        pos_ += w.size();
        return true;
    }
    bool Value(JsonValue& out, int depth) {
        if (depth >= kMaxDepth) {
            problem_ = "nested too deeply";
            return false;
        }
        if (pos_ >= text_.size()) {
            problem_ = "document ends early";
            return false;
        }
        char c = text_[pos_];
        if (c == '{') return Object(out, depth);
        if (c == '[') return Array(out, depth);
        if (c == '"') {
            out.type = JsonValue::Type::kString;
            return String(out.text);
        }
        if (c == 't' || c == 'f') {
            out.type = JsonValue::Type::kBool;
            out.boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            out.type = JsonValue::Type::kNull;
            return Literal("null");
        }
        return Number(out);
    }
    bool Number(JsonValue& out) {
        size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        size_t digits = pos_;
        while (pos_ < text_.size() &&
               std::string_view("0123456789.eE+-").find(text_[pos_]) != std::string::npos) {
            ++pos_;
        }
        if (pos_ == digits || text_[digits] < '0' || text_[digits] > '9') {
            problem_ = "not a value";
            pos_ = start;
            return false;
        }
        out.type = JsonValue::Type::kNumber;
        out.text = text_.substr(start, pos_ - start);
        return true;
    }
    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    bool Hex4(unsigned& code) {
        if (pos_ + 4 > text_.size()) return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            char h = text_[pos_++];
            code <<= 4;
            if (h >= '0' && h <= '9')
                code |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f')
                code |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                code |= static_cast<unsigned>(h - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    bool String(std::string& out) {
        ++pos_;  // the opening quote
        out.clear();
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) {
                problem_ = "control character in a string";
                return false;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) break;
            char e = text_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned code = 0;
                    if (!Hex4(code)) {
                        problem_ = "bad \\u escape";
                        return false;
                    }
                    if (code >= 0xD800 && code < 0xDC00) {
                        unsigned low = 0;
                        if (text_.compare(pos_, 2, "\\u") != 0 || (pos_ += 2, !Hex4(low)) ||
                            low < 0xDC00 || low >= 0xE000) {
                            problem_ = "unpaired surrogate";
                            return false;
                        }
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    problem_ = "bad escape";
                    return false;
            }
        }
        problem_ = "unclosed string";
        return false;
    }
    // The members of an array or object after its opening bracket, each read by
    // member, separated by commas up to close; unclosed is the problem when neither
    // follows a member.
    template <typename Member>
    bool Sequence(char close, const char* unclosed, Member member) {
        ++pos_;
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == close) return ++pos_, true;
        for (;;) {
            SkipSpace();
            if (!member()) return false;
            SkipSpace();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
            } else if (pos_ < text_.size() && text_[pos_] == close) {
                return ++pos_, true;
            } else {
                problem_ = unclosed;
                return false;
            }
        }
    }
    bool Array(JsonValue& out, int depth) {
        out.type = JsonValue::Type::kArray;
        return Sequence(']', "unclosed array", [&] {
            JsonValue item;
            if (!Value(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            return true;
        });
    }
    bool Object(JsonValue& out, int depth) {
        out.type = JsonValue::Type::kObject;
        return Sequence('}', "unclosed object", [&] {
            std::string name;
            if (pos_ >= text_.size() || text_[pos_] != '"') {
                problem_ = "member name expected";
                return false;
            }
            if (!String(name)) return false;
            SkipSpace();
            if (pos_ >= text_.size() || text_[pos_] != ':') {
                problem_ = "':' expected";
                return false;
            }
            ++pos_;
            SkipSpace();
            JsonValue value;
            if (!Value(value, depth + 1)) return false;
            out.members.emplace_back(std::move(name), std::move(value));
            return true;
        });
    }

    const std::string& text_;
    size_t pos_ = 0;
    std::string problem_;
};

void Quote(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void Compact(std::string& out, const JsonValue& v) {
    switch (v.type) {
        case JsonValue::Type::kNull:
            out += "null";
            break;
        case JsonValue::Type::kBool:
            out += v.boolean ? "true" : "false";
            break;
        case JsonValue::Type::kNumber:
            out += v.text;
            break;
        case JsonValue::Type::kString:
            Quote(out, v.text);
            break;
        case JsonValue::Type::kArray:
            out += '[';
            for (size_t i = 0; i < v.items.size(); ++i) {
                if (i) out += ',';
                Compact(out, v.items[i]);
            }
            out += ']';
            break;
        case JsonValue::Type::kObject:
            out += '{';
            for (size_t i = 0; i < v.members.size(); ++i) {
                if (i) out += ',';
                Quote(out, v.members[i].first);
                out += ':';
                Compact(out, v.members[i].second);
            }
            out += '}';
            break;
    }
}

}  // namespace

const JsonValue* JsonValue::Find(const std::string& name) const {
    if (type != Type::kObject) return nullptr;
    for (const auto& [key, value] : members) {
        if (key == name) return &value;
    }
    return nullptr;
}

std::string JsonValue::Text(const std::string& name) const {
    const JsonValue* v = Find(name);
    return v ? v->AsText() : "";
}

std::string JsonValue::AsText() const {
    if (type == Type::kString || type == Type::kNumber) return text;
    std::string out;
    Compact(out, *this);
    return out;
}

std::optional<JsonValue> ParseJson(const std::string& text, std::string* error) {
    return Parser(text).Document(error);
}

std::optional<JsonValue> FirstJsonLine(const std::string& output) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || (line[0] != '{' && line[0] != '[')) continue;
        if (auto value = ParseJson(line)) return value;
    }
    return std::nullopt;
}
