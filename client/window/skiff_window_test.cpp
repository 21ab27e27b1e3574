#include "client/window/skiff_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>

#include "client/client_log.h"
#include "client/test_env.h"
#include "platform/win/registry.h"

namespace {

void Drain() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

TEST(SkiffWindowTest, ControlsAndTexts) {
    TempEnv env;
    CSyncDlg dlg;
    EXPECT_EQ("Skiff", dlg.windowTitle().toStdString());
    EXPECT_EQ("Sync", dlg.sync->text().toStdString());
    EXPECT_EQ("Save", dlg.save->text().toStdString());
    EXPECT_EQ("Optionen", dlg.options->text().toStdString());
    EXPECT_EQ("Static", dlg.status->text().toStdString());
    Drain();
    ASSERT_EQ(1, dlg.log->count());  // the device identifier
    EXPECT_EQ(17, dlg.log->item(0)->text().size());
    SetStatusText("Sending request");
    dlg.Tick();
    EXPECT_EQ("Sending request", dlg.status->text().toStdString());
    SetStatusText("");
    dlg.Tick();
    EXPECT_EQ("", dlg.status->text().toStdString());
}

TEST(SkiffWindowTest, RunStateAndLogLinesFromAnotherThread) {
    TempEnv env;
    CSyncDlg dlg;
    std::thread worker([] {
        AddLogLine("from the run");
        SetStatusText("x");
    });
    worker.join();
    Drain();
    EXPECT_EQ("from the run", dlg.log->item(dlg.log->count() - 1)->text().toStdString());
    // A whole run against an unreachable server: the button reads "Sync" again after.
    SetClientSettings({"no-such-host.invalid", "u", "p"});
    dlg.OnSync();
    dlg.Runner().Wait();
    Drain();
    EXPECT_EQ("Sync", dlg.sync->text().toStdString());
    EXPECT_TRUE(dlg.save->isEnabled());
    bool sawLookup = false;
    for (int i = 0; i < dlg.log->count(); ++i) {
        if (dlg.log->item(i)->text() == "2af9 gethostbyname") sawLookup = true;
    }
    EXPECT_TRUE(sawLookup);
}

TEST(SkiffWindowTest, OptionsFlowSavesOnlyFromPageTwo) {
    TempEnv env;
    SetClientSettings({"old", "olduser", "oldpw"});
    int page1Shown = 0;
    // OK on page 1, cancel on page 2 (back to page 1), then cancel on page 1.
    bool saved = RunOptionsFlow(
        [&page1Shown](CDlgOption1& p) {
            EXPECT_EQ("Skiff", p.windowTitle().toStdString());
            if (++page1Shown == 1) {
                EXPECT_EQ("old", p.server->text().toStdString());
                p.server->setText("desk:8080");
                return int(QDialog::Accepted);
            }
            EXPECT_EQ("desk:8080", p.server->text().toStdString());
            return int(QDialog::Rejected);
        },
        [](CDlgOptions2& p) {
            EXPECT_EQ(5, p.findChildren<QCheckBox*>().size());
            return int(QDialog::Rejected);
        });
    EXPECT_FALSE(saved);
    EXPECT_EQ(2, page1Shown);
    EXPECT_EQ("desk:8080", GetClientSettings().server);  // kept in memory
    std::optional<RegistryKey> key;
    EXPECT_NE(kRegOk, RegistryKey::Open(RegistryRoot::CurrentUser, kSettingsKey, key));

    // OK on both pages saves.
    saved = RunOptionsFlow(
        [](CDlgOption1& p) {
            p.username->setText("ann");
            return int(QDialog::Accepted);
        },
        [](CDlgOptions2&) { return int(QDialog::Accepted); });
    EXPECT_TRUE(saved);
    SetClientSettings({});
    ASSERT_TRUE(LoadClientSettings());
    EXPECT_EQ("desk:8080", GetClientSettings().server);
    EXPECT_EQ("ann", GetClientSettings().username);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
