// Headless output and sinks.
#include "server/app/headless_output.h"

#include <chrono>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"

std::string PrintableLine(std::string_view line) {
    std::string out(line);
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) c = '?';
    }
    return out;
}

CHeadlessOutput::CHeadlessOutput(FILE* stream) : stream_(stream) {
    writer_ = std::thread([this] { WriteLines(); });
}

CHeadlessOutput::~CHeadlessOutput() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

void CHeadlessOutput::Line(std::string_view line) {
    std::string text = PrintableLine(line);
    text.push_back('\n');
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return pending_.size() < kMaxPendingBytes; });
    const bool first = pending_.empty();
    pending_ += text;
    if (first || pending_.size() >= kMaxPendingBytes) wake_.notify_one();
}

void CHeadlessOutput::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    flushNow_ = true;
    wake_.notify_one();
    room_.wait(lock, [this] { return pending_.empty() && !writing_; });
}

void CHeadlessOutput::WriteLines() {
    try {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || flushNow_ || !pending_.empty(); });
            if (pending_.empty()) {
                flushNow_ = false;
                room_.notify_all();
                if (stop_) return;
                continue;
            }
            // The lines that follow within a moment go out with this one.
            wake_.wait_for(lock, std::chrono::milliseconds(kGatherMs), [this] {
                return stop_ || flushNow_ || pending_.size() >= kMaxPendingBytes;
            });
            std::string lines;
            lines.swap(pending_);
            writing_ = true;
            flushNow_ = false;
            lock.unlock();
            room_.notify_all();
            std::fwrite(lines.data(), 1, lines.size(), stream_);
            std::fflush(stream_);
            lock.lock();
            writing_ = false;
            room_.notify_all();
        }
    } catch (...) {
        // Only the lock could throw; the lines not written are lost with the output.
    }
}

CHeadlessSinks::CHeadlessSinks(Settings& settings, CErrorLog& errorLog, CHeadlessOutput& output)
    : clientTrace_([&output](const std::string& line) { output.Line("client: " + line); }) {
    SetLiveTraceSink([&settings, &output](const std::string& line) {
        if (settings.TraceLive()) output.Line(line);
    });
    SetMessageBoxSink([&errorLog](const std::string& text, const std::string& caption) {
        std::string entry = MessageBoxEntryText(text, caption);
        if (!errorLog.Add(entry)) {
            std::fprintf(stderr, "corvel: %s\n", PrintableLine(entry).c_str());
            std::fflush(stderr);
        }
        AddLiveTrace(entry);
    });
}

CHeadlessSinks::~CHeadlessSinks() {
    SetMessageBoxSink(nullptr);
    SetLiveTraceSink(nullptr);
}
