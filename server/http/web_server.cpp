// Listener and connection workers of the web server.
#include "server/http/web_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/http/socket_util.h"
#include "server/http/web.h"

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

// One connection: the handler, then the sending side shut down and the linger.
void WebConnection(const std::function<void(int)>& handler, std::chrono::milliseconds linger,
                   int socket) {
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    try {
        handler(socket);
    } catch (...) {
        AddLiveTrace("Something went wrong... web() crashed");
        return;
    }
    shutdown(socket, SHUT_WR);
    WaitForPeerClose(socket, linger);
}

}  // namespace

CWebServer::CWebServer(Settings& settings, WebServerConfig config)
    : settings_(settings), config_(std::move(config)) {
    std::function<void(int)> handler = config_.handler;
    if (!handler) {
        Settings* settings_ptr = &settings_;
        ReceiveLimits limits = config_.receive;
        handler = [settings_ptr, limits](int socket) { web(socket, *settings_ptr, limits); };
    }
    std::chrono::milliseconds linger = config_.linger;
    loop_ = std::make_unique<CAcceptLoop>(
        config_.maxConnections, config_.acceptPause,
        [handler, linger](int socket) { WebConnection(handler, linger, socket); });
}

CWebServer::~CWebServer() { Stop(); }

void CWebServer::Start() {
    if (listener_.joinable()) return;
    listener_ = std::thread([this] { WebListenerThread(); });
}

void CWebServer::Stop() {
    loop_->Stop();
    if (listener_.joinable()) listener_.join();
}

int CWebServer::WaitUntilListening(std::chrono::milliseconds timeout) {
    return loop_->WaitUntilListening(timeout);
}

size_t CWebServer::ActiveConnections() const { return loop_->ActiveWorkers(); }

void CWebServer::WebListenerThread() {
    try {
        LowerThreadPriority();
        // Bind, retrying after a pause until it works or the server stops.
        CSocket listener;
        bool reported = false;
        for (;;) {
            ListenStep step = ListenStep::kSocket;
            std::string reason;
            listener =
                CreateListener(config_.port, config_.loopbackOnly, kListenBacklog, step, reason);
            if (listener.IsValid()) break;
            if (!reported) {
                long long ms = config_.bindRetry.count();
                std::string every =
                    ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
                std::string text = "Web server cannot listen on port " +
                                   std::to_string(config_.port) + ": " + reason +
                                   "; trying again every " + every;
                std::fprintf(stderr, "corvel: %s\n", text.c_str());
                std::fflush(stderr);
                ShowMessageBox(text, "Web server");
                reported = true;
            }
            if (loop_->WaitForStop(config_.bindRetry)) return;
        }
        AddLiveTraceF("Web server listening on port %d", LocalPort(listener.Get()));
        loop_->Run(listener);
    } catch (...) {
        AddLiveTrace("Web server listener ended unexpectedly");
    }
}

std::unique_ptr<CWebServer> StartWebServer(Settings& settings, WebServerConfig config,
                                           int portOverride) {
    config.port = portOverride >= 0 ? portOverride : settings.HttpPort();
    // The body limit is read once, like the port; the head may add kMaxHeadBytes.
    size_t maxMessage = static_cast<size_t>(settings.MaxBodyMB()) * 1024 * 1024 + kMaxHeadBytes;
    config.receive.maxBytes = std::min(config.receive.maxBytes, maxMessage);
    auto server = std::make_unique<CWebServer>(settings, std::move(config));
    server->Start();
    return server;
}
