// Headless output: the live trace, the client trace and message boxes when there
// is no window.
//
// CHeadlessOutput writes whole lines to a stream; control characters (a CR or LF in
// a traced URL, escape sequences sent to the trace port) become "?" so every entry
// stays one line and cannot steer a terminal. A thread of its own writes them: a
// line is on the stream within about kGatherMs, together with the lines that came
// meanwhile (one write for a burst of lines, not one per line). At most
// kMaxPendingBytes wait for it; past that, Line waits for the writer, so a reader
// that stops reading slows the server instead of filling its memory. Flush and the
// destructor write every line handed over before they return.
// CHeadlessSinks installs, for its lifetime, the live trace sink (lines while
// TraceLive is on), the message box sink (an error.log entry plus a live trace
// line; standard error while error.log is not yet known) and gives the client
// trace sink whose lines are written with the prefix "client: ".
// Thread use: every member may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "server/config/error_log.h"
#include "server/config/settings.h"
#include "server/http/trace_text_sink.h"

class CHeadlessOutput {
public:
    static constexpr int kGatherMs = 10;
    static constexpr std::size_t kMaxPendingBytes = std::size_t{1} << 20;

    explicit CHeadlessOutput(FILE* stream);
    ~CHeadlessOutput();
    CHeadlessOutput(const CHeadlessOutput&) = delete;
    CHeadlessOutput& operator=(const CHeadlessOutput&) = delete;

    void Line(std::string_view line);
    void Flush();

private:
    void WriteLines();

    FILE* stream_;
    // Guards pending_ (lines not yet written), writing_ (the writer holds lines it
    // took), flushNow_ and stop_; the writer thread alone writes to stream_.
    std::mutex mutex_;
    std::condition_variable wake_;  // the writer: lines, a flush or the end
    std::condition_variable room_;  // Line and Flush: the writer wrote what it took
    std::string pending_;
    bool writing_ = false;
    bool flushNow_ = false;
    bool stop_ = false;
    std::thread writer_;
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
