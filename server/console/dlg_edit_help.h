// Context help: the help key of a control and the help editor ("Hilfe ändern").
//
// Every pane and dialog is a help scope with a name of its own (SetHelpScope); its
// controls carry stable object names. A control's help key is "<control>:<scope>",
// for example "newButton:users": the object name of the control and the name of the
// nearest enclosing scope. Qt's own inner widgets (viewports, scroll bars, the
// edit field of a combo box) stand for the named control around them, and a label
// stands for the field it is the buddy of. The key is empty for a scope itself,
// for a widget outside every scope and for an unnamed widget that no named
// control encloses. Keys stay the same from one build to the next as long as the
// names do, so help.inf (shipped beside the program) fits every build.
// Thread use: user interface thread only.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <string>
#include <vector>

#include "server/config/settings.h"

inline constexpr const char* kHelpScopeProperty = "helpScope";

// Gives a control its stable object name; returns it.
template <typename Widget>
Widget* HelpNamed(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromUtf8(name));
    return widget;
}
// Makes widget a help scope called name.
void SetHelpScope(QWidget* widget, const char* name);
// The scope name of widget; empty when it is not a scope.
std::string HelpScopeName(const QWidget* widget);
std::string HelpKeyFor(const QWidget* widget);
// The keys of every named control of scope (not those of scopes inside it), sorted.
std::vector<std::string> HelpKeysOf(const QWidget* scope);

class CDlgEditHelp : public QWidget {
public:
    explicit CDlgEditHelp(Settings& settings, QWidget* parent = nullptr);

    // Shows key in the ID label and its stored text in the field (the window stays
    // as it is, hidden or shown). "Speichern" is enabled only for a non-empty key.
    void ShowKey(const std::string& key);
    const std::string& Key() const { return key_; }
    // "Speichern": stores the text under the shown key and writes help.inf; false
    // when there is no key or the file cannot be written.
    bool OnSave();
    // "Abbruch": the stored text back into the field, then hides the editor.
    void OnCancel();

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QLabel* idLabel;
    QPlainTextEdit* text;
    QPushButton* saveButton;
    QPushButton* cancelButton;

    Settings& settings_;
    std::string key_;
};
