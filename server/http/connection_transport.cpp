// The plain transport and the answer stream over any transport.
#include "server/http/connection_transport.h"

#include <sys/socket.h>

#include <cerrno>

IConnectionTransport::Received CPlainTransport::Receive(char* data, size_t size) {
    for (;;) {
        ssize_t got = recv(socket_, data, size, 0);
        if (got > 0) return {ReceiveEnd::kData, static_cast<size_t>(got)};
        if (got == 0) return {ReceiveEnd::kClosed, 0};
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {ReceiveEnd::kWouldBlock, 0};
        return {ReceiveEnd::kFailed, 0};
    }
}

std::unique_ptr<IAnswerStream> CPlainTransport::OpenAnswerStream() {
    return std::make_unique<CSocketAnswerStream>(socket_);
}

void CPlainTransport::EndSending() { shutdown(socket_, SHUT_WR); }
