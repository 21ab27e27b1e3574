// The live trace: one line at a time for the operator. Callable from any thread.
// The program installs the sink (the console's list, or standard output when
// headless); the sink decides whether TraceLive is on.
#pragma once

#include <functional>
#include <string>

using LiveTraceSink = std::function<void(const std::string& line)>;

// Replaces the sink; an empty function drops every line. Thread-safe.
void SetLiveTraceSink(LiveTraceSink sink);

// Hands one line to the sink, control characters written as "\xNN"
// (EscapeTraceLine) except CR and LF at its very end. Never throws.
void AddLiveTrace(const std::string& line);

// printf-style convenience; format must be a literal of the program, never stored
// or received text (pass such text as an argument).
void AddLiveTraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));
