// CAcceptLoop: what the web server and the trace port share — the accept loop of a
// listening socket that gives every connection a detached worker thread of its own.
//
// At most maxWorkers workers run at once; at the bound the loop waits for one to end
// before it accepts again. A failed accept pauses acceptPause (never spins). Each
// worker runs at below-normal priority; its socket belongs to it while it runs and is
// closed by the loop when it returns (an exception leaving the worker ends only that
// connection). Stop shuts down the listening socket and every open connection, so
// waits in the workers end at once, and returns when every worker has ended.
//
// Thread use: Run on the listener thread, Stop from the owner, the rest from any
// thread. The state the workers use lives as long as the last of them.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "server/http/socket_util.h"

class CAcceptLoop {
public:
    using Worker = std::function<void(int socket)>;

    CAcceptLoop(size_t maxWorkers, std::chrono::milliseconds acceptPause, Worker worker);
    CAcceptLoop(const CAcceptLoop&) = delete;
    CAcceptLoop& operator=(const CAcceptLoop&) = delete;
    ~CAcceptLoop();  // Stop()

    // Publishes listener's port (WaitUntilListening) and accepts on it until Stop.
    // Returns at once when Stop came first. listener stays the caller's.
    void Run(const CSocket& listener);
    // Stops accepting, shuts down every connection and waits for all workers.
    void Stop();
    // Waits up to pause for Stop; true when the loop is stopping.
    bool WaitForStop(std::chrono::milliseconds pause);
    // Listening failed for good: WaitUntilListening returns 0 at once from now on.
    void MarkFailed();
    // The port listened on, once Run has it; 0 when timeout passes first, after
    // MarkFailed, or once stopping.
    int WaitUntilListening(std::chrono::milliseconds timeout);
    size_t ActiveWorkers() const;

private:
    struct Shared;
    static void WorkerThread(std::shared_ptr<Shared> shared, int socket);

    std::shared_ptr<Shared> shared_;
};
