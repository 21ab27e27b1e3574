// The worker pool the connection loops share.
#include "server/http/connection_workers.h"

#include <system_error>

#include "server/config/live_trace.h"
#include "server/http/socket_util.h"

CConnectionWorkers::CConnectionWorkers(size_t threads) {
    if (threads == 0) threads = 1;
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < threads; ++i) {
        try {
            threads_.emplace_back([this] { Work(); });
            ++living_;
        } catch (const std::system_error&) {
            break;  // fewer workers than asked for
        }
    }
}

CConnectionWorkers::~CConnectionWorkers() {
    std::deque<std::function<void()>> dropped;  // what they hold goes outside the lock
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped.swap(jobs_);
    }
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void CConnectionWorkers::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    work_.notify_one();
}

size_t CConnectionWorkers::Threads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return living_;
}

void CConnectionWorkers::Work() {
    LowerThreadPriority();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (stopping_) break;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        try {
            job();
        } catch (...) {
            AddLiveTrace("Something went wrong... web() crashed");
        }
        job = nullptr;  // what the job holds goes before the next wait
        lock.lock();
    }
    --living_;
}
