// CDlgErrors: a log pane (event log, web log, protocol log, device sync log): the
// entries of a log file newest first, and the lines of the selected entry.
//
// An entry is a line beginning with "!!!"; its detail is the lines after it up to
// the next entry or the end of the file. A device's sync.log (sync_log.h) is read
// in its own form: every line but the header is an entry, its detail the line's
// fields with their names.
// Thread use: user interface thread only.
#pragma once

#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Characters taken per read of a log line; a longer line continues as the next line.
inline constexpr size_t kMaxLogReadChars = 1022;

struct CLogEntries {
    std::vector<std::string> lines;  // every line of the file, without its line end
    struct Entry {
        std::string text;
        size_t line = 0;     // index into lines
        std::string detail;  // sync.log entries: the detail shown (lines end with CR LF)
    };
    std::vector<Entry> entries;  // newest (last in the file) first
};

// Splits a log text into lines (LF or CR LF ends, pieces of at most
// kMaxLogReadChars) and collects its entries newest first.
CLogEntries ParseLogText(const std::string& text);
// The entries of a sync.log text, newest first: "<time>  <folder>  handheld +2 ~1 -0,
// desktop +1 ~0 -0" for a sync line, "<time>  Konflikt  <folder>  <field>" for a
// conflict line.
CLogEntries ParseSyncLogText(const std::string& text);
// The lines after entry's line up to the next "!!!" line, each followed by CR LF
// (for sync.log entries their detail).
std::string EntryDetail(const CLogEntries& log, size_t entryIndex);

enum class CLogFormat { kEntries, kSyncLog };

class CDlgErrors : public QWidget {
public:
    explicit CDlgErrors(QWidget* parent = nullptr);

    void SetFileName(const std::string& path, CLogFormat format = CLogFormat::kEntries);
    const std::string& FileName() const { return path_; }
    // Runs before and after the file is deleted by "Löschen" (the main window closes
    // and reopens error.log there).
    void SetDeleteHooks(std::function<void()> before, std::function<void()> after);

    // "Aktualisieren": reads the file again; a missing file leaves the pane empty.
    void Refresh();
    // Shows the detail of entry row (as selecting it does).
    void SelectEntry(int row);
    // "Löschen": deletes the file and empties the pane.
    void OnDelete();
    // "Kopieren": the text field to the clipboard.
    void OnCopy();

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QListWidget* list;
    QPlainTextEdit* text;
    QPushButton* refreshButton;
    QPushButton* deleteButton;
    QPushButton* copyButton;

    std::string path_;
    CLogFormat format_ = CLogFormat::kEntries;
    CLogEntries log_;
    std::function<void()> beforeDelete_;
    std::function<void()> afterDelete_;
};
