// CHTMLCommand: one parsed HTTP message (a request, or an answer fetched from
// another server), with its query parameters and header fields.
//
// ParseMessage keeps its own copy of the message and cuts everything out of that
// copy; every search is bounded by the message length, so any bytes at all can be
// handed to it. Malformed input never raises an error:
//  - a request line without a space gives MethodCode 0 and no URL, fields or body;
//  - a header line without ":" ends the header block (the message then has no body);
//  - a query parameter without a later "=" takes the rest as its name, value empty;
//  - a chunk size without hexadecimal digits, or larger than what remains, ends the
//    decoded body at what is there.
// Line ends inside the header block may be CR LF, LF CR, LF or CR.
//
// One object belongs to one connection thread; nothing here is shared.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/http/data_string.h"

struct CHTMLField {
    std::string name;
    std::string value;
};

// Splits a query (the text after "?") into parameters: a name runs to the next
// "=" (so "x&y=3" is one parameter "x&y"), blanks after "=" are skipped, a value
// runs to the next "&", and a CR or LF right after "&" is skipped. A name without
// a later "=" takes the rest, with an empty value. Nothing is percent-decoded.
std::vector<CHTMLField> ParseQueryParameters(std::string_view query);

class CHTMLCommand {
public:
    enum Method { kOther = 0, kGet = 1, kPut = 2, kOptions = 3, kAnswer = 4 };

    CHTMLCommand() = default;

    // Parses data[0, length). requestMode true: the first line is a request line
    // (method, URL with query, version); false: the first line is a status line,
    // skipped without being interpreted. Replaces whatever an earlier parse held.
    void ParseMessage(bool requestMode, const char* data, size_t length);
    // Parses the first count bytes of the command's own receive buffer, taking the
    // buffer over instead of copying it (the buffer is left empty).
    void ParseBuffer(bool requestMode, size_t count);

    // The receive buffer that ReceiveMessage fills for this command.
    CDataString& Buffer() { return buffer_; }

    const std::string& Method() const { return method_; }
    // False when the request line has no space (and so no URL): such a request
    // is neither traced nor answered.
    bool HasURL() const { return hasUrl_; }
    // The request path up to (not including) "?"; empty when the request line has no space.
    const std::string& URL() const { return url_; }
    // The text after the second space of the request line, up to its line feed
    // (a carriage return before the line feed stays part of it).
    const std::string& Version() const { return version_; }
    // 1 GET, 2 PUT, 3 OPTIONS, 4 a message that begins with "HTTP" (an answer), 0 other.
    int MethodCode() const { return methodCode_; }
    bool IsChunked() const { return chunked_; }

    // The body (after chunked decoding), followed by two zero bytes; never null.
    const char* Body() const { return text_.Data() + bodyOffset_; }
    size_t BodyLength() const { return bodyLength_; }
    std::string_view BodyView() const { return std::string_view(Body(), bodyLength_); }
    // Bytes from the start of the message to the start of its body; the whole
    // message length when it has no blank line (and so no body).
    size_t HeaderLength() const { return headerLength_; }

    // Value of the first field / parameter whose name equals name ignoring case;
    // the empty text when there is none.
    std::string GetHeader(std::string_view name) const;
    std::string GetParameter(std::string_view name) const;

    const std::vector<CHTMLField>& Fields() const { return fields_; }
    const std::vector<CHTMLField>& Parameters() const { return parameters_; }

private:
    void Parse(bool requestMode);
    size_t ParseRequestLine(size_t end);
    size_t ParseFields(size_t pos, size_t end, bool& blankLineFound);
    void DecodeChunkedBody(size_t end);

    CDataString buffer_;
    // The message copy, followed by two zero bytes, that fields and body are cut from.
    CDataString text_;
    std::string method_;
    std::string url_;
    std::string version_;
    int methodCode_ = kOther;
    bool hasUrl_ = false;
    bool chunked_ = false;
    std::vector<CHTMLField> fields_;
    std::vector<CHTMLField> parameters_;
    size_t headerLength_ = 0;
    size_t bodyOffset_ = 0;
    size_t bodyLength_ = 0;
};
