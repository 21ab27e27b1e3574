// Helpers of the Vantro protocol benchmark: the server program started over a
// data home of its own (its process ID kept, so its peak memory can be read), and
// a loopback exchange that returns the whole HTTP answer.
// Each object is used by one thread (the benchmark's); the output reader runs on a
// thread of its own and is joined by the destructor.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/wbxml/wbxml.h"
#include "tests/test_process.h"

// A program of the build's bin folder (CORVEL_BIN_DIR, else <this program>/../bin)
// started with XDG_DATA_HOME, XDG_CONFIG_HOME and HOME inside dataHome and TZ=UTC;
// standard output and error are collected. The destructor sends SIGTERM to a
// program still running and waits for it.
class BenchProgram {
public:
    BenchProgram(const std::string& program, const std::string& dataHome,
                 std::vector<std::string> args)
        : process_(ProgramPath(program), std::move(args),
                   DataHomeEnvironment(dataHome, {"TZ=UTC"})) {}

    // False when the program could not be started.
    bool Started() const { return process_.Started(); }
    pid_t Pid() const { return process_.Pid(); }
    std::string Out() { return process_.Out(); }
    // The web port the server reports on its output; 0 when it does not in time or
    // the program ends first.
    int Port() { return process_.ListeningPort(); }
    // Waits for the end: the exit code, 1000 + signal number, or -1.
    int Wait() { return process_.Wait(); }

private:
    ChildProcess process_;
};

// Writes the Logon of the user "bench" (password "pw") from the device PPCB_Bench.
void WriteBenchLogon(CWBXML& doc);

// doc POSTed to the Vantro path, framed as the handheld frames it.
std::string VantroHttpRequest(const CWBXML& doc);

// The Logon, then a GetData of the folder of folderType; with reset, Reset 1 asks
// for every item again.
std::string GetDataRequest(std::string_view folderType, bool reset);

// The peak resident set of a running process in KiB (VmHWM of /proc/<pid>/status);
// 0 when it cannot be read.
std::int64_t PeakResidentKiB(pid_t pid);

// The processor time (user and system) a running process has used, in seconds
// (utime and stime of /proc/<pid>/stat); 0 when it cannot be read.
double ProcessCpuSeconds(pid_t pid);

// Sends request to 127.0.0.1:port and returns everything the server sends until
// it closes the connection or the whole body its Content-Length names has arrived.
// Empty when no connection could be made; reads give up after ten minutes.
std::string Exchange(int port, const std::string& request);

// The body of an HTTP answer (after the first blank line); empty when none.
std::string BodyOf(const std::string& answer);

// The number of start tags (page, token) in a WBXML document.
size_t CountElements(const std::string& document, int32_t page, int32_t token);
