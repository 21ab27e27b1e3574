// Users and devices against the message store engine: log-on, configured folders,
// default folders, short names and folder paths, opening by key, "Automatisch".
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "common/base/text.h"
#include "platform/mapi/mapi.h"
#include "server/config/config_test_util.h"
#include "server/devices/automatic_folders.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_status_calls.h"

namespace {

class PocketDeviceMapiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.Path().empty());
        engine_.emplace();
        ClearStoreCache();
        CMapiRef<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, admin.Put()), S_OK);
        char name[] = "Test";
        ASSERT_EQ(admin->CreateProfile(name, nullptr, 0, MAPI_DEFAULT_SERVICES), S_OK);
        HRESULT hr = S_OK;
        session_ = LogonProfile("Test", hr);
        ASSERT_TRUE(session_);
        for (const CStoreRow& row : ListStores(session_.Get())) {
            if (row.isDefault) store_ = OpenStore(session_.Get(), row.entryId);
        }
        ASSERT_TRUE(store_);
        inbox_ = OpenFolderEntry(store_.Get(), ReceiveFolderId(store_.Get(), "IPM"));
        ASSERT_TRUE(inbox_);
        char folderName[] = "Projekte";
        ASSERT_EQ(
            inbox_->CreateFolder(FOLDER_GENERIC, folderName, nullptr, nullptr, 0, projekte_.Put()),
            S_OK);
    }
    void TearDown() override {
        projekte_.Reset();
        inbox_.Reset();
        store_.Reset();
        session_.Reset();
        ClearStoreCache();
        engine_.reset();
    }

    // A device record on profile with the folders given.
    static CDeviceConfig Config(const std::string& profile,
                                std::vector<CFolderSetting> folders = {}) {
        CDeviceConfig config;
        config.ProfileName = profile;
        config.folders = std::move(folders);
        return config;
    }
    CFolderSetting Folder(const std::string& path, int32_t code) {
        CFolderSetting folder;
        folder.outlookPath = path;
        folder.defaultCode = code;
        folder.kind = KindForDefaultCode(code);
        return folder;
    }

    TempHome folder_;
    std::optional<CMapiInitializer> engine_;
    CMapiRef<IMAPISession> session_;
    CMapiRef<IMsgStore> store_;
    CMapiRef<IMAPIFolder> inbox_;
    CMapiRef<IMAPIFolder> projekte_;
};

TEST_F(PocketDeviceMapiTest, EachLogOnOpensTheFoldersTheConfigurationHasThen) {
    CPocketDevice device(Config("Test", {Folder("Personal Folders\\Tasks", kDefaultTasks)}));
    ASSERT_TRUE(device.OpenProfile());
    ASSERT_EQ(device.folders.size(), 1u);
    // The console replaces the configuration; the open folders change only with
    // the next log-on.
    device.EditConfig([&](CDeviceConfig& config) {
        config.folders = {Folder("Personal Folders\\Inbox", kDefaultInbox),
                          Folder("Personal Folders\\Contacts", kDefaultContacts)};
    });
    EXPECT_EQ(device.folders[0].outlookPath, "Personal Folders\\Tasks");
    device.FindDefaultFolders();
    ASSERT_EQ(device.folders.size(), 2u);
    EXPECT_EQ(device.folders[0].outlookPath, "Personal Folders\\Inbox");
    EXPECT_TRUE(device.folders[0].mapiFolder);
    EXPECT_EQ(device.folders[1].kind, kKindContact);
}

TEST_F(PocketDeviceMapiTest, OpenProfileOpensConfiguredFoldersAndSetsKinds) {
    CPocketDevice device(
        Config("Test", {Folder("Personal Folders\\Tasks", kDefaultTasks),
                        Folder("personal folders\\\\INBOX\\projekte", 0),
                        Folder("Personal Folders", 0),  // a store alone is no folder
                        Folder("Personal Folders\\Nothing", 0), Folder("Other Store\\Inbox", 0),
                        Folder("Personal Folders\\Contacts", kDefaultTasks)}));
    ASSERT_TRUE(device.OpenProfile());
    EXPECT_EQ(device.lastLogonError, S_OK);
    std::string opened;
    for (const CPocketFolder& f : device.folders) opened += f.mapiFolder ? "1" : "0";
    EXPECT_EQ(opened, "110001");
    EXPECT_EQ(device.folders[0].kind, kKindTask);
    EXPECT_EQ(device.folders[1].kind, kKindEmail);
    EXPECT_EQ(device.folders[5].kind, kKindContact);  // the container class wins over the code
    device.FindDefaultFolders();
    EXPECT_EQ(device.GetFolderPath(device.folders[1].mapiFolder.Get()), "-4/Projekte");
}

TEST_F(PocketDeviceMapiTest, DefaultFoldersShortNamesAndPaths) {
    CPocketDevice device(Config("Test"));
    device.FindDefaultFolders();
    EXPECT_EQ(device.GetShortName(inbox_.Get()), "-4");
    EXPECT_EQ(device.GetFolderPath(projekte_.Get()), "-4/Projekte");
    EXPECT_EQ(device.GetFolderPath(inbox_.Get()), "-4");
    std::string contactsId = GetBinaryProperty(inbox_.Get(), PR_IPM_CONTACT_ENTRYID);
    CMapiRef<IMAPIFolder> contacts = device.OpenMAPIFolder(HexEncode(contactsId));
    ASSERT_TRUE(contacts);
    EXPECT_EQ(device.GetShortName(contacts.Get()), "-1");
    // The IPM subtree is where paths end; the store root above it has no parent.
    CMapiRef<IMAPIFolder> top =
        OpenFolderEntry(store_.Get(), GetBinaryProperty(store_.Get(), PR_IPM_SUBTREE_ENTRYID));
    EXPECT_EQ(device.GetFolderPath(top.Get()), "");
}

TEST_F(PocketDeviceMapiTest, ConfiguredDefaultFolderTakesOverItsCode) {
    CPocketDevice device(
        Config("Test", {Folder("Personal Folders\\Inbox\\Projekte", kDefaultContacts)}));
    device.FindDefaultFolders();
    EXPECT_EQ(device.GetShortName(projekte_.Get()), "-1");
    EXPECT_EQ(device.GetFolderPath(projekte_.Get()), "-4/-1");  // the walk goes on to the top
}

TEST_F(PocketDeviceMapiTest, OpenByKeyRefusesMalformedKeys) {
    CPocketDevice device(Config("Test"));
    ASSERT_TRUE(device.OpenProfile());
    std::string key = HexEncode(GetBinaryProperty(projekte_.Get(), PR_ENTRYID));
    EXPECT_TRUE(device.OpenMAPIFolder(key));
    EXPECT_FALSE(device.OpenMAPIFolder(key.substr(1)));
    EXPECT_FALSE(device.OpenMAPIFolder("ZZ" + key.substr(2)));
    EXPECT_FALSE(device.OpenMAPIFolder(""));
    EXPECT_FALSE(device.OpenMessage(key));  // a folder is not a message

    CMapiRef<IMessage> message;
    ASSERT_EQ(projekte_->CreateMessage(nullptr, 0, message.Put()), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    std::string messageKey = HexEncode(GetBinaryProperty(message.Get(), PR_ENTRYID));
    EXPECT_TRUE(device.OpenMessage(messageKey));
    EXPECT_FALSE(device.OpenMAPIFolder(messageKey));
}

TEST_F(PocketDeviceMapiTest, FailedLogonIsRecorded) {
    CPocketDevice device(Config("Missing", {Folder("Personal Folders\\Inbox", kDefaultInbox)}));
    EXPECT_FALSE(device.OpenProfile());
    EXPECT_EQ(device.lastLogonError, MAPI_E_LOGON_FAILED);
    EXPECT_FALSE(device.folders[0].mapiFolder);
    EXPECT_FALSE(device.OpenMAPIFolder("00"));
    EXPECT_EQ(device.GetFolderPath(nullptr), "");
}

TEST_F(PocketDeviceMapiTest, AutomaticFoldersInTheirOrder) {
    CAutomaticFolders found = FindAutomaticFolders(session_.Get());
    EXPECT_TRUE(found.problems.empty());
    std::string text;
    for (const CFolderSetting& f : found.folders) {
        text += std::to_string(f.defaultCode) + " " + f.outlookPath + " | " + f.virtualPath + " " +
                std::to_string(f.kind) + "\n";
    }
    EXPECT_EQ(text,
              "-6 Personal Folders\\Outbox | Outbox 1\n"
              "-8 Personal Folders\\Deleted Items | Deleted Items 1\n"
              "-7 Personal Folders\\Sent Items | Sent Items 1\n"
              "-4 Personal Folders\\Inbox | Inbox 1\n"
              "-1 Personal Folders\\Contacts | Contacts 2\n"
              "-2 Personal Folders\\Tasks | Tasks 5\n"
              "-3 Personal Folders\\Calendar | Calendar 3\n");
}

}  // namespace
