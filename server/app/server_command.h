// Running the server: the options of corvel without a subcommand, and the run
// itself. Start-up follows the order of the console's initialisation: settings,
// web server, help texts, error.log, trace port. The run ends cleanly on SIGINT
// or SIGTERM with exit status 0.
#pragma once

#include <CLI/CLI.hpp>

struct ServerOptions {
    bool headless = false;
    int port = -1;         // -1: HttpPort of settings.inf; 0: any free port
    int httpsPort = -1;    // -1: HttpsPort of settings.inf; 0: any free port
    int tracePort = 2005;  // 0: any free port
};

void AddServerOptions(CLI::App& app, ServerOptions& options);

// True when a display is available for the console window.
bool HasDisplay();

// Runs the server until SIGINT or SIGTERM; the exit status (0 on a clean end, 1
// when start-up failed).
int RunServer(const ServerOptions& options);
