// CHTMLAnswer: an HTTP/1.1 answer under construction, "200 OK" unless told otherwise.
//
// The constructor sets the content type "text/html" and the four fixed fields, in
// this order: "Date" (the given time, default now, as "Sun 06 Nov 1994 08:49:37 GMT":
// English names whatever the process locale), "Pragma: no-cache",
// "Server: Microsoft-IIS/6.0", "X-Powered-By: Native Machine Code".
// One object per answer, used by one thread.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "common/http/data_string.h"
#include "common/http/html_command.h"

class CHTMLAnswer {
public:
    explicit CHTMLAnswer(std::time_t now = std::time(nullptr));

    // An empty content type leaves the "Content-Type" line out.
    void SetContentType(std::string contentType) { contentType_ = std::move(contentType); }
    const std::string& ContentType() const { return contentType_; }
    // The body that the handler fills.
    CDataString& Body() { return body_; }
    // The status line's code and reason ("HTTP/1.1 403 Forbidden"); 200 "OK" by default.
    void SetStatus(int code, std::string reason) {
        statusCode_ = code;
        statusReason_ = std::move(reason);
    }
    int StatusCode() const { return statusCode_; }
    // Appends a header field after the fixed four.
    void AddField(std::string name, std::string value);
    const std::vector<CHTMLField>& Fields() const { return fields_; }

    // Writes the whole answer into out (re-initialised): status line, "Content-Length"
    // with the body length, "Content-Type" unless empty, the fields in order, an empty
    // line, then the body bytes. Lines end with CR LF.
    void Serialize(CDataString& out) const;

private:
    std::string contentType_ = "text/html";
    int statusCode_ = 200;
    std::string statusReason_ = "OK";
    CDataString body_;
    std::vector<CHTMLField> fields_;
};

// The "Date" value for t: "%s %02d %s %04d %02d:%02d:%02d GMT" in UTC, e.g.
// "Tue 08 Dec 2026 10:15:00 GMT" (no comma after the weekday).
std::string FormatAnswerDate(std::time_t t);
