// ReceiveMessage over a POSIX socket.
#include "common/http/receive_message.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "common/http/message_framing.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class WaitResult { kReadable, kTimedOut, kFailed };

// Waits until the socket has something to read (data, end of stream or an error).
WaitResult WaitReadable(int socket, std::chrono::milliseconds limit) {
    Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) left = std::chrono::milliseconds(0);
        pollfd fd{socket, POLLIN, 0};
        int ready = poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
        if (ready > 0) return WaitResult::kReadable;  // POLLIN, POLLHUP or POLLERR: recv tells
        if (ready == 0) {
            if (Clock::now() >= deadline) return WaitResult::kTimedOut;
            continue;
        }
        if (errno != EINTR) return WaitResult::kFailed;
    }
}

}  // namespace

ReceiveResult ReceiveMessage(int socket, CDataString& buffer, const ReceiveLimits& limits) {
    ReceiveResult result;
    buffer.Init(1024, 1024);
    if (buffer.Failed()) {
        result.end = ReceiveEnd::kNoMemory;
        return result;
    }
    int units = limits.waitUnits > 0 ? limits.waitUnits : kDefaultWaitUnits;
    auto waitLimit = limits.step * (static_cast<long long>(units) * kWaitStepsPerUnit);
    CMessageFraming framing;
    std::vector<char> piece(kReceivePiece);
    for (;;) {
        WaitResult wait = WaitReadable(socket, waitLimit);
        if (wait == WaitResult::kTimedOut) {
            result.end = ReceiveEnd::kTimedOut;
            break;
        }
        if (wait == WaitResult::kFailed) {
            result.end = ReceiveEnd::kFailed;
            break;
        }
        ssize_t got = recv(socket, piece.data(), piece.size(), 0);
        if (got == 0) {
            result.end = ReceiveEnd::kPeerClosed;
            break;
        }
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            result.end = ReceiveEnd::kFailed;
            break;
        }
        size_t n = static_cast<size_t>(got);
        if (n > limits.maxBytes - result.count) {
            result.end = ReceiveEnd::kTooLarge;
            break;
        }
        buffer.AppendBytes(n, piece.data());
        if (buffer.Failed()) {
            result.count = 0;
            result.end = ReceiveEnd::kNoMemory;
            break;
        }
        result.count += n;
        if (framing.Update(buffer.Data(), result.count)) {
            result.end = ReceiveEnd::kComplete;
            break;
        }
    }
    // The buffer keeps a zero byte after the held bytes (CDataString guarantees it).
    return result;
}

size_t ReceiveMessage(int socket, CDataString& buffer, int waitUnits) {
    ReceiveLimits limits;
    limits.waitUnits = waitUnits;
    ReceiveResult result = ReceiveMessage(socket, buffer, limits);
    if (result.end == ReceiveEnd::kTooLarge || result.end == ReceiveEnd::kNoMemory) return 0;
    return result.count;
}

const char* ReceiveEndText(ReceiveEnd end) {
    switch (end) {
        case ReceiveEnd::kComplete:
            return "complete";
        case ReceiveEnd::kTimedOut:
            return "wait limit reached";
        case ReceiveEnd::kPeerClosed:
            return "peer closed the connection";
        case ReceiveEnd::kFailed:
            return "socket error";
        case ReceiveEnd::kTooLarge:
            return "message too large";
        case ReceiveEnd::kNoMemory:
            return "out of memory";
    }
    return "";
}
