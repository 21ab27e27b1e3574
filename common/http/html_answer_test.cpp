#include "common/http/html_answer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

// 2004-11-27 10:18:15 UTC, a Saturday.
constexpr std::time_t kSaturday = 1101550695;

TEST(HTMLAnswer, EmptyBodyStillCarriesTheLengthLine) {
    CHTMLAnswer answer(kSaturday);
    CDataString out;
    answer.Serialize(out);
    EXPECT_EQ(out.ToString(),
              "HTTP/1.1 200 OK\r\n"
              "Content-Length: 0\r\n"
              "Content-Type: text/html\r\n"
              "Date: Sat 27 Nov 2004 10:18:15 GMT\r\n"
              "Pragma: no-cache\r\n"
              "Server: Microsoft-IIS/6.0\r\n"
              "X-Powered-By: Native Machine Code\r\n"
              "\r\n");
}

TEST(HTMLAnswer, StatusOtherThanOkKeepsTheRestOfTheAnswer) {
    CHTMLAnswer answer(kSaturday);
    answer.SetStatus(403, "Forbidden");
    answer.SetContentType("application/vantro.wbxml");
    answer.Body().AppendBytes(4, "\x03\x01\x6A\x00");
    CDataString out;
    answer.Serialize(out);
    EXPECT_EQ(answer.StatusCode(), 403);
    EXPECT_EQ(out.ToString(), std::string("HTTP/1.1 403 Forbidden\r\n"
                                          "Content-Length: 4\r\n"
                                          "Content-Type: application/vantro.wbxml\r\n"
                                          "Date: Sat 27 Nov 2004 10:18:15 GMT\r\n"
                                          "Pragma: no-cache\r\n"
                                          "Server: Microsoft-IIS/6.0\r\n"
                                          "X-Powered-By: Native Machine Code\r\n"
                                          "\r\n") +
                                  std::string("\x03\x01\x6A\x00", 4));
}

TEST(HTMLAnswer, BodyFieldsAndNoContentType) {
    CHTMLAnswer answer(kSaturday);
    answer.SetContentType("");
    answer.AddField("X-Extra", "%s%n");
    answer.Body().AppendBytes(3, "a\0b");
    CDataString out;
    answer.Serialize(out);
    EXPECT_EQ(out.View(), std::string_view("HTTP/1.1 200 OK\r\n"
                                           "Content-Length: 3\r\n"
                                           "Date: Sat 27 Nov 2004 10:18:15 GMT\r\n"
                                           "Pragma: no-cache\r\n"
                                           "Server: Microsoft-IIS/6.0\r\n"
                                           "X-Powered-By: Native Machine Code\r\n"
                                           "X-Extra: %s%n\r\n"
                                           "\r\n"
                                           "a\0b",
                                           172));
}

TEST(HTMLAnswer, DateUsesEnglishNamesWhateverTheLocale) {
    std::setlocale(LC_TIME, "de_DE.UTF-8");  // may be missing; the result must not change
    EXPECT_EQ(FormatAnswerDate(0), "Thu 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(FormatAnswerDate(951782400), "Tue 29 Feb 2000 00:00:00 GMT");
    std::setlocale(LC_TIME, "C");
}

}  // namespace
