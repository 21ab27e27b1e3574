// CCorvelDlg: Corvel's main window: it starts the servers, sits in the tray, shows
// the navigation tree ("Benutzer", "Geräte", "Trace", "Optionen") on the left and
// one pane at a time beside it, the context help on the right, and hosts the trace
// and log panes.
//
// Closing or minimising the window hides it while the tray icon is there; without a
// system tray it stays open. Only "Beenden" (tray menu or "Datei") ends the program.
// Thread use: the window belongs to the user interface thread. AddLiveTrace (through
// the sink the window installs), the client trace sink and RefreshDeviceNodes may be
// called from any thread: they reach the window through queued calls.
#pragma once

#include <QGroupBox>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "server/config/error_log.h"
#include "server/config/settings.h"
#include "server/console/console_prompts.h"
#include "server/console/console_tray.h"
#include "server/console/dlg_devices.h"
#include "server/console/dlg_edit_help.h"
#include "server/console/dlg_errors.h"
#include "server/console/dlg_options.h"
#include "server/console/dlg_trace.h"
#include "server/console/dlg_user.h"
#include "server/console/dlg_users.h"
#include "server/console/dlg_webserver.h"
#include "server/http/trace_text_sink.h"
#include "server/runtime/server_runtime.h"

struct ConsoleOptions : ServerRuntimeOptions {
    bool messageBoxes = true;  // message boxes as dialogs (UI thread) / error.log entries
};

// Pane IDs: which pane a node of the tree shows. (The help keys name the panes by
// their help scopes instead, see dlg_edit_help.h.)
enum ConsolePaneId {
    kPaneUsers = 100,
    kPaneDevices = 101,
    kPaneLiveTrace = 102,
    kPaneWebserver = 103,
    kPaneUser = 104,
    kPaneEvents = 105,
    kPaneSyncLog = 106,
    kPaneOptions = 108,
    kPaneClientTrace = 109,
    kPaneWebLog = 200,
    kPaneXmlLog = 201,
};

class CCorvelDlg : public QMainWindow {
public:
    // settings, devices and errorLog must outlive the window. Installs the live
    // trace sink.
    CCorvelDlg(Settings& settings, CDeviceRecords& devices, CErrorLog& errorLog,
               ConsoleOptions options, CConsolePrompts prompts = CConsolePrompts::Dialogs());
    ~CCorvelDlg() override;  // stops the servers, then removes the sinks and hooks

    // The start-up: the server runtime (settings, web server, help texts,
    // error.log, trace port), the help timer, tray icon (the window is hidden when there is one,
    // shown otherwise), the panes' files and the tree.
    void Initialise();

    // Any thread: the live trace and the device nodes, through queued calls.
    void PostLiveTrace(const std::string& line);
    void RefreshDeviceNodes();
    // User interface thread: the device nodes follow the device-name map now.
    void RefreshDeviceNodesNow();

    // Selecting and double-clicking tree nodes.
    void SelectNode(QTreeWidgetItem* node);
    void OpenDeviceNode(QTreeWidgetItem* node);
    QWidget* CurrentPane() const { return frame_->currentWidget(); }

    // One tick of the context-help timer.
    void HelpTick();
    // settings.inf was changed by another program: the panes show it.
    void OnSettingsChangedOutside();
    // "Datei" → "Speichern...": passed to the current pane.
    void OnSaveCurrent();
    // "Beenden".
    void Quit();

    CTraceTextSink& ClientTraceSink() { return clientSink_; }
    int WebPort();    // the port listened on (0 when not started)
    int TracePort();  // likewise for the trace port

    // Whether the console sits in the system tray (then closing hides the window).
    bool HasTray() const { return tray_ != nullptr; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildMenus();
    void BuildTree();
    QTreeWidgetItem* AddPaneNode(QTreeWidgetItem* parent, const QString& text, int paneId);
    void AddUserNode(const std::shared_ptr<CPocketDevice>& record);
    void RemoveUserNode(const std::string& name);
    QTreeWidgetItem* DeviceNode(const std::string& deviceId) const;
    void ShowPane(QWidget* pane);

    // Widgets: children of the window, which deletes them; the tests find them by
    // their object names and help scopes.
    QTreeWidget* tree_ = nullptr;
    QStackedWidget* frame_ = nullptr;
    QGroupBox* helpGroup_ = nullptr;
    QPlainTextEdit* helpText_ = nullptr;
    QTreeWidgetItem* usersNode_ = nullptr;
    QTreeWidgetItem* devicesNode_ = nullptr;
    QTreeWidgetItem* traceNode_ = nullptr;
    QTreeWidgetItem* optionsNode_ = nullptr;
    QTimer helpTimer_;

    CDlgUsers* usersPane_ = nullptr;
    CDlgDevices* devicesPane_ = nullptr;
    CDlgtrace* livePane_ = nullptr;
    CDlgWebserver* webserverPane_ = nullptr;
    CDlgUser* userPane_ = nullptr;
    CDlgErrors* eventsPane_ = nullptr;
    CDlgErrors* syncLogPane_ = nullptr;
    CDlgOptions* optionsPane_ = nullptr;
    CDlgtrace* clientPane_ = nullptr;
    CDlgErrors* webLogPane_ = nullptr;
    CDlgErrors* xmlLogPane_ = nullptr;
    CDlgEditHelp* helpEditor_ = nullptr;

    std::unique_ptr<CConsoleTray> tray_;  // none without a system tray

    Settings& settings_;
    CDeviceRecords& devices_;
    CErrorLog& errorLog_;
    ConsoleOptions options_;
    CConsolePrompts prompts_;
    CTraceTextSink clientSink_;
    std::unique_ptr<ServerRuntime> runtime_;
    std::map<int, QWidget*> panes_;
    std::map<QTreeWidgetItem*, std::shared_ptr<CPocketDevice>> userNodes_;
    QPointer<QWidget> lastFocus_;
    QPointer<QWidget> lastHover_;
    bool quitting_ = false;
};

// Runs the console until "Beenden"; the exit status. With CORVEL_WINDOW_PICTURE set
// to a path, a PNG picture of the main window is written there once it is shown.
int RunConsole(const ConsoleOptions& options, CDeviceRecords& devices);
