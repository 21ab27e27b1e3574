// Test helper: a one-connection-at-a-time HTTP listener on 127.0.0.1 (a free port)
// that records each request and answers with canned pieces. It stops by itself
// when destroyed (or after its accept wait runs out).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/http_transport.h"
#include "common/base/unique_fd.h"

// A TCP socket bound to 127.0.0.1 on a port the system chose, and that port.
inline UniqueFd BindLoopback(int& port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

class FakeHttpServer {
public:
    // answer(request) gives the pieces to send, in order; the connection is closed
    // after the last piece unless holdOpen is set (then it is closed when the
    // server is destroyed).
    using Answerer = std::function<std::vector<std::string>(const std::string& request)>;

    explicit FakeHttpServer(Answerer answer, bool holdOpen = false)
        : answer_(std::move(answer)), holdOpen_(holdOpen) {
        listen_ = BindLoopback(port_);
        ::listen(listen_.get(), 8);
        thread_ = std::thread([this] { Run(); });
    }
    ~FakeHttpServer() {
        stop_ = true;
        thread_.join();
        for (int fd : held_) ::close(fd);
    }
    int Port() const { return port_; }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void Run() {
        for (int waits = 0; !stop_ && waits < 3000; ++waits) {  // at most about a minute
            pollfd p{listen_.get(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int fd = ::accept(listen_.get(), nullptr, nullptr);
            if (fd < 0) continue;
            std::string request;
            char buf[4096];
            size_t whole = 0;  // a request is framed the way the client frames answers
            while (!stop_ && !IsAnswerComplete(request.data(), request.size(), whole)) {
                pollfd q{fd, POLLIN, 0};
                if (::poll(&q, 1, 20) <= 0) continue;
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            for (const std::string& piece : answer_(request)) {
                ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
            }
            if (holdOpen_) {
                held_.push_back(fd);
            } else {
                ::close(fd);
            }
        }
    }

    Answerer answer_;
    bool holdOpen_;
    UniqueFd listen_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<int> held_;
};
