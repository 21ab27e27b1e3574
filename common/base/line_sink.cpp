#include "common/base/line_sink.h"

void LineSink::Set(Function function) {
    std::lock_guard<std::mutex> lock(mutex_);
    function_ = std::move(function);
}

void LineSink::Write(const std::string& line) noexcept {
    try {
        if (calls_ == Calls::kOneAtATime) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (function_) function_(line);
            return;
        }
        Function function;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            function = function_;
        }
        if (function) function(line);
    } catch (...) {
        // A line never takes its writer down.
    }
}

bool LineSink::Installed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<bool>(function_);
}
