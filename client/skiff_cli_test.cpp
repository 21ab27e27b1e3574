#include "client/skiff_cli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "client/fake_http_server.h"
#include "client/state_files.h"
#include "client/test_env.h"
#include "platform/pocketoutlook/pocket_outlook.h"
#include "platform/win/device_id.h"

namespace {

struct CliRun {
    int status;
    std::string out, err;
};

CliRun Skiff(std::vector<std::string> args) {
    args.insert(args.begin(), "skiff");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    int status = RunSkiffCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

class SkiffCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string id = (env_.Root() / "machine-id").string();
        std::ofstream(id) << "00112233445566778899aabbccddeeff\n";
        SetMachineIdPathForTesting(id);
        SetClientSettings({});
    }
    void TearDown() override { SetMachineIdPathForTesting(""); }
    TempEnv env_;
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
    ASSERT_EQ(0, Skiff({"pim", "set", "1", "FirstName=Bo \"B\"", "FileAs="}).status);
    EXPECT_EQ("1\tBo \"B\"\n", Skiff({"pim", "list", "contacts"}).out);
    EXPECT_EQ(
        "[{\"oid\":1,\"folder\":\"contacts\",\"fields\":{\"Aniversary\":\"07.03.2009 00:00.00:0\","
        "\"FirstName\":\"Bo \\\"B\\\"\",\"YomiFirstName\":\"A\"}}]\n",
        Skiff({"pim", "list", "contacts", "--json"}).out);
    EXPECT_EQ(0, Skiff({"pim", "delete", "1"}).status);
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
    ASSERT_EQ(0, Skiff({"save"}).status);
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
    EXPECT_NE(std::string::npos,
              run.err.find("skiff sync: items not stored on the desktop; they go again next run\n"));
    EXPECT_NE(std::string::npos, run.out.find("Tasks: handheld +0 ~0 -0, desktop +0 ~0 -0, not "
                                              "stored 1;"))
        << run.out;
    CliRun json = Skiff({"sync", "--json"});
    EXPECT_EQ(kExitNotStored, json.status);
    EXPECT_NE(std::string::npos, json.out.find("\"notStored\":1,"));
}

}  // namespace
