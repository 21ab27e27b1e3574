// Message boxes of the original platform. A worker thread (or a server without a
// display) never blocks on a dialog: the text goes to the installed sink, which by
// default writes it to standard error. The program installs a sink that writes an
// error.log entry and a live trace line; the console shows real dialogs only on its
// user interface thread.
#pragma once

#include <functional>
#include <string>

using MessageBoxSink = std::function<void(const std::string& text, const std::string& caption)>;

// Replaces the sink; an empty function restores the default. Thread-safe.
void SetMessageBoxSink(MessageBoxSink sink);

// Reports text with caption through the current sink. Callable from any thread;
// never throws (a failing sink is ignored).
void ShowMessageBox(const std::string& text, const std::string& caption = std::string());
