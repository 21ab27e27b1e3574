// CHTMLCommand: request line, query, header fields and body of one message.
#include "common/http/html_command.h"

#include <cstring>
#include <utility>

#include "common/base/text.h"

namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Steps over one line end at pos: CR LF and LF CR count as one, a second CR or LF
// of the same kind starts the next (blank) line.
size_t SkipLineEnd(const char* t, size_t pos, size_t end) {
    if (pos >= end || !IsLineEnd(t[pos])) return pos;
    char first = t[pos++];
    if (pos < end && IsLineEnd(t[pos]) && t[pos] != first) ++pos;
    return pos;
}

const std::string& FindField(const std::vector<CHTMLField>& list, std::string_view name) {
    static const std::string kEmpty;
    for (const CHTMLField& field : list) {
        if (EqualsIgnoringCase(field.name, name)) return field.value;
    }
    return kEmpty;
}

}  // namespace

void CHTMLCommand::ParseMessage(bool requestMode, const char* data, size_t length) {
    text_.Init(length + CDataString::kTextSlack, CDataString::kDefaultSize);
    if (length > 0 && data != nullptr) text_.AppendBytes(length, data);
    Parse(requestMode);
}

void CHTMLCommand::ParseBuffer(bool requestMode, size_t count) {
    text_ = std::move(buffer_);
    buffer_ = CDataString();
    text_.Truncate(count);
    Parse(requestMode);
}

void CHTMLCommand::Parse(bool requestMode) {
    method_.clear();
    url_.clear();
    version_.clear();
    methodCode_ = kOther;
    hasUrl_ = false;
    chunked_ = false;
    fields_.clear();
    parameters_.clear();
    headerLength_ = 0;
    bodyOffset_ = 0;
    bodyLength_ = 0;

    size_t n = text_.Length();
    // The decoder writes two zero bytes after the body; make sure they are ours.
    if (text_.Failed() || text_.Capacity() < n + 2) {
        const char zeros[2] = {0, 0};
        text_.AppendBytes(2, zeros);
        text_.Truncate(n);
    }
    if (text_.Failed() || text_.MutableData() == nullptr) return;
    char* t = text_.MutableData();
    t[n + 1] = 0;

    size_t pos = 0;
    if (requestMode) {
        size_t lineEnd = pos;
        while (lineEnd < n && t[lineEnd] != '\n') ++lineEnd;
        std::string_view line(t, lineEnd);
        size_t space = line.find(' ');
        if (space == std::string_view::npos) {
            method_.assign(line);
            bodyOffset_ = n;
            headerLength_ = n;
            return;
        }
        hasUrl_ = true;
        method_.assign(line.substr(0, space));
        std::string_view rest = line.substr(space + 1);
        size_t second = rest.find(' ');
        std::string_view url = rest.substr(0, second);
        if (second != std::string_view::npos) {
            std::string_view version = rest.substr(second + 1);
            version_.assign(version.substr(0, version.find(' ')));
        }
        size_t question = url.find('?');
        if (question != std::string_view::npos) {
            parameters_ = ParseQueryParameters(url.substr(question + 1));
            url = url.substr(0, question);
        }
        url_.assign(url);
        if (EqualsIgnoringCase(method_, "GET")) {
            methodCode_ = kGet;
        } else if (EqualsIgnoringCase(method_, "PUT")) {
            methodCode_ = kPut;
        } else if (EqualsIgnoringCase(method_, "OPTIONS")) {
            methodCode_ = kOptions;
        } else if (StartsWithIgnoringCase(method_, "HTTP")) {
            methodCode_ = kAnswer;
        }
        pos = lineEnd < n ? lineEnd + 1 : n;
    } else {
        if (StartsWithIgnoringCase(std::string_view(t, n), "HTTP")) methodCode_ = kAnswer;
        while (pos < n && !IsLineEnd(t[pos])) ++pos;
        pos = SkipLineEnd(t, pos, n);
    }

    bool blankLine = false;
    pos = ParseFields(pos, n, blankLine);
    if (!blankLine) {
        bodyOffset_ = n;
        headerLength_ = n;
        return;
    }
    pos = SkipLineEnd(t, pos, n);
    headerLength_ = pos;
    bodyOffset_ = pos;
    bodyLength_ = n - pos;
    if (chunked_) DecodeChunkedBody(n);
}

std::vector<CHTMLField> ParseQueryParameters(std::string_view query) {
    std::vector<CHTMLField> parameters;
    size_t i = 0;
    while (i < query.size()) {
        size_t equals = query.find('=', i);
        if (equals == std::string_view::npos) {
            parameters.push_back({std::string(query.substr(i)), std::string()});
            break;
        }
        size_t v = equals + 1;
        while (v < query.size() && query[v] == ' ') ++v;
        size_t amp = query.find('&', v);
        std::string_view value =
            query.substr(v, amp == std::string_view::npos ? std::string_view::npos : amp - v);
        parameters.push_back({std::string(query.substr(i, equals - i)), std::string(value)});
        if (amp == std::string_view::npos) break;
        i = amp + 1;
        if (i < query.size() && IsLineEnd(query[i])) ++i;
    }
    return parameters;
}

size_t CHTMLCommand::ParseFields(size_t pos, size_t end, bool& blankLineFound) {
    const char* t = text_.Data();
    blankLineFound = false;
    while (pos < end) {
        if (IsLineEnd(t[pos])) {
            blankLineFound = true;
            return pos;
        }
        size_t lineEnd = pos;
        while (lineEnd < end && !IsLineEnd(t[lineEnd])) ++lineEnd;
        const void* colonHit = std::memchr(t + pos, ':', lineEnd - pos);
        if (colonHit == nullptr) return lineEnd;  // not a field: the header block ends here
        size_t colon = static_cast<size_t>(static_cast<const char*>(colonHit) - t);
        size_t v = colon + 1;
        while (v < lineEnd && t[v] == ' ') ++v;
        CHTMLField field{std::string(t + pos, colon - pos), std::string(t + v, lineEnd - v)};
        if (EqualsIgnoringCase(field.name, "Transfer-Encoding") &&
            EqualsIgnoringCase(field.value, "chunked")) {
            chunked_ = true;
        }
        fields_.push_back(std::move(field));
        pos = SkipLineEnd(t, lineEnd, end);
    }
    return pos;
}

void CHTMLCommand::DecodeChunkedBody(size_t end) {
    char* t = text_.MutableData();
    size_t read = bodyOffset_;
    size_t write = bodyOffset_;
    for (;;) {
        if (read < end && t[read] == '\r') ++read;
        if (read < end && t[read] == '\n') ++read;
        size_t size = 0;
        size_t digits = 0;
        bool fits = true;
        while (read < end && HexDigitValue(t[read]) >= 0) {
            if (size > (end >> 4)) fits = false;  // larger than the message: ends below
            if (fits) size = (size << 4) | static_cast<size_t>(HexDigitValue(t[read]));
            ++read;
            ++digits;
        }
        if (digits == 0 || size == 0) break;
        if (read < end && t[read] == '\r') ++read;
        if (read < end && t[read] == '\n') ++read;
        size_t available = end - read;
        size_t take = (!fits || size > available) ? available : size;
        std::memmove(t + write, t + read, take);
        write += take;
        read += take;
        if (take < size || !fits) break;  // the chunk is cut short: the body ends here
    }
    t[write] = 0;
    t[write + 1] = 0;
    bodyLength_ = write - bodyOffset_;
}

std::string CHTMLCommand::GetHeader(std::string_view name) const {
    return FindField(fields_, name);
}

std::string CHTMLCommand::GetParameter(std::string_view name) const {
    return FindField(parameters_, name);
}
