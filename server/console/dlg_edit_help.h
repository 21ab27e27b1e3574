// Context help: the help key of a control and the help editor ("Hilfe ändern").
//
// A control's ID is its "helpId" property (the panes carry their pane IDs, their
// controls are numbered by AssignHelpIds). Its help key is "%d:%d": its own ID and
// the ID of the nearest enclosing widget that has one and is not a combo box;
// empty when there is no such widget or the control has no ID.
// Thread use: user interface thread only.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "server/config/settings.h"

inline constexpr const char* kHelpIdProperty = "helpId";
// The first ID given to the controls of a pane.
inline constexpr int kFirstControlHelpId = 1000;

std::string HelpKeyFor(const QWidget* widget);
// Gives every descendant of pane that takes focus or shows text an ID, in creation order.
void AssignHelpIds(QWidget* pane, int paneId);

class CDlgEditHelp : public QWidget {
public:
    explicit CDlgEditHelp(Settings& settings, QWidget* parent = nullptr);

    // Shows key in the ID label and its stored text in the field (the window stays
    // as it is, hidden or shown).
    void ShowKey(const std::string& key);
    const std::string& Key() const { return key_; }
    // "Speichern": stores the text under the shown key and writes help.inf.
    void OnSave();
    // "Abbruch": the stored text back into the field, then hides the editor.
    void OnCancel();

    QLabel* idLabel;
    QPlainTextEdit* text;
    QPushButton* saveButton;
    QPushButton* cancelButton;

private:
    Settings& settings_;
    std::string key_;
};
