// Starts the corvel program headless and talks to it over loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

// CTest names the program folder; run by hand, the test finds it beside its own.
std::string CorvelPath() {
    const char* dir = std::getenv("CORVEL_BIN_DIR");
    if (dir != nullptr && *dir != 0) return std::string(dir) + "/corvel";
    return ProgramFolder() + "/../bin/corvel";
}

// One corvel process with its standard output and error collected.
class Corvel {
public:
    Corvel(const std::string& dataHome, std::vector<std::string> args) {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> env = {"XDG_DATA_HOME=" + dataHome,
                                         "XDG_CONFIG_HOME=" + dataHome + "/config",
                                         "HOME=" + dataHome, "PATH=/usr/bin:/bin"};
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            if (entry.rfind("ASAN_", 0) == 0 || entry.rfind("UBSAN_", 0) == 0) env.push_back(entry);
        }
        std::string program = CorvelPath();
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        outReader_ = std::thread([this, fd = out[0]] { Collect(fd, out_); });
        errReader_ = std::thread([this, fd = err[0]] { Collect(fd, err_); });
    }
    ~Corvel() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (outReader_.joinable()) outReader_.join();
        if (errReader_.joinable()) errReader_.join();
    }
    bool Started() const { return pid_ > 0; }
    std::string Out() {
        std::lock_guard<std::mutex> lock(mutex_);
        return out_;
    }
    std::string Err() {
        std::lock_guard<std::mutex> lock(mutex_);
        return err_;
    }
    // Waits for a line of standard output that matches pattern; its first group.
    std::string WaitForLine(const std::string& pattern) {
        std::regex re(pattern);
        std::smatch match;
        std::string found;
        WaitFor([&] {
            std::string out = Out();
            if (!std::regex_search(out, match, re)) return false;
            found = match.size() > 1 ? match[1].str() : match[0].str();
            return true;
        });
        return found;
    }
    // Sends signal and returns the exit status (-1 when it did not exit normally).
    int Stop(int signal) {
        kill(pid_, signal);
        return Wait();
    }
    int Wait() {
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        // The pipes end with the process: collect the last output.
        if (outReader_.joinable()) outReader_.join();
        if (errReader_.joinable()) errReader_.join();
        return status_;
    }

private:
    void Collect(int fd, std::string& into) {
        char piece[4096];
        ssize_t got;
        while ((got = read(fd, piece, sizeof piece)) > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            into.append(piece, static_cast<size_t>(got));
        }
        close(fd);
    }

    pid_t pid_ = -1;
    int status_ = -1;
    std::mutex mutex_;
    std::string out_;
    std::string err_;
    std::thread outReader_;
    std::thread errReader_;
};

std::string DataFolder(const TempFolder& temp) { return temp.Path() + "/Norvex/Corvel"; }

TEST(CorvelProgram, VersionAndHelp) {
    TempFolder temp;
    Corvel version(temp.Path(), {"--version"});
    ASSERT_TRUE(version.Started());
    EXPECT_EQ(version.Wait(), 0);
    Corvel help(temp.Path(), {"--help"});
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_EQ(version.Out(), "Corvel Version 0.90\n");
    EXPECT_NE(help.Out().find("--headless"), std::string::npos);
    EXPECT_NE(help.Out().find("--trace-port"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(temp.Path() + "/Norvex"));
}

TEST(CorvelProgram, FirstStartServesLogsTracesAndEndsOnSigterm) {
    TempFolder temp;
    Corvel corvel(temp.Path(), {"--headless", "--port", "0", "--trace-port", "0"});
    ASSERT_TRUE(corvel.Started());
    int web = std::stoi(corvel.WaitForLine("Web server listening on port ([0-9]+)\n"));
    int trace = std::stoi(corvel.WaitForLine("Trace port listening on port ([0-9]+)\n"));

    // Data folder, settings and error.log exist after start-up, owner-only.
    EXPECT_EQ(ModeOf(temp.Path() + "/Norvex"), 0700u);
    EXPECT_EQ(ModeOf(DataFolder(temp)), 0700u);
    EXPECT_EQ(ReadWholeFile(DataFolder(temp) + "/settings.inf"),
              "WebBaseDir=\nAnswerWeb=0\nTraceXML=1\nTraceWEB=1\nTraceLive=1\nStartOutlook=0\n"
              "HttpPort=80\nKeepSyncFiles=0\n");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(DataFolder(temp) + "/error.log"); }));
    EXPECT_EQ(ModeOf(DataFolder(temp) + "/error.log"), 0600u);

    {
        CSocket client = ConnectLoopback(web);
        ASSERT_TRUE(SendAll(client.Get(), "GET /index.htm?a=1 HTTP/1.1\r\nHost: pc\r\n\r\n"));
        std::string answer;
        EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
        EXPECT_EQ(answer, "");
    }
    corvel.WaitForLine("\nGET /index.htm\n");
    std::string log = ReadWholeFile(DataFolder(temp) + "/web.log");
    ASSERT_GE(log.size(), 25u);
    EXPECT_EQ(log.substr(0, 5), "\r\n!!!");
    EXPECT_EQ(log.substr(24), " - GET /index.htm?a=1 HTTP/1.1\r\n"
                              "GET /index.htm?a=1 HTTP/1.1\r\nHost: pc\r\n\r\n");

    {
        CSocket client = ConnectLoopback(trace);
        ASSERT_TRUE(SendAll(client.Get(), "a\r\nb"));
        corvel.WaitForLine("\nclient: a\n");
        ASSERT_TRUE(SendAll(client.Get(), "\n"));
        corvel.WaitForLine("\nclient: b\n");
    }

    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
    std::string out = corvel.Out();
    EXPECT_EQ(out.substr(out.size() - 24), "Corvel ends (signal 15)\n");
    EXPECT_EQ(corvel.Err(), "");
}

TEST(CorvelProgram, TakenPortsAreReportedAndSigintStillEndsIt) {
    TempFolder temp;
    ListenStep step;
    std::string error;
    CSocket webBlocker = CreateListener(0, false, 1, step, error);
    CSocket traceBlocker = CreateListener(0, false, 1, step, error);
    ASSERT_TRUE(webBlocker.IsValid() && traceBlocker.IsValid());
    std::string webPort = std::to_string(LocalPort(webBlocker.Get()));
    std::string tracePort = std::to_string(LocalPort(traceBlocker.Get()));
    Corvel corvel(temp.Path(), {"--headless", "--port", webPort, "--trace-port", tracePort});
    ASSERT_TRUE(corvel.Started());
    std::string webText = "Web server cannot listen on port " + webPort +
                          ": Address already in use; trying again every 10 s";
    corvel.WaitForLine("\nWeb server: " + webText + "\n");
    corvel.WaitForLine("\nTracePort bind returns error\n");
    EXPECT_TRUE(WaitFor([&] { return corvel.Err() == "corvel: " + webText + "\n"; }));
    ASSERT_TRUE(WaitFor([&] {
        std::string log = ReadWholeFile(DataFolder(temp) + "/error.log");
        return log.find(" - Web server: " + webText + "\n") != std::string::npos &&
               log.find(" - TracePort bind returns error\n") != std::string::npos;
    }));
    EXPECT_EQ(corvel.Stop(SIGINT), 0);
}

TEST(CorvelProgram, HttpPortComesFromSettingsInf) {
    TempFolder temp;
    int port = FreeLoopbackPort();
    ASSERT_TRUE(CreateDataFolder(DataFolder(temp)));
    WriteWholeFile(DataFolder(temp) + "/settings.inf",
                   "TraceLive=1\nHttpPort=" + std::to_string(port) + "\n");
    Corvel corvel(temp.Path(), {"--headless", "--trace-port", "0"});
    ASSERT_TRUE(corvel.Started());
    EXPECT_EQ(corvel.WaitForLine("Web server listening on port ([0-9]+)\n"), std::to_string(port));
    // An existing settings.inf is left as it is at start-up.
    EXPECT_EQ(ReadWholeFile(DataFolder(temp) + "/settings.inf"),
              "TraceLive=1\nHttpPort=" + std::to_string(port) + "\n");
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
}

TEST(CorvelProgram, TraceLiveOffKeepsStandardOutputQuiet) {
    TempFolder temp;
    ASSERT_TRUE(CreateDataFolder(DataFolder(temp)));
    WriteWholeFile(DataFolder(temp) + "/settings.inf", "TraceLive=0\n");
    Corvel corvel(temp.Path(), {"--headless", "--port", "0", "--trace-port", "0"});
    ASSERT_TRUE(corvel.Started());
    corvel.WaitForLine("running headless");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(DataFolder(temp) + "/error.log"); }));
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
    std::string out = corvel.Out();
    EXPECT_EQ(out.find("listening"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

}  // namespace
