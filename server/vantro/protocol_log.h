// wbxml.log: the protocol trace of the Vantro server (request dump, answer dump and
// the log lines of the request), written while the protocol-trace switch is on.
//
// Each request opens the file for appending and closes it at the end. A file that
// has reached kMaxLogBytes is renamed to wbxml.log.1 (replacing an older one) before
// the request's entry is written, so the trace never grows without bound.
//
// The entry is written piece by piece through Stream() (or Write), straight into the
// file's buffer: a dump of any size is never held whole in memory. Stream() and
// Write keep their order in the file. What goes through Stream() comes from the
// request: it is escaped (log_text.h), so it never forges an entry head, and it can
// be limited (LimitStream), so one request's dump stays small however large or
// deeply nested its document; Write takes the program's own text as it is.
//
// One object per request; the Vantro server runs one request at a time.
#pragma once

#include <cstdio>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "server/config/log_text.h"

class CProtocolLog {
public:
    static constexpr long long kMaxLogBytes = 10LL * 1024 * 1024;

    CProtocolLog();
    // Writes what Stream() still holds and closes the file.
    ~CProtocolLog();
    CProtocolLog(const CProtocolLog&) = delete;
    CProtocolLog& operator=(const CProtocolLog&) = delete;

    // Opens <dataFolder>/wbxml.log for appending (rotating it first when full).
    // False when it cannot be opened: the request then writes no trace.
    bool Open(const std::string& dataFolder);
    bool IsOpen() const { return static_cast<bool>(file_); }
    // Appends text after what Stream() has taken so far, unescaped and unlimited;
    // nothing when not open.
    void Write(std::string_view text);
    // From now on Stream() writes at most maxBytes more (counted before escaping);
    // the rest is dropped and counted.
    void LimitStream(size_t maxBytes);
    // Characters Stream() dropped since the last LimitStream (after writing what it
    // holds).
    size_t StreamDropped();
    // The stream into the file; while the file is not open, what it takes is
    // dropped. A write error of the file sets the stream's badbit.
    std::ostream& Stream() { return stream_; }
    // Writes what Stream() still holds and closes the file.
    void Close();

    // The entry head: "\n!!!dd.mm.yyyy hh:mm ("...") \n" with the local time and
    // three empty texts: "\n!!!%02d.%02d.%04d %02d:%02d %s(%s) %s\n".
    static std::string EntryHead();

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    // Collects the stream's characters and hands them to the file in large pieces.
    class FileBuffer : public std::streambuf {
    public:
        explicit FileBuffer(CProtocolLog& log);
        // Hands the collected characters to the file; false on a write error.
        bool Drain();

    protected:
        int_type overflow(int_type ch) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;
        int sync() override { return Drain() ? 0 : -1; }

    private:
        CProtocolLog& log_;
        std::vector<char> space_;
    };

    // Writes bytes to the open file; false on a write error (true when not open).
    bool WriteFile(const char* data, size_t size);
    // Stream() text: limited, escaped, then written.
    bool WriteStreamed(const char* data, size_t size);

    std::unique_ptr<std::FILE, FileCloser> file_;
    CLogEscaper escaper_;
    std::string escaped_;  // scratch space of WriteStreamed
    size_t streamLeft_ = static_cast<size_t>(-1);
    size_t streamDropped_ = 0;
    FileBuffer buffer_;
    std::ostream stream_;
};
