// CLiveTraceText: a test helper that collects the live trace while it lives, each
// line ended by "\n". The sink is one for the process, so one at a time.
//
// Thread use: lines arrive from any thread; Text from any thread.
#pragma once

#include <mutex>
#include <string>

#include "server/config/live_trace.h"

class CLiveTraceText {
public:
    CLiveTraceText() {
        SetLiveTraceSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            text_ += line + "\n";
        });
    }
    CLiveTraceText(const CLiveTraceText&) = delete;
    CLiveTraceText& operator=(const CLiveTraceText&) = delete;
    ~CLiveTraceText() { SetLiveTraceSink(nullptr); }

    // The lines so far.
    std::string Text() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;  // owns text_
    std::string text_;
};
