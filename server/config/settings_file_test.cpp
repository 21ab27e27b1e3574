#include "server/config/settings_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "server/config/config_test_util.h"
#include "server/config/live_trace_text.h"
#include "server/config/settings.h"
#include "server/config/settings_watcher.h"

namespace {

CSettingsFileValues Parse(const std::string& text) {
    std::vector<std::string> notes;
    return ParseSettingsFile(text, notes);
}

TEST(SettingsFileTest, EveryKeyReadsAndWritesByteExact) {
    // Every key, none at its default, in the order the file is written.
    const std::string text =
        "Device=A1:Eins\nDevice=B2:Zwei: mit Doppelpunkt\nWebBaseDir=/srv/www\nAnswerWeb=3\n"
        "TraceXML=0\nTraceWEB=0\nTraceLive=0\nStartOutlook=1\nHttpPort=8080\nKeepSyncFiles=7\n"
        "MaxBodyMB=12\nBodyBudgetMB=99\nHttpsPort=0\nTlsCertFile=/etc/c.pem\n"
        "TlsKeyFile=/etc/k.pem\nRequireTls=1\n"
        "WebDir=/a ; ;Basic ;* ;\nWebDir=docs ;/srv/docs ;R ;u ;p\n";
    std::vector<std::string> notes;
    CSettingsFileValues values = ParseSettingsFile(text, notes);
    EXPECT_TRUE(notes.empty()) << notes.front();
    EXPECT_EQ(values.deviceNames.at("B2"), "Zwei: mit Doppelpunkt");
    EXPECT_EQ(values.webDirectories.at("/a"), (CWebDirectory{"/a", "", "Basic", "*", ""}));
    EXPECT_EQ(values.WebBaseDir, "/srv/www");
    EXPECT_EQ(values.AnswerWeb, 3);
    EXPECT_FALSE(values.TraceXML);
    EXPECT_FALSE(values.TraceWEB);
    EXPECT_FALSE(values.TraceLive);
    EXPECT_TRUE(values.StartOutlook);
    EXPECT_EQ(values.HttpPort, 8080);
    EXPECT_EQ(values.KeepSyncFiles, 7);
    EXPECT_EQ(values.MaxBodyMB, 12);
    EXPECT_EQ(values.BodyBudgetMB, 99);
    EXPECT_EQ(values.HttpsPort, 0);
    EXPECT_EQ(values.TlsCertFile, "/etc/c.pem");
    EXPECT_EQ(values.TlsKeyFile, "/etc/k.pem");
    EXPECT_TRUE(values.RequireTls);
    EXPECT_EQ(SerializeSettingsFile(values), text);
    // A fresh installation writes every key with its default.
    EXPECT_EQ(SerializeSettingsFile(CSettingsFileValues{}),
              "WebBaseDir=\nAnswerWeb=0\nTraceXML=1\nTraceWEB=1\nTraceLive=1\nStartOutlook=0\n"
              "HttpPort=80\nKeepSyncFiles=0\nMaxBodyMB=64\nBodyBudgetMB=256\n"
              "HttpsPort=8443\nTlsCertFile=\nTlsKeyFile=\nRequireTls=0\n");
    CSettingsFileValues broken;
    broken.deviceNames["X"] = "zwei\nZeilen";
    broken.WebBaseDir = "a\rb";
    broken.TlsKeyFile = "k\n\x01RequireTls=0";
    std::string written = SerializeSettingsFile(broken);
    EXPECT_EQ(written.substr(0, 35), "Device=X:zwei Zeilen\nWebBaseDir=a b");
    EXPECT_NE(written.find("\nTlsKeyFile=k RequireTls=0\nRequireTls=0\n"), std::string::npos);
    // Read values lose their control characters at once: what is in effect is what
    // the next write stores, and a WebDir field is trimmed after that.
    CSettingsFileValues read = Parse("Device=a\tb:c\x7f\nWebDir=\x01 b ;x\nTlsCertFile=c\rd\n");
    EXPECT_EQ(read.deviceNames, (std::map<std::string, std::string>{{"ab", "c"}}));
    EXPECT_EQ(read.webDirectories.at("b").URL, "x");
    EXPECT_EQ(read.TlsCertFile, "c d");
    EXPECT_EQ(Parse(SerializeSettingsFile(read)), read);
}

TEST(SettingsFileTest, SkippedLinesAreNamedAndNotWrittenBack) {
    // Hand-edited: CR LF ends, blank lines, a comment, unknown keys, a key twice.
    const std::string text =
        "; edited by hand\r\n\r\nHttpPort=8080\r\nColour=blue\r\nDevice=nocolon\r\n"
        "Device=A1:first\r\nDevice=A1:second\r\nWebDir= ; ;\r\nHttpPort=8081\r\n  \r\n"
        "noequals";
    std::vector<std::string> notes;
    CSettingsFileValues values = ParseSettingsFile(text, notes);
    EXPECT_EQ(values.HttpPort, 8081);
    EXPECT_EQ(values.deviceNames, (std::map<std::string, std::string>{{"A1", "first"}}));
    EXPECT_TRUE(values.webDirectories.empty());
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "settings.inf line 1: no \"=\"; the line is skipped and not written back",
                         "settings.inf line 4: the unknown key \"Colour\"; the line is skipped "
                         "and not written back",
                         "settings.inf line 5: a Device line without \":\"; the line is skipped "
                         "and not written back",
                         "settings.inf line 8: a WebDir line without a directory; the line is "
                         "skipped and not written back",
                         "settings.inf line 11: no \"=\"; the line is skipped and not written "
                         "back"}));
    CSettingsFileValues expected;
    expected.HttpPort = 8081;
    expected.deviceNames["A1"] = "first";
    EXPECT_EQ(SerializeSettingsFile(values), SerializeSettingsFile(expected));
    // Past five, the skipped lines are counted.
    notes.clear();
    ParseSettingsFile("a\nb\nc\nd\ne\nf\ng\n", notes);
    ASSERT_EQ(notes.size(), 6u);
    EXPECT_EQ(notes.back(), "settings.inf: 2 more line(s) skipped");
}

TEST(SettingsFileTest, NumbersOutsideTheirLimitsKeepTheDefaultAndSaySo) {
    std::vector<std::string> notes;
    CSettingsFileValues values = ParseSettingsFile(
        "HttpPort=99999\nMaxBodyMB=0\nBodyBudgetMB=-5\nKeepSyncFiles=-3\nAnswerWeb=12abc\n"
        "TraceLive=7\nTraceXML=x\n",
        notes);
    EXPECT_EQ(values.HttpPort, 80);
    EXPECT_EQ(values.MaxBodyMB, 64);
    EXPECT_EQ(values.BodyBudgetMB, 256);
    EXPECT_EQ(values.KeepSyncFiles, -3);
    EXPECT_EQ(values.AnswerWeb, 12);
    EXPECT_TRUE(values.TraceLive);
    EXPECT_FALSE(values.TraceXML);
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "settings.inf: HttpPort 99999 is outside 1-65535; port 80 is used",
                         "settings.inf: MaxBodyMB 0 is below 1; 64 is used",
                         "settings.inf: BodyBudgetMB -5 is below 1; 256 is used"}));
}

TEST(SettingsFileTest, HttpsPortOutsideTheRangeKeeps8443AndSaysSo) {
    for (const char* value : {"65536", "-1", "99999999999"}) {
        std::vector<std::string> notes;
        CSettingsFileValues values =
            ParseSettingsFile(std::string("HttpsPort=") + value + "\n", notes);
        EXPECT_EQ(values.HttpsPort, 8443) << value;
        ASSERT_EQ(notes.size(), 1u) << value;
        EXPECT_NE(notes[0].find("HttpsPort"), std::string::npos) << notes[0];
        EXPECT_NE(notes[0].find("port 8443 is used"), std::string::npos) << notes[0];
    }
    EXPECT_EQ(Parse("HttpsPort=0\n").HttpsPort, 0);
    EXPECT_EQ(Parse("HttpsPort=65535\n").HttpsPort, 65535);
    EXPECT_EQ(Parse("").HttpsPort, 8443);
}

TEST(SettingsFileTest, MergeTakesTheirChangesAndKeepsMine) {
    CSettingsFileValues base = Parse(
        "Device=A:Alt\nDevice=B:Bleibt\nWebBaseDir=/base\nTraceLive=1\n"
        "WebDir=docs ;/srv/docs ; ; ; \nWebDir=old ;/srv/old ; ; ; \n");
    CSettingsFileValues mine = base;
    mine.deviceNames["C"] = "Neu hier";             // added here
    mine.deviceNames["A"] = "Umbenannt hier";       // changed here
    mine.webDirectories["docs"].URL = "/srv/mine";  // changed here, not there
    mine.TraceLive = false;
    CSettingsFileValues theirs = base;
    theirs.WebBaseDir = "/theirs";                                                // changed there
    theirs.webDirectories.erase("old");                                           // removed there
    theirs.webDirectories["new"] = CWebDirectory{"new", "/srv/new", "", "", ""};  // added there
    theirs.deviceNames.erase("B");
    theirs.HttpPort = 8080;
    CSettingsFileValues merged = MergeSettingsFiles(base, mine, theirs);
    EXPECT_EQ(merged.WebBaseDir, "/theirs");
    EXPECT_EQ(merged.HttpPort, 8080);
    EXPECT_FALSE(merged.TraceLive);
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
        folder_ = temp_.Path() + "/Norvex/Corvel";
        server_.LoadSettings(folder_);
        ASSERT_TRUE(server_.SaveSettings());
    }
    std::string File() const { return folder_ + "/settings.inf"; }

    // Declared first, so it collects until the server's settings are gone.
    CLiveTraceText trace_;
    TempFolder temp_;
    std::string folder_;
    Settings server_;
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
    EXPECT_NE(trace_.Text().find("settings.inf was changed outside the server"), std::string::npos);
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
