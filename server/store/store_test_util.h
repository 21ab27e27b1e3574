// Test fixture of the store layer: a real message store in a temporary
// $XDG_DATA_HOME, a user "alice" on profile "P1", the server settings over the data
// folder, and a session logged on as device PPC1. Helpers seed items and read the
// live trace.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/config/config_test_util.h"
#include "server/config/live_trace.h"
#include "server/config/settings.h"
#include "server/devices/device_records.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/mapi_status_calls.h"
#include "server/store/mapi_folder.h"
#include "server/store/mapi_message.h"
#include "server/store/mapi_session.h"

class StoreLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.Path().empty());
        engine_.emplace();
        CreateProfile("P1");
        CreateProfile("P2");
        dataFolder_ = temp_.DataFolder();
        std::filesystem::create_directories(dataFolder_);
        // The users offer every default folder by its code, with its sub-folders
        // (a device reaches only what its user's record lists).
        const std::string offered =
            "Folder= ,1,0,Contacts,-1,2\nFolder= ,1,0,Tasks,-2,5\nFolder= ,1,0,Calendar,-3,3\n"
            "Folder= ,1,0,Inbox,-4,1\nFolder= ,1,0,Drafts,-5,1\nFolder= ,1,0,Outbox,-6,1\n"
            "Folder= ,1,0,Sent,-7,1\nFolder= ,1,0,Deleted,-8,1\n";
        WriteWholeFile(dataFolder_ + "/alice.dxt",
                       "Name=alice\nPasswort=pw\nDeviceID=\nProfileName=P1\n" + offered);
        WriteWholeFile(dataFolder_ + "/bob.dxt",
                       "Name=bob\nPasswort=pw\nDeviceID=\nProfileName=P2\n" + offered);
        SetLiveTraceSink([this](const std::string& line) { trace_ += line + "|"; });
        devices_ = std::make_unique<CDeviceRecords>();
        settings_ = std::make_unique<Settings>();
        settings_->LoadSettings(dataFolder_);
        devices_->Load(dataFolder_);
        session_ = std::make_unique<CMobileMapiSession>(*settings_, devices_->List());
        NewRequest("PPC1", "alice");
    }

    void TearDown() override {
        SetFileWriteFaultHook(nullptr);
        SetLiveTraceSink(nullptr);
        session_.reset();
        settings_.reset();
        devices_.reset();
        ClearStoreCache();
        engine_.reset();
    }

    static void CreateProfile(const char* name) {
        CMapiRef<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, admin.Put()), S_OK);
        ASSERT_EQ(admin->CreateProfile(const_cast<char*>(name), nullptr, 0, 0), S_OK);
    }

    // A new request that logs on as deviceId with user.
    void NewRequest(const std::string& deviceId = "PPC1", const std::string& user = "alice") {
        session_->BeginRequest();
        ASSERT_TRUE(session_->Logon(deviceId, "Pocket", user, "pw"));
    }

    CPocketDevice& Device() { return *session_->CurrentDevice(); }

    // A default folder of the current device by code (-1 ... -8, or -9 for notes).
    IMAPIFolderPtr DefaultFolder(int code) {
        int slot = code == -9 ? kSlotNotes : DefaultFolderSlotForCode(code);
        CMapiRef<IMAPIFolder> folder =
            OpenFolderEntry(Device().session.Get(), Device().defaultFolders[slot]);
        return IMAPIFolderPtr(folder);
    }

    // Saves a new item with subject (and a display name when given) in folder;
    // returns its key.
    static std::string AddItem(IMAPIFolderPtr& folder, const std::string& subject,
                               const std::string& messageClass = "IPM.Note",
                               const std::string& displayName = std::string()) {
        IMessagePtr message = folder.CreateMessage();
        message.SetStrProp(PR_SUBJECT, subject);
        message.SetStrProp(PR_MESSAGE_CLASS, messageClass);
        if (!displayName.empty()) message.SetStrProp(PR_DISPLAY_NAME, displayName);
        message.SaveChanges(KEEP_OPEN_READWRITE);
        return message.GetEntryID().ToText();
    }

    static IMessagePtr OpenItem(IMAPIFolderPtr& folder, const std::string& key) {
        return folder.OpenMessage(*CByteBuffer::ParseHex(key), MAPI_BEST_ACCESS);
    }

    // Changes an item's subject and saves it (a new modification time).
    static void TouchItem(IMAPIFolderPtr& folder, const std::string& key,
                          const std::string& subject) {
        IMessagePtr message = OpenItem(folder, key);
        message.SetStrProp(PR_SUBJECT, subject);
        message.SaveChanges(0);
    }

    // The keys of folder's items, in table order.
    static std::vector<std::string> Keys(IMAPIFolderPtr& folder) {
        std::vector<std::string> keys;
        IMAPITablePtr table = folder.GetContentsTable();
        CRowSet rows = table.QueryAllRows({PR_ENTRYID});
        for (ULONG i = 0; i < rows.Count(); ++i)
            keys.push_back(CRowSet::Binary(rows[i], PR_ENTRYID).ToText());
        return keys;
    }

    std::string StatePath(const std::string& fileKey, const std::string& deviceId = "PPC1") const {
        return StateFilePath(dataFolder_, deviceId, fileKey);
    }

    // What the device's acknowledgement does: the snapshot becomes the baseline.
    void Acknowledge(const std::string& key, const std::string& deviceId = "PPC1") {
        std::filesystem::rename(StatePath(key + "_temp", deviceId), StatePath(key, deviceId));
    }

    // The folder's change list as text (PrepareChanges first).
    static std::string Changes(CAbstractVantroFolder* folder, int dayWindow = 0) {
        folder->PrepareChanges(dayWindow);
        ChangeList copy;
        for (int i = 0; i < folder->GetChangeCount(); ++i)
            copy.push_back(std::make_unique<CChangeEntry>(*folder->GetChangeEntry(i)));
        return DumpChangeList(copy);
    }

    std::string TakeTrace() { return std::exchange(trace_, std::string()); }

    TempHome temp_;
    std::optional<CMapiInitializer> engine_;
    std::string dataFolder_;
    std::string trace_;
    std::unique_ptr<CDeviceRecords> devices_;
    std::unique_ptr<Settings> settings_;
    std::unique_ptr<CMobileMapiSession> session_;
};
