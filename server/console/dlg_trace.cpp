// The trace pane: bounded line list, clipboard and file output.
#include "server/console/dlg_trace.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QSaveFile>
#include <QVBoxLayout>

#include "server/console/dialog_buttons.h"
#include "server/console/dlg_edit_help.h"

QFont ConsoleListFont() {
    QFont font("Courier New", 11);
    if (QFontInfo(font).family() != "Courier New") {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(11);
    }
    return font;
}

CDlgtrace::CDlgtrace(int maxLines, QWidget* parent) : QWidget(parent), maxLines_(maxLines) {
    auto* layout = new QVBoxLayout(this);
    list = HelpNamed(new QListWidget(this), "lines");
    list->setFont(ConsoleListFont());
    list->setUniformItemSizes(true);
    layout->addWidget(list);
    AddButtonRow(
        this, layout,
        {{QString::fromUtf8("Löschen"), "clearButton", &clearButton, [this] { OnClear(); }},
         {"Kopieren", "copyButton", &copyButton, [this] { OnCopy(); }}});
}

void CDlgtrace::AddLine(const QString& text) {
    static const QRegularExpression kLineBreak("\\r\\n|\\r|\\n");
    QStringList lines = text.split(kLineBreak);
    if (lines.size() > 1 && lines.back().isEmpty()) lines.removeLast();
    list->addItems(lines);
    int excess = list->count() - maxLines_;
    for (int i = 0; i < excess; ++i) delete list->takeItem(0);
    list->scrollToBottom();
}

void CDlgtrace::PostLine(const std::string& line) {
    QString text = QString::fromStdString(line);
    QMetaObject::invokeMethod(
        this, [this, text] { AddLine(text); }, Qt::QueuedConnection);
}

QStringList CDlgtrace::Lines() const {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}

QString CDlgtrace::JoinedText() const { return Lines().join("\r\n"); }

bool CDlgtrace::SaveTo(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    for (const QString& line : Lines()) {
        QByteArray bytes = line.toUtf8();
        bytes.append('\n');
        if (file.write(bytes) != bytes.size()) return false;
    }
    return file.commit();
}

void CDlgtrace::OnClear() { list->clear(); }

void CDlgtrace::OnCopy() { QApplication::clipboard()->setText(JoinedText()); }

void CDlgtrace::OnSave() {
    // QFileDialog asks before overwriting an existing file.
    QString path = QFileDialog::getSaveFileName(this, "Speichern", "trace.txt", "*.txt");
    if (path.isEmpty()) return;
    if (!path.contains('.')) path += ".txt";
    SaveTo(path);
}
