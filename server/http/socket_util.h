// Small POSIX socket helpers for the listeners and connection workers.
// Every function may be called from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Owns one file descriptor and closes it once.
class CSocket {
public:
    CSocket() = default;
    explicit CSocket(int fd) : fd_(fd) {}
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    CSocket(CSocket&& other) noexcept : fd_(other.Release()) {}
    CSocket& operator=(CSocket&& other) noexcept;
    ~CSocket() { Close(); }

    int Get() const { return fd_; }
    bool IsValid() const { return fd_ >= 0; }
    int Release();
    void Close();

private:
    int fd_ = -1;
};

enum class ListenStep { kSocket, kBind, kListen };

// Creates an IPv4 TCP socket bound to port (0: any free port) on all local
// addresses, or on 127.0.0.1 when loopbackOnly, listening with the backlog.
// On failure returns an invalid socket and sets failedStep and error (the
// system's reason).
CSocket CreateListener(int port, bool loopbackOnly, int backlog, ListenStep& failedStep,
                       std::string& error);

// The local port a socket is bound to; 0 when unknown.
int LocalPort(int fd);

// Sends all bytes (never raising SIGPIPE); false when the peer is gone or the
// socket fails.
bool SendAll(int fd, std::string_view bytes);

// Puts the calling thread one step below normal priority, normal being the main
// thread's, however low the thread that started it was (best effort).
void LowerThreadPriority();

// Raises the soft limit of open files to the hard limit, so many connections can
// be open at once; the soft limit reached (unchanged when it cannot be raised).
unsigned long RaiseOpenFileLimit();
