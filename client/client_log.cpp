// Log line and status text sinks.
#include "client/client_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
std::mutex gLogMutex;  // guards the sinks and serialises calls into them
LogLineSink gLogSink;
StatusSink gStatusSink;
std::mutex gStatusMutex;
std::string gStatus;
}  // namespace

void SetLogLineSink(LogLineSink sink) {
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLogSink = std::move(sink);
}

void AddLogLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(gLogMutex);
    if (!gLogSink) return;
    try {
        gLogSink(line);
    } catch (...) {
        // A log line never takes the run down.
    }
}

void AddLogLineF(const char* format, ...) {
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
    AddLogLine(line);
}

void SetStatusText(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(gStatusMutex);
        gStatus = text;
    }
    std::lock_guard<std::mutex> lock(gLogMutex);
    if (!gStatusSink) return;
    try {
        gStatusSink(text);
    } catch (...) {
    }
}

std::string StatusText() {
    std::lock_guard<std::mutex> lock(gStatusMutex);
    return gStatus;
}

void SetStatusSink(StatusSink sink) {
    std::lock_guard<std::mutex> lock(gLogMutex);
    gStatusSink = std::move(sink);
}
