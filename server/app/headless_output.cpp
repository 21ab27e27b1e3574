// Headless output and sinks.
#include "server/app/headless_output.h"

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

void CHeadlessOutput::Line(std::string_view line) {
    std::string text = PrintableLine(line);
    text.push_back('\n');
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
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
