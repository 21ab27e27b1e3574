// The shared accept loop: connections are served by threads that are reused, idle
// threads end after their wait, the bound holds, and Stop ends every thread.
#include "server/http/accept_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "server/http/http_test_util.h"

namespace {

// Runs a loop on its own listener thread, as the servers do.
class LoopRunner {
public:
    LoopRunner(size_t maxWorkers, CAcceptLoop::Worker worker,
               std::chrono::milliseconds idleWait = kIdleWorkerWait)
        : loop(maxWorkers, std::chrono::milliseconds(10), std::move(worker), idleWait) {
        ListenStep step;
        std::string error;
        listener_ = CreateListener(0, true, 64, step, error);
        thread_ = std::thread([this] { loop.Run(listener_); });
        port = loop.WaitUntilListening(std::chrono::seconds(30));
    }
    ~LoopRunner() {
        loop.Stop();
        thread_.join();
    }
    std::string Ask(const std::string& text) {
        CSocket client = ConnectLoopback(port);
        SendAll(client.Get(), text);
        shutdown(client.Get(), SHUT_WR);
        std::string answer;
        ReadUntilClosed(client.Get(), answer);
        return answer;
    }

    CAcceptLoop loop;
    int port = 0;

private:
    CSocket listener_;
    std::thread thread_;
};

// Echoes what the peer sent, with the id of the thread serving it.
void EchoWithThread(std::mutex& mutex, std::set<std::thread::id>& seen, int socket) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        seen.insert(std::this_thread::get_id());
    }
    char piece[64];
    ssize_t got = recv(socket, piece, sizeof piece, 0);
    if (got > 0) SendAll(socket, std::string_view(piece, static_cast<size_t>(got)));
}

TEST(AcceptLoop, ConnectionsOneAfterAnotherShareOneThread) {
    std::mutex mutex;
    std::set<std::thread::id> seen;
    LoopRunner runner(4, [&](int socket) { EchoWithThread(mutex, seen, socket); });
    ASSERT_NE(runner.port, 0);
    for (int i = 0; i < 20; ++i) {
        std::string text = "hello " + std::to_string(i);
        ASSERT_EQ(runner.Ask(text), text);
        // The answer ends before the loop closes the socket: wait for it.
        ASSERT_TRUE(WaitFor([&] { return runner.loop.ActiveWorkers() == 0; }));
    }
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(runner.loop.WorkerThreads(), 1u);
}

TEST(AcceptLoop, IdleThreadsEndAfterTheirWaitAndNewOnesFollow) {
    std::mutex mutex;
    std::set<std::thread::id> seen;
    LoopRunner runner(
        4, [&](int socket) { EchoWithThread(mutex, seen, socket); }, std::chrono::milliseconds(1));
    EXPECT_EQ(runner.Ask("a"), "a");
    EXPECT_TRUE(WaitFor([&] { return runner.loop.WorkerThreads() == 0; }));
    EXPECT_EQ(runner.Ask("b"), "b");
    EXPECT_TRUE(WaitFor([&] { return runner.loop.WorkerThreads() == 0; }));
    EXPECT_EQ(runner.loop.ActiveWorkers(), 0u);
}

TEST(AcceptLoop, BoundHoldsWhileThreadsAreReusedAndStopEndsWaitingConnections) {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> served{0};
    auto runner = std::make_unique<LoopRunner>(3, [&](int socket) {
        int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        char piece[8];
        recv(socket, piece, sizeof piece, 0);  // until the peer or Stop ends it
        --running;
        ++served;
    });
    std::vector<CSocket> clients;
    for (int i = 0; i < 8; ++i) clients.push_back(ConnectLoopback(runner->port));
    ASSERT_TRUE(WaitFor([&] { return running == 3; }));
    // Closing clients lets the waiting ones in, never more than three at once.
    for (int i = 0; i < 4; ++i) clients[static_cast<size_t>(i)].Close();
    ASSERT_TRUE(WaitFor([&] { return served >= 4 && running == 3; }));
    EXPECT_LE(runner->loop.WorkerThreads(), 3u);
    // Stop ends the three being served; the last one, still in the backlog, is never
    // accepted.
    runner.reset();
    EXPECT_EQ(served, 7);
    EXPECT_EQ(most, 3);
}

}  // namespace
