// A blocking TLS client for the tests: connects to 127.0.0.1:port, trusts only
// the certificate file given (or anything, without one), sends a request and
// reads the answer until the server ends it. maxVersion (TLS1_1_VERSION, ...)
// caps the versions it offers, every version allowed on its side.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

#include "common/tls/tls_fingerprint.h"
#include "common/tls/tls_handles.h"
#include "server/http/http_test_util.h"

struct TlsTestExchange {
    bool handshake = false;    // the handshake succeeded (and the name, when given, matched)
    std::string fingerprint;   // of the server's certificate
    std::string answer;        // everything received until the end
    bool closeNotify = false;  // the server ended the session properly
};

inline TlsTestExchange TlsExchange(int port, const std::string& request,
                                   const std::string& trustedFile = "",
                                   const std::string& name = "", int maxVersion = 0) {
    TlsTestExchange result;
    SslCtxPtr context(SSL_CTX_new(TLS_client_method()));
    if (maxVersion != 0) {
        SSL_CTX_set_security_level(context.get(), 0);
        SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION);
        SSL_CTX_set_max_proto_version(context.get(), maxVersion);
    }
    if (!trustedFile.empty()) {
        SSL_CTX_load_verify_locations(context.get(), trustedFile.c_str(), nullptr);
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    }
    CSocket socket = ConnectLoopback(port);
    SslPtr ssl(SSL_new(context.get()));
    SSL_set_fd(ssl.get(), socket.Get());
    if (!name.empty()) {
        SSL_set_tlsext_host_name(ssl.get(), name.c_str());
        SSL_set1_host(ssl.get(), name.c_str());
    }
    if (SSL_connect(ssl.get()) != 1) {
        ERR_clear_error();
        return result;
    }
    result.handshake = true;
    X509Ptr peer(SSL_get1_peer_certificate(ssl.get()));
    result.fingerprint = CertificateFingerprint(peer.get());
    size_t sent = 0;
    if (!request.empty() && SSL_write_ex(ssl.get(), request.data(), request.size(), &sent) != 1) {
        ERR_clear_error();
        return result;
    }
    char piece[16384];
    for (;;) {
        size_t got = 0;
        if (SSL_read_ex(ssl.get(), piece, sizeof piece, &got) == 1) {
            result.answer.append(piece, got);
            continue;
        }
        result.closeNotify = SSL_get_error(ssl.get(), 0) == SSL_ERROR_ZERO_RETURN;
        ERR_clear_error();
        break;
    }
    return result;
}
