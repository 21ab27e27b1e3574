// Headless output: the live trace, the client trace and message boxes when there
// is no window.
//
// CHeadlessOutput writes one line at a time to a stream and flushes it; control
// characters (a CR or LF in a traced URL, escape sequences sent to the trace port)
// become "?" so every entry stays one line and cannot steer a terminal.
// CHeadlessSinks installs, for its lifetime, the live trace sink (lines while
// TraceLive is on), the message box sink (an error.log entry plus a live trace
// line; standard error while error.log is not yet known) and gives the client
// trace sink whose lines are written with the prefix "client: ".
// Thread use: every member may be called from any thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "server/config/error_log.h"
#include "server/config/settings.h"
#include "server/http/trace_text_sink.h"

class CHeadlessOutput {
public:
    explicit CHeadlessOutput(FILE* stream) : stream_(stream) {}
    void Line(std::string_view line);

private:
    std::mutex mutex_;
    FILE* stream_;
};

// The line as written: control characters other than tab replaced by "?".
std::string PrintableLine(std::string_view line);

class CHeadlessSinks {
public:
    // settings, errorLog and output must outlive the sinks.
    CHeadlessSinks(Settings& settings, CErrorLog& errorLog, CHeadlessOutput& output);
    CHeadlessSinks(const CHeadlessSinks&) = delete;
    CHeadlessSinks& operator=(const CHeadlessSinks&) = delete;
    ~CHeadlessSinks();  // restores the default sinks

    CTraceTextSink& ClientTrace() { return clientTrace_; }

private:
    CTraceTextSink clientTrace_;
};
