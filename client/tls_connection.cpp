// The client's TLS handshake and the trust decision.
#include "client/tls_connection.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <array>

#include "common/tls/sigpipe_hold.h"
#include "common/tls/tls_errors.h"
#include "common/tls/tls_fingerprint.h"

namespace {

bool IsAddress(const std::string& host) {
    std::array<unsigned char, 16> parsed{};
    return inet_pton(AF_INET, host.c_str(), parsed.data()) == 1 ||
           inet_pton(AF_INET6, host.c_str(), parsed.data()) == 1;
}

void SetTimeouts(int socket, std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
}

// Whether the chain the server sent leads to an authority of the system's store.
bool ChainIsTrusted(SSL_CTX* context, SSL* ssl, X509* peer) {
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> verify(X509_STORE_CTX_new(),
                                                                           X509_STORE_CTX_free);
    if (!verify || X509_STORE_CTX_init(verify.get(), SSL_CTX_get_cert_store(context), peer,
                                       SSL_get_peer_cert_chain(ssl)) != 1) {
        return false;
    }
    X509_STORE_CTX_set_default(verify.get(), "ssl_server");
    bool trusted = X509_verify_cert(verify.get()) == 1;
    ERR_clear_error();
    return trusted;
}

bool NamesHost(X509* peer, const std::string& host) {
    if (IsAddress(host)) return X509_check_ip_asc(peer, host.c_str(), 0) == 1;
    return X509_check_host(peer, host.c_str(), host.size(), 0, nullptr) == 1;
}

}  // namespace

TlsHandshakeResult CTlsClientConnection::Handshake(const std::string& host,
                                                   const std::string& pinned,
                                                   std::chrono::milliseconds timeout) {
    TlsHandshakeResult result;
    ERR_clear_error();
    context_.reset(SSL_CTX_new(TLS_client_method()));
    if (!context_ || SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION) != 1) {
        result.reason = "TLS cannot be set up: " + TakeTlsError();
        return result;
    }
    // Judged below, after the handshake, so a certificate can be trusted on first use.
    SSL_CTX_set_verify(context_.get(), SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_default_verify_paths(context_.get());
    ssl_.reset(SSL_new(context_.get()));
    if (!ssl_ || SSL_set_fd(ssl_.get(), socket_) != 1) {
        result.reason = "TLS cannot be set up: " + TakeTlsError();
        return result;
    }
    if (!IsAddress(host)) SSL_set_tlsext_host_name(ssl_.get(), host.c_str());
    SetTimeouts(socket_, timeout);
    CSigpipeHold hold;
    if (SSL_connect(ssl_.get()) != 1) {
        result.reason = "the TLS handshake with " + host + " failed: " + TakeTlsError();
        return result;
    }
    X509Ptr peer(SSL_get1_peer_certificate(ssl_.get()));
    if (!peer) {
        result.reason = host + " showed no certificate";
        return result;
    }
    result.fingerprint = CertificateFingerprint(peer.get());
    if (!pinned.empty()) {
        if (result.fingerprint == pinned) {
            result.trust = TlsTrust::kPinned;
        } else {
            result.trust = TlsTrust::kChanged;
            result.reason = "the server's certificate has changed: SHA-256 fingerprint " +
                            result.fingerprint + ", kept " + pinned +
                            "; nothing was sent. If the server has a new certificate, run skiff "
                            "config --forget-certificate (or --fingerprint with the new one)";
        }
        return result;
    }
    bool chain = ChainIsTrusted(context_.get(), ssl_.get(), peer.get());
    bool name = NamesHost(peer.get(), host);
    if (chain && name) {
        result.trust = TlsTrust::kAuthority;
    } else if (chain) {
        result.trust = TlsTrust::kWrongName;
        result.reason =
            "the server's certificate is not made out for " + host + "; nothing was sent";
    } else {
        result.trust = TlsTrust::kFirstUse;
    }
    return result;
}

bool CTlsClientConnection::Send(std::string_view bytes) {
    if (!ssl_) return false;
    CSigpipeHold hold;
    while (!bytes.empty()) {
        size_t sent = 0;
        if (SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &sent) != 1) {
            ERR_clear_error();
            return false;
        }
        bytes.remove_prefix(sent);
    }
    return true;
}

long CTlsClientConnection::Receive(char* data, size_t size) {
    if (!ssl_) return -1;
    CSigpipeHold hold;
    size_t got = 0;
    if (SSL_read_ex(ssl_.get(), data, size, &got) == 1) return static_cast<long>(got);
    int reason = SSL_get_error(ssl_.get(), 0);
    ERR_clear_error();
    // A server that closes without close_notify has still ended its answer.
    if (reason == SSL_ERROR_ZERO_RETURN || reason == SSL_ERROR_SYSCALL) return 0;
    return -1;
}

size_t CTlsClientConnection::Pending() const {
    if (!ssl_) return 0;
    int pending = SSL_pending(ssl_.get());
    return pending > 0 ? static_cast<size_t>(pending) : 0;
}
