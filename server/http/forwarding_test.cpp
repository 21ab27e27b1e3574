// Forwarding: target URLs, rewritten requests, and a forwarded request relayed
// from a second local server with both logs written.
#include "server/http/forwarding.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "server/config/config_test_util.h"
#include "server/http/http_test_util.h"
#include "server/http/route_test_util.h"
#include "server/http/socket_util.h"
#include "server/http/web_routing.h"

namespace {

TEST(Forwarding, ParseForwardUrl) {
    CForwardTarget target;
    ASSERT_TRUE(ParseForwardUrl("http://intranet:8080/app", 80, target));
    EXPECT_EQ(target.host, "intranet");
    EXPECT_EQ(target.port, 8080);
    EXPECT_EQ(target.hostHeader, "intranet:8080");
    ASSERT_TRUE(ParseForwardUrl("HTTP://10.0.0.1/x/y", 81, target));
    EXPECT_EQ(target.host, "10.0.0.1");
    EXPECT_EQ(target.port, 81);
    EXPECT_EQ(target.hostHeader, "10.0.0.1");
    EXPECT_FALSE(ParseForwardUrl("http://:80/", 80, target));
    EXPECT_FALSE(ParseForwardUrl("http://h:99999/", 80, target));
    EXPECT_FALSE(ParseForwardUrl("http://h:8a/", 80, target));
    EXPECT_FALSE(ParseForwardUrl("ftp://h/", 80, target));
}

TEST(Forwarding, ForwardedUrl) {
    EXPECT_EQ(ForwardedUrl("/app/x/y?q=1", "app", "/x/y"), "/x/y?q=1");
    EXPECT_EQ(ForwardedUrl("/app", "app", ""), "/");
    EXPECT_EQ(ForwardedUrl("/appx", "app", "x"), "/x");
    EXPECT_EQ(ForwardedUrl("/%61pp/z?k", "app", "/z"), "/z?k");
}

TEST(Forwarding, RewriteRequest) {
    EXPECT_EQ(RewriteRequest("GET /app/x HTTP/1.1\r\nhost: me:80\r\nAccept: */*\r\n\r\nbody", "/x",
                             "target:8080"),
              "GET /x HTTP/1.1\r\nHost: target:8080\r\nAccept: */*\r\n\r\nbody");
    EXPECT_EQ(RewriteRequest("GET /app HTTP/1.0\n\n", "/", "t"), "GET / HTTP/1.0\n\n");
}

// A one-shot target server: reads one request, answers without a length, closes.
class TargetServer {
public:
    TargetServer()
        : server_(1, [this](const CSocket& client) {
              char buffer[4096];
              ssize_t n;
              while ((n = read(client.Get(), buffer, sizeof buffer)) > 0) {
                  received_.append(buffer, static_cast<size_t>(n));
                  if (received_.find("\r\n\r\n") != std::string::npos) break;
              }
              SendAll(client.Get(),
                      "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfrom target");
          }) {}
    int Port() const { return server_.Port(); }
    std::string Received() {
        server_.Wait();
        return received_;
    }

private:
    std::string received_;  // before server_: its thread writes here
    LoopbackServer server_;
};

TEST(Forwarding, RelaysAnswerWithoutLengthAndWritesBothLogs) {
    TempFolder folder;
    TargetServer target;
    WriteWholeFile(
        folder.Path() + "/settings.inf",
        "WebDir=app ;http://127.0.0.1:" + std::to_string(target.Port()) + "/base ; ; ;\n");
    Settings settings;
    settings.LoadSettings(folder.Path());
    std::string request = "GET /app/page?x=1 HTTP/1.1\r\nHost: me\r\nAccept: */*\r\n\r\n";
    const std::string answer = RoutedAnswer(settings, request);

    const std::string expectedAnswer =
        "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfrom target";
    EXPECT_EQ(answer, expectedAnswer);
    const std::string hop = "X-Corvel-Hop: " + HopToken() + "\r\n";
    const std::string rewritten =
        "GET /page?x=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(target.Port()) +
        "\r\nAccept: */*\r\n" + hop + "\r\n";
    EXPECT_EQ(target.Received(), rewritten);
    EXPECT_EQ(ReadWholeFile(folder.Path() + "/webbin.log"), expectedAnswer);
    std::string log = ReadWholeFile(folder.Path() + "/web.log");
    ASSERT_EQ(log.rfind("\r\n!!!", 0), 0u);
    std::string afterStamp = log.substr(5 + 19 + 1);  // past "\r\n!!!dd.mm.yyyy hh:mm:ss "
    EXPECT_EQ(
        afterStamp,
        "GET /page?x=1 HTTP/1.1\r\n" + rewritten +
            "GET /page HTTP/1.1\r"
            "par x                                        1                                       "
            "\n"
            "Host                                     127.0.0.1:" +
            std::to_string(target.Port()) +
            std::string(40 - 10 - std::to_string(target.Port()).size(), ' ') +
            "\n"
            "Accept                                   */*                                     \n"
            "X-Corvel-Hop                             " +
            HopToken() + std::string(40 - HopToken().size(), ' ') +
            "\n"
            "*********** Answer *******************\r\n"
            "HTTP/1.0 200 OK\n"
            "Content-Type                             text/plain                              \n"
            "from target\n"
            "--------------------------------------------------------\r\n");
}

TEST(Forwarding, HopTokenIsAddedOnceAndStaysTheSame) {
    EXPECT_EQ(HopToken().size(), 16u);
    EXPECT_EQ(HopToken(), HopToken());
    EXPECT_EQ(RewriteRequest("GET /a/x HTTP/1.0\n\n", "/x", "t", "abc"),
              "GET /x HTTP/1.0\nX-Corvel-Hop: abc\n\n");
}

TEST(Forwarding, UnreachableTargetItselfOrARequestThatCameBackGetsNoAnswer) {
    TempFolder folder;
    ListenStep step;
    std::string error;
    CSocket listener = CreateListener(0, true, 4, step, error);  // stands for this server
    int own = LocalPort(listener.Get());
    RegisterListeningPort(own);
    WriteWholeFile(
        folder.Path() + "/settings.inf",
        "WebDir=self ;http://127.0.0.1:" + std::to_string(own) +
            "/ ; ; ;\nWebDir=bad ;http://:5/ ; ; ;\nWebDir=other ;http://127.0.0.1:1/ ; ; ;\n");
    Settings settings;
    settings.LoadSettings(folder.Path());
    TraceCapture capture;
    for (const std::string& request : std::vector<std::string>{
             "GET /self/x HTTP/1.1\r\n\r\n", "GET /bad/x HTTP/1.1\r\n\r\n",
             "GET /other/x HTTP/1.1\r\nX-Corvel-Hop: " + HopToken() + "\r\n\r\n"}) {
        EXPECT_EQ(RoutedAnswer(settings, request), "") << request;
    }
    UnregisterListeningPort(own);
    EXPECT_TRUE(capture.HasLine("Forwarding to this server itself refused: 127.0.0.1:" +
                                std::to_string(own)));
    EXPECT_TRUE(capture.HasLine(
        "Forwarding refused: the request to http://127.0.0.1:1/ came back to this server"));
    EXPECT_FALSE(IsListeningPort(own));
}

}  // namespace
