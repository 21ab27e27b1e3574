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

using VantroEndToEnd = VantroServerTest;

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

    const std::string getMail =
        "Sync\n  GetData\n    Folder\n      FolderType Email\n      Reset 1\n";
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
              "      ServerID " +
                  key + "\n");
    std::string shown = Store({"show", key});
    EXPECT_NE(shown.find("Jane"), std::string::npos) << shown;
    EXPECT_NE(shown.find("IPM.Contact"), std::string::npos) << shown;

    // A Modify with its ServerID changes the item and gets no mapping.
    EXPECT_EQ(Exchange(logon +
                       "Sync\n"
                       "  Folder\n"
                       "    ClientID -1\n"
                       "    Modify\n"
                       "      ServerID " +
                       key +
                       "\n"
                       "      ClientID 7\n"
                       "      COLLECTION\n"
                       "        1:FileAs Doe, Janet\n"
                       "        1:FirstName Janet\n"
                       "        1:LastName Doe\n"),
              "");
    EXPECT_NE(Store({"show", key}).find("Janet"), std::string::npos);

    // The store's contacts go back with Reset 1; without an acknowledgement the same
    // changes come again; after it they stop.
    const std::string getContacts =
        "Sync\n  Filter\n    Folder\n      FolderType Contact\n"
        "  GetData\n    Folder\n      FolderType Contact\n      Reset 1\n";
    std::string first = Exchange(logon + getContacts);
    auto contact = [&](const std::string& change, const std::string& firstName, int generation) {
        return "Sync\n"
               "  Folder\n"
               "    AckString PPC1:-1.csv:-1_temp." +
               std::to_string(generation) +
               ".csv\n"
               "    ServerID -1\n"
               "    FolderPath -1\n"
               "    Element\n"
               "      " +
               change +
               "\n"
               "        ServerID " +
               key +
               "\n"
               "        COLLECTION\n"
               "          1:FirstName " +
               firstName +
               "\n"
               "          1:LastName Doe\n"
               "          1:FileAs Doe, Janet\n";
    };
    EXPECT_EQ(first, contact("Add", "Janet", 1));
    EXPECT_TRUE(Exists("PPC1/-1_temp.1.csv"));
    const std::string again =
        "Sync\n  Filter\n    Folder\n      FolderType Contact\n"
        "  GetData\n    Folder\n      FolderType Contact\n";
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
    EXPECT_EQ(Exchange(logon + "Sync\n  Folder\n    ClientID -1\n    Delete\n      ServerID " +
                       key + "\n"),
              "");
    EXPECT_EQ(Store({"show", key}).find("Jenny"), std::string::npos);
    EXPECT_EQ(Exchange(logon + again),
              "Sync\n"
              "  Folder\n"
              "    AckString PPC1:-1.csv:-1_temp.4.csv\n"
              "    ServerID -1\n"
              "    FolderPath -1\n"
              "    Element\n"
              "      Delete\n"
              "        ServerID " +
                  key + "\n");
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
    // Trace lines reach the output a moment after the answer.
    EXPECT_TRUE(WaitFor([&] {
        std::string out = corvel_->Out();
        return out.find("Folder invalid") != std::string::npos &&
               out.find("Item ZZ not found") != std::string::npos;
    })) << corvel_->Out();
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
    AddUser("alice", "Secret", true);
    Start();
    ASSERT_EQ(AnswerBody(Send(Logon("PPC1_Pocket", "alice", "Secret") +
                              "Sync\n  GetData\n    Folder\n      FolderType Email\n")),
              kHeaderOnly);
    std::string id = Store({"add", "Inbox", "--class", "IPM.Note", "PR_SUBJECT=Big"});
    id = id.substr(0, id.find_first_of("\r\n"));
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
    AddUser("alice", "Secret", true);
    Start();
    ASSERT_EQ(AnswerBody(Send(Logon("PPC1_Pocket", "alice", "Secret") +
                              "Sync\n  GetData\n    Folder\n      FolderType Email\n")),
              kHeaderOnly);
    Store({"folder", "create", "Private"});
    Store({"folder", "create", "Inbox/Projects"});
    WriteWholeFile(temp_.Path() + "/note.txt", "note bytes");
    auto itemWithFile = [&](const std::string& folder) {
        std::string id = Store({"add", folder, "--class", "IPM.Note", "PR_SUBJECT=In " + folder});
        id = id.substr(0, id.find_first_of("\r\n"));
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
    Send(Logon("PPC1_Pocket", "alice", "Secret") +
         "Sync\n  GetData\n    Folder\n      FolderType Email\n");
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
                              "Sync\n  GetData\n    Folder\n      FolderType Email\n")),
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
    Send(Logon("PPC1", "alice", "wrong") + "Sync\n  GetData\n    Folder\n      FolderType Email\n");
    EXPECT_EQ(wbxmlLog().find("wrong"), std::string::npos);

    // After an accepted log-on a text that forges an entry head stays inside its
    // entry, and a large document is cut.
    std::filesystem::remove(data_ + "/wbxml.log");
    std::string forged = "x\n!!!01.01.2000 00:00 () forged\x1b[31m";
    std::string padding(600 * 1024, 'p');
    // The description form has no line feeds in a value: the name goes into the bytes.
    std::string body = BuildVantroBody(
        Logon("PPC1_FORGEDNAME", "alice", "Secret") + "Sync\n  Folder\n    ClientID -1\n" +
        "    Add\n      ClientID 1\n      COLLECTION\n" + "        1:FirstName " + padding + "\n");
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
                        "Sync\n  Folder\n    ClientID -1\n    Add\n      ClientID 1\n"
                        "      COLLECTION\n        1:FirstName " +
                        name + "\n");
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
    std::string amyKey = Store({"add", "Contacts", "--class", "IPM.Contact", "PR_GIVEN_NAME=Amy"});
    amyKey = amyKey.substr(0, amyKey.find_first_of("\r\n"));
    ASSERT_FALSE(amyKey.empty());
    Start();

    // Alice's request adds many contacts and then asks for her contacts, so it runs
    // long enough for Bob's request to arrive in the middle of it.
    const int kContacts = 300;
    std::string aliceRequest = Logon("PPCA_Alice", "alice", "Secret") +
                               "Sync\n  Filter\n    Folder\n      FolderType Contact\n"
                               "  Folder\n    ClientID -1\n";
    for (int i = 0; i < kContacts; ++i) {
        aliceRequest += "    Add\n      ClientID " + std::to_string(i) +
                        "\n      COLLECTION\n        1:FirstName Ann" + std::to_string(i) +
                        "\n        1:FileAs Ann" + std::to_string(i) + "\n";
    }
    aliceRequest += "  GetData\n    Folder\n      FolderType Contact\n      Reset 1\n";
    std::string alice;
    std::thread first([&] { alice = Exchange(aliceRequest); });
    ASSERT_TRUE(WaitFor([&] { return corvel_->Out().find("POST vantro") != std::string::npos; }));
    std::string bob = Exchange(Logon("PPCB_Bob", "bob", "pw") +
                               "Sync\n  Filter\n    Folder\n      FolderType Contact\n"
                               "  GetData\n    Folder\n      FolderType Contact\n      Reset 1\n");
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
    EXPECT_EQ(AddedKeys(bob),
              "Sync\n  Folder\n    AckString PPCB:-1.csv:-1_temp.1.csv\n    ServerID -1\n"
              "    FolderPath -1\n    Element\n      Add\n        ServerID " +
                  bobKey + "\n");
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
              "Sync\n  Folder\n    AckString PPCA:-1.csv:-1_temp.1.csv\n    ServerID -1\n"
              "    FolderPath -1\n    Element\n      Add\n        ServerID " +
                  amyKey + "\n");
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
    std::string key = Store({"add", "Inbox", "--class", "IPM.Note", "PR_SUBJECT=Hello"});
    key = key.substr(0, key.find_first_of("\r\n"));
    ASSERT_FALSE(key.empty());
    const std::string getMail =
        "Sync\n  Filter\n    Folder\n      FolderType Email\n"
        "  GetData\n    Folder\n      FolderType Email\n";
    std::string first = Exchange(logon + getMail);
    auto sentWhole = [&](const std::string& folder, int generation) {
        return "Sync\n  Folder\n    AckString PPC1:" + folder + ".csv:" + folder + "_temp." +
               std::to_string(generation) + ".csv\n    ServerID " + folder + "\n    FolderPath " +
               folder + "\n    Element\n      Add\n        ServerID " + key +
               "\n        COLLECTION\n";
    };
    // The item's fields follow; the first ones carry the class and the subject.
    EXPECT_EQ(
        first.substr(0, first.find("          7:CREATION_TIME")),
        sentWhole("-4", 1) + "          7:MESSAGE_CLASS  IPM.Note\n          7:SUBJECT  Hello\n")
        << first;
    Exchange(logon + Acks());
    EXPECT_EQ(Exchange(logon + getMail), "");

    // Read in the store: ReadFlag; read state from the device: the store follows,
    // and the device's own read state does not come back.
    Store({"read", key, "1"});
    EXPECT_EQ(Exchange(logon + getMail),
              "Sync\n  Folder\n    AckString PPC1:-4.csv:-4_temp.2.csv\n    ServerID -4\n"
              "    FolderPath -4\n    Element\n      ReadFlag\n        ServerID " +
                  key + "\n        ReadState 1\n");
    Exchange(logon + Acks());
    EXPECT_EQ(Exchange(logon + "Sync\n  Folder\n    ServerID -4\n    ReadState\n      ServerID " +
                       key + "\n      ReadFlag 0\n" + getMail),
              "Sync\n  Folder\n    AckString PPC1:-4.csv:-4_temp.3.csv\n    ServerID -4\n"
              "    FolderPath -4\n");
    EXPECT_EQ(ReadColumn(Store({"items", "Inbox"}), key), "0");
    Exchange(logon + Acks());
    EXPECT_EQ(Exchange(logon + getMail), "");

    // Moved in the store from the inbox to deleted items: one Moved in the target,
    // an empty Element in the source.
    Store({"move", key, "Deleted Items"});
    EXPECT_EQ(Exchange(logon + getMail),
              "Sync\n  Folder\n    AckString PPC1:-8.csv:-8_temp.1.csv\n    ServerID -8\n"
              "    FolderPath -8\n    Element\n      Moved\n        ServerID " +
                  key +
                  "\n        NewFolder -4\n        FolderPath -8\n"
                  "Sync\n  Folder\n    AckString PPC1:-4.csv:-4_temp.4.csv\n    ServerID -4\n"
                  "    FolderPath -4\n    Element\n");

    // Reset 1 sends every item of the folder as Add again.
    Exchange(logon + Acks());
    EXPECT_EQ(Exchange(logon + getMail), "");
    std::string reset =
        Exchange(logon + "Sync\n  GetData\n    Folder\n      ServerID -8\n      Reset 1\n");
    EXPECT_EQ(
        reset.substr(0, reset.find("          7:CREATION_TIME")),
        sentWhole("-8", 2) + "          7:MESSAGE_CLASS  IPM.Note\n          7:SUBJECT  Hello\n")
        << reset;
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
