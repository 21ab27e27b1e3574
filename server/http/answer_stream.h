// Answers written piece by piece: a handler sends the header with the body's length
// and then the body in pieces as it reads them, so a large body is never held whole.
//
// Thread use: one stream per connection, used by the thread that serves it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/http/html_answer.h"

// Where a handler writes its answer.
class IAnswerStream {
public:
    virtual ~IAnswerStream() = default;
    // Sends bytes in order. False once the peer is gone or the connection failed;
    // every later Write then sends nothing and returns false as well.
    virtual bool Write(std::string_view bytes) = 0;
    // Bytes sent so far.
    virtual uint64_t Written() const = 0;
    // Sends up to count bytes of the open file fd from offset, fewer when the file
    // ends first (the bytes sent are what it held). False as for Write, or when
    // the file cannot be read. This one reads pieces and writes them.
    virtual bool WriteFile(int fd, uint64_t offset, uint64_t count);
};

// Writes to a connected socket (never raising SIGPIPE); the socket stays the caller's.
class CSocketAnswerStream : public IAnswerStream {
public:
    explicit CSocketAnswerStream(int socket) : socket_(socket) {}
    bool Write(std::string_view bytes) override;
    uint64_t Written() const override { return written_; }
    // Straight from the file to the socket (sendfile), without a copy here.
    bool WriteFile(int fd, uint64_t offset, uint64_t count) override;
    int Socket() const { return socket_; }

private:
    int socket_;
    bool failed_ = false;
    uint64_t written_ = 0;
};

// Collects what is written, for handlers whose answer is wanted as bytes.
class CStringAnswerStream : public IAnswerStream {
public:
    bool Write(std::string_view bytes) override {
        text_.append(bytes);
        return true;
    }
    uint64_t Written() const override { return text_.size(); }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// The header block of answer (status line to the empty line) as answer.Serialize
// writes it, but announcing bodyLength bytes instead of the length of answer's own
// body; the bytes that follow it must be exactly that many.
std::string StreamedAnswerHeader(const CHTMLAnswer& answer, uint64_t bodyLength);
