// The main window: start-up tree, pane selection, traces from other threads,
// device nodes, close behaviour and context help.
#include <gtest/gtest.h>

#include <QFormLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/mapi/mapi.h"
#include "server/config/live_trace.h"
#include "server/console/console_test_util.h"
#include "server/console/console_tray.h"
#include "server/console/corvel_dlg.h"
#include "server/console/dlg_browse_folder.h"
#include "server/console/dlg_folder_properties.h"
#include "server/devices/sync_log.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_ref.h"
#include "server/mapi/mapi_status_calls.h"

namespace {

// The main window's widgets, found as a reader of the window would: the tree by
// its object name, the nodes by their texts, the panes by their help scopes.
struct ConsoleView {
    explicit ConsoleView(CCorvelDlg& dlg)
        : tree(Named<QTreeWidget>(dlg, "navigation")),
          usersNode(TopNode("Benutzer")),
          devicesNode(TopNode("Geräte")),
          traceNode(TopNode("Trace")),
          optionsNode(TopNode("Optionen")),
          usersPane(Scope<CDlgUsers>(dlg, "users")),
          devicesPane(Scope<CDlgDevices>(dlg, "devices")),
          livePane(Scope<CDlgtrace>(dlg, "liveTrace")),
          webserverPane(Scope<CDlgWebserver>(dlg, "webserver")),
          userPane(Scope<CDlgUser>(dlg, "user")),
          eventsPane(Scope<CDlgErrors>(dlg, "events")),
          syncLogPane(Scope<CDlgErrors>(dlg, "syncLog")),
          optionsPane(Scope<CDlgOptions>(dlg, "options")),
          clientPane(Scope<CDlgtrace>(dlg, "clientTrace")),
          webLogPane(Scope<CDlgErrors>(dlg, "webLog")),
          xmlLogPane(Scope<CDlgErrors>(dlg, "xmlLog")),
          helpEditor(Scope<CDlgEditHelp>(dlg, "editHelp")) {}

    template <typename Widget>
    static Widget* Named(CCorvelDlg& dlg, const char* name) {
        auto* widget = dlg.findChild<Widget*>(name);
        if (widget == nullptr) throw std::runtime_error(std::string("no widget ") + name);
        return widget;
    }
    // The one widget of the window whose help scope is name.
    template <typename Pane>
    static Pane* Scope(CCorvelDlg& dlg, const char* name) {
        Pane* found = nullptr;
        for (QWidget* widget : dlg.findChildren<QWidget*>()) {
            if (HelpScopeName(widget) != name) continue;
            if (found != nullptr) throw std::runtime_error(std::string("two panes ") + name);
            found = dynamic_cast<Pane*>(widget);
        }
        if (found == nullptr) throw std::runtime_error(std::string("no pane ") + name);
        return found;
    }
    QTreeWidgetItem* TopNode(const char* text) const {
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            if (tree->topLevelItem(i)->text(0) == QString::fromUtf8(text))
                return tree->topLevelItem(i);
        }
        throw std::runtime_error(std::string("no node ") + text);
    }

    QTreeWidget* tree;
    QTreeWidgetItem* usersNode;
    QTreeWidgetItem* devicesNode;
    QTreeWidgetItem* traceNode;
    QTreeWidgetItem* optionsNode;
    CDlgUsers* usersPane;
    CDlgDevices* devicesPane;
    CDlgtrace* livePane;
    CDlgWebserver* webserverPane;
    CDlgUser* userPane;
    CDlgErrors* eventsPane;
    CDlgErrors* syncLogPane;
    CDlgOptions* optionsPane;
    CDlgtrace* clientPane;
    CDlgErrors* webLogPane;
    CDlgErrors* xmlLogPane;
    CDlgEditHelp* helpEditor;
};

class CorvelDlgTest : public ConsoleDataTest {
protected:
    void SetUp() override {
        ConsoleDataTest::SetUp();
        WriteWholeFile(File("alice.dxt"), "Name=alice\nPasswort=pw\n");
        WriteWholeFile(File("bob.dxt"), "Name=bob\nPasswort=pw\n");
        WriteWholeFile(File("DEV1.ifo"), "Name=alice\nPasswort=pw\nDeviceID=DEV1\n");
        WriteWholeFile(File("DEV2.ifo"), "Name=bob\nPasswort=pw\nDeviceID=DEV2\n");
        WriteWholeFile(File("settings.inf"), "Device=DEV2:Pocket\nDevice=DEV3:Pocket\n");
    }

    std::unique_ptr<CCorvelDlg> Start() {
        ConsoleOptions options;
        options.dataFolder = home_.DataFolder();
        options.startServers = false;
        options.messageBoxes = false;
        auto dlg = std::make_unique<CCorvelDlg>(settings_, devices_, errorLog_, options,
                                                prompts_.Prompts());
        dlg->Initialise();
        DrainEvents();
        view_ = std::make_unique<ConsoleView>(*dlg);
        return dlg;
    }

    static std::vector<std::string> Children(QTreeWidgetItem* node) {
        std::vector<std::string> texts;
        for (int i = 0; i < node->childCount(); ++i)
            texts.push_back(node->child(i)->text(0).toStdString());
        return texts;
    }

    static QTreeWidgetItem* Child(QTreeWidgetItem* node, const char* text) {
        for (int i = 0; i < node->childCount(); ++i) {
            if (node->child(i)->text(0) == text) return node->child(i);
        }
        return nullptr;
    }

    CErrorLog errorLog_;
    ScriptedPrompts prompts_;
    std::unique_ptr<ConsoleView> view_;  // of the window Start() made last
};

TEST_F(CorvelDlgTest, StartUpBuildsTheTreeFromUsersDevicesAndNames) {
    auto dlg = Start();
    ASSERT_EQ(view_->tree->topLevelItemCount(), 4);
    EXPECT_EQ(view_->usersNode->text(0).toStdString(), "Benutzer");
    EXPECT_EQ(Children(view_->usersNode), (std::vector<std::string>{"alice", "bob"}));
    // DEV1 had no name: registered under "empty"; DEV3 has a name but no record.
    EXPECT_EQ(view_->devicesNode->text(0).toStdString(), "Geräte");
    EXPECT_EQ(Children(view_->devicesNode),
              (std::vector<std::string>{"empty", "Pocket", "Pocket"}));
    EXPECT_EQ(Children(view_->traceNode),
              (std::vector<std::string>{"Live", "Web", "Ereignisse", "Xml", "Client"}));
    EXPECT_EQ(view_->optionsNode->text(0).toStdString(), "Optionen");
    EXPECT_EQ(Children(view_->optionsNode), (std::vector<std::string>{"Webserver"}));
    // The window opens on the user list.
    EXPECT_EQ(dlg->CurrentPane(), view_->usersPane);
    EXPECT_EQ(settings_.DeviceNames().at("DEV1"), "empty");
    EXPECT_NE(ReadWholeFile(home_.DataFolder() + "/settings.inf").find("Device=DEV1:empty\n"),
              std::string::npos);
    // Without a system tray the window stays open, and closing it does not hide it.
    EXPECT_FALSE(dlg->HasTray());
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->close());
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(CorvelDlgTest, SelectingNodesShowsTheirPanes) {
    auto dlg = Start();
    view_->tree->setCurrentItem(view_->usersNode);
    EXPECT_EQ(dlg->CurrentPane(), view_->usersPane);
    ASSERT_EQ(ControlOf<QListWidget>(view_->usersPane, "userList")->count(), 2);
    view_->tree->setCurrentItem(view_->usersNode->child(1));
    EXPECT_EQ(dlg->CurrentPane(), view_->userPane);
    ASSERT_TRUE(view_->userPane->Record());
    EXPECT_EQ(ControlOf<QLineEdit>(view_->userPane, "userName")->text().toStdString(), "bob");
    view_->tree->setCurrentItem(view_->devicesNode);
    EXPECT_EQ(dlg->CurrentPane(), view_->devicesPane);
    EXPECT_EQ(ControlOf<QTreeWidget>(view_->devicesPane, "deviceList")->topLevelItemCount(), 2);
    view_->tree->setCurrentItem(Child(view_->traceNode, "Live"));
    EXPECT_EQ(dlg->CurrentPane(), view_->livePane);
    view_->tree->setCurrentItem(view_->optionsNode);
    EXPECT_EQ(dlg->CurrentPane(), view_->optionsPane);
    view_->tree->setCurrentItem(view_->optionsNode->child(0));
    EXPECT_EQ(dlg->CurrentPane(), view_->webserverPane);

    // A device node shows that device's sync log, newest first.
    SyncLogTime at(std::chrono::seconds(1714555812));
    ASSERT_TRUE(AppendSyncFolders(home_.DataFolder(), "DEV2",
                                  {{"Contacts", {2, 1, 0}, {1, 0, 0}}, {"Tasks", {}, {}}}, at));
    ASSERT_TRUE(AppendSyncLog(home_.DataFolder(), "DEV2",
                              {"Contacts", "00AB", "CompanyName", "Initech", "ACME"}, at));
    view_->tree->setCurrentItem(view_->devicesNode->child(1));
    EXPECT_EQ(dlg->CurrentPane(), view_->syncLogPane);
    ASSERT_EQ(ControlOf<QListWidget>(view_->syncLogPane, "entries")->count(), 3);
    EXPECT_EQ(ControlOf<QListWidget>(view_->syncLogPane, "entries")->item(0)->text().toStdString(),
              "2024-05-01 09:30:12.000  Konflikt  Contacts  CompanyName");
    EXPECT_EQ(ControlOf<QListWidget>(view_->syncLogPane, "entries")->item(2)->text().toStdString(),
              "2024-05-01 09:30:12.000  Contacts  handheld +2 ~1 -0, desktop +1 ~0 -0");
    ControlOf<QListWidget>(view_->syncLogPane, "entries")->setCurrentRow(2);
    EXPECT_EQ(ControlOf<QPlainTextEdit>(view_->syncLogPane, "detail")->toPlainText().toStdString(),
              "Synchronisation 2024-05-01 09:30:12.000 (UTC)\nOrdner: Contacts\n"
              "An das Gerät gesendet: 2 neu, 1 geändert, 0 gelöscht\n"
              "Vom Gerät übernommen: 1 neu, 0 geändert, 0 gelöscht\n");
    ControlOf<QListWidget>(view_->syncLogPane, "entries")->setCurrentRow(0);
    EXPECT_NE(ControlOf<QPlainTextEdit>(view_->syncLogPane, "detail")
                  ->toPlainText()
                  .toStdString()
                  .find("Wert des Geräts (verworfen): Initech\nWert des Desktops: ACME"),
              std::string::npos);
}

TEST_F(CorvelDlgTest, XmlReloadsOnEverySelectionWebOnlyOnRefresh) {
    auto dlg = Start();
    WriteWholeFile(home_.DataFolder() + "/wbxml.log", "!!!one\n");
    WriteWholeFile(home_.DataFolder() + "/web.log", "!!!w1\n");
    QTreeWidgetItem* xml = Child(view_->traceNode, "Xml");
    QTreeWidgetItem* web = Child(view_->traceNode, "Web");
    view_->tree->setCurrentItem(xml);
    ASSERT_EQ(ControlOf<QListWidget>(view_->xmlLogPane, "entries")->count(), 1);
    WriteWholeFile(home_.DataFolder() + "/wbxml.log", "!!!one\n!!!two\n");
    view_->tree->setCurrentItem(web);
    EXPECT_EQ(dlg->CurrentPane(), view_->webLogPane);
    EXPECT_EQ(ControlOf<QListWidget>(view_->webLogPane, "entries")->count(), 0);
    view_->tree->setCurrentItem(xml);
    ASSERT_EQ(ControlOf<QListWidget>(view_->xmlLogPane, "entries")->count(), 2);
    EXPECT_EQ(ControlOf<QListWidget>(view_->xmlLogPane, "entries")->item(0)->text().toStdString(),
              "!!!two");
    QTest::mouseClick(ControlOf<QPushButton>(view_->webLogPane, "refreshButton"), Qt::LeftButton);
    EXPECT_EQ(ControlOf<QListWidget>(view_->webLogPane, "entries")->count(), 1);
}

TEST_F(CorvelDlgTest, LiveTraceFromAnotherThreadArrivesInOrderWhileTraceLiveIsOn) {
    auto dlg = Start();
    view_->livePane->OnClear();
    std::thread worker([] {
        for (int i = 0; i < 100; ++i) AddLiveTrace("line " + std::to_string(i));
    });
    worker.join();
    DrainEvents();
    QStringList lines = view_->livePane->Lines();
    ASSERT_EQ(lines.size(), 100);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(lines[i].toStdString(), "line " + std::to_string(i));
    settings_.SetTraceLive(false);
    AddLiveTrace("not shown");
    DrainEvents();
    EXPECT_EQ(view_->livePane->Lines().size(), 100);
}

TEST_F(CorvelDlgTest, ClientTraceSinkMakesLinesAtCrLfAndCrLfPairs) {
    auto dlg = Start();
    std::thread worker([&dlg] {
        dlg->ClientTraceSink().AddText("a\r");
        dlg->ClientTraceSink().AddText("\nb\rc\nd");
    });
    worker.join();
    DrainEvents();
    EXPECT_EQ(view_->clientPane->Lines().join("|").toStdString(), "a|b|c");
}

TEST_F(CorvelDlgTest, NewDeviceFromAnotherThreadGetsItsNode) {
    auto dlg = Start();
    std::thread worker([this] { settings_.GetDeviceName("DEV4", "Neu"); });
    worker.join();
    DrainEvents();
    EXPECT_EQ(Children(view_->devicesNode),
              (std::vector<std::string>{"empty", "Pocket", "Pocket", "Neu"}));
}

TEST_F(CorvelDlgTest, DoubleClickOpensTheDeviceTheNodeStandsFor) {
    auto dlg = Start();
    WriteWholeFile(home_.DataFolder() + "/DEV3.ifo", "Name=carol\nDeviceID=DEV3\n");
    devices_.Load(home_.DataFolder());
    // DEV2 and DEV3 are both called "Pocket".
    dlg->OpenDeviceNode(view_->devicesNode->child(2));
    EXPECT_EQ(dlg->CurrentPane(), view_->userPane);
    ASSERT_TRUE(view_->userPane->Record());
    EXPECT_EQ(view_->userPane->Record()->Config()->DeviceID, "DEV3");
    EXPECT_EQ(ControlOf<QLineEdit>(view_->userPane, "userName")->text().toStdString(), "carol");
}

TEST_F(CorvelDlgTest, RenamingADeviceRenamesOnlyItsNode) {
    auto dlg = Start();
    view_->devicesPane->Fill();
    prompts_.inputs.push_back(std::string("Mein Gerät"));
    int row = -1;
    for (int i = 0;
         i < ControlOf<QTreeWidget>(view_->devicesPane, "deviceList")->topLevelItemCount(); ++i) {
        if (ControlOf<QTreeWidget>(view_->devicesPane, "deviceList")->topLevelItem(i)->text(0) ==
            "DEV2")
            row = i;
    }
    ASSERT_GE(row, 0);
    view_->devicesPane->OnRename(row);
    EXPECT_EQ(Children(view_->devicesNode),
              (std::vector<std::string>{"empty", "Mein Gerät", "Pocket"}));
}

TEST_F(CorvelDlgTest, UserNodesFollowNewAndDelete) {
    auto dlg = Start();
    prompts_.inputs.push_back(std::string("carol"));
    ASSERT_TRUE(view_->usersPane->OnNew());
    EXPECT_EQ(Children(view_->usersNode), (std::vector<std::string>{"alice", "bob", "carol"}));
    ControlOf<QListWidget>(view_->usersPane, "userList")->setCurrentRow(0);
    prompts_.answers.push_back(true);
    view_->usersPane->OnDelete();
    EXPECT_EQ(Children(view_->usersNode), (std::vector<std::string>{"bob", "carol"}));
}

TEST_F(CorvelDlgTest, HelpKeysComeFromTheNamesOfControlAndPane) {
    auto dlg = Start();
    EXPECT_EQ(HelpKeyFor(view_->usersPane), "");  // a pane itself has no key
    EXPECT_EQ(HelpKeyFor(nullptr), "");
    EXPECT_EQ(HelpKeyFor(ControlOf<QPushButton>(view_->usersPane, "newButton")), "newButton:users");
    EXPECT_EQ(HelpKeyFor(view_->tree), "navigation:main");
    // Qt's inner widgets stand for the control around them, a label for its field.
    EXPECT_EQ(HelpKeyFor(ControlOf<QTreeWidget>(view_->userPane, "folders")->viewport()),
              "folders:user");
    EXPECT_EQ(HelpKeyFor(ControlOf<QTreeWidget>(view_->userPane, "folders")->verticalScrollBar()),
              "folders:user");
    auto* form = view_->userPane->findChild<QFormLayout*>();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(HelpKeyFor(form->labelForField(ControlOf<QLineEdit>(view_->userPane, "password"))),
              "password:user");
    // The same class in two panes: two keys.
    EXPECT_EQ(HelpKeyFor(ControlOf<QPushButton>(view_->eventsPane, "refreshButton")),
              "refreshButton:events");
    EXPECT_EQ(HelpKeyFor(ControlOf<QPushButton>(view_->syncLogPane, "refreshButton")),
              "refreshButton:syncLog");
    EXPECT_EQ(HelpKeyFor(ControlOf<QPushButton>(view_->livePane, "copyButton")),
              "copyButton:liveTrace");
    // A group box has no name of its own: the pane is reached, no key.
    EXPECT_EQ(HelpKeyFor(ControlOf<QCheckBox>(view_->optionsPane, "traceLive")->parentWidget()),
              "");
    std::vector<std::string> users = HelpKeysOf(view_->usersPane);
    EXPECT_EQ(users, (std::vector<std::string>{"deleteButton:users", "newButton:users",
                                               "userList:users"}));
    // The main window's own controls only, not those of the panes inside it.
    EXPECT_EQ(HelpKeysOf(dlg.get()),
              (std::vector<std::string>{"helpText:main", "navigation:main"}));
}

TEST_F(CorvelDlgTest, HelpEditorSavesUnderTheKeyOfTheControlFocusedBeforeIt) {
    auto dlg = Start();
    std::string key = "newButton:users";
    std::string helpFile = home_.Path() + "/help.inf";
    settings_.SetHelpFilePath(helpFile);
    view_->helpEditor->ShowKey(key);
    ControlOf<QPlainTextEdit>(view_->helpEditor, "text")->setPlainText("Legt einen Benutzer an");
    view_->helpEditor->OnSave();
    EXPECT_EQ(settings_.GetHelpText(key), "Legt einen Benutzer an");
    EXPECT_NE(ReadWholeFile(helpFile).find("Legt einen Benutzer an"), std::string::npos);
    ControlOf<QPlainTextEdit>(view_->helpEditor, "text")->setPlainText("verworfen");
    view_->helpEditor->OnCancel();
    EXPECT_EQ(ControlOf<QPlainTextEdit>(view_->helpEditor, "text")->toPlainText().toStdString(),
              "Legt einen Benutzer an");
    view_->helpEditor->ShowKey("");
    EXPECT_FALSE(ControlOf<QPushButton>(view_->helpEditor, "saveButton")->isEnabled());
    EXPECT_FALSE(view_->helpEditor->OnSave());

    // The focused control's key reaches the editor on the next tick ...
    view_->tree->setCurrentItem(view_->usersNode);
    QApplication::setActiveWindow(dlg.get());
    ControlOf<QPushButton>(view_->usersPane, "newButton")->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), ControlOf<QPushButton>(view_->usersPane, "newButton"));
    dlg->HelpTick();
    EXPECT_EQ(view_->helpEditor->Key(), key);
    // ... and stays when the focus moves into the editor to write the text.
    view_->helpEditor->show();
    QApplication::setActiveWindow(view_->helpEditor);
    ControlOf<QPlainTextEdit>(view_->helpEditor, "text")->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), ControlOf<QPlainTextEdit>(view_->helpEditor, "text"));
    dlg->HelpTick();
    EXPECT_EQ(view_->helpEditor->Key(), key);
    EXPECT_EQ(ControlOf<QLabel>(view_->helpEditor, "idLabel")->text().toStdString(), key);
    ControlOf<QPlainTextEdit>(view_->helpEditor, "text")
        ->setPlainText("Neu: legt einen Benutzer an");
    QTest::mouseClick(ControlOf<QPushButton>(view_->helpEditor, "saveButton"), Qt::LeftButton);
    EXPECT_EQ(settings_.GetHelpText(key), "Neu: legt einen Benutzer an");
    // The next control focused in the window gets its own key.
    QApplication::setActiveWindow(dlg.get());
    ControlOf<QPushButton>(view_->usersPane, "deleteButton")->setFocus();
    dlg->HelpTick();
    EXPECT_EQ(view_->helpEditor->Key(), "deleteButton:users");
}

// The keys of every pane and dialog, and the texts of the help.inf shipped beside
// the program: every control has a German text, and every text has its control.
TEST_F(CorvelDlgTest, ShippedHelpFileHasATextForEveryControl) {
    settings_.SetHelpFilePath(CORVEL_SHIPPED_HELP_FILE);
    auto dlg = Start();
    std::vector<std::string> keys;
    auto take = [&keys](const QWidget* scope) {
        std::vector<std::string> own = HelpKeysOf(scope);
        EXPECT_FALSE(own.empty()) << HelpScopeName(scope);
        keys.insert(keys.end(), own.begin(), own.end());
    };
    take(dlg.get());
    for (QWidget* pane : dlg->findChildren<QWidget*>()) {
        if (!HelpScopeName(pane).empty() && pane != dlg.get()) take(pane);
    }
    CDlgNewDir newDir;
    take(&newDir);
    CDlgFolderProperties properties(CFolderSetting(), "Test");
    take(&properties);
    CDlgBrowseFolder browse(CMapiRef<IMAPISession>(), true);
    take(&browse);
    CdlgInput input("Name", "");
    take(&input);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
    EXPECT_GE(keys.size(), 70u);
    for (const std::string& key : keys) {
        std::string text = settings_.GetHelpText(key);
        EXPECT_NE(text.find_first_not_of(" \n"), std::string::npos) << "no text for " << key;
    }
    std::vector<std::string> inFile;
    std::string content = ReadWholeFile(CORVEL_SHIPPED_HELP_FILE);
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("<", 0) == 0 && line.rfind("</", 0) != 0 && line.back() == '>') {
            inFile.push_back(line.substr(1, line.size() - 2));
        }
    }
    std::sort(inFile.begin(), inFile.end());
    EXPECT_EQ(inFile, keys);
    // The build puts the file beside the program (where texts may have been edited).
    CHelpTexts installed;
    installed.Load(CORVEL_INSTALLED_HELP_FILE);
    for (const std::string& key : keys) EXPECT_FALSE(installed.Get(key).empty()) << key;
}

TEST_F(CorvelDlgTest, RenamingAUserMovesItsFileAndTheTreeAndListFollow) {
    {
        CMapiRef<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, admin.Put()), S_OK);
        char name[] = "Test";
        ASSERT_EQ(admin->CreateProfile(name, nullptr, 0, MAPI_DEFAULT_SERVICES), S_OK);
    }
    auto dlg = Start();
    view_->userPane->FillProfiles();
    std::string folder = home_.DataFolder();
    view_->tree->setCurrentItem(Child(view_->usersNode, "alice"));
    ASSERT_EQ(dlg->CurrentPane(), view_->userPane);
    ControlOf<QComboBox>(view_->userPane, "profile")->setCurrentIndex(0);
    // A name another user has, or one that cannot name a file, is refused.
    for (const char* refused : {"bob", "a/b"}) {
        ControlOf<QLineEdit>(view_->userPane, "userName")->setText(refused);
        EXPECT_FALSE(view_->userPane->OnSave()) << refused;
        EXPECT_EQ(view_->userPane->Record()->Config()->Name, "alice");
    }
    EXPECT_EQ(prompts_.errors.size(), 2u);
    EXPECT_NE(ReadWholeFile(folder + "/bob.dxt").find("Name=bob\n"), std::string::npos);

    ControlOf<QLineEdit>(view_->userPane, "userName")->setText("alma");
    ASSERT_TRUE(view_->userPane->OnSave());
    EXPECT_FALSE(std::filesystem::exists(folder + "/alice.dxt"));
    EXPECT_EQ(ReadWholeFile(folder + "/alma.dxt").substr(0, 22), "Name=alma\nPasswort=pw\n");
    EXPECT_EQ(Children(view_->usersNode), (std::vector<std::string>{"alma", "bob"}));
    ASSERT_EQ(ControlOf<QListWidget>(view_->usersPane, "userList")->count(), 2);
    EXPECT_EQ(ControlOf<QListWidget>(view_->usersPane, "userList")->item(0)->text().toStdString(),
              "alma");
    // A device logging on as alma finds the renamed user.
    EXPECT_TRUE(devices_.List().FindDevice("DEV9", "alma", "pw"));

    // Deleting the renamed user deletes its file.
    ControlOf<QListWidget>(view_->usersPane, "userList")->setCurrentRow(0);
    prompts_.answers.push_back(true);
    view_->usersPane->OnDelete();
    EXPECT_FALSE(std::filesystem::exists(folder + "/alma.dxt"));
    EXPECT_EQ(Children(view_->usersNode), (std::vector<std::string>{"bob"}));
}

// Every column of the pane's lists lies inside the visible width of its list.
TEST_F(CorvelDlgTest, ListColumnsFitThePanes) {
    auto dlg = Start();
    dlg->resize(1000, 620);
    dlg->show();
    struct Shown {
        QTreeWidgetItem* node;
        QTreeWidget* list;
    };
    const Shown panes[] = {
        {view_->optionsNode->child(0),
         ControlOf<QTreeWidget>(view_->webserverPane, "directoryList")},
        {view_->devicesNode, ControlOf<QTreeWidget>(view_->devicesPane, "deviceList")},
        {view_->usersNode->child(0), ControlOf<QTreeWidget>(view_->userPane, "folders")}};
    for (const Shown& shown : panes) {
        view_->tree->setCurrentItem(shown.node);
        DrainEvents();
        QHeaderView* header = shown.list->header();
        int visible = shown.list->viewport()->width();
        ASSERT_GT(visible, 100);
        for (int i = 0; i < header->count(); ++i) {
            EXPECT_LE(header->sectionViewportPosition(i) + header->sectionSize(i), visible)
                << shown.list->objectName().toStdString() << " column " << i;
            EXPECT_GE(header->sectionSize(i), 50) << i;
        }
    }
}

TEST_F(CorvelDlgTest, ChangesToSettingsInfFromOutsideReachThePanesAndTheTree) {
    auto dlg = Start();
    Settings tool;
    tool.LoadSettingsFile(home_.DataFolder());
    tool.SetWebDirectory(CWebDirectory{"docs", "/srv/docs", "", "", ""});
    tool.SetDeviceName("DEV2", "Umbenannt");
    tool.SetHttpPort(8081);
    ASSERT_TRUE(tool.SaveSettings());
    ASSERT_TRUE(settings_.ReloadIfChanged());
    DrainEvents();
    ASSERT_EQ(ControlOf<QTreeWidget>(view_->webserverPane, "directoryList")->topLevelItemCount(),
              1);
    EXPECT_EQ(ControlOf<QTreeWidget>(view_->webserverPane, "directoryList")
                  ->topLevelItem(0)
                  ->text(0)
                  .toStdString(),
              "docs");
    EXPECT_EQ(ControlOf<QLineEdit>(view_->optionsPane, "port")->text().toStdString(), "8081");
    EXPECT_EQ(Children(view_->devicesNode),
              (std::vector<std::string>{"empty", "Umbenannt", "Pocket"}));
}

TEST(ConsoleTrayTest, ItsMenuBringsTheWindowBackAndQuits) {
    TestApp();
    QMainWindow window;
    window.setWindowTitle("Vantro Mobile");
    window.setWindowIcon(window.style()->standardIcon(QStyle::SP_ComputerIcon));
    int quits = 0;
    CConsoleTray tray(window, [&quits] { ++quits; });
    QList<QAction*> actions = tray.Menu().actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text().toStdString(), "Anzeigen");
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text().toStdString(), "Beenden");
    window.showMinimized();
    window.hide();
    actions[0]->trigger();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(quits, 0);
    actions[2]->trigger();
    EXPECT_EQ(quits, 1);
}

}  // namespace
