// Starting the programs of the sync matrix over a data home and collecting what they
// write and how much memory they took.
#include "tests/sync_matrix_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <regex>

extern char** environ;

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string SelfFolder() {
    std::string path(4096, '\0');
    ssize_t got = ::readlink("/proc/self/exe", path.data(), path.size());
    if (got <= 0) return ".";
    path.resize(static_cast<size_t>(got));
    return path.substr(0, path.rfind('/'));
}

std::vector<std::string> Environment(const std::string& home,
                                     const std::vector<std::string>& extra) {
    std::vector<std::string> env = {"XDG_DATA_HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                                    "HOME=" + home, "PATH=/usr/bin:/bin", "TZ=UTC"};
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (entry.rfind("ASAN_", 0) == 0 || entry.rfind("UBSAN_", 0) == 0 ||
            entry.rfind("LSAN_", 0) == 0 || entry.rfind("TSAN_", 0) == 0) {
            env.push_back(entry);
        }
    }
    // A variable given again replaces the one set above (TZ for another zone).
    for (const std::string& entry : extra) {
        std::string name = entry.substr(0, entry.find('=') + 1);
        env.erase(std::remove_if(env.begin(), env.end(),
                                 [&name](const std::string& e) { return e.rfind(name, 0) == 0; }),
                  env.end());
        env.push_back(entry);
    }
    return env;
}

// Spawns program with stdout and stderr on the given pipe ends; -1 on failure.
pid_t Spawn(const std::string& program, const std::string& home, std::vector<std::string> args,
            const std::vector<std::string>& extraEnv, int outFd, int errFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<std::string> env = Environment(home, extraEnv);
    std::string path = MatrixBinary(program);
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int StatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

void Reap(pid_t pid, ProgramRun& run) {
    int status = 0;
    rusage usage{};
    pid_t got;
    do {
        got = ::wait4(pid, &status, 0, &usage);
    } while (got < 0 && errno == EINTR);
    if (got != pid) return;
    run.status = StatusOf(status);
    run.peakKb = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

std::string MatrixBinary(const std::string& name) {
    const char* dir = std::getenv("CORVEL_BIN_DIR");
    if (dir != nullptr && *dir != 0) return std::string(dir) + "/" + name;
    return SelfFolder() + "/../bin/" + name;
}

ProgramRun RunProgram(const std::string& program, const std::string& home,
                      const std::vector<std::string>& args,
                      const std::vector<std::string>& extraEnv) {
    ProgramRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]), close(out[1]);
        return run;
    }
    double start = Now();
    pid_t pid = Spawn(program, home, args, extraEnv, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char piece[8192];
            ssize_t got = read(fds[i].fd, piece, sizeof piece);
            if (got > 0) {
                sinks[i]->append(piece, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    if (pid > 0) Reap(pid, run);
    run.seconds = Now() - start;
    return run;
}

BackgroundProgram::BackgroundProgram(const std::string& program, const std::string& home,
                                     const std::vector<std::string>& args,
                                     const std::vector<std::string>& extraEnv) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    started_ = Now();
    pid_ = Spawn(program, home, args, extraEnv, out[1], out[1]);
    close(out[1]);
    reader_ = std::thread([this, fd = out[0]] {
        char piece[4096];
        ssize_t got;
        while ((got = read(fd, piece, sizeof piece)) > 0 || (got < 0 && errno == EINTR)) {
            if (got <= 0) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            out_.append(piece, static_cast<size_t>(got));
        }
        close(fd);
    });
}

BackgroundProgram::~BackgroundProgram() { Stop(); }

std::string BackgroundProgram::Out() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string BackgroundProgram::WaitFor(const std::string& pattern) {
    std::regex re(pattern);
    for (int i = 0; i < 6000 && pid_ > 0; ++i) {
        std::string out = Out();
        std::smatch match;
        if (std::regex_search(out, match, re))
            return match.size() > 1 ? match[1].str() : match[0].str();
        int status = 0;
        if (!ended_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            result_.status = StatusOf(status);
        }
        if (ended_ && i > 0) return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

ProgramRun BackgroundProgram::Stop() {
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, SIGTERM);
        Reap(pid_, result_);
        ended_ = true;
        result_.seconds = Now() - started_;
    }
    if (reader_.joinable()) reader_.join();
    result_.out = Out();
    return result_;
}
