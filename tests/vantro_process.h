// Programs for the Vantro end-to-end tests: corvel and corvel-store run over a
// temporary data home (XDG_DATA_HOME, XDG_CONFIG_HOME and HOME all inside it, TZ
// UTC), their output collected; requests sent over loopback. A thin face of
// tests/test_process.h.
#pragma once

#include <string>
#include <vector>

#include "tests/test_process.h"

inline std::string BinaryPath(const std::string& name) { return ProgramPath(name); }

// One program of the build over the data home, standard output and error
// collected together. The destructor ends it (SIGTERM) when it still runs.
class TestProgram {
public:
    // extra: further "NAME=value" settings of the environment.
    TestProgram(const std::string& program, const std::string& dataHome,
                std::vector<std::string> args, std::vector<std::string> extra = {})
        : process_(ProgramPath(program), std::move(args),
                   DataHomeEnvironment(dataHome, WithTimeZone(std::move(extra)))) {}
    std::string Out() { return process_.Out(); }
    // The web port corvel reports (0 when it never does).
    int Port() { return process_.ListeningPort(); }
    // The HTTPS port corvel reports (0 when it never does).
    int HttpsPort() { return process_.ListeningPort("HTTPS server"); }
    // The exit code; 1000 + the signal number when a signal ended it; -1 when the
    // program never started.
    int Wait() { return process_.Wait(); }

private:
    static std::vector<std::string> WithTimeZone(std::vector<std::string> extra) {
        extra.insert(extra.begin(), "TZ=UTC");
        return extra;
    }
    ChildProcess process_;
};

// The whole answer to request; the server ends it by closing the connection.
inline std::string AskServer(int port, const std::string& request) {
    return AskLoopback(port, request);
}
