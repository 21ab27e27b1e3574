// Test helpers: loopback clients, captured live trace and message boxes, and
// waiting for a condition without a timed assertion (the deadline only guards
// against a hung test).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/http/socket_util.h"

// A client connection to 127.0.0.1:port (invalid when it cannot be made); reads
// give up after guardSeconds so a broken server fails the test instead of hanging it.
inline CSocket ConnectLoopback(int port, int guardSeconds = 60) {
    CSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    timeval guard{guardSeconds, 0};
    setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return CSocket();
    }
    return socket;
}

enum class ReadEnd { kClosed, kGuardExpired, kError };

// Reads until the server closes; what arrived goes to out.
inline ReadEnd ReadUntilClosed(int socket, std::string& out) {
    char piece[4096];
    for (;;) {
        ssize_t got = recv(socket, piece, sizeof piece, 0);
        if (got == 0) return ReadEnd::kClosed;
        if (got < 0) {
            if (errno == EINTR) continue;
            return (errno == EAGAIN || errno == EWOULDBLOCK) ? ReadEnd::kGuardExpired
                                                             : ReadEnd::kError;
        }
        out.append(piece, static_cast<size_t>(got));
    }
}

// Polls condition until it holds; false after a generous guard of 60 s.
inline bool WaitFor(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Collects live trace lines and message boxes while it lives.
class TraceCapture {
public:
    TraceCapture() {
        SetLiveTraceSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
        SetMessageBoxSink([this](const std::string& text, const std::string& caption) {
            std::lock_guard<std::mutex> lock(mutex_);
            boxes_.push_back(caption.empty() ? text : caption + ": " + text);
        });
    }
    ~TraceCapture() {
        SetLiveTraceSink(nullptr);
        SetMessageBoxSink(nullptr);
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    std::vector<std::string> Boxes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return boxes_;
    }
    bool HasLine(const std::string& line) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& l : lines_) {
            if (l == line) return true;
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::string> boxes_;
};

// A port that nothing listens on right now (bound and released at once).
inline int FreeLoopbackPort() {
    ListenStep step;
    std::string error;
    CSocket probe = CreateListener(0, true, 1, step, error);
    return probe.IsValid() ? LocalPort(probe.Get()) : 0;
}

// A loopback server for tests on a free port: accepts count connections one after
// another and hands each to serve on the server's own thread; Wait (and the
// destructor) returns once all have been served.
class LoopbackServer {
public:
    LoopbackServer(int count, std::function<void(const CSocket& client)> serve) {
        ListenStep step;
        std::string error;
        listener_ = CreateListener(0, true, 4, step, error);
        port_ = LocalPort(listener_.Get());
        thread_ = std::thread([this, count, serve = std::move(serve)] {
            for (int i = 0; i < count; ++i) {
                CSocket client(::accept(listener_.Get(), nullptr, nullptr));
                serve(client);
            }
        });
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    ~LoopbackServer() { Wait(); }
    int Port() const { return port_; }
    void Wait() {
        if (thread_.joinable()) thread_.join();
    }

private:
    CSocket listener_;
    int port_ = 0;
    std::thread thread_;
};
