// Skiff's window: CSyncDlg with its status line, log list, connection list and the
// Sync/Stop, Save and Optionen buttons, and the two-page options dialog. A thin shell
// over the client core; nothing here decides anything about synchronising.
//
// The window, its timer and the options dialog live on the user interface thread.
// The run reaches the window only through AddLogLine, the status text and the
// run-state sink; those hand their work to the window's thread (queued), so the run
// never waits for the window.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "client/sync_engine.h"

// Options page 1: server, user name, password.
class CDlgOption1 : public QDialog {
public:
    explicit CDlgOption1(QWidget* parent = nullptr);
    QLineEdit* server;
    QLineEdit* username;
    QLineEdit* password;
    QLabel* info;         // "%d %d": screen width and height
    QPushButton* next;    // "Weiter"
    QPushButton* cancel;  // "Abbruch"
};

// Options page 2: the kinds check boxes (no effect), "Weiter" and "Zurück".
class CDlgOptions2 : public QDialog {
public:
    explicit CDlgOptions2(QWidget* parent = nullptr);
    QPushButton* next;  // "Weiter"
    QPushButton* back;  // "Zurück" (no effect)
    QLabel* info;       // "Statisch"
};

// The options flow: page 1 with the current settings; its OK copies the fields into
// the settings (memory) and shows page 2, its cancel ends the flow; page 2's OK saves
// the settings to the registry and ends, its cancel goes back to page 1. The pages
// are run by the given functions (QDialog::exec in the window; tests fill and answer).
// Returns true when the settings were saved.
bool RunOptionsFlow(const std::function<int(CDlgOption1&)>& runPage1,
                    const std::function<int(CDlgOptions2&)>& runPage2, QWidget* parent = nullptr);

class CSyncDlg : public QDialog {
public:
    explicit CSyncDlg(QWidget* parent = nullptr);
    ~CSyncDlg() override;

    // One timer tick: status line from the status text, connection list refreshed.
    void Tick();
    void OnSync();     // starts a run, or asks the running run to stop
    void OnSave();     // SaveAllSnapshots
    void OnOptions();  // the options flow
    SyncRunner& Runner() { return runner_; }

    QLabel* status;
    QListWidget* log;
    QListWidget* connections;
    QPushButton* sync;
    QPushButton* save;
    QPushButton* options;

private:
    QTimer timer_;
    SyncRunner runner_;
};

// Runs the window as the program's main dialog; returns the exit status.
int RunSkiffWindow(int argc, char** argv);
