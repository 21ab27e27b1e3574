// The main window: start-up tree, pane selection, traces from other threads,
// device nodes, close behaviour and context help.
#include <gtest/gtest.h>

#include <QTest>
#include <thread>

#include "server/config/live_trace.h"
#include "server/console/console_test_util.h"
#include "server/console/corvel_dlg.h"

namespace {

class CorvelDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDataFolder(home_.DataFolder());
        WriteWholeFile(home_.DataFolder() + "/alice.dxt", "Name=alice\nPasswort=pw\n");
        WriteWholeFile(home_.DataFolder() + "/bob.dxt", "Name=bob\nPasswort=pw\n");
        WriteWholeFile(home_.DataFolder() + "/DEV1.ifo",
                       "Name=alice\nPasswort=pw\nDeviceID=DEV1\n");
        WriteWholeFile(home_.DataFolder() + "/DEV2.ifo", "Name=bob\nPasswort=pw\nDeviceID=DEV2\n");
        WriteWholeFile(home_.DataFolder() + "/settings.inf",
                       "Device=DEV2:Pocket\nDevice=DEV3:Pocket\n");
    }

    std::unique_ptr<CCorvelDlg> Start() {
        ConsoleOptions options;
        options.dataFolder = home_.DataFolder();
        options.startServers = false;
        options.messageBoxes = false;
        auto dlg = std::make_unique<CCorvelDlg>(settings_, errorLog_, options, prompts_.Prompts());
        dlg->Initialise();
        DrainEvents();
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

    ConsoleTestHome home_;
    Settings settings_;
    CErrorLog errorLog_;
    ScriptedPrompts prompts_;
};

TEST_F(CorvelDlgTest, StartUpBuildsTheTreeFromUsersDevicesAndNames) {
    auto dlg = Start();
    ASSERT_EQ(dlg->tree->topLevelItemCount(), 4);
    EXPECT_EQ(dlg->usersNode->text(0).toStdString(), "Benutzer");
    EXPECT_EQ(Children(dlg->usersNode), (std::vector<std::string>{"alice", "bob"}));
    // DEV1 had no name: registered under "empty"; DEV3 has a name but no record.
    EXPECT_EQ(dlg->devicesNode->text(0).toStdString(), "Geräte");
    EXPECT_EQ(Children(dlg->devicesNode), (std::vector<std::string>{"empty", "Pocket", "Pocket"}));
    EXPECT_EQ(Children(dlg->traceNode),
              (std::vector<std::string>{"Live", "Web", "Ereignisse", "Xml", "Client"}));
    EXPECT_EQ(dlg->optionsNode->text(0).toStdString(), "Optionen");
    EXPECT_EQ(Children(dlg->optionsNode), (std::vector<std::string>{"Webserver"}));
    EXPECT_EQ(settings_.DeviceNames().at("DEV1"), "empty");
    EXPECT_NE(ReadWholeFile(home_.DataFolder() + "/settings.inf").find("Device=DEV1:empty\n"),
              std::string::npos);
    // Without a system tray the window stays open, and closing it does not hide it.
    EXPECT_EQ(dlg->tray, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->close());
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(CorvelDlgTest, SelectingNodesShowsTheirPanes) {
    auto dlg = Start();
    dlg->tree->setCurrentItem(dlg->usersNode);
    EXPECT_EQ(dlg->CurrentPane(), dlg->usersPane);
    ASSERT_EQ(dlg->usersPane->list->count(), 2);
    dlg->tree->setCurrentItem(dlg->usersNode->child(1));
    EXPECT_EQ(dlg->CurrentPane(), dlg->userPane);
    ASSERT_TRUE(dlg->userPane->Record());
    EXPECT_EQ(dlg->userPane->userName->text().toStdString(), "bob");
    dlg->tree->setCurrentItem(dlg->devicesNode);
    EXPECT_EQ(dlg->CurrentPane(), dlg->devicesPane);
    EXPECT_EQ(dlg->devicesPane->list->topLevelItemCount(), 2);
    dlg->tree->setCurrentItem(Child(dlg->traceNode, "Live"));
    EXPECT_EQ(dlg->CurrentPane(), dlg->livePane);
    dlg->tree->setCurrentItem(dlg->optionsNode);
    EXPECT_EQ(dlg->CurrentPane(), dlg->optionsPane);
    dlg->tree->setCurrentItem(dlg->optionsNode->child(0));
    EXPECT_EQ(dlg->CurrentPane(), dlg->webserverPane);

    // A device node shows that device's sync log.
    CreateDataFolder(home_.DataFolder() + "/DEV2");
    WriteWholeFile(home_.DataFolder() + "/DEV2/sync.log", "!!!first\ndetail\n");
    dlg->tree->setCurrentItem(dlg->devicesNode->child(1));
    EXPECT_EQ(dlg->CurrentPane(), dlg->syncLogPane);
    ASSERT_EQ(dlg->syncLogPane->list->count(), 1);
    EXPECT_EQ(dlg->syncLogPane->list->item(0)->text().toStdString(), "!!!first");
}

TEST_F(CorvelDlgTest, XmlReloadsOnEverySelectionWebOnlyOnRefresh) {
    auto dlg = Start();
    WriteWholeFile(home_.DataFolder() + "/wbxml.log", "!!!one\n");
    WriteWholeFile(home_.DataFolder() + "/web.log", "!!!w1\n");
    QTreeWidgetItem* xml = Child(dlg->traceNode, "Xml");
    QTreeWidgetItem* web = Child(dlg->traceNode, "Web");
    dlg->tree->setCurrentItem(xml);
    ASSERT_EQ(dlg->xmlLogPane->list->count(), 1);
    WriteWholeFile(home_.DataFolder() + "/wbxml.log", "!!!one\n!!!two\n");
    dlg->tree->setCurrentItem(web);
    EXPECT_EQ(dlg->CurrentPane(), dlg->webLogPane);
    EXPECT_EQ(dlg->webLogPane->list->count(), 0);
    dlg->tree->setCurrentItem(xml);
    ASSERT_EQ(dlg->xmlLogPane->list->count(), 2);
    EXPECT_EQ(dlg->xmlLogPane->list->item(0)->text().toStdString(), "!!!two");
    QTest::mouseClick(dlg->webLogPane->refreshButton, Qt::LeftButton);
    EXPECT_EQ(dlg->webLogPane->list->count(), 1);
}

TEST_F(CorvelDlgTest, LiveTraceFromAnotherThreadArrivesInOrderWhileTraceLiveIsOn) {
    auto dlg = Start();
    dlg->livePane->OnClear();
    std::thread worker([] {
        for (int i = 0; i < 100; ++i) AddLiveTrace("line " + std::to_string(i));
    });
    worker.join();
    DrainEvents();
    QStringList lines = dlg->livePane->Lines();
    ASSERT_EQ(lines.size(), 100);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(lines[i].toStdString(), "line " + std::to_string(i));
    settings_.SetTraceLive(false);
    AddLiveTrace("not shown");
    DrainEvents();
    EXPECT_EQ(dlg->livePane->Lines().size(), 100);
}

TEST_F(CorvelDlgTest, ClientTraceSinkMakesLinesAtCrLfAndCrLfPairs) {
    auto dlg = Start();
    std::thread worker([&dlg] {
        dlg->ClientTraceSink().AddText("a\r");
        dlg->ClientTraceSink().AddText("\nb\rc\nd");
    });
    worker.join();
    DrainEvents();
    EXPECT_EQ(dlg->clientPane->Lines().join("|").toStdString(), "a|b|c");
}

TEST_F(CorvelDlgTest, NewDeviceFromAnotherThreadGetsItsNode) {
    auto dlg = Start();
    std::thread worker([this] { settings_.GetDeviceName("DEV4", "Neu"); });
    worker.join();
    DrainEvents();
    EXPECT_EQ(Children(dlg->devicesNode),
              (std::vector<std::string>{"empty", "Pocket", "Pocket", "Neu"}));
}

TEST_F(CorvelDlgTest, DoubleClickOpensTheDeviceTheNodeStandsFor) {
    auto dlg = Start();
    WriteWholeFile(home_.DataFolder() + "/DEV3.ifo", "Name=carol\nDeviceID=DEV3\n");
    settings_.Devices().LoadAll(home_.DataFolder());
    // DEV2 and DEV3 are both called "Pocket".
    dlg->OpenDeviceNode(dlg->devicesNode->child(2));
    EXPECT_EQ(dlg->CurrentPane(), dlg->userPane);
    ASSERT_TRUE(dlg->userPane->Record());
    EXPECT_EQ(dlg->userPane->Record()->DeviceID, "DEV3");
    EXPECT_EQ(dlg->userPane->userName->text().toStdString(), "carol");
}

TEST_F(CorvelDlgTest, RenamingADeviceRenamesOnlyItsNode) {
    auto dlg = Start();
    dlg->devicesPane->Fill();
    prompts_.inputs.push_back(std::string("Mein Gerät"));
    int row = -1;
    for (int i = 0; i < dlg->devicesPane->list->topLevelItemCount(); ++i) {
        if (dlg->devicesPane->list->topLevelItem(i)->text(0) == "DEV2") row = i;
    }
    ASSERT_GE(row, 0);
    dlg->devicesPane->OnRename(row);
    EXPECT_EQ(Children(dlg->devicesNode),
              (std::vector<std::string>{"empty", "Mein Gerät", "Pocket"}));
}

TEST_F(CorvelDlgTest, UserNodesFollowNewAndDelete) {
    auto dlg = Start();
    prompts_.inputs.push_back(std::string("carol"));
    ASSERT_TRUE(dlg->usersPane->OnNew());
    EXPECT_EQ(Children(dlg->usersNode), (std::vector<std::string>{"alice", "bob", "carol"}));
    dlg->usersPane->list->setCurrentRow(0);
    prompts_.answers.push_back(true);
    dlg->usersPane->OnDelete();
    EXPECT_EQ(Children(dlg->usersNode), (std::vector<std::string>{"bob", "carol"}));
}

TEST_F(CorvelDlgTest, HelpKeysAndTheHelpEditor) {
    auto dlg = Start();
    EXPECT_EQ(HelpKeyFor(dlg->usersPane), "");  // the pane has no enclosing ID
    std::string key = HelpKeyFor(dlg->usersPane->newButton);
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(key.substr(key.find(':')), ":100");
    EXPECT_EQ(HelpKeyFor(dlg->tree), "");
    std::string helpFile = home_.Path() + "/help.inf";
    settings_.SetHelpFilePath(helpFile);
    dlg->helpEditor->ShowKey(key);
    dlg->helpEditor->text->setPlainText("Legt einen Benutzer an");
    dlg->helpEditor->OnSave();
    EXPECT_EQ(settings_.GetHelpText(key), "Legt einen Benutzer an");
    EXPECT_NE(ReadWholeFile(helpFile).find("Legt einen Benutzer an"), std::string::npos);
    dlg->helpEditor->text->setPlainText("verworfen");
    dlg->helpEditor->OnCancel();
    EXPECT_EQ(dlg->helpEditor->text->toPlainText().toStdString(), "Legt einen Benutzer an");
    // The focused control's key reaches the editor on the next tick.
    dlg->activateWindow();
    dlg->usersPane->newButton->setFocus();
    dlg->HelpTick();
    if (QApplication::focusWidget() == dlg->usersPane->newButton) {
        EXPECT_EQ(dlg->helpEditor->Key(), key);
    }
}

}  // namespace
