// The process-wide message box sink.
#include "platform/win/message_box.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex gSinkMutex;
MessageBoxSink gSink;  // empty: write to standard error
}  // namespace

void SetMessageBoxSink(MessageBoxSink sink) {
    std::lock_guard<std::mutex> lock(gSinkMutex);
    gSink = std::move(sink);
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
    MessageBoxSink sink;
    {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        sink = gSink;
    }
    try {
        if (sink) {
            sink(text, caption);
        } else {
            std::fprintf(stderr, "%s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ",
                         text.c_str());
        }
    } catch (...) {
        // A message box never takes its caller down.
    }
}
