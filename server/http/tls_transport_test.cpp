// The connection loop over TLS: handshakes driven by the loop, answers written
// through the session, the deadlines of a handshake, what a non-TLS client gets,
// and the files the context is loaded from.
#include "server/http/tls_transport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>

#include "server/config/config_test_util.h"
#include "server/http/tls_certificate.h"
#include "server/http/tls_test_client.h"
#include "server/http/web_server.h"

namespace {

class TlsLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        cert = temp.Path() + "/cert.pem";
        key = temp.Path() + "/key.pem";
        std::string error;
        ASSERT_TRUE(CreateSelfSignedCertificate(cert, key, {"localhost"}, {"127.0.0.1"}, error))
            << error;
        context = CTlsServerContext::Load(cert, key, error);
        ASSERT_TRUE(context) << error;
        settings.LoadSettings(temp.Path() + "/data");
        config.port = 0;
        config.loopbackOnly = true;
        config.tls = context;
        config.connection.linger = std::chrono::milliseconds(0);
        config.handler = [this](CReceivedRequest& request, IAnswerStream& out) {
            secure = request.overTls;
            std::string got(request.command.Buffer().Data(), request.count);
            std::string body = got.find("/large") != std::string::npos ? large : got;
            out.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\n\r\n");
            out.Write(body);
        };
    }
    int Start() {
        server = std::make_unique<CWebServer>(settings, config);
        server->Start();
        return server->WaitUntilListening(std::chrono::seconds(30));
    }
    void TearDown() override {
        if (server) server->Stop();
    }

    TempFolder temp;
    std::string cert, key;
    std::shared_ptr<CTlsServerContext> context;
    Settings settings;
    WebServerConfig config;
    std::atomic<bool> secure{false};
    std::string large;
    std::unique_ptr<CWebServer> server;
};

TEST_F(TlsLoopTest, RequestsAreAnsweredThroughTheSessionAndMarkedSecure) {
    large.assign(size_t{3} * 1024 * 1024 + 17, 'x');
    for (size_t i = 0; i < large.size(); i += 4099) large[i] = static_cast<char>('a' + i % 26);
    int port = Start();
    ASSERT_NE(port, 0);
    const std::string request = "GET /echo HTTP/1.1\r\nHost: localhost\r\n\r\n";
    TlsTestExchange small = TlsExchange(port, request, cert, "localhost");
    ASSERT_TRUE(small.handshake);
    EXPECT_EQ(small.fingerprint, context->Fingerprint());
    EXPECT_EQ(small.answer, "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(request.size()) +
                                "\r\n\r\n" + request);
    EXPECT_TRUE(small.closeNotify);
    EXPECT_TRUE(secure);
    // An answer far larger than the socket's buffers arrives whole and in order.
    TlsTestExchange big = TlsExchange(port, "GET /large HTTP/1.0\r\n\r\n", cert);
    ASSERT_TRUE(big.handshake);
    size_t head = big.answer.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_TRUE(big.answer.substr(head + 4) == large) << big.answer.size();
    // Several connections at once, each its own session.
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 8; ++i) {
        clients.emplace_back([&, i] {
            std::string r = "GET /c" + std::to_string(i) + " HTTP/1.0\r\n\r\n";
            if (TlsExchange(port, r, cert).answer.find(r) != std::string::npos) ++answered;
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(answered, 8);
}

TEST_F(TlsLoopTest, WrongNameAndUntrustedCertificateFailOnTheClientSide) {
    int port = Start();
    ASSERT_NE(port, 0);
    EXPECT_FALSE(TlsExchange(port, "GET / HTTP/1.0\r\n\r\n", cert, "other.example").handshake);
    std::string otherCert = temp.Path() + "/other.pem";
    std::string otherKey = temp.Path() + "/other-key.pem";
    std::string error;
    ASSERT_TRUE(
        CreateSelfSignedCertificate(otherCert, otherKey, {"localhost"}, {"127.0.0.1"}, error));
    EXPECT_FALSE(TlsExchange(port, "GET / HTTP/1.0\r\n\r\n", otherCert, "localhost").handshake);
    // TLS 1.1 and older are refused; 1.2 is taken.
    EXPECT_FALSE(TlsExchange(port, "GET / HTTP/1.0\r\n\r\n", cert, "", TLS1_1_VERSION).handshake);
    EXPECT_FALSE(TlsExchange(port, "GET / HTTP/1.0\r\n\r\n", cert, "", TLS1_VERSION).handshake);
    EXPECT_TRUE(TlsExchange(port, "GET / HTTP/1.0\r\n\r\n", cert, "", TLS1_2_VERSION).handshake);
    // The server is still there for a proper client.
    EXPECT_TRUE(TlsExchange(port, "GET / HTTP/1.0\r\n\r\n", cert, "localhost").handshake);
}

TEST_F(TlsLoopTest, PlainHttpGetsNoDataAndAStalledHandshakeEndsAtItsDeadline) {
    config.connection.handshakeTimeout = std::chrono::milliseconds(300);
    int port = Start();
    ASSERT_NE(port, 0);
    {
        CSocket plain = ConnectLoopback(port);
        ASSERT_TRUE(SendAll(plain.Get(), "GET / HTTP/1.0\r\n\r\n"));
        std::string answer;
        ReadEnd end = ReadUntilClosed(plain.Get(), answer);
        EXPECT_TRUE(end == ReadEnd::kClosed || end == ReadEnd::kError);
        EXPECT_EQ(answer, "");
    }
    // Silent, and half a ClientHello: both cost no worker and end at the deadline.
    CSocket silent = ConnectLoopback(port);
    CSocket half = ConnectLoopback(port);
    ASSERT_TRUE(
        SendAll(half.Get(), std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)));
    ASSERT_TRUE(WaitFor([&] { return server->ActiveConnections() == 2; }));
    EXPECT_EQ(server->BusyWorkers(), 0u);
    auto before = std::chrono::steady_clock::now();
    for (CSocket* s : {&silent, &half}) {
        std::string answer;
        ReadEnd end = ReadUntilClosed(s->Get(), answer);
        EXPECT_TRUE(end == ReadEnd::kClosed || end == ReadEnd::kError);
        EXPECT_EQ(answer, "");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    EXPECT_TRUE(WaitFor([&] { return server->ActiveConnections() == 0; }));
}

TEST(TlsServerContextTest, UnusableFilesAreNamedInTheReason) {
    TempFolder temp;
    std::string cert = temp.Path() + "/c.pem", key = temp.Path() + "/k.pem";
    std::string otherCert = temp.Path() + "/c2.pem", otherKey = temp.Path() + "/k2.pem";
    std::string error;
    ASSERT_TRUE(CreateSelfSignedCertificate(cert, key, {"a"}, {}, error)) << error;
    ASSERT_TRUE(CreateSelfSignedCertificate(otherCert, otherKey, {"b"}, {"::1"}, error)) << error;

    EXPECT_FALSE(CTlsServerContext::Load(temp.Path() + "/missing.pem", key, error));
    EXPECT_NE(error.find("TlsCertFile " + temp.Path() + "/missing.pem cannot be read"),
              std::string::npos)
        << error;
    EXPECT_FALSE(CTlsServerContext::Load(cert, "", error));
    EXPECT_EQ(error, "TlsKeyFile is not set");
    WriteWholeFile(temp.Path() + "/junk.pem", "no PEM here\n");
    EXPECT_FALSE(CTlsServerContext::Load(temp.Path() + "/junk.pem", key, error));
    EXPECT_NE(error.find("TlsCertFile " + temp.Path() + "/junk.pem holds no usable"),
              std::string::npos)
        << error;
    EXPECT_FALSE(CTlsServerContext::Load(cert, temp.Path() + "/junk.pem", error));
    EXPECT_NE(error.find("TlsKeyFile " + temp.Path() + "/junk.pem"), std::string::npos) << error;
    EXPECT_FALSE(CTlsServerContext::Load(cert, otherKey, error));
    EXPECT_EQ(error, "TlsKeyFile " + otherKey + " does not belong to the certificate of " + cert);
    if (geteuid() != 0) {
        chmod(key.c_str(), 0);
        EXPECT_FALSE(CTlsServerContext::Load(cert, key, error));
        EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
        chmod(key.c_str(), 0600);
    }
    auto loaded = CTlsServerContext::Load(cert, key, error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->Fingerprint(), FingerprintOfCertificateFile(cert, error));
}

TEST(SelfSignedCertificateTest, KeyIsOwnerOnlyAndNamesAreInTheCertificate) {
    TempFolder temp;
    std::string cert = temp.Path() + "/c.pem", key = temp.Path() + "/k.pem";
    std::string error;
    ASSERT_TRUE(CreateSelfSignedCertificate(cert, key, {"pc.example", "localhost"},
                                            {"127.0.0.1", "fd00::2"}, error))
        << error;
    EXPECT_EQ(ModeOf(key), 0600u);
    EXPECT_FALSE(std::filesystem::exists(key + ".new"));
    BioPtr file(BIO_new_file(cert.c_str(), "r"));
    X509Ptr x509(PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr));
    ASSERT_TRUE(x509);
    EXPECT_EQ(X509_check_host(x509.get(), "pc.example", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_host(x509.get(), "localhost", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_host(x509.get(), "other.example", 0, 0, nullptr), 0);
    EXPECT_EQ(X509_check_ip_asc(x509.get(), "127.0.0.1", 0), 1);
    EXPECT_EQ(X509_check_ip_asc(x509.get(), "fd00::2", 0), 1);
    EXPECT_EQ(X509_check_ip_asc(x509.get(), "10.0.0.1", 0), 0);
    EXPECT_FALSE(CreateSelfSignedCertificate(cert, key, {"x"}, {"not-an-address"}, error));
    EXPECT_NE(error.find("not-an-address"), std::string::npos);
    // Refused before anything was written: the pair on disk still belongs together.
    EXPECT_TRUE(CTlsServerContext::Load(cert, key, error)) << error;
    std::vector<std::string> addresses = MachineAddresses();
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
    std::vector<std::string> names = MachineNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "localhost"), names.end());
}

}  // namespace
