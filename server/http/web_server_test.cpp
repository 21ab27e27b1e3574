#include "server/http/web_server.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <atomic>
#include <condition_variable>
#include <set>
#include <stdexcept>

#include "server/config/config_test_util.h"
#include "server/http/http_test_util.h"

namespace {

class WebServerTest : public ::testing::Test {
protected:
    // Declared after the state a handler captures, it stops the server (and so
    // ends every connection thread) before that state goes away.
    struct StopAtEnd {
        WebServerTest* test;
        ~StopAtEnd() {
            if (test->server) test->server->Stop();
        }
    };

    void SetUp() override {
        settings.LoadSettings(temp.Path() + "/data");
        config.port = 0;
        config.loopbackOnly = true;
        config.receive.waitUnits = 1;
        config.receive.step = std::chrono::milliseconds(2);
    }
    int Start() {
        server = std::make_unique<CWebServer>(settings, config);
        server->Start();
        return server->WaitUntilListening(std::chrono::seconds(30));
    }

    TraceCapture capture;
    TempFolder temp;
    Settings settings;
    WebServerConfig config;
    std::unique_ptr<CWebServer> server;
};

TEST_F(WebServerTest, AnswerWithoutLengthEndsAsSoonAsTheHandlerReturns) {
    // With an hour of linger the client would hang if the sending side were
    // closed only after the linger.
    config.linger = std::chrono::hours(1);
    config.handler = [](int socket) {
        SendAll(socket, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>file</html>");
    };
    int port = Start();
    CSocket client = ConnectLoopback(port);
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>file</html>");
    // The thread still lingers for the peer; closing our side ends it.
    EXPECT_EQ(server->ActiveConnections(), 1u);
    client.Close();
    EXPECT_TRUE(WaitFor([&] { return server->ActiveConnections() == 0; }));
}

TEST_F(WebServerTest, PeerThatKeepsSendingIsNotLingeredFor) {
    config.linger = std::chrono::hours(1);
    config.handler = [](int) {};  // reads nothing, as for a request past the size limit
    int port = Start();
    CSocket client = ConnectLoopback(port);
    std::thread flood([&] {
        std::string piece(64 * 1024, 'x');
        for (int i = 0; i < 64 && SendAll(client.Get(), piece); ++i) {
        }
    });
    EXPECT_TRUE(WaitFor([&] { return server->ActiveConnections() == 0; }));
    flood.join();
}

TEST_F(WebServerTest, HandlerThatThrowsEndsOnlyItsConnection) {
    std::atomic<int> calls{0};
    StopAtEnd stop{this};
    config.handler = [&](int socket) {
        if (++calls == 1) throw std::runtime_error("boom");
        SendAll(socket, "second");
    };
    int port = Start();
    {
        CSocket client = ConnectLoopback(port);
        std::string answer;
        EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
        EXPECT_EQ(answer, "");
    }
    EXPECT_TRUE(WaitFor([&] { return capture.HasLine("Something went wrong... web() crashed"); }));
    CSocket client = ConnectLoopback(port);
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "second");
}

TEST_F(WebServerTest, ConnectionsAreBoundedAndTheListenerWaitsForAFreeSlot) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> started{0};
    StopAtEnd stop{this};
    config.maxConnections = 2;
    config.linger = std::chrono::milliseconds(0);
    config.handler = [&](int socket) {
        ++started;
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return release; });
        SendAll(socket, "done");
    };
    int port = Start();
    CSocket a = ConnectLoopback(port);
    CSocket b = ConnectLoopback(port);
    CSocket c = ConnectLoopback(port);  // waits in the backlog
    ASSERT_TRUE(c.IsValid());
    ASSERT_TRUE(WaitFor([&] { return started == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(started, 2);
    EXPECT_EQ(server->ActiveConnections(), 2u);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    released.notify_all();
    for (CSocket* client : {&a, &b, &c}) {
        std::string answer;
        EXPECT_EQ(ReadUntilClosed(client->Get(), answer), ReadEnd::kClosed);
        EXPECT_EQ(answer, "done");
    }
    EXPECT_EQ(started, 3);
}

TEST_F(WebServerTest, AnswersLeaveWithoutWaitingForAcknowledgementsAndThreadsAreReused) {
    std::mutex mutex;
    std::set<std::thread::id> threads;
    StopAtEnd stop{this};
    config.linger = std::chrono::milliseconds(0);
    config.handler = [&](int socket) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
        }
        int noDelay = 0;
        socklen_t size = sizeof noDelay;
        getsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size);
        SendAll(socket, noDelay != 0 ? "nodelay" : "nagle");
    };
    int port = Start();
    for (int i = 0; i < 5; ++i) {
        CSocket client = ConnectLoopback(port);
        std::string answer;
        EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
        EXPECT_EQ(answer, "nodelay");
        client.Close();
        ASSERT_TRUE(WaitFor([&] { return server->ActiveConnections() == 0; }));
    }
    EXPECT_EQ(threads.size(), 1u);
}

TEST_F(WebServerTest, ClientGoneBeforeTheAnswerDoesNotEndTheServer) {
    std::atomic<bool> sendFailed{false};
    StopAtEnd stop{this};
    config.handler = [&](int socket) {
        char byte;
        while (recv(socket, &byte, 1, 0) > 0) {
        }
        std::string big(1 << 20, 'x');
        bool ok = true;
        for (int i = 0; i < 8 && ok; ++i) ok = SendAll(socket, big);
        sendFailed = !ok;
    };
    int port = Start();
    {
        CSocket client = ConnectLoopback(port);
        ASSERT_TRUE(SendAll(client.Get(), "GET / HTTP/1.1\r\n\r\n"));
    }
    EXPECT_TRUE(WaitFor([&] { return sendFailed.load(); }));
    CSocket again = ConnectLoopback(port);
    EXPECT_TRUE(again.IsValid());
}

TEST_F(WebServerTest, PortTakenIsReportedOnceAndRetriedUntilFree) {
    ListenStep step;
    std::string error;
    CSocket blocker = CreateListener(0, true, 1, step, error);
    ASSERT_TRUE(blocker.IsValid());
    int taken = LocalPort(blocker.Get());
    config.port = taken;
    config.bindRetry = std::chrono::milliseconds(20);
    server = std::make_unique<CWebServer>(settings, config);
    server->Start();
    ASSERT_TRUE(WaitFor([&] { return !capture.Boxes().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // several retries
    EXPECT_EQ(capture.Boxes(),
              std::vector<std::string>{"Web server: Web server cannot listen on port " +
                                       std::to_string(taken) +
                                       ": Address already in use; trying again every 20 ms"});
    blocker.Close();
    EXPECT_EQ(server->WaitUntilListening(std::chrono::seconds(30)), taken);
    EXPECT_TRUE(capture.HasLine("Web server listening on port " + std::to_string(taken)));
}

TEST_F(WebServerTest, StopEndsABindRetryWait) {
    ListenStep step;
    std::string error;
    CSocket blocker = CreateListener(0, true, 1, step, error);
    config.port = LocalPort(blocker.Get());
    config.bindRetry = std::chrono::hours(1);
    server = std::make_unique<CWebServer>(settings, config);
    server->Start();
    ASSERT_TRUE(WaitFor([&] { return !capture.Boxes().empty(); }));
    server->Stop();  // returns although the retry pause is an hour
    EXPECT_EQ(server->WaitUntilListening(std::chrono::milliseconds(0)), 0);
}

TEST_F(WebServerTest, StartWebServerReadsHttpPortOnce) {
    int port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    settings.SetHttpPort(port);
    config.handler = [](int) {};
    auto started = StartWebServer(settings, config);
    settings.SetHttpPort(1);  // a later change does not move the listener
    EXPECT_EQ(started->WaitUntilListening(std::chrono::seconds(30)), port);
    auto overridden = StartWebServer(settings, config, 0);
    int other = overridden->WaitUntilListening(std::chrono::seconds(30));
    EXPECT_NE(other, 0);
    EXPECT_NE(other, port);
}

}  // namespace
