// The trace port: any program may stream plain text to TCP port 2005; every line
// goes to the client trace (CTraceTextSink). Nothing is ever sent back.
//
// One reader thread per connection, at most maxReaders at once: when all are taken,
// a new sender replaces the reader that has been silent longest. A reader ends and
// closes its socket when the peer closes, the socket fails, or nothing has arrived
// for idleTimeout (60 s). A failed accept pauses, then accepting goes on.
// A socket, bind or listen failure is reported once as a message box ("TracePort
// bind returns error" and the like) and the trace port stays closed; the rest of
// the server is not affected.
//
// Thread use: Start and Stop from one owning thread; the rest from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "server/http/accept_loop.h"
#include "server/http/listener_thread.h"
#include "server/http/trace_text_sink.h"

inline constexpr int kTracePort = 2005;
inline constexpr size_t kMaxTraceReaders = 16;

struct TracePortConfig {
    int port = kTracePort;      // 0: any free port
    bool loopbackOnly = false;  // bind 127.0.0.1 instead of all addresses
    size_t maxReaders = kMaxTraceReaders;
    std::chrono::milliseconds idleTimeout{60000};
    std::chrono::milliseconds acceptPause{100};
};

// Start, Stop (stops accepting, ends every reader and returns when all have ended)
// and WaitUntilListening come from CListenerThread.
class CTracePort : public CListenerThread<CAcceptLoop> {
public:
    // sink must outlive the trace port.
    CTracePort(CTraceTextSink& sink, TracePortConfig config);
    ~CTracePort();  // Stop()

    size_t ActiveReaders() const;

private:
    void TraceListenerThread();

    TracePortConfig config_;
};

// Starts the trace port (normal priority) and returns it.
std::unique_ptr<CTracePort> StartTracePort(CTraceTextSink& sink, TracePortConfig config = {});
