#include "client/sync_engine.h"

#include <gtest/gtest.h>

#include "client/client_log.h"
#include "client/fake_http_server.h"
#include "client/sync_test_fixture.h"
#include "client/test_env.h"
#include "platform/win/device_id.h"

namespace {

using namespace vantro;

std::string B(const char* bytes, size_t n) { return std::string(bytes, n); }
// A text element on the current page: tag byte, inline string, end.
std::string T(int token, const std::string& text) {
    return std::string(1, static_cast<char>(token | 0x40)) + "\x03" + text + B("\x00\x01", 2);
}
std::string S(int token) { return std::string(1, static_cast<char>(token | 0x40)); }
const std::string kEnd = "\x01";

class SyncEngineTest : public SyncFixture {
protected:
    long Add(int folder, const char* field, const std::string& value) {
        auto item = app_.GetDefaultFolder(folder)->Items().Add();
        item->SetText(field, value);
        EXPECT_TRUE(item->Save());
        return item->Oid();
    }
};

const std::string kHeader = B("\x03\x01\x6A\x00", 4);

std::string FolderHead(const std::string& clientId, const std::string& typ,
                       const std::string& name) {
    return S(kFolder) + T(kServerID, "") + T(kClientID, clientId) + T(kTyp, typ) + T(kName, name) +
           T(kIsDefault, "1");
}

TEST_F(SyncEngineTest, FirstRequestSendsEveryItemAsAddAndEmptyFolders) {
    long oid = Add(olFolderContacts, "FirstName", "Ann");
    SyncSession session = Session();
    CWBXML writer;
    EXPECT_EQ(1, BuildRequest(session, writer));
    std::string id = std::to_string(oid);
    EXPECT_EQ(kHeader + S(kLogon) + T(kDeviceID, "00233445566FFA5BB") + T(kUserName, "ann") +
                  T(kPassword, "pw") + kEnd + S(kSync) + FolderHead("-1", "Contacts", "Kontakte") +
                  T(kReset, "1") + S(kAdd) + T(kClientID, Cid(oid)) + S(kCollection) +
                  B("\x00\x01", 2) + T(0, id) + T(27, "Ann") + kEnd + kEnd + kEnd +
                  B("\x00\x00", 2) + FolderHead("-2", "Task", "Aufgaben") + T(kReset, "1") + kEnd +
                  FolderHead("-3", "Appointment", "Appointment") + T(kReset, "1") + kEnd +
                  S(kGetData) + S(kFolder) + T(kServerID, "-1") + T(kReset, "1") + kEnd +
                  S(kFolder) + T(kServerID, "-2") + T(kReset, "1") + kEnd + S(kFolder) +
                  T(kServerID, "-3") + T(kReset, "1") + kEnd + kEnd + kEnd,
              writer.Document().ToString());
    EXPECT_TRUE(Logged("Syncing Folder  - 0 Elements"));
    EXPECT_TRUE(Logged("Syncing Folder Kontakte - 1 Elements"));
    EXPECT_TRUE(Logged("Syncing Folder Aufgaben - 0 Elements"));
}

TEST_F(SyncEngineTest, ChangedItemsGoAsModifyWithTheirKeyElseAsAdd) {
    long a = Add(olFolderTasks, "Subject", "a");
    long b = Add(olFolderTasks, "Subject", "b");
    SyncSession session = Session();
    ASSERT_TRUE(session.folders[1]->SaveSnapshot());
    session.folders[1]->MapKey("0A", a);
    for (long oid : {a, b}) {
        auto item = app_.GetItemFromOid(oid);
        item->SetText("Subject", "x" + std::to_string(oid));
        item->Save();
    }
    CWBXML writer;
    EXPECT_EQ(2, BuildRequest(session, writer));
    std::string doc = writer.Document().ToString();
    EXPECT_NE(std::string::npos,
              doc.find(S(kModify) + T(kServerID, "0A") + T(kClientID, Cid(a)) + S(kCollection) +
                       B("\x00\x03", 2) + T(1, "x" + std::to_string(a)) + kEnd));
    // Without a key the desktop cannot name it: an Add (the same ClientID as before).
    EXPECT_NE(std::string::npos, doc.find(S(kAdd) + T(kClientID, Cid(b))));
}

TEST_F(SyncEngineTest, StopWhileBuildingSendsNothing) {
    Add(olFolderTasks, "Subject", "a");
    SyncSession session = Session();
    std::atomic<bool> stop{true};
    CWBXML writer;
    EXPECT_EQ(-1, BuildRequest(session, writer, &stop));
}

// An answer with the key of one new contact and one task from the store.
std::string MappingAndTaskAnswer(const std::string& contactOid) {
    return kHeader + S(kResponse) + S(kFolder) + T(kClientID, "-1") + T(kServerID, "-1") +
           S(kElement) + T(kClientID, contactOid) + T(kServerID, "AA01") + kEnd + kEnd + kEnd +
           S(kSync) + S(kFolder) + T(kAckString, "D:-2.csv:-2_temp.csv") + T(kServerID, "-2") +
           T(0x2F, "Aufgaben") + S(kElement) + S(kAdd) + T(kServerID, "BB02") + S(kCollection) +
           B("\x00\x03", 2) + T(1, "From desk") + T(4, "07.03.2009 14:05.09:0") + T(0x20, "x") +
           kEnd + B("\x00\x00", 2) + kEnd + kEnd + kEnd + kEnd;
}

TEST_F(SyncEngineTest, AnswerRecordsKeysAppliesItemsAndRewritesThatSnapshot) {
    long contact = Add(olFolderContacts, "FirstName", "Ann");
    SyncSession session = Session();
    CWBXML request;
    ASSERT_EQ(1, BuildRequest(session, request));
    AnswerResult r = HandleAnswer(session, MappingAndTaskAnswer(Cid(contact)));
    EXPECT_EQ(1, r.mappings);
    EXPECT_EQ(1, r.itemsApplied);
    EXPECT_EQ(3, r.foldersSaved);  // every folder of the run
    EXPECT_EQ(std::vector<std::string>{"D:-2.csv:-2_temp.csv"}, r.ackStrings);
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ("AA01=" + Cid(contact) + "\n", TempEnv::ReadFile(Data("contacts.txt")));
    auto tasks = app_.GetDefaultFolder(olFolderTasks)->Items();
    ASSERT_EQ(1, tasks.Count());
    auto task = tasks.Item(1);
    EXPECT_EQ("From desk", task->GetText("Subject"));
    EXPECT_DOUBLE_EQ(39879 + 50709.0 / 86400, task->GetDate("DueDate"));
    EXPECT_EQ("BB02=" + Cid(task->Oid()) + "\n", TempEnv::ReadFile(Data("tasks.txt")));
    EXPECT_TRUE(Logged("R Task - From desk"));
    EXPECT_TRUE(Logged("Saving status"));
    EXPECT_TRUE(std::filesystem::exists(Data("tasks.dat")));
    EXPECT_TRUE(std::filesystem::exists(Data("contacts.dat")));

    // The same answer again updates the task found by its key instead of adding one.
    HandleAnswer(session, MappingAndTaskAnswer(Cid(contact)));
    EXPECT_EQ(1, app_.GetDefaultFolder(olFolderTasks)->Items().Count());
}

TEST_F(SyncEngineTest, FolderLookupByClientIdAndTheSessionsFolderMap) {
    SyncSession session = Session();
    auto folderWithItem = [](const std::string& head, const std::string& subject) {
        return S(kSync) + S(kFolder) + head + S(kElement) + S(kAdd) +
               T(kServerID, subject == "one"   ? "0A1"
                            : subject == "two" ? "0A2"
                                               : "0A3") +
               S(kCollection) + B("\x00\x02", 2) + T(1, subject) + kEnd + B("\x00\x00", 2) + kEnd +
               kEnd + kEnd + kEnd;
    };
    std::string answer = kHeader +
                         // An unknown server ID is found by its client ID and remembered ...
                         folderWithItem(T(kServerID, "CAL") + T(kClientID, "-3"), "one") +
                         // ... so the same server ID alone finds it again.
                         folderWithItem(T(kServerID, "CAL"), "two") +
                         // A folder nobody knows: its items are passed over.
                         folderWithItem(T(kServerID, "???") + T(kClientID, "-9"), "lost");
    AnswerResult r = HandleAnswer(session, answer);
    EXPECT_EQ(2, r.itemsApplied);
    EXPECT_EQ(3, r.foldersSaved);
    EXPECT_EQ((std::map<std::string, std::string>{{"???", "-9"}, {"CAL", "-3"}}),
              session.folderIdMap);
    EXPECT_EQ(2, app_.GetDefaultFolder(olFolderCalendar)->Items().Count());
}

TEST_F(SyncEngineTest, StopBeforeApplyingKeepsTheOldSnapshot) {
    SyncSession session = Session();
    std::ofstream(Data("tasks.dat"), std::ios::binary) << "old";
    std::atomic<bool> stop{true};
    AnswerResult r = HandleAnswer(session, MappingAndTaskAnswer("1"), &stop);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(0, r.itemsApplied);
    EXPECT_EQ(0, r.foldersSaved);
    EXPECT_EQ("old", TempEnv::ReadFile(Data("tasks.dat")));
    EXPECT_EQ(0, app_.GetDefaultFolder(olFolderTasks)->Items().Count());
}

TEST_F(SyncEngineTest, TextWithoutFieldIsLogged) {
    SyncSession session = Session();
    std::string answer = kHeader + S(kSync) + S(kFolder) + T(kServerID, "-2") + S(kElement) +
                         S(kAdd) + T(kServerID, "0A1") + S(kCollection) + B("\x03stray\x00", 7) +
                         B("\x00\x03", 2) + T(1, "Task") + kEnd + B("\x00\x00", 2) + kEnd + kEnd +
                         kEnd + kEnd;
    AnswerResult r = HandleAnswer(session, answer);
    EXPECT_EQ(1, r.itemsApplied);
    EXPECT_TRUE(Logged("Literal without field stray"));
    // The stray text is kept as an entry without page and tag, which no field takes.
    EXPECT_EQ(1, app_.GetDefaultFolder(olFolderTasks)->Items().Count());
}

TEST_F(SyncEngineTest, CutAnswerAppliesNoCutItem) {
    SyncSession session = Session();
    std::string answer = MappingAndTaskAnswer("1");
    AnswerResult r = HandleAnswer(session, answer.substr(0, answer.size() - 12));
    EXPECT_EQ(0, r.itemsApplied);
    EXPECT_EQ(0, r.foldersSaved);
}

TEST_F(SyncEngineTest, RunsOverLoopback) {
    long contact = Add(olFolderContacts, "FirstName", "Ann");
    std::string answer = MappingAndTaskAnswer(Cid(contact));
    FakeHttpServer server([&answer](const std::string&) {
        return std::vector<std::string>{
            "HTTP/1.1 200 OK\r\nContent-Type: application/vantro.wbxml\r\n"
            "Content-Length: " +
            std::to_string(answer.size()) + "\r\n\r\n" + answer};
    });
    SetClientSettings({"127.0.0.1:" + std::to_string(server.Port()), "ann", "pw"});
    std::vector<bool> states;
    SetRunStateSink([&states](bool running) { states.push_back(running); });
    RunResult first = RunSync();
    SetRunStateSink(nullptr);
    EXPECT_TRUE(first.started && first.sent && first.answered) << first.error;
    EXPECT_EQ(3, first.foldersTakingPart);
    EXPECT_EQ(1, first.itemsSent);
    EXPECT_EQ(1, first.applied.itemsApplied);
    EXPECT_EQ((std::vector<bool>{true, false}), states);
    EXPECT_EQ("", StatusText());
    auto requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(0u, requests[0].find("POST vantro HTTP/1.1\r\nContentType: application/vantro\r\n"
                                   "Connection: Keep-Alive\r\nCache-Control: no-cache\r\n"
                                   "Vantro-Version: 1.0\r\nUser-Agent: PocketPC\r\n"
                                   "Accept-Language: de-de\r\nContent-Length: "));

    EXPECT_EQ(
        "Sync report: Contacts: handheld +0 ~0 -0, desktop +1 ~0 -0; Tasks: handheld +1 ~0 -0, "
        "desktop +0 ~0 -0; Calendar: handheld +0 ~0 -0, desktop +0 ~0 -0",
        first.reportLine);
    EXPECT_TRUE(Logged(first.reportLine));
    EXPECT_EQ("D:-2.csv:-2_temp.csv\n", TempEnv::ReadFile(Data("acknowledge.txt")));

    // The contact was taken as stored and the task received: nothing goes again, the
    // AckString goes back, and the folders are no longer on their first run.
    RunResult second = RunSync();
    EXPECT_EQ(0, second.itemsSent);
    EXPECT_EQ(1, second.acksSent);
    ASSERT_EQ(2u, server.Requests().size());
    std::string body = server.Requests()[1];
    body = body.substr(body.find("\r\n\r\n") + 4);
    EXPECT_NE(std::string::npos,
              body.find(kEnd + S(kAcknlowledge) + T(kAckString, "D:-2.csv:-2_temp.csv") + kEnd +
                        S(kSync) + FolderHead("-1", "Contacts", "Kontakte") + kEnd));
    EXPECT_NE(std::string::npos,
              body.find(S(kGetData) + S(kFolder) + T(kServerID, "-1") + T(kReset, "0") + kEnd));
    // The same task again changes nothing on the handheld.
    EXPECT_EQ(
        "Sync report: Contacts: handheld +0 ~0 -0, desktop +0 ~0 -0; Tasks: handheld +0 ~0 -0, "
        "desktop +0 ~0 -0; Calendar: handheld +0 ~0 -0, desktop +0 ~0 -0",
        second.reportLine);
    EXPECT_EQ(1, app_.GetDefaultFolder(olFolderTasks)->Items().Count());
}

TEST_F(SyncEngineTest, AnErrorPageIsNotWalked) {
    FakeHttpServer server([](const std::string&) {
        // A body that, read as WBXML, would open Sync, Folder, Element, Add and COLLECTION.
        return std::vector<std::string>{
            "HTTP/1.1 500 Internal\r\nContent-Length: 7\r\n\r\nAUg]T\x01\x01"};
    });
    SetClientSettings({"127.0.0.1:" + std::to_string(server.Port()), "ann", "pw"});
    RunResult r = RunSync();
    EXPECT_TRUE(r.sent);
    EXPECT_FALSE(r.answered);
    EXPECT_EQ("answer status 500", r.error);
    EXPECT_TRUE(Logged("HTTP 500, nothing applied"));
}

TEST_F(SyncEngineTest, UnreachableServerAndNoFolders) {
    SetClientSettings({"no-such-host.invalid", "ann", "pw"});
    RunResult r = RunSync();
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ("server not reached", r.error);
    EXPECT_TRUE(Logged("2af9 gethostbyname"));
    setenv("XDG_DATA_HOME", "/proc/no-pim-here", 1);
    RunResult none = RunSync();
    EXPECT_EQ(0, none.foldersTakingPart);
    EXPECT_FALSE(none.sent);
}

TEST_F(SyncEngineTest, SyncPressedTwiceStartsOneRunAndSaveWaitsItsTurn) {
    FakeHttpServer silent([](const std::string&) { return std::vector<std::string>{}; }, true);
    SetClientSettings({"127.0.0.1:" + std::to_string(silent.Port()), "ann", "pw"});
    SyncRunner runner;
    SyncOptions options;
    options.stoppedAnswerWait = std::chrono::milliseconds(100);
    ASSERT_TRUE(runner.Start(options));
    EXPECT_FALSE(runner.Start(options));
    EXPECT_TRUE(runner.IsRunning());
    // Wait until the run holds the data folder: it has sent its request.
    for (int i = 0; i < 6000 && silent.Requests().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(1u, silent.Requests().size());
    std::string error;
    EXPECT_FALSE(SaveAllSnapshots(&error));
    EXPECT_EQ("Sync in progress", error);
    EXPECT_EQ("Sync in progress", RunSync().error);
    // Stopped while the answer is awaited: the wait for it is cut short.
    runner.Stop();
    RunResult r = runner.Wait();
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(runner.IsRunning());
    EXPECT_EQ(1u, silent.Requests().size());
    EXPECT_TRUE(SaveAllSnapshots());
}

}  // namespace
