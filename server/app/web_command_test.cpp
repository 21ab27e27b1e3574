// corvel web base / dir over a temporary data folder.
#include "server/app/web_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "server/config/config_test_util.h"
#include "server/config/data_folder_lock.h"
#include "server/config/settings.h"

namespace {

class WebCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = temp_.Path() + "/Norvex/Corvel";
        site_ = temp_.Path() + "/site";
        std::filesystem::create_directories(site_ + "/docs");
    }
    void Clear() {
        out_.str("");
        err_.str("");
    }
    int Base(const std::string* dir, bool clear = false) {
        Clear();
        return RunWebBase(data_, dir, clear, out_, err_);
    }
    int Add(CWebDirectory record) {
        Clear();
        return RunWebDirAdd(data_, std::move(record), out_, err_);
    }
    std::string List(bool json = false) {
        Clear();
        EXPECT_EQ(RunWebDirList(data_, json, out_, err_), 0);
        return out_.str();
    }
    std::string Settings() const { return ReadWholeFile(data_ + "/settings.inf"); }

    TempFolder temp_;
    std::string data_, site_;
    std::ostringstream out_, err_;
};

TEST_F(WebCommandTest, BaseIsShownSetAsAnAbsoluteFolderAndCleared) {
    EXPECT_EQ(Base(nullptr), 0);
    EXPECT_EQ(out_.str(),
              "WebBaseDir is empty: a GET outside the virtual directories gets no answer\n");
    std::string missing = temp_.Path() + "/nowhere";
    EXPECT_EQ(Base(&missing), 2);
    EXPECT_EQ(err_.str(), "corvel web base: " + missing + " is not a folder\n");
    std::string given = site_ + "/docs/../";
    ASSERT_EQ(Base(&given), 0) << err_.str();
    EXPECT_EQ(out_.str(), "WebBaseDir set to " + site_ + "\nThe server uses it when it starts.\n");
    EXPECT_NE(Settings().find("WebBaseDir=" + site_ + "\n"), std::string::npos) << Settings();
    EXPECT_EQ(Base(nullptr), 0);
    EXPECT_EQ(out_.str(), "WebBaseDir=" + site_ + "\n");
    // While a server holds the data folder the command still works and says so.
    CDataFolderLock server;
    std::string error;
    ASSERT_TRUE(server.TryAcquire(data_, error));
    ASSERT_EQ(Base(nullptr, true), 0);
    EXPECT_EQ(out_.str(),
              "WebBaseDir cleared: only the virtual directories are served.\n"
              "The running server uses it from now on.\n");
    EXPECT_NE(Settings().find("WebBaseDir=\n"), std::string::npos);
}

TEST_F(WebCommandTest, DirectoriesAddedListedAndRemoved) {
    EXPECT_EQ(List(), "No virtual directories.\n");
    ASSERT_EQ(Add(CWebDirectory{"/docs", site_ + "/docs/", "Intern", "ann", "geheim"}), 0)
        << err_.str();
    EXPECT_EQ(out_.str(), "Virtual directory docs added: /docs/... serves " + site_ +
                              "/docs, behind Basic authentication\n"
                              "The server uses it when it starts.\n");
    ASSERT_EQ(Add(CWebDirectory{"wiki", "http://intranet/wiki", "", "", ""}), 0) << err_.str();
    EXPECT_NE(out_.str().find("/wiki/... is forwarded to http://intranet/wiki"), std::string::npos);
    EXPECT_NE(Settings().find("WebDir=docs ;" + site_ + "/docs ;Intern ;ann ;geheim\n"),
              std::string::npos)
        << Settings();
    EXPECT_EQ(List(), "docs\t" + site_ +
                          "/docs\tBasic realm \"Intern\", user ann, password set\n"
                          "wiki\thttp://intranet/wiki\n");
    EXPECT_EQ(List(true), "[{\"directory\":\"docs\",\"url\":\"" + site_ +
                              "/docs\",\"realm\":\"Intern\",\"username\":\"ann\",\"password\":"
                              "true},{\"directory\":\"wiki\",\"url\":\"http://intranet/wiki\","
                              "\"realm\":\"\",\"username\":\"\",\"password\":false}]\n");

    // Refused: a name that exists, a folder that does not, a field settings.inf
    // cannot hold, a password without a user. Nothing changes.
    std::string before = Settings();
    EXPECT_EQ(Add(CWebDirectory{"docs", site_, "", "", ""}), 1);
    EXPECT_EQ(err_.str(),
              "corvel web dir add: the virtual directory docs exists already; remove it first "
              "(corvel web dir remove docs)\n");
    EXPECT_EQ(Add(CWebDirectory{"neu", temp_.Path() + "/nowhere", "", "", ""}), 2);
    EXPECT_EQ(Add(CWebDirectory{"neu", site_, "", "ann", "a;b"}), 2);
    EXPECT_EQ(err_.str(), "corvel web dir add: the password holds \";\" or a line break\n");
    EXPECT_EQ(Add(CWebDirectory{"neu", site_, "", "", "pw"}), 2);
    EXPECT_EQ(Add(CWebDirectory{"/", site_, "", "", ""}), 2);
    EXPECT_EQ(Settings(), before);

    Clear();
    EXPECT_EQ(RunWebDirRemove(data_, "/docs", out_, err_), 0);
    EXPECT_EQ(out_.str(), "Virtual directory docs removed\nThe server uses it when it starts.\n");
    Clear();
    EXPECT_EQ(RunWebDirRemove(data_, "docs", out_, err_), 1);
    EXPECT_EQ(err_.str(), "corvel web dir remove: there is no virtual directory docs\n");
    EXPECT_EQ(List(), "wiki\thttp://intranet/wiki\n");
}

TEST_F(WebCommandTest, ADeviceNameTheServerWroteMeanwhileStays) {
    ::Settings server;
    server.LoadSettingsFile(data_);
    ASSERT_TRUE(server.SaveSettings());
    ASSERT_EQ(Add(CWebDirectory{"docs", site_, "", "", ""}), 0);
    // The server registers a device without having looked at the file again.
    server.GetDeviceName("DEV1", "Pocket");
    EXPECT_NE(Settings().find("Device=DEV1:Pocket\n"), std::string::npos);
    EXPECT_NE(Settings().find("WebDir=docs ;"), std::string::npos) << Settings();
    EXPECT_EQ(server.WebDirectories().count("docs"), 1u);
}

}  // namespace
