// Fixture of the sync engine tests: a temporary environment with a fixed machine
// ID and device ID, the PIM store logged on, the client's log lines collected, and a session
// over the three default folders as a run would attach them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "client/client_log.h"
#include "client/sync_engine.h"
#include "client/test_env.h"
#include "platform/win/device_id.h"
#include "platform/win/registry.h"

class SyncFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetLogLineSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            log_.push_back(line);
        });
        // The handheld's device ID, as a run before would have kept it.
        std::optional<RegistryKey> key;
        ASSERT_EQ(kRegOk, RegistryKey::Create(RegistryRoot::CurrentUser, kSettingsKey, key));
        ASSERT_EQ(kRegOk, key->SetString(kDeviceIdValue, kTestDeviceId));
        ASSERT_TRUE(app_.Logon());
    }
    void TearDown() override { SetLogLineSink(nullptr); }
    // A session of user "ann" over the folders app attaches.
    SyncSession Session(PocketOutlookApplication& app) {
        SyncSession session;
        session.user = "ann";
        session.password = "pw";
        for (auto& f : SyncFolder::MakeRunFolders(GetDataFolder())) {
            if (f->Attach(app)) session.folders.push_back(std::move(f));
        }
        return session;
    }
    SyncSession Session() { return Session(app_); }
    // True when the client logged exactly line.
    bool Logged(const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex_);
        return std::find(log_.begin(), log_.end(), line) != log_.end();
    }
    // A file of the client's data folder.
    std::string Data(const char* name) { return GetDataFolder() + "/" + name; }
    // The ClientID of an item of app_'s store.
    std::string Cid(long oid) { return std::to_string(oid) + "@" + app_.StoreIdentity(); }

    static constexpr const char* kTestDeviceId = "00233445566FFA5BB";

    TempEnv env_;
    FixedMachineId machine_{env_.Root()};
    PocketOutlookApplication app_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};
