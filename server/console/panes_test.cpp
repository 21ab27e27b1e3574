// The panes: log and trace panes, users, the settings pane against the store
// engine, devices, options and the web server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/console/console_test_util.h"
#include "server/console/dlg_browse_folder.h"
#include "server/console/dlg_devices.h"
#include "server/console/dlg_errors.h"
#include "server/console/dlg_options.h"
#include "server/console/dlg_trace.h"
#include "server/console/dlg_user.h"
#include "server/console/dlg_users.h"
#include "server/console/dlg_webserver.h"
#include "server/console/qt_translations.h"
#include "server/devices/device_records.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_ref.h"
#include "server/mapi/mapi_status_calls.h"

namespace {

bool Exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

TEST(LogPaneTest, EntriesNewestFirstAndTheLinesOfAnEntry) {
    CLogEntries log = ParseLogText("!!!a\nx\r\ny\n!!!b\n");
    ASSERT_EQ(log.entries.size(), 2u);
    EXPECT_EQ(log.entries[0].text, "!!!b");
    EXPECT_EQ(log.entries[1].text, "!!!a");
    EXPECT_EQ(EntryDetail(log, 1), "x\r\ny\r\n");
    EXPECT_EQ(EntryDetail(log, 0), "");
    EXPECT_EQ(EntryDetail(log, 2), "");
    // A line longer than one read continues as a line of its own.
    CLogEntries longLine = ParseLogText("!!!e\n" + std::string(kMaxLogReadChars, 'a') + "bc\n");
    ASSERT_EQ(longLine.lines.size(), 3u);
    EXPECT_EQ(longLine.lines[2], "bc");
    EXPECT_EQ(ParseLogText(std::string(kMaxLogReadChars, 'a')).lines.size(), 1u);
}

TEST(LogPaneTest, RefreshSelectAndDelete) {
    ConsoleTestHome home;
    std::string path = home.Path() + "/error.log";
    CDlgErrors pane;
    pane.SetFileName(path);
    pane.Refresh();  // missing file: empty pane
    EXPECT_EQ(ControlOf<QListWidget>(&pane, "entries")->count(), 0);
    WriteWholeFile(path, "!!!a\nx\ny\n!!!b\n");
    pane.Refresh();
    ASSERT_EQ(ControlOf<QListWidget>(&pane, "entries")->count(), 2);
    EXPECT_EQ(ControlOf<QListWidget>(&pane, "entries")->item(0)->text().toStdString(), "!!!b");
    ControlOf<QListWidget>(&pane, "entries")->setCurrentRow(1);
    EXPECT_EQ(ControlOf<QPlainTextEdit>(&pane, "detail")->toPlainText().toStdString(), "x\ny\n");
    std::vector<std::string> calls;
    pane.SetDeleteHooks([&] { calls.push_back(Exists(path) ? "before:exists" : "before:gone"); },
                        [&] { calls.push_back(Exists(path) ? "after:exists" : "after:gone"); });
    pane.OnDelete();
    EXPECT_EQ(calls, (std::vector<std::string>{"before:exists", "after:gone"}));
    EXPECT_EQ(ControlOf<QListWidget>(&pane, "entries")->count(), 0);
    EXPECT_TRUE(ControlOf<QPlainTextEdit>(&pane, "detail")->toPlainText().isEmpty());
}

TEST(TracePaneTest, BoundedListCopyTextAndSavedFile) {
    ConsoleTestHome home;
    CDlgtrace pane(3);
    for (const char* line : {"1", "2", "3", "4", "5"}) pane.AddLine(line);
    EXPECT_EQ(pane.Lines().join("|").toStdString(), "3|4|5");
    EXPECT_EQ(pane.JoinedText().toStdString(), "3\r\n4\r\n5");
    std::string path = home.Path() + "/trace.txt";
    ASSERT_TRUE(pane.SaveTo(QString::fromStdString(path)));
    EXPECT_EQ(ReadWholeFile(path), "3\n4\n5\n");
    EXPECT_FALSE(pane.SaveTo(QString::fromStdString(home.Path() + "/missing/trace.txt")));
    pane.OnClear();
    EXPECT_TRUE(pane.Lines().isEmpty());
}

TEST(TracePaneTest, TextWithLineBreaksBecomesOneListLinePerLine) {
    ConsoleTestHome home;
    CDlgtrace pane;
    pane.AddLine("GET /docs\r\nHost: desk\nAccept: */*\rEnde\n");
    pane.AddLine("");
    pane.AddLine("letzte");
    EXPECT_EQ(pane.Lines().join("|").toStdString(),
              "GET /docs|Host: desk|Accept: */*|Ende||letzte");
    std::string path = home.Path() + "/trace.txt";
    ASSERT_TRUE(pane.SaveTo(QString::fromStdString(path)));
    EXPECT_EQ(ReadWholeFile(path), "GET /docs\nHost: desk\nAccept: */*\nEnde\n\nletzte\n");
}

TEST(FolderChooserTest, TheMnemonicOfTheDisplayNameLabelBelongsToItsField) {
    TestApp();
    CDlgBrowseFolder chooser(CMapiRef<IMAPISession>(), true);
    // With a buddy the "&" marks Alt+A instead of being shown.
    QLineEdit* field = ControlOf<QLineEdit>(&chooser, "displayName");
    QLabel* label = nullptr;
    for (QLabel* candidate : chooser.findChildren<QLabel*>()) {
        if (candidate->buddy() == field) label = candidate;
    }
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text().toStdString(), "&Anzeigename");
    EXPECT_EQ(ControlOf<QTreeWidget>(&chooser, "folderTree")->topLevelItemCount(),
              0);  // no session: no stores
}

TEST(QtTranslationsTest, StandardButtonsAndDialogsSpeakGerman) {
    TestApp();
    QTranslator translator;
    ASSERT_TRUE(LoadGermanQtTranslations(translator)) << QtTranslationsFolder();
    QMessageBox box(QMessageBox::Question, "Corvel", "Wirklich löschen?",
                    QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().toStdString(), "&Ja");
    EXPECT_EQ(box.button(QMessageBox::No)->text().toStdString(), "&Nein");
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().toStdString(), "Abbrechen");
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    std::string labels;
    for (QLabel* label : files.findChildren<QLabel*>()) labels += label->text().toStdString() + "|";
    EXPECT_NE(labels.find("Suchen in:"), std::string::npos) << labels;
    QCoreApplication::removeTranslator(&translator);
    QMessageBox english(QMessageBox::Question, "Corvel", "?", QMessageBox::Yes);
    EXPECT_EQ(english.button(QMessageBox::Yes)->text().toStdString(), "&Yes");
}

// A data folder with loaded settings and a MAPI profile "Test".
class PaneTest : public ConsoleDataTest {
protected:
    void SetUp() override {
        ConsoleDataTest::SetUp();
        CMapiRef<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, admin.Put()), S_OK);
        char name[] = "Test";
        ASSERT_EQ(admin->CreateProfile(name, nullptr, 0, MAPI_DEFAULT_SERVICES), S_OK);
        settings_.LoadSettings(home_.DataFolder());
        devices_.Load(home_.DataFolder());
    }
    // The device files of DEV1 and DEV2, and in folder (made) a file "x" for each name.
    void TwoDevicesWithFiles(const std::string& folder, std::initializer_list<const char*> names) {
        WriteWholeFile(File("DEV1.ifo"), "Name=a\nDeviceID=DEV1\n");
        WriteWholeFile(File("DEV2.ifo"), "Name=a\nDeviceID=DEV2\n");
        CreateDataFolder(File(folder));
        for (const char* name : names) WriteWholeFile(File(name), "x");
    }

    // The record of user name kept in <name>.dxt of the data folder; more sets
    // further fields.
    std::shared_ptr<CPocketDevice> UserRecord(
        const std::string& name, const std::function<void(CDeviceConfig&)>& more = nullptr) const {
        CDeviceConfig config;
        config.Name = name;
        config.filePath = File(name + ".dxt");
        if (more) more(config);
        return std::make_shared<CPocketDevice>(std::move(config));
    }

    // The default codes of the record's folders, in their order.
    static std::vector<int32_t> FolderCodes(const CPocketDevice& record) {
        std::vector<int32_t> codes;
        for (const CFolderSetting& folder : record.Config()->folders)
            codes.push_back(folder.defaultCode);
        return codes;
    }

    ScriptedPrompts script_;
    CConsolePrompts prompts_ = script_.Prompts();
};

TEST_F(PaneTest, NewUserIsWrittenAtOnceAndFoundByADeviceLogOn) {
    CDlgUsers pane(settings_, devices_.List(), prompts_);
    script_.inputs.push_back(std::string());
    EXPECT_FALSE(pane.OnNew());  // an empty name does nothing
    script_.inputs.push_back(std::string("../x"));
    EXPECT_FALSE(pane.OnNew());
    EXPECT_EQ(script_.errors.size(), 1u);
    script_.inputs.push_back(std::string("dora"));
    ASSERT_TRUE(pane.OnNew());
    EXPECT_EQ(script_.asked[0], "Username=");
    EXPECT_EQ(ReadWholeFile(File("dora.dxt")).substr(0, 20), "Name=dora\nPasswort=\n");
    ASSERT_EQ(ControlOf<QListWidget>(&pane, "userList")->count(), 1);
    std::shared_ptr<CPocketDevice> device = devices_.List().FindDevice("PPC7", "dora", "");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->Config()->DeviceID, "PPC7");
    script_.inputs.push_back(std::string("dora"));
    EXPECT_FALSE(pane.OnNew());  // the name is taken
    EXPECT_EQ(script_.errors.size(), 2u);
}

TEST_F(PaneTest, DeletingAUserRemovesItsRecordAndFile) {
    CDlgUsers pane(settings_, devices_.List(), prompts_);
    script_.inputs = {std::string("eve"), std::string("fred")};
    ASSERT_TRUE(pane.OnNew());
    ASSERT_TRUE(pane.OnNew());
    std::shared_ptr<CPocketDevice> held = devices_.List().Records()[0];
    ControlOf<QListWidget>(&pane, "userList")->setCurrentRow(0);
    script_.answers.push_back(false);
    pane.OnDelete();
    EXPECT_TRUE(Exists(File("eve.dxt")));
    ControlOf<QListWidget>(&pane, "userList")->setCurrentRow(0);
    script_.answers.push_back(true);
    pane.OnDelete();
    EXPECT_EQ(script_.asked.back(), "Wirklich löschen?");
    EXPECT_FALSE(Exists(File("eve.dxt")));
    ASSERT_EQ(devices_.List().Records().size(), 1u);  // no empty record left behind
    EXPECT_EQ(devices_.List().Records()[0]->Config()->Name, "fred");
    EXPECT_EQ(held->Config()->Name, "eve");  // a holder keeps a valid record
    ASSERT_EQ(ControlOf<QListWidget>(&pane, "userList")->count(), 1);
}

TEST_F(PaneTest, SettingsPaneSavesOnlyWithAProfile) {
    CDlgUser pane(settings_, devices_.List(), prompts_);
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "timeZone")->count(), 25);
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "timeZone")->itemData(0).toInt(), -12);
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "timeZone")->itemData(24).toInt(), 12);
    ASSERT_EQ(ControlOf<QComboBox>(&pane, "profile")->count(), 1);
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "profile")->itemText(0).toStdString(), "Test");

    auto record = UserRecord("gina", [](CDeviceConfig& c) { c.TimeZoneDifference = 3; });
    pane.Bind(record);
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "timeZone")->currentText().toStdString(), "3");
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "profile")->currentIndex(), -1);
    ControlOf<QLineEdit>(&pane, "password")->setText("neu");
    EXPECT_FALSE(pane.OnSave());
    EXPECT_FALSE(Exists(File("gina.dxt")));

    ControlOf<QComboBox>(&pane, "profile")->setCurrentIndex(0);
    ControlOf<QComboBox>(&pane, "timeZone")
        ->setCurrentIndex(ControlOf<QComboBox>(&pane, "timeZone")->findData(-2));
    ASSERT_TRUE(pane.OnSave());
    EXPECT_EQ(ReadWholeFile(File("gina.dxt")),
              "Name=gina\nPasswort=neu\nDeviceID=\nProfileName=Test\nSignaturShort=\n"
              "SignaturAlways=0\nTimeZoneDifference=-2\nSignatur:\n\n");
    // "Abbruch" shows the record again.
    ControlOf<QLineEdit>(&pane, "password")->setText("verworfen");
    pane.Load();
    EXPECT_EQ(ControlOf<QLineEdit>(&pane, "password")->text().toStdString(), "neu");
}

TEST_F(PaneTest, AUserWithoutAProfileDoesNotTakeTheOneShownBefore) {
    CDlgUser pane(settings_, devices_.List(), prompts_);
    auto withProfile = UserRecord("kai", [](CDeviceConfig& c) { c.ProfileName = "Test"; });
    pane.Bind(withProfile);
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "profile")->currentText().toStdString(), "Test");
    auto without = UserRecord("lea");
    pane.Bind(without);
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "profile")->currentIndex(), -1);
    EXPECT_FALSE(pane.OnSave());
    EXPECT_FALSE(Exists(File("lea.dxt")));
    EXPECT_EQ(without->Config()->ProfileName, "");
    // A profile that the machine does not have is not shown as another one either.
    without->EditConfig([](CDeviceConfig& config) { config.ProfileName = "Weg"; });
    pane.Bind(without);
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "profile")->currentIndex(), -1);
    without->EditConfig([](CDeviceConfig& config) { config.ProfileName.clear(); });
    // The profile the operator chooses stays chosen through "Automatisch".
    ControlOf<QComboBox>(&pane, "profile")->setCurrentIndex(0);
    pane.OnAutomatic();
    EXPECT_EQ(ControlOf<QComboBox>(&pane, "profile")->currentText().toStdString(), "Test");
    EXPECT_NE(ReadWholeFile(File("lea.dxt")).find("ProfileName=Test\n"), std::string::npos);
}

TEST_F(PaneTest, AutomaticAddsTheSevenDefaultFolders) {
    CDlgUser pane(settings_, devices_.List(), prompts_);
    auto record = UserRecord("hans");
    pane.Bind(record);
    pane.OnAutomatic();  // no profile selected: nothing
    EXPECT_TRUE(record->Config()->folders.empty());
    ControlOf<QComboBox>(&pane, "profile")->setCurrentIndex(0);
    pane.OnAutomatic();
    EXPECT_EQ(FolderCodes(*record), (std::vector<int32_t>{-6, -8, -7, -4, -1, -2, -3}));
    // Pressed again: the folders are there already, nothing is added twice.
    std::string written = ReadWholeFile(File("hans.dxt"));
    pane.OnAutomatic();
    EXPECT_EQ(record->Config()->folders.size(), 7u);
    EXPECT_EQ(ReadWholeFile(File("hans.dxt")), written);
    ASSERT_EQ(ControlOf<QTreeWidget>(&pane, "folders")->topLevelItemCount(), 7);
    EXPECT_EQ(CellText(&pane, "folders", 3, 0), "Personal Folders\\Inbox");
    EXPECT_EQ(CellText(&pane, "folders", 3, 2), "Posteiengang");
    EXPECT_EQ(CellText(&pane, "folders", 3, 3), "Inbox");
    EXPECT_NE(
        ReadWholeFile(File("hans.dxt")).find("Folder=Personal Folders\\Tasks,0,0,Tasks,-2,5\n"),
        std::string::npos)
        << ReadWholeFile(File("hans.dxt"));
    // "-" removes the selected rows and writes the file again.
    ControlOf<QTreeWidget>(&pane, "folders")->topLevelItem(0)->setSelected(true);
    ControlOf<QTreeWidget>(&pane, "folders")->topLevelItem(6)->setSelected(true);
    pane.OnRemoveFolders();
    EXPECT_EQ(record->Config()->folders.size(), 5u);
    EXPECT_EQ(ReadWholeFile(File("hans.dxt")).find("Outbox"), std::string::npos);
}

TEST_F(PaneTest, AutomaticSkipsAMissingTasksFolder) {
    HRESULT error = S_OK;
    CMapiRef<IMAPISession> session = LogonProfile("Test", error);
    ASSERT_TRUE(session);
    CMapiRef<IMsgStore> store;
    for (const CStoreRow& row : ListStores(session.Get())) {
        if (row.isDefault) store = OpenStore(session.Get(), row.entryId);
    }
    ASSERT_TRUE(store);
    CMapiRef<IMAPIFolder> inbox = OpenFolderEntry(store.Get(), ReceiveFolderId(store.Get(), "IPM"));
    ASSERT_TRUE(inbox);
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_TASK_ENTRYID}};
    ASSERT_EQ(inbox->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), nullptr), S_OK);
    ASSERT_EQ(inbox->SaveChanges(0), S_OK);
    inbox.Reset();
    store.Reset();
    session.Reset();

    CDlgUser pane(settings_, devices_.List(), prompts_);
    auto record = UserRecord("ida");
    pane.Bind(record);
    ControlOf<QComboBox>(&pane, "profile")->setCurrentIndex(0);
    pane.OnAutomatic();
    EXPECT_EQ(FolderCodes(*record), (std::vector<int32_t>{-6, -8, -7, -4, -1, -3}));
}

TEST_F(PaneTest, DeviceListLastAccessAndRename) {
    TwoDevicesWithFiles("DEV2", {"DEV2/a.csv", "DEV2/b.csv", "DEV2/c.txt"});
    struct utimbuf older {
        1000000000, 1000000000
    };  // 09.09.2001 01:46 UTC
    struct utimbuf newer {
        1200000000, 1200000000
    };  // 10.01.2008 21:20 UTC
    struct utimbuf newest {
        1300000000, 1300000000
    };
    utime(File("DEV2/a.csv").c_str(), &older);
    utime(File("DEV2/b.csv").c_str(), &newer);
    utime(File("DEV2/c.txt").c_str(), &newest);
    settings_.LoadSettings(home_.DataFolder());
    devices_.Load(home_.DataFolder());
    settings_.SetDeviceName("DEV2", "Pocket");

    CDlgDevices pane(settings_, devices_.List(), prompts_);
    pane.Fill();
    ASSERT_EQ(ControlOf<QTreeWidget>(&pane, "deviceList")->topLevelItemCount(), 2);
    EXPECT_EQ(CellText(&pane, "deviceList", 0, 1), "");
    EXPECT_EQ(CellText(&pane, "deviceList", 0, 2), "");
    EXPECT_EQ(CellText(&pane, "deviceList", 1, 1), "Pocket");
    EXPECT_EQ(CellText(&pane, "deviceList", 1, 2), "10.01.2008 21:20");

    // The same name again writes nothing.
    std::string renamed;
    pane.deviceRenamed = [&renamed](const std::string& id) { renamed = id; };
    script_.inputs.push_back(std::string("Pocket"));
    pane.OnRename(1);
    EXPECT_EQ(script_.asked.back(), "Name=Pocket");
    EXPECT_FALSE(Exists(File("settings.inf")));
    EXPECT_EQ(renamed, "");
    script_.inputs.push_back(std::string("Tasche\nWebDir=x"));
    pane.OnRename(1);
    EXPECT_EQ(renamed, "DEV2");
    EXPECT_EQ(settings_.DeviceNames().at("DEV2"), "Tasche WebDir=x");
    EXPECT_EQ(CellText(&pane, "deviceList", 1, 1), "Tasche WebDir=x");
    EXPECT_NE(ReadWholeFile(File("settings.inf")).find("Device=DEV2:Tasche WebDir=x\n"),
              std::string::npos);
}

TEST_F(PaneTest, ResetAndDeleteTouchOnlyTheDevicesOwnFiles) {
    TwoDevicesWithFiles("DEV1/sub", {"DEV1/a.csv", "DEV1/.keep", "DEV1/sub/b.csv", "outside.txt"});
    std::filesystem::create_symlink(File("outside.txt"), File("DEV1/link"));
    settings_.LoadSettings(home_.DataFolder());
    devices_.Load(home_.DataFolder());
    settings_.SetDeviceName("DEV1", "Eins");
    devices_.List().FindExistingDevice("DEV1")->syncState["-4"] = nullptr;

    // "." or ".." never names a device.
    EXPECT_FALSE(DeleteDeviceFiles(home_.DataFolder(), "."));
    EXPECT_FALSE(DeleteDeviceFiles(home_.DataFolder(), ".."));
    EXPECT_FALSE(DeleteDeviceFiles(home_.DataFolder(), "DEV1/../DEV2"));
    EXPECT_TRUE(Exists(File("DEV2.ifo")));

    CDlgDevices pane(settings_, devices_.List(), prompts_);
    pane.Fill();
    ControlOf<QTreeWidget>(&pane, "deviceList")
        ->setCurrentItem(ControlOf<QTreeWidget>(&pane, "deviceList")->topLevelItem(0));
    script_.answers.push_back(true);
    pane.OnReset();
    EXPECT_EQ(script_.asked.back(), "Soll das Gerät zurückgesetzt werden?");
    EXPECT_FALSE(Exists(File("DEV1.ifo")));
    EXPECT_FALSE(Exists(File("DEV1/a.csv")));
    EXPECT_FALSE(Exists(File("DEV1/link")));
    EXPECT_TRUE(Exists(File("outside.txt")));
    EXPECT_TRUE(Exists(File("DEV1/.keep")));
    EXPECT_TRUE(Exists(File("DEV1/sub/b.csv")));
    EXPECT_TRUE(Exists(File("DEV2.ifo")));
    EXPECT_TRUE(devices_.List().FindExistingDevice("DEV1")->syncState.empty());
    EXPECT_EQ(settings_.DeviceNames().count("DEV1"), 1u);

    // "Gerät Löschen" answered No still fills the list again.
    auto extra = std::make_shared<CPocketDevice>([&] {
        CDeviceConfig c;
        c.DeviceID = "DEV3";
        return c;
    }());
    devices_.List().Add(extra);
    ControlOf<QTreeWidget>(&pane, "deviceList")
        ->setCurrentItem(ControlOf<QTreeWidget>(&pane, "deviceList")->topLevelItem(0));
    script_.answers.push_back(false);
    pane.OnDelete();
    EXPECT_EQ(ControlOf<QTreeWidget>(&pane, "deviceList")->topLevelItemCount(), 3);
    EXPECT_EQ(settings_.DeviceNames().count("DEV1"), 1u);
    ControlOf<QTreeWidget>(&pane, "deviceList")
        ->setCurrentItem(ControlOf<QTreeWidget>(&pane, "deviceList")->topLevelItem(0));
    script_.answers.push_back(true);
    pane.OnDelete();
    EXPECT_EQ(settings_.DeviceNames().count("DEV1"), 0u);
    EXPECT_EQ(ReadWholeFile(File("settings.inf")).find("DEV1"), std::string::npos);
}

TEST_F(PaneTest, OptionsFillSaveAndAnInvalidPort) {
    EXPECT_EQ(LeadingNumber("12abc"), 12);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("99999999999"), 0);
    CDlgOptions pane(settings_, prompts_);
    EXPECT_EQ(ControlOf<QLineEdit>(&pane, "port")->text().toStdString(), "80");
    EXPECT_TRUE(ControlOf<QCheckBox>(&pane, "traceXml")->isChecked());
    ControlOf<QCheckBox>(&pane, "traceXml")->setChecked(false);
    ControlOf<QCheckBox>(&pane, "startOutlook")->setChecked(true);
    ControlOf<QLineEdit>(&pane, "keepSyncFiles")->setText("30 Tage");
    ControlOf<QLineEdit>(&pane, "port")->setText("8080");
    ASSERT_TRUE(pane.OnSave());
    EXPECT_FALSE(settings_.ProtocolTrace());
    EXPECT_TRUE(settings_.StartOutlook());
    EXPECT_EQ(settings_.KeepSyncFiles(), 30);
    EXPECT_EQ(settings_.HttpPort(), 8080);
    EXPECT_NE(ReadWholeFile(File("settings.inf")).find("HttpPort=8080\n"), std::string::npos);
    for (const char* bad : {"abc", "0", "65536"}) {
        ControlOf<QLineEdit>(&pane, "port")->setText(bad);
        EXPECT_FALSE(pane.OnSave()) << bad;
        EXPECT_EQ(settings_.HttpPort(), 8080) << bad;
        EXPECT_EQ(ControlOf<QLineEdit>(&pane, "port")->text().toStdString(), "8080");
    }
    EXPECT_EQ(script_.errors.size(), 3u);
    ControlOf<QLineEdit>(&pane, "port")->setText("65535");
    EXPECT_TRUE(pane.OnSave());
    EXPECT_EQ(settings_.HttpPort(), 65535);
    ControlOf<QCheckBox>(&pane, "traceLive")->setChecked(!settings_.TraceLive());
    pane.Fill();  // "Abbruch"
    EXPECT_EQ(ControlOf<QCheckBox>(&pane, "traceLive")->isChecked(), settings_.TraceLive());
}

TEST_F(PaneTest, WebDirectoriesAddChangeRemoveAndBaseDir) {
    CDlgWebserver pane(settings_, prompts_);
    std::deque<std::optional<CWebDirectory>> answers;
    std::vector<std::string> starts;
    pane.editDirectory = [&](QWidget*, const CWebDirectory& start) {
        starts.push_back(start.Directory);
        std::optional<CWebDirectory> answer = answers.front();
        answers.pop_front();
        return answer;
    };
    answers.push_back(CWebDirectory{"docs", "/srv/docs", "R", "u", "p"});
    EXPECT_TRUE(pane.OnAdd());
    answers.push_back(CWebDirectory{"docs", "/elsewhere", "", "", ""});
    EXPECT_FALSE(pane.OnAdd());  // the existing record stays
    EXPECT_EQ(settings_.WebDirectories().at("docs").URL, "/srv/docs");
    ASSERT_EQ(ControlOf<QTreeWidget>(&pane, "directoryList")->topLevelItemCount(), 1);
    EXPECT_EQ(CellText(&pane, "directoryList", 0, 4), "p");
    EXPECT_NE(ReadWholeFile(File("settings.inf")).find("WebDir=docs ;/srv/docs ;R ;u ;p\n"),
              std::string::npos);
    answers.push_back(std::nullopt);
    EXPECT_FALSE(pane.OnAdd());
    // A field settings.inf cannot hold is refused, not written shifted.
    answers.push_back(CWebDirectory{"geheim", "/srv/geheim", "R", "u", "a;b"});
    EXPECT_FALSE(pane.OnAdd());
    ASSERT_EQ(script_.errors.size(), 1u);
    EXPECT_EQ(script_.errors.back().rfind("Ungültiges virtuelles Verzeichnis", 0), 0u);
    EXPECT_EQ(settings_.WebDirectories().count("geheim"), 0u);
    script_.errors.clear();

    ControlOf<QTreeWidget>(&pane, "directoryList")
        ->setCurrentItem(ControlOf<QTreeWidget>(&pane, "directoryList")->topLevelItem(0));
    answers.push_back(CWebDirectory{"doku", "/srv/doku", "", "", ""});
    pane.OnChange();
    EXPECT_EQ(starts.back(), "docs");
    EXPECT_EQ(settings_.WebDirectories().count("docs"), 0u);
    EXPECT_EQ(settings_.WebDirectories().at("doku").URL, "/srv/doku");

    answers.push_back(CWebDirectory{"privat", "/srv/privat", "", "", ""});
    EXPECT_TRUE(pane.OnAdd());
    ControlOf<QTreeWidget>(&pane, "directoryList")
        ->setCurrentItem(
            ControlOf<QTreeWidget>(&pane, "directoryList")->topLevelItem(0));  // "doku"
    answers.push_back(CWebDirectory{"privat", "/srv/anders", "", "", ""});
    pane.OnChange();
    EXPECT_EQ(settings_.WebDirectories().at("privat").URL, "/srv/privat");
    EXPECT_EQ(settings_.WebDirectories().at("doku").URL, "/srv/doku");
    EXPECT_EQ(script_.errors.size(), 1u);
    ControlOf<QTreeWidget>(&pane, "directoryList")
        ->setCurrentItem(ControlOf<QTreeWidget>(&pane, "directoryList")->topLevelItem(1));
    pane.OnRemove();
    ControlOf<QTreeWidget>(&pane, "directoryList")
        ->setCurrentItem(ControlOf<QTreeWidget>(&pane, "directoryList")->topLevelItem(0));
    pane.OnRemove();
    EXPECT_TRUE(settings_.WebDirectories().empty());
    EXPECT_EQ(ControlOf<QTreeWidget>(&pane, "directoryList")->topLevelItemCount(), 0);

    pane.chooseBaseDir = [](QWidget*) { return std::optional<std::string>(); };
    pane.OnBrowse();
    EXPECT_EQ(settings_.WebBaseDir(), "");
    pane.chooseBaseDir = [](QWidget*) { return std::optional<std::string>("/srv/www"); };
    pane.OnBrowse();
    EXPECT_EQ(settings_.WebBaseDir(), "/srv/www");
    EXPECT_EQ(ControlOf<QLineEdit>(&pane, "baseDir")->text().toStdString(), "/srv/www");
    ControlOf<QLineEdit>(&pane, "baseDir")->setText("/srv/other");
    pane.OnBaseDirEdited();
    EXPECT_NE(ReadWholeFile(File("settings.inf")).find("WebBaseDir=/srv/other\n"),
              std::string::npos);
}

}  // namespace
