// corvel device list / reset / remove over a temporary data folder.
#include "server/app/device_command.h"

#include <gtest/gtest.h>
#include <utime.h>

#include <filesystem>
#include <mutex>
#include <sstream>

#include "server/config/config_test_util.h"
#include "server/config/data_folder.h"
#include "server/config/data_folder_lock.h"
#include "server/config/settings.h"
#include "server/config/settings_watcher.h"
#include "server/devices/device_records.h"
#include "server/devices/device_requests.h"
#include "server/devices/sync_log.h"

namespace {

class DeviceCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = temp_.Path() + "/Norvex/Corvel";
        ASSERT_TRUE(CreateDataFolder(data_ + "/DEV1"));
        ASSERT_TRUE(CreateDataFolder(data_ + "/DEV2"));
        WriteWholeFile(data_ + "/DEV1.ifo", "Name=alice\nPasswort=pw\nDeviceID=DEV1\n");
        WriteWholeFile(data_ + "/DEV2.ifo", "Name=bob\nPasswort=pw\nDeviceID=DEV2\n");
        WriteWholeFile(data_ + "/settings.inf", "Device=DEV1:Pocket\nDevice=DEV3:Alt\n");
        for (const char* name : {"-1.csv", "-1_temp.2.csv", "-1.map", "-2.csv", "-2_temp.csv"})
            WriteWholeFile(data_ + "/DEV1/" + name, "x");
        WriteWholeFile(data_ + "/DEV2/-3.csv", "x");
        struct utimbuf when {
            1200000000, 1200000000
        };  // 10.01.2008 21:20 UTC
        utime((data_ + "/DEV2/-3.csv").c_str(), &when);
        SyncLogTime first(std::chrono::seconds(1714555812));
        ASSERT_TRUE(AppendSyncFolders(data_, "DEV1", {{"Contacts", {5, 0, 0}, {0, 0, 0}}}, first));
        ASSERT_TRUE(AppendSyncFolders(data_, "DEV1",
                                      {{"Contacts", {0, 1, 0}, {2, 0, 0}, 1}, {"Tasks", {}, {}}},
                                      first + std::chrono::minutes(5)));
    }
    void Clear() {
        out_.str("");
        err_.str("");
    }
    std::string List(bool json = false) {
        Clear();
        EXPECT_EQ(RunDeviceList(data_, json, out_, err_), 0);
        return out_.str();
    }
    bool Exists(const std::string& name) const {
        return std::filesystem::exists(data_ + "/" + name);
    }

    TempFolder temp_;
    std::string data_;
    std::ostringstream out_, err_;
};

TEST_F(DeviceCommandTest, ListShowsNameUserAndTheLastSyncPerFolder) {
    EXPECT_EQ(List(),
              "DEVICE\tNAME\tUSER\tLAST SYNC (UTC)\tLAST SYNC PER FOLDER\n"
              "DEV1\tPocket\talice\t2024-05-01 09:35:12.000\tContacts: handheld +0 ~1 -0, desktop "
              "+2 ~0 -0, 1 conflicts; Tasks: handheld +0 ~0 -0, desktop +0 ~0 -0\n"
              "DEV2\t\tbob\t10.01.2008 21:20\t(state files only)\n"
              "DEV3\tAlt\t(no device file)\tnever\t\n");
    EXPECT_EQ(List(true),
              "[{\"device\":\"DEV1\",\"name\":\"Pocket\",\"user\":\"alice\",\"deviceFile\":true,"
              "\"lastSync\":\"2024-05-01 09:35:12.000\",\"folders\":[{\"folder\":\"Contacts\","
              "\"handheld\":{\"added\":0,\"changed\":1,\"deleted\":0},\"desktop\":{\"added\":2,"
              "\"changed\":0,\"deleted\":0},\"conflicts\":1},{\"folder\":\"Tasks\",\"handheld\":{"
              "\"added\":0,\"changed\":0,\"deleted\":0},\"desktop\":{\"added\":0,\"changed\":0,"
              "\"deleted\":0},\"conflicts\":0}]},"
              "{\"device\":\"DEV2\",\"name\":\"\",\"user\":\"bob\",\"deviceFile\":true,"
              "\"lastSync\":null,\"folders\":[]},"
              "{\"device\":\"DEV3\",\"name\":\"Alt\",\"user\":\"\",\"deviceFile\":false,"
              "\"lastSync\":null,\"folders\":[]}]\n");
    TempFolder empty;
    Clear();
    EXPECT_EQ(RunDeviceList(empty.Path(), false, out_, err_), 0);
    EXPECT_EQ(out_.str(), "No devices have logged on yet.\n");
}

TEST_F(DeviceCommandTest, ResetOfOneFolderOrTheWholeDevice) {
    Clear();
    ASSERT_EQ(RunDeviceReset(data_, "DEV1", "-1", out_, err_), 0) << err_.str();
    EXPECT_EQ(out_.str(),
              "Device DEV1: 3 state file(s) of folder -1 deleted; the folder's next sync starts "
              "afresh\n");
    EXPECT_FALSE(Exists("DEV1/-1.csv") || Exists("DEV1/-1_temp.2.csv") || Exists("DEV1/-1.map"));
    EXPECT_TRUE(Exists("DEV1/-2.csv") && Exists("DEV1/-2_temp.csv") && Exists("DEV1/sync.log"));
    EXPECT_TRUE(Exists("DEV1.ifo"));
    Clear();
    ASSERT_EQ(RunDeviceReset(data_, "DEV1", "", out_, err_), 0) << err_.str();
    EXPECT_FALSE(Exists("DEV1.ifo") || Exists("DEV1/-2.csv") || Exists("DEV1/sync.log"));
    EXPECT_TRUE(Exists("DEV2.ifo") && Exists("DEV2/-3.csv"));
    // The name stays: a reset is not a removal.
    EXPECT_NE(ReadWholeFile(data_ + "/settings.inf").find("Device=DEV1:Pocket\n"),
              std::string::npos);

    Clear();
    EXPECT_EQ(RunDeviceReset(data_, "../DEV2", "", out_, err_), 2);
    EXPECT_EQ(RunDeviceReset(data_, "DEV2", "../x", out_, err_), 2);
    EXPECT_EQ(RunDeviceReset(data_, "NOSUCH", "", out_, err_), 1);
    EXPECT_NE(err_.str().find("there is no device NOSUCH"), std::string::npos);
    EXPECT_TRUE(Exists("DEV2.ifo"));
}

TEST_F(DeviceCommandTest, RemoveForgetsTheNameAndTheFiles) {
    Clear();
    ASSERT_EQ(RunDeviceRemove(data_, "DEV1", out_, err_), 0) << err_.str();
    EXPECT_EQ(out_.str().substr(0, 50), "Device DEV1 removed: its name, device file and syn");
    EXPECT_FALSE(Exists("DEV1.ifo") || Exists("DEV1/-1.csv"));
    std::string settings = ReadWholeFile(data_ + "/settings.inf");
    EXPECT_EQ(settings.find("DEV1"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Device=DEV3:Alt\n"), std::string::npos);
    EXPECT_EQ(List().find("DEV1"), std::string::npos);
}

TEST_F(DeviceCommandTest, AServerThatDoesNotTakeTheRequestChangesNothing) {
    CDataFolderLock server;  // holds the data folder, but nobody looks at requests
    std::string error;
    ASSERT_TRUE(server.TryAcquire(data_, error));
    Clear();
    auto wait = std::chrono::milliseconds(100);
    EXPECT_EQ(RunDeviceReset(data_, "DEV1", "", out_, err_, wait), 1);
    EXPECT_EQ(err_.str(),
              "corvel device reset: the running server did not take the request within 0.1 s; "
              "nothing was changed\n");
    EXPECT_EQ(RunDeviceRemove(data_, "DEV1", out_, err_, wait), 1);
    EXPECT_TRUE(Exists("DEV1.ifo") && Exists("DEV1/-1.csv"));
    EXPECT_NE(ReadWholeFile(data_ + "/settings.inf").find("DEV1"), std::string::npos);
    // Withdrawn: a server starting later finds no old request.
    EXPECT_EQ(TakeDeviceRequests(data_, [](const CDeviceRequest&) {}), 0);
    // Listing works beside a running server.
    EXPECT_NE(List().find("DEV1\tPocket"), std::string::npos);
}

// The running server (its settings and watcher) carries out the requests.
TEST_F(DeviceCommandTest, TheRunningServerResetsAndRemovesOnRequest) {
    ::Settings settings;
    settings.LoadSettings(data_);
    CDeviceRecords devices;
    devices.Load(data_);
    CDataFolderLock held;
    std::string error;
    ASSERT_TRUE(held.TryAcquire(data_, error));
    auto record = devices.List().FindExistingDevice("DEV1");
    ASSERT_TRUE(record);
    record->syncState["-1"] = nullptr;
    // The sync state belongs to the protocol side, which carries requests out
    // under its request lock; this lock stands for it.
    std::mutex requestLock;
    CSettingsWatcher watcher(settings, std::chrono::milliseconds(20), [&] {
        TakeDeviceRequests(data_, [&](const CDeviceRequest& request) {
            std::lock_guard<std::mutex> lock(requestLock);
            CarryOutDeviceRequest(settings, devices.List(), request);
        });
    });

    Clear();
    ASSERT_EQ(RunDeviceReset(data_, "DEV1", "-1", out_, err_), 0) << err_.str();
    EXPECT_EQ(out_.str(), "Device DEV1: folder -1 reset by the running server\n");
    EXPECT_FALSE(Exists("DEV1/-1.csv") || Exists("DEV1/-1.map"));
    EXPECT_TRUE(Exists("DEV1/-2.csv") && Exists("DEV1.ifo"));
    {
        std::lock_guard<std::mutex> lock(requestLock);
        EXPECT_TRUE(record->syncState.empty());  // read afresh at the next sync
    }

    Clear();
    ASSERT_EQ(RunDeviceRemove(data_, "DEV1", out_, err_), 0) << err_.str();
    EXPECT_EQ(out_.str(), "Device DEV1 removed by the running server\n");
    EXPECT_FALSE(Exists("DEV1.ifo") || Exists("DEV1/-2.csv"));
    EXPECT_EQ(settings.DeviceNames().count("DEV1"), 0u);
    EXPECT_EQ(ReadWholeFile(data_ + "/settings.inf").find("DEV1"), std::string::npos);
    EXPECT_NE(ReadWholeFile(data_ + "/settings.inf").find("Device=DEV3:Alt\n"), std::string::npos);
}

TEST(DeviceRequests, FormatParseAndTakeOnce) {
    TempFolder temp;
    std::string error;
    CDeviceRequest reset{"PPC1", CDeviceRequest::Kind::kReset, "-3"};
    ASSERT_TRUE(WriteDeviceRequest(temp.Path(), reset, error)) << error;
    EXPECT_EQ(ReadWholeFile(temp.Path() + "/device-requests/PPC1"), "reset -3\n");
    // A newer request of the device replaces the older one.
    CDeviceRequest remove{"PPC1", CDeviceRequest::Kind::kRemove, ""};
    ASSERT_TRUE(WriteDeviceRequest(temp.Path(), remove, error));
    EXPECT_FALSE(
        WriteDeviceRequest(temp.Path(), {"../x", CDeviceRequest::Kind::kReset, ""}, error));
    WriteWholeFile(temp.Path() + "/device-requests/PPC2", "format c:\n");
    std::vector<CDeviceRequest> carried;
    auto carry = [&carried, &temp](const CDeviceRequest& request) {
        // While it is carried out, a waiting tool does not see it done.
        EXPECT_EQ(WaitForDeviceRequest(temp.Path(), request.deviceId, std::chrono::milliseconds(0)),
                  CRequestWait::kStillRunning);
        carried.push_back(request);
    };
    EXPECT_EQ(TakeDeviceRequests(temp.Path(), carry), 1);
    EXPECT_EQ(carried, (std::vector<CDeviceRequest>{remove}));
    EXPECT_EQ(TakeDeviceRequests(temp.Path(), carry), 0);  // taken once; the bad one removed
    EXPECT_EQ(WaitForDeviceRequest(temp.Path(), "PPC1", std::chrono::milliseconds(0)),
              CRequestWait::kDone);
    EXPECT_FALSE(std::filesystem::exists(temp.Path() + "/device-requests/PPC2"));
    CDeviceRequest parsed;
    EXPECT_TRUE(ParseDeviceRequest("PPC1", "reset\n", parsed));
    EXPECT_EQ(parsed, (CDeviceRequest{"PPC1", CDeviceRequest::Kind::kReset, ""}));
    EXPECT_FALSE(ParseDeviceRequest("PPC1", "reset ../../x", parsed));
    EXPECT_FALSE(ParseDeviceRequest("../PPC1", "reset", parsed));
}

}  // namespace
