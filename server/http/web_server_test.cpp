// The web server over its connection loop: linger, deadlines, the bounded pool of
// workers, memory limits, binding; real loopback connections.
#include "server/http/web_server.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <set>
#include <stdexcept>

#include "server/config/config_test_util.h"
#include "server/http/http_test_util.h"

namespace {

const std::string kGet = "GET / HTTP/1.1\r\n\r\n";

// What a dropped connection gives before it ends: closed, or reset when the
// server closed it with bytes still unread.
std::string NoAnswerRead(int socket) {
    std::string answer;
    ReadEnd end = ReadUntilClosed(socket, answer);
    EXPECT_TRUE(end == ReadEnd::kClosed || end == ReadEnd::kError);
    return answer;
}

class WebServerTest : public ::testing::Test {
protected:
    // Declared after the state a handler captures, it stops the server (and so
    // ends every worker) before that state goes away.
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
        config.connection.linger = std::chrono::milliseconds(0);
    }
    int Start() {
        server = std::make_unique<CWebServer>(settings, config);
        server->Start();
        return server->WaitUntilListening(std::chrono::seconds(30));
    }
    // Connects and sends request; the connection.
    CSocket Send(int port, const std::string& request) {
        CSocket client = ConnectLoopback(port);
        EXPECT_TRUE(SendAll(client.Get(), request));
        return client;
    }
    std::string Answer(int port, const std::string& request) {
        CSocket client = Send(port, request);
        std::string answer;
        EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
        return answer;
    }

    TraceCapture capture;
    TempFolder temp;
    Settings settings;
    WebServerConfig config;
    std::unique_ptr<CWebServer> server;
};

TEST_F(WebServerTest, AnswerWithoutLengthEndsAtOnceAndTheLingerWaitsForThePeer) {
    // With an hour of linger the client would hang if the sending side were
    // closed only after the linger.
    config.connection.linger = std::chrono::hours(1);
    config.handler = [](CReceivedRequest& request, IAnswerStream& out) {
        std::string_view received(request.command.Buffer().Data(), request.count);
        out.Write("HTTP/1.0 200 OK\r\n\r\n" + std::string(received.substr(0, 5)));
    };
    int port = Start();
    CSocket client = Send(port, kGet);
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\n\r\nGET /");
    // The connection lingers in the loop, not in a worker; closing our side ends it.
    EXPECT_EQ(server->ActiveConnections(), 1u);
    EXPECT_EQ(server->BusyWorkers(), 0u);
    client.Close();
    EXPECT_TRUE(WaitFor([&] { return server->ActiveConnections() == 0; }));
}

TEST_F(WebServerTest, PeerThatKeepsSendingIsNotLingeredFor) {
    config.connection.linger = std::chrono::hours(1);
    config.handler = [](CReceivedRequest&, IAnswerStream&) {};
    int port = Start();
    CSocket client = Send(port, kGet);
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
    config.handler = [&](CReceivedRequest&, IAnswerStream& out) {
        if (++calls == 1) throw std::runtime_error("boom");
        out.Write("second");
    };
    int port = Start();
    EXPECT_EQ(Answer(port, kGet), "");
    EXPECT_TRUE(WaitFor([&] { return capture.HasLine("Something went wrong... web() crashed"); }));
    EXPECT_EQ(Answer(port, kGet), "second");
}

TEST_F(WebServerTest, WaitingConnectionsHoldNoWorkerWhileOthersAreAnswered) {
    config.connection.workers = 2;
    config.handler = [](CReceivedRequest&, IAnswerStream& out) { out.Write("answered"); };
    int port = Start();
    // Idle connections and connections with half a head, more than there are workers.
    std::vector<CSocket> waiting;
    for (int i = 0; i < 40; ++i) waiting.push_back(ConnectLoopback(port));
    for (int i = 0; i < 40; ++i) waiting.push_back(Send(port, "POST /slow HTTP/1.1\r\nHo"));
    ASSERT_TRUE(WaitFor([&] { return server->ActiveConnections() == 80; }));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Answer(port, kGet), "answered");
    EXPECT_EQ(server->WorkerThreads(), 2u);
    EXPECT_EQ(server->BusyWorkers(), 0u);
    // A request completed later is answered as well.
    ASSERT_TRUE(SendAll(waiting.back().Get(), "st: pc\r\nContent-Length: 2\r\n\r\nok"));
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(waiting.back().Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "answered");
}

TEST_F(WebServerTest, SlowHeadsAndSlowBodiesAreDroppedAtTheirDeadlines) {
    config.connection.headTimeout = std::chrono::milliseconds(300);
    config.connection.bodyWindow = std::chrono::milliseconds(300);
    config.connection.minBodyBytesPerSecond = 1000;  // 300 bytes per window
    std::atomic<int> handled{0};
    config.handler = [&](CReceivedRequest&, IAnswerStream& out) {
        ++handled;
        out.Write("answered");
    };
    int port = Start();
    // A head sent a byte at a time, each byte well within the deadline: the whole
    // head still has to arrive in time.
    CSocket trickle = ConnectLoopback(port);
    auto started = std::chrono::steady_clock::now();
    bool sent = true;
    for (char c : std::string("GET /trickle HTTP/1.1\r\nHost: x\r\n")) {
        if (!(sent = SendAll(trickle.Get(), std::string(1, c)))) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(trickle.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    // A body slower than the rate: dropped; one at the rate: answered.
    CSocket slowBody = Send(port, "POST /b HTTP/1.1\r\nContent-Length: 2000\r\n\r\n0123456789");
    EXPECT_EQ(NoAnswerRead(slowBody.Get()), "");
    CSocket steady = Send(port, "POST /b HTTP/1.1\r\nContent-Length: 1200\r\n\r\n");
    for (int i = 0; i < 6; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(SendAll(steady.Get(), std::string(200, 'b')));
    }
    EXPECT_EQ(ReadUntilClosed(steady.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "answered");
    EXPECT_EQ(handled, 1);
    // A POST without any body framing has no body: answered at the end of its head.
    EXPECT_EQ(Answer(port, "POST /x HTTP/1.1\r\nHost: x\r\n\r\n"), "answered");
}

TEST_F(WebServerTest, WorkersAreBoundedAndCompleteRequestsWaitForOne) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> started{0};
    StopAtEnd stop{this};
    config.connection.workers = 2;
    config.handler = [&](CReceivedRequest&, IAnswerStream& out) {
        ++started;
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return release; });
        out.Write("done");
    };
    int port = Start();
    CSocket a = Send(port, kGet);
    CSocket b = Send(port, kGet);
    CSocket c = Send(port, kGet);
    ASSERT_TRUE(WaitFor([&] { return started == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(started, 2);
    EXPECT_EQ(server->BusyWorkers(), 3u);  // two answering, one waiting for a worker
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

TEST_F(WebServerTest, WorkersRunOneStepBelowNormalWithoutDelayedSegments) {
    int normal = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    config.handler = [](CReceivedRequest&, IAnswerStream& out) {
        int noDelay = 0;
        socklen_t size = sizeof noDelay;
        getsockopt(static_cast<CSocketAnswerStream&>(out).Socket(), IPPROTO_TCP, TCP_NODELAY,
                   &noDelay, &size);
        pid_t thread = static_cast<pid_t>(syscall(SYS_gettid));
        int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
        out.Write((noDelay != 0 ? "nodelay " : "nagle ") + std::to_string(nice));
    };
    int port = Start();
    EXPECT_EQ(Answer(port, kGet), "nodelay " + std::to_string(normal + 1));
}

TEST_F(WebServerTest, ClientGoneBeforeTheAnswerDoesNotEndTheServer) {
    std::atomic<bool> sendFailed{false};
    StopAtEnd stop{this};
    config.handler = [&](CReceivedRequest&, IAnswerStream& out) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the client goes
        std::string big(1 << 20, 'x');
        bool ok = true;
        for (int i = 0; i < 16 && ok; ++i) ok = out.Write(big);
        sendFailed = !ok;
    };
    int port = Start();
    { CSocket client = Send(port, kGet); }
    EXPECT_TRUE(WaitFor([&] { return sendFailed.load(); }));
    EXPECT_TRUE(ConnectLoopback(port).IsValid());
}

TEST_F(WebServerTest, BodiesPastTheMemoryBudgetAreDropped) {
    // A buffer doubles as it grows: 100000 bytes take 131072, 60000 take 65536.
    config.connection.bodyBudgetBytes = 160 * 1024;
    config.connection.maxMessageBytes = 1024 * 1024;
    config.handler = [](CReceivedRequest& request, IAnswerStream& out) {
        out.Write(std::to_string(request.count));
    };
    int port = Start();
    std::string head = "POST / HTTP/1.1\r\nContent-Length: 100000\r\n\r\n";
    std::string whole = std::to_string(head.size() + 100000);
    // One body partly sent holds its part of the budget; a second of the same size
    // does not fit beside it.
    CSocket first = Send(port, head + std::string(60000, 'a'));
    ASSERT_TRUE(WaitFor([&] { return server->ActiveConnections() == 1; }));
    CSocket second = Send(port, head + std::string(100000, 'b'));
    EXPECT_EQ(NoAnswerRead(second.Get()), "");
    EXPECT_TRUE(WaitFor([&] {
        return capture.HasLine("Request dropped: requests in memory would pass 163840 bytes");
    }));
    // The first one finishes and is answered; its memory is given back.
    ASSERT_TRUE(SendAll(first.Get(), std::string(40000, 'a')));
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(first.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, whole);
    EXPECT_TRUE(WaitFor([&] { return server->ActiveConnections() == 0; }));
    EXPECT_EQ(server->HeldBytes(), 0u);
    EXPECT_EQ(Answer(port, head + std::string(100000, 'c')), whole);
    // A declared length past the message limit is dropped before its body is read.
    CSocket huge = Send(port, "POST / HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n");
    EXPECT_EQ(NoAnswerRead(huge.Get()), "");
    EXPECT_TRUE(
        WaitFor([&] { return capture.HasLine("Request dropped: larger than 1048576 bytes"); }));
}

TEST_F(WebServerTest, TwoListenersShareOneWorkerPoolAndOneBodyBudget) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> started{0};
    config.connection.bodyBudgetBytes = 160 * 1024;
    config.workers = std::make_shared<CConnectionWorkers>(1);
    config.handler = [&](CReceivedRequest& request, IAnswerStream& out) {
        ++started;
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return release; });
        out.Write(std::to_string(request.count));
    };
    auto other = std::make_unique<CWebServer>(settings, config);
    StopAtEnd stop{this};
    int port = Start();
    other->Start();
    int otherPort = other->WaitUntilListening(std::chrono::seconds(30));
    ASSERT_NE(otherPort, 0);
    EXPECT_EQ(server->WorkerThreads(), 1u);
    EXPECT_EQ(other->WorkerThreads(), 1u);

    // A body half sent to one listener holds its room; the same body sent to the
    // other does not fit beside it.
    std::string head = "POST / HTTP/1.1\r\nContent-Length: 100000\r\n\r\n";
    CSocket first = Send(port, head + std::string(60000, 'a'));
    ASSERT_TRUE(WaitFor([&] { return server->HeldBytes() > 100000; }));
    CSocket dropped = Send(otherPort, head + std::string(100000, 'b'));
    EXPECT_EQ(NoAnswerRead(dropped.Get()), "");
    EXPECT_TRUE(WaitFor([&] {
        return capture.HasLine("Request dropped: requests in memory would pass 163840 bytes");
    }));

    // The one worker answers the first listener; the other's request waits for it.
    ASSERT_TRUE(SendAll(first.Get(), std::string(40000, 'a')));
    ASSERT_TRUE(WaitFor([&] { return started == 1; }));
    CSocket waiting = Send(otherPort, kGet);
    ASSERT_TRUE(WaitFor([&] { return other->BusyWorkers() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(started, 1);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    released.notify_all();
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(first.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, std::to_string(head.size() + 100000));
    answer.clear();
    EXPECT_EQ(ReadUntilClosed(waiting.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, std::to_string(kGet.size()));
    EXPECT_EQ(started, 2);
    other->Stop();
    EXPECT_EQ(other->WorkerThreads(), 0u);
    // The pool outlives a listener that stopped: the first one still answers.
    EXPECT_EQ(Answer(port, kGet), std::to_string(kGet.size()));
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

TEST_F(WebServerTest, StopEndsConnectionsBeingReadAndAnswered) {
    std::atomic<bool> writing{false};
    config.connection.headTimeout = std::chrono::hours(1);
    config.handler = [&](CReceivedRequest&, IAnswerStream& out) {
        writing = true;
        std::string big(1 << 20, 'x');
        while (out.Write(big)) {
        }
    };
    int port = Start();
    CSocket idle = ConnectLoopback(port);
    CSocket reader = Send(port, kGet);  // never reads its answer
    ASSERT_TRUE(WaitFor([&] { return writing.load(); }));
    server->Stop();
    EXPECT_EQ(server->ActiveConnections(), 0u);
    EXPECT_EQ(server->WorkerThreads(), 0u);
}

TEST_F(WebServerTest, StartWebServerReadsHttpPortAndBodyLimitsOnce) {
    int port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    settings.SetHttpPort(port);
    settings.SetMaxBodyMB(1);
    config.handler = [](CReceivedRequest&, IAnswerStream& out) { out.Write("taken"); };
    auto started = StartWebServer(settings, config);
    settings.SetHttpPort(1);  // a later change does not move the listener
    settings.SetMaxBodyMB(64);
    EXPECT_EQ(started->WaitUntilListening(std::chrono::seconds(30)), port);
    EXPECT_EQ(Answer(port, "POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" +
                               std::string(1048576, 'x')),
              "taken");
    CSocket past = Send(port, "POST / HTTP/1.1\r\nContent-Length: 1200000\r\n\r\n");
    EXPECT_EQ(NoAnswerRead(past.Get()), "");
    auto overridden = StartWebServer(settings, config, 0);
    int other = overridden->WaitUntilListening(std::chrono::seconds(30));
    EXPECT_NE(other, 0);
    EXPECT_NE(other, port);
}

}  // namespace
