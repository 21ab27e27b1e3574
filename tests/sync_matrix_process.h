// The programs of the sync matrix, run as a person would run them: each over one
// data home (XDG_DATA_HOME, XDG_CONFIG_HOME and HOME inside it, TZ=UTC), with any
// further environment variables given (one given again replaces the set one), from
// CORVEL_BIN_DIR (or ../bin beside the test program).
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The path of a program of the build.
std::string MatrixBinary(const std::string& name);

struct ProgramRun {
    int status = -1;        // exit status; 1000 + signal number when killed; -1 not started
    std::string out;        // standard output
    std::string err;        // standard error
    long peakKb = 0;        // the child's peak resident size (getrusage of the child)
    double seconds = 0;     // wall time from start to end
    double cpuSeconds = 0;  // user and system time of the child
};

// Runs the program to its end with standard input closed.
ProgramRun RunProgram(const std::string& program, const std::string& home,
                      const std::vector<std::string>& args,
                      const std::vector<std::string>& extraEnv = {});

// A program that runs until Stop (the server). Output of both streams is collected
// by a reader thread. Not for use from several threads at once.
class BackgroundProgram {
public:
    BackgroundProgram(const std::string& program, const std::string& home,
                      const std::vector<std::string>& args,
                      const std::vector<std::string>& extraEnv = {});
    ~BackgroundProgram();  // Stop() when still running
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    std::string Out();
    // The first submatch of pattern in the output, waited for up to a minute; ""
    // when it never appears or the program ends first.
    std::string WaitFor(const std::string& pattern);
    // SIGTERM, then the exit status with peak size and wall time of the whole life.
    ProgramRun Stop();
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool ended_ = false;
    ProgramRun result_;
    std::mutex mutex_;
    std::string out_;
    std::thread reader_;
    double started_ = 0;
};
