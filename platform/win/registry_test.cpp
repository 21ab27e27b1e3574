#include "platform/win/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/base/temp_home.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(home_.Path().empty()); }
    std::string FileText() {
        std::ifstream in(RegistryFilePath());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    TempHome home_{"regtest"};
    const std::filesystem::path dir_{home_.Path()};
};

TEST_F(RegistryTest, CreateSetAndReadBackIgnoringCase) {
    std::optional<RegistryKey> key;
    ASSERT_EQ(kRegOk,
              RegistryKey::Create(RegistryRoot::CurrentUser, "Software\\Norvex\\Plimsa", key));
    ASSERT_EQ(kRegOk, key->SetString("Server", "desk=1\nx\\y"));
    std::optional<RegistryKey> again;
    ASSERT_EQ(kRegOk,
              RegistryKey::Open(RegistryRoot::CurrentUser, "SOFTWARE\\norvex\\PLIMSA", again));
    std::string value;
    EXPECT_EQ(kRegOk, again->QueryString("server", value, 512));
    EXPECT_EQ("desk=1\nx\\y", value);
    EXPECT_EQ(
        "[HKCU\\Software]\n"
        "[HKCU\\Software\\Norvex]\n"
        "[HKCU\\Software\\Norvex\\Plimsa]\n"
        "S:Server=desk\\=1\\nx\\\\y\n",
        FileText());
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
              std::filesystem::status(RegistryFilePath()).permissions());
    EXPECT_EQ(std::filesystem::perms::owner_all,
              std::filesystem::status(std::filesystem::path(RegistryFilePath()).parent_path())
                  .permissions());
    // The other hive is separate.
    EXPECT_EQ(kRegFileNotFound,
              RegistryKey::Open(RegistryRoot::LocalMachine, "Software\\Norvex\\Plimsa", again));
}

TEST_F(RegistryTest, EmptyPathComponentsNameNoKey) {
    std::optional<RegistryKey> key;
    EXPECT_EQ(kRegBadPathname,
              RegistryKey::Create(RegistryRoot::CurrentUser, "\\Software\\X", key));
    EXPECT_FALSE(key.has_value());
    EXPECT_EQ(kRegBadPathname, RegistryKey::Open(RegistryRoot::CurrentUser, "Software\\\\X", key));
    EXPECT_EQ(kRegBadPathname, RegistryKey::Open(RegistryRoot::CurrentUser, "Software\\", key));
    EXPECT_EQ(kRegBadPathname, RegistryKey::Open(RegistryRoot::CurrentUser, "", key));
    EXPECT_EQ(kRegFileNotFound, RegistryKey::Open(RegistryRoot::CurrentUser, "Software", key));
}

TEST_F(RegistryTest, BufferSizeMissingValuesAndTypes) {
    std::optional<RegistryKey> key;
    ASSERT_EQ(kRegOk, RegistryKey::Create(RegistryRoot::CurrentUser, "K", key));
    // 255 UTF-16 units plus the terminator fill exactly 512 bytes; one more does not fit.
    std::string fits(255, 'a');
    ASSERT_EQ(kRegOk, key->SetString("A", fits));
    ASSERT_EQ(kRegOk, key->SetString("B", fits + "b"));
    std::string value = "old";
    EXPECT_EQ(kRegOk, key->QueryString("A", value, 512));
    EXPECT_EQ(fits, value);
    value = "old";
    EXPECT_EQ(kRegMoreData, key->QueryString("B", value, 512));
    EXPECT_EQ("old", value);
    EXPECT_EQ(kRegFileNotFound, key->QueryString("C", value, 512));
    ASSERT_EQ(kRegOk, key->SetBytes("Bin", {0x00, 0xAB, 0x10}));
    std::vector<uint8_t> bytes;
    EXPECT_EQ(kRegOk, key->QueryBytes("bin", bytes));
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0xAB, 0x10}), bytes);
    EXPECT_EQ(kRegInvalidData, key->QueryString("Bin", value, 512));
    EXPECT_EQ(kRegOk, key->DeleteValue("BIN"));
    EXPECT_EQ(kRegFileNotFound, key->QueryBytes("Bin", bytes));
    EXPECT_EQ(kRegFileNotFound, key->DeleteValue("Bin"));
}

TEST_F(RegistryTest, Utf16LengthCountsSurrogatePairs) {
    EXPECT_EQ(3u, Utf16Length("abc"));
    EXPECT_EQ(1u, Utf16Length("\xC3\xA4"));          // a-umlaut
    EXPECT_EQ(2u, Utf16Length("\xF0\x9F\x98\x80"));  // one emoji, a surrogate pair
    EXPECT_EQ(1u, Utf16Length("\xC3"));              // cut sequence: one unit
}

TEST_F(RegistryTest, DamagedLinesAreSkipped) {
    std::filesystem::create_directories(std::filesystem::path(RegistryFilePath()).parent_path());
    {
        std::ofstream out(RegistryFilePath());
        out << "S:Orphan=1\n[HKCU\\K]\ngarbage\nS:Good=yes\nB:Bad=0G\nB:Odd=ABC\n";
    }
    std::optional<RegistryKey> key;
    ASSERT_EQ(kRegOk, RegistryKey::Open(RegistryRoot::CurrentUser, "k", key));
    std::string value;
    EXPECT_EQ(kRegOk, key->QueryString("Good", value, 512));
    EXPECT_EQ("yes", value);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(kRegFileNotFound, key->QueryBytes("Bad", bytes));
    EXPECT_EQ(kRegFileNotFound, key->QueryBytes("Odd", bytes));
}

}  // namespace
