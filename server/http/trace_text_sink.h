// CTraceTextSink: turns the text streamed to the trace port into lines. A line
// ends at CR or LF; CR directly followed by LF (also across two texts) is one line
// end. An unfinished last line is held until a later text completes it; a held
// line that reaches maxPending bytes is handed on as it is, so memory stays bounded.
//
// Thread use: AddText may be called from any thread; texts are taken one at a
// time, and the line handler runs under the sink's lock (it must not call AddText).
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

inline constexpr size_t kMaxPendingTraceLine = 64 * 1024;

class CTraceTextSink {
public:
    using LineHandler = std::function<void(const std::string& line)>;

    explicit CTraceTextSink(LineHandler handler, size_t maxPending = kMaxPendingTraceLine);
    void AddText(std::string_view text);
    // The held unfinished line (for tests and the console's pane).
    std::string Pending() const;

private:
    mutable std::mutex mutex_;
    LineHandler handler_;
    size_t maxPending_;
    std::string pending_;
    bool lastWasCR_ = false;
};
