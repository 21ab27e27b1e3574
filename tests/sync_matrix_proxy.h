// A loopback relay between skiff and corvel that can lose answers. Every connection's
// request is read whole (header and Content-Length body) and forwarded to the server;
// the server's answer is read whole too. The answer is then passed back, or, while
// answers are to be dropped, the client's connection is closed without a byte of it:
// the server has done all its work, the client learns nothing.
//
// One connection is relayed at a time, on the relay's own thread; the relay stops by
// itself when destroyed. DropAnswers and the counters may be used from any thread.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "server/http/socket_util.h"

// One HTTP message read from fd: the header up to its blank line and as many body
// bytes as its Content-Length says (to the end of the connection without one). ""
// when the peer closed or failed before a whole message arrived.
std::string ReadHttpMessage(int fd);

class AnswerDroppingProxy {
public:
    explicit AnswerDroppingProxy(int serverPort);
    ~AnswerDroppingProxy();
    AnswerDroppingProxy(const AnswerDroppingProxy&) = delete;
    AnswerDroppingProxy& operator=(const AnswerDroppingProxy&) = delete;

    // The port to give the client; 0 when no listener could be made.
    int Port() const { return port_; }
    // The next count answers are dropped.
    void DropAnswers(int count) { toDrop_ = count; }
    int Relayed() const { return relayed_; }  // requests that reached the server
    int Dropped() const { return dropped_; }  // answers the client never saw

private:
    void Serve();
    void Relay(int client);

    int serverPort_;
    int port_ = 0;
    CSocket listener_;
    std::atomic<bool> stop_{false};
    std::atomic<int> toDrop_{0};
    std::atomic<int> relayed_{0};
    std::atomic<int> dropped_{0};
    std::thread thread_;
};
