#include "platform/win/device_id.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/base/temp_home.h"
#include "platform/win/conn_mgr.h"
#include "platform/win/registry.h"

namespace {

class DeviceIdTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(home_.Path().empty()); }
    void TearDown() override { SetMachineIdPathForTesting(""); }
    TempHome home_{"devid"};
    const std::filesystem::path dir_{home_.Path()};
};

std::string Hex(const std::vector<uint8_t>& block) {
    std::string out;
    char buf[3];
    for (uint8_t b : block) {
        snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    return out;
}

TEST_F(DeviceIdTest, BlockFromMachineId) {
    std::string path = (dir_ / "machine-id").string();
    std::ofstream(path) << "00112233445566778899aabbccddeeff\n";
    SetMachineIdPathForTesting(path);
    std::vector<uint8_t> block;
    ASSERT_TRUE(GetDeviceIdBlock(block, 4096));
    EXPECT_EQ(
        "34000000"
        "14000000"
        "10000000"
        "24000000"
        "10000000"
        "00112233445566778899AABBCCDDEEFF"
        "A5BB95ABFD13ED03657B556BBDD3ADC3",
        Hex(block));
    EXPECT_FALSE(GetDeviceIdBlock(block, kDeviceIdBlockSize - 1));
    EXPECT_TRUE(block.empty());
}

TEST_F(DeviceIdTest, RandomBlockIsKeptInTheRegistry) {
    SetMachineIdPathForTesting((dir_ / "missing").string());
    std::vector<uint8_t> first, second;
    ASSERT_TRUE(GetDeviceIdBlock(first, 4096));
    ASSERT_TRUE(GetDeviceIdBlock(second, 4096));
    EXPECT_EQ(first, second);
    EXPECT_EQ(kDeviceIdBlockSize, first.size());
    std::optional<RegistryKey> key;
    ASSERT_EQ(kRegOk, RegistryKey::Open(RegistryRoot::LocalMachine, "Ident", key));
    std::vector<uint8_t> kept;
    ASSERT_EQ(kRegOk, key->QueryBytes("IdentifierBlock", kept));
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 20, first.begin() + 36), kept);
}

TEST(ConnMgrTest, EstablishAndReleaseChecksArguments) {
    ConnMgrGuid net;
    EXPECT_EQ(0, ConnMgrMapURL("http://www.example.org/", &net, nullptr));
    CONNMGR_CONNECTIONINFO info;
    uintptr_t handle = 0;
    uint32_t status = 0;
    EXPECT_EQ(0, ConnMgrEstablishConnectionSync(&info, &handle, 10000, &status));
    EXPECT_NE(0u, handle);
    EXPECT_EQ(CONNMGR_STATUS_CONNECTED, status);
    EXPECT_EQ(0, ConnMgrReleaseConnection(handle, 1));
    EXPECT_NE(0, ConnMgrReleaseConnection(0, 1));
    info.cbSize = 12;
    EXPECT_NE(0, ConnMgrEstablishConnectionSync(&info, &handle, 10000, &status));
    EXPECT_NE(0, ConnMgrMapURL("", &net, nullptr));
}

}  // namespace
