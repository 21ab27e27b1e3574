// The operator's dialogs behind CConsolePrompts.
#include "server/console/console_prompts.h"

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/console/dialog_buttons.h"
#include "server/console/dlg_edit_help.h"

CdlgInput::CdlgInput(const std::string& fieldName, const std::string& value, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromStdString(fieldName));
    SetHelpScope(this, "input");
    auto* layout = new QVBoxLayout(this);
    label = new QLabel(QString::fromStdString(fieldName), this);
    edit = HelpNamed(new QLineEdit(QString::fromStdString(value), this), "value");
    label->setBuddy(edit);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(OkCancelButtons(this));
}

std::string CdlgInput::Value() const { return edit->text().toStdString(); }

CConsolePrompts CConsolePrompts::Dialogs() {
    CConsolePrompts prompts;
    prompts.input = [](QWidget* parent, const std::string& fieldName,
                       const std::string& value) -> std::optional<std::string> {
        CdlgInput dialog(fieldName, value, parent);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.Value();
    };
    prompts.yesNo = [](QWidget* parent, const std::string& question) {
        return QMessageBox::question(parent, "Corvel", QString::fromStdString(question),
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    prompts.error = [](QWidget* parent, const std::string& text) {
        QMessageBox::critical(parent, "Corvel", QString::fromStdString(text));
    };
    return prompts;
}
