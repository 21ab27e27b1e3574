// The server run: start-up in order, then wait for SIGINT or SIGTERM.
#include "server/app/server_command.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "common/wbxml/wbxml_trace.h"
#include "server/app/command.h"
#include "server/app/headless_output.h"
#include "server/config/data_folder.h"
#include "server/config/data_folder_lock.h"
#include "server/config/live_trace.h"
#include "server/config/settings_watcher.h"
#include "server/http/socket_util.h"
#include "server/http/tls_setup.h"
#include "server/http/trace_port.h"
#include "server/http/web_server.h"
#include "server/vantro/vantro_handlers.h"
#ifdef CORVEL_WITH_CONSOLE
#include "server/console/corvel_dlg.h"
#endif

void AddServerOptions(CLI::App& app, ServerOptions& options) {
    app.add_flag("--headless", options.headless,
                 "Run without a window: the live trace goes to standard output");
    app.add_option("--port", options.port,
                   "HTTP port for this run instead of HttpPort of settings.inf (0: any free port)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--https-port", options.httpsPort,
                   "HTTPS port for this run instead of HttpsPort of settings.inf (0: any free "
                   "port)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--trace-port", options.tracePort, "Trace port for this run (0: any free port)")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
}

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != 0) || (wayland != nullptr && *wayland != 0);
}

namespace {

// Blocks the stop signals in this thread and, through inheritance, in every
// thread started later; the main thread then takes them with sigwait, so no work
// happens in a signal handler. A closed peer never raises SIGPIPE.
sigset_t BlockStopSignals() {
    signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

int RunHeadless(const ServerOptions& options) {
    sigset_t stopSignals = BlockStopSignals();
    CHeadlessOutput output(stdout);
    Settings settings;
    CErrorLog errorLog;
    CHeadlessSinks sinks(settings, errorLog, output);

    settings.LoadSettings();
    // Tools that rewrite user files ("corvel user add") refuse to run beside us.
    CDataFolderLock dataFolderLock;
    std::string lockError;
    if (!dataFolderLock.TryAcquire(settings.DataFolder(), lockError)) {
        if (dataFolderLock.HeldByAnother()) {
            // Two servers on one folder would overwrite each other's files.
            std::fprintf(stderr, "corvel: the data folder %s is in use by another corvel\n",
                         settings.DataFolder().c_str());
            return 1;
        }
        AddLiveTrace("Data folder lock not taken: " + lockError);
    }
    // Changes "corvel web" and "corvel device" make to settings.inf take effect.
    CSettingsWatcher settingsWatcher(settings);
    // Message boxes of the servers starting next already reach error.log.
    std::string errorLogPath = settings.DataFolder() + "/error.log";
    errorLog.SetPath(errorLogPath);
    if (access(settings.SettingsFilePath().c_str(), F_OK) != 0) settings.SaveSettings();
    output.Line(std::string(kCorvelVersionText) + " running headless; data folder " +
                settings.DataFolder() + "; stop with Ctrl+C or SIGTERM");
    // The codec's trace lines and the protocol server join the live trace and the
    // routing before the first request can arrive.
    SetWBXMLTraceSink([](const std::string& line) { AddLiveTrace(line); });
    InstallVantroHandlers();
    std::unique_ptr<CWebServer> web = StartWebServer(settings, WebServerConfig{}, options.port);
    std::unique_ptr<CWebServer> https =
        StartHttpsFromSettings(settings, WebServerConfig{}, options.httpsPort,
                               [&output, &settings](const std::string& line, bool problem) {
                                   if (problem) {
                                       std::fprintf(stderr, "corvel: %s\n", line.c_str());
                                       std::fflush(stderr);
                                   }
                                   // Shown once: the live trace has it when it is on.
                                   if (!settings.TraceLive()) output.Line(line);
                               });
    settings.LoadHelpTexts();
    if (!errorLog.Open(errorLogPath)) {
        AddLiveTrace("error.log cannot be opened in " + settings.DataFolder());
    }
    TracePortConfig traceConfig;
    traceConfig.port = options.tracePort;
    std::unique_ptr<CTracePort> trace = StartTracePort(sinks.ClientTrace(), traceConfig);

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    AddLiveTraceF("Corvel ends (signal %d)", received);
    trace->Stop();
    if (https) https->Stop();
    web->Stop();
    SetProtocolHandlers(nullptr);
    SetWBXMLTraceSink(nullptr);
    return 0;
}

#ifdef CORVEL_WITH_CONSOLE
// The console window runs the same start-up as the headless run, in its own order.
int RunConsoleWindow(const ServerOptions& options) {
    ConsoleOptions console;
    console.port = options.port;
    console.httpsPort = options.httpsPort;
    console.tracePort = options.tracePort;
    console.beforeServers = [] {
        SetWBXMLTraceSink([](const std::string& line) { AddLiveTrace(line); });
        InstallVantroHandlers();
    };
    console.afterServers = [] {
        SetProtocolHandlers(nullptr);
        SetWBXMLTraceSink(nullptr);
    };
    return RunConsole(console);
}
#endif

}  // namespace

int RunServer(const ServerOptions& options) {
    // Every connection is a descriptor; waiting ones cost nothing else.
    RaiseOpenFileLimit();
    try {
        if (!options.headless && HasDisplay()) {
#ifdef CORVEL_WITH_CONSOLE
            {
                // The window takes the lock itself; a folder in use ends the run first.
                CDataFolderLock probe;
                std::string error;
                std::string folder = DefaultDataFolder();
                if (!probe.TryAcquire(folder, error) && probe.HeldByAnother()) {
                    std::fprintf(stderr, "corvel: the data folder %s is in use by another corvel\n",
                                 folder.c_str());
                    return 1;
                }
            }
            return RunConsoleWindow(options);
#endif
            // Built without Qt: the server runs headless on a display as well.
        }
        return RunHeadless(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvel: %s\n", error.what());
        return 1;
    }
}
