// Answers written piece by piece: the streamed header against the serialised whole
// answer, a socket stream whose peer has gone, and files sent from their descriptor.
#include "server/http/answer_stream.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "common/base/unique_fd.h"
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

// An unnamed file holding bytes.
class TempFile {
public:
    explicit TempFile(const std::string& bytes) {
        char name[] = "/tmp/answer-stream-XXXXXX";
        file_ = UniqueFd(mkstemp(name));
        unlink(name);
        if (file_.valid() &&
            write(file_.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            file_.Close();
    }
    int Get() const { return file_.get(); }

private:
    UniqueFd file_;
};

// What stream sends of file (offset, count), read by a second thread until the end.
std::string SentThroughSocket(int file, uint64_t offset, uint64_t count, bool& ok) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return "no socket pair";
    CSocket server(pair[0]);
    CSocket client(pair[1]);
    std::string got;
    std::thread reader([&] {
        char piece[65536];
        ssize_t n;
        while ((n = read(client.Get(), piece, sizeof piece)) > 0)
            got.append(piece, static_cast<size_t>(n));
    });
    CSocketAnswerStream out(server.Get());
    ok = out.WriteFile(file, offset, count);
    shutdown(server.Get(), SHUT_WR);
    reader.join();
    // The count names what arrived.
    ok = ok && out.Written() == got.size();
    return got;
}

TEST(AnswerStream, FilesGoOutWholeOrInPartFromTheirDescriptor) {
    std::string bytes(5 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    TempFile file(bytes);
    ASSERT_GE(file.Get(), 0);
    bool ok = false;
    EXPECT_TRUE(SentThroughSocket(file.Get(), 0, bytes.size(), ok) == bytes);
    EXPECT_TRUE(ok);
    EXPECT_EQ(SentThroughSocket(file.Get(), 4 * 1024 * 1024 + 3, 100, ok),
              bytes.substr(4 * 1024 * 1024 + 3, 100));
    EXPECT_TRUE(ok);
    // A file shorter than asked: what it holds, and no failure.
    EXPECT_EQ(SentThroughSocket(file.Get(), bytes.size() - 5, 1000, ok),
              bytes.substr(bytes.size() - 5));
    EXPECT_TRUE(ok);

    // Streams that cannot send from a file read it and write the pieces.
    CStringAnswerStream text;
    EXPECT_TRUE(text.WriteFile(file.Get(), 1, bytes.size()));
    EXPECT_TRUE(text.Text() == bytes.substr(1));
    CStringAnswerStream none;
    EXPECT_FALSE(none.WriteFile(-1, 0, 10));
    EXPECT_EQ(none.Written(), 0u);

    // A peer gone before the file: the send fails, and later writes too.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    CSocket server(pair[0]);
    CSocket client(pair[1]);
    client.Close();
    CSocketAnswerStream out(server.Get());
    EXPECT_FALSE(out.WriteFile(file.Get(), 0, bytes.size()));
    EXPECT_FALSE(out.Write("x"));
}

}  // namespace
