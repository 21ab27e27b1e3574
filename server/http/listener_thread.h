// CListenerThread: what the web server and the trace port share — their listening
// loop (CConnectionLoop, CAcceptLoop) and the thread that binds and runs it.
//
// A server built on it hands the thread's body to the constructor and calls Stop()
// in its own destructor: the body is the server's code, so it has to end before
// the server's members do (the destructor here stops too, for the loop's sake).
//
// Thread use: Start and Stop from one owning thread; the rest from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

template <class ListenLoop>
class CListenerThread {
public:
    CListenerThread(const CListenerThread&) = delete;
    CListenerThread& operator=(const CListenerThread&) = delete;

    // Starts the listener thread and returns at once; nothing when it runs already.
    void Start() {
        if (thread_.joinable()) return;
        thread_ = std::thread(body_);
    }
    // Ends the loop (see its Stop) and returns once the listener thread has ended.
    void Stop() {
        loop_->Stop();
        if (thread_.joinable()) thread_.join();
    }
    // The port listened on, once listening; 0 when timeout passes first, when
    // listening failed for good, or once stopping.
    int WaitUntilListening(std::chrono::milliseconds timeout) {
        return loop_->WaitUntilListening(timeout);
    }

protected:
    CListenerThread(std::unique_ptr<ListenLoop> loop, std::function<void()> body)
        : loop_(std::move(loop)), body_(std::move(body)) {}
    ~CListenerThread() { Stop(); }

    ListenLoop& Loop() const { return *loop_; }

private:
    std::unique_ptr<ListenLoop> loop_;
    std::function<void()> body_;  // what the listener thread runs
    std::thread thread_;
};
