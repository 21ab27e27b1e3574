// The questions the panes ask the operator: a text (CdlgInput), Yes/No and an error
// box. Panes take them as functions so tests can answer without a modal dialog.
// Thread use: user interface thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <functional>
#include <optional>
#include <string>

class QWidget;

// The input dialog: one edit field; title and label are the field name, the field
// starts with the given value. OK returns the edited value.
class CdlgInput : public QDialog {
public:
    CdlgInput(const std::string& fieldName, const std::string& value, QWidget* parent = nullptr);
    std::string Value() const;

private:
    QLabel* label;
    QLineEdit* edit;
};

struct CConsolePrompts {
    // The edited value, or none when the operator cancelled.
    std::function<std::optional<std::string>(QWidget* parent, const std::string& fieldName,
                                             const std::string& value)>
        input;
    // True for Yes.
    std::function<bool(QWidget* parent, const std::string& question)> yesNo;
    std::function<void(QWidget* parent, const std::string& text)> error;

    // Modal dialogs on the user interface thread.
    static CConsolePrompts Dialogs();
};
