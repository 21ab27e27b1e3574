#include "common/http/data_string.h"

#include <gtest/gtest.h>

#include <string>

TEST(DataString, FreshBufferHoldsTheEmptyText) {
    CDataString s;
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_STREQ(s.Data(), "");
    EXPECT_FALSE(s.IsBytesMode());
    EXPECT_GE(s.Capacity(), CDataString::kDefaultSize);
}

TEST(DataString, BytesKeepZerosAndStayTerminated) {
    CDataString s(16, 16);
    const char bytes[] = {'a', 0, 'b'};
    s.AppendBytes(3, bytes);
    EXPECT_TRUE(s.IsBytesMode());
    EXPECT_EQ(s.Length(), 3u);
    EXPECT_EQ(s.View(), std::string("a\0b", 3));
    EXPECT_EQ(s.Data()[3], 0);
    s.Reset();
    EXPECT_FALSE(s.IsBytesMode());
    EXPECT_EQ(s.Length(), 0u);
}

TEST(DataString, TextAppendsStopAtTheirZeroAndSkipEmpty) {
    CDataString s(4, 4);
    s.AppendText(static_cast<const char*>(nullptr));
    s.AppendText("");
    s.AppendText(std::string_view("ab\0cd", 5));
    s.AppendText("ef");
    EXPECT_EQ(s.ToString(), "abef");
}

TEST(DataString, GrowsGeometricallyOverManyAppends) {
    CDataString s(8, 8);
    std::string expected;
    size_t reallocations = 0;
    size_t lastCapacity = s.Capacity();
    for (int i = 0; i < 100000; ++i) {
        s.AppendBytes(3, "xyz");
        expected += "xyz";
        if (s.Capacity() != lastCapacity) {
            ++reallocations;
            lastCapacity = s.Capacity();
        }
    }
    EXPECT_EQ(s.View(), expected);
    EXPECT_LT(reallocations, 40u);
}

TEST(DataString, CopyAndMoveKeepContentAndTruncateCuts) {
    CDataString a;
    a.AppendText("hello world");
    CDataString b = a;
    a.Truncate(5);
    EXPECT_EQ(a.ToString(), "hello");
    EXPECT_EQ(b.ToString(), "hello world");
    CDataString c = std::move(b);
    EXPECT_EQ(c.ToString(), "hello world");
}

TEST(DataString, RoomReservedExactlyIsFilledWithoutMoving) {
    CDataString body(16, 16);
    const size_t total = 100000;
    ASSERT_TRUE(body.ReserveExactly(total + CDataString::kAppendSlack));
    EXPECT_EQ(body.Capacity(), total + CDataString::kAppendSlack);
    const char* block = body.Data();
    std::string piece(1000, 'b');
    for (size_t done = 0; done < total; done += piece.size())
        body.AppendBytes(piece.size(), piece.data());
    EXPECT_EQ(body.Data(), block);  // never copied while it filled
    EXPECT_EQ(body.Length(), total);
    EXPECT_TRUE(body.ReserveExactly(10));  // smaller than held: nothing changes
    EXPECT_EQ(body.Data(), block);
}
