// While a CSigpipeHold lives, a write to a closed peer raises no SIGPIPE on this
// thread: the signal is blocked, and one raised meanwhile is taken before it is
// unblocked. OpenSSL writes to its socket itself, without MSG_NOSIGNAL, and
// sendfile has no such flag.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <ctime>

class CSigpipeHold {
public:
    CSigpipeHold() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &old_) == 0;
    }
    ~CSigpipeHold() {
        if (!blocked_) return;
        if (!wasPending_) {
            timespec zero{};
            while (sigtimedwait(&pipe_, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    CSigpipeHold(const CSigpipeHold&) = delete;
    CSigpipeHold& operator=(const CSigpipeHold&) = delete;

private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool wasPending_ = false;
    bool blocked_ = false;
};
