// Trace port listener and readers.
#include "server/http/trace_port.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/http/socket_util.h"

// The readers of the trace port and when each last received something. Owner: the
// mutex; every reader thread registers, touches and leaves its own entry.
class CTraceReaders {
public:
    explicit CTraceReaders(size_t maxReaders) : maxReaders_(maxReaders == 0 ? 1 : maxReaders) {}

    // Takes socket in; when that makes one reader too many, the one that has been
    // silent longest is ended (its socket shut down, so its wait ends at once).
    void Join(int socket) {
        std::lock_guard<std::mutex> lock(mutex_);
        lastData_[socket] = Clock::now();
        if (lastData_.size() <= maxReaders_) return;
        auto oldest = lastData_.end();
        for (auto it = lastData_.begin(); it != lastData_.end(); ++it) {
            if (it->first == socket) continue;
            if (oldest == lastData_.end() || it->second < oldest->second) oldest = it;
        }
        if (oldest != lastData_.end()) {
            shutdown(oldest->first, SHUT_RDWR);
            lastData_.erase(oldest);
        }
    }
    void Touch(int socket) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = lastData_.find(socket);
        if (it != lastData_.end()) it->second = Clock::now();
    }
    void Leave(int socket) {
        std::lock_guard<std::mutex> lock(mutex_);
        lastData_.erase(socket);
    }

private:
    using Clock = std::chrono::steady_clock;
    std::mutex mutex_;
    std::map<int, Clock::time_point> lastData_;
    size_t maxReaders_;
};

namespace {

// One trace connection: every piece goes to the sink until the peer closes, the
// connection is silent for idleTimeout, or a newer sender takes its place.
void TraceReader(CTraceTextSink& sink, CTraceReaders& readers, std::chrono::milliseconds idle,
                 int socket) {
    readers.Join(socket);
    try {
        char piece[4096];
        for (;;) {
            pollfd fd{socket, POLLIN, 0};
            int ready = poll(&fd, 1, static_cast<int>(idle.count()));
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (ready == 0) break;  // silent too long
            ssize_t got = recv(socket, piece, sizeof piece, 0);
            if (got == 0) break;
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                break;
            }
            readers.Touch(socket);
            // The text of a piece ends at its first zero byte.
            std::string_view text(piece, static_cast<size_t>(got));
            sink.AddText(text.substr(0, text.find('\0')));
        }
    } catch (...) {
        AddLiveTrace("Trace port reader ended unexpectedly");
    }
    readers.Leave(socket);
}

std::unique_ptr<CAcceptLoop> TraceAcceptLoop(CTraceTextSink& sink, const TracePortConfig& config) {
    CTraceTextSink* target = &sink;
    auto readers = std::make_shared<CTraceReaders>(config.maxReaders);
    std::chrono::milliseconds idle = config.idleTimeout;
    // One connection more than the readers allowed is taken, so a new sender can
    // replace the longest silent one.
    return std::make_unique<CAcceptLoop>(
        config.maxReaders + 1, config.acceptPause,
        [target, readers, idle](int socket) { TraceReader(*target, *readers, idle, socket); });
}

}  // namespace

CTracePort::CTracePort(CTraceTextSink& sink, TracePortConfig config)
    : CListenerThread(TraceAcceptLoop(sink, config), [this] { TraceListenerThread(); }),
      config_(config) {}

CTracePort::~CTracePort() { Stop(); }

size_t CTracePort::ActiveReaders() const { return Loop().ActiveWorkers(); }

void CTracePort::TraceListenerThread() {
    try {
        ListenStep step = ListenStep::kSocket;
        std::string reason;
        CSocket listener = CreateListener(config_.port, config_.loopbackOnly, 64, step, reason);
        if (!listener.IsValid()) {
            switch (step) {
                case ListenStep::kSocket:
                    ShowMessageBox("Listen Trace: Err: " + reason, "VantroMobile");
                    break;
                case ListenStep::kBind:
                    ShowMessageBox("TracePort bind returns error");
                    break;
                case ListenStep::kListen:
                    ShowMessageBox("TracePort listen returns error");
                    break;
            }
            Loop().MarkFailed();
            return;
        }
        AddLiveTraceF("Trace port listening on port %d", LocalPort(listener.Get()));
        Loop().Run(listener);
    } catch (...) {
        AddLiveTrace("Trace port listener ended unexpectedly");
    }
}

std::unique_ptr<CTracePort> StartTracePort(CTraceTextSink& sink, TracePortConfig config) {
    auto port = std::make_unique<CTracePort>(sink, config);
    port->Start();
    return port;
}
