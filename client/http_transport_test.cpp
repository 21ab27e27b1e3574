#include "client/http_transport.h"

#include <gtest/gtest.h>

#include "client/client_log.h"
#include "client/fake_http_server.h"

namespace {

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLogLineSink([this](const std::string& line) { log_.push_back(line); });
    }
    void TearDown() override { SetLogLineSink(nullptr); }
    std::vector<std::string> log_;
};

const char kAnswer[] =
    "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Type: application/vantro.wbxml\r\n\r\n";

TEST_F(TransportTest, RequestBytesAndAnswerBodyOverLoopback) {
    FakeHttpServer server([](const std::string&) {
        // The answer in three pieces, with bytes past the announced length.
        return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-",
                                        std::string(kAnswer + 25) + "ab", "cdeEXTRA"};
    });
    HttpRequest request;
    request.headers = {
        {"ContentType", "application/vantro"}, {"", "skipped"}, {"User-Agent", "PocketPC"}};
    request.body = std::string("\x03\x01\x6A\x00", 4);
    ASSERT_TRUE(SendHttpRequest("http://127.0.0.1:" + std::to_string(server.Port()) + "/vantro",
                                request, "POST"));
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ(std::string("POST vantro HTTP/1.1\r\n"
                          "ContentType: application/vantro\r\n"
                          "User-Agent: PocketPC\r\n"
                          "Content-Length: 4\r\n"
                          "Content-Size: 4\r\n"
                          "\r\n") +
                  std::string("\x03\x01\x6A\x00", 4),
              server.Requests()[0]);
    EXPECT_TRUE(request.answerComplete);
    EXPECT_EQ("abcde", std::string(request.answer.BodyView()));
    EXPECT_EQ("application/vantro.wbxml", request.answer.GetHeader("content-type"));
    EXPECT_TRUE(log_.empty());
}

TEST_F(TransportTest, PeerClosingEarlyGivesAnIncompleteAnswer) {
    FakeHttpServer server([](const std::string&) {
        return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort"};
    });
    HttpRequest request;
    ASSERT_TRUE(
        SendHttpRequest("127.0.0.1:" + std::to_string(server.Port()) + "/vantro", request, "POST"));
    EXPECT_FALSE(request.answerComplete);
    EXPECT_EQ("POST vantro HTTP/1.1\r\n\r\n", server.Requests()[0]);  // no body, no length lines
}

TEST_F(TransportTest, StopAfterSendingStillReadsTheAnswer) {
    // The server has acted on the request by the time the stop comes; its answer
    // (the keys of the device's new items) must not be thrown away.
    std::atomic<bool> stop{false};
    FakeHttpServer server([&stop](const std::string&) {
        stop = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", "key"};
    });
    HttpRequest request;
    ASSERT_TRUE(SendHttpRequest("http://127.0.0.1:" + std::to_string(server.Port()) + "/vantro",
                                request, "POST", &stop));
    EXPECT_TRUE(stop.load());
    EXPECT_TRUE(request.answerComplete);
    EXPECT_EQ("key", std::string(request.answer.BodyView()));
}

TEST_F(TransportTest, StopShortensTheWaitForASilentServer) {
    int fds[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    ASSERT_EQ(5, ::send(fds[1], "HTTP/", 5, 0));
    std::atomic<bool> stop{true};
    CDataString buffer;
    bool complete = true;
    // Without the stop this would wait 600 x 100 polls for the rest.
    size_t got = ReadHttpAnswer(fds[0], buffer, kAnswerWaitUnits, complete, &stop,
                                std::chrono::milliseconds(5), std::chrono::milliseconds(50));
    EXPECT_EQ(5u, got);
    EXPECT_FALSE(complete);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(TransportTest, StopEndsAConnectionAttempt) {
    // An address that drops the packets (TEST-NET-1): the attempt ends on the stop
    // request instead of waiting out the connect time; a network that answers at
    // once with "unreachable" ends it too. Either way nothing is sent.
    HttpRequest request;
    std::atomic<bool> stop{true};
    EXPECT_FALSE(SendHttpRequest("http://192.0.2.1/vantro", request, "POST", &stop));
    ASSERT_EQ(1u, log_.size());
    EXPECT_NE(std::string::npos, log_[0].find(" connect"));
}

TEST_F(TransportTest, LookupAndConnectFailuresAreLogged) {
    HttpRequest request;
    EXPECT_FALSE(SendHttpRequest("http://no-such-host.invalid/vantro", request, "POST"));
    EXPECT_FALSE(SendHttpRequest("http://host:notaport/vantro", request, "POST"));
    EXPECT_FALSE(SendHttpRequest("http:///vantro", request, "POST"));
    // A port nobody listens on: bind one, then free it.
    int port = 0;
    BindLoopback(port);  // closed again at once: nobody listens on the port
    EXPECT_FALSE(
        SendHttpRequest("http://127.0.0.1:" + std::to_string(port) + "/vantro", request, "POST"));
    EXPECT_EQ((std::vector<std::string>{"2af9 gethostbyname", "2af9 gethostbyname",
                                        "2af9 gethostbyname", "6f connect"}),
              log_);
}

TEST(TransportUrlTest, SplitUrl) {
    std::string host, path;
    uint16_t port = 0;
    ASSERT_TRUE(SplitUrl("HTTP://desk/vantro", host, port, path));
    EXPECT_EQ("desk", host);
    EXPECT_EQ(80, port);
    EXPECT_EQ("vantro", path);
    ASSERT_TRUE(SplitUrl("desk:8080", host, port, path));
    EXPECT_EQ("desk", host);
    EXPECT_EQ(8080, port);
    EXPECT_EQ("", path);
    EXPECT_TRUE(SplitUrl("desk:65535/a/b", host, port, path));
    EXPECT_EQ("a/b", path);
    EXPECT_FALSE(SplitUrl("desk:65536/", host, port, path));
    EXPECT_FALSE(SplitUrl("desk:0/", host, port, path));
    EXPECT_FALSE(SplitUrl("desk:/", host, port, path));
}

TEST(TransportUrlTest, HttpsUrlsAndConfiguredAddresses) {
    std::string host, path;
    uint16_t port = 0;
    bool secure = false;
    ASSERT_TRUE(SplitUrl("HTTPS://desk/vantro", host, port, path, &secure));
    EXPECT_TRUE(secure);
    EXPECT_EQ("desk", host);
    EXPECT_EQ(443, port);
    EXPECT_EQ("vantro", path);
    ASSERT_TRUE(SplitUrl("https://desk:8443/vantro", host, port, path, &secure));
    EXPECT_EQ(8443, port);
    ASSERT_TRUE(SplitUrl("http://desk/vantro", host, port, path, &secure));
    EXPECT_FALSE(secure);
    EXPECT_EQ(80, port);
    EXPECT_EQ(ServerUrl("desk:8080"), "http://desk:8080");
    EXPECT_EQ(ServerUrl("https://desk:8443"), "https://desk:8443");
    EXPECT_EQ(ServerUrl("HTTP://desk"), "HTTP://desk");
    EXPECT_TRUE(IsHttpsUrl("hTTps://x"));
    EXPECT_FALSE(IsHttpsUrl("https:/x"));
    EXPECT_FALSE(IsHttpsUrl("http://x"));
}

TEST(TransportTlsTest, APlainServerOnAnHttpsAddressFailsTheHandshakeWithAReason) {
    std::vector<std::string> log;
    SetLogLineSink([&log](const std::string& line) { log.push_back(line); });
    FakeHttpServer server([](const std::string&) {
        return std::vector<std::string>{"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"};
    });
    HttpRequest request;
    request.body = "secret body";
    request.tlsHandshakeTimeout = std::chrono::milliseconds(300);
    EXPECT_FALSE(SendHttpRequest("https://127.0.0.1:" + std::to_string(server.Port()) + "/vantro",
                                 request, "POST"));
    SetLogLineSink(nullptr);
    EXPECT_EQ(request.tls.trust, TlsTrust::kFailed);
    EXPECT_NE(request.tls.reason.find("the TLS handshake with 127.0.0.1 failed"), std::string::npos)
        << request.tls.reason;
    for (const std::string& received : server.Requests()) {
        EXPECT_EQ(received.find("secret body"), std::string::npos);
    }
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), request.tls.reason);
}

TEST(TransportUrlTest, StatusCode) {
    EXPECT_EQ(200, HttpStatusCode("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(404, HttpStatusCode("HTTP/1.0 404"));
    EXPECT_EQ(0, HttpStatusCode("HTTP/1.1 20"));
    EXPECT_EQ(0, HttpStatusCode("HTTP/1.1 2x0 OK"));
    EXPECT_EQ(0, HttpStatusCode("\x03\x01\x6A\x00"));
    EXPECT_EQ(0, HttpStatusCode(""));
}

TEST(TransportUrlTest, AnswerCompleteness) {
    size_t whole = 0;
    EXPECT_FALSE(IsAnswerComplete("HTTP/1.1 200 OK\r\nA: b\r\n", 24, whole));
    // Without a length the answer is complete when its header block has ended.
    std::string noLength = "HTTP/1.1 200 OK\r\n\r\nbody";
    EXPECT_TRUE(IsAnswerComplete(noLength.data(), noLength.size(), whole));
    EXPECT_EQ(noLength.size(), whole);
    std::string lf = "HTTP/1.1 200 OK\nContent-Length:   3\n\nab";
    EXPECT_FALSE(IsAnswerComplete(lf.data(), lf.size(), whole));
    lf += "cd";
    EXPECT_TRUE(IsAnswerComplete(lf.data(), lf.size(), whole));
    EXPECT_EQ(lf.size() - 1, whole);
    // A lower-case length field does not count (plain, case-sensitive search).
    std::string lower = "HTTP/1.1 200 OK\r\ncontent-length: 9\r\n\r\nab";
    EXPECT_TRUE(IsAnswerComplete(lower.data(), lower.size(), whole));
    // A length beyond the limit never completes.
    std::string huge = "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n";
    EXPECT_FALSE(IsAnswerComplete(huge.data(), huge.size(), whole));
}

TEST_F(TransportTest, ConnectionStepLogLines) {
    uintptr_t handle = OpenNetworkConnection();
    EXPECT_NE(0u, handle);
    ReleaseNetworkConnection(handle);
    EXPECT_EQ(
        (std::vector<std::string>{"ConnMgrMapURL = 0", "connecting", "ConnMgrEstablish.. = 0"}),
        log_);
}

}  // namespace
