#include "server/config/settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/config/data_folder.h"
#include "server/config/live_trace_text.h"
#include "server/config/text_file.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { folder = temp.Path() + "/Norvex/Corvel"; }
    std::string File() const { return folder + "/settings.inf"; }

    CLiveTraceText trace;
    TempFolder temp;
    std::string folder;
};

TEST_F(SettingsTest, FreshInstallationRunsOnDefaultsAndFirstSaveWritesAllKeys) {
    Settings s;
    s.LoadSettings(folder);
    EXPECT_EQ(s.HttpPort(), 80);
    EXPECT_TRUE(s.TraceXML());
    EXPECT_TRUE(s.TraceWEB());
    EXPECT_TRUE(s.TraceLive());
    EXPECT_FALSE(s.StartOutlook());
    EXPECT_TRUE(s.DeviceNames().empty());
    ASSERT_TRUE(s.SaveSettings());
    EXPECT_EQ(ReadWholeFile(File()),
              "WebBaseDir=\nAnswerWeb=0\nTraceXML=1\nTraceWEB=1\nTraceLive=1\nStartOutlook=0\n"
              "HttpPort=80\nKeepSyncFiles=0\nMaxBodyMB=64\nBodyBudgetMB=256\n"
              "HttpsPort=8443\nTlsCertFile=\nTlsKeyFile=\nRequireTls=0\n");
}

TEST_F(SettingsTest, DataFolderAndFilesAreOwnerOnly) {
    Settings s;
    s.LoadSettings(folder);
    ASSERT_TRUE(s.SaveSettings());
    EXPECT_EQ(ModeOf(temp.Path() + "/Norvex"), 0700u);
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(File()), 0600u);
}

TEST_F(SettingsTest, RoundTripKeepsEveryFieldAndTheWebDirPositions) {
    CreateDataFolder(folder);
    WriteWholeFile(File(),
                   "Device=B1:second\n"
                   "Device=A7:first:with:colons\n"
                   "Device=B1:duplicate\n"
                   "Device=nocolon\n"
                   "no equals sign\n"
                   "Unknown=5\n"
                   "WebBaseDir=/srv/www\n"
                   "AnswerWeb=3\n"
                   "TraceXML=0\n"
                   "TraceWEB=0\n"
                   "TraceLive=7\n"
                   "StartOutlook=1\n"
                   "HttpPort=8080\n"
                   "KeepSyncFiles=12abc\n"
                   "MaxBodyMB=8\n"
                   "BodyBudgetMB=0\n"
                   "WebDir=/a ; ;Basic ;* ; \n"
                   "WebDir=docs ;http://h/x ;R ;u ;p\n"
                   "WebDir=docs ;ignored\n"
                   "WebDir=;;;\n");
    Settings s;
    s.LoadSettings(folder);
    EXPECT_EQ(s.DeviceNames().at("B1"), "second");
    EXPECT_EQ(s.DeviceNames().at("A7"), "first:with:colons");
    const CWebDirectory a = s.WebDirectories().at("/a");
    EXPECT_EQ(a.URL, "");
    EXPECT_EQ(a.Realm, "Basic");
    EXPECT_EQ(a.Username, "*");
    EXPECT_EQ(a.Password, "");
    EXPECT_EQ(s.WebDirectories().at("docs").URL, "http://h/x");
    // The protocol trace is on after every start, whatever TraceXML holds.
    EXPECT_FALSE(s.TraceXML());
    EXPECT_TRUE(s.ProtocolTrace());
    ASSERT_TRUE(s.SaveSettings());
    EXPECT_EQ(ReadWholeFile(File()),
              "Device=A7:first:with:colons\n"
              "Device=B1:second\n"
              "WebBaseDir=/srv/www\n"
              "AnswerWeb=3\n"
              "TraceXML=0\n"
              "TraceWEB=0\n"
              "TraceLive=1\n"
              "StartOutlook=1\n"
              "HttpPort=8080\n"
              "KeepSyncFiles=12\n"
              "MaxBodyMB=8\n"
              "BodyBudgetMB=256\n"
              "HttpsPort=8443\nTlsCertFile=\nTlsKeyFile=\nRequireTls=0\n"
              "WebDir=/a ; ;Basic ;* ;\n"
              "WebDir=docs ;http://h/x ;R ;u ;p\n");
    // Reading the saved file back and saving again gives the same file.
    std::string saved = ReadWholeFile(File());
    Settings again;
    again.LoadSettings(folder);
    ASSERT_TRUE(again.SaveSettings());
    EXPECT_EQ(ReadWholeFile(File()), saved);
    EXPECT_EQ(again.WebDirectories().at("/a").Realm, "Basic");
}

TEST_F(SettingsTest, LineEndsAndLongLines) {
    CreateDataFolder(folder);
    // CR LF line ends leave no "\r" in values; the last line needs no line end.
    WriteWholeFile(File(), "WebBaseDir=/srv/www\r\n" + std::string("Device=X:") +
                               std::string(kMaxLineLength, 'n') + "\n" + "Device=Y:" +
                               std::string(kMaxLineLength - 10, 'y') + "\nHttpPort=8080");
    Settings s;
    s.LoadSettings(folder);
    EXPECT_EQ(s.WebBaseDir(), "/srv/www");
    EXPECT_EQ(s.HttpPort(), 8080);
    EXPECT_EQ(s.DeviceNames().count("X"), 0u);
    EXPECT_EQ(s.DeviceNames().at("Y").size(), kMaxLineLength - 10);
    EXPECT_NE(trace.Text().find("1 overlong line(s) skipped"), std::string::npos);
}

TEST_F(SettingsTest, HttpPortOutsideTheRangeKeeps80AndIsTraced) {
    for (const char* value : {"0", "65536", "-1", "abc"}) {
        CreateDataFolder(folder);
        WriteWholeFile(File(), std::string("HttpPort=") + value + "\n");
        Settings s;
        s.LoadSettings(folder);
        EXPECT_EQ(s.HttpPort(), 80) << value;
    }
    EXPECT_NE(trace.Text().find("settings.inf: HttpPort 65536 is outside 1-65535; port 80 is used"),
              std::string::npos);
    WriteWholeFile(File(), "HttpPort=65535\n");
    Settings top;
    top.LoadSettings(folder);
    EXPECT_EQ(top.HttpPort(), 65535);
}

// A name as long as the wire allows must still be there when the file is read again:
// it is cut (at a character's start) so that its line is one the reader takes.
TEST_F(SettingsTest, ALongDeviceNameSurvivesTheNextLoad) {
    Settings s;
    s.LoadSettings(folder);
    std::string longName;
    while (longName.size() < 70000) longName += "\xC3\xA4x";  // "äx"
    std::string kept = s.GetDeviceName("D1", longName);
    s.SetDeviceName("D2", longName);
    ASSERT_TRUE(s.SaveSettings());
    EXPECT_LT(kept.size(), longName.size());
    EXPECT_EQ(longName.compare(0, kept.size(), kept), 0);
    EXPECT_NE(static_cast<unsigned char>(kept.back()), 0xC3);  // no half character
    Settings again;
    again.LoadSettings(folder);
    ASSERT_EQ(again.DeviceNames().count("D1"), 1u);
    EXPECT_EQ(again.DeviceNames().at("D1"), kept);
    ASSERT_EQ(again.DeviceNames().count("D2"), 1u);
    EXPECT_EQ(again.DeviceNames(), s.DeviceNames());
    // The name kept fills its line up to what the reader takes, less at most a
    // character.
    size_t line = std::string("Device=D1:").size() + kept.size() + 1;
    EXPECT_LE(line, kMaxLineLength);
    EXPECT_GT(line + 4, kMaxLineLength);
}

TEST_F(SettingsTest, GetDeviceNameNumbersNewDevicesAndSaves) {
    Settings s;
    s.LoadSettings(folder);
    int refreshed = 0;
    s.SetDeviceListChangedHook([&] { ++refreshed; });
    EXPECT_EQ(s.GetDeviceName("D1", "Pocket"), "Pocket");
    EXPECT_EQ(s.GetDeviceName("D2", ""), "Gerät 2");
    EXPECT_EQ(s.GetDeviceName("D3", ""), "Gerät 3");
    EXPECT_EQ(s.GetDeviceName("D1", "other"), "Pocket");
    EXPECT_EQ(refreshed, 3);
    // A name from the wire cannot add a line to settings.inf.
    EXPECT_EQ(s.GetDeviceName("D4", "x\nWebDir=/ ;/etc ; ; ;"), "x WebDir=/ ;/etc ; ; ;");
    EXPECT_EQ(ReadWholeFile(File()),
              "Device=D1:Pocket\nDevice=D2:Gerät 2\nDevice=D3:Gerät 3\n"
              "Device=D4:x WebDir=/ ;/etc ; ; ;\n"
              "WebBaseDir=\nAnswerWeb=0\nTraceXML=1\nTraceWEB=1\nTraceLive=1\nStartOutlook=0\n"
              "HttpPort=80\nKeepSyncFiles=0\nMaxBodyMB=64\nBodyBudgetMB=256\n"
              "HttpsPort=8443\nTlsCertFile=\nTlsKeyFile=\nRequireTls=0\n");
}

TEST_F(SettingsTest, FailedSaveKeepsTheOldFileAndSaysWhy) {
    Settings s;
    s.LoadSettings(folder);
    s.SetWebBaseDir("/old");
    ASSERT_TRUE(s.SaveSettings());
    std::string before = ReadWholeFile(File());
    // A folder in the way of the temporary file makes the write fail.
    std::filesystem::create_directory(File() + ".tmp");
    std::filesystem::create_directory(File() + ".tmp/x");
    s.SetWebBaseDir("/new");
    EXPECT_FALSE(s.SaveSettings());
    EXPECT_EQ(ReadWholeFile(File()), before);
    EXPECT_EQ(s.WebBaseDir(), "/new");
    EXPECT_NE(trace.Text().find("SaveSettings: cannot create " + File() + ".tmp"),
              std::string::npos);
}

TEST_F(SettingsTest, ConcurrentNewDevicesAreAllNumberedAndSaved) {
    Settings s;
    s.LoadSettings(folder);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&s, t] {
            for (int i = 0; i < 25; ++i) s.GetDeviceName(std::to_string(t * 100 + i), "");
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::set<std::string> names;
    for (const auto& entry : s.DeviceNames()) names.insert(entry.second);
    EXPECT_EQ(names.size(), 100u);
    EXPECT_EQ(names.count("Gerät 100"), 1u);
    Settings reread;
    reread.LoadSettings(folder);
    EXPECT_EQ(reread.DeviceNames(), s.DeviceNames());
}

}  // namespace
