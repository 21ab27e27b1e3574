// CListenState: what a listening loop shares with the threads that start, watch and
// stop it: that it is stopping, that listening failed for good, and the port once
// it listens. The loops (CAcceptLoop, CConnectionLoop) keep the rest of their shared
// state under the same mutex and notify changed for it too.
//
// Thread use: any thread; the fields only under mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

struct CListenState {
    mutable std::mutex mutex;         // owns the fields below and the loop's state kept with them
    std::condition_variable changed;  // stop, listening, failed, and the loop's own changes
    bool stopping = false;
    bool failed = false;
    int port = 0;  // 0 until listening

    // Waits up to pause for stopping; true when the loop is stopping.
    bool WaitForStop(std::chrono::milliseconds pause) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, pause, [this] { return stopping; });
    }
    // Listening failed for good: WaitUntilListening returns 0 at once from now on.
    void MarkFailed() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            failed = true;
        }
        changed.notify_all();
    }
    // The port listened on, once there is one; 0 when timeout passes first, after
    // MarkFailed, or once stopping.
    int WaitUntilListening(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, timeout, [this] { return port != 0 || failed || stopping; });
        return stopping ? 0 : port;
    }
};

// CListeningLoop: the part of a listening loop's interface that is its listen
// state's (CAcceptLoop and CConnectionLoop keep one each, shared with their threads).
class CListeningLoop {
public:
    // Waits up to pause for Stop; true when the loop is stopping.
    bool WaitForStop(std::chrono::milliseconds pause) { return Listen().WaitForStop(pause); }
    // Listening failed for good: WaitUntilListening returns 0 at once from now on.
    void MarkFailed() { Listen().MarkFailed(); }
    // The port listened on, once Run has it; 0 when timeout passes first, after
    // MarkFailed, or once stopping.
    int WaitUntilListening(std::chrono::milliseconds timeout) {
        return Listen().WaitUntilListening(timeout);
    }

    // A loop stays where it was made: its threads hold its state.
    CListeningLoop(const CListeningLoop&) = delete;
    CListeningLoop& operator=(const CListeningLoop&) = delete;

protected:
    CListeningLoop() = default;
    ~CListeningLoop() = default;

private:
    virtual CListenState& Listen() const = 0;
};
