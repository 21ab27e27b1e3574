// The child process helper of the end-to-end tests, on /bin/sh.
#include "tests/test_process.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

TEST(ChildProcess, OutputMergedOrApartAndExitCodes) {
    ChildProcess merged("/bin/sh", {"-c", "printf 'a\\n'; printf 'b\\n' >&2; exit 3"},
                        DataHomeEnvironment("/data"));
    ASSERT_TRUE(merged.Started());
    EXPECT_EQ(merged.Wait(), 3);
    EXPECT_EQ(merged.Out(), "a\nb\n");
    EXPECT_EQ(merged.Err(), "");
    EXPECT_EQ(merged.Wait(), 3);

    ChildProcess apart("/bin/sh", {"-c", "printf 'a\\n'; printf 'b\\n' >&2"},
                       DataHomeEnvironment("/data"), ChildProcess::Output::kSeparate);
    EXPECT_EQ(apart.Wait(), 0);
    EXPECT_EQ(apart.Out(), "a\n");
    EXPECT_EQ(apart.Err(), "b\n");
}

TEST(ChildProcess, EnvironmentIsTheDataHomeAndTheExtras) {
    ChildProcess env("/bin/sh",
                     {"-c",
                      "printf '%s|%s|%s|%s|%s' \"$XDG_DATA_HOME\" \"$XDG_CONFIG_HOME\" \"$HOME\" "
                      "\"$EXTRA\" \"${TZ-unset}\""},
                     DataHomeEnvironment("/data", {"EXTRA=x"}));
    EXPECT_EQ(env.Wait(), 0);
    EXPECT_EQ(env.Out(), "/data|/data/config|/data|x|unset");
}

TEST(ChildProcess, WaitingForOutputAndStopping) {
    ChildProcess server(
        "/bin/sh",
        {"-c", "printf 'start\\nWeb server listening on port 4711\\nready\\n'; exec sleep 60"},
        DataHomeEnvironment("/data"));
    EXPECT_EQ(server.ListeningPort(), 4711);
    EXPECT_TRUE(server.HasLine("ready"));
    EXPECT_EQ(server.WaitForOutput("st(a)rt"), "a");
    EXPECT_EQ(server.WaitForOutput("listening"), "listening");
    EXPECT_EQ(server.Stop(SIGTERM), 1000 + SIGTERM);
    // Once ended, stopping again only gives the status.
    EXPECT_EQ(server.Stop(SIGKILL), 1000 + SIGTERM);
}

TEST(ChildProcess, AProgramThatCannotStart) {
    ChildProcess missing(ProgramPath("no-such-program"), {}, DataHomeEnvironment("/data"));
    EXPECT_FALSE(missing.Started());
    EXPECT_EQ(missing.Wait(), -1);
    EXPECT_EQ(missing.Stop(SIGTERM), -1);
    EXPECT_EQ(missing.Out(), "");
}

TEST(ChildProcess, DestructorEndsARunningProcess) {
    pid_t pid = 0;
    {
        ChildProcess sleeper("/bin/sh", {"-c", "echo $$; exec sleep 60"},
                             DataHomeEnvironment("/data"));
        std::string line = sleeper.WaitForOutput("([0-9]+)\n");
        ASSERT_FALSE(line.empty());
        pid = std::stoi(line);
    }
    // Reaped: the process id no longer names a process of ours.
    EXPECT_NE(kill(pid, 0), 0);
}

TEST(LoopbackHelpers, PortWaitingAndWholeAnswers) {
    ListenStep step;
    std::string error;
    CSocket listener = CreateListener(0, true, 1, step, error);
    ASSERT_TRUE(listener.IsValid()) << error;
    int port = LocalPort(listener.Get());
    EXPECT_TRUE(WaitForPort(port));
    std::thread server([&] {
        // First WaitForPort's probe, then the request.
        int probe = accept(listener.Get(), nullptr, nullptr);
        int request = accept(listener.Get(), nullptr, nullptr);
        char piece[64];
        ssize_t got = recv(request, piece, sizeof piece, 0);
        std::string answer = "got " + std::string(piece, got > 0 ? static_cast<size_t>(got) : 0);
        send(request, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(request);
        close(probe);
    });
    EXPECT_EQ(AskLoopback(port, "ping"), "got ping");
    server.join();
    EXPECT_EQ(AskLoopback(FreeLoopbackPort(), "ping"), "<no connection>");
}
