// Log line and status text sinks.
#include "client/client_log.h"

#include <cstdarg>
#include <mutex>

#include "common/base/line_sink.h"
#include "common/base/text.h"

namespace {
// The window's list or the command line's output; a call never overlaps another,
// and a removed sink is never called again.
LineSink gLogSink(LineSink::Calls::kOneAtATime);
LineSink gStatusSink(LineSink::Calls::kOneAtATime);
std::mutex gStatusMutex;  // guards gStatus
std::string gStatus;
}  // namespace

void SetLogLineSink(LogLineSink sink) { gLogSink.Set(std::move(sink)); }

void AddLogLine(const std::string& line) { gLogSink.Write(line); }

void AddLogLineF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = FormatArgs(format, args);
    va_end(args);
    AddLogLine(line);
}

void SetStatusText(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(gStatusMutex);
        gStatus = text;
    }
    gStatusSink.Write(text);
}

std::string StatusText() {
    std::lock_guard<std::mutex> lock(gStatusMutex);
    return gStatus;
}

void SetStatusSink(StatusSink sink) { gStatusSink.Set(std::move(sink)); }
