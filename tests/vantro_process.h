// Programs for the Vantro end-to-end tests: corvel and corvel-store run over a
// temporary data home (XDG_DATA_HOME, XDG_CONFIG_HOME and HOME all inside it), their
// output collected; requests sent over loopback.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "server/config/data_folder.h"
#include "server/http/http_test_util.h"

extern char** environ;

inline std::string BinaryPath(const std::string& name) {
    const char* dir = std::getenv("CORVEL_BIN_DIR");
    if (dir != nullptr && *dir != 0) return std::string(dir) + "/" + name;
    return ProgramFolder() + "/../bin/" + name;
}

// One process over the data home, standard output and error collected.
class TestProgram {
public:
    TestProgram(const std::string& program, const std::string& dataHome, std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        std::vector<std::string> env = {"XDG_DATA_HOME=" + dataHome, "XDG_CONFIG_HOME=" + dataHome + "/config",
                                         "HOME=" + dataHome, "PATH=/usr/bin:/bin", "TZ=UTC"};
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            if (entry.rfind("ASAN_", 0) == 0 || entry.rfind("UBSAN_", 0) == 0) env.push_back(entry);
        }
        std::string path = BinaryPath(program);
        args.insert(args.begin(), path);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        reader_ = std::thread([this, fd = out[0]] {
            char piece[4096];
            ssize_t got;
            while ((got = read(fd, piece, sizeof piece)) > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                out_.append(piece, static_cast<size_t>(got));
            }
            close(fd);
        });
    }
    ~TestProgram() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGTERM);
            Wait();
        }
        if (reader_.joinable()) reader_.join();
    }
    std::string Out() {
        std::lock_guard<std::mutex> lock(mutex_);
        return out_;
    }
    // The web port corvel reports (0 when it never does).
    int Port() {
        std::regex re("Web server listening on port ([0-9]+)\n");
        for (int i = 0; i < 3000; ++i) {
            std::string out = Out();
            std::smatch match;
            if (std::regex_search(out, match, re)) return std::stoi(match[1].str());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    }
    int Wait() {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
        ended_ = true;
        if (reader_.joinable()) reader_.join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    bool ended_ = false;
    std::mutex mutex_;
    std::string out_;
    std::thread reader_;
};

// The whole answer to request; the server ends it by closing the connection.
inline std::string AskServer(int port, const std::string& request) {
    CSocket client = ConnectLoopback(port);
    if (!client.IsValid() || !SendAll(client.Get(), request)) return "<no connection>";
    std::string answer;
    if (ReadUntilClosed(client.Get(), answer) != ReadEnd::kClosed) return "<not closed>";
    return answer;
}
