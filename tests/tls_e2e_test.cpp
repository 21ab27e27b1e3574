// corvel's HTTPS listener end to end: its own certificate on the first start,
// every route through curl and openssl s_client, unusable certificate files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/tls/tls_fingerprint.h"
#include "tests/corvel_home_test.h"
#include "tests/test_process.h"

namespace {

// One corvel process over dataHome, standard output and error collected apart.
class Corvel : public CorvelProcess {
public:
    Corvel(const std::string& dataHome, std::vector<std::string> args)
        : CorvelProcess(dataHome, std::move(args), Output::kSeparate) {}
};

// A tool's standard output once it has ended; its exit status in status.
std::string Run(const std::string& path, std::vector<std::string> args, int& status) {
    ChildProcess tool(path, std::move(args), DataHomeEnvironment("/nonexistent"),
                      ChildProcess::Output::kSeparate);
    status = tool.Wait();
    return tool.Out();
}

// curl's whole answer (status line, header, body) over HTTPS, trusting only ca.
std::string Curl(const std::string& ca, const std::string& url,
                 const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"-s", "-i", "--max-time", "30", "--cacert", ca};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(url);
    int status = 0;
    std::string out = Run("/usr/bin/curl", args, status);
    return status == 0 ? out : "<curl exit " + std::to_string(status) + ">" + out;
}

// The answer openssl s_client receives for request, the certificate verified
// against ca for the name localhost.
std::string SClient(const std::string& ca, int port, const std::string& request) {
    std::string script =
        "printf '%s' \"$1\" | openssl s_client -quiet -connect 127.0.0.1:" + std::to_string(port) +
        " -servername localhost -verify_hostname localhost"
        " -verify_return_error -CAfile \"$2\" 2>/dev/null";
    int status = 0;
    return Run("/bin/sh", {"-c", script, "sh", request, ca}, status);
}

class TlsEndToEnd : public CorvelHomeTest {
protected:
    void SetUp() override {
        CorvelHomeTest::SetUp();
        www_ = temp_.Path() + "/www";
        std::filesystem::create_directories(www_);
        std::filesystem::create_directories(temp_.Path() + "/protected");
        WriteWholeFile(www_ + "/hello.txt", "hello over TLS");
        WriteWholeFile(temp_.Path() + "/protected/p.txt", "protected page");
    }
    std::string Cert() const { return data_ + "/tls-certificate.pem"; }

    std::string www_;
};

TEST_F(TlsEndToEnd, FirstStartMakesACertificateAndEveryRouteAnswersOverHttps) {
    // The forwarding target: a second server with a page of its own.
    TempFolder targetHome;
    std::string targetData = targetHome.Path() + "/Norvex/Corvel";
    std::filesystem::create_directories(targetHome.Path() + "/www");
    std::filesystem::create_directories(targetData);
    WriteWholeFile(targetHome.Path() + "/www/page.txt", "forwarded page");
    WriteWholeFile(targetData + "/settings.inf",
                   "WebBaseDir=" + targetHome.Path() + "/www\nHttpsPort=0\n");
    Corvel target(targetHome.Path(), {"--headless", "--port", "0", "--trace-port", "0"});
    int targetPort = target.ListeningPort();
    ASSERT_NE(targetPort, 0) << target.Out();

    WriteWholeFile(data_ + "/settings.inf",
                   "WebBaseDir=" + www_ + "\nWebDir=docs ;" + temp_.Path() +
                       "/protected ;Docs ;bob ;pw\nWebDir=fwd ;http://127.0.0.1:" +
                       std::to_string(targetPort) + "/app ; ; ;\n");
    Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
    int port = corvel.ListeningPort("HTTPS server");
    ASSERT_NE(port, 0) << corvel.Out() << corvel.Err();
    int plain = corvel.ListeningPort();

    // The pair in the data folder, the key owner-only; the fingerprint shown at
    // start is the certificate's, and "corvel tls fingerprint" shows the same.
    EXPECT_EQ(ModeOf(data_ + "/tls-key.pem"), 0600u);
    std::string error;
    std::string fingerprint = FingerprintOfCertificateFile(Cert(), error);
    ASSERT_FALSE(fingerprint.empty()) << error;
    EXPECT_TRUE(
        corvel.HasLine("TLS certificate " + Cert() + ", SHA-256 fingerprint " + fingerprint));
    Corvel shown(temp_.Path(), {"tls", "fingerprint"});
    EXPECT_EQ(shown.Wait(), 0);
    EXPECT_EQ(shown.Out(), "SHA-256 fingerprint " + fingerprint + "\n");

    std::string https = "https://localhost:" + std::to_string(port);
    // Web files, by name and by address.
    std::string file = Curl(Cert(), https + "/hello.txt");
    EXPECT_EQ(file.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << file;
    EXPECT_TRUE(file.ends_with("\r\n\r\nhello over TLS")) << file;
    EXPECT_TRUE(Curl(Cert(), "https://127.0.0.1:" + std::to_string(port) + "/hello.txt")
                    .ends_with("hello over TLS"));
    // A protected directory: 401 without credentials, the page with them.
    std::string refused = Curl(Cert(), https + "/docs/p.txt");
    EXPECT_EQ(refused.rfind("HTTP/1.0 401", 0), 0u) << refused;
    EXPECT_NE(refused.find("realm=\"Docs\""), std::string::npos) << refused;
    EXPECT_TRUE(Curl(Cert(), https + "/docs/p.txt", {"-u", "bob:pw"}).ends_with("protected page"));
    // Forwarding.
    EXPECT_TRUE(Curl(Cert(), https + "/fwd/page.txt").ends_with("forwarded page"))
        << Curl(Cert(), https + "/fwd/page.txt");
    // The protocol server: an empty request gets the bare document header.
    std::string vantro =
        Curl(Cert(), https + "/x", {"-H", "Content-Type: application/vantro", "--data-binary", ""});
    EXPECT_EQ(vantro.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << vantro;
    EXPECT_TRUE(vantro.ends_with(std::string("\r\n\r\n\x03\x01\x6a\x00", 8))) << vantro;
    // Attachments and log-ons over HTTPS: tls_vantro_e2e_test.cpp.

    // The same routes through openssl s_client, which checks the name itself.
    EXPECT_TRUE(
        SClient(Cert(), port, "GET /hello.txt HTTP/1.0\r\n\r\n").ends_with("hello over TLS"));
    EXPECT_TRUE(
        SClient(Cert(), port, "GET /docs/p.txt HTTP/1.0\r\nAuthorization: Basic Ym9iOnB3\r\n\r\n")
            .ends_with("protected page"));
    EXPECT_TRUE(
        SClient(Cert(), port, "GET /fwd/page.txt HTTP/1.0\r\n\r\n").ends_with("forwarded page"));
    std::string sVantro = SClient(Cert(), port,
                                  "POST /x HTTP/1.1\r\nContentType: application/vantro\r\n"
                                  "Content-Length: 0\r\n\r\n");
    EXPECT_TRUE(sVantro.ends_with(std::string("\r\n\r\n\x03\x01\x6a\x00", 8))) << sVantro;

    // A certificate for another name is refused by both clients.
    EXPECT_EQ(Curl(Cert(), "https://127.0.0.2:" + std::to_string(port) + "/hello.txt")
                  .rfind("<curl exit", 0),
              0u);
    // The plain listener still serves; plain HTTP to the HTTPS port gets nothing.
    EXPECT_TRUE(AskLoopback(plain, "GET /hello.txt HTTP/1.0\r\n\r\n").ends_with("hello over TLS"));
    {
        CSocket client = ConnectLoopback(port);
        ASSERT_TRUE(SendAll(client.Get(), "GET /hello.txt HTTP/1.0\r\n\r\n"));
        std::string answer;
        ReadUntilClosed(client.Get(), answer);
        EXPECT_EQ(answer, "");
    }
    // A second start keeps the certificate.
    EXPECT_EQ(corvel.Stop(SIGTERM), 0);
    Corvel again(temp_.Path(), kHeadlessOnFreePorts);
    ASSERT_NE(again.ListeningPort("HTTPS server"), 0) << again.Err();
    EXPECT_EQ(FingerprintOfCertificateFile(Cert(), error), fingerprint);
    EXPECT_EQ(again.Err(), "");
}

TEST_F(TlsEndToEnd, RequireTlsRefusesProtectedDirectoriesOnThePlainPortOnly) {
    WriteWholeFile(data_ + "/settings.inf", "WebBaseDir=" + www_ + "\nRequireTls=1\nWebDir=docs ;" +
                                                temp_.Path() + "/protected ;Docs ;bob ;pw\n");
    Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
    int port = corvel.ListeningPort("HTTPS server");
    int plain = corvel.ListeningPort();
    ASSERT_NE(port, 0) << corvel.Err();
    const std::string withCredentials =
        "GET /docs/p.txt HTTP/1.0\r\nAuthorization: Basic Ym9iOnB3\r\n\r\n";  // bob:pw
    std::string refused = AskLoopback(plain, withCredentials);
    EXPECT_EQ(refused.rfind("HTTP/1.0 401", 0), 0u) << refused;
    EXPECT_NE(refused.find("realm=\"Docs\""), std::string::npos) << refused;
    EXPECT_EQ(refused.find("protected page"), std::string::npos);
    EXPECT_TRUE(corvel.HasLine("Refused over plain HTTP (RequireTls): GET /docs/p.txt"));
    // Unprotected files still come over plain HTTP; the protected one over HTTPS.
    EXPECT_TRUE(AskLoopback(plain, "GET /hello.txt HTTP/1.0\r\n\r\n").ends_with("hello over TLS"));
    EXPECT_TRUE(SClient(Cert(), port, withCredentials).ends_with("protected page"));
    EXPECT_TRUE(
        Curl(Cert(), "https://localhost:" + std::to_string(port) + "/docs/p.txt", {"-u", "bob:pw"})
            .ends_with("protected page"));
}

TEST_F(TlsEndToEnd, UnusableCertificateFilesKeepHttpsOffAndPlainRunning) {
    WriteWholeFile(www_ + "/../junk.pem", "not a certificate\n");
    struct Case {
        std::string settings;
        std::string reason;
    };
    std::string junk = temp_.Path() + "/junk.pem";
    std::string missing = temp_.Path() + "/missing.pem";
    for (const Case& c : {Case{"TlsCertFile=" + missing + "\nTlsKeyFile=" + junk + "\n",
                               "TlsCertFile " + missing + " cannot be read"},
                          Case{"TlsCertFile=" + junk + "\nTlsKeyFile=" + junk + "\n",
                               "TlsCertFile " + junk + " holds no usable certificate"},
                          Case{"TlsCertFile=" + junk + "\n", "TlsKeyFile is not set"}}) {
        WriteWholeFile(data_ + "/settings.inf", "WebBaseDir=" + www_ + "\n" + c.settings);
        Corvel corvel(temp_.Path(), kHeadlessOnFreePorts);
        int plain = corvel.ListeningPort();
        ASSERT_NE(plain, 0) << corvel.Err();
        EXPECT_TRUE(WaitFor([&] { return corvel.Err().find(c.reason) != std::string::npos; }))
            << corvel.Err();
        EXPECT_EQ(corvel.Err().rfind("corvel: HTTPS is off: ", 0), 0u) << corvel.Err();
        EXPECT_TRUE(
            AskLoopback(plain, "GET /hello.txt HTTP/1.0\r\n\r\n").ends_with("hello over TLS"));
        EXPECT_EQ(corvel.Stop(SIGTERM), 0);
        EXPECT_EQ(corvel.Out().find("HTTPS server listening"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(data_ + "/tls-certificate.pem"));
    }
    // HttpsPort=0 turns it off without a word.
    WriteWholeFile(data_ + "/settings.inf", "WebBaseDir=" + www_ + "\nHttpsPort=0\n");
    Corvel off(temp_.Path(), {"--headless", "--port", "0", "--trace-port", "0"});
    ASSERT_NE(off.ListeningPort(), 0);
    EXPECT_EQ(off.Stop(SIGTERM), 0);
    EXPECT_EQ(off.Out().find("HTTPS"), std::string::npos);
    EXPECT_EQ(off.Err(), "");
    EXPECT_FALSE(std::filesystem::exists(data_ + "/tls-key.pem"));
}

}  // namespace
