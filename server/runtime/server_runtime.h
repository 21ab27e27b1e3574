// ServerRuntime: the running server. Its constructor starts everything in order
// (the store engine, settings, the users and devices, the data folder lock, the
// settings watcher with the requests of "corvel device", the error log, the
// protocol hooks, the web server, the HTTPS listener, the help texts, the trace
// port) and its
// destructor stops it again in reverse. The headless run and the console window
// both own one.
//
// Thread use: made and destroyed by one thread (the main or user interface
// thread); WebPort and TracePort may be asked from any thread.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "server/config/data_folder_lock.h"
#include "server/config/error_log.h"
#include "server/config/settings.h"
#include "server/config/settings_watcher.h"
#include "server/devices/device_records.h"
#include "server/http/trace_port.h"
#include "server/http/web_server.h"
#include "server/mapi/mapi_initializer.h"

struct ServerRuntimeOptions {
    std::string dataFolder;      // empty: the default data folder
    bool startServers = true;    // the settings watcher, the web server and the trace port
    int port = -1;               // -1: HttpPort of settings.inf; 0: any free port
    int httpsPort = -1;          // -1: HttpsPort of settings.inf; 0: any free port
    int tracePort = kTracePort;  // 0: any free port
    bool loopbackOnly = false;   // servers bind 127.0.0.1 only
    // A data folder held by another corvel ends the start-up (DataFolderInUse)
    // instead of the server running on without the lock.
    bool requireFolderLock = false;
    // Run right before the web server starts (the program registers its protocol
    // handlers there) and after the servers have stopped; only with startServers.
    std::function<void()> beforeServers;
    std::function<void()> afterServers;
    // Told the HTTPS listener's certificate and fingerprint (problem false) or why
    // HTTPS stays off (problem true); both reach the live trace anyway. Empty: a
    // problem becomes a message box.
    std::function<void(const std::string& line, bool problem)> httpsReport;
};

class DataFolderInUse : public std::runtime_error {
public:
    explicit DataFolderInUse(const std::string& folder)
        : std::runtime_error("the data folder " + folder + " is in use by another corvel") {}
};

class ServerRuntime {
public:
    // settings, devices, errorLog and clientTrace must outlive the runtime; devices
    // is loaded from the data folder, and the web server asks it for the Basic check
    // of directories open to every registered user. Throws DataFolderInUse (see the
    // options) and whatever a server's start throws; what was started by then is
    // stopped again.
    ServerRuntime(Settings& settings, CDeviceRecords& devices, CErrorLog& errorLog,
                  CTraceTextSink& clientTrace, ServerRuntimeOptions options);
    ServerRuntime(const ServerRuntime&) = delete;
    ServerRuntime& operator=(const ServerRuntime&) = delete;
    ~ServerRuntime();

    // The ports listened on, once listening (waits up to five seconds); 0 when
    // the server was not started or failed to listen.
    int WebPort();
    int HttpsPort();
    int TracePort();
    const std::string& ErrorLogPath() const { return errorLogPath_; }

private:
    // Calls the after-servers hook when the before-servers hook has run.
    class ServerHooks {
    public:
        ServerHooks(const std::function<void()>& before, std::function<void()> after);
        ServerHooks(const ServerHooks&) = delete;
        ServerHooks& operator=(const ServerHooks&) = delete;
        ~ServerHooks();

    private:
        std::function<void()> after_;
    };

    // Started before the users' and devices' log-ons, ended after the servers. A
    // failed start is traced; the records then stay without their sessions.
    CMapiInitializer storeEngine_{std::nothrow};
    ServerRuntimeOptions options_;
    std::string errorLogPath_;
    CDataFolderLock dataFolderLock_;
    std::unique_ptr<CSettingsWatcher> settingsWatcher_;
    std::unique_ptr<ServerHooks> serverHooks_;
    // The workers both listeners answer with; they end after both listeners.
    std::shared_ptr<CConnectionWorkers> workers_;
    std::unique_ptr<CWebServer> web_;
    std::unique_ptr<CWebServer> https_;
    std::unique_ptr<CTracePort> tracePort_;
};
