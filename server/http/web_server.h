// The web server: one listener thread that runs the connection loop (see
// connection_loop.h) over the listening socket. The loop reads every request
// whole, with deadlines, and hands only complete requests to its bounded pool of
// workers; waiting and slow connections cost no thread.
//
// A connection carries one request and at most one answer. After the handler
// (HandleRequest, or config's own) the sending side is shut down at once, so the
// client sees the end of an answer without a length immediately, and the loop then
// waits up to the linger time (4000 ms) for the peer to close before closing the
// socket; it stops waiting once the peer has sent kMaxLingerDiscard more bytes.
// Answers leave without waiting for the peer's acknowledgement of earlier segments
// (TCP_NODELAY): an answer is written in a few large pieces, so small segments are
// rare, and holding back a header's last piece would cost the client's delayed-ACK
// time on every small answer.
//
// A listener that cannot bind says so once (on standard error and as a message
// box, which becomes an error.log entry and a live trace line) and tries again
// every bindRetry.
//
// Thread use: Start and Stop from one owning thread; the rest from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "common/http/receive_message.h"
#include "server/config/credential_check.h"
#include "server/config/settings.h"
#include "server/http/connection_loop.h"
#include "server/http/connection_workers.h"
#include "server/http/listener_thread.h"

inline constexpr int kListenBacklog = 1024;
// Bytes a lingering connection reads and drops before it closes without waiting further.
inline constexpr size_t kMaxLingerDiscard = 64 * 1024;
// Bytes a request head may take besides its body.
inline constexpr size_t kMaxHeadBytes = 64 * 1024;

class CTlsServerContext;

struct WebServerConfig {
    int port = Settings::kDefaultHttpPort;  // 0: any free port
    bool loopbackOnly = false;              // bind 127.0.0.1 instead of all addresses
    CConnectionLimits connection;           // deadlines, sizes, linger, workers
    std::chrono::milliseconds bindRetry{10000};
    // Runs per complete request on a worker; empty: HandleRequest.
    CConnectionLoop::Handler handler;
    // The registered users HandleRequest asks for a directory whose user name is
    // "*" (none: nobody passes); must outlive the server.
    const ICredentialCheck* credentials = nullptr;
    // Set: the listener speaks TLS with it (HTTPS); every route is the same.
    std::shared_ptr<CTlsServerContext> tls;
    // Set: the workers (and the body budget) this listener shares with others of
    // the same server; empty: connection.workers threads of its own.
    std::shared_ptr<CConnectionWorkers> workers;
};

// Start (the listener thread runs below normal priority), Stop (stops accepting,
// ends every connection: the sockets of those being answered are shut down, so
// their writes end at once; returns when all threads have ended) and
// WaitUntilListening come from CListenerThread.
class CWebServer : public CListenerThread<CConnectionLoop> {
public:
    // settings must outlive the server.
    CWebServer(Settings& settings, WebServerConfig config);
    ~CWebServer();  // Stop()

    // Connections open (being read, answered or lingering).
    size_t ActiveConnections() const;
    // Requests being answered by the workers now.
    size_t BusyWorkers() const;
    size_t WorkerThreads() const;
    // Bytes of requests held in memory now.
    size_t HeldBytes() const;

private:
    void WebListenerThread();
    // "Web server" or "HTTPS server", for the messages.
    const char* Name() const;

    Settings& settings_;
    WebServerConfig config_;
};

// Reads HttpPort, MaxBodyMB and BodyBudgetMB now (a later change takes effect at
// the next start: a request longer than kMaxHeadBytes and MaxBodyMB MiB is
// dropped, and so is one that would take the requests held in memory past
// BodyBudgetMB MiB), starts the
// server with config's other values and returns it; a portOverride of 0 or more
// is used instead of HttpPort (0: any free port).
std::unique_ptr<CWebServer> StartWebServer(Settings& settings, WebServerConfig config = {},
                                           int portOverride = -1);

// The HTTPS listener beside the plain one, with the same limits: on HttpsPort, or
// portOverride when it is 0 or more (0: any free port); none when HttpsPort is 0
// and there is no override, or when config.tls is not set.
std::unique_ptr<CWebServer> StartHttpsServer(Settings& settings, WebServerConfig config,
                                             int portOverride = -1);
