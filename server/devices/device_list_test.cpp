// Users and devices: loading, device lookup and creation, credentials.
#include "server/devices/device_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/devices/device_records.h"

namespace {

const char kAliceFile[] =
    "Name=alice\nPasswort=Secret\nDeviceID=\nProfileName=NoSuchProfile\nSignaturShort=a\n"
    "SignaturAlways=1\nTimeZoneDifference=2\nFolder=Personal Folders\\Contacts,0,0,Kontakte,-1,2\n"
    "Signatur:\nGruss\n";

class DeviceListTest : public ::testing::Test {
protected:
    void SetUp() override { WriteWholeFile(folder_.Path() + "/alice.dxt", kAliceFile); }
    std::string Path(const std::string& name) const { return folder_.Path() + "/" + name; }

    TempFolder folder_;
    CDeviceList list_;
};

TEST_F(DeviceListTest, FirstLogonCreatesIfoFromUserAndSecondFindsItWithoutFiles) {
    list_.LoadAll(folder_.Path());
    ASSERT_EQ(list_.Records().size(), 1u);
    std::shared_ptr<CPocketDevice> device = list_.FindDevice("PPC1", "alice", "Secret");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->Config()->DeviceID, "PPC1");
    EXPECT_EQ(device->Config()->filePath, Path("PPC1.ifo"));
    EXPECT_EQ(ReadWholeFile(Path("PPC1.ifo")),
              "Name=alice\nPasswort=Secret\nDeviceID=PPC1\nProfileName=NoSuchProfile\n"
              "SignaturShort=\nSignaturAlways=0\nTimeZoneDifference=0\n"
              "Folder=Personal Folders\\Contacts,0,0,Kontakte,-1,2\nSignatur:\n\n");
    // The second log-on finds the record in memory: the files play no part.
    std::filesystem::remove(Path("PPC1.ifo"));
    std::filesystem::remove(Path("alice.dxt"));
    EXPECT_EQ(list_.FindDevice("PPC1", "alice", "Secret"), device);
    EXPECT_FALSE(std::filesystem::exists(Path("PPC1.ifo")));
    EXPECT_EQ(list_.Records().size(), 2u);
}

TEST_F(DeviceListTest, NoMatchGivesNone) {
    list_.LoadAll(folder_.Path());
    EXPECT_FALSE(list_.FindDevice("PPC1", "nobody", "x"));
    EXPECT_EQ(list_.Records().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(Path("PPC1.ifo")));
}

TEST_F(DeviceListTest, WrongPasswordCreatesNothingAndFindsNothing) {
    list_.LoadAll(folder_.Path());
    EXPECT_FALSE(list_.FindDevice("PPC1", "alice", "secret"));  // differs in case
    EXPECT_FALSE(list_.FindDevice("PPC1", "alice", ""));
    EXPECT_FALSE(std::filesystem::exists(Path("PPC1.ifo")));
    ASSERT_TRUE(list_.FindDevice("PPC1", "alice", "Secret"));
    // An existing device is refused with a wrong password too, with any user name.
    EXPECT_FALSE(list_.FindDevice("PPC1", "alice", "wrong"));
    EXPECT_FALSE(list_.FindDevice("PPC1", "other", "wrong"));
}

TEST_F(DeviceListTest, EmptyAndUnsafeIdentitiesNeverMatch) {
    // A record with an empty Name and empty Passwort (an unreadable file, a deleted user).
    WriteWholeFile(Path("empty.dxt"), "Passwort=\n");
    list_.LoadAll(folder_.Path());
    ASSERT_EQ(list_.Records().size(), 2u);
    EXPECT_FALSE(list_.FindDevice("", "alice", "Secret"));  // user records have no DeviceID
    EXPECT_FALSE(list_.FindDevice("PPC1", "", ""));
    EXPECT_FALSE(list_.FindDevice("../x", "alice", "Secret"));
    EXPECT_FALSE(list_.FindDevice("PPC1_x", "alice", "Secret"));
    EXPECT_FALSE(list_.FindDevice(std::string(65, 'A'), "alice", "Secret"));
    EXPECT_TRUE(list_.FindDevice(std::string(64, 'A'), "alice", "Secret"));
    EXPECT_FALSE(list_.HasCredentials("", ""));
}

TEST_F(DeviceListTest, UserFileProbeOutsideTheListIsReadNotWritten) {
    list_.LoadAll(folder_.Path());
    WriteWholeFile(Path("bob.dxt"), "Name=bob\nPasswort=pw\n");
    EXPECT_FALSE(list_.FindDevice("PPC2", "../bob", "pw"));
    EXPECT_FALSE(list_.FindDevice("PPC2", "bob", "wrong"));
    std::shared_ptr<CPocketDevice> device = list_.FindDevice("PPC2", "bob", "pw");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->Config()->DeviceID, "PPC2");
    EXPECT_EQ(device->Config()->filePath, Path("PPC2.dxt"));
    EXPECT_FALSE(std::filesystem::exists(Path("PPC2.dxt")));
    EXPECT_FALSE(std::filesystem::exists(Path("PPC2.ifo")));
}

TEST_F(DeviceListTest, LoadsUsersBeforeDevicesAndKeepsUnreadableFiles) {
    WriteWholeFile(Path("AAA.ifo"), "Name=alice\nPasswort=Secret\nDeviceID=AAA\n");
    WriteWholeFile(Path("zed.dxt"), "Name=zed\nPasswort=z\n");
    list_.LoadAll(folder_.Path());
    std::string names;
    for (const auto& record : list_.Records())
        names += record->Config()->Name + "/" + record->Config()->DeviceID + " ";
    EXPECT_EQ(names, "alice/ zed/ alice/AAA ");
    EXPECT_EQ(list_.FindDevice("AAA", "ignored", "Secret"), list_.Records()[2]);
}

TEST_F(DeviceListTest, CredentialsAndRemoval) {
    list_.LoadAll(folder_.Path());
    EXPECT_TRUE(list_.HasCredentials("alice", "Secret"));
    EXPECT_FALSE(list_.HasCredentials("alice", "SECRET"));
    EXPECT_FALSE(list_.HasCredentials("Alice", "Secret"));
    std::shared_ptr<CPocketDevice> device = list_.FindDevice("PPC1", "alice", "Secret");
    ASSERT_TRUE(device);
    EXPECT_TRUE(list_.RemoveDevice("PPC1"));
    EXPECT_FALSE(list_.RemoveDevice("PPC1"));
    EXPECT_EQ(device->Config()->DeviceID, "PPC1");  // still valid for whoever holds it
    EXPECT_FALSE(list_.FindExistingDevice("PPC1"));
    EXPECT_TRUE(list_.RemoveUser("alice"));
    EXPECT_FALSE(list_.HasCredentials("alice", "Secret"));
}

TEST_F(DeviceListTest, RacingFirstLogonsCreateOneRecord) {
    list_.LoadAll(folder_.Path());
    std::vector<std::shared_ptr<CPocketDevice>> found(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < found.size(); ++i) {
        threads.emplace_back([&, i] { found[i] = list_.FindDevice("PPC9", "alice", "Secret"); });
    }
    for (std::thread& t : threads) t.join();
    for (const auto& device : found) EXPECT_EQ(device, found[0]);
    EXPECT_TRUE(found[0]);
    EXPECT_EQ(list_.Records().size(), 2u);
}

TEST(DeviceRecords, LoadReadsUsersAndDevicesAndAnswersTheCredentialCheck) {
    TempFolder folder;
    WriteWholeFile(folder.Path() + "/alice.dxt", kAliceFile);
    WriteWholeFile(folder.Path() + "/PPC1.ifo", "Name=bob\nPasswort=pw\nDeviceID=PPC1\n");
    CDeviceRecords records;
    records.Load(folder.Path());
    ASSERT_EQ(records.List().Records().size(), 2u);
    EXPECT_EQ(records.List().DataFolder(), folder.Path());
    ASSERT_TRUE(records.List().FindDevice("PPC1", "bob", "pw"));
    EXPECT_TRUE(records.List().FindDevice("PPC2", "alice", "Secret"));
    // What the web server sees of them.
    const ICredentialCheck& users = records.List();
    EXPECT_TRUE(users.HasCredentials("bob", "pw"));
    EXPECT_FALSE(users.HasCredentials("bob", "PW"));
    // A second load starts afresh.
    std::filesystem::remove(folder.Path() + "/PPC1.ifo");
    records.Load(folder.Path());
    EXPECT_FALSE(records.List().FindExistingDevice("PPC1"));
    EXPECT_TRUE(records.List().FindExistingDevice("PPC2"));  // its .ifo was written
}

}  // namespace
