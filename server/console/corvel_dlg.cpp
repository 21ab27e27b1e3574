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
#include "server/config/live_trace.h"
#include "server/console/qt_translations.h"
#include "server/devices/device_list.h"
#include "server/devices/sync_log.h"

namespace {

constexpr int kPaneRole = Qt::UserRole;          // int pane ID, 0 for none
constexpr int kDeviceIdRole = Qt::UserRole + 1;  // device nodes: the device ID

}  // namespace

CCorvelDlg::CCorvelDlg(Settings& settings, CDeviceRecords& devices, CErrorLog& errorLog,
                       ConsoleOptions options, CConsolePrompts prompts)
    : settings_(settings),
      devices_(devices),
      errorLog_(errorLog),
      options_(std::move(options)),
      prompts_(std::move(prompts)),
      clientSink_([this](const std::string& line) { clientPane_->PostLine(line); }) {
    setWindowTitle("Vantro Mobile");
    SetHelpScope(this, "main");
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    tree_ = HelpNamed(new QTreeWidget(central), "navigation");
    tree_->setHeaderHidden(true);
    tree_->setFixedWidth(180);
    frame_ = new QStackedWidget(central);
    frame_->setFrameShape(QFrame::StyledPanel);
    frame_->setContentsMargins(2, 4, 4, 4);
    helpGroup_ = new QGroupBox("Hilfe", central);
    helpGroup_->setFixedWidth(190);
    auto* helpLayout = new QVBoxLayout(helpGroup_);
    helpText_ = HelpNamed(new QPlainTextEdit(helpGroup_), "helpText");
    helpText_->setReadOnly(true);
    helpLayout->addWidget(helpText_);
    layout->addWidget(tree_);
    layout->addWidget(frame_, 1);
    layout->addWidget(helpGroup_);
    setCentralWidget(central);
    resize(1000, 620);

    // The trace panes exist first, so the servers' start-up already reaches them.
    livePane_ = new CDlgtrace(kMaxLiveTraceLines, frame_);
    clientPane_ = new CDlgtrace(kMaxLiveTraceLines, frame_);
    SetHelpScope(livePane_, "liveTrace");
    SetHelpScope(clientPane_, "clientTrace");
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
    connect(&helpTimer_, &QTimer::timeout, this, [this] { HelpTick(); });
}

CCorvelDlg::~CCorvelDlg() {
    // Servers first: once their threads have ended nobody calls the sinks any more.
    helpTimer_.stop();
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
    runtime_ =
        std::make_unique<ServerRuntime>(settings_, devices_, errorLog_, clientSink_, options_);
    const std::string errorLogPath = runtime_->ErrorLogPath();
    // 3. The context-help timer.
    helpTimer_.start(1000);
    // 4. Menus; 5. the tray icon.
    BuildMenus();
    tray_ = CConsoleTray::IfAvailable(*this, [this] { Quit(); });
    if (tray_) {
        hide();
    } else {
        show();  // no tray to come back through: the window stays open
    }
    // 6. The panes and the help editor.
    usersPane_ = new CDlgUsers(settings_, devices_.List(), prompts_, frame_);
    devicesPane_ = new CDlgDevices(settings_, devices_.List(), prompts_, frame_);
    webserverPane_ = new CDlgWebserver(settings_, prompts_, frame_);
    userPane_ = new CDlgUser(settings_, devices_.List(), prompts_, frame_);
    eventsPane_ = new CDlgErrors(frame_);
    syncLogPane_ = new CDlgErrors(frame_);
    optionsPane_ = new CDlgOptions(settings_, prompts_, frame_);
    webLogPane_ = new CDlgErrors(frame_);
    xmlLogPane_ = new CDlgErrors(frame_);
    helpEditor_ = new CDlgEditHelp(settings_, this);
    SetHelpScope(eventsPane_, "events");
    SetHelpScope(syncLogPane_, "syncLog");
    SetHelpScope(webLogPane_, "webLog");
    SetHelpScope(xmlLogPane_, "xmlLog");
    panes_ = {{kPaneUsers, usersPane_},        {kPaneDevices, devicesPane_},
              {kPaneLiveTrace, livePane_},     {kPaneWebserver, webserverPane_},
              {kPaneUser, userPane_},          {kPaneEvents, eventsPane_},
              {kPaneSyncLog, syncLogPane_},    {kPaneOptions, optionsPane_},
              {kPaneClientTrace, clientPane_}, {kPaneWebLog, webLogPane_},
              {kPaneXmlLog, xmlLogPane_}};
    auto* blank = new QWidget(frame_);
    frame_->addWidget(blank);
    for (const auto& [id, pane] : panes_) frame_->addWidget(pane);
    usersPane_->Fill();
    webserverPane_->Fill();
    usersPane_->userAdded = [this](const std::shared_ptr<CPocketDevice>& record) {
        AddUserNode(record);
    };
    usersPane_->userDeleted = [this](const std::string& name) { RemoveUserNode(name); };
    userPane_->userRenamed = [this](const std::string&, const std::string& newName) {
        for (const auto& [node, record] : userNodes_) {
            if (record == userPane_->Record()) node->setText(0, QString::fromStdString(newName));
        }
        usersPane_->Fill();
    };
    devicesPane_->deviceRenamed = [this](const std::string&) { RefreshDeviceNodesNow(); };
    // settings.inf changed by another program ("corvel web", "corvel device").
    settings_.SetSettingsChangedHook([this] {
        QMetaObject::invokeMethod(
            this, [this] { OnSettingsChangedOutside(); }, Qt::QueuedConnection);
    });
    // Deleting error.log: the event log is closed first and opened again after.
    eventsPane_->SetDeleteHooks([this] { errorLog_.SetPath(std::string()); },
                                [this, errorLogPath] { errorLog_.Open(errorLogPath); });
    // 7. The log files.
    webLogPane_->SetFileName(settings_.DataFolder() + "/web.log");
    xmlLogPane_->SetFileName(settings_.DataFolder() + "/wbxml.log");
    eventsPane_->SetFileName(errorLogPath);
    // 8. The tree.
    BuildTree();
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* node, QTreeWidgetItem*) { SelectNode(node); });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* node, int) { OpenDeviceNode(node); });
    // The window opens on the user list rather than an empty frame.
    tree_->setCurrentItem(usersNode_);
}

void CCorvelDlg::BuildMenus() {
    QMenu* file = menuBar()->addMenu("Datei");
    file->addAction("Speichern...", this, [this] { OnSaveCurrent(); });
    file->addAction("Beenden", this, [this] { Quit(); });
    QMenu* help = menuBar()->addMenu("Hilfe");
    help->addAction(QString::fromUtf8("Hilfe Ändern"), this, [this] { helpEditor_->show(); });
    help->addAction(QString::fromUtf8("Über Vantro Mobile"), this, [this] {
        QMessageBox::about(this, QString::fromUtf8("Über Vantro Mobile"),
                           QString::fromStdString(VersionText()));
    });
}

QTreeWidgetItem* CCorvelDlg::AddPaneNode(QTreeWidgetItem* parent, const QString& text, int paneId) {
    auto* node = parent == nullptr ? new QTreeWidgetItem(tree_) : new QTreeWidgetItem(parent);
    node->setText(0, text);
    node->setData(0, kPaneRole, paneId);
    return node;
}

void CCorvelDlg::BuildTree() {
    tree_->clear();
    userNodes_.clear();
    usersNode_ = AddPaneNode(nullptr, "Benutzer", kPaneUsers);
    for (const auto& record : devices_.List().Records()) {
        if (record->Config()->DeviceID.empty()) {
            AddUserNode(record);
        } else {
            settings_.GetDeviceName(record->Config()->DeviceID, "empty");
        }
    }
    devicesNode_ = AddPaneNode(nullptr, QString::fromUtf8("Geräte"), kPaneDevices);
    RefreshDeviceNodesNow();
    traceNode_ = AddPaneNode(nullptr, "Trace", 0);
    AddPaneNode(traceNode_, "Live", kPaneLiveTrace);
    AddPaneNode(traceNode_, "Web", kPaneWebLog);
    AddPaneNode(traceNode_, "Ereignisse", kPaneEvents);
    AddPaneNode(traceNode_, "Xml", kPaneXmlLog);
    AddPaneNode(traceNode_, "Client", kPaneClientTrace);
    optionsNode_ = AddPaneNode(nullptr, "Optionen", kPaneOptions);
    AddPaneNode(optionsNode_, "Webserver", kPaneWebserver);
    tree_->expandAll();
}

void CCorvelDlg::AddUserNode(const std::shared_ptr<CPocketDevice>& record) {
    auto* node = AddPaneNode(usersNode_, QString::fromStdString(record->Config()->Name), 0);
    userNodes_[node] = record;
}

void CCorvelDlg::RemoveUserNode(const std::string& name) {
    for (int i = usersNode_->childCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* node = usersNode_->child(i);
        if (node->text(0).toStdString() != name) continue;
        if (tree_->currentItem() == node) tree_->setCurrentItem(usersNode_);
        userNodes_.erase(node);
        delete node;
    }
}

QTreeWidgetItem* CCorvelDlg::DeviceNode(const std::string& deviceId) const {
    for (int i = 0; i < devicesNode_->childCount(); ++i) {
        QTreeWidgetItem* node = devicesNode_->child(i);
        if (node->data(0, kDeviceIdRole).toString().toStdString() == deviceId) return node;
    }
    return nullptr;
}

void CCorvelDlg::PostLiveTrace(const std::string& line) {
    if (settings_.TraceLive()) livePane_->PostLine(line);
}

void CCorvelDlg::RefreshDeviceNodes() {
    QMetaObject::invokeMethod(
        this, [this] { RefreshDeviceNodesNow(); }, Qt::QueuedConnection);
}

void CCorvelDlg::RefreshDeviceNodesNow() {
    if (devicesNode_ == nullptr) return;
    for (const auto& [deviceId, name] : settings_.DeviceNames()) {
        QTreeWidgetItem* node = DeviceNode(deviceId);
        if (node == nullptr) {
            node = AddPaneNode(devicesNode_, QString(), 0);
            node->setData(0, kDeviceIdRole, QString::fromStdString(deviceId));
        }
        node->setText(0, QString::fromStdString(name));
    }
}

void CCorvelDlg::OnSettingsChangedOutside() {
    webserverPane_->Fill();
    optionsPane_->Fill();
    RefreshDeviceNodesNow();
    if (CurrentPane() == devicesPane_) devicesPane_->Fill();
}

void CCorvelDlg::ShowPane(QWidget* pane) {
    frame_->setCurrentWidget(pane);
    if (pane == eventsPane_ || pane == xmlLogPane_) static_cast<CDlgErrors*>(pane)->Refresh();
    if (pane == devicesPane_) devicesPane_->Fill();
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
        userPane_->Bind(user->second);
        ShowPane(userPane_);
    } else if (!deviceId.isEmpty() && IsValidDeviceId(deviceId.toStdString())) {
        syncLogPane_->SetFileName(SyncLogPath(settings_.DataFolder(), deviceId.toStdString()),
                                  CLogFormat::kSyncLog);
        syncLogPane_->Refresh();
        ShowPane(syncLogPane_);
    }
}

void CCorvelDlg::OpenDeviceNode(QTreeWidgetItem* node) {
    if (node == nullptr) return;
    // The node carries its device ID: two devices of the same name stay apart.
    std::string deviceId = node->data(0, kDeviceIdRole).toString().toStdString();
    if (deviceId.empty()) return;
    std::shared_ptr<CPocketDevice> record = devices_.List().FindExistingDevice(deviceId);
    if (!record) return;
    userPane_->Bind(record);
    ShowPane(userPane_);
}

void CCorvelDlg::HelpTick() {
    QWidget* focus = QApplication::focusWidget();
    // The editor keeps the key of the control that had the focus before it.
    bool inEditor = focus != nullptr && (focus == helpEditor_ || helpEditor_->isAncestorOf(focus));
    if (focus != lastFocus_.data() && !inEditor) {
        lastFocus_ = focus;
        helpEditor_->ShowKey(HelpKeyFor(focus));
    }
    QWidget* hover = QApplication::widgetAt(QCursor::pos());
    if (hover != lastHover_.data()) {
        lastHover_ = hover;
        std::string key = HelpKeyFor(hover);
        if (!key.empty())
            helpText_->setPlainText(QString::fromStdString(settings_.GetHelpText(key)));
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
    if (tray_ != nullptr) hide();
}

void CCorvelDlg::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_ != nullptr) {
        QMetaObject::invokeMethod(
            this, [this] { hide(); }, Qt::QueuedConnection);
    }
}

int RunConsole(const ConsoleOptions& options, CDeviceRecords& devices) {
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
    CCorvelDlg dialog(settings, devices, errorLog, options);
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
