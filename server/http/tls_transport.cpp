// TLS through OpenSSL: the server context and one connection's session.
#include "server/http/tls_transport.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "common/tls/sigpipe_hold.h"
#include "common/tls/tls_errors.h"
#include "common/tls/tls_fingerprint.h"

namespace {

// A file named in a message: why it cannot be opened, empty when it can.
std::string UnreadableReason(const std::string& what, const std::string& path) {
    if (path.empty()) return what + " is not set";
    if (access(path.c_str(), R_OK) == 0) return std::string();
    return what + " " + path + " cannot be read: " + std::strerror(errno);
}

class CTlsAnswerStream : public IAnswerStream {
public:
    explicit CTlsAnswerStream(CTlsTransport& transport) : transport_(transport) {}
    bool Write(std::string_view bytes) override {
        if (!transport_.Send(bytes)) return false;
        written_ += bytes.size();
        return true;
    }
    uint64_t Written() const override { return written_; }

private:
    CTlsTransport& transport_;
    uint64_t written_ = 0;
};

}  // namespace

std::shared_ptr<CTlsServerContext> CTlsServerContext::Load(const std::string& certFile,
                                                           const std::string& keyFile,
                                                           std::string& error) {
    error = UnreadableReason("TlsCertFile", certFile);
    if (error.empty()) error = UnreadableReason("TlsKeyFile", keyFile);
    if (!error.empty()) return nullptr;
    ERR_clear_error();
    SslCtxPtr context(SSL_CTX_new(TLS_server_method()));
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1) {
        error = "TLS cannot be set up: " + TakeTlsError();
        return nullptr;
    }
    SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF |
                                           SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (SSL_CTX_use_certificate_chain_file(context.get(), certFile.c_str()) != 1) {
        error = "TlsCertFile " + certFile + " holds no usable certificate: " + TakeTlsError();
        return nullptr;
    }
    BioPtr keyBio(BIO_new_file(keyFile.c_str(), "r"));
    EvpPkeyPtr key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr)
                          : nullptr);
    if (!key) {
        error = "TlsKeyFile " + keyFile + " holds no usable private key: " + TakeTlsError();
        return nullptr;
    }
    if (X509_check_private_key(SSL_CTX_get0_certificate(context.get()), key.get()) != 1) {
        TakeTlsError();
        error = "TlsKeyFile " + keyFile + " does not belong to the certificate of " + certFile;
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1) {
        error = "TlsKeyFile " + keyFile + " holds no usable private key: " + TakeTlsError();
        return nullptr;
    }
    auto loaded = std::make_shared<CTlsServerContext>();
    loaded->fingerprint_ = CertificateFingerprint(SSL_CTX_get0_certificate(context.get()));
    loaded->context_ = std::move(context);
    return loaded;
}

TransportFactory CTlsServerContext::Factory(std::shared_ptr<CTlsServerContext> context) {
    return [context](int socket) -> std::unique_ptr<IConnectionTransport> {
        SslPtr ssl(SSL_new(context->Get()));
        if (ssl && SSL_set_fd(ssl.get(), socket) != 1) ssl.reset();
        if (ssl) SSL_set_accept_state(ssl.get());
        ERR_clear_error();
        return std::make_unique<CTlsTransport>(std::move(ssl), socket);
    };
}

CTlsTransport::CTlsTransport(SslPtr ssl, int socket) : ssl_(std::move(ssl)), socket_(socket) {
    failed_ = !ssl_;
}

IConnectionTransport::Step CTlsTransport::Handshake() {
    if (failed_) return Step::kFailed;
    CSigpipeHold hold;
    int result = SSL_do_handshake(ssl_.get());
    if (result == 1) return Step::kDone;
    int reason = SSL_get_error(ssl_.get(), result);
    ERR_clear_error();
    if (reason == SSL_ERROR_WANT_READ) return Step::kWantRead;
    if (reason == SSL_ERROR_WANT_WRITE) return Step::kWantWrite;
    failed_ = true;
    return Step::kFailed;
}

IConnectionTransport::Received CTlsTransport::Receive(char* data, size_t size) {
    if (failed_) return {ReceiveEnd::kFailed, 0};
    CSigpipeHold hold;
    size_t got = 0;
    int result = SSL_read_ex(ssl_.get(), data, size, &got);
    if (result == 1) return {ReceiveEnd::kData, got};
    int reason = SSL_get_error(ssl_.get(), result);
    ERR_clear_error();
    // A session ticket or key update may want to write; that waits for the answer.
    if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) {
        return {ReceiveEnd::kWouldBlock, 0};
    }
    if (reason == SSL_ERROR_ZERO_RETURN) return {ReceiveEnd::kClosed, 0};
    failed_ = true;
    return {ReceiveEnd::kFailed, 0};
}

size_t CTlsTransport::Pending() const {
    if (failed_) return 0;
    int pending = SSL_pending(ssl_.get());
    return pending > 0 ? static_cast<size_t>(pending) : 0;
}

bool CTlsTransport::Send(std::string_view bytes) {
    if (failed_) return false;
    CSigpipeHold hold;
    while (!bytes.empty()) {
        size_t sent = 0;
        if (SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &sent) != 1) {
            ERR_clear_error();
            failed_ = true;
            return false;
        }
        bytes.remove_prefix(sent);
    }
    return true;
}

std::unique_ptr<IAnswerStream> CTlsTransport::OpenAnswerStream() {
    return std::make_unique<CTlsAnswerStream>(*this);
}

void CTlsTransport::EndSending() {
    if (!failed_) {
        CSigpipeHold hold;
        // The close_notify; the peer's own is not waited for.
        SSL_shutdown(ssl_.get());
        ERR_clear_error();
    }
    shutdown(socket_, SHUT_WR);
}
