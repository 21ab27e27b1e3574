// wbxml.log: the protocol trace of the Vantro server (request dump, answer dump and
// the log lines of the request), written while the protocol-trace switch is on.
//
// Each request opens the file for appending and closes it at the end. A file that
// has reached kMaxLogBytes is renamed to wbxml.log.1 (replacing an older one) before
// the request's entry is written, so the trace never grows without bound.
//
// One object per request; the Vantro server runs one request at a time.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

class CProtocolLog {
public:
    static constexpr long long kMaxLogBytes = 10LL * 1024 * 1024;

    // Opens <dataFolder>/wbxml.log for appending (rotating it first when full).
    // False when it cannot be opened: the request then writes no trace.
    bool Open(const std::string& dataFolder);
    bool IsOpen() const { return static_cast<bool>(file_); }
    void Write(std::string_view text);
    void Close() { file_.reset(); }

    // The entry head: "\n!!!dd.mm.yyyy hh:mm ("...") \n" with the local time and
    // three empty texts: "\n!!!%02d.%02d.%04d %02d:%02d %s(%s) %s\n".
    static std::string EntryHead();

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
};
