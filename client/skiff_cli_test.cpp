#include "client/skiff_cli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "client/fake_http_server.h"
#include "client/skiff_cli_test_util.h"
#include "client/state_files.h"
#include "client/test_env.h"
#include "platform/pocketoutlook/pocket_outlook.h"
#include "platform/win/device_id.h"
#include "platform/win/registry.h"

namespace {

class SkiffCliTest : public ::testing::Test {
protected:
    void SetUp() override { SetClientSettings({}); }
    TempEnv env_;
    FixedMachineId machine_{env_.Root()};
};

TEST_F(SkiffCliTest, PimAddListShowSetDelete) {
    CliRun add = Skiff({"pim", "add", "contacts", "FirstName=Ann", "Aniversary=2009-03-07",
                        "YomiFirstName=A", "FileAs=Lee, Ann", "--json"});
    ASSERT_EQ(0, add.status) << add.err;
    EXPECT_EQ("{\"oid\":1}\n", add.out);
    CliRun show = Skiff({"pim", "show", "1", "--json"});
    EXPECT_EQ(
        "{\"oid\":1,\"folder\":\"contacts\",\"fields\":{\"Aniversary\":\"07.03.2009 00:00.00:0\","
        "\"FirstName\":\"Ann\",\"FileAs\":\"Lee, Ann\",\"YomiFirstName\":\"A\"}}\n",
        show.out);
    EXPECT_EQ("1\tLee, Ann\n", Skiff({"pim", "list", "contacts"}).out);
    CliRun set = Skiff({"pim", "set", "1", "FirstName=Bo \"B\"", "FileAs="});
    ASSERT_EQ(0, set.status);
    EXPECT_EQ("oid 1 (contacts) changed: FirstName, FileAs\n", set.out);
    // Without FileAs the list shows first and last name.
    EXPECT_EQ("1\tBo \"B\"\n", Skiff({"pim", "list", "contacts"}).out);
    EXPECT_EQ(
        "[{\"oid\":1,\"folder\":\"contacts\",\"fields\":{\"Aniversary\":\"07.03.2009 00:00.00:0\","
        "\"FirstName\":\"Bo \\\"B\\\"\",\"YomiFirstName\":\"A\"}}]\n",
        Skiff({"pim", "list", "contacts", "--json"}).out);
    CliRun deleted = Skiff({"pim", "delete", "1"});
    EXPECT_EQ(0, deleted.status);
    EXPECT_EQ("oid 1 (contacts) deleted: Bo \"B\"\n", deleted.out);
    EXPECT_EQ(1, Skiff({"pim", "delete", "1"}).status);
    EXPECT_EQ(1, Skiff({"pim", "show", "1"}).status);
    EXPECT_EQ("[]\n", Skiff({"pim", "list", "contacts", "--json"}).out);
}

TEST_F(SkiffCliTest, TaskAndAppointmentValuesAndBadInput) {
    ASSERT_EQ(0, Skiff({"pim", "add", "tasks", "TaskSubject=Call", "TaskComplete=true",
                        "TaskImportance=2", "TaskDueDate=07032009 14:05:09"})
                     .status);
    EXPECT_EQ(
        "oid 1 (tasks)\nTaskIsRecurring=0\nTaskSubject=Call\nTaskDueDate=07.03.2009 14:05.09:0\n"
        "TaskImportance=2\nTaskComplete=1\nTaskSensitivity=0\nTaskTeamTask=0\n"
        "TaskReminderSet=0\nTaskReminderOptions=0\n",
        Skiff({"pim", "show", "1"}).out);
    CliRun badField = Skiff({"pim", "add", "calendar", "Nonsense=1"});
    EXPECT_EQ(2, badField.status);
    EXPECT_EQ("unknown field for calendar: Nonsense\n", badField.err);
    EXPECT_EQ(2, Skiff({"pim", "add", "calendar", "Duration=ten"}).status);
    EXPECT_EQ(2, Skiff({"pim", "add", "calendar", "Start=31.02.2009 10:00.00:0"}).status);
    EXPECT_EQ(2, Skiff({"pim", "add", "calendar", "AllDayEvent=maybe"}).status);
    EXPECT_EQ(2, Skiff({"pim", "add", "notes"}).status);
    EXPECT_EQ(2, Skiff({"pim", "set", "1", "noequals"}).status);
    EXPECT_EQ(2, Skiff({"frobnicate"}).status);
    // Nothing was added by the refused commands.
    EXPECT_EQ("[]\n", Skiff({"pim", "list", "calendar", "--json"}).out);
}

TEST_F(SkiffCliTest, ConfigWritesTheRegistryAndSyncReportsReachability) {
    ASSERT_EQ(0, Skiff({"config", "--server", "no-such-host.invalid", "--user", "ann", "--password",
                        "pw"})
                     .status);
    CliRun shown = Skiff({"config", "--json"});
    // The device ID made on first use and kept, not the machine's.
    std::string deviceId = GetDeviceId();
    EXPECT_EQ(17u, deviceId.size());
    EXPECT_NE("00233445566FFA5BB", deviceId);
    EXPECT_EQ(std::string("{\"server\":\"no-such-host.invalid\",\"user\":\"ann\",\"deviceId\":\"") +
                  deviceId + "\",\"dataFolder\":" + "\"" +
                  (env_.Root() / "docs/Norvex/VantroMobile").string() + "\"" + "}\n",
              shown.out);
    CliRun failed = Skiff({"sync"});
    EXPECT_EQ(1, failed.status);
    EXPECT_NE(std::string::npos, failed.out.find("2af9 gethostbyname\n"));

    std::string answer = std::string("\x03\x01\x6A\x00", 4);
    FakeHttpServer server([&answer](const std::string&) {
        return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n" + answer};
    });
    ASSERT_EQ(0,
              Skiff({"config", "--server", "127.0.0.1:" + std::to_string(server.Port())}).status);
    CliRun ok = Skiff({"sync", "--json"});
    EXPECT_EQ(0, ok.status) << ok.err;
    const std::string zero = "{\"added\":0,\"matched\":0,\"changed\":0,\"deleted\":0,\"kept\":0}";
    auto folder = [&zero](const char* name) {
        return std::string("{\"folder\":\"") + name + "\",\"handheld\":" + zero +
               ",\"desktop\":" + zero +
               ",\"conflicts\":0,\"notStored\":0,\"held\":{\"handheld\":0,\"desktop\":0}}";
    };
    const std::string line =
        "Sync report: Contacts: handheld +0 ~0 -0, desktop +0 ~0 -0; Tasks: handheld +0 ~0 -0, "
        "desktop +0 ~0 -0; Calendar: handheld +0 ~0 -0, desktop +0 ~0 -0";
    EXPECT_EQ(
        "{\"started\":true,\"folders\":3,\"itemsSent\":0,\"sent\":true,\"answered\":true,"
        "\"itemsApplied\":0,\"mappings\":0,\"foldersSaved\":3,\"stopped\":false,\"error\":\"\","
        "\"deletesSent\":0,\"acksSent\":0,\"deletesApplied\":0,\"failed\":0,\"acksKept\":0,"
        "\"massDeleteHeld\":false,\"newHandheldStore\":false,\"conflicts\":0,\"notStored\":0,"
        "\"report\":[" +
            folder("Contacts") + "," + folder("Tasks") + "," + folder("Calendar") +
            "],\"reportLine\":\"" + line + "\"}\n",
        ok.out);
    EXPECT_NE(std::string::npos, ok.err.find("Syncing Folder Kontakte - 0 Elements\n"));
    // Without --json the report is the last line of the output.
    CliRun text = Skiff({"sync"});
    EXPECT_EQ(0, text.status) << text.err;
    ASSERT_GE(text.out.size(), line.size() + 1);
    EXPECT_EQ(line + "\n", text.out.substr(text.out.size() - line.size() - 1));
    EXPECT_EQ(0, Skiff({"save"}).status);
    EXPECT_TRUE(std::filesystem::exists(env_.Root() / "docs/Norvex/VantroMobile/tasks.dat"));
}

TEST_F(SkiffCliTest, MassDeletionsAreHeldUntilAllowed) {
    // 25 synced tasks, all deleted on the handheld.
    PocketOutlookApplication app;
    ASSERT_TRUE(app.Logon());
    IdMap map;
    for (int i = 0; i < 25; ++i) {
        auto item = app.GetDefaultFolder(olFolderTasks)->Items().Add();
        item->SetText("Subject", "t" + std::to_string(i));
        ASSERT_TRUE(item->Save());
        map["5E" + std::to_string(10 + i)] = std::to_string(item->Oid());
    }
    ASSERT_TRUE(WriteIdMap(GetDataFolder() + "/tasks.txt", map));
    ASSERT_EQ(0, Skiff({"save", "--force"}).status);
    for (const auto& entry : map)
        ASSERT_TRUE(app.GetItemFromOid(std::stol(entry.second))->Delete());

    std::string header = std::string("\x03\x01\x6A\x00", 4);
    FakeHttpServer server([&header](const std::string&) {
        return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n" + header};
    });
    ASSERT_EQ(0,
              Skiff({"config", "--server", "127.0.0.1:" + std::to_string(server.Port())}).status);
    CliRun held = Skiff({"sync"});
    EXPECT_EQ(3, held.status) << held.err;
    EXPECT_NE(
        std::string::npos,
        held.err.find("skiff sync: deletions held back; run skiff sync --allow-mass-delete\n"));
    EXPECT_NE(
        std::string::npos,
        held.out.find("Mass delete held: 25 of 25 Aufgaben items deleted on the handheld are "
                      "not deleted on the desktop; run skiff sync --allow-mass-delete to send "
                      "them\n"));
    EXPECT_NE(std::string::npos,
              held.out.find("Tasks: handheld +0 ~0 -0, desktop +0 ~0 -0 (held: desktop -25);"));
    EXPECT_EQ(std::string::npos, server.Requests().back().find("5E10"));

    CliRun allowed = Skiff({"sync", "--allow-mass-delete", "--json"});
    EXPECT_EQ(0, allowed.status) << allowed.err;
    EXPECT_NE(std::string::npos, allowed.out.find("\"deletesSent\":25,"));
    EXPECT_NE(std::string::npos, allowed.out.find("\"massDeleteHeld\":false,"));
    EXPECT_NE(std::string::npos, server.Requests().back().find("5E10"));
    // The deletions went: nothing is left to send, and the map is empty.
    EXPECT_EQ("", TempEnv::ReadFile(GetDataFolder() + "/tasks.txt"));
    EXPECT_EQ(0, Skiff({"sync"}).status);
}

TEST_F(SkiffCliTest, ItemsTheDesktopDidNotStoreEndTheSyncWithStatusFour) {
    PocketOutlookApplication app;
    ASSERT_TRUE(app.Logon());
    ASSERT_EQ(0, Skiff({"pim", "add", "tasks", "TaskSubject=refused"}).status);
    std::string cid = "1@" + app.StoreIdentity();
    std::string body = std::string("\x03\x01\x6A\x00", 4) + "\x66\x55\x59\x03-2" +
                       std::string("\x00\x01", 2) + "\x67\x59\x03" + cid +
                       std::string("\x00\x01", 2) + "\x6B\x03" + "1" +
                       std::string("\x00\x01\x01\x01\x01", 5);
    FakeHttpServer server([&body](const std::string&) {
        return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: " +
                                        std::to_string(body.size()) + "\r\n\r\n" + body};
    });
    ASSERT_EQ(0,
              Skiff({"config", "--server", "127.0.0.1:" + std::to_string(server.Port())}).status);
    CliRun run = Skiff({"sync"});
    EXPECT_EQ(kExitNotStored, run.status) << run.out << run.err;
    EXPECT_NE(
        std::string::npos,
        run.err.find("skiff sync: items not stored on the desktop; they go again next run\n"));
    EXPECT_NE(std::string::npos, run.out.find("Tasks: handheld +0 ~0 -0, desktop +0 ~0 -0, not "
                                              "stored 1;"))
        << run.out;
    CliRun json = Skiff({"sync", "--json"});
    EXPECT_EQ(kExitNotStored, json.status);
    EXPECT_NE(std::string::npos, json.out.find("\"notStored\":1,"));
}

TEST_F(SkiffCliTest, ListNamesHelpListsTheFields) {
    ASSERT_EQ(0,
              Skiff({"pim", "add", "contacts", "FirstName=Ann", "LastName=Lee", "CompanyName=Acme"})
                  .status);
    ASSERT_EQ(0, Skiff({"pim", "add", "contacts", "CompanyName=Acme\nGmbH"}).status);
    EXPECT_EQ("1\tAnn Lee\n2\tAcme GmbH\n", Skiff({"pim", "list", "contacts"}).out);
    ASSERT_EQ(
        0, Skiff({"pim", "add", "calendar", "Subject=Planung", "Start=2026-12-10 09:00"}).status);
    EXPECT_EQ("3\tPlanung (10.12.2026 09:00.00:0)\n", Skiff({"pim", "list", "calendar"}).out);
    CliRun help = Skiff({"pim", "add", "--help"});
    EXPECT_EQ(0, help.status);
    for (const char* text :
         {"contacts:", "FirstName", "Aniversary", "tasks:", "TaskSubject", "TaskDueDate",
          "calendar:", "ReminderMinutesBeforeStart", "yyyy-mm-dd"}) {
        EXPECT_NE(std::string::npos, help.out.find(text)) << text << help.out;
    }
    EXPECT_NE(std::string::npos, Skiff({"pim", "set", "--help"}).out.find("TaskSubject"));
}

TEST_F(SkiffCliTest, ConfigRefusesAddressesAndValuesItCannotUse) {
    ASSERT_EQ(0, Skiff({"config", "--server", "desk:8080", "--user", "ann"}).status);
    for (const char* bad :
         {"127.0.0.1:99999", "127.0.0.1:0", "desk:", ":80", "my desk", "a/b", "desk:80x", ""}) {
        CliRun refused = Skiff({"config", "--server", bad});
        EXPECT_EQ(2, refused.status) << bad;
        EXPECT_EQ(0u, refused.err.rfind("skiff config: ", 0)) << refused.err;
    }
    EXPECT_EQ("skiff config: the port is not a number from 1 to 65535: 99999\n",
              Skiff({"config", "--server", "127.0.0.1:99999"}).err);
    // The longest password the settings can read back is kept; a longer one is refused.
    std::string longest(kMaxSettingUnits, 'p');
    CliRun saved = Skiff({"config", "--password", longest});
    EXPECT_EQ(0, saved.status) << saved.err;
    EXPECT_EQ("Saved: Password (255 characters)\n", saved.out);
    SetClientSettings({});
    ASSERT_TRUE(LoadClientSettings());
    EXPECT_EQ(longest, GetClientSettings().password);
    EXPECT_EQ("desk:8080", GetClientSettings().server);
    CliRun tooLong = Skiff({"config", "--password", longest + "p"});
    EXPECT_EQ(2, tooLong.status);
    EXPECT_EQ(
        "skiff config: the password is longer than 255 characters, the most that can be read "
        "back; nothing was saved\n",
        tooLong.err);
    SetClientSettings({});
    ASSERT_TRUE(LoadClientSettings());
    EXPECT_EQ(longest, GetClientSettings().password);
    // A value written by someone else that cannot be read back is reported.
    std::optional<RegistryKey> key;
    ASSERT_EQ(kRegOk, RegistryKey::Open(RegistryRoot::CurrentUser, kSettingsKey, key));
    ASSERT_EQ(kRegOk, key->SetString("Password", std::string(300, 'x')));
    CliRun shown = Skiff({"config"});
    EXPECT_EQ(0, shown.status);
    EXPECT_NE(std::string::npos, shown.err.find("the setting Password cannot be read back"))
        << shown.err;
}

TEST_F(SkiffCliTest, SaveWarnsAboutChangesNotSentYet) {
    CliRun nothing = Skiff({"save"});
    EXPECT_EQ(0, nothing.status) << nothing.err;
    EXPECT_EQ("Snapshots written; there were no changes to send\n", nothing.out);
    ASSERT_EQ(0, Skiff({"pim", "add", "contacts", "FileAs=Lee, Ann"}).status);
    ASSERT_EQ(0, Skiff({"pim", "add", "tasks", "TaskSubject=Call"}).status);
    std::string snapshot = TempEnv::ReadFile(GetDataFolder() + "/contacts.dat");
    CliRun refused = Skiff({"save"});
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ(
        "skiff save: 2 change(s) not sent yet (Contacts: 1 changed; Tasks: 1 changed) would be "
        "taken as sent and never reach the server; run skiff sync first, or skiff save --force "
        "to drop them\n",
        refused.err);
    EXPECT_EQ(snapshot, TempEnv::ReadFile(GetDataFolder() + "/contacts.dat"));
    CliRun forced = Skiff({"save", "--force"});
    EXPECT_EQ(0, forced.status) << forced.err;
    EXPECT_EQ(
        "Snapshots written; 2 change(s) not sent were dropped (Contacts: 1 changed; Tasks: 1 "
        "changed)\n",
        forced.out);
    EXPECT_NE(snapshot, TempEnv::ReadFile(GetDataFolder() + "/contacts.dat"));
    EXPECT_EQ("{\"saved\":true,\"dropped\":0}\n", Skiff({"save", "--json"}).out);
}

}  // namespace
