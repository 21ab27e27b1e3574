// CSettingsWatcher: the thread of a running server that looks at settings.inf once
// per interval and takes over changes other programs made ("corvel web ...",
// "corvel device ..."), through Settings::ReloadIfChanged.
//
// Thread use: construct and destroy on one thread; the watcher's own thread only
// calls ReloadIfChanged (which never throws out of it). The destructor stops the
// thread and waits for it; settings must outlive the watcher.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "server/config/settings.h"

class CSettingsWatcher {
public:
    explicit CSettingsWatcher(Settings& settings,
                              std::chrono::milliseconds interval = std::chrono::seconds(1));
    ~CSettingsWatcher();
    CSettingsWatcher(const CSettingsWatcher&) = delete;
    CSettingsWatcher& operator=(const CSettingsWatcher&) = delete;

private:
    void Run();

    Settings& settings_;
    std::chrono::milliseconds interval_;
    std::mutex mutex_;  // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};
