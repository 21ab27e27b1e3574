// The process-wide live trace sink.
#include "server/config/live_trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "server/config/log_text.h"

namespace {
std::mutex gSinkMutex;
LiveTraceSink gSink;
}  // namespace

void SetLiveTraceSink(LiveTraceSink sink) {
    std::lock_guard<std::mutex> lock(gSinkMutex);
    gSink = std::move(sink);
}

void AddLiveTrace(const std::string& line) {
    LiveTraceSink sink;
    {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        sink = gSink;
    }
    if (!sink) return;
    try {
        // A line end the caller wrote at the end stays as it is.
        std::string_view text(line);
        size_t end = text.find_last_not_of("\r\n");
        end = end == std::string_view::npos ? 0 : end + 1;
        sink(EscapeTraceLine(text.substr(0, end)) + std::string(text.substr(end)));
    } catch (...) {
        // Tracing never takes its caller down.
    }
}

void AddLiveTraceF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        line.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    AddLiveTrace(line);
}
