// Skiff syncing with corvel over HTTPS: the certificate trusted on first use and
// kept, a changed one refused before anything is sent, a fingerprint given by the
// user, and certificates of an authority in the system's store (a test authority
// here, made with openssl) taken only for the name they are made out for.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/tls/tls_fingerprint.h"
#include "server/config/config_test_util.h"
#include "tests/corvel_home_test.h"
#include "tests/vantro_process.h"

namespace {

struct Ran {
    int status;
    std::string out;
};

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class TlsSkiffEndToEnd : public CorvelHomeTest {
protected:
    void SetUp() override {
        CorvelHomeTest::SetUp();
        TestProgram add("corvel", temp_.Path(),
                        {"user", "add", "alice", "--password", "Secret", "--auto"});
        ASSERT_EQ(add.Wait(), 0) << add.Out();
        port_ = FreeLoopbackPort();
        ASSERT_NE(port_, 0);
        server_ = "https://127.0.0.1:" + std::to_string(port_);
    }
    void StartCorvel() {
        corvel_.reset();
        corvel_ = std::make_unique<TestProgram>(
            "corvel", temp_.Path(),
            std::vector<std::string>{"--headless", "--port", "0", "--https-port",
                                     std::to_string(port_), "--trace-port", "0"});
        ASSERT_EQ(corvel_->HttpsPort(), port_) << corvel_->Out();
    }
    Ran Skiff(std::vector<std::string> args) {
        TestProgram skiff("skiff", temp_.Path(), std::move(args), skiffEnvironment_);
        int status = skiff.Wait();
        return {status, skiff.Out()};
    }
    void Configure() {
        Ran config =
            Skiff({"config", "--server", server_, "--user", "alice", "--password", "Secret"});
        ASSERT_EQ(config.status, 0) << config.out;
    }
    // Requests the server has seen so far (its live trace).
    size_t Posts() { return Count(corvel_->Out(), "\nPOST vantro"); }
    std::string Fingerprint() {
        std::string error;
        return FingerprintOfCertificateFile(data_ + "/tls-certificate.pem", error);
    }
    std::string PinFile() const {
        return temp_.Path() + "/Documents/Norvex/VantroMobile/server-certificate.txt";
    }
    // Runs openssl with args in folder; true when it succeeded.
    bool OpenSsl(const std::string& folder, const std::string& args) {
        ChildProcess run("/bin/sh", {"-c", "cd \"$1\" && openssl " + args + " 2>&1", "sh", folder},
                         DataHomeEnvironment(folder));
        int status = run.Wait();
        EXPECT_EQ(status, 0) << args << "\n" << run.Out();
        return status == 0;
    }

    int port_ = 0;
    std::string server_;
    std::vector<std::string> skiffEnvironment_;
    std::unique_ptr<TestProgram> corvel_;
};

TEST_F(TlsSkiffEndToEnd, FirstUsePinsAndAChangedCertificateEndsTheSyncWithNothingSent) {
    StartCorvel();
    Configure();
    std::string first = Fingerprint();
    ASSERT_FALSE(first.empty());

    // The first sync shows the certificate and keeps it.
    Ran sync = Skiff({"sync"});
    EXPECT_EQ(sync.status, 0) << sync.out;
    EXPECT_NE(
        sync.out.find("Server certificate SHA-256 fingerprint " + first + ": trusted from now on"),
        std::string::npos)
        << sync.out;
    EXPECT_EQ(ReadWholeFile(PinFile()), server_ + "\n" + first + "\n");
    EXPECT_NE(Skiff({"config"}).out.find("\nCertificate=" + first + "\n"), std::string::npos);
    ASSERT_TRUE(WaitFor([&] { return Posts() == 1; })) << corvel_->Out();
    // The next one takes it without a word.
    sync = Skiff({"sync"});
    EXPECT_EQ(sync.status, 0) << sync.out;
    EXPECT_EQ(sync.out.find("Server certificate"), std::string::npos) << sync.out;
    ASSERT_TRUE(WaitFor([&] { return Posts() == 2; }));

    // A new certificate on the same address: refused, status 1, nothing sent.
    corvel_.reset();
    std::filesystem::remove(data_ + "/tls-certificate.pem");
    StartCorvel();
    std::string second = Fingerprint();
    ASSERT_NE(second, first);
    sync = Skiff({"sync"});
    EXPECT_EQ(sync.status, 1) << sync.out;
    EXPECT_NE(sync.out.find("skiff sync: the server's certificate has changed: SHA-256 "
                            "fingerprint " +
                            second + ", kept " + first + "; nothing was sent"),
              std::string::npos)
        << sync.out;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Posts(), 0u) << corvel_->Out();
    EXPECT_EQ(ReadWholeFile(PinFile()), server_ + "\n" + first + "\n");

    // A fingerprint given by the user: a wrong one is refused, the right one taken.
    Ran bad = Skiff({"config", "--fingerprint", "12:34"});
    EXPECT_EQ(bad.status, 2) << bad.out;
    std::string bare = std::regex_replace(second, std::regex(":"), "");
    Ran given = Skiff({"config", "--fingerprint", bare});
    EXPECT_EQ(given.status, 0) << given.out;
    EXPECT_EQ(ReadWholeFile(PinFile()), server_ + "\n" + second + "\n");
    sync = Skiff({"sync"});
    EXPECT_EQ(sync.status, 0) << sync.out;
    ASSERT_TRUE(WaitFor([&] { return Posts() == 1; }));

    // Forgotten: the next sync trusts what it is shown again.
    Ran forget = Skiff({"config", "--forget-certificate"});
    EXPECT_EQ(forget.status, 0) << forget.out;
    EXPECT_FALSE(std::filesystem::exists(PinFile()));
    sync = Skiff({"sync"});
    EXPECT_EQ(sync.status, 0) << sync.out;
    EXPECT_NE(sync.out.find("fingerprint " + second + ": trusted from now on"), std::string::npos);
}

TEST_F(TlsSkiffEndToEnd, AnAuthorityCertificateCountsOnlyForItsName) {
    // A test authority, trusted by skiff as the system's store, and two server
    // certificates it signed: one for 127.0.0.1, one for another name.
    std::string ca = temp_.Path() + "/ca";
    std::filesystem::create_directories(ca);
    const std::string newKey = "req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes ";
    ASSERT_TRUE(OpenSsl(ca, newKey + "-x509 -days 2 -keyout ca.key -out ca.pem -subj /CN=TestCA "
                                     "-addext basicConstraints=critical,CA:TRUE "
                                     "-addext keyUsage=critical,keyCertSign"));
    for (const auto& [name, san] : std::vector<std::pair<std::string, std::string>>{
             {"right", "IP:127.0.0.1"}, {"wrong", "DNS:elsewhere.example"}}) {
        WriteWholeFile(ca + "/" + name + ".ext", "subjectAltName=" + san + "\n");
        ASSERT_TRUE(OpenSsl(
            ca, newKey + "-keyout " + name + ".key -out " + name + ".csr -subj /CN=" + name));
        ASSERT_TRUE(OpenSsl(ca, "x509 -req -days 2 -in " + name +
                                    ".csr -CA ca.pem -CAkey ca.key "
                                    "-CAcreateserial -out " +
                                    name + ".pem -extfile " + name + ".ext"));
    }
    skiffEnvironment_ = {"SSL_CERT_FILE=" + ca + "/ca.pem", "SSL_CERT_DIR=" + ca};

    WriteWholeFile(data_ + "/settings.inf",
                   "TlsCertFile=" + ca + "/right.pem\nTlsKeyFile=" + ca + "/right.key\n");
    StartCorvel();
    Configure();
    Ran sync = Skiff({"sync"});
    EXPECT_EQ(sync.status, 0) << sync.out;
    EXPECT_EQ(sync.out.find("trusted from now on"), std::string::npos) << sync.out;
    EXPECT_FALSE(std::filesystem::exists(PinFile()));
    ASSERT_TRUE(WaitFor([&] { return Posts() == 1; }));

    corvel_.reset();
    WriteWholeFile(data_ + "/settings.inf",
                   "TlsCertFile=" + ca + "/wrong.pem\nTlsKeyFile=" + ca + "/wrong.key\n");
    StartCorvel();
    sync = Skiff({"sync"});
    EXPECT_EQ(sync.status, 1) << sync.out;
    EXPECT_NE(sync.out.find("skiff sync: the server's certificate is not made out for 127.0.0.1; "
                            "nothing was sent"),
              std::string::npos)
        << sync.out;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Posts(), 0u) << corvel_->Out();
    EXPECT_FALSE(std::filesystem::exists(PinFile()));
}

}  // namespace
