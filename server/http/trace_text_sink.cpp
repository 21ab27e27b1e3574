// Line splitting of the client trace text.
#include "server/http/trace_text_sink.h"

CTraceTextSink::CTraceTextSink(LineHandler handler, size_t maxPending)
    : handler_(std::move(handler)), maxPending_(maxPending == 0 ? 1 : maxPending) {}

void CTraceTextSink::AddText(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (char c : text) {
        if (c == '\n' && lastWasCR_) {
            lastWasCR_ = false;  // the LF of a CR LF pair
            continue;
        }
        lastWasCR_ = c == '\r';
        if (c == '\r' || c == '\n') {
            if (handler_) handler_(pending_);
            pending_.clear();
            continue;
        }
        pending_.push_back(c);
        if (pending_.size() >= maxPending_) {
            if (handler_) handler_(pending_);
            pending_.clear();
        }
    }
}

std::string CTraceTextSink::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
}
