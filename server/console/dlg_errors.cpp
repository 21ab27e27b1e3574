// The log pane: entries newest first, detail lines of the selected entry.
#include "server/console/dlg_errors.h"

#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <fstream>
#include <sstream>

#include "server/console/dialog_buttons.h"
#include "server/console/dlg_edit_help.h"
#include "server/console/dlg_trace.h"
#include "server/devices/sync_log.h"

CLogEntries ParseLogText(const std::string& text) {
    CLogEntries log;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        std::string line =
            text.substr(start, (end == std::string::npos ? text.size() : end) - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A line longer than one read continues as lines of their own.
        size_t offset = 0;
        do {
            log.lines.push_back(line.substr(offset, kMaxLogReadChars));
            offset += kMaxLogReadChars;
        } while (offset < line.size());
        start = next;
    }
    for (size_t i = 0; i < log.lines.size(); ++i) {
        if (log.lines[i].rfind("!!!", 0) == 0) {
            log.entries.insert(log.entries.begin(),
                               CLogEntries::Entry{log.lines[i], i, std::string()});
        }
    }
    return log;
}

CLogEntries ParseSyncLogText(const std::string& text) {
    CLogEntries log = ParseLogText(text);
    log.entries.clear();
    for (size_t i = 0; i < log.lines.size(); ++i) {
        std::vector<std::string> fields = SplitSyncLogLine(log.lines[i]);
        if (fields.size() < 2) continue;
        CLogEntries::Entry entry;
        entry.line = i;
        auto field = [&fields](size_t n) { return n < fields.size() ? fields[n] : std::string(); };
        CSyncCounts handheld, desktop;
        if (fields[1] == "sync" && ParseSyncCounts(field(3), "handheld", handheld) &&
            ParseSyncCounts(field(4), "desktop", desktop)) {
            entry.text = field(0) + "  " + field(2) + "  " + field(3) + ", " + field(4);
            auto counts = [](const CSyncCounts& c) {
                return std::to_string(c.added) + " neu, " + std::to_string(c.changed) +
                       " geändert, " + std::to_string(c.deleted) + " gelöscht";
            };
            entry.detail = "Synchronisation " + field(0) + " (UTC)\r\nOrdner: " + field(2) +
                           "\r\nAn das Gerät gesendet: " + counts(handheld) +
                           "\r\nVom Gerät übernommen: " + counts(desktop) + "\r\n";
            if (field(5).rfind("conflicts ", 0) == 0 && field(5) != "conflicts 0") {
                entry.text += ", " + field(5);
                entry.detail +=
                    "Konflikte (der Wert des Desktops gilt): " + field(5).substr(10) + "\r\n";
            }
        } else if (fields[1] == "conflict") {
            entry.text = field(0) + "  Konflikt  " + field(2) + "  " + field(4);
            entry.detail = "Konflikt " + field(0) +
                           " (UTC): beide Seiten haben das Feld geändert, "
                           "der Wert des Desktops gilt\r\nOrdner: " +
                           field(2) + "\r\nElement: " + field(3) + "\r\nFeld: " + field(4) +
                           "\r\nWert des Geräts (verworfen): " + field(5) +
                           "\r\nWert des Desktops: " + field(6) + "\r\n";
        } else {
            for (const std::string& part : fields)
                entry.text += (entry.text.empty() ? "" : "  ") + part;
            for (const std::string& part : fields) entry.detail += part + "\r\n";
        }
        log.entries.insert(log.entries.begin(), entry);
    }
    return log;
}

std::string EntryDetail(const CLogEntries& log, size_t entryIndex) {
    std::string detail;
    if (entryIndex >= log.entries.size()) return detail;
    if (!log.entries[entryIndex].detail.empty()) return log.entries[entryIndex].detail;
    for (size_t i = log.entries[entryIndex].line + 1; i < log.lines.size(); ++i) {
        if (log.lines[i].rfind("!!!", 0) == 0) break;
        detail += log.lines[i];
        detail += "\r\n";
    }
    return detail;
}

CDlgErrors::CDlgErrors(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    list = HelpNamed(new QListWidget(this), "entries");
    list->setFont(ConsoleListFont());
    text = HelpNamed(new QPlainTextEdit(this), "detail");
    text->setReadOnly(true);
    layout->addWidget(list, 2);
    layout->addWidget(text, 1);
    AddButtonRow(
        this, layout,
        {{"Aktualisieren", "refreshButton", &refreshButton, [this] { Refresh(); }},
         {QString::fromUtf8("Löschen"), "deleteButton", &deleteButton, [this] { OnDelete(); }},
         {"Kopieren", "copyButton", &copyButton, [this] { OnCopy(); }}});
    connect(list, &QListWidget::currentRowChanged, this, [this](int row) { SelectEntry(row); });
}

void CDlgErrors::SetFileName(const std::string& path, CLogFormat format) {
    path_ = path;
    format_ = format;
}

void CDlgErrors::SetDeleteHooks(std::function<void()> before, std::function<void()> after) {
    beforeDelete_ = std::move(before);
    afterDelete_ = std::move(after);
}

void CDlgErrors::Refresh() {
    list->clear();
    text->clear();
    log_ = CLogEntries();
    if (path_.empty()) return;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    std::ostringstream content;
    content << in.rdbuf();
    log_ = format_ == CLogFormat::kSyncLog ? ParseSyncLogText(content.str())
                                           : ParseLogText(content.str());
    for (const CLogEntries::Entry& entry : log_.entries) {
        list->addItem(QString::fromStdString(entry.text));
    }
}

void CDlgErrors::SelectEntry(int row) {
    if (row < 0) {
        text->clear();
        return;
    }
    text->setPlainText(QString::fromStdString(EntryDetail(log_, static_cast<size_t>(row))));
}

void CDlgErrors::OnDelete() {
    if (beforeDelete_) beforeDelete_();
    if (!path_.empty()) unlink(path_.c_str());
    if (afterDelete_) afterDelete_();
    log_ = CLogEntries();
    list->clear();
    text->clear();
}

void CDlgErrors::OnCopy() { QApplication::clipboard()->setText(text->toPlainText()); }
