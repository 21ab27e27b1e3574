// CConnectionLoop: the web server's connections on one thread. One epoll loop
// accepts connections and reads each request until it is complete; only complete
// requests go to a bounded pool of worker threads, which run the handler and write
// the answer; the connection then comes back to the loop for its linger (the
// sending side shut down, the peer's remaining bytes read and dropped for up to
// the linger time) and is closed there. A connection that waits costs no thread.
//
// Each connection moves its bytes through a transport (connection_transport.h):
// plain, or TLS, whose handshake the loop drives without a worker, the socket
// registered for what the handshake waits on.
//
// Deadlines, each ending the connection without an answer:
//  - a handshake must be over within handshakeTimeout of the accept;
//  - the whole request head must arrive within headTimeout of the accept (of the
//    handshake's end, on a transport with one);
//  - a body must keep arriving at minBodyBytesPerSecond at least, measured over
//    each bodyWindow;
//  - a head longer than maxHeadBytes, or a message (head and body) longer than
//    maxMessageBytes, is dropped as soon as that is known (a declared length past
//    it at once), with a live trace line;
//  - all bodies held at once (read or being read, and handed to the workers) stay
//    within bodyBudgetBytes: a connection whose bytes would pass it is dropped,
//    with a live trace line.
// A head without body framing ("POST" with neither Content-Length nor chunked) is
// complete at the end of the head; a peer that closes its side after sending
// something has its request handled with what came.
//
// The workers may be shared with other loops (connection_workers.h); the budget
// then bounds what all of them hold. Workers write with blocking sends bounded by
// writeTimeout each. A handler that throws ends only its connection (closed at
// once, with the live trace line
// "Something went wrong... web() crashed").
//
// Thread use: Run on the caller's thread (the listener thread) until Stop; Stop,
// the counters and the waits from any thread. The handler runs on the workers,
// several at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "common/http/html_command.h"
#include "server/http/answer_stream.h"
#include "server/http/connection_transport.h"
#include "server/http/listen_state.h"
#include "server/http/socket_util.h"

class CConnectionWorkers;

struct CConnectionLimits {
    std::chrono::milliseconds handshakeTimeout{10000};
    std::chrono::milliseconds headTimeout{10000};
    size_t minBodyBytesPerSecond = 1024;
    std::chrono::milliseconds bodyWindow{10000};
    std::chrono::milliseconds linger{4000};
    // Bytes a lingering connection reads and drops before it closes at once.
    size_t maxLingerDiscard = 64 * 1024;
    size_t maxHeadBytes = 64 * 1024;
    size_t maxMessageBytes = size_t{64} * 1024 * 1024 + 64 * 1024;
    size_t bodyBudgetBytes = size_t{256} * 1024 * 1024;
    std::chrono::milliseconds writeTimeout{60000};
    size_t workers = 32;
    // Connections open at once; one more is closed as soon as it is accepted.
    size_t maxConnections = 100000;
    // Pause after a failed accept (out of descriptors), never a spin.
    std::chrono::milliseconds acceptPause{100};
};

// One complete request as the loop read it.
struct CReceivedRequest {
    // Buffer() holds the received bytes (count of them, then a zero byte); not parsed.
    CHTMLCommand command;
    size_t count = 0;
    bool overTls = false;  // it came through an encrypted transport
};

class CConnectionLoop final : public CListeningLoop {
public:
    using Handler = std::function<void(CReceivedRequest& request, IAnswerStream& out)>;

    // transports: what each accepted socket's bytes go through; empty: plain.
    // workers: shared with other loops (their threads answer this loop's requests,
    // and limits.bodyBudgetBytes bounds what all of them hold); empty: the loop
    // starts limits.workers threads of its own for as long as Run runs.
    CConnectionLoop(CConnectionLimits limits, Handler handler, TransportFactory transports = {},
                    std::shared_ptr<CConnectionWorkers> workers = {});
    ~CConnectionLoop();  // Stop()

    // Starts the workers, publishes listener's port (WaitUntilListening) and serves
    // until Stop; then closes every connection and ends the workers before it
    // returns. Returns at once when Stop came first. listener stays the caller's.
    void Run(const CSocket& listener);
    // Ends Run (from any thread) and waits until it has returned.
    void Stop();
    // WaitForStop, MarkFailed and WaitUntilListening come from CListeningLoop.

    // Connections open: being read, handled, or lingering.
    size_t OpenConnections() const;
    // Requests handed to the workers and not yet back.
    size_t BusyWorkers() const;
    // Worker threads answering this loop's requests while it runs (limits.workers,
    // or the shared workers' count); 0 once it has stopped.
    size_t WorkerThreads() const;
    // Bytes of requests held in memory now.
    size_t HeldBytes() const;

private:
    struct State;
    CListenState& Listen() const override;
    std::shared_ptr<CConnectionWorkers> workers_;
    std::shared_ptr<State> state_;
};
