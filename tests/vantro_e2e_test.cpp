// The Vantro protocol end to end: corvel runs headless over a temporary data home,
// users are made with "corvel user add", the store is seeded and inspected with
// corvel-store, and requests are built by the test client.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "server/config/config_test_util.h"
#include "tests/vantro_client.h"
#include "tests/vantro_process.h"

namespace {

const std::string kHeaderOnly("\x03\x01\x6A\x00", 4);

std::string Logon(const std::string& deviceId, const std::string& user, const std::string& password) {
    return "Logon\n  DeviceID " + deviceId + "\n  UserName " + user + "\n  Password " + password + "\n";
}

class VantroEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = temp_.Path() + "/Norvex/Corvel";
        std::filesystem::create_directories(data_);
    }
    void AddUser(const std::string& name, const std::string& password, bool automatic) {
        std::vector<std::string> args = {"user", "add", name, "--password", password};
        if (automatic) args.push_back("--auto");
        TestProgram add("corvel", temp_.Path(), args);
        ASSERT_EQ(add.Wait(), 0) << add.Out();
    }
    void Start() {
        corvel_ = std::make_unique<TestProgram>("corvel", temp_.Path(),
                                                std::vector<std::string>{"--headless", "--port", "0", "--trace-port", "0"});
        port_ = corvel_->Port();
        ASSERT_NE(port_, 0) << corvel_->Out();
    }
    // The raw HTTP answer to a request body built from description.
    std::string Send(const std::string& description) {
        return AskServer(port_, VantroHttpRequest(BuildVantroBody(description)));
    }
    // The answer body in readable form.
    std::string Exchange(const std::string& description) {
        return DescribeVantroBody(AnswerBody(Send(description)));
    }
    std::string Store(std::vector<std::string> args) {
        TestProgram tool("corvel-store", temp_.Path(), std::move(args));
        tool.Wait();
        return tool.Out();
    }
    bool Exists(const std::string& relative) { return std::filesystem::exists(data_ + "/" + relative); }

    TempFolder temp_;
    std::string data_;
    std::unique_ptr<TestProgram> corvel_;
    int port_ = 0;
};

// The first hexadecimal ServerID of an Element mapping in a described answer.
std::string MappedKey(const std::string& described) {
    std::smatch match;
    std::regex re("Element\n +ClientID [^\n]*\n +ServerID ([0-9A-F]+)\n");
    if (!std::regex_search(described, match, re)) return "";
    return match[1].str();
}

TEST_F(VantroEndToEnd, RefusedLogonsAndEmptyRequestsAnswerTheHeaderOnly) {
    AddUser("bob", "pw", false);
    Start();
    // Empty body, and a body shorter than the header.
    std::string answer = AskServer(port_, VantroHttpRequest(""));
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("\r\nContent-Type: application/vantro.wbxml\r\n"), std::string::npos);
    EXPECT_NE(answer.find("\r\nContent-Length: 4\r\n"), std::string::npos);
    EXPECT_EQ(AnswerBody(answer), kHeaderOnly);
    EXPECT_EQ(AnswerBody(AskServer(port_, VantroHttpRequest("\x03\x01"))), kHeaderOnly);

    const std::string getMail = "Sync\n  GetData\n    Folder\n      FolderType Email\n      Reset 1\n";
    // A wrong password creates nothing and sends nothing.
    EXPECT_EQ(AnswerBody(Send(Logon("PPC9_Pocket", "bob", "PW") + getMail)), kHeaderOnly);
    EXPECT_FALSE(Exists("PPC9.ifo"));
    // No Logon at all.
    EXPECT_EQ(AnswerBody(Send(getMail)), kHeaderOnly);
    // The right password on a user without a mail folder: the device is made, the
    // answer is still the four header bytes.
    EXPECT_EQ(AnswerBody(Send(Logon("PPC1_Pocket/x", "bob", "pw") + getMail)), kHeaderOnly);
    EXPECT_TRUE(Exists("PPC1.ifo"));
    // A device ID without a name gets "Gerät N".
    EXPECT_EQ(AnswerBody(Send(Logon("PPC2", "bob", "pw") + getMail)), kHeaderOnly);
    corvel_.reset();  // settings.inf is written by the time the server ends
    std::string settings = ReadWholeFile(data_ + "/settings.inf");
    EXPECT_NE(settings.find("Device=PPC1:Pocket\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Device=PPC2:Gerät 2\n"), std::string::npos) << settings;
    // The protocol trace holds both dumps.
    std::string trace = ReadWholeFile(data_ + "/wbxml.log");
    EXPECT_NE(trace.find("****************** Answer ********************* \n"), std::string::npos);
}

TEST_F(VantroEndToEnd, ContactsFromTheDeviceAndBackWithAcknowledgement) {
    AddUser("alice", "Secret", true);
    Start();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret");
    std::string added = Exchange(logon +
                                 "Sync\n"
                                 "  Folder\n"
                                 "    ClientID -1\n"
                                 "    Typ Contact\n"
                                 "    Add\n"
                                 "      ClientID 7\n"
                                 "      COLLECTION\n"
                                 "        1:FileAs Doe, Jane\n"
                                 "        1:FirstName Jane\n"
                                 "        1:LastName Doe\n");
    std::string key = MappedKey(added);
    ASSERT_FALSE(key.empty()) << added;
    EXPECT_EQ(added,
              "Response\n"
              "  Folder\n"
              "    ClientID -1\n"
              "    ServerID -1\n"
              "    Element\n"
              "      ClientID 7\n"
              "      ServerID " + key + "\n");
    std::string shown = Store({"show", key});
    EXPECT_NE(shown.find("Jane"), std::string::npos) << shown;
    EXPECT_NE(shown.find("IPM.Contact"), std::string::npos) << shown;

    // A Modify with its ServerID changes the item and gets no mapping.
    EXPECT_EQ(Exchange(logon +
                       "Sync\n"
                       "  Folder\n"
                       "    ClientID -1\n"
                       "    Modify\n"
                       "      ServerID " + key + "\n"
                       "      ClientID 7\n"
                       "      COLLECTION\n"
                       "        1:FileAs Doe, Janet\n"
                       "        1:FirstName Janet\n"
                       "        1:LastName Doe\n"),
              "");
    EXPECT_NE(Store({"show", key}).find("Janet"), std::string::npos);

    // The store's contacts go back with Reset 1; without an acknowledgement the same
    // changes come again; after it they stop.
    const std::string getContacts = "Sync\n  Filter\n    Folder\n      FolderType Contact\n"
                                    "  GetData\n    Folder\n      FolderType Contact\n      Reset 1\n";
    std::string first = Exchange(logon + getContacts);
    EXPECT_EQ(first.rfind("Sync\n"
                          "  Folder\n"
                          "    AckString PPC1:-1.csv:-1_temp.csv\n"
                          "    ServerID -1\n"
                          "    FolderPath -1\n"
                          "    Element\n"
                          "      Add\n"
                          "        ServerID " + key + "\n", 0),
              0u)
        << first;
    EXPECT_NE(first.find("1:FirstName Janet\n"), std::string::npos) << first;
    EXPECT_TRUE(Exists("PPC1/-1_temp.csv"));
    const std::string again = "Sync\n  Filter\n    Folder\n      FolderType Contact\n"
                              "  GetData\n    Folder\n      FolderType Contact\n";
    EXPECT_EQ(Exchange(logon + again), first);
    // A token with one ":" changes nothing; nor does one naming another file.
    Exchange(logon + "Acknlowledge\n  AckString PPC1:-1.csv\n  AckString .:settings.inf:x\n");
    EXPECT_FALSE(Exists("PPC1/-1.csv"));
    EXPECT_TRUE(Exists("settings.inf"));
    EXPECT_EQ(Exchange(logon + "Acknlowledge\n  AckString PPC1:-1.csv:-1_temp.csv\n" + again), "");
    EXPECT_TRUE(Exists("PPC1/-1.csv"));
    // An unchanged folder sends nothing but still writes its snapshot.
    EXPECT_TRUE(Exists("PPC1/-1_temp.csv"));

    // A change in the store is sent as Modify; a delete from the device removes it.
    Store({"set", key, "PR_GIVEN_NAME=Jenny"});
    std::string modified = Exchange(logon + again);
    EXPECT_NE(modified.find("      Modify\n        ServerID " + key + "\n"), std::string::npos) << modified;
    Exchange(logon + "Acknlowledge\n  AckString PPC1:-1.csv:-1_temp.csv\n");
    EXPECT_EQ(Exchange(logon + "Sync\n  Folder\n    ClientID -1\n    Delete\n      ServerID " + key + "\n"), "");
    EXPECT_EQ(Store({"show", key}).find("Jenny"), std::string::npos);
    std::string deleted = Exchange(logon + again);
    EXPECT_NE(deleted.find("      Delete\n        ServerID " + key + "\n"), std::string::npos) << deleted;
}

TEST_F(VantroEndToEnd, UnresolvedFoldersAndMissingItemsArePassedOver) {
    AddUser("alice", "Secret", true);
    Start();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret");
    // No folder names; then a ReadState and a Delete of keys that name nothing; the
    // Add after them is still handled.
    std::string answer = Exchange(logon +
                                  "Sync\n"
                                  "  Folder\n"
                                  "    Add\n"
                                  "      ClientID 1\n"
                                  "      COLLECTION\n"
                                  "        1:FirstName Lost\n"
                                  "  Folder\n"
                                  "    ClientID -1\n"
                                  "    ReadState\n"
                                  "      ServerID ZZ\n"
                                  "      ReadFlag 1\n"
                                  "    Delete\n"
                                  "      ServerID 0011223344\n"
                                  "    Add\n"
                                  "      ClientID 2\n"
                                  "      COLLECTION\n"
                                  "        1:FirstName Kept\n");
    std::string key = MappedKey(answer);
    EXPECT_FALSE(key.empty()) << answer;
    EXPECT_EQ(answer.find("ClientID 1\n"), std::string::npos) << answer;
    std::string out = corvel_->Out();
    EXPECT_NE(out.find("Folder invalid"), std::string::npos) << out;
    EXPECT_NE(out.find("Item ZZ not found"), std::string::npos) << out;
}

TEST_F(VantroEndToEnd, AttachmentsNeedTheDeviceItsUserAndCredentials) {
    AddUser("alice", "Secret", true);
    Start();
    EXPECT_EQ(AnswerBody(Send(Logon("PPC1_Pocket", "alice", "Secret") +
                              "Sync\n  GetData\n    Folder\n      FolderType Email\n")),
              kHeaderOnly);
    std::string id = Store({"add", "Inbox", "--class", "IPM.Note", "PR_SUBJECT=With file"});
    id = id.substr(0, id.find_first_of("\r\n"));
    ASSERT_FALSE(id.empty());
    WriteWholeFile(temp_.Path() + "/a b.txt", "attached bytes");
    Store({"attach", id, temp_.Path() + "/a b.txt"});
    const std::string url = "/OutlookAttachments/Inbox/" + id + ".EML/A%20B.txt";
    auto get = [&](const std::string& query, const std::string& headers) {
        return AskServer(port_, "GET " + url + query + " HTTP/1.1\r\n" + headers + "\r\n");
    };
    std::string refused = get("?device=PPC1&username=alice", "");
    EXPECT_EQ(refused.rfind("HTTP/1.0 401 Authorization Required\n", 0), 0u) << refused;
    EXPECT_NE(refused.find("WWW-Authenticate: Basic realm=\"Corvel\"\n"), std::string::npos);
    const std::string auth = "Authorization: Basic YWxpY2U6U2VjcmV0\r\n";  // alice:Secret
    EXPECT_EQ(get("?device=PPC1&username=alice", "Authorization: Basic YWxpY2U6c2VjcmV0\r\n"), refused);
    std::string served = get("?device=PPC1&username=alice", auth);
    EXPECT_EQ(served.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << served;
    EXPECT_NE(served.find("Content-Type: application/binary\r\n"), std::string::npos);
    EXPECT_EQ(AnswerBody(served), "attached bytes");
    // Unknown devices and other users get nothing, and no device is created.
    EXPECT_EQ(get("?device=NEW1&username=alice", auth), "");
    EXPECT_FALSE(Exists("NEW1.ifo"));
    EXPECT_EQ(get("?device=PPC1&username=bob", auth), "");
}

TEST_F(VantroEndToEnd, TwoDevicesAtOnceEachGetTheirOwnAnswer) {
    AddUser("alice", "Secret", true);
    AddUser("bob", "pw", true);
    Start();
    auto addContact = [&](const std::string& logon, const std::string& name) {
        return Exchange(logon + "Sync\n  Folder\n    ClientID -1\n    Add\n      ClientID 1\n"
                                "      COLLECTION\n        1:FirstName " + name + "\n");
    };
    std::string a;
    std::string b;
    {
        std::thread first([&] { a = addContact(Logon("PPCA", "alice", "Secret"), "Ann"); });
        std::thread second([&] { b = addContact(Logon("PPCB", "bob", "pw"), "Ben"); });
        first.join();
        second.join();
    }
    std::string keyA = MappedKey(a);
    std::string keyB = MappedKey(b);
    ASSERT_FALSE(keyA.empty()) << a;
    ASSERT_FALSE(keyB.empty()) << b;
    EXPECT_NE(keyA, keyB);
    EXPECT_NE(Store({"show", keyA}).find("Ann"), std::string::npos);
    EXPECT_NE(Store({"show", keyB}).find("Ben"), std::string::npos);
}


// The read flag column of the item line for key in "corvel-store items" output.
std::string ReadColumn(const std::string& items, const std::string& key) {
    size_t at = items.find(key + "\t");
    if (at == std::string::npos) return "<missing>";
    size_t end = items.find('\n', at);
    std::string line = items.substr(at, end - at);
    return line.substr(line.rfind('\t') + 1);
}

TEST_F(VantroEndToEnd, MailMovesReadFlagsAndResetBetweenConfiguredFolders) {
    AddUser("alice", "Secret", true);
    Start();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret");
    std::string key = Store({"add", "Inbox", "--class", "IPM.Note", "PR_SUBJECT=Hello"});
    key = key.substr(0, key.find_first_of("\r\n"));
    ASSERT_FALSE(key.empty());
    const std::string getMail = "Sync\n  Filter\n    Folder\n      FolderType Email\n"
                                "  GetData\n    Folder\n      FolderType Email\n";
    std::string first = Exchange(logon + getMail);
    EXPECT_NE(first.find("    AckString PPC1:-4.csv:-4_temp.csv\n    ServerID -4\n    FolderPath -4\n"
                         "    Element\n      Add\n        ServerID " + key + "\n"),
              std::string::npos)
        << first;
    Exchange(logon + "Acknlowledge\n  AckString PPC1:-4.csv:-4_temp.csv\n");
    EXPECT_EQ(Exchange(logon + getMail), "");
    Exchange(logon + "Acknlowledge\n  AckString PPC1:-8.csv:-8_temp.csv\n");

    // Read in the store: ReadFlag; read state from the device: the store follows.
    Store({"read", key, "1"});
    std::string read = Exchange(logon + getMail);
    EXPECT_NE(read.find("    Element\n      ReadFlag\n        ServerID " + key + "\n        ReadState 1\n"),
              std::string::npos)
        << read;
    Exchange(logon + "Acknlowledge\n  AckString PPC1:-4.csv:-4_temp.csv\n");
    EXPECT_EQ(Exchange(logon + "Sync\n  Folder\n    ServerID -4\n    ReadState\n      ServerID " + key +
                       "\n      ReadFlag 0\n"),
              "");
    EXPECT_EQ(ReadColumn(Store({"items", "Inbox"}), key), "0");

    // Moved in the store from the inbox to deleted items: one Moved in the target,
    // an empty Element in the source.
    Store({"move", key, "Deleted Items"});
    std::string moved = Exchange(logon + getMail);
    EXPECT_NE(moved.find("    ServerID -4\n    FolderPath -4\n    Element\n"), std::string::npos) << moved;
    EXPECT_NE(moved.find("    ServerID -8\n    FolderPath -8\n    Element\n      Moved\n        ServerID " + key +
                         "\n        NewFolder -4\n        FolderPath -8\n"),
              std::string::npos)
        << moved;
    EXPECT_EQ(moved.find("Add\n"), std::string::npos) << moved;
    EXPECT_EQ(moved.find("Delete\n"), std::string::npos) << moved;

    // Reset 1 sends every item of the folder as Add again.
    Exchange(logon + "Acknlowledge\n  AckString PPC1:-4.csv:-4_temp.csv\n  AckString PPC1:-8.csv:-8_temp.csv\n");
    EXPECT_EQ(Exchange(logon + getMail), "");
    std::string reset = Exchange(logon + "Sync\n  GetData\n    Folder\n      ServerID -8\n      Reset 1\n");
    EXPECT_NE(reset.find("    Element\n      Add\n        ServerID " + key + "\n"), std::string::npos) << reset;
}

TEST_F(VantroEndToEnd, TasksAndAppointmentsFromTheDeviceLandInTheStore) {
    AddUser("alice", "Secret", true);
    Start();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret");
    std::string task = Exchange(logon +
                                "Sync\n"
                                "  Folder\n"
                                "    ClientID -2\n"
                                "    Typ Task\n"
                                "    Add\n"
                                "      ClientID 3\n"
                                "      COLLECTION\n"
                                "        3:TaskSubject Buy milk\n"
                                "        3:TaskImportance 2\n"
                                "  Folder\n"
                                "    ClientID -3\n"
                                "    Typ Appointment\n"
                                "    Modify\n"
                                "      ClientID 4\n"
                                "      COLLECTION\n"
                                "        2:Subject Dentist\n"
                                "        2:Location Town\n"
                                "        2:Start 07.03.2027 14:00.00:0\n"
                                "        2:End 07.03.2027 15:00.00:0\n");
    // A Modify without ServerID that made a new item still gets its mapping inside
    // a Response of its own folder.
    std::smatch match;
    std::regex re("Response\n  Folder\n    ClientID -2\n    ServerID -2\n    Element\n      ClientID 3\n"
                  "      ServerID ([0-9A-F]+)\nResponse\n  Folder\n    ClientID -3\n    ServerID -3\n"
                  "    Element\n      ClientID 4\n      ServerID ([0-9A-F]+)\n");
    ASSERT_TRUE(std::regex_match(task, match, re)) << task;
    std::string taskShown = Store({"show", match[1].str()});
    EXPECT_NE(taskShown.find("Buy milk"), std::string::npos) << taskShown;
    EXPECT_NE(taskShown.find("IPM.Task"), std::string::npos) << taskShown;
    std::string appointment = Store({"show", match[2].str()});
    EXPECT_NE(appointment.find("Dentist"), std::string::npos) << appointment;
    EXPECT_NE(appointment.find("Town"), std::string::npos) << appointment;
    EXPECT_NE(appointment.find("IPM.Appointment"), std::string::npos) << appointment;
}

TEST_F(VantroEndToEnd, CapturedDocumentsDumpAsText) {
    std::string path = temp_.Path() + "/request.wbxml";
    WriteWholeFile(path, BuildVantroBody("Sync\n  Folder\n    ServerID -1\n"));
    TestProgram dump("corvel", temp_.Path(), {"dump", path});
    EXPECT_EQ(dump.Wait(), 0);
    std::string out = dump.Out();
    EXPECT_NE(out.find("ServerID"), std::string::npos) << out;
    EXPECT_NE(out.find("-1"), std::string::npos) << out;
    TestProgram missing("corvel", temp_.Path(), {"dump", temp_.Path() + "/none"});
    EXPECT_EQ(missing.Wait(), 1);
}

}  // namespace
