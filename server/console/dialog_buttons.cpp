// The button rows of the console's dialogs and panes.
#include "server/console/dialog_buttons.h"

#include <QHBoxLayout>

#include "server/console/dlg_edit_help.h"

QDialogButtonBox* OkCancelButtons(QDialog* dialog, const QString& cancelText) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    HelpNamed(buttons->button(QDialogButtonBox::Ok), "okButton");
    QPushButton* cancel = HelpNamed(buttons->button(QDialogButtonBox::Cancel), "cancelButton");
    if (!cancelText.isEmpty()) cancel->setText(cancelText);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

void AddButtonRow(QWidget* pane, QBoxLayout* layout, std::initializer_list<PaneButton> buttons) {
    auto* row = new QHBoxLayout();
    for (const PaneButton& button : buttons) {
        *button.kept = HelpNamed(new QPushButton(button.text, pane), button.name);
        row->addWidget(*button.kept);
        QObject::connect(*button.kept, &QPushButton::clicked, pane, button.onClick);
    }
    row->addStretch();
    layout->addLayout(row);
}
