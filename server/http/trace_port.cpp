// Trace port listener and readers.
#include "server/http/trace_port.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/http/socket_util.h"

namespace {

// One trace connection: every piece goes to the sink until the peer closes.
void TraceReader(CTraceTextSink& sink, int socket) {
    try {
        char piece[4096];
        for (;;) {
            pollfd fd{socket, POLLIN, 0};
            int ready = poll(&fd, 1, -1);
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            ssize_t got = recv(socket, piece, sizeof piece, 0);
            if (got == 0) break;
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                break;
            }
            // The text of a piece ends at its first zero byte.
            std::string_view text(piece, static_cast<size_t>(got));
            sink.AddText(text.substr(0, text.find('\0')));
        }
    } catch (...) {
        AddLiveTrace("Trace port reader ended unexpectedly");
    }
}

}  // namespace

CTracePort::CTracePort(CTraceTextSink& sink, TracePortConfig config) : config_(config) {
    CTraceTextSink* target = &sink;
    loop_ = std::make_unique<CAcceptLoop>(config_.maxReaders, config_.acceptPause,
                                          [target](int socket) { TraceReader(*target, socket); });
}

CTracePort::~CTracePort() { Stop(); }

void CTracePort::Start() {
    if (listener_.joinable()) return;
    listener_ = std::thread([this] { TraceListenerThread(); });
}

void CTracePort::Stop() {
    loop_->Stop();
    if (listener_.joinable()) listener_.join();
}

int CTracePort::WaitUntilListening(std::chrono::milliseconds timeout) {
    return loop_->WaitUntilListening(timeout);
}

size_t CTracePort::ActiveReaders() const { return loop_->ActiveWorkers(); }

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
            loop_->MarkFailed();
            return;
        }
        AddLiveTraceF("Trace port listening on port %d", LocalPort(listener.Get()));
        loop_->Run(listener);
    } catch (...) {
        AddLiveTrace("Trace port listener ended unexpectedly");
    }
}

std::unique_ptr<CTracePort> StartTracePort(CTraceTextSink& sink, TracePortConfig config) {
    auto port = std::make_unique<CTracePort>(sink, config);
    port->Start();
    return port;
}
