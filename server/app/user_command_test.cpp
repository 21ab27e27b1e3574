// corvel user add / list over a temporary data folder and profile store.
#include "server/app/user_command.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>

#include "server/config/config_test_util.h"
#include "server/config/data_folder_lock.h"

namespace {

class UserCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.Path().empty());
        data_ = temp_.DataFolder();
    }
    int Add(UserAddOptions options) {
        out_.str("");
        err_.str("");
        return RunUserAdd(options, data_, out_, err_);
    }
    TempHome temp_;
    std::string data_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(UserCommandTest, AddWithAutoWritesTheSevenDefaultFolders) {
    UserAddOptions options;
    options.name = "alice";
    options.password = "Secret";
    options.automatic = true;
    ASSERT_EQ(Add(options), 0) << err_.str();
    EXPECT_EQ(err_.str(), "");
    EXPECT_EQ(ReadWholeFile(data_ + "/alice.dxt"),
              "Name=alice\nPasswort=Secret\nDeviceID=\nProfileName=Default\nSignaturShort=\n"
              "SignaturAlways=0\nTimeZoneDifference=0\n"
              "Folder=Personal Folders\\Outbox,0,0,Outbox,-6,1\n"
              "Folder=Personal Folders\\Deleted Items,0,0,Deleted Items,-8,1\n"
              "Folder=Personal Folders\\Sent Items,0,0,Sent Items,-7,1\n"
              "Folder=Personal Folders\\Inbox,0,0,Inbox,-4,1\n"
              "Folder=Personal Folders\\Contacts,0,0,Contacts,-1,2\n"
              "Folder=Personal Folders\\Tasks,0,0,Tasks,-2,5\n"
              "Folder=Personal Folders\\Calendar,0,0,Calendar,-3,3\n"
              "Signatur:\n\n");
    EXPECT_EQ(ModeOf(data_ + "/alice.dxt"), 0600u);
    EXPECT_EQ(out_.str().substr(0, 26), "Profile Default created\nUs");

    // A second user on the same, now existing, profile; without folders.
    options.name = "bob";
    options.automatic = false;
    ASSERT_EQ(Add(options), 0) << err_.str();
    EXPECT_EQ(out_.str().find("created"), std::string::npos);
    std::ostringstream list;
    EXPECT_EQ(RunUserList(data_, list, err_), 0);
    EXPECT_EQ(list.str(), "alice\tprofile Default\t7 folders\nbob\tprofile Default\t0 folders\n");
}

TEST_F(UserCommandTest, RefusalsChangeNothing) {
    UserAddOptions options;
    options.name = "../evil";
    options.password = "x";
    EXPECT_EQ(Add(options), 1);
    EXPECT_NE(err_.str().find("cannot be a user name"), std::string::npos);
    options.name = "carol";
    ASSERT_EQ(Add(options), 0);
    std::string before = ReadWholeFile(data_ + "/carol.dxt");
    options.password = "changed";
    EXPECT_EQ(Add(options), 1);
    EXPECT_NE(err_.str().find("exists already"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(data_ + "/carol.dxt"), before);

    CDataFolderLock server;
    std::string error;
    ASSERT_TRUE(server.TryAcquire(data_, error));
    options.name = "dave";
    EXPECT_EQ(Add(options), 1);
    EXPECT_EQ(err_.str(),
              "corvel user: a running server holds " + data_ + "; stop the server first\n");
    EXPECT_FALSE(std::filesystem::exists(data_ + "/dave.dxt"));
    std::ostringstream list;
    EXPECT_EQ(RunUserList(data_, list, err_), 1);
}

}  // namespace
