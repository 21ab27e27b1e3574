// Where the codec's trace lines go. Corvel points it at the console's live trace
// (AddLiveTrace), Skiff at its log list (AddLogLine); until a program sets it, the
// lines are dropped. The codec itself depends on neither program.
#pragma once

#include <functional>
#include <string>

using WBXMLTraceSink = std::function<void(const std::string& line)>;

// Replaces the sink; an empty function drops every line. Thread-safe.
void SetWBXMLTraceSink(WBXMLTraceSink sink);

// Hands one line to the sink. Thread-safe; never throws.
void AddWBXMLTrace(const std::string& line);
