// Listener and connection workers of the web server.
#include "server/http/web_server.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/http/forwarding.h"
#include "server/http/socket_util.h"
#include "server/http/tls_transport.h"
#include "server/http/web.h"

namespace {

std::unique_ptr<CConnectionLoop> WebConnectionLoop(Settings& settings,
                                                   const WebServerConfig& config) {
    CConnectionLoop::Handler handler = config.handler;
    if (!handler) {
        Settings* settingsPtr = &settings;
        const ICredentialCheck* users = config.credentials;
        handler = [settingsPtr, users](CReceivedRequest& request, IAnswerStream& out) {
            HandleRequest(*settingsPtr, request, out, users);
        };
    }
    TransportFactory transports;
    if (config.tls) transports = CTlsServerContext::Factory(config.tls);
    return std::make_unique<CConnectionLoop>(config.connection, std::move(handler),
                                             std::move(transports), config.workers);
}

}  // namespace

CWebServer::CWebServer(Settings& settings, WebServerConfig config)
    : CListenerThread(WebConnectionLoop(settings, config), [this] { WebListenerThread(); }),
      settings_(settings),
      config_(std::move(config)) {}

const char* CWebServer::Name() const { return config_.tls ? "HTTPS server" : "Web server"; }

CWebServer::~CWebServer() { Stop(); }

size_t CWebServer::ActiveConnections() const { return Loop().OpenConnections(); }

size_t CWebServer::BusyWorkers() const { return Loop().BusyWorkers(); }

size_t CWebServer::WorkerThreads() const { return Loop().WorkerThreads(); }

size_t CWebServer::HeldBytes() const { return Loop().HeldBytes(); }

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
                std::string text = std::string(Name()) + " cannot listen on port " +
                                   std::to_string(config_.port) + ": " + reason +
                                   "; trying again every " + every;
                std::fprintf(stderr, "corvel: %s\n", text.c_str());
                std::fflush(stderr);
                ShowMessageBox(text, Name());
                reported = true;
            }
            if (Loop().WaitForStop(config_.bindRetry)) return;
        }
        int port = LocalPort(listener.Get());
        AddLiveTraceF("%s listening on port %d", Name(), port);
        // Forwarding knows the ports of this process, so it never forwards to itself.
        RegisterListeningPort(port);
        Loop().Run(listener);
        UnregisterListeningPort(port);
    } catch (...) {
        AddLiveTrace("Web server listener ended unexpectedly");
    }
}

namespace {

std::unique_ptr<CWebServer> StartListener(Settings& settings, WebServerConfig config) {
    // The body limits are read once, like the port; the head may add kMaxHeadBytes.
    const size_t mib = 1024 * 1024;
    size_t maxMessage = static_cast<size_t>(settings.MaxBodyMB()) * mib + kMaxHeadBytes;
    config.connection.maxMessageBytes = std::min(config.connection.maxMessageBytes, maxMessage);
    config.connection.bodyBudgetBytes = std::min(
        config.connection.bodyBudgetBytes, static_cast<size_t>(settings.BodyBudgetMB()) * mib);
    auto server = std::make_unique<CWebServer>(settings, std::move(config));
    server->Start();
    return server;
}

}  // namespace

std::unique_ptr<CWebServer> StartWebServer(Settings& settings, WebServerConfig config,
                                           int portOverride) {
    config.port = portOverride >= 0 ? portOverride : settings.HttpPort();
    config.tls.reset();
    return StartListener(settings, std::move(config));
}

std::unique_ptr<CWebServer> StartHttpsServer(Settings& settings, WebServerConfig config,
                                             int portOverride) {
    config.port = portOverride >= 0 ? portOverride : settings.HttpsPort();
    if (!config.tls || (portOverride < 0 && config.port == 0)) return nullptr;
    return StartListener(settings, std::move(config));
}
