// CSettingsWatcher: the thread of a running server that looks at settings.inf once
// per interval and takes over changes other programs made ("corvel web ...",
// "corvel device ..."), through Settings::ReloadIfChanged, then runs the look-in
// it was given (a server carries out the requests "corvel device reset|remove"
// left there, server/devices/device_requests.h).
//
// Thread use: construct and destroy on one thread; the watcher's own thread only
// calls ReloadIfChanged and the look-in (what they throw is traced, never let out of
// the thread). The destructor stops the thread and waits for it; settings and what
// the look-in uses must outlive the watcher.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "server/config/settings.h"

class CSettingsWatcher {
public:
    // lookIn runs once per interval after the reload; none: nothing more.
    explicit CSettingsWatcher(Settings& settings,
                              std::chrono::milliseconds interval = std::chrono::seconds(1),
                              std::function<void()> lookIn = nullptr);
    ~CSettingsWatcher();
    CSettingsWatcher(const CSettingsWatcher&) = delete;
    CSettingsWatcher& operator=(const CSettingsWatcher&) = delete;

private:
    void Run();

    Settings& settings_;
    std::chrono::milliseconds interval_;
    std::function<void()> lookIn_;
    std::mutex mutex_;  // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};
