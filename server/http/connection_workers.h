// CConnectionWorkers: the worker threads that answer complete requests, and the
// count of request bytes held in memory, shared by the connection loops of one
// server (the plain and the HTTPS listener). Requests of both listeners are
// answered by one bounded pool, and the bodies both hold count against one body
// budget, so a second listener adds neither threads nor room for memory.
//
// A loop posts one job per request it hands over; a job that throws ends only
// itself. Threads run below normal priority from the constructor on; the
// destructor drops the jobs not yet started, waits for those running and ends
// every thread (never call it from a job).
//
// Thread use: everything from any thread. Owner of the queue and the thread
// count: mutex_; of the held bytes: the atomic itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CConnectionWorkers {
public:
    // threads: how many (at least one; fewer when the system refuses more).
    explicit CConnectionWorkers(size_t threads);
    CConnectionWorkers(const CConnectionWorkers&) = delete;
    CConnectionWorkers& operator=(const CConnectionWorkers&) = delete;
    ~CConnectionWorkers();

    void Post(std::function<void()> job);
    // Worker threads living.
    size_t Threads() const;

    // Request bytes the loops hold now, all of them together.
    size_t HeldBytes() const { return held_.load(); }
    void AddHeld(size_t bytes) { held_ += bytes; }
    void RemoveHeld(size_t bytes) { held_ -= bytes; }

private:
    void Work();

    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    size_t living_ = 0;
    std::atomic<size_t> held_{0};
    std::vector<std::thread> threads_;
};
