// The Vantro protocol end to end: corvel runs headless over a temporary data home,
// users are made with "corvel user add", the store is seeded and inspected with
// corvel-store, and requests are built by the test client.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "server/config/config_test_util.h"
#include "server/http/web_answers.h"
#include "tests/vantro_server_test.h"

namespace {

// The answer with its Date line taken out (the one line that changes between runs).
std::string WithoutDate(const std::string& answer) {
    return std::regex_replace(answer, std::regex("\r\nDate: [^\r\n]*\r\n"), "\r\n");
}

class VantroEndToEnd : public VantroServerTest {
protected:
    // alice's device PPC1 logs on once and asks for its mail: the device exists
    // from then on.
    void StartWithAlicesDevice() {
        AddUser("alice", "Secret", true);
        Start();
        ASSERT_EQ(AnswerBody(Send(Logon("PPC1_Pocket", "alice", "Secret") +
                                  SyncRequest().Get("Email").Text())),
                  kHeaderOnly);
    }
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
    EXPECT_EQ(WithoutDate(answer),
              "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Type: application/vantro.wbxml\r\n"
              "Pragma: no-cache\r\nServer: Microsoft-IIS/6.0\r\nX-Powered-By: Native Machine "
              "Code\r\n\r\n" +
                  kHeaderOnly);
    EXPECT_EQ(AnswerBody(AskServer(port_, VantroHttpRequest("\x03\x01"))), kHeaderOnly);

    const std::string getMail = SyncRequest().Get("Email", {"Reset 1"}).Text();
    // A wrong password creates nothing and sends nothing.
    // The status tells a device that nothing it sent was taken.
    std::string refused = Send(Logon("PPC9_Pocket", "bob", "PW") + getMail);
    EXPECT_EQ(refused.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << refused;
    EXPECT_EQ(AnswerBody(refused), kHeaderOnly);
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
    std::string added =
        Exchange(logon + SyncRequest()
                             .Folder("-1", "Contact")
                             .Add("7", {"1:FileAs Doe, Jane", "1:FirstName Jane", "1:LastName Doe"})
                             .Text());
    std::string key = MappedKey(added);
    ASSERT_FALSE(key.empty()) << added;
    EXPECT_EQ(added,
              "Response\n"
              "  Folder\n"
              "    ClientID -1\n"
              "    ServerID -1\n"
              "    Element\n"
              "      ClientID 7\n"
              "      ServerID " +
                  key + "\n");
    std::string shown = Store({"show", key});
    EXPECT_NE(shown.find("Jane"), std::string::npos) << shown;
    EXPECT_NE(shown.find("IPM.Contact"), std::string::npos) << shown;

    // A Modify with its ServerID changes the item and gets no mapping.
    EXPECT_EQ(
        Exchange(logon + SyncRequest()
                             .Folder("-1")
                             .Modify(key, "7",
                                     {"1:FileAs Doe, Janet", "1:FirstName Janet", "1:LastName Doe"})
                             .Text()),
        "");
    EXPECT_NE(Store({"show", key}).find("Janet"), std::string::npos);

    // The store's contacts go back with Reset 1; without an acknowledgement the same
    // changes come again; after it they stop.
    const std::string getContacts =
        SyncRequest().Filter("Contact").Get("Contact", {"Reset 1"}).Text();
    std::string first = Exchange(logon + getContacts);
    auto contact = [&](const std::string& change, const std::string& firstName, int generation) {
        return AnsweredFolder("-1", generation) +
               AnsweredElement(
                   change, key,
                   {"1:FirstName " + firstName, "1:LastName Doe", "1:FileAs Doe, Janet"});
    };
    EXPECT_EQ(first, contact("Add", "Janet", 1));
    EXPECT_TRUE(Exists("PPC1/-1_temp.1.csv"));
    const std::string again = SyncRequest().Filter("Contact").Get("Contact").Text();
    // Not acknowledged: the same changes again, with a snapshot of their own; the
    // older one is gone.
    EXPECT_EQ(Exchange(logon + again), contact("Add", "Janet", 2));
    EXPECT_FALSE(Exists("PPC1/-1_temp.1.csv"));
    const std::string acks = Acks();
    // A token with one ":" changes nothing; nor does one naming another file, nor one
    // of the older snapshot.
    Exchange(logon +
             "Acknlowledge\n  AckString PPC1:-1.csv\n  AckString .:settings.inf:x\n"
             "  AckString PPC1:-1.csv:-1_temp.1.csv\n");
    EXPECT_FALSE(Exists("PPC1/-1.csv"));
    EXPECT_TRUE(Exists("settings.inf"));
    EXPECT_EQ(Exchange(logon + acks + again), "");
    EXPECT_TRUE(Exists("PPC1/-1.csv"));
    // An unchanged folder sends nothing and writes no snapshot that no answer names.
    EXPECT_FALSE(Exists("PPC1/-1_temp.2.csv"));
    EXPECT_FALSE(Exists("PPC1/-1_temp.3.csv"));

    // A change in the store is sent as Modify; a delete from the device removes it.
    Store({"set", key, "PR_GIVEN_NAME=Jenny"});
    EXPECT_EQ(Exchange(logon + again), contact("Modify", "Jenny", 3));
    Exchange(logon + Acks());
    EXPECT_EQ(Exchange(logon + SyncRequest().Folder("-1").Delete({key}).Text()), "");
    EXPECT_EQ(Store({"show", key}).find("Jenny"), std::string::npos);
    EXPECT_EQ(Exchange(logon + again), AnsweredFolder("-1", 4) + AnsweredElement("Delete", key));
}

TEST_F(VantroEndToEnd, UnresolvedFoldersAndMissingItemsArePassedOver) {
    AddUser("alice", "Secret", true);
    Start();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret");
    // No folder names; then a ReadState and a Delete of keys that name nothing; the
    // Add after them is still handled.
    std::string answer = Exchange(logon + SyncRequest()
                                              .Folder("")
                                              .Add("1", {"1:FirstName Lost"})
                                              .Folder("-1")
                                              .ReadState("ZZ", "1")
                                              .Delete({"0011223344"})
                                              .Add("2", {"1:FirstName Kept"})
                                              .Text());
    std::string key = MappedKey(answer);
    EXPECT_FALSE(key.empty()) << answer;
    EXPECT_EQ(answer.find("ClientID 1\n"), std::string::npos) << answer;
    // Trace lines reach the output a moment after the answer.
    EXPECT_TRUE(WaitFor([&] {
        std::string out = corvel_->Out();
        return out.find("Folder invalid") != std::string::npos &&
               out.find("Item ZZ not found") != std::string::npos;
    })) << corvel_->Out();
}

TEST_F(VantroEndToEnd, AttachmentsNeedTheDeviceItsUserAndCredentials) {
    ASSERT_NO_FATAL_FAILURE(StartWithAlicesDevice());
    const std::string id = AddItem("Inbox", "IPM.Note", {"PR_SUBJECT=With file"});
    ASSERT_FALSE(id.empty());
    WriteWholeFile(temp_.Path() + "/a b.txt", "attached bytes");
    Store({"attach", id, temp_.Path() + "/a b.txt"});
    const std::string url = "/OutlookAttachments/Inbox/" + id + ".EML/A%20B.txt";
    auto get = [&](const std::string& query, const std::string& headers) {
        return AskServer(port_, "GET " + url + query + " HTTP/1.1\r\n" + headers + "\r\n");
    };
    std::string refused = get("?device=PPC1&username=alice", "");
    EXPECT_EQ(refused, UnauthorizedAnswer("Corvel"));
    EXPECT_NE(refused.find("\nWWW-Authenticate: Basic realm=\"Corvel\"\n"), std::string::npos)
        << refused;
    const std::string auth = "Authorization: Basic YWxpY2U6U2VjcmV0\r\n";  // alice:Secret
    EXPECT_EQ(get("?device=PPC1&username=alice", "Authorization: Basic YWxpY2U6c2VjcmV0\r\n"),
              refused);
    EXPECT_EQ(
        WithoutDate(get("?device=PPC1&username=alice", auth)),
        "HTTP/1.1 200 OK\r\nContent-Length: 14\r\nContent-Type: application/binary\r\n"
        "Pragma: no-cache\r\nServer: Microsoft-IIS/6.0\r\nX-Powered-By: Native Machine Code\r\n"
        "\r\nattached bytes");
    // Unknown devices and other users get nothing, and no device is created.
    EXPECT_EQ(get("?device=NEW1&username=alice", auth), "");
    EXPECT_FALSE(Exists("NEW1.ifo"));
    EXPECT_EQ(get("?device=PPC1&username=bob", auth), "");
}

TEST_F(VantroEndToEnd, LargeAttachmentArrivesIntactBehindItsLength) {
    ASSERT_NO_FATAL_FAILURE(StartWithAlicesDevice());
    const std::string id = AddItem("Inbox", "IPM.Note", {"PR_SUBJECT=Big"});
    ASSERT_FALSE(id.empty());
    // 5 MiB and a bit, every byte value, not a multiple of the piece size.
    std::string bytes(5 * 1024 * 1024 + 12345, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 4099) & 0xFF);
    WriteWholeFile(temp_.Path() + "/big.bin", bytes);
    Store({"attach", id, temp_.Path() + "/big.bin"});
    const std::string request = "GET /OutlookAttachments/Inbox/" + id +
                                ".EML/big.bin?device=PPC1&username=alice HTTP/1.1\r\n"
                                "Authorization: Basic YWxpY2U6U2VjcmV0\r\n\r\n";
    std::string served = AskServer(port_, request);
    EXPECT_EQ(WithoutDate(served.substr(0, served.find("\r\n\r\n") + 4)),
              "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bytes.size()) +
                  "\r\nContent-Type: application/binary\r\nPragma: no-cache\r\nServer: "
                  "Microsoft-IIS/6.0\r\n"
                  "X-Powered-By: Native Machine Code\r\n\r\n");
    EXPECT_TRUE(AnswerBody(served) == bytes)
        << "body of " << AnswerBody(served).size() << " bytes differs";

    // A client that reads the header and goes away: the server carries on and
    // serves the next download whole.
    for (int i = 0; i < 3; ++i) {
        CSocket client = ConnectLoopback(port_);
        ASSERT_TRUE(SendAll(client.Get(), request));
        char piece[256];
        ASSERT_GT(recv(client.Get(), piece, sizeof piece, 0), 0);
    }
    EXPECT_TRUE(AnswerBody(AskServer(port_, request)) == bytes);
    EXPECT_EQ(corvel_->Out().find("web() crashed"), std::string::npos);
}

TEST_F(VantroEndToEnd, AttachmentsOnlyFromOfferedFoldersAndTheirSubFolders) {
    ASSERT_NO_FATAL_FAILURE(StartWithAlicesDevice());
    Store({"folder", "create", "Private"});
    Store({"folder", "create", "Inbox/Projects"});
    WriteWholeFile(temp_.Path() + "/note.txt", "note bytes");
    auto itemWithFile = [&](const std::string& folder) {
        std::string id = AddItem(folder, "IPM.Note", {"PR_SUBJECT=In " + folder});
        Store({"attach", id, temp_.Path() + "/note.txt"});
        return id;
    };
    const std::string privateItem = itemWithFile("Private");
    const std::string projectItem = itemWithFile("Inbox/Projects");
    ASSERT_FALSE(privateItem.empty());
    ASSERT_FALSE(projectItem.empty());
    auto get = [&](const std::string& id, const std::string& headers) {
        return AskServer(port_, "GET /OutlookAttachments/x/" + id +
                                    ".EML/note.txt?device=PPC1&username=alice HTTP/1.1\r\n" +
                                    headers + "\r\n");
    };
    const std::string auth = "Authorization: Basic YWxpY2U6U2VjcmV0\r\n";
    const std::string served =
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Type: application/binary\r\n"
        "Pragma: no-cache\r\nServer: Microsoft-IIS/6.0\r\nX-Powered-By: Native Machine Code\r\n"
        "\r\nnote bytes";
    // "Automatisch" lists the inbox without its sub-folders: a sub-folder is not offered.
    EXPECT_EQ(get(projectItem, auth), "");
    // A folder the user does not offer: nothing, with or without credentials.
    EXPECT_EQ(get(privateItem, auth), "");
    EXPECT_EQ(get(privateItem, "").rfind("HTTP/1.0 401 Authorization Required\n", 0), 0u);
    // The trace line may be written after the answer went out.
    EXPECT_TRUE(WaitFor([&] {
        return corvel_->Out().find("Attachment refused: item " + privateItem +
                                   " is not in a folder of device PPC1") != std::string::npos;
    }));
    // Moved into the inbox, the same item may be downloaded.
    Store({"move", privateItem, "Inbox"});
    EXPECT_EQ(WithoutDate(get(privateItem, auth)), served);

    // With "Unterordner" on the inbox's line, its sub-folder is offered too; with a
    // record that lists only the contacts, no mail at all.
    corvel_.reset();
    std::string record = ReadWholeFile(data_ + "/alice.dxt");
    std::string withSubfolders =
        std::regex_replace(record, std::regex("(Folder=[^,\n]*),0,([^\n]*,-4,)"), "$1,1,$2");
    ASSERT_NE(withSubfolders, record);
    WriteWholeFile(data_ + "/alice.dxt", withSubfolders);
    // The device takes its user's folders anew at its next log-on.
    std::filesystem::remove(data_ + "/PPC1.ifo");
    Start();
    Send(Logon("PPC1_Pocket", "alice", "Secret") + SyncRequest().Get("Email").Text());
    EXPECT_EQ(WithoutDate(get(projectItem, auth)), served);
    corvel_.reset();
    std::string onlyContacts =
        std::regex_replace(record, std::regex("Folder=[^\n]*,-[2-8],[0-9]+\n"), "");
    ASSERT_NE(onlyContacts.find(",-1,"), std::string::npos) << onlyContacts;
    ASSERT_EQ(onlyContacts.find(",-4,"), std::string::npos) << onlyContacts;
    WriteWholeFile(data_ + "/alice.dxt", onlyContacts);
    std::filesystem::remove(data_ + "/PPC1.ifo");
    Start();
    ASSERT_EQ(AnswerBody(Send(Logon("PPC1_Pocket", "alice", "Secret") +
                              SyncRequest().Get("Email").Text())),
              kHeaderOnly);
    EXPECT_EQ(get(privateItem, auth), "");
    EXPECT_EQ(get(projectItem, auth), "");
}

// wbxml.log with its entry stamps made fixed.
std::string StampsFixed(const std::string& log) {
    return std::regex_replace(
        log, std::regex("\n!!![0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9]{2}:[0-9]{2} \\(\\) \n"),
        "\n!!!<stamp> () \n");
}

TEST_F(VantroEndToEnd, ProtocolLogRotatesAtItsSizeLimit) {
    const size_t kLimit = 10 * 1024 * 1024;  // the size at which wbxml.log is rotated
    // An earlier trace one byte short of the limit: the next entry still goes into it.
    const std::string earlier = "\n!!!01.01.2026 00:00 () \n" + std::string(kLimit - 1 - 25, 'x');
    ASSERT_EQ(earlier.size(), kLimit - 1);
    WriteWholeFile(data_ + "/wbxml.log", earlier);
    AddUser("alice", "Secret", true);
    Start();
    // An accepted log-on: its documents are dumped.
    const std::string request = BuildVantroBody(Logon("PPC1", "alice", "Secret"));
    auto post = [&] { return AnswerBody(AskServer(port_, VantroHttpRequest(request))); };
    ASSERT_EQ(post(), kHeaderOnly);
    EXPECT_FALSE(Exists("wbxml.log.1"));
    std::string grown = ReadWholeFile(data_ + "/wbxml.log");
    ASSERT_GT(grown.size(), kLimit);
    EXPECT_EQ(grown.substr(0, earlier.size()), earlier);
    const std::string entry = StampsFixed(grown.substr(earlier.size()));
    EXPECT_EQ(entry.rfind("\n!!!<stamp> () \n", 0), 0u) << entry;
    EXPECT_NE(entry.find("****************** Answer ********************* \n"), std::string::npos)
        << entry;
    EXPECT_NE(entry.find("alice"), std::string::npos) << entry;

    // Now past the limit: the file becomes wbxml.log.1 as it stands and the trace
    // starts again with this request's entry alone.
    ASSERT_EQ(post(), kHeaderOnly);
    EXPECT_EQ(ReadWholeFile(data_ + "/wbxml.log.1"), grown);
    EXPECT_EQ(StampsFixed(ReadWholeFile(data_ + "/wbxml.log")), entry);
    // The next entry is appended to the new file; the rotated one stays.
    ASSERT_EQ(post(), kHeaderOnly);
    EXPECT_EQ(StampsFixed(ReadWholeFile(data_ + "/wbxml.log")), entry + entry);
    EXPECT_EQ(ReadWholeFile(data_ + "/wbxml.log.1"), grown);
}

TEST_F(VantroEndToEnd, TheProtocolLogShowsLittleBeforeALogOnAndCutsLargeDocuments) {
    AddUser("alice", "Secret", true);
    Start();
    auto wbxmlLog = [&] { return ReadWholeFile(data_ + "/wbxml.log"); };
    // 4 MiB without a log-on: one line, however large.
    std::string junk = kHeaderOnly + std::string(4 * 1024 * 1024, '\x45');
    AskServer(port_, VantroHttpRequest(junk));
    std::string log = wbxmlLog();
    EXPECT_LT(log.size(), 200u) << log.substr(0, 400);
    EXPECT_NE(log.find("Request of " + std::to_string(junk.size()) +
                       " bytes without an accepted log-on: not shown\n"),
              std::string::npos)
        << log.substr(0, 400);
    // A refused log-on shows no more than that.
    Send(Logon("PPC1", "alice", "wrong") + SyncRequest().Get("Email").Text());
    EXPECT_EQ(wbxmlLog().find("wrong"), std::string::npos);

    // After an accepted log-on a text that forges an entry head stays inside its
    // entry, and a large document is cut.
    std::filesystem::remove(data_ + "/wbxml.log");
    std::string forged = "x\n!!!01.01.2000 00:00 () forged\x1b[31m";
    std::string padding(600 * 1024, 'p');
    // The description form has no line feeds in a value: the name goes into the bytes.
    std::string body =
        BuildVantroBody(Logon("PPC1_FORGEDNAME", "alice", "Secret") +
                        SyncRequest().Folder("-1").Add("1", {"1:FirstName " + padding}).Text());
    size_t at = body.find("FORGEDNAME");
    ASSERT_NE(at, std::string::npos);
    body.replace(at, 10, forged);
    AskServer(port_, VantroHttpRequest(body));
    log = wbxmlLog();
    EXPECT_EQ(log.find("\n!!!01.01.2000"), std::string::npos);
    EXPECT_NE(log.find("\\x21!!01.01.2000 00:00 () forged\\x1B[31m"), std::string::npos)
        << log.substr(0, 2000);
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    EXPECT_NE(log.find("more bytes of the document not shown]\n"), std::string::npos);
    EXPECT_LT(log.size(), size_t{600 * 1024});
    EXPECT_NE(log.find("****************** Answer ********************* \n"), std::string::npos);
    // The device's name keeps no control character in settings.inf either.
    corvel_.reset();
    std::string settings = ReadWholeFile(data_ + "/settings.inf");
    EXPECT_EQ(settings.find('\x1b'), std::string::npos);
    EXPECT_NE(settings.find("Device=PPC1:x !!!01.01.2000 00:00 () forged[31m\n"), std::string::npos)
        << settings;
}

TEST_F(VantroEndToEnd, TwoDevicesAtOnceEachGetTheirOwnAnswer) {
    AddUser("alice", "Secret", true);
    AddUser("bob", "pw", true);
    Start();
    auto addContact = [&](const std::string& logon, const std::string& name) {
        return Exchange(logon +
                        SyncRequest().Folder("-1").Add("1", {"1:FirstName " + name}).Text());
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

// The Add and Element lines of a described answer that carries contacts: the item
// fields are left out, the keys kept in order.
std::string AddedKeys(const std::string& described) {
    std::string out;
    std::regex re(
        "(Sync\n|  Folder\n|    AckString [^\n]*\n|    ServerID [^\n]*\n|    FolderPath [^\n]*\n|"
        "    Element\n|      Add\n|        ServerID [^\n]*\n)");
    for (auto it = std::sregex_iterator(described.begin(), described.end(), re);
         it != std::sregex_iterator(); ++it) {
        out += it->str();
    }
    return out;
}

TEST_F(VantroEndToEnd, SecondDeviceWaitsItsTurnAndNeitherSeesTheOthersItems) {
    AddUser("alice", "Secret", true);
    {
        TestProgram add("corvel", temp_.Path(),
                        {"user", "add", "bob", "--password", "pw", "--profile", "Bob", "--auto"});
        ASSERT_EQ(add.Wait(), 0) << add.Out();
    }
    std::string bobKey = Store(
        {"--profile", "Bob", "add", "Contacts", "--class", "IPM.Contact", "PR_GIVEN_NAME=Ben"});
    bobKey = bobKey.substr(0, bobKey.find_first_of("\r\n"));
    ASSERT_FALSE(bobKey.empty());
    const std::string amyKey = AddItem("Contacts", "IPM.Contact", {"PR_GIVEN_NAME=Amy"});
    ASSERT_FALSE(amyKey.empty());
    Start();

    // Alice's request adds many contacts and then asks for her contacts, so it runs
    // long enough for Bob's request to arrive in the middle of it. Since the adds of a
    // request share one write, 300 of them were done before Bob's request arrived.
    const int kContacts = 3000;
    SyncRequest aliceSync;
    aliceSync.Filter("Contact").Folder("-1");
    for (int i = 0; i < kContacts; ++i) {
        const std::string n = std::to_string(i);
        aliceSync.Add(n, {"1:FirstName Ann" + n, "1:FileAs Ann" + n});
    }
    aliceSync.Get("Contact", {"Reset 1"});
    const std::string aliceRequest = Logon("PPCA_Alice", "alice", "Secret") + aliceSync.Text();
    std::string alice;
    std::thread first([&] { alice = Exchange(aliceRequest); });
    ASSERT_TRUE(WaitFor([&] { return corvel_->Out().find("POST vantro") != std::string::npos; }));
    std::string bob = Exchange(Logon("PPCB_Bob", "bob", "pw") +
                               SyncRequest().Filter("Contact").Get("Contact", {"Reset 1"}).Text());
    first.join();

    // Bob's request reached the server while Alice's was still being handled (the
    // trace lines reach the output a moment after the answers).
    EXPECT_TRUE(WaitFor([&] {
        std::string out = corvel_->Out();
        return out.find("Sending answer") != std::string::npos &&
               out.find("POST vantro", out.find("POST vantro") + 1) != std::string::npos;
    })) << corvel_->Out();
    std::string out = corvel_->Out();
    size_t bobArrived = out.find("POST vantro", out.find("POST vantro") + 1);
    size_t aliceAnswered = out.find("Sending answer");
    ASSERT_NE(bobArrived, std::string::npos) << out;
    EXPECT_LT(bobArrived, aliceAnswered) << "Bob's request did not overlap Alice's:\n" << out;

    // Bob gets exactly his one contact.
    EXPECT_EQ(AddedKeys(bob), AnsweredFolder("-1", 1, "PPCB") + AnsweredElement("Add", bobKey));
    EXPECT_NE(bob.find("1:FirstName Ben\n"), std::string::npos) << bob;
    EXPECT_EQ(bob.find("Ann"), std::string::npos) << bob;
    // Alice gets a mapping for each of her contacts, and of the store's contacts
    // only Amy (her own additions are not echoed).
    std::regex mapping("    Element\n      ClientID ([0-9]+)\n      ServerID ([0-9A-F]+)\n");
    std::vector<std::string> keys;
    for (auto it = std::sregex_iterator(alice.begin(), alice.end(), mapping);
         it != std::sregex_iterator(); ++it) {
        EXPECT_EQ((*it)[1].str(), std::to_string(keys.size()));
        keys.push_back((*it)[2].str());
    }
    ASSERT_EQ(keys.size(), static_cast<size_t>(kContacts)) << alice.substr(0, 2000);
    ASSERT_NE(alice.find("Sync\n"), std::string::npos) << alice.substr(0, 2000);
    EXPECT_EQ(AddedKeys(alice.substr(alice.find("Sync\n"))),
              AnsweredFolder("-1", 1, "PPCA") + AnsweredElement("Add", amyKey));
    EXPECT_NE(alice.find("1:FirstName Amy\n"), std::string::npos)
        << alice.substr(alice.find("Sync\n"));
    EXPECT_EQ(alice.find("Ben"), std::string::npos);
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
    const std::string key = AddItem("Inbox", "IPM.Note", {"PR_SUBJECT=Hello"});
    ASSERT_FALSE(key.empty());
    const std::string getMail = SyncRequest().Filter("Email").Get("Email").Text();
    std::string first = Exchange(logon + getMail);
    // The item's fields follow; the first ones carry the class and the subject.
    auto sentWhole = [&](const std::string& folder, int generation) {
        return AnsweredFolder(folder, generation) +
               AnsweredElement("Add", key, {"7:MESSAGE_CLASS  IPM.Note", "7:SUBJECT  Hello"});
    };
    EXPECT_EQ(first.substr(0, first.find("          7:CREATION_TIME")), sentWhole("-4", 1))
        << first;
    Exchange(logon + Acks());
    EXPECT_EQ(Exchange(logon + getMail), "");

    // Read in the store: ReadFlag; read state from the device: the store follows,
    // and the device's own read state does not come back.
    Store({"read", key, "1"});
    EXPECT_EQ(Exchange(logon + getMail),
              AnsweredFolder("-4", 2) + AnsweredElement("ReadFlag", key) + "        ReadState 1\n");
    Exchange(logon + Acks());
    EXPECT_EQ(
        Exchange(logon + SyncRequest().ServerFolder("-4").ReadState(key, "0").Text() + getMail),
        AnsweredFolder("-4", 3));
    EXPECT_EQ(ReadColumn(Store({"items", "Inbox"}), key), "0");
    Exchange(logon + Acks());
    EXPECT_EQ(Exchange(logon + getMail), "");

    // Moved in the store from the inbox to deleted items: one Moved in the target,
    // an empty Element in the source.
    Store({"move", key, "Deleted Items"});
    EXPECT_EQ(Exchange(logon + getMail), AnsweredFolder("-8", 1) + AnsweredElement("Moved", key) +
                                             "        NewFolder -4\n        FolderPath -8\n" +
                                             AnsweredFolder("-4", 4) + "    Element\n");

    // Reset 1 sends every item of the folder as Add again.
    Exchange(logon + Acks());
    EXPECT_EQ(Exchange(logon + getMail), "");
    std::string reset = Exchange(logon + SyncRequest().GetServerId("-8", {"Reset 1"}).Text());
    EXPECT_EQ(reset.substr(0, reset.find("          7:CREATION_TIME")), sentWhole("-8", 2))
        << reset;
}

TEST_F(VantroEndToEnd, TasksAndAppointmentsFromTheDeviceLandInTheStore) {
    AddUser("alice", "Secret", true);
    Start();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret");
    std::string task = Exchange(
        logon + SyncRequest()
                    .Folder("-2", "Task")
                    .Add("3", {"3:TaskSubject Buy milk", "3:TaskImportance 2"})
                    .Folder("-3", "Appointment")
                    .Modify("", "4",
                            {"2:Subject Dentist", "2:Location Town",
                             "2:Start 07.03.2027 14:00.00:0", "2:End 07.03.2027 15:00.00:0"})
                    .Text());
    // A Modify without ServerID that made a new item still gets its mapping inside
    // a Response of its own folder.
    std::smatch match;
    std::regex re(
        "Response\n  Folder\n    ClientID -2\n    ServerID -2\n    Element\n      ClientID 3\n"
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
    WriteWholeFile(path, BuildVantroBody(SyncRequest().ServerFolder("-1").Text()));
    TestProgram dump("corvel", temp_.Path(), {"dump", path});
    EXPECT_EQ(dump.Wait(), 0);
    std::string out = dump.Out();
    EXPECT_NE(out.find("ServerID"), std::string::npos) << out;
    EXPECT_NE(out.find("-1"), std::string::npos) << out;
    TestProgram missing("corvel", temp_.Path(), {"dump", temp_.Path() + "/none"});
    EXPECT_EQ(missing.Wait(), 1);
}

}  // namespace
