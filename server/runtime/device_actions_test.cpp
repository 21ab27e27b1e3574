// The console's reset and the requests of "corvel device": through the protocol
// side when one is installed, at once otherwise.
#include "server/runtime/device_actions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/http/web_routing.h"

namespace {

// A protocol side that holds every change back, as while a request runs.
class HoldingHandlers : public IProtocolHandlers {
public:
    void CreateSharedSession(Settings&) override {}
    bool HandleVantroRequest(Settings&, const CHTMLCommand&, CDataString&) override {
        return false;
    }
    void HandleAttachmentRequest(Settings&, const CHTMLCommand&, IAnswerStream&) override {}
    void BetweenRequests(Settings&, std::function<void(Settings&)> change) override {
        held.push_back(std::move(change));
    }
    std::vector<std::function<void(Settings&)>> held;
};

class DeviceActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(data_ + "/PPC1");
        WriteWholeFile(data_ + "/PPC1.ifo", "Name=alice\nDeviceID=PPC1\n");
        WriteWholeFile(data_ + "/PPC1/-1.csv", "state");
        settings_.LoadSettings(data_);
        devices_.LoadAll(data_);
        ASSERT_TRUE(devices_.FindExistingDevice("PPC1"));
        devices_.FindExistingDevice("PPC1")->syncState["-1"] = nullptr;
    }
    void TearDown() override { SetProtocolHandlers(nullptr); }
    bool StateFileExists() const { return std::filesystem::exists(data_ + "/PPC1/-1.csv"); }
    bool SyncStateHeld() { return !devices_.FindExistingDevice("PPC1")->syncState.empty(); }

    TempFolder folder_;
    std::string data_ = folder_.Path() + "/data";
    Settings settings_;
    CDeviceList devices_;
};

TEST_F(DeviceActionsTest, TheConsolesResetGoesThroughTheProtocolSide) {
    auto handlers = std::make_shared<HoldingHandlers>();
    SetProtocolHandlers(handlers);
    // The protocol side decides when; nothing is deleted behind its back.
    EXPECT_TRUE(ResetDeviceSyncState(settings_, devices_, "PPC1"));
    EXPECT_FALSE(ResetDeviceSyncState(settings_, devices_, "../PPC1"));
    ASSERT_EQ(handlers->held.size(), 1u);
    EXPECT_TRUE(StateFileExists());
    EXPECT_TRUE(SyncStateHeld());
    handlers->held[0](settings_);
    EXPECT_FALSE(StateFileExists());
    EXPECT_FALSE(SyncStateHeld());
    // So does a request of "corvel device".
    WriteWholeFile(data_ + "/PPC1/-1.csv", "state");
    devices_.FindExistingDevice("PPC1")->syncState["-1"] = nullptr;
    CarryOutBetweenRequests(settings_, devices_,
                            CDeviceRequest{"PPC1", CDeviceRequest::Kind::kReset, ""});
    ASSERT_EQ(handlers->held.size(), 2u);
    EXPECT_TRUE(StateFileExists());
    handlers->held[1](settings_);
    EXPECT_FALSE(StateFileExists());
    EXPECT_FALSE(SyncStateHeld());
}

TEST_F(DeviceActionsTest, WithoutAProtocolSideTheFilesGoAtOnce) {
    EXPECT_TRUE(ResetDeviceSyncState(settings_, devices_, "PPC1"));
    EXPECT_FALSE(StateFileExists());
    EXPECT_FALSE(std::filesystem::exists(data_ + "/PPC1.ifo"));
    EXPECT_FALSE(SyncStateHeld());
    // A removal also takes the device's name out of settings.inf.
    settings_.SetDeviceName("PPC1", "Pocket");
    ASSERT_TRUE(settings_.SaveSettings());
    CarryOutBetweenRequests(settings_, devices_,
                            CDeviceRequest{"PPC1", CDeviceRequest::Kind::kRemove, ""});
    EXPECT_EQ(settings_.DeviceNames().count("PPC1"), 0u);
    EXPECT_EQ(ReadWholeFile(data_ + "/settings.inf").find("PPC1"), std::string::npos);
}

}  // namespace
