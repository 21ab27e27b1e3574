// The log list and the status line of Skiff.
//
// AddLogLine hands one line to the installed sink (the window's log list, or standard
// output for the command line); before a sink is installed it does nothing. The status
// text is one process-wide text that the sync run writes and the window's timer (or
// the command line's progress line) reads.
//
// Thread-safety: every function may be called from any thread; a sink is called on
// the caller's thread, one line at a time.
#pragma once

#include <functional>
#include <string>

using LogLineSink = std::function<void(const std::string& line)>;
using StatusSink = std::function<void(const std::string& text)>;

// Replaces the sink (an empty function removes it).
void SetLogLineSink(LogLineSink sink);
// Appends one line; never throws (a failing sink is ignored).
void AddLogLine(const std::string& line);
// printf-style; format is always a literal of the program, never stored or received
// text (pass such text as an argument).
void AddLogLineF(const char* format, ...) __attribute__((format(printf, 1, 2)));

void SetStatusText(const std::string& text);
std::string StatusText();
// Called with every new status text (the command line's progress line); optional.
void SetStatusSink(StatusSink sink);
