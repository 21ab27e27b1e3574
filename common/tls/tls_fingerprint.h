// SHA-256 fingerprints of certificates: the form shown to the user and kept by
// the client, 32 bytes as upper-case hex pairs joined by ":"
// ("AB:01:...", 95 characters).
#pragma once

#include <openssl/x509.h>

#include <optional>
#include <string>
#include <string_view>

// The fingerprint of the certificate's DER form; empty when it cannot be taken.
std::string CertificateFingerprint(X509* certificate);

// The fingerprint of the first certificate of a PEM file; empty (with error
// holding why, the file named) when the file cannot be read or holds none.
std::string FingerprintOfCertificateFile(const std::string& path, std::string& error);

// A fingerprint typed by the user in the shown form: 64 hex digits, with or
// without ":" between pairs, any case, an optional "SHA256:" in front. Nothing
// when it is not one.
std::optional<std::string> ParseFingerprint(std::string_view text);
