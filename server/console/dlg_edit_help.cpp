// Help keys and the help editor.
#include "server/console/dlg_edit_help.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

namespace {

bool IsScope(const QWidget* widget) { return widget->property(kHelpScopeProperty).isValid(); }

// A control of our own: named, and not one of Qt's inner widgets ("qt_...").
bool IsNamedControl(const QWidget* widget) {
    const QString name = widget->objectName();
    return !name.isEmpty() && !name.startsWith("qt_") && !IsScope(widget);
}

const QWidget* EnclosingScope(const QWidget* widget) {
    for (const QWidget* parent = widget->parentWidget(); parent != nullptr;
         parent = parent->parentWidget()) {
        if (IsScope(parent)) return parent;
    }
    return nullptr;
}

}  // namespace

void SetHelpScope(QWidget* widget, const char* name) {
    widget->setProperty(kHelpScopeProperty, QString::fromUtf8(name));
}

std::string HelpScopeName(const QWidget* widget) {
    if (widget == nullptr) return std::string();
    return widget->property(kHelpScopeProperty).toString().toStdString();
}

std::string HelpKeyFor(const QWidget* widget) {
    if (auto* label = qobject_cast<const QLabel*>(widget); label != nullptr && label->buddy()) {
        widget = label->buddy();
    }
    while (widget != nullptr && !IsNamedControl(widget)) {
        if (IsScope(widget)) return std::string();
        widget = widget->parentWidget();
    }
    if (widget == nullptr) return std::string();
    const QWidget* scope = EnclosingScope(widget);
    if (scope == nullptr) return std::string();
    return widget->objectName().toStdString() + ":" + HelpScopeName(scope);
}

std::vector<std::string> HelpKeysOf(const QWidget* scope) {
    std::vector<std::string> keys;
    for (const QWidget* child : scope->findChildren<QWidget*>()) {
        if (IsNamedControl(child) && EnclosingScope(child) == scope) {
            keys.push_back(HelpKeyFor(child));
        }
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

CDlgEditHelp::CDlgEditHelp(Settings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
    setWindowTitle(QString::fromUtf8("Hilfe ändern"));
    SetHelpScope(this, "editHelp");
    auto* layout = new QVBoxLayout(this);
    idLabel = new QLabel(this);
    idLabel->setObjectName("idLabel");
    text = new QPlainTextEdit(this);
    text->setObjectName("text");
    layout->addWidget(idLabel);
    layout->addWidget(text);
    auto* buttons = new QHBoxLayout();
    saveButton = new QPushButton("Speichern", this);
    saveButton->setObjectName("saveButton");
    saveButton->setEnabled(false);
    cancelButton = new QPushButton("Abbruch", this);
    cancelButton->setObjectName("cancelButton");
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
    saveButton->setEnabled(!key.empty());
}

bool CDlgEditHelp::OnSave() {
    if (key_.empty()) return false;
    settings_.SetHelpText(key_, text->toPlainText().toStdString());
    return settings_.SaveHelpTexts();
}

void CDlgEditHelp::OnCancel() {
    text->setPlainText(QString::fromStdString(settings_.GetHelpText(key_)));
    hide();
}
