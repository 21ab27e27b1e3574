#include "client/client_settings.h"

#include <gtest/gtest.h>

#include "client/client_log.h"
#include "client/server_certificate_pin.h"
#include "client/test_env.h"
#include "platform/win/device_id.h"
#include "platform/win/registry.h"

namespace {

// The settings as one line: server|username|password.
std::string Line(const ClientSettings& s) { return s.server + "|" + s.username + "|" + s.password; }

TEST(ClientSettingsTest, SaveCreatesTheKeyWithoutBackslashAndLoadReadsIt) {
    TempEnv env;
    SetClientSettings({"desk:8080", "ann", "secret"});
    ASSERT_TRUE(SaveClientSettings());
    EXPECT_EQ(
        "[HKCU\\Software]\n[HKCU\\Software\\Norvex]\n[HKCU\\Software\\Norvex\\Plimsa]\n"
        "S:Server=desk:8080\nS:Username=ann\nS:Password=secret\n",
        TempEnv::ReadFile(RegistryFilePath()));
    SetClientSettings({});
    // The name with a leading backslash opens nothing here, so the reader falls back.
    ASSERT_TRUE(LoadClientSettings());
    EXPECT_EQ("desk:8080|ann|secret", Line(GetClientSettings()));
}

TEST(ClientSettingsTest, MissingKeyOrValuesKeepThePreviousValues) {
    TempEnv env;
    SetClientSettings({"old", "olduser", "oldpw"});
    EXPECT_FALSE(LoadClientSettings());
    EXPECT_EQ("old", GetClientSettings().server);

    std::optional<RegistryKey> key;
    ASSERT_EQ(kRegOk, RegistryKey::Create(RegistryRoot::CurrentUser, kSettingsKey, key));
    ASSERT_EQ(kRegOk, key->SetString("SERVER", "new"));                    // names ignore case
    ASSERT_EQ(kRegOk, key->SetString("Username", std::string(256, 'u')));  // too long for 512 bytes
    ASSERT_TRUE(LoadClientSettings());
    EXPECT_EQ("new|olduser|oldpw", Line(GetClientSettings()));
}

TEST(ClientSettingsTest, DataFolderIsCreatedUnderTheDocumentsFolder) {
    TempEnv env;
    std::string folder = GetDataFolder();
    EXPECT_EQ((env.Root() / "docs" / "Norvex" / "VantroMobile").string(), folder);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(std::filesystem::perms::owner_all, std::filesystem::status(folder).permissions());
}

TEST(DeviceIdTest, CharactersFromTheSpecifiedPositions) {
    std::vector<uint8_t> block;
    for (int i = 0; i < 52; ++i) block.push_back(static_cast<uint8_t>(i));
    // Hex text "000102...": positions 40-41 = "14", 45-53 = "61718191A", 70-75 = "232425".
    EXPECT_EQ("1461718191A232425", DeviceIdFromBlock(block));
    block.resize(38);
    EXPECT_EQ("1461718191A232425", DeviceIdFromBlock(block));
    block.resize(37);  // 74 characters: the last part is cut
    EXPECT_EQ("1461718191A2324", DeviceIdFromBlock(block));
    block.resize(23);
    EXPECT_EQ("146", DeviceIdFromBlock(block));
    block.resize(20);
    EXPECT_EQ("", DeviceIdFromBlock(block));
}

// The ID kept in the settings key, as the registry file holds it.
std::string KeptDeviceId() {
    std::optional<RegistryKey> key;
    std::string id;
    if (RegistryKey::Open(RegistryRoot::CurrentUser, kSettingsKey, key) == kRegOk)
        key->QueryString(kDeviceIdValue, id, kSettingsReadBytes);
    return id;
}

TEST(DeviceIdTest, MadeOnceAndKeptWithTheSettingsNotTakenFromTheMachine) {
    TempEnv env;
    FixedMachineId machine(env.Root());
    std::string id = GetDeviceId();
    EXPECT_EQ(kDeviceIdLength, id.size());
    EXPECT_EQ(std::string::npos, id.find_first_not_of("0123456789ABCDEF")) << id;
    EXPECT_NE("00233445566FFA5BB", id);  // the machine's
    EXPECT_EQ(id, KeptDeviceId());
    EXPECT_EQ(id, GetDeviceId());
    // A second installation on the same machine (another home) is another device.
    std::string second;
    {
        TempEnv other;
        second = GetDeviceId();
    }
    EXPECT_EQ(kDeviceIdLength, second.size());
    EXPECT_NE(id, second);
}

TEST(DeviceIdTest, AnIdOnFileIsKept) {
    TempEnv env;
    std::optional<RegistryKey> key;
    ASSERT_EQ(kRegOk, RegistryKey::Create(RegistryRoot::CurrentUser, kSettingsKey, key));
    ASSERT_EQ(kRegOk, key->SetString(kDeviceIdValue, "PPC-42"));
    EXPECT_EQ("PPC-42", GetDeviceId());
    // Text the server would refuse is replaced by a made one.
    ASSERT_EQ(kRegOk, key->SetString(kDeviceIdValue, "a/b"));
    std::string made = GetDeviceId();
    EXPECT_EQ(kDeviceIdLength, made.size());
    EXPECT_EQ(made, KeptDeviceId());
}

TEST(DeviceIdTest, AnInstallationThatSyncedBeforeKeepsTheMachinesId) {
    TempEnv env;
    {
        FixedMachineId machine(env.Root());
        std::ofstream(GetDataFolder() + "/tasks.txt") << "AB=1\n";
        // Block bytes 20.. are the machine ID; 36.. the derived platform ID.
        EXPECT_EQ("00233445566FFA5BB", GetDeviceId());
        EXPECT_EQ("00233445566FFA5BB", KeptDeviceId());
    }
    EXPECT_EQ("00233445566FFA5BB", GetDeviceId());
}

TEST(DeviceIdTest, EmptyOnlyWhenNothingCanBeKept) {
    TempEnv env;
    SetMachineIdPathForTesting((env.Root() / "none").string());
    setenv("XDG_CONFIG_HOME", "/proc/no-registry-here", 1);
    EXPECT_EQ("", GetDeviceId());
    SetMachineIdPathForTesting("");
}

TEST(ClientLogTest, LinesGoToTheSinkAndStatusIsShared) {
    std::vector<std::string> lines;
    AddLogLine("before any window");
    SetLogLineSink([&lines](const std::string& l) { lines.push_back(l); });
    AddLogLineF("%d Milliseconds", 12);
    AddLogLineF("%s", "%s%n");  // stored text is an argument, never a format
    SetLogLineSink(nullptr);
    AddLogLine("after");
    EXPECT_EQ((std::vector<std::string>{"12 Milliseconds", "%s%n"}), lines);
    SetStatusText("Sending request");
    EXPECT_EQ("Sending request", StatusText());
    SetStatusText("");
}

}  // namespace

TEST(ClientSettingsTest, ServerAddressesMayNameTheirScheme) {
    EXPECT_EQ(ServerAddressProblem("desk:8080"), "");
    EXPECT_EQ(ServerAddressProblem("https://desk:8443"), "");
    EXPECT_EQ(ServerAddressProblem("HTTPS://desk"), "");
    EXPECT_EQ(ServerAddressProblem("http://desk"), "");
    EXPECT_NE(ServerAddressProblem("https://"), "");
    EXPECT_NE(ServerAddressProblem("https://desk:0"), "");
    EXPECT_NE(ServerAddressProblem("https://desk/path"), "");
    EXPECT_NE(ServerAddressProblem("ftp://desk"), "");
}

TEST(ServerCertificatePinTest, KeptForOneServerOnlyAndForgotten) {
    TempEnv env;
    const std::string folder = GetDataFolder();
    const std::string fingerprint(
        "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:"
        "67:"
        "89");
    EXPECT_EQ(KeptFingerprint(folder, "https://desk:8443"), "");
    ASSERT_TRUE(KeepFingerprint(folder, "https://desk:8443", fingerprint));
    EXPECT_EQ(KeptFingerprint(folder, "https://desk:8443"), fingerprint);
    EXPECT_EQ(KeptFingerprint(folder, "https://other:8443"), "");
    // A file that holds no fingerprint trusts nothing.
    std::ofstream(folder + "/" + kServerCertificateFile) << "https://desk:8443\nnot one\n";
    EXPECT_EQ(KeptFingerprint(folder, "https://desk:8443"), "");
    EXPECT_TRUE(ForgetFingerprint(folder));
    EXPECT_EQ(KeptFingerprint(folder, "https://desk:8443"), "");
    EXPECT_TRUE(ForgetFingerprint(folder));  // nothing kept: nothing to do
}
