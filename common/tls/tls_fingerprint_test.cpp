// Fingerprints as shown and as typed.
#include "common/tls/tls_fingerprint.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/tls/tls_handles.h"

namespace {

const std::string kShown =
    "AB:01:CD:23:EF:45:67:89:AB:01:CD:23:EF:45:67:89:AB:01:CD:23:EF:45:67:89:AB:01:CD:23:EF:45:67:"
    "89";

TEST(ParseFingerprint, TakesTheShownFormAndItsVariants) {
    EXPECT_EQ(ParseFingerprint(kShown), kShown);
    std::string bare;
    for (char c : kShown)
        if (c != ':') bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(ParseFingerprint(bare), kShown);
    EXPECT_EQ(ParseFingerprint("SHA256:" + bare), kShown);
    EXPECT_EQ(ParseFingerprint("sha256:" + kShown), kShown);
}

TEST(ParseFingerprint, RefusesWhatIsNotOne) {
    EXPECT_FALSE(ParseFingerprint(""));
    EXPECT_FALSE(ParseFingerprint(kShown.substr(3)));        // 31 bytes
    EXPECT_FALSE(ParseFingerprint(kShown + ":00"));          // 33 bytes
    EXPECT_FALSE(ParseFingerprint(":" + kShown.substr(1)));  // a separator first
    EXPECT_FALSE(ParseFingerprint(kShown.substr(0, 94) + "G"));
    EXPECT_FALSE(ParseFingerprint("A:B" + kShown.substr(3)));  // a separator inside a pair
    EXPECT_FALSE(ParseFingerprint(kShown.substr(0, 3) + ":" + kShown.substr(3)));
}

TEST(CertificateFingerprint, IsTheSha256OfTheDerForm) {
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr certificate(X509_new());
    ASSERT_TRUE(key && certificate);
    X509_set_pubkey(certificate.get(), key.get());
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 60);
    ASSERT_NE(X509_sign(certificate.get(), key.get(), EVP_sha256()), 0);

    unsigned char* der = nullptr;
    int length = i2d_X509(certificate.get(), &der);
    ASSERT_GT(length, 0);
    unsigned char digest[32];
    unsigned int digestLength = 0;
    EVP_Digest(der, static_cast<size_t>(length), digest, &digestLength, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    char expected[96];
    for (unsigned i = 0; i < 32; ++i)
        std::snprintf(expected + i * 3, 4, i == 31 ? "%02X" : "%02X:", digest[i]);
    EXPECT_EQ(CertificateFingerprint(certificate.get()), expected);

    // The same through a PEM file; a file without one names itself.
    std::string path = testing::TempDir() + "/fingerprint_test.pem";
    {
        BioPtr file(BIO_new_file(path.c_str(), "w"));
        ASSERT_TRUE(file);
        PEM_write_bio_X509(file.get(), certificate.get());
    }
    std::string error;
    EXPECT_EQ(FingerprintOfCertificateFile(path, error), expected);
    std::ofstream(path) << "not a certificate\n";
    EXPECT_EQ(FingerprintOfCertificateFile(path, error), "");
    EXPECT_NE(error.find(path), std::string::npos) << error;
    std::filesystem::remove(path);
    EXPECT_EQ(FingerprintOfCertificateFile(path, error), "");
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

}  // namespace
