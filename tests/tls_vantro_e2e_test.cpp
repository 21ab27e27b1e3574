// Log-ons and attachments over HTTPS, and RequireTls refusing them over plain
// HTTP: corvel headless with its own certificate, the in-process TLS client and
// curl as clients.
#include <gtest/gtest.h>

#include <string>

#include "server/http/tls_test_client.h"
#include "server/http/web_answers.h"
#include "tests/vantro_server_test.h"

namespace {

using TlsVantroEndToEnd = VantroServerTest;

TEST_F(TlsVantroEndToEnd, RequireTlsTakesLogonsAndAttachmentsOnlyOverHttps) {
    AddUser("alice", "Secret", true);
    WriteWholeFile(data_ + "/settings.inf", "RequireTls=1\n");
    Start();
    int https = corvel_->HttpsPort();
    ASSERT_NE(https, 0) << corvel_->Out();
    const std::string cert = data_ + "/tls-certificate.pem";
    const std::string getMail = SyncRequest().Get("Email").Text();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret") + getMail;

    // Over plain HTTP the right password is refused like a wrong one, and no
    // device is made.
    std::string refused = Send(logon);
    EXPECT_EQ(refused, RefusedLogonAnswer());
    EXPECT_EQ(refused.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << refused;
    EXPECT_EQ(AnswerBody(refused), kHeaderOnly);
    EXPECT_FALSE(Exists("PPC1.ifo"));
    EXPECT_TRUE(WaitFor([&] {
        return corvel_->Out().find("Refused over plain HTTP (RequireTls): POST ") !=
               std::string::npos;
    })) << corvel_->Out();

    // Over HTTPS the log-on is taken.
    TlsTestExchange taken =
        TlsExchange(https, VantroHttpRequest(BuildVantroBody(logon)), cert, "localhost");
    ASSERT_TRUE(taken.handshake);
    EXPECT_EQ(taken.answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << taken.answer;
    EXPECT_EQ(AnswerBody(taken.answer), kHeaderOnly);
    EXPECT_TRUE(Exists("PPC1.ifo"));

    // An attachment: 401 over plain HTTP even with the right credentials, the
    // bytes over HTTPS (curl as the client).
    const std::string id = AddItem("Inbox", "IPM.Note", {"PR_SUBJECT=With file"});
    ASSERT_FALSE(id.empty());
    WriteWholeFile(temp_.Path() + "/a.txt", "attached bytes");
    Store({"attach", id, temp_.Path() + "/a.txt"});
    const std::string path =
        "/OutlookAttachments/Inbox/" + id + ".EML/a.txt?device=PPC1&username=alice";
    EXPECT_EQ(AskServer(port_, "GET " + path +
                                   " HTTP/1.1\r\nAuthorization: Basic YWxpY2U6U2VjcmV0\r\n\r\n"),
              UnauthorizedAnswer(kAttachmentRealm));
    ChildProcess curl("/usr/bin/curl",
                      {"-s", "--max-time", "30", "--cacert", cert, "-u", "alice:Secret",
                       "https://localhost:" + std::to_string(https) + path},
                      DataHomeEnvironment(temp_.Path()), ChildProcess::Output::kSeparate);
    EXPECT_EQ(curl.Wait(), 0);
    EXPECT_EQ(curl.Out(), "attached bytes");
}

}  // namespace
