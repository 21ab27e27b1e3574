// CAcceptLoop: what the web server and the trace port share — the accept loop of a
// listening socket that gives every connection a thread of its own for as long as it
// is served (its handling and, for the web server, the linger after it).
//
// At most maxWorkers connections are served at once; at the bound the loop waits for
// one to end before it accepts again. A failed accept pauses acceptPause (never
// spins). Threads run at below-normal priority and are detached. A thread whose
// connection has ended waits up to kIdleWorkerWait for the next one before it ends,
// so a busy server does not start a thread per connection (starting one costs more
// than serving a small file). A connection's socket belongs to its thread while it
// is served and is closed by the loop when the worker returns (an exception leaving
// the worker ends only that connection). Stop shuts down the listening socket and
// every open connection, so waits in the workers end at once, and returns when every
// thread has ended.
//
// Thread use: Run on the listener thread, Stop from the owner, the rest from any
// thread. The state the workers use lives as long as the last of them.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "server/http/listen_state.h"
#include "server/http/socket_util.h"

// How long a thread without a connection waits for the next one.
inline constexpr std::chrono::seconds kIdleWorkerWait{30};

class CAcceptLoop final : public CListeningLoop {
public:
    using Worker = std::function<void(int socket)>;

    CAcceptLoop(size_t maxWorkers, std::chrono::milliseconds acceptPause, Worker worker,
                std::chrono::milliseconds idleWait = kIdleWorkerWait);
    ~CAcceptLoop();  // Stop()

    // Publishes listener's port (WaitUntilListening) and accepts on it until Stop.
    // Returns at once when Stop came first. listener stays the caller's.
    void Run(const CSocket& listener);
    // Stops accepting, shuts down every connection and waits for all workers.
    void Stop();
    // WaitForStop, MarkFailed and WaitUntilListening come from CListeningLoop.
    // Connections being served (or handed over and about to be).
    size_t ActiveWorkers() const;
    // Threads living, serving or waiting for a connection.
    size_t WorkerThreads() const;

private:
    struct Shared;
    CListenState& Listen() const override;
    static void WorkerThread(std::shared_ptr<Shared> shared);
    static void Serve(Shared& shared, int socket);

    std::shared_ptr<Shared> shared_;
};
