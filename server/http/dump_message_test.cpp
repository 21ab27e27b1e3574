// DumpMessage: request and answer forms, hex dump lines, the WBXML dump.
#include "server/http/dump_message.h"

#include <gtest/gtest.h>

namespace {

CHTMLCommand Parse(bool request, const std::string& text) {
    CHTMLCommand command;
    command.ParseMessage(request, text.data(), text.size());
    return command;
}

TEST(DumpMessage, RequestWithTextBody) {
    std::string text =
        "POST /app/x?a=1&b=2 HTTP/1.1\r\nHost: h\r\nContent-Type: text/plain\r\n"
        "Content-Length: 5\r\n\r\nhello";
    EXPECT_EQ(
        DumpMessage(Parse(true, text), text, true),
        "POST /app/x HTTP/1.1\r"
        "par a                                        1                                       \n"
        "par b                                        2                                       \n"
        "Host                                     h                                       \n"
        "Content-Type                             text/plain                              \n"
        "Content-Length                           5                                       \n"
        "hello\n");
}

TEST(DumpMessage, AnswerWithBinaryBodyAndLengthCap) {
    std::string body;
    for (int i = 0; i < 20; ++i) body += static_cast<char>(i == 3 ? 'A' : 0x7e + i);
    std::string text = "HTTP/1.0 200 OK\r\nContent-Length: 17\r\n\r\n" + body + "tail";
    EXPECT_EQ(DumpMessage(Parse(false, text), text, false),
              "HTTP/1.0 200 OK\n"
              "Content-Length                           17                                      \n"
              "0        7e 7f 80 41 82 83 84 85 86 87 88 89 8a 8b 8c  ~\x7f.A...........\n"
              "8d 8e                                    ..\n");
}

TEST(DumpMessage, HexDumpLines) {
    EXPECT_EQ(HexDump("abc"), "61 62 63                                 abc\n");
    EXPECT_EQ(HexDump(std::string(15, 'x')),
              "0        78 78 78 78 78 78 78 78 78 78 78 78 78 78 78  xxxxxxxxxxxxxxx\n");
    EXPECT_EQ(HexDump(""), "");
}

TEST(DumpMessage, WbxmlBodyGetsItsDump) {
    std::string body("\x03\x01\x6a\x00\x01", 5);
    std::string text =
        "POST / HTTP/1.1\r\nContent-Type: application/vnd.ms-sync.wbxml\r\n\r\n" + body;
    std::string dump = DumpMessage(Parse(true, text), text, true);
    std::string hex = "03 01 6a 00 01";
    size_t at = dump.find(hex);
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(dump.size(), at + 60);  // the WBXML dump follows the hex lines
}

}  // namespace
