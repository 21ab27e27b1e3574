// CHTMLAnswer: the fixed header fields and the serialised form.
#include "common/http/html_answer.h"

#include <cstdio>

namespace {
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
}  // namespace

std::string FormatAnswerDate(std::time_t t) {
    std::tm utc{};
    if (gmtime_r(&t, &utc) == nullptr) utc = std::tm{};
    int weekday = (utc.tm_wday >= 0 && utc.tm_wday < 7) ? utc.tm_wday : 0;
    int month = (utc.tm_mon >= 0 && utc.tm_mon < 12) ? utc.tm_mon : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%s %02d %s %04d %02d:%02d:%02d GMT", kWeekdays[weekday],
                  utc.tm_mday, kMonths[month], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return text;
}

CHTMLAnswer::CHTMLAnswer(std::time_t now) {
    fields_.push_back({"Date", FormatAnswerDate(now)});
    fields_.push_back({"Pragma", "no-cache"});
    fields_.push_back({"Server", "Microsoft-IIS/6.0"});
    fields_.push_back({"X-Powered-By", "Native Machine Code"});
}

void CHTMLAnswer::AddField(std::string name, std::string value) {
    fields_.push_back({std::move(name), std::move(value)});
}

void CHTMLAnswer::Serialize(CDataString& out) const {
    out.Init(1024, 1024);
    out.AppendText("HTTP/1.1 " + std::to_string(statusCode_) + " " + statusReason_ + "\r\n");
    out.AppendText("Content-Length: " + std::to_string(body_.Length()) + "\r\n");
    if (!contentType_.empty()) out.AppendText("Content-Type: " + contentType_ + "\r\n");
    for (const CHTMLField& field : fields_) {
        // Appended as bytes so a value is never cut at a zero byte or read as a format.
        out.AppendBytes(field.name.size(), field.name.data());
        out.AppendBytes(2, ": ");
        out.AppendBytes(field.value.size(), field.value.data());
        out.AppendBytes(2, "\r\n");
    }
    out.AppendBytes(2, "\r\n");
    if (body_.Length() > 0) out.AppendBytes(body_.Length(), body_.Data());
}
