#include "server/http/trace_port.h"

#include <gtest/gtest.h>

#include "server/http/http_test_util.h"

namespace {

// Collects the lines a sink hands on.
struct Lines {
    std::mutex mutex;
    std::vector<std::string> lines;
    CTraceTextSink::LineHandler Handler() {
        return [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        };
    }
    std::vector<std::string> Get() {
        std::lock_guard<std::mutex> lock(mutex);
        return lines;
    }
};

TEST(TraceTextSink, SplitsAtCrLfAndCrLfPairsAndHoldsTheUnfinishedLine) {
    Lines out;
    CTraceTextSink sink(out.Handler());
    sink.AddText("a\r\nb");
    EXPECT_EQ(out.Get(), std::vector<std::string>{"a"});
    EXPECT_EQ(sink.Pending(), "b");
    sink.AddText("c\rd\ne\r");
    sink.AddText("\nf\n\n");
    EXPECT_EQ(out.Get(), (std::vector<std::string>{"a", "bc", "d", "e", "f", ""}));
    EXPECT_EQ(sink.Pending(), "");
}

TEST(TraceTextSink, PendingLineIsBounded) {
    Lines out;
    CTraceTextSink sink(out.Handler(), 4);
    sink.AddText("abc");
    EXPECT_TRUE(out.Get().empty());
    sink.AddText("defghi\n");
    EXPECT_EQ(out.Get(), (std::vector<std::string>{"abcd", "efgh", "i"}));
}

class TracePortTest : public ::testing::Test {
protected:
    TracePortTest() : sink(out.Handler()) {
        config.port = 0;
        config.loopbackOnly = true;
    }
    int Start() {
        port = std::make_unique<CTracePort>(sink, config);
        port->Start();
        return port->WaitUntilListening(std::chrono::seconds(30));
    }

    TraceCapture capture;
    Lines out;
    CTraceTextSink sink;
    TracePortConfig config;
    std::unique_ptr<CTracePort> port;
};

TEST_F(TracePortTest, TextBecomesLinesAndAClosedPeerEndsItsReader) {
    int number = Start();
    ASSERT_NE(number, 0);
    {
        CSocket client = ConnectLoopback(number);
        ASSERT_TRUE(SendAll(client.Get(), "hello\r\nwor"));
        ASSERT_TRUE(WaitFor([&] { return out.Get().size() == 1; }));
        ASSERT_TRUE(SendAll(client.Get(), std::string("ld\nzero\0ignored\n", 17)));
        ASSERT_TRUE(WaitFor([&] { return out.Get().size() == 2; }));
        EXPECT_EQ(port->ActiveReaders(), 1u);
    }
    EXPECT_TRUE(WaitFor([&] { return port->ActiveReaders() == 0; }));
    EXPECT_EQ(out.Get(), (std::vector<std::string>{"hello", "world"}));
    EXPECT_EQ(sink.Pending(), "zero");
}

TEST_F(TracePortTest, WhenAllReadersAreTakenTheLongestSilentMakesRoom) {
    config.maxReaders = 2;
    int number = Start();
    CSocket silent = ConnectLoopback(number);  // never sends
    ASSERT_TRUE(WaitFor([&] { return port->ActiveReaders() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CSocket talking = ConnectLoopback(number);
    ASSERT_TRUE(SendAll(talking.Get(), "one\n"));
    ASSERT_TRUE(WaitFor([&] { return out.Get().size() == 1; }));
    // A third sender: the silent one is ended, not the new one and not the talker.
    CSocket third = ConnectLoopback(number);
    ASSERT_TRUE(SendAll(third.Get(), "two\n"));
    ASSERT_TRUE(WaitFor([&] { return out.Get().size() == 2; }));
    std::string rest;
    EXPECT_EQ(ReadUntilClosed(silent.Get(), rest), ReadEnd::kClosed);
    ASSERT_TRUE(SendAll(talking.Get(), "three\n"));
    ASSERT_TRUE(WaitFor([&] { return out.Get().size() == 3; }));
    EXPECT_EQ(out.Get(), (std::vector<std::string>{"one", "two", "three"}));
    // The silent one's socket was shut down before its reader returned: the count
    // drops to two once that reader is done.
    EXPECT_TRUE(WaitFor([&] { return port->ActiveReaders() == 2u; })) << port->ActiveReaders();
}

TEST_F(TracePortTest, ASilentReaderEndsAfterItsIdleTime) {
    config.idleTimeout = std::chrono::milliseconds(200);
    int number = Start();
    CSocket client = ConnectLoopback(number);
    ASSERT_TRUE(SendAll(client.Get(), "hello\n"));
    ASSERT_TRUE(WaitFor([&] { return out.Get().size() == 1; }));
    std::string rest;
    EXPECT_EQ(ReadUntilClosed(client.Get(), rest), ReadEnd::kClosed);
    EXPECT_TRUE(WaitFor([&] { return port->ActiveReaders() == 0; }));
}

TEST_F(TracePortTest, PortTakenShowsTheBindErrorOnce) {
    ListenStep step;
    std::string error;
    CSocket blocker = CreateListener(0, true, 1, step, error);
    config.port = LocalPort(blocker.Get());
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(capture.Boxes(), std::vector<std::string>{"TracePort bind returns error"});
}

TEST_F(TracePortTest, StopEndsReadersThatAreStillConnected) {
    int number = Start();
    CSocket client = ConnectLoopback(number);
    ASSERT_TRUE(SendAll(client.Get(), "x\n"));
    ASSERT_TRUE(WaitFor([&] { return out.Get().size() == 1; }));
    port->Stop();
    EXPECT_EQ(port->ActiveReaders(), 0u);
}

}  // namespace
