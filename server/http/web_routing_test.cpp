// Routing of parsed requests: protocol routes, virtual directories, Basic check,
// web files and directory pages; answers read whole from a socket pair.
#include "server/http/web_routing.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/config/live_trace.h"
#include "server/http/http_test_util.h"
#include "server/http/route_test_util.h"
#include "server/http/socket_util.h"
#include "server/http/web_answers.h"
#include "server/http/web_files.h"

namespace {

class RecordingHandlers : public IProtocolHandlers {
public:
    void CreateSharedSession(Settings&) override { ++sessions; }
    bool HandleVantroRequest(Settings&, const CHTMLCommand& request, CDataString& answer) override {
        vantroUrls += request.URL() + ";";
        answer.AppendText("VANTRO");
        return true;
    }
    void HandleAttachmentRequest(Settings&, const CHTMLCommand& request,
                                 IAnswerStream& out) override {
        out.Write("ATTACHMENT ");
        out.Write(request.URL());
    }
    // Held back, as while a request runs.
    void BetweenRequests(Settings&, std::function<void(Settings&)> change) override {
        held.push_back(std::move(change));
    }
    int sessions = 0;
    std::string vantroUrls;
    std::vector<std::function<void(Settings&)>> held;
};

class WebRoutingTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = folder_.Path() + "/www";
        std::filesystem::create_directories(base_ + "/sub");
        std::filesystem::create_directories(folder_.Path() + "/protected");
        std::filesystem::create_directories(folder_.Path() + "/data");
        WriteWholeFile(base_ + "/index.htm", "<p>index</p>");
        WriteWholeFile(base_ + "/sub/index.htm", "sub index");
        WriteWholeFile(base_ + "/pic.GIF", "GIF89a");
        WriteWholeFile(folder_.Path() + "/protected/x", "secret x");
        WriteWholeFile(folder_.Path() + "/secret.txt", "outside");
        WriteWholeFile(folder_.Path() + "/data/settings.inf",
                       "WebBaseDir=" + base_ + "\nTraceWEB=0\nWebDir=docs ;" + folder_.Path() +
                           "/protected ;Docs Realm ;bob ;pw\n");
        settings_.LoadSettings(folder_.Path() + "/data");
    }
    void TearDown() override { SetProtocolHandlers(nullptr); }

    // The whole answer RouteRequest writes for request.
    std::string Route(const std::string& request) { return RoutedAnswer(settings_, request); }
    std::string Get(const std::string& url, const std::string& headers = "") {
        return Route("GET " + url + " HTTP/1.1\r\n" + headers + "\r\n");
    }

    TempFolder folder_;
    std::string base_;
    Settings settings_;
};

TEST_F(WebRoutingTest, IndexFileChoice) {
    EXPECT_EQ(Get("/"), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>index</p>");
    std::filesystem::remove(base_ + "/index.htm");
    WriteWholeFile(base_ + "/INDEX.HTML", "upper html");
    EXPECT_EQ(Get("/"), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nupper html");
    WriteWholeFile(base_ + "/Index.Htm", "mixed htm");
    EXPECT_EQ(Get("/"), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nmixed htm");
}

TEST_F(WebRoutingTest, DirectoryPageWithoutIndexAndForSubFolders) {
    std::filesystem::remove(base_ + "/index.htm");
    std::string root = Get("/");
    EXPECT_EQ(root.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(root.find("<title>" + base_ + "</title>"), std::string::npos);
    EXPECT_NE(root.find("[<a href=\"/sub\">sub</a>]</td>"), std::string::npos);
    std::string sub = Get("/sub");
    EXPECT_NE(sub.find("<title>" + base_ + "/sub</title>"), std::string::npos);
    EXPECT_NE(
        sub.find("<a href=\"/sub/index.htm\">index.htm</a></td>\n    <td width=\"30%\">9</td>"),
        std::string::npos);
    EXPECT_EQ(Get("/sub/"), sub);  // a trailing separator still names the directory
}

TEST_F(WebRoutingTest, TraversalsGetNoAnswer) {
    std::filesystem::create_symlink(folder_.Path() + "/secret.txt", base_ + "/link.txt");
    for (const char* url :
         {"/a/../b", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/%2E%2E%5Csecret.txt",
          "/index.htm%00.gif", "/link.txt", "/no/such/file"}) {
        EXPECT_EQ(Get(url), "") << url;
    }
}

TEST_F(WebRoutingTest, ContentTypeAndOnlyGet) {
    EXPECT_EQ(Get("/pic.GIF"),
              "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\nGIF89a");
    EXPECT_EQ(Get("/index.htm"), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>index</p>");
    EXPECT_EQ(Route("POST /index.htm HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), "");
}

TEST_F(WebRoutingTest, ProtectedDirectory) {
    std::string refused = Get("/docs/x");
    EXPECT_EQ(refused.rfind("HTTP/1.0 401 Authorization Required\nServer: HTTPd/1.0\n", 0), 0u);
    EXPECT_NE(refused.find("WWW-Authenticate: Basic realm=\"Docs Realm\"\n"), std::string::npos);
    EXPECT_EQ(Get("/docs/x", "Authorization: Basic Ym9iOnB4\r\n"), refused);  // bob:px
    const std::string ok =
        "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\nsecret x";
    EXPECT_EQ(Get("/docs/x", "Authorization: Basic Ym9iOnB3\r\n"), ok);  // bob:pw
    // Doubled slashes and an encoded name reach the same directory and its check.
    EXPECT_EQ(Get("//docs/x"), refused);
    EXPECT_EQ(Get("/%64ocs/x"), refused);
}

TEST_F(WebRoutingTest, DotSegmentsReachTheProtectedDirectoryAndItsCheck) {
    // The protected folder lies inside the base folder, under the directory's name.
    std::filesystem::create_directories(base_ + "/docs");
    WriteWholeFile(base_ + "/docs/secret.txt", "base secret");
    settings_.SetWebDirectory({"docs", base_ + "/docs", "Docs Realm", "bob", "pw"});
    std::string refused = Get("/docs/secret.txt");
    ASSERT_EQ(refused.rfind("HTTP/1.0 401 Authorization Required\n", 0), 0u);
    for (const char* url : {"/./docs/secret.txt", "/%2e/docs/secret.txt", "/.//docs/secret.txt",
                            "/%2E%2Fdocs/secret.txt", "\\.\\docs\\secret.txt", "/./docs/",
                            "/./docs", "/%2e/docs/."}) {
        EXPECT_EQ(Get(url), refused) << url;
    }
    EXPECT_EQ(Get("/./docs/secret.txt", "Authorization: Basic Ym9iOnB3\r\n"),
              "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\nbase secret");
}

TEST_F(WebRoutingTest, AProtectedFolderIsNotReachedThroughAnotherName) {
    // The protected folder is also the folder "private" of the base folder, and a
    // link in the base folder points into it.
    std::filesystem::create_directories(base_ + "/private");
    WriteWholeFile(base_ + "/private/p.txt", "private p");
    std::filesystem::create_directory_symlink(folder_.Path() + "/protected", base_ + "/alias");
    settings_.SetWebDirectory({"docs", base_ + "/private", "Docs Realm", "bob", "pw"});
    settings_.SetWebDirectory({"more", folder_.Path() + "/protected", "More", "bob", "pw"});
    settings_.SetWebDirectory({"open", base_, "", "", ""});
    EXPECT_EQ(Get("/private/p.txt"), "");
    EXPECT_EQ(Get("/open/private/p.txt"), "");
    EXPECT_EQ(Get("/alias/x"), "");
    EXPECT_EQ(Get("/private/"), "");
    // Through their own directories, with their check, they are served.
    EXPECT_EQ(Get("/docs/p.txt", "Authorization: Basic Ym9iOnB3\r\n"),
              "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\nprivate p");
    EXPECT_EQ(Get("/more/x", "Authorization: Basic Ym9iOnB3\r\n"),
              "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\nsecret x");
    // What lies beside them in the base folder still is.
    EXPECT_EQ(Get("/index.htm"), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>index</p>");
}

TEST_F(WebRoutingTest, PrefixOrderOfVirtualDirectories) {
    std::filesystem::create_directories(folder_.Path() + "/doc/s");
    WriteWholeFile(folder_.Path() + "/doc/s/x", "from doc");
    settings_.SetWebDirectory({"doc", folder_.Path() + "/doc", "", "", ""});
    EXPECT_EQ(Get("/docs/x"),
              "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\nfrom doc");
    CWebMapping mapping = MapToVirtualDirectory(settings_.WebDirectories(), "/docs/x");
    EXPECT_EQ(mapping.name, "doc");
    EXPECT_EQ(mapping.remaining, "s/x");
}

TEST_F(WebRoutingTest, EmptyBaseDirectoryServesNothing) {
    settings_.SetWebBaseDir("");
    EXPECT_EQ(Get("/"), "");
    EXPECT_EQ(Get("/etc/passwd"), "");
}

TEST_F(WebRoutingTest, ProtocolRoutes) {
    EXPECT_EQ(Route("POST /vantro HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
              "");  // nothing installed
    auto handlers = std::make_shared<RecordingHandlers>();
    SetProtocolHandlers(handlers);
    EXPECT_EQ(Route("POST /x HTTP/1.1\r\nContent-Type: application/vantro\r\n\r\n"), "VANTRO");
    EXPECT_EQ(Route("POST /y HTTP/1.1\r\nContentType: application/vantro\r\n\r\n"), "VANTRO");
    EXPECT_EQ(Route("POST vantro HTTP/1.1\r\n\r\n"), "VANTRO");
    EXPECT_EQ(Route("POST /vantro HTTP/1.1\r\nContent-Type: text/plain\r\n\r\n"), "");
    EXPECT_EQ(Route("POST /z HTTP/1.1\r\nContent-Type: Application/Vantro\r\n\r\n"), "");
    // One answer per connection, even for a GET of a file.
    EXPECT_EQ(Route("GET /index.htm HTTP/1.1\r\nContent-Type: application/vantro\r\n\r\n"),
              "VANTRO");
    EXPECT_EQ(Get("/OutlookAttachments/a/b.EML/c"), "ATTACHMENT /OutlookAttachments/a/b.EML/c");
    // Attachment links are taken only in the form the server writes them.
    for (const char* url : {"/./OutlookAttachments/a/b.EML/c", "/OutlookAttachments/./a/b.EML/c",
                            "/OutlookAttachments//a/b.EML/c", "/OutlookAttachments/a%5Cb.EML/c",
                            "/OutlookAttachments/a/../b.EML/c", "/%2e/OutlookAttachments/a/b/c"}) {
        EXPECT_EQ(Get(url), "") << url;
    }
    EXPECT_EQ(Route("POST /Microsoft-Server-ActiveSync?Cmd=Sync&User=u HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(handlers->vantroUrls, "/x;/y;vantro;/index.htm;");
    EXPECT_EQ(handlers->sessions, 1);
}

TEST_F(WebRoutingTest, SharedSessionIsCreatedOnceWhenFirstRequestsArriveTogether) {
    class SlowSession : public RecordingHandlers {
    public:
        void CreateSharedSession(Settings& settings) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // widens the race
            RecordingHandlers::CreateSharedSession(settings);
        }
    };
    auto handlers = std::make_shared<SlowSession>();
    SetProtocolHandlers(handlers);
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (Get("/OutlookAttachments/x") == "ATTACHMENT /OutlookAttachments/x") ++answered;
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(answered.load(), 8);
    EXPECT_EQ(handlers->sessions, 1);
}

// Every request that gets no answer says why in the live trace.
TEST_F(WebRoutingTest, ARequestWithoutAnswerSaysWhyInTheLiveTrace) {
    std::vector<std::string> lines;
    std::mutex linesLock;
    SetLiveTraceSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(linesLock);
        lines.push_back(line);
    });
    auto why = [&](const std::string& request) {
        lines.clear();
        EXPECT_EQ(Route(request), "") << request;
        std::lock_guard<std::mutex> lock(linesLock);
        return lines.empty() ? std::string("<no line>") : lines.back();
    };
    std::filesystem::create_symlink(folder_.Path() + "/secret.txt", base_ + "/link.txt");
    // A protected directory whose folder lies inside the base folder.
    std::filesystem::create_directories(base_ + "/intern");
    WriteWholeFile(base_ + "/intern/y", "intern y");
    settings_.SetWebDirectory(CWebDirectory{"intern", base_ + "/intern", "R", "bob", "pw"});
    std::filesystem::create_symlink(base_ + "/intern/y", base_ + "/x-link");
    mkfifo((base_ + "/pipe").c_str(), 0600);
    EXPECT_EQ(why("GET /no/such.htm HTTP/1.1\r\n\r\n"),
              "No answer to GET /no/such.htm: no file " + base_ + "/no/such.htm");
    EXPECT_EQ(why("GET /link.txt HTTP/1.1\r\n\r\n"), "No answer to GET /link.txt: not allowed: " +
                                                         base_ + "/link.txt lies outside " + base_);
    EXPECT_EQ(why("GET /x-link HTTP/1.1\r\n\r\n"),
              "No answer to GET /x-link: not allowed: " + base_ +
                  "/x-link lies in the folder of a protected virtual directory");
    EXPECT_EQ(why("GET /pipe HTTP/1.1\r\n\r\n"),
              "No answer to GET /pipe: not a file: " + base_ + "/pipe");
    EXPECT_EQ(why("GET /a/../b HTTP/1.1\r\n\r\n"),
              "No answer to GET /a/../b: not allowed: the path holds \"..\" or a NUL");
    EXPECT_EQ(why("HEAD / HTTP/1.1\r\n\r\n"),
              "No answer to HEAD /: only GET, Vantro and attachment requests are answered");
    EXPECT_EQ(why("POST /form HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
              "No answer to POST /form: only GET, Vantro and attachment requests are answered");
    EXPECT_EQ(why("GET /OutlookAttachments/a/b.EML/c HTTP/1.1\r\n\r\n"),
              "No answer to GET /OutlookAttachments/a/b.EML/c: the protocol server is not running");
    // A fresh installation: no base folder, no virtual directory.
    settings_.SetWebBaseDir("");
    EXPECT_EQ(why("GET / HTTP/1.1\r\n\r\n"),
              "No answer to GET /: no base folder: WebBaseDir is empty and no virtual directory "
              "matches (corvel web base DIR sets one)");
    settings_.SetWebBaseDir(folder_.Path() + "/gone");
    EXPECT_EQ(why("GET / HTTP/1.1\r\n\r\n"),
              "No answer to GET /: the folder " + folder_.Path() + "/gone does not exist");
    settings_.SetWebDirectory(CWebDirectory{"leer", "", "", "", ""});
    EXPECT_EQ(why("GET /leer/a HTTP/1.1\r\n\r\n"),
              "No answer to GET /leer/a: the virtual directory leer has no folder");
    SetLiveTraceSink(nullptr);
}

}  // namespace

namespace {

// RequireTls: the plain listener takes no credentials; HTTPS takes them as before.
TEST_F(WebRoutingTest, RequireTlsRefusesCredentialRoutesOverPlainHttpOnly) {
    auto handlers = std::make_shared<RecordingHandlers>();
    SetProtocolHandlers(handlers);
    settings_.SetRequireTls(true);
    auto routeOver = [&](bool overTls, const std::string& request) {
        CStringAnswerStream out;
        CHTMLCommand command;
        command.ParseMessage(true, request.data(), request.size());
        RouteRequest(out, settings_, command, request, overTls);
        return out.Text();
    };
    const std::string logon =
        "POST /vantro HTTP/1.1\r\nContent-Type: application/vantro\r\nContent-Length: 0\r\n\r\n";
    const std::string attachment = "GET /OutlookAttachments/Inbox/1.EML/a.txt HTTP/1.1\r\n\r\n";
    const std::string withCredentials =
        "GET /docs/x HTTP/1.1\r\nAuthorization: Basic Ym9iOnB3\r\n\r\n";  // bob:pw
    TraceCapture trace;

    std::string refusedLogon = routeOver(false, logon);
    EXPECT_EQ(refusedLogon, RefusedLogonAnswer());
    EXPECT_EQ(refusedLogon.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << refusedLogon;
    EXPECT_TRUE(refusedLogon.ends_with(std::string("\r\n\r\n\x03\x01\x6a\x00", 8)));
    EXPECT_EQ(routeOver(false, attachment), UnauthorizedAnswer(kAttachmentRealm));
    EXPECT_EQ(routeOver(false, withCredentials), UnauthorizedAnswer("Docs Realm"));
    // Nothing reached the protocol server.
    EXPECT_EQ(handlers->vantroUrls, "");
    EXPECT_TRUE(trace.HasLine("Refused over plain HTTP (RequireTls): POST /vantro"));
    EXPECT_TRUE(trace.HasLine(
        "Refused over plain HTTP (RequireTls): GET /OutlookAttachments/Inbox/1.EML/a.txt"));
    EXPECT_TRUE(trace.HasLine("Refused over plain HTTP (RequireTls): GET /docs/x"));
    // Unprotected files are served as before.
    EXPECT_EQ(routeOver(false, "GET /index.htm HTTP/1.1\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>index</p>");

    // Over TLS every route is taken as without the setting.
    EXPECT_EQ(routeOver(true, logon).find("VANTRO"), 0u);
    EXPECT_EQ(routeOver(true, attachment), "ATTACHMENT /OutlookAttachments/Inbox/1.EML/a.txt");
    EXPECT_TRUE(routeOver(true, withCredentials).ends_with("secret x"));
    // And over plain HTTP once the setting is off.
    settings_.SetRequireTls(false);
    EXPECT_TRUE(routeOver(false, withCredentials).ends_with("secret x"));
    EXPECT_EQ(handlers->vantroUrls, "/vantro;");
}

// A directory open to every registered user asks the credential check the server
// was given; without one nobody passes.
TEST_F(WebRoutingTest, StarDirectoryAsksTheRegisteredUsers) {
    class OneUser : public ICredentialCheck {
    public:
        bool HasCredentials(const std::string& name, const std::string& password) const override {
            return name == "alice" && password == "Secret";
        }
    } users;
    std::filesystem::create_directories(folder_.Path() + "/team");
    WriteWholeFile(folder_.Path() + "/team/x", "team x");
    settings_.SetWebDirectory(
        CWebDirectory{"team", folder_.Path() + "/team", "Team Realm", "*", ""});
    auto routeWith = [&](const ICredentialCheck* check, const std::string& authorization) {
        std::string request =
            "GET /team/x HTTP/1.1\r\nAuthorization: Basic " + authorization + "\r\n\r\n";
        CStringAnswerStream out;
        CHTMLCommand command;
        command.ParseMessage(true, request.data(), request.size());
        RouteRequest(out, settings_, command, request, false, check);
        return out.Text();
    };
    EXPECT_TRUE(routeWith(&users, "YWxpY2U6U2VjcmV0").ends_with("team x"));  // alice:Secret
    EXPECT_EQ(routeWith(&users, "YWxpY2U6c2VjcmV0"), UnauthorizedAnswer("Team Realm"));
    EXPECT_EQ(routeWith(nullptr, "YWxpY2U6U2VjcmV0"), UnauthorizedAnswer("Team Realm"));
}

}  // namespace
