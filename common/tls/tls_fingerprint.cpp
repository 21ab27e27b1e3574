// SHA-256 fingerprints of certificates.
#include "common/tls/tls_fingerprint.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <strings.h>

#include <array>
#include <cctype>

#include "common/base/text.h"
#include "common/tls/tls_errors.h"
#include "common/tls/tls_handles.h"

namespace {

constexpr size_t kDigestBytes = 32;

}  // namespace

std::string CertificateFingerprint(X509* certificate) {
    if (certificate == nullptr) return std::string();
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest.data(), &length) != 1 ||
        length != kDigestBytes) {
        return std::string();
    }
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0) text += ':';
        AppendHexByte(text, digest[i]);
    }
    return text;
}

std::string FingerprintOfCertificateFile(const std::string& path, std::string& error) {
    BioPtr file(BIO_new_file(path.c_str(), "r"));
    if (!file) {
        TakeTlsError();
        error = path + " cannot be read";
        return std::string();
    }
    X509Ptr certificate(PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr));
    if (!certificate) {
        error = path + " holds no certificate: " + TakeTlsError();
        return std::string();
    }
    std::string fingerprint = CertificateFingerprint(certificate.get());
    if (fingerprint.empty()) error = path + ": the fingerprint cannot be taken";
    return fingerprint;
}

std::optional<std::string> ParseFingerprint(std::string_view text) {
    constexpr std::string_view kPrefix = "SHA256:";
    if (text.size() >= kPrefix.size() &&
        strncasecmp(text.data(), kPrefix.data(), kPrefix.size()) == 0) {
        text.remove_prefix(kPrefix.size());
    }
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ':') {
            // Only between pairs.
            if (digits.empty() || digits.size() % 2 != 0 || i + 1 == text.size() ||
                text[i + 1] == ':') {
                return std::nullopt;
            }
            continue;
        }
        if (!std::isxdigit(c)) return std::nullopt;
        digits += static_cast<char>(std::toupper(c));
    }
    if (digits.size() != kDigestBytes * 2) return std::nullopt;
    std::string shown;
    for (size_t i = 0; i < digits.size(); i += 2) {
        if (i > 0) shown += ':';
        shown += digits.substr(i, 2);
    }
    return shown;
}
