#include "common/http/message_framing.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

namespace {

bool Complete(const std::string& m) { return IsMessageComplete(m.data(), m.size()); }

TEST(MessageComplete, HeaderEndsAndMethods) {
    const std::pair<const char*, bool> cases[] = {
        {"", false},
        {"GET / HTTP/1.1\r\nHost: a\r\n", false},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", true},
        {"get / HTTP/1.1\n\n", true},
        {"GET / HTTP/1.1\n\r\n\r", true},
        // Without length or chunked framing only a GET is ever complete.
        {"POST / HTTP/1.1\r\n\r\nbody", false},
        {"OPTIONS * HTTP/1.1\r\n\r\n", false},
        {"PUT /x HTTP/1.1\r\n\r\n", false},
    };
    for (auto [m, complete] : cases) EXPECT_EQ(Complete(m), complete) << m;
}

TEST(MessageComplete, ContentLength) {
    for (const char* m : {"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
                          "POST / HTTP/1.1\r\nContent-Length:   5\r\n\r\nabcde",
                          "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcdefgh"})
        EXPECT_TRUE(Complete(m)) << m;
    const char* const incomplete[] = {
        "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcd",
        // The name is matched case-sensitively: a lower-case header does not count.
        "POST / HTTP/1.1\r\ncontent-length: 0\r\n\r\n",
        // A length in the body is not part of the header block.
        "POST / HTTP/1.1\r\n\r\nContent-Length: 0\r\n",
        // A length too large for 64 bits keeps the message incomplete.
        "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\nx",
        "GET / HTTP/1.1\r\nContent-Length: 18446744073709551615\r\n\r\nx",
    };
    for (const char* m : incomplete) EXPECT_FALSE(Complete(m)) << m;
}

TEST(MessageComplete, HeaderEndPriorityFollowsTheFirstMatchingPattern) {
    // "\r\n\r\n" anywhere wins over an earlier "\n\n", so the length header that
    // follows the "\n\n" belongs to the header block.
    std::string m = "POST / HTTP/1.1\n\nContent-Length: 3\r\n\r\nab";
    EXPECT_FALSE(Complete(m));
    EXPECT_TRUE(Complete(m + "c"));
}

TEST(MessageComplete, Chunked) {
    const std::string head = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const char* body : {"4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n", "4\r\nWiki\r\n0"})
        EXPECT_TRUE(Complete(head + body)) << body;
    const char* const incomplete[] = {
        "",
        "4\r\nWiki\r\n5\r\npedia\r\n",
        "5\r\nWiki",
        "zz\r\n",
        // Sizes that wrap a 64-bit counter are incomplete, never a jump backwards.
        "FFFFFFFFFFFFFFFF\r\nab",
        "1FFFFFFFFFFFFFFFF\r\nab0\r\n",
    };
    for (const char* body : incomplete) EXPECT_FALSE(Complete(head + body)) << body;
}

// Feeding a message in random pieces gives the same answer as the whole-buffer
// test after every piece.
TEST(MessageFraming, IncrementalMatchesWholeBuffer) {
    const std::string samples[] = {
        "GET /index.htm HTTP/1.1\r\nHost: x\r\n\r\n",
        "POST / HTTP/1.1\nX: 1\n\nbody\r\n\r\nContent-Length: 2\r\n\r\nab",
        "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5\r\npedia\r\n"
        "1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789",
        "HTTP/1.1 200 OK\n\r\n\rabc",
    };
    std::mt19937 random(7);
    for (const std::string& m : samples) {
        for (int round = 0; round < 50; ++round) {
            CMessageFraming framing;
            size_t count = 0;
            while (count < m.size()) {
                count += 1 + random() % 7;
                if (count > m.size()) count = m.size();
                bool whole = IsMessageComplete(m.data(), count);
                ASSERT_EQ(framing.Update(m.data(), count), whole) << m << " at " << count;
            }
        }
    }
}

TEST(MessageFraming, DeclaredLength) {
    CMessageFraming framing;
    std::string m = "POST / HTTP/1.1\r\nContent-Length: 300\r\n\r\n";
    EXPECT_FALSE(framing.Update(m.data(), m.size()));
    ASSERT_TRUE(framing.DeclaredLength().has_value());
    EXPECT_EQ(*framing.DeclaredLength(), 300u);
}

}  // namespace
