// The watch on settings.inf.
#include "server/config/settings_watcher.h"

#include <exception>

#include "server/config/live_trace.h"

CSettingsWatcher::CSettingsWatcher(Settings& settings, std::chrono::milliseconds interval,
                                   std::function<void()> lookIn)
    : settings_(settings),
      interval_(interval),
      lookIn_(std::move(lookIn)),
      thread_([this] { Run(); }) {}

CSettingsWatcher::~CSettingsWatcher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CSettingsWatcher::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, interval_, [this] { return stop_; })) {
        lock.unlock();
        try {
            settings_.ReloadIfChanged();
            if (lookIn_) lookIn_();
        } catch (const std::exception& error) {
            AddLiveTrace(std::string("settings.inf could not be read again: ") + error.what());
        } catch (...) {
            AddLiveTrace("settings.inf could not be read again");
        }
        lock.lock();
    }
}
