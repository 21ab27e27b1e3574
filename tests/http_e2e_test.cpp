// Starts the corvel program headless and talks to it over loopback.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_process.h"

namespace {

// One corvel process over dataHome, standard output and error collected apart.
class Corvel : public CorvelProcess {
public:
    Corvel(const std::string& dataHome, std::vector<std::string> args)
        : CorvelProcess(dataHome, std::move(args), Output::kSeparate) {}
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
    Corvel corvel(temp.Path(), kHeadlessOnFreePorts);
    ASSERT_TRUE(corvel.Started());
    int web = std::stoi(corvel.WaitForOutput("Web server listening on port ([0-9]+)\n"));
    int trace = std::stoi(corvel.WaitForOutput("Trace port listening on port ([0-9]+)\n"));

    // Data folder, settings and error.log exist after start-up, owner-only.
    EXPECT_EQ(ModeOf(temp.Path() + "/Norvex"), 0700u);
    EXPECT_EQ(ModeOf(DataFolder(temp)), 0700u);
    EXPECT_EQ(ReadWholeFile(DataFolder(temp) + "/settings.inf"),
              "WebBaseDir=\nAnswerWeb=0\nTraceXML=1\nTraceWEB=1\nTraceLive=1\nStartOutlook=0\n"
              "HttpPort=80\nKeepSyncFiles=0\nMaxBodyMB=64\nBodyBudgetMB=256\n"
              "HttpsPort=8443\nTlsCertFile=\nTlsKeyFile=\nRequireTls=0\n");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(DataFolder(temp) + "/error.log"); }));
    EXPECT_EQ(ModeOf(DataFolder(temp) + "/error.log"), 0600u);

    {
        CSocket client = ConnectLoopback(web);
        ASSERT_TRUE(SendAll(client.Get(), "GET /index.htm?a=1 HTTP/1.1\r\nHost: pc\r\n\r\n"));
        std::string answer;
        EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
        EXPECT_EQ(answer, "");
    }
    corvel.WaitForOutput("\nGET /index.htm\n");
    std::string log = ReadWholeFile(DataFolder(temp) + "/web.log");
    ASSERT_GE(log.size(), 25u);
    EXPECT_EQ(log.substr(0, 5), "\r\n!!!");
    EXPECT_EQ(log.substr(24),
              " - GET /index.htm?a=1 HTTP/1.1\r\n"
              "GET /index.htm?a=1 HTTP/1.1\r\nHost: pc\r\n\r\n");

    {
        CSocket client = ConnectLoopback(trace);
        ASSERT_TRUE(SendAll(client.Get(), "a\r\nb"));
        corvel.WaitForOutput("\nclient: a\n");
        ASSERT_TRUE(SendAll(client.Get(), "\n"));
        corvel.WaitForOutput("\nclient: b\n");
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
    Corvel corvel(temp.Path(), {"--headless", "--port", webPort, "--https-port", "0",
                                "--trace-port", tracePort});
    ASSERT_TRUE(corvel.Started());
    std::string webText = "Web server cannot listen on port " + webPort +
                          ": Address already in use; trying again every 10 s";
    corvel.WaitForOutput("\nWeb server: " + webText + "\n");
    corvel.WaitForOutput("\nTracePort bind returns error\n");
    EXPECT_TRUE(WaitFor([&] { return corvel.Err() == "corvel: " + webText + "\n"; }));
    ASSERT_TRUE(WaitFor([&] {
        std::string log = ReadWholeFile(DataFolder(temp) + "/error.log");
        return log.find(" - Web server: " + webText + "\n") != std::string::npos &&
               log.find(" - TracePort bind returns error\n") != std::string::npos;
    }));
    EXPECT_EQ(corvel.Stop(SIGINT), 0);
}

TEST(CorvelProgram, SilentTraceConnectionsDoNotKeepASenderOut) {
    TempFolder temp;
    Corvel corvel(temp.Path(), kHeadlessOnFreePorts);
    int trace = corvel.ListeningPort("Trace port");
    ASSERT_NE(trace, 0) << corvel.Out();
    std::vector<CSocket> silent;
    for (int i = 0; i < 20; ++i) silent.push_back(ConnectLoopback(trace));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    CSocket sender = ConnectLoopback(trace);
    ASSERT_TRUE(SendAll(sender.Get(), "still heard\n"));
    EXPECT_NE(corvel.WaitForOutput("\nclient: still heard\n"), "") << corvel.Out();
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
}

TEST(CorvelProgram, ASecondServerOnAFolderInUseSaysSoAndEnds) {
    TempFolder temp;
    Corvel first(temp.Path(), kHeadlessOnFreePorts);
    ASSERT_NE(first.ListeningPort(), 0) << first.Out();
    Corvel second(temp.Path(), kHeadlessOnFreePorts);
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_EQ(second.Err(),
              "corvel: the data folder " + DataFolder(temp) + " is in use by another corvel\n");
    EXPECT_EQ(second.Out().find("listening"), std::string::npos);
    // The first one is untouched and ends as usual.
    EXPECT_EQ(first.Stop(SIGTERM), 0);
}

TEST(CorvelProgram, HttpPortComesFromSettingsInf) {
    TempFolder temp;
    int port = FreeLoopbackPort();
    ASSERT_TRUE(CreateDataFolder(DataFolder(temp)));
    WriteWholeFile(DataFolder(temp) + "/settings.inf",
                   "TraceLive=1\nHttpPort=" + std::to_string(port) + "\n");
    Corvel corvel(temp.Path(), {"--headless", "--https-port", "0", "--trace-port", "0"});
    ASSERT_TRUE(corvel.Started());
    EXPECT_EQ(corvel.WaitForOutput("Web server listening on port ([0-9]+)\n"),
              std::to_string(port));
    // An existing settings.inf is left as it is at start-up.
    EXPECT_EQ(ReadWholeFile(DataFolder(temp) + "/settings.inf"),
              "TraceLive=1\nHttpPort=" + std::to_string(port) + "\n");
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
}

TEST(CorvelProgram, TraceLiveOffKeepsStandardOutputQuiet) {
    TempFolder temp;
    ASSERT_TRUE(CreateDataFolder(DataFolder(temp)));
    WriteWholeFile(DataFolder(temp) + "/settings.inf", "TraceLive=0\n");
    Corvel corvel(temp.Path(), kHeadlessOnFreePorts);
    ASSERT_TRUE(corvel.Started());
    corvel.WaitForOutput("running headless");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(DataFolder(temp) + "/error.log"); }));
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
    std::string out = corvel.Out();
    EXPECT_EQ(out.find("listening"), std::string::npos) << out;
    // The start line, and the certificate's fingerprint, shown whatever TraceLive says.
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    EXPECT_NE(out.find("\nTLS certificate "), std::string::npos) << out;
}

// "corvel web" changes settings.inf while the server runs; the server serves the
// new folders without a restart, and what it wrote itself stays in the file.
TEST(CorvelProgram, WebCommandsTakeEffectInTheRunningServer) {
    TempFolder temp;
    std::string site = temp.Path() + "/site";
    std::filesystem::create_directories(site + "/docs");
    WriteWholeFile(site + "/start.htm", "<p>Start</p>");
    WriteWholeFile(site + "/docs/a.txt", "Dokument A");
    Corvel corvel(temp.Path(), kHeadlessOnFreePorts);
    ASSERT_TRUE(corvel.Started());
    int web = std::stoi(corvel.WaitForOutput("Web server listening on port ([0-9]+)\n"));
    EXPECT_EQ(AskLoopback(web, "GET /start.htm HTTP/1.0\r\n\r\n"), "");

    Corvel base(temp.Path(), {"web", "base", site});
    EXPECT_EQ(base.Wait(), 0) << base.Err();
    EXPECT_EQ(base.Out(),
              "WebBaseDir set to " + site + "\nThe running server uses it from now on.\n");
    Corvel dir(temp.Path(), {"web", "dir", "add", "akten", site + "/docs", "--realm", "Akten",
                             "--user", "ann", "--password", "pw"});
    EXPECT_EQ(dir.Wait(), 0) << dir.Err();
    EXPECT_TRUE(WaitFor([&] {
        return AskLoopback(web, "GET /start.htm HTTP/1.0\r\n\r\n") ==
               "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>Start</p>";
    }));
    EXPECT_TRUE(WaitFor([&] {
        return AskLoopback(web, "GET /akten/a.txt HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 401", 0) == 0;
    }));
    // "ann:pw" in Base64.
    EXPECT_NE(AskLoopback(web, "GET /akten/a.txt HTTP/1.0\r\nAuthorization: Basic YW5uOnB3\r\n\r\n")
                  .find("Dokument A"),
              std::string::npos);
    EXPECT_TRUE(
        corvel.HasLine("settings.inf was changed outside the server; the changes are in effect"));

    Corvel removed(temp.Path(), {"web", "dir", "remove", "akten"});
    EXPECT_EQ(removed.Wait(), 0) << removed.Err();
    EXPECT_TRUE(WaitFor([&] {
        return AskLoopback(web, "GET /akten/a.txt HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 401", 0) != 0;
    }));
    Corvel list(temp.Path(), {"web", "dir", "list"});
    EXPECT_EQ(list.Wait(), 0);
    EXPECT_EQ(list.Out(), "No virtual directories.\n");
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
    EXPECT_NE(ReadWholeFile(DataFolder(temp) + "/settings.inf").find("WebBaseDir=" + site + "\n"),
              std::string::npos);
}

// A fresh installation answers no GET: the live trace says why. A HEAD (never
// answered) is closed at once, not after the linger or a read limit.
TEST(CorvelProgram, UnansweredRequestsSayWhyAndHeadIsClosedAtOnce) {
    TempFolder temp;
    Corvel corvel(temp.Path(), kHeadlessOnFreePorts);
    ASSERT_TRUE(corvel.Started());
    int web = std::stoi(corvel.WaitForOutput("Web server listening on port ([0-9]+)\n"));
    EXPECT_EQ(AskLoopback(web, "GET / HTTP/1.1\r\nHost: pc\r\n\r\n"), "");
    EXPECT_TRUE(corvel.HasLine(
        "No answer to GET /: no base folder: WebBaseDir is empty and no virtual directory "
        "matches (corvel web base DIR sets one)"));
    CSocket client = ConnectLoopback(web);
    ASSERT_TRUE(client.IsValid());
    timeval belowTheLinger{2, 0};  // the linger is 4 s
    setsockopt(client.Get(), SOL_SOCKET, SO_RCVTIMEO, &belowTheLinger, sizeof belowTheLinger);
    ASSERT_TRUE(SendAll(client.Get(), "HEAD / HTTP/1.1\r\nHost: pc\r\n\r\n"));
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(corvel.HasLine(
        "No answer to HEAD /: only GET, Vantro and attachment requests are answered"));
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
}

// "corvel device" beside the running server: list at any time, reset and remove
// carried out by the server itself.
TEST(CorvelProgram, DeviceCommandsGoThroughTheRunningServer) {
    TempFolder temp;
    ASSERT_TRUE(CreateDataFolder(DataFolder(temp) + "/PPC1"));
    WriteWholeFile(DataFolder(temp) + "/PPC1.ifo", "Name=alice\nPasswort=pw\nDeviceID=PPC1\n");
    WriteWholeFile(DataFolder(temp) + "/settings.inf", "Device=PPC1:Pocket PC\nTraceLive=1\n");
    WriteWholeFile(DataFolder(temp) + "/PPC1/-1.csv", "baseline");
    WriteWholeFile(DataFolder(temp) + "/PPC1/sync.log",
                   "2026-05-04 08:15:02.120\tsync\tContacts\thandheld +12 ~0 -0\tdesktop +3 ~0 "
                   "-0\tconflicts 0\n");
    Corvel corvel(temp.Path(), kHeadlessOnFreePorts);
    ASSERT_TRUE(corvel.Started());
    corvel.WaitForOutput("Web server listening on port ([0-9]+)\n");

    Corvel list(temp.Path(), {"device", "list"});
    EXPECT_EQ(list.Wait(), 0) << list.Err();
    EXPECT_NE(list.Out().find("PPC1\tPocket PC\talice\t2026-05-04 08:15:02.120\tContacts: "
                              "handheld +12 ~0 -0, desktop +3 ~0 -0\n"),
              std::string::npos)
        << list.Out();
    Corvel reset(temp.Path(), {"device", "reset", "PPC1"});
    EXPECT_EQ(reset.Wait(), 0) << reset.Err();
    EXPECT_EQ(reset.Out(), "Device PPC1 reset by the running server\n");
    EXPECT_TRUE(corvel.HasLine("Device PPC1 reset (corvel device reset)"));
    EXPECT_FALSE(std::filesystem::exists(DataFolder(temp) + "/PPC1/-1.csv"));
    EXPECT_FALSE(std::filesystem::exists(DataFolder(temp) + "/PPC1.ifo"));
    Corvel remove(temp.Path(), {"device", "remove", "PPC1"});
    EXPECT_EQ(remove.Wait(), 0) << remove.Err();
    EXPECT_TRUE(corvel.HasLine("Device PPC1 removed (corvel device remove)"));
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
    EXPECT_EQ(ReadWholeFile(DataFolder(temp) + "/settings.inf").find("PPC1"), std::string::npos);
}

}  // namespace
