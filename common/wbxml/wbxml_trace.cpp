// The codec's trace sink.
#include "common/wbxml/wbxml_trace.h"

#include <memory>
#include <mutex>

namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const WBXMLTraceSink>& Sink() {
    static std::shared_ptr<const WBXMLTraceSink> sink;
    return sink;
}

}  // namespace

void SetWBXMLTraceSink(WBXMLTraceSink sink) {
    auto next = sink ? std::make_shared<const WBXMLTraceSink>(std::move(sink)) : nullptr;
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sink() = std::move(next);
}

void AddWBXMLTrace(const std::string& line) {
    std::shared_ptr<const WBXMLTraceSink> sink;
    {
        std::lock_guard<std::mutex> lock(SinkMutex());
        sink = Sink();
    }
    if (!sink) return;
    try {
        (*sink)(line);
    } catch (...) {
        // A failing sink must not break the reader.
    }
}
