// Skiff's side of an HTTPS connection: the handshake over a connected socket and
// the decision whether the server's certificate is trusted.
//
// A certificate is trusted when
//  - a fingerprint is kept for the server: it is that certificate (any other is
//    refused, whoever signed it: kChanged);
//  - none is kept: its chain leads to an authority of the system's store and it
//    names the host (kAuthority); a chain that does lead there but names another
//    host is refused (kWrongName); any other certificate (self-signed, unknown
//    issuer) is trusted on first use (kFirstUse): its fingerprint is to be shown and
//    kept by the caller.
// The system's store is OpenSSL's default one (SSL_CERT_FILE / SSL_CERT_DIR when
// set). TLS 1.2 and 1.3 only.
//
// Thread use: one connection per thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/tls/tls_handles.h"

enum class TlsTrust { kPinned, kAuthority, kFirstUse, kChanged, kWrongName, kFailed };

struct TlsHandshakeResult {
    TlsTrust trust = TlsTrust::kFailed;
    std::string fingerprint;  // the server's certificate (tls_fingerprint.h)
    std::string reason;       // why it failed or was refused, for the user
    bool Trusted() const {
        return trust == TlsTrust::kPinned || trust == TlsTrust::kAuthority ||
               trust == TlsTrust::kFirstUse;
    }
};

class CTlsClientConnection {
public:
    // socket stays the caller's and must stay open while this lives.
    explicit CTlsClientConnection(int socket) : socket_(socket) {}

    // Shakes hands with host (a name or a dotted address) within timeout, and
    // judges the certificate against pinned (empty: none kept).
    TlsHandshakeResult Handshake(const std::string& host, const std::string& pinned,
                                 std::chrono::milliseconds timeout);
    // Sends all bytes; false when the connection failed.
    bool Send(std::string_view bytes);
    // Receives up to size bytes: the count, 0 at the server's end, -1 on a failure.
    long Receive(char* data, size_t size);
    // Bytes already decrypted and waiting.
    size_t Pending() const;

private:
    int socket_;
    SslCtxPtr context_;
    SslPtr ssl_;
};
