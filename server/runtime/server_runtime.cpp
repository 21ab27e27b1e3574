#include "server/runtime/server_runtime.h"

#include <unistd.h>

#include <chrono>
#include <utility>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/devices/device_requests.h"
#include "server/http/tls_setup.h"
#include "server/http/web_routing.h"
#include "server/runtime/device_actions.h"

namespace {

constexpr std::chrono::milliseconds kListenWait{5000};

}  // namespace

ServerRuntime::ServerHooks::ServerHooks(const std::function<void()>& before,
                                        std::function<void()> after)
    : after_(std::move(after)) {
    if (before) before();
}

ServerRuntime::ServerHooks::~ServerHooks() {
    if (after_) after_();
}

ServerRuntime::ServerRuntime(Settings& settings, CDeviceRecords& devices, CErrorLog& errorLog,
                             CTraceTextSink& clientTrace, ServerRuntimeOptions options)
    : options_(std::move(options)) {
    if (!storeEngine_.Started()) {
        AddLiveTraceF("MAPIInitialize failed: 0x%08X",
                      static_cast<unsigned>(storeEngine_.Result()));
    }
    if (options_.dataFolder.empty()) {
        settings.LoadSettings();
    } else {
        settings.LoadSettings(options_.dataFolder);
    }
    devices.Load(settings.DataFolder());
    // Tools that rewrite user files ("corvel user add") refuse to run beside us.
    std::string lockError;
    if (!dataFolderLock_.TryAcquire(settings.DataFolder(), lockError)) {
        // Two servers on one folder would overwrite each other's files.
        if (options_.requireFolderLock && dataFolderLock_.HeldByAnother()) {
            throw DataFolderInUse(settings.DataFolder());
        }
        AddLiveTrace("Data folder lock not taken: " + lockError);
    }
    // Changes "corvel web" and "corvel device" make to settings.inf take effect.
    if (options_.startServers) {
        // "corvel device" requests change the sync state, so they run between requests.
        CDeviceList& list = devices.List();
        settingsWatcher_ = std::make_unique<CSettingsWatcher>(
            settings, std::chrono::seconds(1), [&settings, &list] {
                TakeDeviceRequests(settings.DataFolder(), [&](const CDeviceRequest& request) {
                    CarryOutBetweenRequests(settings, list, request);
                });
            });
    }
    // Message boxes of the servers starting next already reach error.log.
    errorLogPath_ = settings.DataFolder() + "/error.log";
    errorLog.SetPath(errorLogPath_);
    if (access(settings.SettingsFilePath().c_str(), F_OK) != 0) settings.SaveSettings();
    if (options_.startServers) {
        serverHooks_ = std::make_unique<ServerHooks>(options_.beforeServers, options_.afterServers);
        WebServerConfig config;
        config.loopbackOnly = options_.loopbackOnly;
        config.credentials = &devices.List();
        // The plain and the HTTPS listener answer with one pool of workers.
        workers_ = std::make_shared<CConnectionWorkers>(config.connection.workers);
        config.workers = workers_;
        web_ = StartWebServer(settings, config, options_.port);
        auto report = options_.httpsReport;
        if (!report) {
            report = [](const std::string& line, bool problem) {
                if (problem) ShowMessageBox(line, "HTTPS");
            };
        }
        https_ = StartHttpsFromSettings(settings, config, options_.httpsPort, report);
    }
    settings.LoadHelpTexts();
    if (!errorLog.Open(errorLogPath_)) {
        AddLiveTrace("error.log cannot be opened in " + settings.DataFolder());
    }
    if (options_.startServers) {
        TracePortConfig traceConfig;
        traceConfig.port = options_.tracePort;
        traceConfig.loopbackOnly = options_.loopbackOnly;
        tracePort_ = StartTracePort(clientTrace, traceConfig);
    }
}

ServerRuntime::~ServerRuntime() {
    // The servers first: once their threads have ended nobody calls the hooks'
    // handlers or the sinks any more. The members go in reverse order after.
    if (tracePort_) tracePort_->Stop();
    if (https_) https_->Stop();
    if (web_) web_->Stop();
}

int ServerRuntime::WebPort() { return web_ ? web_->WaitUntilListening(kListenWait) : 0; }

int ServerRuntime::HttpsPort() { return https_ ? https_->WaitUntilListening(kListenWait) : 0; }

int ServerRuntime::TracePort() {
    return tracePort_ ? tracePort_->WaitUntilListening(kListenWait) : 0;
}
