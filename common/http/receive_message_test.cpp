#include "common/http/receive_message.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

// A connected pair of stream sockets; both ends closed on destruction.
struct SocketPair {
    int reader = -1;
    int writer = -1;
    SocketPair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            reader = fds[0];
            writer = fds[1];
        }
    }
    ~SocketPair() {
        CloseWriter();
        if (reader >= 0) close(reader);
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(send(writer, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void CloseWriter() {
        if (writer >= 0) close(writer);
        writer = -1;
    }
};

// A short wait limit: 1 unit x 100 steps x 1 ms.
ReceiveLimits ShortLimits() {
    ReceiveLimits limits;
    limits.waitUnits = 1;
    limits.step = std::chrono::milliseconds(1);
    return limits;
}

TEST(ReceiveMessage, GetIsCompleteAtItsBlankLine) {
    SocketPair pair;
    std::string request = "GET /a HTTP/1.1\r\nHost: x\r\n\r\n";
    pair.Send(request);
    CDataString buffer;
    // The default wait: the answer comes from completeness, not from the limit.
    ReceiveResult r = ReceiveMessage(pair.reader, buffer);
    EXPECT_EQ(r.end, ReceiveEnd::kComplete);
    EXPECT_EQ(r.count, request.size());
    EXPECT_EQ(buffer.ToString(), request);
    EXPECT_EQ(buffer.Data()[r.count], 0);
}

TEST(ReceiveMessage, PiecesAreJoinedUntilTheLengthIsThere) {
    SocketPair pair;
    const std::string pieces[] = {"POST /v HTTP/1.1\r\nCont", "ent-Length: 6\r\n", "\r\nabc",
                                  "def"};
    std::thread sender([&] {
        for (const std::string& piece : pieces) {
            pair.Send(piece);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    CDataString buffer;
    ReceiveResult r = ReceiveMessage(pair.reader, buffer);
    sender.join();
    EXPECT_EQ(r.end, ReceiveEnd::kComplete);
    EXPECT_EQ(buffer.ToString(), "POST /v HTTP/1.1\r\nContent-Length: 6\r\n\r\nabcdef");
}

TEST(ReceiveMessage, PostWithoutLengthIsReadUntilTheWaitLimit) {
    SocketPair pair;
    pair.Send("POST / HTTP/1.1\r\n\r\nbody");
    CDataString buffer;
    ReceiveResult r = ReceiveMessage(pair.reader, buffer, ShortLimits());
    EXPECT_EQ(r.end, ReceiveEnd::kTimedOut);
    EXPECT_EQ(buffer.ToString(), "POST / HTTP/1.1\r\n\r\nbody");
}

TEST(ReceiveMessage, NothingSentGivesNothing) {
    SocketPair pair;
    CDataString buffer;
    ReceiveResult r = ReceiveMessage(pair.reader, buffer, ShortLimits());
    EXPECT_EQ(r.end, ReceiveEnd::kTimedOut);
    EXPECT_EQ(r.count, 0u);
}

TEST(ReceiveMessage, ReadingStopsWhenThePeerCloses) {
    SocketPair pair;
    pair.Send("POST / HTTP/1.1\r\n\r\npartial");
    pair.CloseWriter();
    CDataString buffer;
    // The default limit of 180 s would fail the test run if it were waited out.
    ReceiveResult r = ReceiveMessage(pair.reader, buffer);
    EXPECT_EQ(r.end, ReceiveEnd::kPeerClosed);
    EXPECT_EQ(buffer.ToString(), "POST / HTTP/1.1\r\n\r\npartial");
}

TEST(ReceiveMessage, SizeLimitAtTheBoundAndOnePast) {
    std::string head = "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n";
    std::string message = head + "0123456789";
    {
        SocketPair pair;
        pair.Send(message);
        ReceiveLimits limits = ShortLimits();
        limits.maxBytes = message.size();
        CDataString buffer;
        ReceiveResult r = ReceiveMessage(pair.reader, buffer, limits);
        EXPECT_EQ(r.end, ReceiveEnd::kComplete);
        EXPECT_EQ(r.count, message.size());
    }
    {
        SocketPair pair;
        pair.Send(message);
        ReceiveLimits limits = ShortLimits();
        limits.maxBytes = message.size() - 1;
        CDataString buffer;
        ReceiveResult r = ReceiveMessage(pair.reader, buffer, limits);
        EXPECT_EQ(r.end, ReceiveEnd::kTooLarge);
        // A message without any framing is cut off at the limit as well.
        SocketPair again;
        again.Send(std::string(2 * kReceivePiece, 'x'));
        EXPECT_EQ(ReceiveMessage(again.reader, buffer, limits).end, ReceiveEnd::kTooLarge);
    }
}

}  // namespace
