#include "server/config/settings_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "server/config/config_test_util.h"
#include "server/config/live_trace.h"
#include "server/config/settings.h"
#include "server/config/settings_watcher.h"

namespace {

CSettingsFileValues Parse(const std::string& text) {
    std::vector<std::string> notes;
    return ParseSettingsFile(text, notes);
}

TEST(SettingsFileTest, ParseAndWriteAreByteExact) {
    const std::string text =
        "Device=A1:Eins\nDevice=B2:Zwei: mit Doppelpunkt\nWebBaseDir=/srv/www\nAnswerWeb=3\n"
        "TraceXML=0\nTraceWEB=1\nTraceLive=0\nStartOutlook=1\nHttpPort=8080\nKeepSyncFiles=7\n"
        "MaxBodyMB=64\nBodyBudgetMB=256\nHttpsPort=0\nTlsCertFile=/etc/c.pem\nTlsKeyFile=/etc/"
        "k.pem\n"
        "RequireTls=1\n"
        "WebDir=/a ; ;Basic ;* ;\nWebDir=docs ;/srv/docs ;R ;u ;p\n";
    CSettingsFileValues values = Parse(text);
    EXPECT_EQ(values.deviceNames.at("B2"), "Zwei: mit Doppelpunkt");
    EXPECT_EQ(values.webDirectories.at("/a"), (CWebDirectory{"/a", "", "Basic", "*", ""}));
    EXPECT_EQ(values.httpPort, 8080);
    EXPECT_FALSE(values.traceLive);
    EXPECT_EQ(values.httpsPort, 0);
    EXPECT_EQ(values.tlsCertFile, "/etc/c.pem");
    EXPECT_EQ(values.tlsKeyFile, "/etc/k.pem");
    EXPECT_TRUE(values.requireTls);
    EXPECT_EQ(SerializeSettingsFile(values), text);
    std::vector<std::string> notes;
    CSettingsFileValues bad =
        ParseSettingsFile("HttpPort=99999\nDevice=A1:first\nDevice=A1:second\nnoequals\n", notes);
    EXPECT_EQ(bad.httpPort, 80);
    EXPECT_EQ(bad.deviceNames.at("A1"), "first");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "settings.inf: HttpPort 99999 is outside 1-65535; port 80 is used");
    CSettingsFileValues broken;
    broken.deviceNames["X"] = "zwei\nZeilen";
    broken.webBaseDir = "a\rb";
    EXPECT_EQ(SerializeSettingsFile(broken).substr(0, 32), "Device=X:zwei Zeilen\nWebBaseDir=");
}

TEST(SettingsFileTest, HttpsPortOutsideTheRangeKeeps8443AndSaysSo) {
    for (const char* value : {"65536", "-1", "99999999999"}) {
        std::vector<std::string> notes;
        CSettingsFileValues values =
            ParseSettingsFile(std::string("HttpsPort=") + value + "\n", notes);
        EXPECT_EQ(values.httpsPort, 8443) << value;
        ASSERT_EQ(notes.size(), 1u) << value;
        EXPECT_NE(notes[0].find("HttpsPort"), std::string::npos) << notes[0];
        EXPECT_NE(notes[0].find("port 8443 is used"), std::string::npos) << notes[0];
    }
    EXPECT_EQ(Parse("HttpsPort=0\n").httpsPort, 0);
    EXPECT_EQ(Parse("HttpsPort=65535\n").httpsPort, 65535);
    EXPECT_EQ(Parse("").httpsPort, 8443);
}

TEST(SettingsFileTest, MergeTakesTheirChangesAndKeepsMine) {
    CSettingsFileValues base = Parse(
        "Device=A:Alt\nDevice=B:Bleibt\nWebBaseDir=/base\nTraceLive=1\n"
        "WebDir=docs ;/srv/docs ; ; ; \nWebDir=old ;/srv/old ; ; ; \n");
    CSettingsFileValues mine = base;
    mine.deviceNames["C"] = "Neu hier";             // added here
    mine.deviceNames["A"] = "Umbenannt hier";       // changed here
    mine.webDirectories["docs"].URL = "/srv/mine";  // changed here, not there
    mine.traceLive = false;
    CSettingsFileValues theirs = base;
    theirs.webBaseDir = "/theirs";                                                // changed there
    theirs.webDirectories.erase("old");                                           // removed there
    theirs.webDirectories["new"] = CWebDirectory{"new", "/srv/new", "", "", ""};  // added there
    theirs.deviceNames.erase("B");
    theirs.httpPort = 8080;
    CSettingsFileValues merged = MergeSettingsFiles(base, mine, theirs);
    EXPECT_EQ(merged.webBaseDir, "/theirs");
    EXPECT_EQ(merged.httpPort, 8080);
    EXPECT_FALSE(merged.traceLive);
    EXPECT_EQ(merged.webDirectories.count("old"), 0u);
    EXPECT_EQ(merged.webDirectories.at("new").URL, "/srv/new");
    EXPECT_EQ(merged.webDirectories.at("docs").URL, "/srv/mine");
    EXPECT_EQ(merged.deviceNames,
              (std::map<std::string, std::string>{{"A", "Umbenannt hier"}, {"C", "Neu hier"}}));
    // Both changed the same entry: theirs is the later word.
    theirs.deviceNames["A"] = "Umbenannt dort";
    EXPECT_EQ(MergeSettingsFiles(base, mine, theirs).deviceNames.at("A"), "Umbenannt dort");
    // Nothing changed there: mine stays whole.
    EXPECT_EQ(MergeSettingsFiles(base, mine, base), mine);
}

TEST(SettingsFileTest, WebDirectoryProblems) {
    EXPECT_EQ(WebDirectoryProblem(CWebDirectory{"docs", "/srv/docs", "R", "u", "p"}), "");
    EXPECT_EQ(WebDirectoryProblem(CWebDirectory{"docs", "http://host/x", "", "", ""}), "");
    EXPECT_EQ(WebDirectoryProblem(CWebDirectory{"", "/srv", "", "", ""}),
              "the virtual directory has no name");
    EXPECT_EQ(WebDirectoryProblem(CWebDirectory{"docs", "/srv", "", "", "a;b"}),
              "the password holds \";\" or a line break");
    EXPECT_EQ(WebDirectoryProblem(CWebDirectory{"docs", "/srv\n", "", "", ""}),
              "the target holds \";\" or a line break");
    EXPECT_EQ(WebDirectoryProblem(CWebDirectory{"docs", "/srv", " R", "", ""}),
              "the realm begins or ends with a blank");
}

// Two processes on one data folder: the server (Settings with its watcher) and a
// command-line tool (a second Settings that loads only settings.inf).
class SharedSettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLiveTraceSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(traceMutex_);
            trace_ += line + "\n";
        });
        folder_ = temp_.Path() + "/Norvex/Corvel";
        server_.LoadSettings(folder_);
        ASSERT_TRUE(server_.SaveSettings());
    }
    void TearDown() override { SetLiveTraceSink(nullptr); }
    std::string File() const { return folder_ + "/settings.inf"; }
    std::string Trace() {
        std::lock_guard<std::mutex> lock(traceMutex_);
        return trace_;
    }

    TempFolder temp_;
    std::string folder_;
    Settings server_;
    std::mutex traceMutex_;
    std::string trace_;
};

TEST_F(SharedSettingsFileTest, ChangesOfAnotherWriterAreTakenNotOverwritten) {
    EXPECT_FALSE(server_.ReloadIfChanged());  // nothing changed yet
    Settings tool;
    tool.LoadSettingsFile(folder_);
    tool.SetWebDirectory(CWebDirectory{"docs", "/srv/docs", "", "", ""});
    tool.SetWebBaseDir("/srv/www");
    ASSERT_TRUE(tool.SaveSettings());
    // The server saves a change of its own before it looked again: nothing is lost.
    server_.SetDeviceName("DEV1", "Pocket");
    int hooks = 0;
    server_.SetSettingsChangedHook([&hooks] { ++hooks; });
    ASSERT_TRUE(server_.SaveSettings());
    EXPECT_EQ(hooks, 1);
    EXPECT_EQ(server_.WebBaseDir(), "/srv/www");
    EXPECT_EQ(server_.WebDirectories().count("docs"), 1u);
    EXPECT_EQ(ReadWholeFile(File()),
              "Device=DEV1:Pocket\nWebBaseDir=/srv/www\nAnswerWeb=0\nTraceXML=1\nTraceWEB=1\n"
              "TraceLive=1\nStartOutlook=0\nHttpPort=80\nKeepSyncFiles=0\nMaxBodyMB="
              "64\nBodyBudgetMB=256\n"
              "HttpsPort=8443\nTlsCertFile=\nTlsKeyFile=\nRequireTls=0\n"
              "WebDir=docs ;/srv/docs ; ; ;\n");
    EXPECT_NE(Trace().find("settings.inf was changed outside the server"), std::string::npos);
    // The tool removes the directory; the server takes that over too.
    Settings again;
    again.LoadSettingsFile(folder_);
    EXPECT_EQ(again.DeviceNames().at("DEV1"), "Pocket");
    again.RemoveWebDirectory("docs");
    ASSERT_TRUE(again.SaveSettings());
    EXPECT_TRUE(server_.ReloadIfChanged());
    EXPECT_TRUE(server_.WebDirectories().empty());
    EXPECT_EQ(server_.DeviceNames().at("DEV1"), "Pocket");
    EXPECT_FALSE(server_.ReloadIfChanged());
    EXPECT_EQ(hooks, 2);
}

TEST_F(SharedSettingsFileTest, TheWatcherTakesOverChangesWhileTheServerRuns) {
    std::atomic<int> hooks{0};
    server_.SetSettingsChangedHook([&hooks] { ++hooks; });
    CSettingsWatcher watcher(server_, std::chrono::milliseconds(20));
    Settings tool;
    tool.LoadSettingsFile(folder_);
    tool.SetWebDirectory(CWebDirectory{"bilder", "/srv/bilder", "", "", ""});
    ASSERT_TRUE(tool.SaveSettings());
    for (int i = 0; i < 250 && server_.WebDirectories().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(server_.WebDirectories().count("bilder"), 1u);
    EXPECT_EQ(hooks.load(), 1);
    // An edit by hand counts as well; a deleted file changes nothing.
    WriteWholeFile(File(), ReadWholeFile(File()) + "TraceLive=0\n");
    for (int i = 0; i < 250 && server_.TraceLive(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(server_.TraceLive());
    std::filesystem::remove(File());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server_.WebDirectories().count("bilder"), 1u);
}

TEST_F(SharedSettingsFileTest, AWriterHoldingTheLockKeepsOthersWaiting) {
    CSettingsFileLock held(folder_);
    ASSERT_TRUE(held.IsHeld());
    CSettingsFileLock second(folder_, 50);
    EXPECT_FALSE(second.IsHeld());
}

}  // namespace
