// Help keys and the help editor.
#include "server/console/dlg_edit_help.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

std::string HelpKeyFor(const QWidget* widget) {
    if (widget == nullptr) return std::string();
    int id = widget->property(kHelpIdProperty).toInt();
    if (id == 0) return std::string();
    for (const QWidget* parent = widget->parentWidget(); parent != nullptr;
         parent = parent->parentWidget()) {
        if (qobject_cast<const QComboBox*>(parent) != nullptr) continue;
        int parentId = parent->property(kHelpIdProperty).toInt();
        if (parentId != 0) return std::to_string(id) + ":" + std::to_string(parentId);
    }
    return std::string();
}

void AssignHelpIds(QWidget* pane, int paneId) {
    pane->setProperty(kHelpIdProperty, paneId);
    int next = kFirstControlHelpId;
    for (QWidget* child : pane->findChildren<QWidget*>()) {
        if (child->focusPolicy() != Qt::NoFocus || qobject_cast<QLabel*>(child) != nullptr) {
            child->setProperty(kHelpIdProperty, next++);
        }
    }
}

CDlgEditHelp::CDlgEditHelp(Settings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
    setWindowTitle(QString::fromUtf8("Hilfe ändern"));
    auto* layout = new QVBoxLayout(this);
    idLabel = new QLabel(this);
    text = new QPlainTextEdit(this);
    layout->addWidget(idLabel);
    layout->addWidget(text);
    auto* buttons = new QHBoxLayout();
    saveButton = new QPushButton("Speichern", this);
    cancelButton = new QPushButton("Abbruch", this);
    buttons->addWidget(saveButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    connect(saveButton, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
}

void CDlgEditHelp::ShowKey(const std::string& key) {
    key_ = key;
    idLabel->setText(QString::fromStdString(key));
    text->setPlainText(QString::fromStdString(settings_.GetHelpText(key)));
}

void CDlgEditHelp::OnSave() {
    if (key_.empty()) return;
    settings_.SetHelpText(key_, text->toPlainText().toStdString());
    settings_.SaveHelpTexts();
}

void CDlgEditHelp::OnCancel() {
    text->setPlainText(QString::fromStdString(settings_.GetHelpText(key_)));
    hide();
}
