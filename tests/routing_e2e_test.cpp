// Routing, web files, protected directories and forwarding, end to end: corvel runs
// headless over a temporary data folder and is asked over loopback.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/corvel_home_test.h"
#include "tests/test_process.h"

namespace {

// One corvel process over the data home dataHome, its standard output and error
// collected together.
class Corvel : public CorvelProcess {
public:
    using CorvelProcess::CorvelProcess;
    int Port() { return ListeningPort(); }
};

std::string Ask(int port, const std::string& request) { return AskLoopback(port, request); }

std::string Get(int port, const std::string& url, const std::string& headers = "") {
    return Ask(port, "GET " + url + " HTTP/1.1\r\nHost: pc\r\n" + headers + "\r\n");
}

std::string FileAnswer(const std::string& type, const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\n\r\n" + body;
}

class RoutingEndToEnd : public CorvelHomeTest {
protected:
    void SetUp() override {
        CorvelHomeTest::SetUp();
        www_ = temp_.Path() + "/www";
        for (const char* dir : {"/www/sub", "/protected", "/team"}) {
            std::filesystem::create_directories(temp_.Path() + dir);
        }
        WriteWholeFile(www_ + "/index.html", "<p>html</p>");
        WriteWholeFile(www_ + "/sub/index.htm", "sub index");
        WriteWholeFile(www_ + "/pic.GIF", "GIF89a");
        WriteWholeFile(temp_.Path() + "/secret.txt", "outside the root");
        WriteWholeFile(temp_.Path() + "/protected/x", "protected x");
        WriteWholeFile(temp_.Path() + "/team/t.htm", "team page");
        std::filesystem::create_directories(temp_.Path() + "/docdir/s");
        WriteWholeFile(temp_.Path() + "/docdir/s/x", "from doc");
    }
    void WriteSettings(const std::string& extra) {
        WriteWholeFile(data_ + "/settings.inf", "WebBaseDir=" + www_ + "\n" + extra);
    }
    std::string P(const std::string& relative) const { return temp_.Path() + relative; }

    std::string www_;
};

TEST_F(RoutingEndToEnd, WebFilesTraversalsAndProtectedDirectories) {
    // A user made the way an operator without a display makes one.
    Corvel add(temp_.Path(), {"user", "add", "alice", "--password", "Secret"});
    ASSERT_EQ(add.Wait(), 0) << add.Out();
    WriteSettings("WebDir=doc ;" + P("/docdir") + " ; ; ;\nWebDir=docs ;" + P("/protected") +
                  " ;Docs ;bob ;pw\nWebDir=team ;" + P("/team") + " ;Team ;* ;\n");
    Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
    int port = corvel.Port();
    ASSERT_NE(port, 0) << corvel.Out();

    // Only index.html: that one; with index.htm beside it, index.htm.
    EXPECT_EQ(Get(port, "/"), FileAnswer("text/html", "<p>html</p>"));
    WriteWholeFile(www_ + "/index.htm", "<p>htm</p>");
    EXPECT_EQ(Get(port, "/"), FileAnswer("text/html", "<p>htm</p>"));
    // A sub-folder is listed even though it holds an index.htm.
    std::string page = Get(port, "/sub");
    EXPECT_EQ(page.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(page.find("<title>" + www_ + "/sub</title>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"/sub/index.htm\">index.htm</a></td>"), std::string::npos);
    EXPECT_EQ(Get(port, "/pic.GIF"), FileAnswer("application/octet-stream", "GIF89a"));

    for (const char* url : {"/a/../b", "/%2e%2e/secret.txt", "/..%2fsecret.txt",
                            "/sub/%2E%2E/%2e%2e/secret.txt", "/index.htm%00.gif"}) {
        EXPECT_EQ(Get(port, url), "") << url;
    }

    // Two directories doc and docs: /docs/x is doc's, remaining URL "s/x".
    EXPECT_EQ(Get(port, "/docs/x"), FileAnswer("application/octet-stream", "from doc"));
    // doc keeps claiming the path when its folder has no such file: no fall-through
    // to docs (and no 401 of docs either).
    std::filesystem::rename(P("/docdir"), P("/docdir-gone"));
    EXPECT_EQ(Get(port, "/docs/x"), "");
    std::filesystem::rename(P("/docdir-gone"), P("/docdir"));

    std::string teamRefused = Get(port, "/team/t.htm");
    EXPECT_EQ(teamRefused.rfind("HTTP/1.0 401 Authorization Required\n", 0), 0u);
    EXPECT_NE(teamRefused.find("WWW-Authenticate: Basic realm=\"Team\"\n"), std::string::npos);
    EXPECT_EQ(Get(port, "/team/t.htm", "Authorization: Basic YWxpY2U6c2VjcmV0\r\n"), teamRefused);
    EXPECT_EQ(Get(port, "/team/t.htm", "Authorization: Basic YWxpY2U6U2VjcmV0\r\n"),
              FileAnswer("text/html", "team page"));
    EXPECT_EQ(Get(port, "//team/t.htm"), teamRefused);
    EXPECT_EQ(Get(port, "/%74eam/t.htm"), teamRefused);

    // A user cannot be added while the server holds the data folder.
    Corvel refusedAdd(temp_.Path(), {"user", "add", "eve", "--password", "x"});
    EXPECT_EQ(refusedAdd.Wait(), 1);
    EXPECT_FALSE(std::filesystem::exists(data_ + "/eve.dxt"));
}

TEST_F(RoutingEndToEnd, ProtectedDirectoryWithItsOwnUser) {
    WriteSettings("WebDir=private ;" + P("/protected") + " ;Private ;bob ;pw\n");
    Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
    int port = corvel.Port();
    ASSERT_NE(port, 0) << corvel.Out();
    std::string refused = Get(port, "/private/x");
    EXPECT_NE(refused.find("WWW-Authenticate: Basic realm=\"Private\"\n"), std::string::npos);
    EXPECT_EQ(Get(port, "/private/x", "Authorization: Basic Ym9iOnB3\r\n"),  // bob:pw
              FileAnswer("application/octet-stream", "protected x"));
    EXPECT_EQ(Get(port, "/private/x", "Authorization: basic Qk9COnB3\r\n"),  // BOB:pw
              FileAnswer("application/octet-stream", "protected x"));
    EXPECT_EQ(Get(port, "/private/x", "Authorization: Basic Ym9iOlB3\r\n"), refused);  // bob:Pw
}

TEST_F(RoutingEndToEnd, NoSpellingOfAProtectedPathGetsPastItsPassword) {
    // The protected folder is the folder docs of the base folder.
    std::filesystem::create_directories(www_ + "/docs");
    WriteWholeFile(www_ + "/docs/secret.txt", "the secret");
    WriteSettings("WebDir=docs ;" + www_ + "/docs ;Docs ;bob ;pw\n");
    Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
    int port = corvel.Port();
    ASSERT_NE(port, 0) << corvel.Out();
    std::string refused = Get(port, "/docs/secret.txt");
    ASSERT_EQ(refused.rfind("HTTP/1.0 401 Authorization Required\n", 0), 0u) << refused;
    for (const char* url : {"/./docs/secret.txt", "/%2e/docs/secret.txt", "/.//docs/secret.txt",
                            "/%2E/docs/secret.txt", "/.%2fdocs/secret.txt", "/docs/./secret.txt",
                            "\\docs\\secret.txt", "/./docs/", "/%2e/docs/"}) {
        EXPECT_EQ(Get(port, url), refused) << url;
    }
    EXPECT_EQ(Get(port, "/./docs/secret.txt", "Authorization: Basic Ym9iOnB3\r\n"),  // bob:pw
              FileAnswer("application/octet-stream", "the secret"));
    // Nothing that climbs out of a root is answered, however it is spelt.
    for (const char* url : {"/docs/../docs/secret.txt", "/./%2e./secret.txt", "/.%2e/secret.txt"}) {
        EXPECT_EQ(Get(port, url), "") << url;
    }
}

TEST_F(RoutingEndToEnd, WebLogEntriesAreEscapedCutAndRotated) {
    WriteSettings("MaxBodyMB=1\n");
    Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
    int port = corvel.Port();
    ASSERT_NE(port, 0) << corvel.Out();
    // A body that forges an entry of its own, with a terminal escape in it.
    std::string forged = "x\n!!!01.01.2000 00:00:00 - GET /forged HTTP/1.1\x1b[2J\r\n";
    Ask(port, "POST /x HTTP/1.1\r\nContent-Length: " + std::to_string(forged.size()) + "\r\n\r\n" +
                  forged);
    // 900 KiB: taken (below MaxBodyMB), but only its first 256 KiB are logged.
    std::string large(900 * 1024, 'L');
    Ask(port,
        "POST /y HTTP/1.1\r\nContent-Length: " + std::to_string(large.size()) + "\r\n\r\n" + large);
    ASSERT_TRUE(corvel.HasLine("POST /y"));
    std::string log = ReadWholeFile(data_ + "/web.log");
    EXPECT_EQ(log.find("\n!!!01.01.2000"), std::string::npos) << log.substr(0, 500);
    EXPECT_NE(log.find("x\n\\x21!!01.01.2000 00:00:00 - GET /forged HTTP/1.1\\x1B[2J\r\n"),
              std::string::npos)
        << log.substr(0, 500);
    EXPECT_NE(log.find("more bytes not logged]\r\n"), std::string::npos);
    EXPECT_LT(log.size(), size_t{300 * 1024});
    // Past MaxBodyMB the request is dropped unread, and says so in the trace.
    std::string tooLarge(1024 * 1024 + 70 * 1024, 'T');
    Ask(port, "POST /z HTTP/1.1\r\nContent-Length: " + std::to_string(tooLarge.size()) +
                  "\r\n\r\n" + tooLarge);
    EXPECT_NE(corvel.WaitForOutput("Request dropped: larger than [0-9]+ bytes"), "");
    EXPECT_EQ(corvel.Out().find("\nPOST /z\n"), std::string::npos);
    // Forty such requests leave web.log and one web.log.1, each near 10 MiB at most.
    for (int i = 0; i < 40; ++i) {
        Ask(port, "POST /y HTTP/1.1\r\nContent-Length: " + std::to_string(large.size()) +
                      "\r\n\r\n" + large);
    }
    ASSERT_TRUE(std::filesystem::exists(data_ + "/web.log.1"));
    EXPECT_LE(std::filesystem::file_size(data_ + "/web.log"),
              size_t{10 * 1024 * 1024 + 300 * 1024});
    EXPECT_LE(std::filesystem::file_size(data_ + "/web.log.1"),
              size_t{10 * 1024 * 1024 + 300 * 1024});
}

TEST_F(RoutingEndToEnd, ProtocolRoutesAreTracedAndOnlyVantroIsAnswered) {
    WriteSettings("");
    Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
    int port = corvel.Port();
    ASSERT_NE(port, 0) << corvel.Out();
    EXPECT_EQ(Ask(port,
                  "POST /Microsoft-Server-ActiveSync?Cmd=Sync&User=u HTTP/1.1\r\n"
                  "Content-Length: 0\r\n\r\n"),
              "");
    EXPECT_TRUE(corvel.HasLine("POST /Microsoft-Server-ActiveSync Sync"));
    EXPECT_EQ(
        Ask(port, "POST /vantro HTTP/1.1\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n\r\n"),
        "");
    EXPECT_TRUE(corvel.HasLine("POST /vantro"));
    // The "ContentType" header routes to the protocol server, which answers an empty
    // request with the bare document header.
    std::string answer = Ask(
        port, "POST /x HTTP/1.1\r\nContentType: application/vantro\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n"
                           "Content-Type: application/vantro.wbxml\r\nDate: ",
                           0),
              0u)
        << answer;
    EXPECT_TRUE(answer.ends_with(std::string("\r\n\r\n\x03\x01\x6a\x00", 8))) << answer;
    EXPECT_TRUE(corvel.HasLine("POST /x"));
    std::string log = ReadWholeFile(data_ + "/web.log");
    EXPECT_NE(log.find(" - POST /Microsoft-Server-ActiveSync?Cmd=Sync&User=u HTTP/1.1\r\n"),
              std::string::npos);
}

TEST_F(RoutingEndToEnd, ForwardingLoopsEndAtOnce) {
    // A directory that forwards to the port this server listens on (given with
    // --port, not HttpPort), and two servers that forward to each other.
    int port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    TempFolder otherHome;
    std::string otherData = otherHome.Path() + "/Norvex/Corvel";
    std::filesystem::create_directories(otherData);
    int otherPort = FreeLoopbackPort();
    ASSERT_NE(otherPort, 0);
    WriteSettings("WebDir=self ;http://127.0.0.1:" + std::to_string(port) +
                  "/ ; ; ;\nWebDir=ping ;http://127.0.0.1:" + std::to_string(otherPort) +
                  "/ ; ; ;\n");
    WriteWholeFile(otherData + "/settings.inf",
                   "WebDir=pong ;http://127.0.0.1:" + std::to_string(port) + "/ ; ; ;\n");
    Corvel corvel(temp_.Path(), {"--headless", "--port", std::to_string(port), "--https-port", "0",
                                 "--trace-port", "0"});
    Corvel other(otherHome.Path(), {"--headless", "--port", std::to_string(otherPort),
                                    "--https-port", "0", "--trace-port", "0"});
    ASSERT_EQ(corvel.Port(), port) << corvel.Out();
    ASSERT_EQ(other.Port(), otherPort) << other.Out();
    EXPECT_EQ(Get(port, "/self/x"), "");
    EXPECT_TRUE(corvel.HasLine("Forwarding to this server itself refused: 127.0.0.1:" +
                               std::to_string(port)));
    // ping (here) -> pong (there) -> ping (here): the second visit finds its own
    // hop token.
    EXPECT_EQ(Get(port, "/ping/pong/ping/x"), "");
    EXPECT_NE(corvel.WaitForOutput("Forwarding refused: the request to http://127.0.0.1:" +
                                   std::to_string(otherPort) + "/ came back to this server"),
              "");
    // One visit each, not a request per hop until the threads run out.
    std::string out = corvel.Out();
    size_t visits = 0;
    for (size_t at = out.find("\nGET /ping/"); at != std::string::npos;
         at = out.find("\nGET /ping/", at + 1)) {
        ++visits;
    }
    EXPECT_EQ(visits, 2u) << out;
}

TEST_F(RoutingEndToEnd, ForwardingToASecondServerWritesBothLogs) {
    TempFolder targetHome;
    std::string targetData = targetHome.Path() + "/Norvex/Corvel";
    std::filesystem::create_directories(targetData);
    std::filesystem::create_directories(targetHome.Path() + "/www/app");
    WriteWholeFile(targetHome.Path() + "/www/app/page.htm", "target page");
    WriteWholeFile(targetData + "/settings.inf",
                   "WebBaseDir=" + targetHome.Path() + "/www\nTraceWEB=0\n");
    Corvel target(targetHome.Path(), kHeadlessOnFreePorts);
    int targetPort = target.Port();
    ASSERT_NE(targetPort, 0) << target.Out();

    WriteSettings("WebDir=fwd ;http://127.0.0.1:" + std::to_string(targetPort) + "/app ; ; ;\n");
    Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
    int port = corvel.Port();
    ASSERT_NE(port, 0) << corvel.Out();

    EXPECT_EQ(Get(port, "/fwd/app/page.htm?x=1"), FileAnswer("text/html", "target page"));
    EXPECT_TRUE(target.HasLine("GET /app/page.htm"));
    EXPECT_EQ(ReadWholeFile(data_ + "/webbin.log"), FileAnswer("text/html", "target page"));
    std::string log = ReadWholeFile(data_ + "/web.log");
    std::string host = "127.0.0.1:" + std::to_string(targetPort);
    EXPECT_NE(
        log.find(" GET /app/page.htm?x=1 HTTP/1.1\r\nGET /app/page.htm?x=1 HTTP/1.1\r\nHost: " +
                 host + "\r\nX-Corvel-Hop: "),
        std::string::npos)
        << log;
    EXPECT_NE(log.find("*********** Answer *******************\r\nHTTP/1.0 200 OK\n"),
              std::string::npos);
    EXPECT_NE(log.find("target page\n--------------------------------------------------------\r\n"),
              std::string::npos);

    // Large answers: passed on whole, logged cut, and webbin.log rotated at its size
    // limit, keeping one webbin.log.1.
    std::string large(600 * 1024, 'B');
    WriteWholeFile(targetHome.Path() + "/www/app/large.htm", large);
    const size_t whole = FileAnswer("text/html", large).size();
    for (int i = 0; i < 45; ++i) ASSERT_EQ(Get(port, "/fwd/app/large.htm").size(), whole) << i;
    ASSERT_TRUE(std::filesystem::exists(data_ + "/webbin.log.1"));
    EXPECT_FALSE(std::filesystem::exists(data_ + "/webbin.log.2"));
    EXPECT_LE(std::filesystem::file_size(data_ + "/webbin.log"),
              size_t{10 * 1024 * 1024 + 300 * 1024});
    EXPECT_LE(std::filesystem::file_size(data_ + "/webbin.log.1"),
              size_t{10 * 1024 * 1024 + 300 * 1024});
}

}  // namespace
