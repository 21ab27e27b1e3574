// Listener and connection workers of the web server.
#include "server/http/web_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/http/socket_util.h"
#include "server/http/web.h"

// State shared by the listener and the detached connection threads; it lives as
// long as the last of them.
struct CWebServer::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    size_t active = 0;
    std::set<int> sockets;  // open connection sockets, shut down by Stop
    int listenSocket = -1;
    int port = 0;
    std::function<void(int)> handler;
    std::chrono::milliseconds linger{4000};
};

namespace {

using Clock = std::chrono::steady_clock;

// After the answer: wait for the peer to close, at most linger; what it still
// sends is read and dropped, up to kMaxLingerDiscard bytes (a peer that keeps
// sending, such as one whose request was too large, is not waited for).
void WaitForPeerClose(int socket, std::chrono::milliseconds linger) {
    Clock::time_point deadline = Clock::now() + linger;
    char scratch[4096];
    size_t discarded = 0;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return;
        pollfd fd{socket, POLLIN, 0};
        int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        ssize_t got = recv(socket, scratch, sizeof scratch, 0);
        if (got == 0) return;
        if (got < 0 && errno != EINTR && errno != EAGAIN) return;
        if (got > 0) discarded += static_cast<size_t>(got);
        if (discarded > kMaxLingerDiscard) return;
    }
}

}  // namespace

CWebServer::CWebServer(Settings& settings, WebServerConfig config)
    : settings_(settings), config_(std::move(config)), shared_(std::make_shared<Shared>()) {
    if (config_.maxConnections == 0) config_.maxConnections = 1;
    shared_->linger = config_.linger;
    if (config_.handler) {
        shared_->handler = config_.handler;
    } else {
        Settings* settings_ptr = &settings_;
        ReceiveLimits limits = config_.receive;
        shared_->handler = [settings_ptr, limits](int socket) { web(socket, *settings_ptr, limits); };
    }
}

CWebServer::~CWebServer() { Stop(); }

void CWebServer::Start() {
    if (listener_.joinable()) return;
    listener_ = std::thread([this] { WebListenerThread(); });
}

void CWebServer::Stop() {
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

int CWebServer::WaitUntilListening(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait_for(lock, timeout, [this] { return shared_->port != 0 || shared_->stopping; });
    return shared_->port;
}

size_t CWebServer::ActiveConnections() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->active;
}

void CWebServer::WebListenerThread() {
    try {
        LowerThreadPriority();
        Shared& shared = *shared_;
        // Bind, retrying after a pause until it works or the server stops.
        CSocket listener;
        bool reported = false;
        for (;;) {
            ListenStep step = ListenStep::kSocket;
            std::string reason;
            listener = CreateListener(config_.port, config_.loopbackOnly, kListenBacklog, step, reason);
            if (listener.IsValid()) break;
            if (!reported) {
                long long ms = config_.bindRetry.count();
                std::string every = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s"
                                                   : std::to_string(ms) + " ms";
                std::string text = "Web server cannot listen on port " +
                                   std::to_string(config_.port) + ": " + reason +
                                   "; trying again every " + every;
                std::fprintf(stderr, "corvel: %s\n", text.c_str());
                std::fflush(stderr);
                ShowMessageBox(text, "Web server");
                reported = true;
            }
            std::unique_lock<std::mutex> lock(shared.mutex);
            if (shared.changed.wait_for(lock, config_.bindRetry, [&] { return shared.stopping; })) {
                return;
            }
        }
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            if (shared.stopping) return;
            shared.listenSocket = listener.Get();
            shared.port = LocalPort(listener.Get());
        }
        shared.changed.notify_all();
        AddLiveTraceF("Web server listening on port %d", LocalPort(listener.Get()));

        for (;;) {
            {
                std::unique_lock<std::mutex> lock(shared.mutex);
                shared.changed.wait(lock, [&] {
                    return shared.stopping || shared.active < config_.maxConnections;
                });
                if (shared.stopping) break;
            }
            int socket = accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (socket < 0) {
                std::unique_lock<std::mutex> lock(shared.mutex);
                if (shared.stopping) break;
                if (errno == EINTR) continue;
                // Out of descriptors or a transient error: pause, never spin.
                shared.changed.wait_for(lock, config_.acceptPause, [&] { return shared.stopping; });
                continue;
            }
            std::unique_lock<std::mutex> lock(shared.mutex);
            if (shared.stopping) {
                close(socket);
                break;
            }
            ++shared.active;
            shared.sockets.insert(socket);
            try {
                std::thread(&CWebServer::WebConnectionThread, shared_, socket).detach();
            } catch (const std::system_error&) {
                shared.sockets.erase(socket);
                close(socket);
                --shared.active;
            }
        }
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.listenSocket = -1;
    } catch (...) {
        AddLiveTrace("Web server listener ended unexpectedly");
    }
}

void CWebServer::WebConnectionThread(std::shared_ptr<Shared> shared, int socket) {
    LowerThreadPriority();
    bool crashed = false;
    try {
        shared->handler(socket);
    } catch (...) {
        crashed = true;
        AddLiveTrace("Something went wrong... web() crashed");
    }
    if (!crashed) {
        shutdown(socket, SHUT_WR);
        WaitForPeerClose(socket, shared->linger);
    }
    try {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->sockets.erase(socket);
        close(socket);
        --shared->active;
        shared->changed.notify_all();
    } catch (...) {
        close(socket);  // the lock failed: nothing else can be done safely
    }
}

std::unique_ptr<CWebServer> StartWebServer(Settings& settings, WebServerConfig config,
                                           int portOverride) {
    config.port = portOverride >= 0 ? portOverride : settings.HttpPort();
    auto server = std::make_unique<CWebServer>(settings, std::move(config));
    server->Start();
    return server;
}
