// Sync identity and field-level changes end to end: corvel --headless over a
// temporary data home, driven with hand-built requests. Repeated Adds after lost
// answers for every kind, corvel killed between the store's commit and its answer,
// name pairing only for twins of a first sync, repeated acknowledgements, cleared
// fields of every kind, edits on both sides and the device asking by FolderType.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "server/config/config_test_util.h"
#include "tests/vantro_server_test.h"

namespace {

class VantroExchange : public VantroServerTest {
protected:
    void SetUp() override {
        VantroServerTest::SetUp();
        AddUser("alice", "Secret");
        logon_ = Logon("PPC1_Pocket", "alice", "Secret");
    }
    // The item lines of "corvel-store items" for folder.
    std::vector<std::string> Items(const std::string& folder) {
        std::vector<std::string> lines;
        std::istringstream in(Store({"items", folder}));
        std::string line;
        while (std::getline(in, line)) {
            if (std::regex_search(line, std::regex("^[0-9A-F]{16,}\t"))) lines.push_back(line);
        }
        return lines;
    }
    static std::string KeyOf(const std::string& itemLine) {
        return itemLine.substr(0, itemLine.find('\t'));
    }
    // The ServerIDs of the Element mappings of the last answer, in order.
    std::vector<std::string> MappedKeys() {
        std::vector<std::string> keys;
        std::string text = DescribeVantroBody(LastBody());
        std::regex mapping("    Element\n      ClientID [^\n]*\n      ServerID ([0-9A-F]+)\n");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), mapping);
             it != std::sregex_iterator(); ++it)
            keys.push_back((*it)[1].str());
        return keys;
    }
    std::string Shown(const std::string& key) { return Store({"show", key}); }

    std::string logon_;
};

// One Add of each kind, none with a name to pair by: a contact without FileAs, a
// task without subject, an appointment and a mail.
const std::string kAddsOfEveryKind =
    "Sync\n"
    "  Folder\n    ClientID -1\n    Typ Contacts\n"
    "    Add\n      ClientID 1@S1\n      COLLECTION\n        1:CompanyName ACME\n"
    "  Folder\n    ClientID -2\n    Typ Task\n"
    "    Add\n      ClientID 2@S1\n      COLLECTION\n        3:TaskBody no title yet\n"
    "  Folder\n    ClientID -3\n    Typ Appointment\n"
    "    Add\n      ClientID 3@S1\n      COLLECTION\n        2:Subject Review\n"
    "        2:Start 07.03.2030 14:00.00:0\n        2:End 07.03.2030 15:00.00:0\n"
    "  Folder\n    ClientID -4\n    Typ Email\n"
    "    Add\n      ClientID 4@S1\n      COLLECTION\n        7:MESSAGE_CLASS IPM.Note\n"
    "        7:SUBJECT Draft\n";

TEST_F(VantroExchange, RepeatedAddsAfterALostAnswerStoreEveryKindOnce) {
    Start();
    std::string first = Exchange(logon_ + kAddsOfEveryKind);
    std::vector<std::string> keys = MappedKeys();
    ASSERT_EQ(keys.size(), 4u) << first;
    // The answer was lost: sent again, the same answer, and one item of each kind.
    EXPECT_EQ(Exchange(logon_ + kAddsOfEveryKind), first);
    EXPECT_EQ(Exchange(logon_ + kAddsOfEveryKind), first);
    for (const char* folder : {"Contacts", "Tasks", "Calendar", "Inbox"}) {
        std::vector<std::string> lines = Items(folder);
        ASSERT_EQ(lines.size(), 1u) << folder;
        EXPECT_NE(std::find(keys.begin(), keys.end(), KeyOf(lines[0])), keys.end()) << folder;
    }
    // Renamed on the handheld before the answer came: the same task changes.
    Exchange(logon_ +
             "Sync\n  Folder\n    ClientID -2\n    Typ Task\n"
             "    Modify\n      ClientID 2@S1\n      COLLECTION\n        3:TaskSubject Call Bob\n");
    std::vector<std::string> tasks = Items("Tasks");
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_NE(tasks[0].find("\tCall Bob\t"), std::string::npos) << tasks[0];
    // Deleted on the handheld before the answer came: gone, not back.
    Exchange(
        logon_ +
        "Sync\n  Folder\n    ClientID -1\n    Typ Contacts\n    Delete\n      ClientID 1@S1\n");
    EXPECT_TRUE(Items("Contacts").empty());
}

TEST_F(VantroExchange, CorvelKilledBetweenTheStoresCommitAndItsAnswerStoresNothingTwice) {
    const std::string add =
        "Sync\n  Folder\n    ClientID -2\n    Typ Task\n"
        "    Add\n      ClientID 7@S1\n      COLLECTION\n        3:TaskSubject Pay rent\n";
    // Killed before the request's commit: nothing of it is in the store, and the
    // repeated request stores the task.
    Start({"CORVEL_TEST_CRASH=after-item-save"});
    EXPECT_EQ(AnswerBody(Send(logon_ + add)), "");
    EXPECT_EQ(corvel_->Wait(), 86) << corvel_->Out();
    EXPECT_TRUE(Items("Tasks").empty());
    EXPECT_TRUE(Exists("PPC1/-2.map-dirty"));
    Start();
    Exchange(logon_ + add);
    std::vector<std::string> stored = Items("Tasks");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(MappedKeys(), std::vector<std::string>{KeyOf(stored[0])});
    corvel_.reset();
    // Killed after the commit, before the map and the answer were written, and
    // after both but before the answer left: the repeated request finds the task.
    size_t expected = 1;
    for (const char* point : {"after-store-commit", "before-answer"}) {
        SCOPED_TRACE(point);
        const std::string request =
            "Sync\n  Folder\n    ClientID -2\n    Typ Task\n"
            "    Add\n      ClientID " +
            std::string(point) + "@S1\n      COLLECTION\n        3:TaskSubject Pay bills\n";
        std::vector<std::string> before = Items("Tasks");
        Start({std::string("CORVEL_TEST_CRASH=") + point});
        EXPECT_EQ(AnswerBody(Send(logon_ + request)), "");
        EXPECT_EQ(corvel_->Wait(), 86) << corvel_->Out();
        std::vector<std::string> now = Items("Tasks");
        ASSERT_EQ(now.size(), ++expected);
        std::string made;
        for (const std::string& line : now) {
            if (std::find(before.begin(), before.end(), line) == before.end()) made = KeyOf(line);
        }
        Start();
        Exchange(logon_ + request);
        EXPECT_EQ(MappedKeys(), std::vector<std::string>{made});
        EXPECT_EQ(Items("Tasks").size(), expected);
        EXPECT_FALSE(Exists("PPC1/-2.map-dirty"));
        corvel_.reset();
    }
}

TEST_F(VantroExchange, NamesPairOnlyTwinsOfAFirstSync) {
    const std::string desk = AddItem("Tasks", "IPM.Task", {"PR_SUBJECT=Call Bob"});
    const std::string smith =
        AddItem("Contacts", "IPM.Contact",
                {"PSETID_Address:0x8005:PT_STRING8=Smith, John", "PR_COMPANY_NAME=Globex"});
    ASSERT_FALSE(desk.empty() || smith.empty());
    Start();
    // Three handheld tasks named alike: one is the desktop's task (Matched), two
    // are new. Two "Smith, John": one pairs, the other stays a contact of its own.
    std::string answer =
        Exchange(logon_ +
                 "Sync\n"
                 "  Folder\n    ClientID -2\n    Typ Task\n    Reset 1\n"
                 "    Add\n      ClientID 1@S1\n      COLLECTION\n        3:TaskSubject Call Bob\n"
                 "        3:TaskBody about the car\n"
                 "    Add\n      ClientID 2@S1\n      COLLECTION\n        3:TaskSubject Call Bob\n"
                 "        3:TaskBody about the house\n"
                 "    Add\n      ClientID 3@S1\n      COLLECTION\n        3:TaskSubject Call Bob\n"
                 "        3:TaskBody about the boat\n"
                 "  Folder\n    ClientID -1\n    Typ Contacts\n    Reset 1\n"
                 "    Add\n      ClientID 4@S1\n      COLLECTION\n        1:FileAs Smith, John\n"
                 "        1:CompanyName ACME\n"
                 "    Add\n      ClientID 5@S1\n      COLLECTION\n        1:FileAs Smith, John\n"
                 "        1:CompanyName Initech\n");
    EXPECT_NE(answer.find("      ClientID 1@S1\n      ServerID " + desk + "\n      Matched 1\n"),
              std::string::npos)
        << answer;
    EXPECT_NE(answer.find("      ClientID 4@S1\n      ServerID " + smith + "\n      Matched 1\n"),
              std::string::npos)
        << answer;
    EXPECT_EQ(Items("Tasks").size(), 3u);
    std::vector<std::string> contacts = Items("Contacts");
    ASSERT_EQ(contacts.size(), 2u);
    // The pair keeps the desktop's company (both set it); the other has its own.
    EXPECT_NE(Shown(smith).find("Globex"), std::string::npos);
    std::string other = KeyOf(contacts[0]) == smith ? KeyOf(contacts[1]) : KeyOf(contacts[0]);
    EXPECT_NE(Shown(other).find("Initech"), std::string::npos);
    EXPECT_NE(ReadWholeFile(data_ + "/PPC1/sync.log").find("\tCompanyName\tACME\tGlobex\n"),
              std::string::npos);

    // A folder of class "Contact", or without Typ: always new, even on a first sync.
    Exchange(logon_ +
             "Sync\n  Folder\n    ClientID -1\n    Typ Contact\n    Reset 1\n"
             "    Add\n      ClientID 6@S2\n      COLLECTION\n        1:FileAs Smith, John\n"
             "  Folder\n    ClientID -1\n    Reset 1\n"
             "    Add\n      ClientID 7@S2\n      COLLECTION\n        1:FileAs Smith, John\n");
    EXPECT_EQ(Items("Contacts").size(), 4u);
}

TEST_F(VantroExchange, ARepeatedAcknowledgementInstallsNothingItShouldNot) {
    std::string task = Store({"add", "Tasks", "--class", "IPM.Task", "PR_SUBJECT=First"});
    Start();
    const std::string get = "Sync\n  GetData\n    Folder\n      ServerID -2\n";
    Exchange(logon_ + get);
    const std::string acks = Acks();
    ASSERT_NE(acks.find("-2_temp.1.csv"), std::string::npos) << acks;
    EXPECT_EQ(Exchange(logon_ + acks + get), "");
    // A new desktop task; the device sends its old acknowledgement again (its
    // answer was lost, or it was killed before it saved): the task still comes,
    // and keeps coming until its own answer is acknowledged.
    Store({"add", "Tasks", "--class", "IPM.Task", "PR_SUBJECT=Second"});
    std::string second = Exchange(logon_ + acks + get);
    EXPECT_NE(second.find("3:TaskSubject Second"), std::string::npos) << second;
    EXPECT_EQ(Exchange(logon_ + acks + get), second.replace(second.find("_temp.2"), 7, "_temp.3"));
    EXPECT_EQ(Exchange(logon_ + Acks() + get), "");
    EXPECT_FALSE(Exists("PPC1/-2_temp.3.csv"));
}

TEST_F(VantroExchange, ClearedTextDateAndNumberFieldsOfEveryKind) {
    Start();
    Exchange(logon_ +
             "Sync\n"
             "  Folder\n    ClientID -1\n    Typ Contacts\n"
             "    Add\n      ClientID 1@S1\n      COLLECTION\n        1:LastName Doe\n"
             "        1:FileAs Doe\n        1:CompanyName ACME\n"
             "        1:Birthday 02.03.1990 00:00.00:0\n"
             "  Folder\n    ClientID -2\n    Typ Task\n"
             "    Add\n      ClientID 2@S1\n      COLLECTION\n        3:TaskSubject Pay\n"
             "        3:TaskBody rent\n        3:TaskDueDate 01.04.2030 00:00.00:0\n"
             "        3:TaskImportance 2\n"
             "  Folder\n    ClientID -3\n    Typ Appointment\n"
             "    Add\n      ClientID 3@S1\n      COLLECTION\n        2:Subject Review\n"
             "        2:Location Room 1\n        2:Start 07.03.2030 14:00.00:0\n"
             "        2:End 07.03.2030 15:00.00:0\n        2:ReminderMinutesBeforeStart 15\n");
    std::vector<std::string> keys = MappedKeys();
    ASSERT_EQ(keys.size(), 3u);
    // Each field cleared with an empty element; the fields not named stay.
    EXPECT_EQ(Exchange(logon_ +
                       "Sync\n"
                       "  Folder\n    ClientID -1\n    Typ Contacts\n"
                       "    Modify\n      ServerID " +
                       keys[0] +
                       "\n      ClientID 1@S1\n      COLLECTION\n        1:CompanyName ~\n"
                       "        1:Birthday ~\n"
                       "  Folder\n    ClientID -2\n    Typ Task\n"
                       "    Modify\n      ServerID " +
                       keys[1] +
                       "\n      ClientID 2@S1\n      COLLECTION\n        3:TaskBody ~\n"
                       "        3:TaskDueDate ~\n        3:TaskImportance ~\n"
                       "  Folder\n    ClientID -3\n    Typ Appointment\n"
                       "    Modify\n      ServerID " +
                       keys[2] +
                       "\n      ClientID 3@S1\n      COLLECTION\n        2:Location ~\n"
                       "        2:ReminderMinutesBeforeStart =\n"),
              "");
    // What the desktop sends of them now.
    std::string all = Exchange(logon_ +
                               "Sync\n  GetData\n    Folder\n      ServerID -1\n      Reset 1\n"
                               "    Folder\n      ServerID -2\n      Reset 1\n"
                               "    Folder\n      ServerID -3\n      Reset 1\n");
    EXPECT_NE(all.find("        COLLECTION\n          1:LastName Doe\n          1:FileAs Doe\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("        COLLECTION\n          3:TaskSubject Pay\n"), std::string::npos)
        << all;
    EXPECT_NE(all.find("          2:Subject Review\n          2:Start 07.03.2030 14:00.00:0\n"),
              std::string::npos)
        << all;
    for (const char* gone : {"CompanyName", "Birthday", "TaskBody", "TaskDueDate", "TaskImportance",
                             "Location", "ReminderMinutesBeforeStart"})
        EXPECT_EQ(all.find(gone), std::string::npos) << gone << "\n" << all;
}

TEST_F(VantroExchange, EditsOnBothSidesMergeAndTheDesktopWinsAField) {
    Start();
    const std::string get = "  GetData\n    Folder\n      FolderType Contact\n";
    Exchange(logon_ +
             "Sync\n  Folder\n    ClientID -1\n    Typ Contacts\n"
             "    Add\n      ClientID 1@S1\n      COLLECTION\n        1:LastName Doe\n"
             "        1:FileAs Doe\n        1:CompanyName ACME\n" +
             get);
    std::vector<std::string> keys = MappedKeys();
    ASSERT_EQ(keys.size(), 1u);
    Exchange(logon_ + Acks());
    // The desktop sets the company, the handheld the mobile number and, also, the
    // company; the device asks by FolderType in the same request.
    Store({"set", keys[0], "PR_COMPANY_NAME=Initech"});
    std::string merged = Exchange(logon_ +
                                  "Sync\n  Folder\n    ClientID -1\n    Typ Contacts\n"
                                  "    Modify\n      ServerID " +
                                  keys[0] +
                                  "\n      ClientID 1@S1\n      COLLECTION\n"
                                  "        1:MobileTelephoneNumber 0171\n"
                                  "        1:CompanyName Globex\n" +
                                  get);
    EXPECT_NE(merged.find("      Modify\n        ServerID " + keys[0] +
                          "\n        COLLECTION\n          1:CompanyName Initech\n"
                          "          1:MobileTelephoneNumber 0171\n"),
              std::string::npos)
        << merged;
    std::string shown = Shown(keys[0]);
    EXPECT_NE(shown.find("Initech"), std::string::npos) << shown;
    EXPECT_NE(shown.find("0171"), std::string::npos) << shown;
    std::string log = ReadWholeFile(data_ + "/PPC1/sync.log");
    EXPECT_EQ(log.rfind("# Corvel sync log of device PPC1", 0), 0u) << log;
    EXPECT_NE(log.find("\tContacts\t" + keys[0] + "\tCompanyName\tGlobex\tInitech\n"),
              std::string::npos)
        << log;
    // Acknowledged: both sides hold the same, nothing more travels.
    EXPECT_EQ(Exchange(logon_ + Acks() + "Sync\n" + get), "");
}

}  // namespace
