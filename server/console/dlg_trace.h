// CDlgtrace: a trace pane (the live trace and the client trace): a list of lines
// with "Löschen" and "Kopieren"; "Speichern..." of the menu "Datei" writes it to a file.
//
// The list holds at most maxLines lines; when a line is added beyond that, the
// oldest lines are dropped, so a long run cannot exhaust memory.
// Thread use: PostLine from any thread (the line reaches the list through a queued
// call on the user interface thread, in the order posted); the rest on the user
// interface thread only.
#pragma once

#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <cstddef>
#include <string>

// Lines a trace pane keeps; older lines are dropped.
inline constexpr int kMaxLiveTraceLines = 5000;

class CDlgtrace : public QWidget {
public:
    explicit CDlgtrace(int maxLines = kMaxLiveTraceLines, QWidget* parent = nullptr);

    // Appends text (user interface thread). A text holding line breaks (LF, CR or
    // CR LF) becomes one list line per line of it, so every list line is one line of
    // the saved file; a break at the very end adds no empty line.
    void AddLine(const QString& line);
    // Hands a line to the user interface thread; callable from any thread.
    void PostLine(const std::string& line);

    QStringList Lines() const;
    // Every line joined with CR LF (what "Kopieren" puts on the clipboard).
    QString JoinedText() const;
    // Writes every line followed by a line feed; false when the file cannot be written.
    bool SaveTo(const QString& path) const;

    void OnClear();
    void OnCopy();
    // The save-file dialog proposing "trace.txt", then SaveTo.
    void OnSave();

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QListWidget* list;
    QPushButton* clearButton;
    QPushButton* copyButton;

    int maxLines_;
};

// The list font of the trace and log panes: Courier New 11 pt, or the system's
// fixed font when Courier New is not installed.
QFont ConsoleListFont();
