// ReceiveMessage: reads one HTTP message from a connected socket into a buffer,
// deciding by itself when the message is complete (see message_framing.h).
//
// Reading waits on the socket (poll) for at most the wait limit: wait units x 100
// steps of 30 ms (0 units means 60, so 180 s). The wait restarts with every piece
// that arrives, so a sender that stalls in the middle of a message is given up one
// wait limit after its last piece. Reading stops at once when the peer closes its
// side or the socket fails, and when the message grows past the size limit.
// Safe to call from many threads at once, each with its own socket and buffer.
#pragma once

#include <chrono>
#include <cstddef>

#include "common/http/data_string.h"

// Largest message read; a longer one is given up (ReceiveEnd::kTooLarge).
inline constexpr size_t kMaxMessageBytes = size_t{256} * 1024 * 1024;
// Wait units used when the caller passes 0.
inline constexpr int kDefaultWaitUnits = 60;
// Steps of the wait per wait unit, and the length of one step.
inline constexpr int kWaitStepsPerUnit = 100;
inline constexpr std::chrono::milliseconds kWaitStep{30};
// Bytes asked for per receive call.
inline constexpr size_t kReceivePiece = 16 * 1024;

struct ReceiveLimits {
    int waitUnits = 0;                           // 0: kDefaultWaitUnits
    std::chrono::milliseconds step = kWaitStep;  // tests shorten the wait through this
    size_t maxBytes = kMaxMessageBytes;
};

enum class ReceiveEnd {
    kComplete,    // the bytes form a whole message
    kTimedOut,    // no further bytes within the wait limit
    kPeerClosed,  // the peer closed its sending side
    kFailed,      // the socket reported an error
    kTooLarge,    // the message passed limits.maxBytes; the buffer holds what came before
    kNoMemory,    // the buffer could not grow (reported as "Out of Memory")
};

struct ReceiveResult {
    size_t count = 0;  // bytes received and held in the buffer
    ReceiveEnd end = ReceiveEnd::kTimedOut;
};

// Re-initialises buffer (initial size and growth 1024) and reads one message into
// it. The held bytes are always followed by a zero byte that is not counted.
ReceiveResult ReceiveMessage(int socket, CDataString& buffer, const ReceiveLimits& limits = {});

// The form every caller of the original used: wait units 0 meaning the default;
// returns the number of bytes received (0 when nothing arrived).
size_t ReceiveMessage(int socket, CDataString& buffer, int waitUnits);

const char* ReceiveEndText(ReceiveEnd end);
