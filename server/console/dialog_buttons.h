// The button rows of the console's dialogs and panes, named for the context help
// (HelpNamed) like every other control.
// Thread use: user interface thread only.
#pragma once

#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QString>
#include <functional>
#include <initializer_list>

// The OK and Cancel buttons of dialog ("okButton", "cancelButton"): OK accepts,
// Cancel rejects. cancelText replaces Qt's own Cancel text when given. The box is
// a child of dialog; the caller places it.
QDialogButtonBox* OkCancelButtons(QDialog* dialog, const QString& cancelText = QString());

// One push button of a pane's button row: its text, its object name, where the
// pane keeps it and what a click does.
struct PaneButton {
    QString text;
    const char* name;
    QPushButton** kept;
    std::function<void()> onClick;
};

// The buttons, children of pane, in one row from the left below what layout holds.
void AddButtonRow(QWidget* pane, QBoxLayout* layout, std::initializer_list<PaneButton> buttons);
