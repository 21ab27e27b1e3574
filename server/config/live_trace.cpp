// The process-wide live trace sink.
#include "server/config/live_trace.h"

#include <cstdarg>

#include "common/base/line_sink.h"
#include "common/base/text.h"
#include "server/config/log_text.h"

namespace {
// Called outside its lock: the headless sink reads the settings, whose holder
// may be tracing at the same time.
LineSink gSink(LineSink::Calls::kConcurrent);
}  // namespace

void SetLiveTraceSink(LiveTraceSink sink) { gSink.Set(std::move(sink)); }

void AddLiveTrace(const std::string& line) {
    if (!gSink.Installed()) return;
    try {
        // A line end the caller wrote at the end stays as it is.
        std::string_view text(line);
        size_t end = text.find_last_not_of("\r\n");
        end = end == std::string_view::npos ? 0 : end + 1;
        gSink.Write(EscapeTraceLine(text.substr(0, end)) + std::string(text.substr(end)));
    } catch (...) {
        // Tracing never takes its caller down.
    }
}

void AddLiveTraceF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = FormatArgs(format, args);
    va_end(args);
    AddLiveTrace(line);
}
