// Identity on the handheld: ClientIDs and server keys, one key per item, items
// whose Add answer was lost, answers that name items by malformed keys, a recreated
// PIM store, and a stop after the request went out.
#include <gtest/gtest.h>

#include <fstream>

#include "client/fake_http_server.h"
#include "client/item_keys.h"
#include "client/store_identity.h"
#include "client/sync_engine.h"
#include "client/sync_test_fixture.h"
#include "client/test_bytes.h"

namespace {

using namespace vantro;
using namespace testbytes;

TEST(ItemKeysTest, ClientIdsAndServerKeys) {
    EXPECT_EQ("12@8F0C2A44D1E3B907", MakeClientId(12, "8F0C2A44D1E3B907"));
    EXPECT_EQ("12", MakeClientId(12, ""));
    long oid = 0;
    std::string store;
    ASSERT_TRUE(ParseClientId("12@8F0C2A44D1E3B907", oid, store));
    EXPECT_EQ(12, oid);
    EXPECT_EQ("8F0C2A44D1E3B907", store);
    ASSERT_TRUE(ParseClientId("2147483647", oid, store));
    EXPECT_EQ(2147483647, oid);
    EXPECT_EQ("", store);
    for (const char* bad : {"", "0", "-1", "12@", "@AB", "1 2", "2147483648", "12345678901", "x"}) {
        EXPECT_FALSE(ParseClientId(bad, oid, store)) << bad;
    }
    EXPECT_TRUE(ParseClientId("1@" + std::string(kMaxClientIdLength - 2, 'A'), oid, store));
    EXPECT_FALSE(ParseClientId("1@" + std::string(kMaxClientIdLength - 1, 'A'), oid, store));

    EXPECT_TRUE(IsWellFormedServerKey("00FF"));
    EXPECT_TRUE(IsWellFormedServerKey(std::string(kMaxServerKeyLength, '9')));
    for (const std::string& bad :
         {std::string(), std::string("00ff"), std::string("-1"), std::string("AB\nCD"),
          std::string("AB=CD"), std::string(kMaxServerKeyLength + 1, '9')}) {
        EXPECT_FALSE(IsWellFormedServerKey(bad)) << bad;
    }
}

class SyncIdentityTest : public SyncFixture {
protected:
    long AddTask(const std::string& subject, const std::string& body = "") {
        auto item = app_.GetDefaultFolder(olFolderTasks)->Items().Add();
        item->SetText("Subject", subject);
        if (!body.empty()) item->SetText("Body", body);
        EXPECT_TRUE(item->Save());
        return item->Oid();
    }
    int TaskCount() { return app_.GetDefaultFolder(olFolderTasks)->Items().Count(); }
    SyncFolder& Tasks(SyncSession& s) { return *s.folders[1]; }
    std::string Request(SyncSession& session) {
        CWBXML writer;
        EXPECT_GE(BuildRequest(session, writer), 0);
        return writer.Document().ToString();
    }
    static std::string Mapping(const std::string& clientId, const std::string& key,
                               bool matched = false) {
        return S(kElement) + T(kClientID, clientId) + T(kServerID, key) +
               (matched ? T(kMatched, "1") : "") + kEnd;
    }
    static std::string TaskMappings(const std::string& elements) {
        return S(kResponse) + S(kFolder) + T(kClientID, "-2") + T(kServerID, "-2") + elements +
               kEnd + kEnd;
    }
    static std::string TaskChanges(const std::string& elements) {
        return S(kSync) + S(kFolder) + T(kAckString, "D:-2.csv:-2_temp.csv") + T(kServerID, "-2") +
               elements + kEnd + kEnd;
    }
    static std::string TaskElement(int change, const std::string& key, const std::string& subject) {
        return S(kElement) + S(change) + T(kServerID, key) + S(kCollection) + P(3) + T(1, subject) +
               kEnd + P(0) + kEnd + kEnd;
    }
};

TEST_F(SyncIdentityTest, OneKeyForTwoItemsKeepsTheFirstAndReportsTheOtherAsNotStored) {
    // Three tasks of one name; a server that pairs Adds by name answers all three
    // with one key.
    long a = AddTask("Call Bob", "about the car");
    long b = AddTask("Call Bob", "about the house");
    long c = AddTask("Call Bob", "about the boat");
    SyncSession session = Session();
    Request(session);
    std::string answer = kHeader + TaskMappings(Mapping(Cid(a), "0A") + Mapping(Cid(b), "0A") +
                                                Mapping(Cid(c), "0A"));
    AnswerResult r = HandleAnswer(session, answer);
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(1, r.mappings);
    EXPECT_EQ(2, r.failed);
    EXPECT_EQ(a, Tasks(session).OidOfKey("0A"));
    EXPECT_EQ("", Tasks(session).KeyOf(b));
    EXPECT_TRUE(Logged("Not stored on the desktop: Task " + Cid(b) +
                       " was answered with the key 0A, which item " + Cid(a) +
                       " holds; left unmapped"));
    SyncReport report = MakeReport(session);
    EXPECT_EQ(1, report.folders[1].desktop.added);
    EXPECT_EQ(2, report.folders[1].notStored);
    EXPECT_NE(std::string::npos, FormatReportLine(report).find(
                                     "Tasks: handheld +0 ~0 -0, desktop +1 ~0 -0, not stored 2"));
    // The two go again as Add, under their own ClientIDs.
    SyncSession next = Session();
    std::string request = Request(next);
    EXPECT_NE(std::string::npos, request.find(S(kAdd) + T(kClientID, Cid(b))));
    EXPECT_NE(std::string::npos, request.find(S(kAdd) + T(kClientID, Cid(c))));
    EXPECT_EQ(std::string::npos, request.find(T(kClientID, Cid(a))));
}

TEST_F(SyncIdentityTest, ADesktopAddOfTheSameNameNeverTakesAMappedItem) {
    long mine = AddTask("Call Bob", "about the car");
    SyncSession first = Session();
    Request(first);
    ASSERT_TRUE(HandleAnswer(first, kHeader + TaskMappings(Mapping(Cid(mine), "0A"))).applied);
    // A later sync brings a different desktop task of the same subject.
    SyncSession later = Session();
    Request(later);
    ASSERT_TRUE(
        HandleAnswer(later, kHeader + TaskChanges(TaskElement(kAdd, "0B", "Call Bob"))).applied);
    EXPECT_EQ(2, TaskCount());
    EXPECT_EQ("about the car", app_.GetItemFromOid(mine)->GetText("Body"));
    EXPECT_EQ(mine, Tasks(later).OidOfKey("0A"));
    long other = Tasks(later).OidOfKey("0B");
    EXPECT_NE(mine, other);
    EXPECT_EQ("Call Bob", app_.GetItemFromOid(other)->GetText("Subject"));
}

TEST_F(SyncIdentityTest, OnAFirstSyncADesktopAddMayPairWithAnUnmappedTwin) {
    // The twin's own Add was refused, so it holds no key when the desktop's arrives.
    long twin = AddTask("Call Bob");
    SyncSession session = Session();
    Request(session);
    std::string answer =
        kHeader + TaskMappings(S(kElement) + T(kClientID, Cid(twin)) + T(kErrorCode, "1") + kEnd) +
        TaskChanges(TaskElement(kAdd, "0C", "Call Bob") + TaskElement(kAdd, "0D", "Call Bob"));
    ASSERT_TRUE(HandleAnswer(session, answer).applied);
    // The first pairs with it, the second (same name) is a new item.
    EXPECT_EQ(twin, Tasks(session).OidOfKey("0C"));
    EXPECT_EQ(2, TaskCount());
    EXPECT_EQ(1, MakeReport(session).folders[1].handheld.added);
}

TEST_F(SyncIdentityTest, AnAnswerNamingAnItemByAMalformedKeyIsRefusedWhole) {
    long task = AddTask("mine");
    SyncSession session = Session();
    Request(session);
    for (const std::string& bad : {std::string("0a"), std::string("-5"), std::string("AB=12"),
                                   std::string(kMaxServerKeyLength + 1, 'A')}) {
        SCOPED_TRACE(bad);
        // In a mapping, or in a store change: nothing of the answer is applied.
        for (const std::string& answer : {kHeader + TaskMappings(Mapping(Cid(task), bad)),
                                          kHeader + TaskMappings(Mapping(Cid(task), "0E")) +
                                              TaskChanges(TaskElement(kAdd, bad, "from desk"))}) {
            AnswerResult r = HandleAnswer(session, answer);
            EXPECT_TRUE(r.refused);
            EXPECT_FALSE(r.whole);
            EXPECT_FALSE(r.applied);
        }
    }
    EXPECT_EQ(1, TaskCount());
    EXPECT_FALSE(std::filesystem::exists(Data("tasks.txt")));
    EXPECT_TRUE(Logged("Answer refused, nothing applied: the server key '0a' is not well-formed"));
}

TEST_F(SyncIdentityTest, MappingsForItemsNotSentOrOfAnotherStoreArePassedOver) {
    long sent = AddTask("sent");
    SyncSession session = Session();
    Request(session);
    long later = AddTask("made after the scan");
    std::string answer =
        kHeader + TaskMappings(Mapping(std::to_string(sent) + "@0123456789ABCDEF", "0A") +
                               Mapping(Cid(later), "0B") + Mapping("junk", "0C") +
                               Mapping(std::to_string(sent), "0D"));
    AnswerResult r = HandleAnswer(session, answer);
    ASSERT_TRUE(r.applied);
    // Only the plain identifier (an older server's echo) names an item sent here.
    EXPECT_EQ(1, r.mappings);
    EXPECT_EQ(sent, Tasks(session).OidOfKey("0D"));
    EXPECT_EQ(0, Tasks(session).OidOfKey("0A"));
    EXPECT_EQ(0, Tasks(session).OidOfKey("0B"));
    EXPECT_TRUE(Logged("Aufgaben: answer for 'junk' passed over: no such item was sent"));
}

TEST_F(SyncIdentityTest, AnAddWhoseAnswerWasLostGoesAgainAndItsDeletionByClientId) {
    long lost = AddTask("lost answer");
    SyncSession first = Session();
    std::string request = Request(first);
    NoteRequestSent(first);  // the request went out; its answer never came
    EXPECT_NE(std::string::npos, request.find(S(kAdd) + T(kClientID, Cid(lost))));

    // Sent again as Add under the same ClientID.
    SyncSession second = Session();
    request = Request(second);
    NoteRequestSent(second);
    EXPECT_NE(std::string::npos, request.find(S(kAdd) + T(kClientID, Cid(lost))));
    EXPECT_EQ(Cid(lost) + "\n", TempEnv::ReadFile(Data("tasks.sent")));

    // Deleted before any answer arrived: the desktop learns of it by ClientID.
    ASSERT_TRUE(app_.GetItemFromOid(lost)->Delete());
    SyncSession third = Session();
    request = Request(third);
    EXPECT_NE(std::string::npos, request.find(S(kDelete) + T(kClientID, Cid(lost)) + kEnd));
    EXPECT_EQ(std::string::npos, request.find(S(kAdd)));
    ASSERT_TRUE(HandleAnswer(third, kHeader).applied);
    EXPECT_FALSE(std::filesystem::exists(Data("tasks.sent")));
    SyncSession fourth = Session();
    EXPECT_EQ(std::string::npos, Request(fourth).find(S(kDelete)));
}

TEST_F(SyncIdentityTest, AnItemDeletedAfterItArrivedAndBeforeItsSnapshotIsDeletedOnTheDesktop) {
    // A run killed after writing a desktop item and its key, before the snapshot.
    SyncSession killed = Session();
    Request(killed);
    auto item = app_.GetDefaultFolder(olFolderTasks)->Items().Add();
    item->SetText("Subject", "arrived");
    ASSERT_TRUE(item->Save());
    Tasks(killed).MapKey("0F", item->Oid(), true);
    ASSERT_TRUE(item->Delete());
    SyncSession next = Session();
    EXPECT_NE(std::string::npos, Request(next).find(S(kDelete) + T(kServerID, "0F") + kEnd));
}

TEST_F(SyncIdentityTest, DeletionsTheDesktopPassesOverAreKeptAndReportedSo) {
    long a = AddTask("a");
    long b = AddTask("b");
    SyncSession first = Session();
    Request(first);
    ASSERT_TRUE(
        HandleAnswer(first, kHeader + TaskMappings(Mapping(Cid(a), "0A") + Mapping(Cid(b), "0B")))
            .applied);
    ASSERT_TRUE(app_.GetItemFromOid(a)->Delete());
    SyncSession second = Session();
    ASSERT_NE(std::string::npos, Request(second).find(S(kDelete) + T(kServerID, "0A")));
    // Changed on the desktop meanwhile: the desktop keeps it and sends it back.
    AnswerResult r = HandleAnswer(second, kHeader + TaskChanges(TaskElement(kModify, "0A", "a2")));
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(2, TaskCount());
    long back = Tasks(second).OidOfKey("0A");
    EXPECT_NE(a, back);
    EXPECT_EQ("a2", app_.GetItemFromOid(back)->GetText("Subject"));
    SyncReport report = MakeReport(second);
    EXPECT_EQ(0, report.folders[1].desktop.deleted);
    EXPECT_EQ(1, report.folders[1].desktop.kept);
    EXPECT_EQ(1, report.folders[1].handheld.added);
    EXPECT_NE(std::string::npos,
              FormatReportLine(report).find("Tasks: handheld +1 ~0 -0, desktop +0 ~0 -0 (1 kept: "
                                            "changed on the desktop)"));
    EXPECT_TRUE(Logged("Kept Task - a2: deleted here, changed on the desktop"));
    SyncSession quiet = Session();
    std::string request = Request(quiet);
    EXPECT_EQ(std::string::npos, request.find(S(kDelete)));
    EXPECT_EQ(std::string::npos, request.find(S(kAdd)));
}

TEST_F(SyncIdentityTest, MatchedAddsAreCountedAsSuch) {
    long a = AddTask("a");
    long b = AddTask("b");
    SyncSession session = Session();
    Request(session);
    ASSERT_TRUE(HandleAnswer(session, kHeader + TaskMappings(Mapping(Cid(a), "0A", true) +
                                                             Mapping(Cid(b), "0B")))
                    .applied);
    SyncReport report = MakeReport(session);
    EXPECT_EQ(2, report.folders[1].desktop.added);
    EXPECT_EQ(1, report.folders[1].desktop.matched);
    EXPECT_NE(std::string::npos,
              FormatReportLine(report).find("Tasks: handheld +0 ~0 -0, desktop +2 (1 matched)"));
}

// ---- A recreated PIM store ----

class StoreIdentityTest : public SyncIdentityTest {
protected:
    std::string RunOverLoopback(const std::string& answer, RunResult* result = nullptr) {
        FakeHttpServer server([&answer](const std::string&) {
            return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: " +
                                            std::to_string(answer.size()) + "\r\n\r\n" + answer};
        });
        SetClientSettings({"127.0.0.1:" + std::to_string(server.Port()), "ann", "pw"});
        RunResult r = RunSync();
        if (result) *result = r;
        auto requests = server.Requests();
        return requests.empty() ? "" : requests[0].substr(requests[0].find("\r\n\r\n") + 4);
    }
    // Makes a new PIM store in place of the current one.
    void RecreateStore() {
        app_.Logoff();
        std::filesystem::remove_all(env_.Root() / "data" / "PocketOutlook");
        ASSERT_TRUE(app_.Logon());
    }
};

TEST_F(StoreIdentityTest, StateFilesOfAnotherStoreAreSetAsideAndTheRunIsAFirstSync) {
    long old1 = AddTask("old one");
    long old2 = AddTask("old two");
    std::string oldStore = app_.StoreIdentity();
    RunResult first;
    RunOverLoopback(kHeader + TaskMappings(Mapping(Cid(old1), "0A") + Mapping(Cid(old2), "0B")),
                    &first);
    ASSERT_TRUE(first.answered) << first.error;
    EXPECT_EQ("Store=" + oldStore + "\n", TempEnv::ReadFile(Data("store.txt")));

    RecreateStore();
    long fresh = AddTask("old one");  // the same name, and likely the same identifier
    RunResult second;
    std::string request = RunOverLoopback(kHeader, &second);
    ASSERT_TRUE(second.answered) << second.error;
    // No Modify or Delete from the old files: the new item goes as Add, by its new
    // ClientID, and every folder is on its first sync.
    EXPECT_NE(std::string::npos, request.find(S(kAdd) + T(kClientID, Cid(fresh))));
    EXPECT_EQ(std::string::npos, request.find(S(kModify)));
    EXPECT_EQ(std::string::npos, request.find(S(kDelete)));
    EXPECT_NE(std::string::npos, request.find(T(kIsDefault, "1") + T(kReset, "1")));
    EXPECT_EQ(std::string::npos, request.find(T(kReset, "0")));
    EXPECT_TRUE(second.report.newHandheldStore);
    EXPECT_EQ(0u, second.reportLine.find(
                      "Sync report: first sync of a new handheld store; Contacts: handheld +0"))
        << second.reportLine;
    EXPECT_TRUE(Logged("The state files were made for another handheld store; set aside (.old)"));
    EXPECT_TRUE(std::filesystem::exists(Data("tasks.txt.old")));
    EXPECT_EQ("Store=" + app_.StoreIdentity() + "\n", TempEnv::ReadFile(Data("store.txt")));

    // The run after that is an ordinary one.
    RunResult third;
    RunOverLoopback(kHeader, &third);
    EXPECT_FALSE(third.report.newHandheldStore);
}

TEST_F(StoreIdentityTest, ARunThatAppliesNothingStillReportsTheNewStoreNextTime) {
    AddTask("a");
    RunOverLoopback(kHeader);
    RecreateStore();
    SetClientSettings({"no-such-host.invalid", "ann", "pw"});
    RunResult unreachable = RunSync();
    EXPECT_FALSE(unreachable.sent);
    RunResult next;
    RunOverLoopback(kHeader, &next);
    EXPECT_TRUE(next.report.newHandheldStore);
}

TEST_F(StoreIdentityTest, FilesOfAnOlderVersionAreTakenForThisStore) {
    long task = AddTask("kept");
    // An older version's files: a plain identifier, no store.txt.
    ASSERT_TRUE(WriteIdMap(Data("tasks.txt"), {{"0A", std::to_string(task)}}));
    SyncSession s = Session();
    ASSERT_TRUE(Tasks(s).SaveSnapshot());
    auto item = app_.GetItemFromOid(task);
    item->SetText("Subject", "changed");
    ASSERT_TRUE(item->Save());
    RunResult r;
    std::string request = RunOverLoopback(kHeader, &r);
    EXPECT_NE(std::string::npos,
              request.find(S(kModify) + T(kServerID, "0A") + T(kClientID, Cid(task))));
    EXPECT_FALSE(r.report.newHandheldStore);
    EXPECT_EQ("Store=" + app_.StoreIdentity() + "\n", TempEnv::ReadFile(Data("store.txt")));
    EXPECT_EQ("0A=" + Cid(task) + "\n", TempEnv::ReadFile(Data("tasks.txt")));
}

TEST_F(StoreIdentityTest, CheckOnItsOwn) {
    std::string data = GetDataFolder();
    StoreCheck fresh = CheckStoreIdentity(data, "AAAA");
    EXPECT_FALSE(fresh.newStore || fresh.setAside);
    EXPECT_TRUE(CheckStoreIdentity(data, "").error.empty());  // no store: nothing checked
    std::ofstream(data + "/contacts.dat") << "x";
    std::ofstream(data + "/acknowledge.txt") << "D:A:B\n";
    StoreCheck other = CheckStoreIdentity(data, "BBBB");
    EXPECT_TRUE(other.newStore && other.setAside);
    EXPECT_FALSE(std::filesystem::exists(data + "/contacts.dat"));
    EXPECT_EQ("x", TempEnv::ReadFile(data + "/contacts.dat.old"));
    EXPECT_EQ("D:A:B\n", TempEnv::ReadFile(data + "/acknowledge.txt.old"));
    EXPECT_EQ("Store=BBBB\nPrevious=AAAA\n", TempEnv::ReadFile(data + "/store.txt"));
    StoreCheck again = CheckStoreIdentity(data, "BBBB");
    EXPECT_TRUE(again.newStore);
    EXPECT_FALSE(again.setAside);
    ConfirmStoreIdentity(data);
    EXPECT_EQ("Store=BBBB\n", TempEnv::ReadFile(data + "/store.txt"));
    EXPECT_FALSE(CheckStoreIdentity(data, "BBBB").newStore);
}

// ---- Stop ----

TEST_F(SyncIdentityTest, AStopAfterTheRequestWentOutStillRecordsTheKeys) {
    long task = AddTask("mine");
    std::atomic<bool> stop{false};
    std::string answer = kHeader + TaskMappings(Mapping(Cid(task), "0A")) +
                         TaskChanges(TaskElement(kAdd, "0B", "from desk"));
    FakeHttpServer server([&](const std::string&) {
        stop = true;  // pressed while the server works on the request
        return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: " +
                                        std::to_string(answer.size()) + "\r\n\r\n" + answer};
    });
    SetClientSettings({"127.0.0.1:" + std::to_string(server.Port()), "ann", "pw"});
    RunResult r = RunSync(&stop);
    EXPECT_TRUE(r.sent);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(1, r.applied.mappings);
    EXPECT_EQ("0A=" + Cid(task) + "\n", TempEnv::ReadFile(Data("tasks.txt")));
    // The store changes wait for the next run: no snapshot, no AckString.
    EXPECT_EQ(0, r.applied.itemsApplied);
    EXPECT_FALSE(std::filesystem::exists(Data("tasks.dat")));
    EXPECT_FALSE(std::filesystem::exists(Data("acknowledge.txt")));
    // The next run does not send the item as new.
    SyncSession next = Session();
    EXPECT_EQ(std::string::npos, Request(next).find(S(kAdd)));
}

TEST_F(SyncIdentityTest, AStopBeforeSendingEndsAtOnce) {
    AddTask("mine");
    FakeHttpServer server([](const std::string&) { return std::vector<std::string>{}; });
    SetClientSettings({"127.0.0.1:" + std::to_string(server.Port()), "ann", "pw"});
    std::atomic<bool> stop{true};
    RunResult r = RunSync(&stop);
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.sent);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_FALSE(std::filesystem::exists(Data("tasks.sent")));
}

}  // namespace
