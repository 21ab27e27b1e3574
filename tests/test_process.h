// Helpers for the end-to-end tests that start the programs: where the programs
// lie, a child process over a temporary data home with its output collected,
// waiting for its output or for a port, and a whole answer over loopback.
// Temporary folders are TempFolder (common/base/temp_home.h); a free
// port is FreeLoopbackPort (server/http/http_test_util.h).
//
// Header only, so that every end-to-end test can use it without a library of its
// own. A ChildProcess is used from the test's thread; its reader threads only
// append to the collected output under its lock.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/config/data_folder.h"
#include "server/http/http_test_util.h"

extern char** environ;

// The program file name: in CORVEL_BIN_DIR when CTest names it, otherwise in the
// bin folder beside the test program's own folder (a test run by hand).
inline std::string ProgramPath(const std::string& name) {
    const char* dir = std::getenv("CORVEL_BIN_DIR");
    if (dir != nullptr && *dir != 0) return std::string(dir) + "/" + name;
    return ProgramFolder() + "/../bin/" + name;
}

// The environment of a program over dataHome: XDG_DATA_HOME and HOME are dataHome,
// XDG_CONFIG_HOME its "config" folder, a plain PATH, the sanitizers' settings of
// this process, then extra ("NAME=value" each).
inline std::vector<std::string> DataHomeEnvironment(const std::string& dataHome,
                                                    const std::vector<std::string>& extra = {}) {
    std::vector<std::string> env = {"XDG_DATA_HOME=" + dataHome,
                                    "XDG_CONFIG_HOME=" + dataHome + "/config", "HOME=" + dataHome,
                                    "PATH=/usr/bin:/bin"};
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (entry.rfind("ASAN_", 0) == 0 || entry.rfind("UBSAN_", 0) == 0 ||
            entry.rfind("LSAN_", 0) == 0 || entry.rfind("TSAN_", 0) == 0) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// One child process with its standard output and error collected, either into
// one text in the order they arrive (kMerged) or into two (kSeparate).
//
// A process that did not start has Started() false, empty output, and Wait and
// Stop give -1. The destructor ends a process that is still running: SIGTERM, and
// SIGKILL when it has not ended 20 s later.
class ChildProcess {
public:
    enum class Output { kMerged, kSeparate };

    ChildProcess(const std::string& path, std::vector<std::string> args,
                 const std::vector<std::string>& env, Output output = Output::kMerged) {
        int out[2];
        int err[2] = {-1, -1};
        if (pipe2(out, O_CLOEXEC) != 0) return;
        if (output == Output::kSeparate && pipe2(err, O_CLOEXEC) != 0) {
            close(out[0]);
            close(out[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, output == Output::kSeparate ? err[1] : out[1],
                                         2);
        args.insert(args.begin(), path);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envCopy = env;
        std::vector<char*> envp;
        for (std::string& e : envCopy) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        outReader_ = std::thread([this, fd = out[0]] { Collect(fd, out_); });
        if (output == Output::kSeparate) {
            close(err[1]);
            errReader_ = std::thread([this, fd = err[0]] { Collect(fd, err_); });
        }
    }
    ~ChildProcess() {
        if (pid_ > 0 && status_ == kRunning) {
            kill(pid_, SIGTERM);
            if (!WaitUntil([this] { return Reap(WNOHANG); }, std::chrono::seconds(20))) {
                kill(pid_, SIGKILL);
                Reap(0);
            }
        }
        JoinReaders();
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    // The process ID (for reading its figures under /proc); -1 when not started.
    pid_t Pid() const { return pid_; }
    // What the process wrote so far (with kMerged, standard error as well).
    std::string Out() {
        std::lock_guard<std::mutex> lock(mutex_);
        return out_;
    }
    // Standard error so far; always empty with kMerged.
    std::string Err() {
        std::lock_guard<std::mutex> lock(mutex_);
        return err_;
    }
    // Waits (60 s at most) until Out() matches pattern; the first group of the
    // match, or the whole match when the pattern has none; empty when it never does.
    std::string WaitForOutput(const std::string& pattern) {
        std::regex re(pattern);
        std::string found;
        ::WaitFor([&] {
            std::string out = Out();
            std::smatch match;
            if (!std::regex_search(out, match, re)) return false;
            found = match.size() > 1 ? match[1].str() : match[0].str();
            return true;
        });
        return found;
    }
    // True once Out() holds line as a line of its own (60 s at most).
    bool HasLine(const std::string& line) {
        return ::WaitFor([&] { return Out().find("\n" + line + "\n") != std::string::npos; });
    }
    // The port of the first output line "<what> listening on port N"; 0 when the
    // process never writes one (60 s at most).
    int ListeningPort(const std::string& what = "Web server") {
        std::string port = WaitForOutput(what + " listening on port ([0-9]+)\n");
        return port.empty() ? 0 : std::stoi(port);
    }
    // Sends signal and waits for the end; the status as Wait gives it.
    int Stop(int signal) {
        if (pid_ > 0 && status_ == kRunning) kill(pid_, signal);
        return Wait();
    }
    // Waits for the end and for the last output. The exit code; 1000 + the signal
    // number when a signal ended it; -1 when it never started.
    int Wait() {
        if (pid_ <= 0) return -1;
        if (status_ == kRunning) Reap(0);
        JoinReaders();
        return status_;
    }

private:
    static constexpr int kRunning = -2;

    template <typename Condition, typename Duration>
    static bool WaitUntil(Condition condition, Duration guard) {
        auto deadline = std::chrono::steady_clock::now() + guard;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // True once the process has ended (status_ set).
    bool Reap(int options) {
        int status = 0;
        pid_t got = waitpid(pid_, &status, options);
        if (got == 0) return false;
        if (got != pid_) {
            status_ = -1;
            return true;
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        return true;
    }
    void JoinReaders() {
        if (outReader_.joinable()) outReader_.join();
        if (errReader_.joinable()) errReader_.join();
    }
    void Collect(int fd, std::string& into) {
        char piece[4096];
        ssize_t got;
        while ((got = read(fd, piece, sizeof piece)) > 0 || (got < 0 && errno == EINTR)) {
            if (got < 0) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            into.append(piece, static_cast<size_t>(got));
        }
        close(fd);
    }

    pid_t pid_ = -1;
    int status_ = kRunning;
    std::mutex mutex_;
    std::string out_;
    std::string err_;
    std::thread outReader_;
    std::thread errReader_;
};

// corvel's arguments for a headless run on ports the system chooses.
inline const std::vector<std::string> kHeadlessOnFreePorts = {
    "--headless", "--port", "0", "--https-port", "0", "--trace-port", "0"};

// One corvel program of the build over the data home dataHome.
class CorvelProcess : public ChildProcess {
public:
    CorvelProcess(const std::string& dataHome, std::vector<std::string> args,
                  Output output = Output::kMerged)
        : ChildProcess(ProgramPath("corvel"), std::move(args), DataHomeEnvironment(dataHome),
                       output) {}
};

// Waits (60 s at most) until something accepts connections on the loopback port.
inline bool WaitForPort(int port) {
    return WaitFor([port] { return ConnectLoopback(port).IsValid(); });
}

// The whole answer to request; the server ends it by closing the connection.
// "<no connection>" when the request cannot be sent, "<not closed>" when the
// server neither closes nor answers in time.
inline std::string AskLoopback(int port, const std::string& request) {
    CSocket client = ConnectLoopback(port);
    if (!client.IsValid() || !SendAll(client.Get(), request)) return "<no connection>";
    std::string answer;
    if (ReadUntilClosed(client.Get(), answer) != ReadEnd::kClosed) return "<not closed>";
    return answer;
}
