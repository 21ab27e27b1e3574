// One process-wide receiver of text lines (a log list, a trace, standard output),
// which the program installs and removes.
//
// Write hands a line to the installed function, or does nothing when none is
// installed; a function that throws loses that line and nothing else.
//
// Thread use: every member may be called from any thread. With Calls::kOneAtATime
// the function is called under the sink's lock: calls never overlap, and once Set
// returns the function it replaced is no longer running (so it may refer to
// things that end after Set). With Calls::kConcurrent the function is copied under
// the lock and called outside it, so it may take locks of its own that a writer
// already holds; it must bear overlapping calls, and a replaced one may still
// finish a call after Set returned.
#pragma once

#include <functional>
#include <mutex>
#include <string>

class LineSink {
public:
    using Function = std::function<void(const std::string& line)>;
    enum class Calls { kOneAtATime, kConcurrent };

    explicit LineSink(Calls calls) : calls_(calls) {}
    LineSink(const LineSink&) = delete;
    LineSink& operator=(const LineSink&) = delete;

    // Replaces the function; an empty one drops every line.
    void Set(Function function);
    void Write(const std::string& line) noexcept;
    // Whether a function is installed now (a writer may skip building a line that
    // would be dropped).
    bool Installed() const;

private:
    const Calls calls_;
    mutable std::mutex mutex_;  // guards function_ (and, one at a time, the calls into it)
    Function function_;
};
