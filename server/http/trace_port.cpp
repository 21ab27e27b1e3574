// Trace port listener and readers.
#include "server/http/trace_port.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/http/socket_util.h"

struct CTracePort::Shared {
    explicit Shared(CTraceTextSink& s) : sink(s) {}
    CTraceTextSink& sink;
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    bool failed = false;
    size_t active = 0;
    std::set<int> sockets;
    int listenSocket = -1;
    int port = 0;
};

CTracePort::CTracePort(CTraceTextSink& sink, TracePortConfig config)
    : config_(config), shared_(std::make_shared<Shared>(sink)) {
    if (config_.maxReaders == 0) config_.maxReaders = 1;
}

CTracePort::~CTracePort() { Stop(); }

void CTracePort::Start() {
    if (listener_.joinable()) return;
    listener_ = std::thread([this] { TraceListenerThread(); });
}

void CTracePort::Stop() {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stopping = true;
        if (shared_->listenSocket >= 0) shutdown(shared_->listenSocket, SHUT_RDWR);
        for (int socket : shared_->sockets) shutdown(socket, SHUT_RDWR);
    }
    shared_->changed.notify_all();
    if (listener_.joinable()) listener_.join();
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait(lock, [this] { return shared_->active == 0; });
}

int CTracePort::WaitUntilListening(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait_for(lock, timeout, [this] {
        return shared_->port != 0 || shared_->failed || shared_->stopping;
    });
    return shared_->port;
}

size_t CTracePort::ActiveReaders() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->active;
}

void CTracePort::TraceListenerThread() {
    Shared& shared = *shared_;
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
            std::lock_guard<std::mutex> lock(shared.mutex);
            shared.failed = true;
            shared.changed.notify_all();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            if (shared.stopping) return;
            shared.listenSocket = listener.Get();
            shared.port = LocalPort(listener.Get());
        }
        shared.changed.notify_all();
        AddLiveTraceF("Trace port listening on port %d", LocalPort(listener.Get()));

        for (;;) {
            {
                std::unique_lock<std::mutex> lock(shared.mutex);
                shared.changed.wait(lock, [&] {
                    return shared.stopping || shared.active < config_.maxReaders;
                });
                if (shared.stopping) break;
            }
            int socket = accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
            std::unique_lock<std::mutex> lock(shared.mutex);
            if (socket < 0) {
                if (shared.stopping) break;
                if (errno == EINTR) continue;
                shared.changed.wait_for(lock, config_.acceptPause, [&] { return shared.stopping; });
                continue;
            }
            if (shared.stopping) {
                close(socket);
                break;
            }
            ++shared.active;
            shared.sockets.insert(socket);
            try {
                std::thread(&CTracePort::TraceReaderThread, shared_, socket).detach();
            } catch (const std::system_error&) {
                shared.sockets.erase(socket);
                close(socket);
                --shared.active;
            }
        }
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.listenSocket = -1;
    } catch (...) {
        AddLiveTrace("Trace port listener ended unexpectedly");
    }
}

void CTracePort::TraceReaderThread(std::shared_ptr<Shared> shared, int socket) {
    LowerThreadPriority();
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
            shared->sink.AddText(text.substr(0, text.find('\0')));
        }
    } catch (...) {
        AddLiveTrace("Trace port reader ended unexpectedly");
    }
    try {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->sockets.erase(socket);
        close(socket);
        --shared->active;
        shared->changed.notify_all();
    } catch (...) {
        close(socket);
    }
}

std::unique_ptr<CTracePort> StartTracePort(CTraceTextSink& sink, TracePortConfig config) {
    auto port = std::make_unique<CTracePort>(sink, config);
    port->Start();
    return port;
}
