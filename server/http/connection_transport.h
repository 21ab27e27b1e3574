// How the connection loop moves a connection's bytes: straight over the socket,
// or through a TLS session on it. The loop reads and drives the handshake with
// the socket non-blocking; a worker writes the answer with it blocking.
//
// Thread use: one connection's transport is used by one thread at a time (the
// loop, then the worker serving it, then the loop again).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "server/http/answer_stream.h"

class IConnectionTransport {
public:
    enum class Step { kDone, kWantRead, kWantWrite, kFailed };
    // What Receive read: bytes (count > 0), nothing now, the peer's end, or a failure.
    enum class ReceiveEnd { kData, kWouldBlock, kClosed, kFailed };
    struct Received {
        ReceiveEnd end = ReceiveEnd::kFailed;
        size_t count = 0;
    };

    virtual ~IConnectionTransport() = default;
    // True when the connection is encrypted.
    virtual bool IsSecure() const = 0;
    // One step of the handshake on a non-blocking socket; kDone at once without one.
    virtual Step Handshake() = 0;
    virtual Received Receive(char* data, size_t size) = 0;
    // Bytes received and held by the transport, readable without the socket.
    virtual size_t Pending() const = 0;
    // Where a worker writes the answer (blocking sends, never raising SIGPIPE);
    // it lives no longer than the transport.
    virtual std::unique_ptr<IAnswerStream> OpenAnswerStream() = 0;
    // The answer is over: says so to the peer where the transport has a way, and
    // shuts down the sending side of the socket.
    virtual void EndSending() = 0;
};

// Makes the transport of an accepted socket (which stays the loop's to close).
using TransportFactory = std::function<std::unique_ptr<IConnectionTransport>(int socket)>;

// The socket's bytes as they come.
class CPlainTransport : public IConnectionTransport {
public:
    explicit CPlainTransport(int socket) : socket_(socket) {}
    bool IsSecure() const override { return false; }
    Step Handshake() override { return Step::kDone; }
    Received Receive(char* data, size_t size) override;
    size_t Pending() const override { return 0; }
    std::unique_ptr<IAnswerStream> OpenAnswerStream() override;
    void EndSending() override;

private:
    int socket_;
};
