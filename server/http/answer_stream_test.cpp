// Answers written piece by piece: the streamed header against the serialised whole
// answer, and a socket stream whose peer has gone.
#include "server/http/answer_stream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/http/socket_util.h"

namespace {

std::string Serialized(const CHTMLAnswer& answer) {
    CDataString out;
    answer.Serialize(out);
    return out.ToString();
}

TEST(AnswerStream, StreamedHeaderPlusBodyIsTheSerialisedAnswer) {
    const std::time_t date = 1797408000;
    for (const std::string& body : {std::string(), std::string("x"), std::string(100000, '\0')}) {
        CHTMLAnswer whole(date);
        whole.SetContentType("application/binary");
        whole.AddField("X-Extra", "1");
        whole.Body().AppendBytes(body.size(), body.data());
        CHTMLAnswer headerOnly(date);
        headerOnly.SetContentType("application/binary");
        headerOnly.AddField("X-Extra", "1");
        EXPECT_EQ(StreamedAnswerHeader(headerOnly, body.size()) + body, Serialized(whole));
        // A body already in the answer is not part of the header.
        EXPECT_EQ(StreamedAnswerHeader(whole, body.size()) + body, Serialized(whole));
    }
    CHTMLAnswer plain(date);
    plain.SetContentType("");
    EXPECT_EQ(
        StreamedAnswerHeader(plain, 5000000000ULL),
        "HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\nDate: Wed 16 Dec 2026 08:00:00 GMT\r\n"
        "Pragma: no-cache\r\nServer: Microsoft-IIS/6.0\r\nX-Powered-By: Native Machine "
        "Code\r\n\r\n");
}

TEST(AnswerStream, SocketStreamCountsAndStopsWhenThePeerIsGone) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    CSocket server(pair[0]);
    CSocket client(pair[1]);
    CSocketAnswerStream out(server.Get());
    EXPECT_TRUE(out.Write("abc"));
    EXPECT_TRUE(out.Write(""));
    EXPECT_EQ(out.Written(), 3u);
    char got[8] = {};
    EXPECT_EQ(read(client.Get(), got, sizeof got), 3);
    EXPECT_EQ(std::string(got, 3), "abc");
    client.Close();
    // No SIGPIPE: the write fails, and so does every later one.
    EXPECT_FALSE(out.Write(std::string(1 << 20, 'x')));
    EXPECT_FALSE(out.Write("y"));
    EXPECT_EQ(out.Written(), 3u);
}

TEST(AnswerStream, StringStreamKeepsEveryByte) {
    CStringAnswerStream out;
    EXPECT_TRUE(out.Write(std::string_view("a\0b", 3)));
    EXPECT_TRUE(out.Write("c"));
    EXPECT_EQ(out.Text(), std::string("a\0bc", 4));
    EXPECT_EQ(out.Written(), 4u);
}

}  // namespace
