// Deciding when the bytes received so far form a whole HTTP message.
//
// The rules: the header block ends at the first "\r\n\r\n" (body 4 bytes later),
// failing that at the first "\n\r\n\r" (4 bytes later), failing that at the first
// "\n\n" (2 bytes later). A "Content-Length:" in the header block (case-sensitive
// plain substring) makes the message complete once that many body bytes are there.
// Otherwise "Transfer-Encoding: chunked" in the header block makes it complete at
// the chunk of size 0. Otherwise only a message whose first three characters are
// "GET" (any case) is complete, at the end of its header block.
//
// Every search is bounded by the bytes received. Sizes are parsed with an overflow
// check: a length or chunk size that does not fit in 64 bits keeps the message
// incomplete (the reader then ends by its size or time limit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// True when data[0, count) holds a whole message. Pure; never reads past count.
bool IsMessageComplete(const char* data, size_t count);

// The same decision, kept up to date while a message arrives piece by piece.
// Update(data, count) must be called with the same growing buffer each time (the
// first count bytes unchanged since the last call); it answers exactly what
// IsMessageComplete(data, count) answers, but costs time in proportion to the new
// bytes only, so a large message is not searched from its start after every piece.
// One object per message; not shared between threads.
class CMessageFraming {
public:
    bool Update(const char* data, size_t count);
    // The Content-Length value once the header block is known and carries one.
    std::optional<uint64_t> DeclaredLength() const;
    // Where the body starts (the header block's length); 0 while the header block
    // has not ended.
    size_t HeadLength() const { return bodyStart_; }
    // True when the header block has ended and names no body framing at all (no
    // Content-Length, not chunked) for a method other than GET: such a message
    // never becomes complete by these rules, though it carries no body.
    bool HeadWithoutFraming() const { return bodyStart_ != 0 && kind_ == Kind::kNever; }

private:
    void FindHeaderEnd(const char* data, size_t count);
    bool CheckBody(const char* data, size_t count);

    size_t scanned_ = 0;  // bytes already searched for the three header ends
    std::optional<size_t> crlfcrlf_, lfcrlfcr_, lflf_;  // first positions found
    size_t bodyStart_ = 0;                              // 0: no header end yet
    // Framing read from the header block that ends at bodyStart_.
    enum class Kind { kNone, kLength, kBadLength, kChunked, kGet, kNever } kind_ = Kind::kNone;
    uint64_t length_ = 0;
    size_t chunkPos_ = 0;  // start of the first chunk not yet walked over
};
