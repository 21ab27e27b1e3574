#include "server/http/web.h"

#include <gtest/gtest.h>

#include "server/config/config_test_util.h"
#include "server/http/http_test_util.h"
#include "server/http/web_server.h"

namespace {

TEST(WebLog, EntryFormat) {
    EXPECT_EQ(FormatWebLogEntry("09.12.2026 07:30:05", "GET /a HTTP/1.1\r\nHost: x\r\n\r\n"),
              "\r\n!!!09.12.2026 07:30:05 - GET /a HTTP/1.1\r\nGET /a HTTP/1.1\r\nHost: x\r\n\r\n");
    // The logged text ends at the first zero byte.
    EXPECT_EQ(FormatWebLogEntry("s", std::string_view("POST / HTTP/1.1\n\nab\0cd", 22)),
              "\r\n!!!s - POST / HTTP/1.1\r\nPOST / HTTP/1.1\n\nab");
}

TEST(WebTrace, ActiveSyncLinesCarryTheCommand) {
    CHTMLCommand c;
    std::string m = "POST /Microsoft-Server-ActiveSync?Cmd=Sync&User=u HTTP/1.1\r\n\r\n";
    c.ParseMessage(true, m.data(), m.size());
    EXPECT_EQ(RequestTraceLine(c), "POST /Microsoft-Server-ActiveSync Sync");
    m = "OPTIONS /microsoft-server-activesync HTTP/1.1\r\n\r\n";
    c.ParseMessage(true, m.data(), m.size());
    EXPECT_EQ(RequestTraceLine(c), "OPTIONS /microsoft-server-activesync ");
    m = "GET /Microsoft-Server-ActiveSyncX?Cmd=Sync HTTP/1.1\r\n\r\n";
    c.ParseMessage(true, m.data(), m.size());
    EXPECT_EQ(RequestTraceLine(c), "GET /Microsoft-Server-ActiveSyncX");
}

// A web server on a free loopback port over a temporary data folder, with a
// short wait limit so a silent client is given up quickly.
class WebLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        settings.LoadSettings(temp.Path() + "/Norvex/Corvel");
        config.port = 0;
        config.loopbackOnly = true;
        config.connection.headTimeout = std::chrono::milliseconds(200);
        config.connection.bodyWindow = std::chrono::milliseconds(200);
        config.connection.linger = std::chrono::milliseconds(200);
    }
    int Start() {
        server = std::make_unique<CWebServer>(settings, config);
        server->Start();
        return server->WaitUntilListening(std::chrono::seconds(30));
    }
    std::string WebLog() const { return ReadWholeFile(settings.DataFolder() + "/web.log"); }

    TraceCapture capture;
    TempFolder temp;
    Settings settings;
    WebServerConfig config;
    std::unique_ptr<CWebServer> server;
};

// Removes the stamps so a log compares as a whole string.
std::string WithoutStamps(std::string log) {
    for (size_t at = log.find("!!!"); at != std::string::npos; at = log.find("!!!", at + 3)) {
        log.replace(at + 3, 19, "<stamp>");
    }
    return log;
}

TEST_F(WebLoopback, RequestSentInPiecesIsLoggedAndTraced) {
    int port = Start();
    ASSERT_NE(port, 0);
    CSocket client = ConnectLoopback(port);
    ASSERT_TRUE(client.IsValid());
    for (const char* piece :
         {"POST /vantro?x=1 HTT", "P/1.1\r\nContent-Le", "ngth: 3\r\n\r\n", "abc"}) {
        ASSERT_TRUE(SendAll(client.Get(), piece));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "");  // no route answers yet
    ASSERT_TRUE(WaitFor([&] { return capture.HasLine("POST /vantro"); }));
    EXPECT_EQ(WithoutStamps(WebLog()),
              "\r\n!!!<stamp> - POST /vantro?x=1 HTTP/1.1\r\n"
              "POST /vantro?x=1 HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(ModeOf(settings.DataFolder() + "/web.log"), 0600u);
}

TEST_F(WebLoopback, SilentClientIsClosedWithoutLogOrTrace) {
    int port = Start();
    CSocket client = ConnectLoopback(port);
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "");
    EXPECT_FALSE(std::filesystem::exists(settings.DataFolder() + "/web.log"));
    server->Stop();
    for (const std::string& line : capture.Lines()) {
        EXPECT_EQ(line.rfind("Web server listening on port", 0), 0u) << line;
    }
}

TEST_F(WebLoopback, TwoClientsAtOnceDoNotWaitForEachOther) {
    config.connection.headTimeout = std::chrono::seconds(60);  // a stalled client holds 60 s
    int port = Start();
    CSocket slow = ConnectLoopback(port);
    ASSERT_TRUE(SendAll(slow.Get(), "POST /slow HTTP/1.1\r\n"));  // never completes
    CSocket fast = ConnectLoopback(port);
    ASSERT_TRUE(SendAll(fast.Get(), "GET /fast HTTP/1.1\r\n\r\n"));
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(fast.Get(), answer), ReadEnd::kClosed);
    EXPECT_TRUE(WaitFor([&] { return capture.HasLine("GET /fast"); }));
    fast.Close();
    // The slow one is still being read.
    EXPECT_TRUE(WaitFor([&] { return server->ActiveConnections() == 1; }));
    // Stopping ends the stalled read at once.
    server->Stop();
    EXPECT_EQ(server->ActiveConnections(), 0u);
    EXPECT_EQ(ReadUntilClosed(slow.Get(), answer), ReadEnd::kClosed);
}

TEST_F(WebLoopback, TraceWebOffWritesNoLogAndRequestLineWithoutUrlIsNotTraced) {
    settings.SetTraceWEB(false);
    int port = Start();
    for (const char* request : {"GET /quiet HTTP/1.1\r\n\r\n", "GET\r\n\r\n"}) {
        CSocket client = ConnectLoopback(port);
        ASSERT_TRUE(SendAll(client.Get(), request));
        std::string answer;
        EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
    }
    EXPECT_TRUE(WaitFor([&] { return capture.HasLine("GET /quiet"); }));
    server->Stop();
    EXPECT_FALSE(std::filesystem::exists(settings.DataFolder() + "/web.log"));
    EXPECT_FALSE(capture.HasLine("GET\r "));
    EXPECT_FALSE(capture.HasLine("GET\r"));
}

TEST_F(WebLoopback, RequestPastTheSizeLimitIsDroppedWithATraceLine) {
    config.connection.maxMessageBytes = 64;
    int port = Start();
    CSocket client = ConnectLoopback(port);
    std::string request = "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n" + std::string(100, 'x');
    ASSERT_TRUE(SendAll(client.Get(), request));
    std::string answer;
    EXPECT_EQ(ReadUntilClosed(client.Get(), answer), ReadEnd::kClosed);
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(WaitFor([&] { return capture.HasLine("Request dropped: larger than 64 bytes"); }));
    EXPECT_FALSE(std::filesystem::exists(settings.DataFolder() + "/web.log"));
}

}  // namespace
