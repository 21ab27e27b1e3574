// The main window: start-up, tree, panes, tray icon, menus and context help.
#include "server/console/corvel_dlg.h"

#include <signal.h>

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>
#include <cstdlib>

#include "common/base/version.h"
#include "platform/win/message_box.h"
#include "server/config/device_list.h"
#include "server/config/live_trace.h"
#include "server/config/sync_log.h"
#include "server/console/qt_translations.h"

namespace {

constexpr int kPaneRole = Qt::UserRole;          // int pane ID, 0 for none
constexpr int kDeviceIdRole = Qt::UserRole + 1;  // device nodes: the device ID

}  // namespace

CCorvelDlg::CCorvelDlg(Settings& settings, CErrorLog& errorLog, ConsoleOptions options,
                       CConsolePrompts prompts)
    : settings_(settings),
      errorLog_(errorLog),
      options_(std::move(options)),
      prompts_(std::move(prompts)),
      clientSink_([this](const std::string& line) { clientPane->PostLine(line); }) {
    setWindowTitle("Vantro Mobile");
    SetHelpScope(this, "main");
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    tree = HelpNamed(new QTreeWidget(central), "navigation");
    tree->setHeaderHidden(true);
    tree->setFixedWidth(180);
    frame = new QStackedWidget(central);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setContentsMargins(2, 4, 4, 4);
    helpGroup = new QGroupBox("Hilfe", central);
    helpGroup->setFixedWidth(190);
    auto* helpLayout = new QVBoxLayout(helpGroup);
    helpText = HelpNamed(new QPlainTextEdit(helpGroup), "helpText");
    helpText->setReadOnly(true);
    helpLayout->addWidget(helpText);
    layout->addWidget(tree);
    layout->addWidget(frame, 1);
    layout->addWidget(helpGroup);
    setCentralWidget(central);
    resize(1000, 620);

    // The trace panes exist first, so the servers' start-up already reaches them.
    livePane = new CDlgtrace(kMaxLiveTraceLines, frame);
    clientPane = new CDlgtrace(kMaxLiveTraceLines, frame);
    SetHelpScope(livePane, "liveTrace");
    SetHelpScope(clientPane, "clientTrace");
    SetLiveTraceSink([this](const std::string& line) { PostLiveTrace(line); });
    if (options_.messageBoxes) {
        SetMessageBoxSink([this](const std::string& text, const std::string& caption) {
            if (QThread::currentThread() == qApp->thread()) {
                QMessageBox::warning(this,
                                     QString::fromStdString(caption.empty() ? "Corvel" : caption),
                                     QString::fromStdString(text));
                return;
            }
            std::string entry = MessageBoxEntryText(text, caption);
            errorLog_.Add(entry);
            AddLiveTrace(entry);
        });
    }
    settings_.SetDeviceListChangedHook([this] { RefreshDeviceNodes(); });
    connect(&helpTimer, &QTimer::timeout, this, [this] { HelpTick(); });
}

CCorvelDlg::~CCorvelDlg() {
    // Servers first: once their threads have ended nobody calls the sinks any more.
    helpTimer.stop();
    runtime_.reset();
    settings_.SetSettingsChangedHook(nullptr);
    settings_.SetDeviceListChangedHook(nullptr);
    if (options_.messageBoxes) SetMessageBoxSink(nullptr);
    SetLiveTraceSink(nullptr);
}

void CCorvelDlg::Initialise() {
    // 1. The window icon.
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    // 2. Settings, web server, help texts, error.log, trace port.
    runtime_ = std::make_unique<ServerRuntime>(settings_, errorLog_, clientSink_, options_);
    const std::string errorLogPath = runtime_->ErrorLogPath();
    // 3. The context-help timer.
    helpTimer.start(1000);
    // 4. Menus; 5. the tray icon.
    BuildMenus();
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray = new QSystemTrayIcon(windowIcon(), this);
        tray->setToolTip("Vantro Mobile");
        tray->setContextMenu(trayMenu);
        tray->show();
        hide();
    } else {
        show();  // no tray to come back through: the window stays open
    }
    // 6. The panes and the help editor.
    usersPane = new CDlgUsers(settings_, prompts_, frame);
    devicesPane = new CDlgDevices(settings_, prompts_, frame);
    webserverPane = new CDlgWebserver(settings_, prompts_, frame);
    userPane = new CDlgUser(settings_, prompts_, frame);
    eventsPane = new CDlgErrors(frame);
    syncLogPane = new CDlgErrors(frame);
    optionsPane = new CDlgOptions(settings_, prompts_, frame);
    webLogPane = new CDlgErrors(frame);
    xmlLogPane = new CDlgErrors(frame);
    helpEditor = new CDlgEditHelp(settings_, this);
    SetHelpScope(eventsPane, "events");
    SetHelpScope(syncLogPane, "syncLog");
    SetHelpScope(webLogPane, "webLog");
    SetHelpScope(xmlLogPane, "xmlLog");
    panes_ = {{kPaneUsers, usersPane},        {kPaneDevices, devicesPane},
              {kPaneLiveTrace, livePane},     {kPaneWebserver, webserverPane},
              {kPaneUser, userPane},          {kPaneEvents, eventsPane},
              {kPaneSyncLog, syncLogPane},    {kPaneOptions, optionsPane},
              {kPaneClientTrace, clientPane}, {kPaneWebLog, webLogPane},
              {kPaneXmlLog, xmlLogPane}};
    auto* blank = new QWidget(frame);
    frame->addWidget(blank);
    for (const auto& [id, pane] : panes_) frame->addWidget(pane);
    usersPane->Fill();
    webserverPane->Fill();
    usersPane->userAdded = [this](const std::shared_ptr<CPocketDevice>& record) {
        AddUserNode(record);
    };
    usersPane->userDeleted = [this](const std::string& name) { RemoveUserNode(name); };
    userPane->userRenamed = [this](const std::string&, const std::string& newName) {
        for (const auto& [node, record] : userNodes_) {
            if (record == userPane->Record()) node->setText(0, QString::fromStdString(newName));
        }
        usersPane->Fill();
    };
    devicesPane->deviceRenamed = [this](const std::string&) { RefreshDeviceNodesNow(); };
    // settings.inf changed by another program ("corvel web", "corvel device").
    settings_.SetSettingsChangedHook([this] {
        QMetaObject::invokeMethod(
            this, [this] { OnSettingsChangedOutside(); }, Qt::QueuedConnection);
    });
    // Deleting error.log: the event log is closed first and opened again after.
    eventsPane->SetDeleteHooks([this] { errorLog_.SetPath(std::string()); },
                               [this, errorLogPath] { errorLog_.Open(errorLogPath); });
    // 7. The log files.
    webLogPane->SetFileName(settings_.DataFolder() + "/web.log");
    xmlLogPane->SetFileName(settings_.DataFolder() + "/wbxml.log");
    eventsPane->SetFileName(errorLogPath);
    // 8. The tree.
    BuildTree();
    connect(tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* node, QTreeWidgetItem*) { SelectNode(node); });
    connect(tree, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* node, int) { OpenDeviceNode(node); });
    // The window opens on the user list rather than an empty frame.
    tree->setCurrentItem(usersNode);
}

void CCorvelDlg::BuildMenus() {
    trayMenu = new QMenu(this);
    trayMenu->addAction("Anzeigen", this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    trayMenu->addSeparator();
    trayMenu->addAction("Beenden", this, [this] { Quit(); });
    QMenu* file = menuBar()->addMenu("Datei");
    file->addAction("Speichern...", this, [this] { OnSaveCurrent(); });
    file->addAction("Beenden", this, [this] { Quit(); });
    QMenu* help = menuBar()->addMenu("Hilfe");
    help->addAction(QString::fromUtf8("Hilfe Ändern"), this, [this] { helpEditor->show(); });
    help->addAction(QString::fromUtf8("Über Vantro Mobile"), this, [this] {
        QMessageBox::about(this, QString::fromUtf8("Über Vantro Mobile"),
                           QString::fromStdString(VersionText()));
    });
}

QTreeWidgetItem* CCorvelDlg::AddPaneNode(QTreeWidgetItem* parent, const QString& text, int paneId) {
    auto* node = parent == nullptr ? new QTreeWidgetItem(tree) : new QTreeWidgetItem(parent);
    node->setText(0, text);
    node->setData(0, kPaneRole, paneId);
    return node;
}

void CCorvelDlg::BuildTree() {
    tree->clear();
    userNodes_.clear();
    usersNode = AddPaneNode(nullptr, "Benutzer", kPaneUsers);
    for (const auto& record : settings_.Devices().Records()) {
        if (record->Config()->DeviceID.empty()) {
            AddUserNode(record);
        } else {
            settings_.GetDeviceName(record->Config()->DeviceID, "empty");
        }
    }
    devicesNode = AddPaneNode(nullptr, QString::fromUtf8("Geräte"), kPaneDevices);
    RefreshDeviceNodesNow();
    traceNode = AddPaneNode(nullptr, "Trace", 0);
    AddPaneNode(traceNode, "Live", kPaneLiveTrace);
    AddPaneNode(traceNode, "Web", kPaneWebLog);
    AddPaneNode(traceNode, "Ereignisse", kPaneEvents);
    AddPaneNode(traceNode, "Xml", kPaneXmlLog);
    AddPaneNode(traceNode, "Client", kPaneClientTrace);
    optionsNode = AddPaneNode(nullptr, "Optionen", kPaneOptions);
    AddPaneNode(optionsNode, "Webserver", kPaneWebserver);
    tree->expandAll();
}

void CCorvelDlg::AddUserNode(const std::shared_ptr<CPocketDevice>& record) {
    auto* node = AddPaneNode(usersNode, QString::fromStdString(record->Config()->Name), 0);
    userNodes_[node] = record;
}

void CCorvelDlg::RemoveUserNode(const std::string& name) {
    for (int i = usersNode->childCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* node = usersNode->child(i);
        if (node->text(0).toStdString() != name) continue;
        if (tree->currentItem() == node) tree->setCurrentItem(usersNode);
        userNodes_.erase(node);
        delete node;
    }
}

QTreeWidgetItem* CCorvelDlg::DeviceNode(const std::string& deviceId) const {
    for (int i = 0; i < devicesNode->childCount(); ++i) {
        QTreeWidgetItem* node = devicesNode->child(i);
        if (node->data(0, kDeviceIdRole).toString().toStdString() == deviceId) return node;
    }
    return nullptr;
}

void CCorvelDlg::PostLiveTrace(const std::string& line) {
    if (settings_.TraceLive()) livePane->PostLine(line);
}

void CCorvelDlg::RefreshDeviceNodes() {
    QMetaObject::invokeMethod(
        this, [this] { RefreshDeviceNodesNow(); }, Qt::QueuedConnection);
}

void CCorvelDlg::RefreshDeviceNodesNow() {
    if (devicesNode == nullptr) return;
    for (const auto& [deviceId, name] : settings_.DeviceNames()) {
        QTreeWidgetItem* node = DeviceNode(deviceId);
        if (node == nullptr) {
            node = AddPaneNode(devicesNode, QString(), 0);
            node->setData(0, kDeviceIdRole, QString::fromStdString(deviceId));
        }
        node->setText(0, QString::fromStdString(name));
    }
}

void CCorvelDlg::OnSettingsChangedOutside() {
    webserverPane->Fill();
    optionsPane->Fill();
    RefreshDeviceNodesNow();
    if (CurrentPane() == devicesPane) devicesPane->Fill();
}

void CCorvelDlg::ShowPane(QWidget* pane) {
    frame->setCurrentWidget(pane);
    if (pane == eventsPane || pane == xmlLogPane) static_cast<CDlgErrors*>(pane)->Refresh();
    if (pane == devicesPane) devicesPane->Fill();
}

void CCorvelDlg::SelectNode(QTreeWidgetItem* node) {
    if (node == nullptr) return;
    int paneId = node->data(0, kPaneRole).toInt();
    auto pane = panes_.find(paneId);
    auto user = userNodes_.find(node);
    QString deviceId = node->data(0, kDeviceIdRole).toString();
    if (pane != panes_.end()) {
        ShowPane(pane->second);
    } else if (user != userNodes_.end()) {
        userPane->Bind(user->second);
        ShowPane(userPane);
    } else if (!deviceId.isEmpty() && IsValidDeviceId(deviceId.toStdString())) {
        syncLogPane->SetFileName(SyncLogPath(settings_.DataFolder(), deviceId.toStdString()),
                                 CLogFormat::kSyncLog);
        syncLogPane->Refresh();
        ShowPane(syncLogPane);
    }
}

void CCorvelDlg::OpenDeviceNode(QTreeWidgetItem* node) {
    if (node == nullptr) return;
    // The node carries its device ID: two devices of the same name stay apart.
    std::string deviceId = node->data(0, kDeviceIdRole).toString().toStdString();
    if (deviceId.empty()) return;
    std::shared_ptr<CPocketDevice> record = settings_.Devices().FindExistingDevice(deviceId);
    if (!record) return;
    userPane->Bind(record);
    ShowPane(userPane);
}

void CCorvelDlg::HelpTick() {
    QWidget* focus = QApplication::focusWidget();
    // The editor keeps the key of the control that had the focus before it.
    bool inEditor = focus != nullptr && (focus == helpEditor || helpEditor->isAncestorOf(focus));
    if (focus != lastFocus_.data() && !inEditor) {
        lastFocus_ = focus;
        helpEditor->ShowKey(HelpKeyFor(focus));
    }
    QWidget* hover = QApplication::widgetAt(QCursor::pos());
    if (hover != lastHover_.data()) {
        lastHover_ = hover;
        std::string key = HelpKeyFor(hover);
        if (!key.empty())
            helpText->setPlainText(QString::fromStdString(settings_.GetHelpText(key)));
    }
}

void CCorvelDlg::OnSaveCurrent() {
    if (auto* trace = dynamic_cast<CDlgtrace*>(CurrentPane())) trace->OnSave();
}

void CCorvelDlg::Quit() {
    quitting_ = true;
    QCoreApplication::quit();
}

int CCorvelDlg::WebPort() { return runtime_ ? runtime_->WebPort() : 0; }

int CCorvelDlg::TracePort() { return runtime_ ? runtime_->TracePort() : 0; }

void CCorvelDlg::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        event->accept();
        return;
    }
    event->ignore();
    if (tray != nullptr) hide();
}

void CCorvelDlg::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray != nullptr) {
        QMetaObject::invokeMethod(
            this, [this] { hide(); }, Qt::QueuedConnection);
    }
}

int RunConsole(const ConsoleOptions& options) {
    signal(SIGPIPE, SIG_IGN);
    static int argc = 1;
    static char programName[] = "corvel";
    static char* argv[] = {programName, nullptr};
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // The console speaks German; Qt's own dialogs (Yes/No, OK/Cancel, files) too.
    QTranslator qtGerman;
    if (!LoadGermanQtTranslations(qtGerman)) {
        AddLiveTrace("The German Qt translations (qtbase_de.qm) were not found in " +
                     QtTranslationsFolder() + "; Qt's dialogs stay in English");
    }
    Settings settings;
    CErrorLog errorLog;
    CCorvelDlg dialog(settings, errorLog, options);
    dialog.Initialise();
    // A picture of the window once it is shown (for checks of the running program).
    const char* picture = std::getenv("CORVEL_WINDOW_PICTURE");
    if (picture != nullptr && *picture != 0) {
        std::string path = picture;
        QTimer::singleShot(1500, &dialog, [&dialog, path] {
            dialog.grab().save(QString::fromStdString(path), "PNG");
        });
    }
    return QApplication::exec();
}
