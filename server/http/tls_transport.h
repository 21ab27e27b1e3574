// The TLS side of corvel's listeners: the server context (certificate, key,
// TLS 1.2 and 1.3 only) and the transport of one connection through it.
//
// Thread use: a context is read only once loaded and is shared by every
// connection of its listener; a transport follows IConnectionTransport's rule.
#pragma once

#include <memory>
#include <string>

#include "common/tls/tls_handles.h"
#include "server/http/connection_transport.h"

class CTlsServerContext {
public:
    // The context of certFile (PEM, the certificate first, then its chain) and
    // keyFile (PEM); null with error naming the file when either is missing,
    // unreadable or not PEM, or when the key does not belong to the certificate.
    static std::shared_ptr<CTlsServerContext> Load(const std::string& certFile,
                                                   const std::string& keyFile, std::string& error);

    // The certificate's SHA-256 fingerprint (tls_fingerprint.h).
    const std::string& Fingerprint() const { return fingerprint_; }
    SSL_CTX* Get() const { return context_.get(); }

    // The transport factory of a listener that speaks TLS with this context.
    static TransportFactory Factory(std::shared_ptr<CTlsServerContext> context);

private:
    SslCtxPtr context_;
    std::string fingerprint_;
};

// One connection's TLS session on its socket (which stays the loop's).
class CTlsTransport : public IConnectionTransport {
public:
    // ssl null: every step fails, so the connection ends without data.
    CTlsTransport(SslPtr ssl, int socket);
    bool IsSecure() const override { return true; }
    Step Handshake() override;
    Received Receive(char* data, size_t size) override;
    size_t Pending() const override;
    std::unique_ptr<IAnswerStream> OpenAnswerStream() override;
    void EndSending() override;
    // Sends all bytes; false (and from then on) once the session failed.
    bool Send(std::string_view bytes);

private:
    SslPtr ssl_;
    int socket_;
    bool failed_ = false;
};
