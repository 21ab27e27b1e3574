// The shared accept loop of the web server and the trace port.
#include "server/http/accept_loop.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

// Under the listen state's mutex; changed is also notified when a connection or a
// thread ended.
struct CAcceptLoop::Shared : CListenState {
    std::condition_variable work;  // a connection was handed over, or stop
    size_t active = 0;             // connections handed over and not yet closed
    size_t threads = 0;            // worker threads living
    size_t idle = 0;               // of them, waiting for a connection
    std::deque<int> pending;       // accepted, not yet taken by a thread
    std::set<int> sockets;         // open connection sockets, shut down by Stop
    int listenSocket = -1;
    size_t maxWorkers = 1;
    std::chrono::milliseconds acceptPause{100};
    std::chrono::milliseconds idleWait{kIdleWorkerWait};
    Worker worker;
};

CAcceptLoop::CAcceptLoop(size_t maxWorkers, std::chrono::milliseconds acceptPause, Worker worker,
                         std::chrono::milliseconds idleWait)
    : shared_(std::make_shared<Shared>()) {
    shared_->maxWorkers = maxWorkers == 0 ? 1 : maxWorkers;
    shared_->acceptPause = acceptPause;
    shared_->idleWait = idleWait;
    shared_->worker = std::move(worker);
}

CAcceptLoop::~CAcceptLoop() { Stop(); }

void CAcceptLoop::Stop() {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stopping = true;
        if (shared_->listenSocket >= 0) shutdown(shared_->listenSocket, SHUT_RDWR);
        for (int socket : shared_->sockets) shutdown(socket, SHUT_RDWR);
    }
    shared_->changed.notify_all();
    shared_->work.notify_all();
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait(lock, [this] {
        return shared_->active == 0 && shared_->threads == 0 && shared_->listenSocket < 0;
    });
}

CListenState& CAcceptLoop::Listen() const { return *shared_; }

size_t CAcceptLoop::ActiveWorkers() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->active;
}

size_t CAcceptLoop::WorkerThreads() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->threads;
}

void CAcceptLoop::Run(const CSocket& listener) {
    Shared& shared = *shared_;
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.stopping) return;
        shared.listenSocket = listener.Get();
        shared.port = LocalPort(listener.Get());
    }
    shared.changed.notify_all();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(shared.mutex);
            shared.changed.wait(
                lock, [&] { return shared.stopping || shared.active < shared.maxWorkers; });
            if (shared.stopping) break;
        }
        int socket = accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        std::unique_lock<std::mutex> lock(shared.mutex);
        if (socket < 0) {
            if (shared.stopping) break;
            if (errno == EINTR) continue;
            // Out of descriptors or a transient error: pause, never spin.
            shared.changed.wait_for(lock, shared.acceptPause, [&] { return shared.stopping; });
            continue;
        }
        if (shared.stopping) {
            close(socket);
            break;
        }
        ++shared.active;
        shared.sockets.insert(socket);
        shared.pending.push_back(socket);
        if (shared.idle >= shared.pending.size()) {
            shared.work.notify_one();
            continue;
        }
        // Every waiting thread has a connection already: one more thread, counted as
        // waiting from now on, so threads never outnumber the connections allowed.
        try {
            std::thread(&CAcceptLoop::WorkerThread, shared_).detach();
            ++shared.threads;
            ++shared.idle;
        } catch (const std::system_error&) {
            if (shared.threads == 0) {
                // Nobody would ever take it.
                shared.pending.pop_back();
                shared.sockets.erase(socket);
                close(socket);
                --shared.active;
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.listenSocket = -1;
    }
    shared.changed.notify_all();
}

void CAcceptLoop::Serve(Shared& shared, int socket) {
    try {
        shared.worker(socket);
    } catch (...) {
        // The worker's own handling failed; only this connection ends.
    }
}

void CAcceptLoop::WorkerThread(std::shared_ptr<Shared> shared) {
    LowerThreadPriority();
    try {
        // The thread counts as waiting from its start (Run counted it) and again from
        // the moment its connection is closed, so the next connection accepted after
        // that is handed to it.
        std::unique_lock<std::mutex> lock(shared->mutex);
        for (;;) {
            shared->work.wait_for(lock, shared->idleWait,
                                  [&] { return shared->stopping || !shared->pending.empty(); });
            // Connections handed over are served even when stopping: their sockets
            // are shut down, so they end at once and are closed.
            if (shared->pending.empty()) break;
            int socket = shared->pending.front();
            shared->pending.pop_front();
            --shared->idle;
            lock.unlock();
            Serve(*shared, socket);
            lock.lock();
            shared->sockets.erase(socket);
            close(socket);
            --shared->active;
            ++shared->idle;
            shared->changed.notify_all();
        }
        --shared->idle;
        --shared->threads;
        shared->changed.notify_all();
    } catch (...) {
        // A lock failure: nothing else can be done safely.
    }
}
