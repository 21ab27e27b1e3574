// The server run: start-up in order, then wait for SIGINT or SIGTERM.
#include "server/app/server_command.h"

#include <pthread.h>
#include <signal.h>

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
#include "server/http/socket_util.h"
#include "server/runtime/server_runtime.h"
#include "server/vantro/vantro_handlers.h"
#ifdef CORVEL_WITH_CONSOLE
#include "common/base/version.h"
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

// The codec's trace lines and the protocol server join the live trace and the
// routing before the first request can arrive, and leave once the servers have
// stopped.
void InstallProtocol(CDeviceList& devices) {
    SetWBXMLTraceSink([](const std::string& line) { AddLiveTrace(line); });
    InstallVantroHandlers(devices);
}

void RemoveProtocol() {
    SetProtocolHandlers(nullptr);
    SetWBXMLTraceSink(nullptr);
}

int RunHeadless(const ServerOptions& options) {
    sigset_t stopSignals = BlockStopSignals();
    CHeadlessOutput output(stdout);
    CDeviceRecords devices;
    Settings settings;
    CErrorLog errorLog;
    CHeadlessSinks sinks(settings, errorLog, output);

    ServerRuntimeOptions runtimeOptions;
    runtimeOptions.port = options.port;
    runtimeOptions.httpsPort = options.httpsPort;
    runtimeOptions.httpsReport = [&output, &settings](const std::string& line, bool problem) {
        if (problem) {
            std::fprintf(stderr, "corvel: %s\n", line.c_str());
            std::fflush(stderr);
        }
        // Shown once: the live trace has it when it is on.
        if (!settings.TraceLive()) output.Line(line);
    };
    runtimeOptions.tracePort = options.tracePort;
    runtimeOptions.requireFolderLock = true;
    runtimeOptions.beforeServers = [&output, &settings, &devices] {
        output.Line(VersionText() + " running headless; data folder " + settings.DataFolder() +
                    "; stop with Ctrl+C or SIGTERM");
        InstallProtocol(devices.List());
    };
    runtimeOptions.afterServers = RemoveProtocol;
    ServerRuntime runtime(settings, devices, errorLog, sinks.ClientTrace(), runtimeOptions);

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    AddLiveTraceF("Corvel ends (signal %d)", received);
    return 0;
}

#ifdef CORVEL_WITH_CONSOLE
// The console window runs the same start-up as the headless run.
int RunConsoleWindow(const ServerOptions& options) {
    CDeviceRecords devices;
    ConsoleOptions console;
    console.port = options.port;
    console.httpsPort = options.httpsPort;
    console.tracePort = options.tracePort;
    console.beforeServers = [&devices] { InstallProtocol(devices.List()); };
    console.afterServers = RemoveProtocol;
    return RunConsole(console, devices);
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
                    throw DataFolderInUse(folder);
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
