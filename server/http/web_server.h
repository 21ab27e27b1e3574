// The web server: one listener thread, and a thread of its own for every accepted
// connection while it is served (threads are reused for later connections, see
// accept_loop.h).
//
// A connection carries one request and at most one answer. Its thread runs the
// handler (web), then shuts down the sending side at once, so the client sees the
// end of an answer without a length immediately, and then waits up to the linger
// time (4000 ms) for the peer to close before closing the socket. Reading stops as
// soon as the peer has closed, or once the peer has sent kMaxLingerDiscard more bytes.
// Answers leave without waiting for the peer's acknowledgement of earlier segments
// (TCP_NODELAY): an answer is written in a few large pieces, so small segments are
// rare, and holding back a header's last piece would cost the client's delayed-ACK
// time on every small answer.
//
// At most maxConnections threads run at once; at the bound the listener waits for
// one to end before it accepts again. A listener that cannot bind says so once (on
// standard error and as a message box, which becomes an error.log entry and a live
// trace line) and tries again every bindRetry; a failed accept pauses acceptPause.
//
// Thread use: Start and Stop from one owning thread; the rest from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

#include "common/http/receive_message.h"
#include "server/config/settings.h"
#include "server/http/accept_loop.h"

// Connection threads running at once.
inline constexpr size_t kMaxConnections = 256;
inline constexpr int kListenBacklog = 64;
// Bytes a lingering connection reads and drops before it closes without waiting further.
inline constexpr size_t kMaxLingerDiscard = 64 * 1024;
// Bytes a request head may take besides its body.
inline constexpr size_t kMaxHeadBytes = 64 * 1024;

struct WebServerConfig {
    int port = Settings::kDefaultHttpPort;  // 0: any free port
    bool loopbackOnly = false;              // bind 127.0.0.1 instead of all addresses
    ReceiveLimits receive;
    std::chrono::milliseconds linger{4000};
    std::chrono::milliseconds bindRetry{10000};
    std::chrono::milliseconds acceptPause{100};
    size_t maxConnections = kMaxConnections;
    // Runs per connection; empty: web(socket, settings, receive).
    std::function<void(int socket)> handler;
};

class CWebServer {
public:
    // settings must outlive the server.
    CWebServer(Settings& settings, WebServerConfig config);
    CWebServer(const CWebServer&) = delete;
    CWebServer& operator=(const CWebServer&) = delete;
    ~CWebServer();  // Stop()

    // Starts the listener thread (below normal priority) and returns at once.
    void Start();
    // Stops accepting, ends every connection (their sockets are shut down, so
    // waits end at once) and returns when all threads have ended.
    void Stop();
    // The port listened on, once listening; 0 when timeout passes before that.
    int WaitUntilListening(std::chrono::milliseconds timeout);
    size_t ActiveConnections() const;

private:
    void WebListenerThread();

    Settings& settings_;
    WebServerConfig config_;
    std::unique_ptr<CAcceptLoop> loop_;
    std::thread listener_;
};

// Reads HttpPort and MaxBodyMB now (a later change takes effect at the next start:
// a request longer than its head and that many MiB is dropped), starts the
// server with config's other values and returns it; a portOverride of 0 or more
// is used instead of HttpPort (0: any free port).
std::unique_ptr<CWebServer> StartWebServer(Settings& settings, WebServerConfig config = {},
                                           int portOverride = -1);
