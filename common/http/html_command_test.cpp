#include "common/http/html_command.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Renders a parse as text so a test compares one whole string.
std::string Dump(const CHTMLCommand& c) {
    std::string out = "method=[" + c.Method() + "] code=" + std::to_string(c.MethodCode()) +
                      " url=[" + c.URL() + "] version=[" + c.Version() + "]\n";
    for (const CHTMLField& p : c.Parameters()) out += "par [" + p.name + "]=[" + p.value + "]\n";
    for (const CHTMLField& f : c.Fields()) out += "field [" + f.name + "]=[" + f.value + "]\n";
    out += "body(" + std::to_string(c.BodyLength()) + ")=[" + std::string(c.BodyView()) + "]";
    return out;
}

std::string Parse(const std::string& m, bool requestMode = true) {
    CHTMLCommand c;
    c.ParseMessage(requestMode, m.data(), m.size());
    return Dump(c);
}

TEST(ParseMessage, RequestLineFieldsAndBody) {
    EXPECT_EQ(Parse("POST /vantro?x=1 HTTP/1.1\r\nHost: pc\r\nContent-Type: "
                    "application/vantro\r\nContent-Length: 4\r\n\r\nabcd"),
              "method=[POST] code=0 url=[/vantro] version=[HTTP/1.1\r]\n"
              "par [x]=[1]\n"
              "field [Host]=[pc]\n"
              "field [Content-Type]=[application/vantro]\n"
              "field [Content-Length]=[4]\n"
              "body(4)=[abcd]");
}

TEST(ParseMessage, MethodCodes) {
    auto code = [](const std::string& m) {
        CHTMLCommand c;
        c.ParseMessage(true, m.data(), m.size());
        return c.MethodCode();
    };
    EXPECT_EQ(code("GET / HTTP/1.1\r\n\r\n"), 1);
    EXPECT_EQ(code("get / HTTP/1.1\r\n\r\n"), 1);
    EXPECT_EQ(code("PUT / HTTP/1.1\r\n\r\n"), 2);
    EXPECT_EQ(code("Options * HTTP/1.1\r\n\r\n"), 3);
    EXPECT_EQ(code("HTTP/1.1 200 OK\r\n\r\n"), 4);
    EXPECT_EQ(code("POST / HTTP/1.1\r\n\r\n"), 0);
    EXPECT_EQ(code("GETX / HTTP/1.1\r\n\r\n"), 0);
}

TEST(ParseMessage, RequestLineWithoutSpaceEndsParsing) {
    CHTMLCommand c;
    c.ParseMessage(true, "GET\r\n\r\n", 7);
    EXPECT_FALSE(c.HasURL());
    c.ParseMessage(true, "GET  HTTP/1.1\r\n\r\n", 17);
    EXPECT_TRUE(c.HasURL());
    EXPECT_EQ(c.URL(), "");
    EXPECT_EQ(Parse("GARBAGE\r\nHost: x\r\n\r\nbody"),
              "method=[GARBAGE\r] code=0 url=[] version=[]\nbody(0)=[]");
}

TEST(ParseMessage, Query) {
    auto query = [](std::string_view q) {
        std::string out;
        for (const CHTMLField& p : ParseQueryParameters(q))
            out += "[" + p.name + "]=[" + p.value + "]";
        return out;
    };
    EXPECT_EQ(query("a=1&b= 2"), "[a]=[1][b]=[2]");
    EXPECT_EQ(query("x&y=3"), "[x&y]=[3]");
    EXPECT_EQ(query("a=1&\nb=2&"), "[a]=[1][b]=[2]");
    EXPECT_EQ(query(""), "");
    // In a request line a blank ends the URL, so there the value stops before it.
    EXPECT_EQ(Parse("GET /q?a=1&b= 2 HTTP/1.1\r\n\r\n"),
              "method=[GET] code=1 url=[/q] version=[2]\npar [a]=[1]\npar [b]=[]\n"
              "body(0)=[]");
    EXPECT_EQ(Parse("GET /q?x&y=3 HTTP/1.1\r\n\r\n"),
              "method=[GET] code=1 url=[/q] version=[HTTP/1.1\r]\npar [x&y]=[3]\nbody(0)=[]");
    EXPECT_EQ(Parse("GET /q?v=a%20b HTTP/1.1\r\n\r\n"),
              "method=[GET] code=1 url=[/q] version=[HTTP/1.1\r]\npar [v]=[a%20b]\nbody(0)=[]");
    // A parameter without a later "=" takes the rest as its name.
    EXPECT_EQ(Parse("GET /?abc HTTP/1.1\r\n\r\n"),
              "method=[GET] code=1 url=[/] version=[HTTP/1.1\r]\npar [abc]=[]\nbody(0)=[]");
    EXPECT_EQ(Parse("GET /?a=1&b HTTP/1.1\r\n\r\n"),
              "method=[GET] code=1 url=[/] version=[HTTP/1.1\r]\npar [a]=[1]\npar [b]=[]\n"
              "body(0)=[]");
}

TEST(ParseMessage, HeaderLookupIgnoresCase) {
    std::string m =
        "POST / HTTP/1.1\r\ncontent-length: 3\r\nContent-Type: text/plain\r\n"
        "X: first\r\nx: second\r\n\r\nabc";
    CHTMLCommand c;
    c.ParseMessage(true, m.data(), m.size());
    EXPECT_EQ(c.GetHeader("Content-Length"), "3");
    EXPECT_EQ(c.GetHeader("content-type"), "text/plain");
    EXPECT_EQ(c.GetHeader("x"), "first");
    EXPECT_EQ(c.GetHeader("Missing"), "");
    EXPECT_EQ(c.GetParameter("a"), "");
}

TEST(ParseMessage, ChunkedBodyIsDecodedInPlace) {
    CHTMLCommand c;
    std::string m =
        "POST / HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n\r\n"
        "4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n";
    c.ParseMessage(true, m.data(), m.size());
    EXPECT_TRUE(c.IsChunked());
    EXPECT_EQ(std::string(c.BodyView()), "Wikipedia");
    EXPECT_EQ(c.BodyLength(), 9u);
    EXPECT_EQ(c.Body()[9], 0);
    EXPECT_EQ(c.Body()[10], 0);
}

TEST(ParseMessage, ChunkedBodyCutShortEndsAtWhatIsThere) {
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFF\r\nab"),
              "method=[POST] code=0 url=[/] version=[HTTP/1.1\r]\n"
              "field [Transfer-Encoding]=[chunked]\nbody(2)=[ab]");
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "3\r\nabc\r\nFFFFFFFFFFFFFFFFFFFF\r\nxyz"),
              "method=[POST] code=0 url=[/] version=[HTTP/1.1\r]\n"
              "field [Transfer-Encoding]=[chunked]\nbody(6)=[abcxyz]");
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nzz"),
              "method=[POST] code=0 url=[/] version=[HTTP/1.1\r]\n"
              "field [Transfer-Encoding]=[chunked]\nbody(2)=[ab]");
}

TEST(ParseMessage, HeaderLineWithoutColonEndsTheHeaderBlock) {
    EXPECT_EQ(Parse("GET / HTTP/1.1\r\nFoo\r\n\r\n"),
              "method=[GET] code=1 url=[/] version=[HTTP/1.1\r]\nbody(0)=[]");
    EXPECT_EQ(Parse("GET / HTTP/1.1\r\nA: 1\r\nFoo\r\nB: 2\r\n\r\nbody"),
              "method=[GET] code=1 url=[/] version=[HTTP/1.1\r]\nfield [A]=[1]\nbody(0)=[]");
}

TEST(ParseMessage, LineFeedOnlyMessagesKeepTheirBody) {
    EXPECT_EQ(Parse("POST /a HTTP/1.0\nA: 1\nB:2\n\nline1\nline2"),
              "method=[POST] code=0 url=[/a] version=[HTTP/1.0]\nfield [A]=[1]\nfield [B]=[2]\n"
              "body(11)=[line1\nline2]");
    // The blank line is one line end; a body that begins with a line end keeps it.
    EXPECT_EQ(Parse("POST /a HTTP/1.0\r\n\r\n\r\nx"),
              "method=[POST] code=0 url=[/a] version=[HTTP/1.0\r]\nbody(3)=[\r\nx]");
}

TEST(ParseMessage, MessageWithoutBlankLineHasNoBody) {
    EXPECT_EQ(Parse("GET / HTTP/1.1\r\nHost: a"),
              "method=[GET] code=1 url=[/] version=[HTTP/1.1\r]\nfield [Host]=[a]\nbody(0)=[]");
    EXPECT_EQ(Parse("GET /x"), "method=[GET] code=1 url=[/x] version=[]\nbody(0)=[]");
    EXPECT_EQ(Parse(""), "method=[] code=0 url=[] version=[]\nbody(0)=[]");
}

TEST(ParseMessage, AnswerModeSkipsTheStatusLine) {
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nDate: today\r\nContent-Length: 2\r\n\r\nhi", false),
              "method=[] code=4 url=[] version=[]\nfield [Date]=[today]\n"
              "field [Content-Length]=[2]\nbody(2)=[hi]");
}

TEST(ParseMessage, ParsingAgainReplacesTheEarlierMessage) {
    CHTMLCommand c;
    std::string a = "GET /a?p=1 HTTP/1.1\r\nA: 1\r\n\r\n";
    std::string b = "PUT /b HTTP/1.1\r\n\r\nxy";
    c.ParseMessage(true, a.data(), a.size());
    c.ParseMessage(true, b.data(), b.size());
    EXPECT_EQ(Dump(c), "method=[PUT] code=2 url=[/b] version=[HTTP/1.1\r]\nbody(2)=[xy]");
}

TEST(ParseMessage, ParseBufferTakesTheReceiveBuffer) {
    CHTMLCommand c;
    std::string m = "GET /x HTTP/1.1\r\nHost: h\r\n\r\ntrailing";
    c.Buffer().AppendBytes(m.size(), m.data());
    c.ParseBuffer(true, m.size() - 8);
    EXPECT_EQ(Dump(c),
              "method=[GET] code=1 url=[/x] version=[HTTP/1.1\r]\nfield [Host]=[h]\n"
              "body(0)=[]");
    EXPECT_EQ(c.Buffer().Length(), 0u);
}

TEST(ParseMessage, ZeroBytesAreKeptInTheBody) {
    std::string m = "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\n" + std::string("a\0b", 3);
    CHTMLCommand c;
    c.ParseMessage(true, m.data(), m.size());
    EXPECT_EQ(c.BodyView(), std::string_view("a\0b", 3));
}

}  // namespace
