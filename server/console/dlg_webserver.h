// CDlgWebserver: the web server pane (base directory, virtual directories) and
// CDlgNewDir, the dialog for one virtual directory.
// Thread use: user interface thread only; the records are changed through
// Settings, which guards them and hands connection threads copies.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "server/config/settings.h"
#include "server/console/console_prompts.h"

class CDlgNewDir : public QDialog {
public:
    explicit CDlgNewDir(const CWebDirectory& start = CWebDirectory(), QWidget* parent = nullptr);
    CWebDirectory Value() const;

private:
    QLineEdit* directory;
    QLineEdit* url;
    QLineEdit* realm;
    QLineEdit* username;
    QLineEdit* password;
};

class CDlgWebserver : public QWidget {
public:
    CDlgWebserver(Settings& settings, CConsolePrompts& prompts, QWidget* parent = nullptr);

    // The virtual directory dialog (tests answer it themselves); none: cancelled.
    std::function<std::optional<CWebDirectory>(QWidget*, const CWebDirectory& start)> editDirectory;
    // The folder chooser for "..."; none: cancelled.
    std::function<std::optional<std::string>(QWidget*)> chooseBaseDir;

    // The base directory field and one row per record in map order.
    void Fill();
    // "...": a chosen folder becomes WebBaseDir (saved at once).
    void OnBrowse();
    // Leaving the field: its text becomes WebBaseDir (saved at once).
    void OnBaseDirEdited();
    // "+": a new record; a Directory that already has a record keeps the old one. A
    // record settings.inf cannot hold (WebDirectoryProblem) is refused with an
    // error box. False when nothing was added.
    bool OnAdd();
    // "Ändern": edits the selected record. A changed Directory moves the record to
    // its new key, so the web server finds it under the name shown; a name that
    // another record has already is refused and both records stay.
    void OnChange();
    // "-": removes the selected record.
    void OnRemove();

private:
    // Controls: children of the widget, which deletes them; tests find them by
    // their object names.
    QLineEdit* baseDir;
    QPushButton* browseButton;
    QTreeWidget* list;
    QPushButton* addButton;
    QPushButton* removeButton;
    QPushButton* changeButton;

    std::string SelectedDirectory() const;

    Settings& settings_;
    CConsolePrompts& prompts_;
};
