// CSettingsWatcher: the thread of a running server that looks at settings.inf once
// per interval and takes over changes other programs made ("corvel web ...",
// "corvel device ..."), through Settings::ReloadIfChanged, and carries out the
// requests "corvel device reset|remove" left (device_requests.h).
//
// Thread use: construct and destroy on one thread; the watcher's own thread only
// calls ReloadIfChanged (which never throws out of it). The destructor stops the
// thread and waits for it; settings must outlive the watcher.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "server/devices/device_requests.h"
#include "server/config/settings.h"

class CSettingsWatcher {
public:
    // onRequest carries out a device request; none: CarryOutDeviceRequest (for a
    // process without requests; a server passes CarryOutBetweenRequests).
    explicit CSettingsWatcher(Settings& settings,
                              std::chrono::milliseconds interval = std::chrono::seconds(1),
                              std::function<void(const CDeviceRequest&)> onRequest = nullptr);
    ~CSettingsWatcher();
    CSettingsWatcher(const CSettingsWatcher&) = delete;
    CSettingsWatcher& operator=(const CSettingsWatcher&) = delete;

private:
    void Run();

    Settings& settings_;
    std::chrono::milliseconds interval_;
    std::function<void(const CDeviceRequest&)> onRequest_;
    std::mutex mutex_;  // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};
