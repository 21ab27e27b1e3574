// The sync engine across runs: server IDs in requests, device deletions, the
// mass-delete guard on both sides, failed items, incomplete answers and the test
// hook for a client killed while applying.
#include <gtest/gtest.h>

#include "client/client_log.h"
#include "client/fake_http_server.h"
#include "client/sync_engine.h"
#include "client/sync_test_fixture.h"
#include "client/test_bytes.h"
#include "client/test_env.h"
#include "platform/win/device_id.h"

namespace {

using namespace vantro;
using namespace testbytes;

// A well-formed server key for n: "5E" and n in four hexadecimal digits.
std::string K(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "5E%04X", n);
    return text;
}

class TwoWaySyncTest : public SyncFixture {
protected:
    void TearDown() override {
        SyncFixture::TearDown();
        unsetenv(kTestExitVariable);
    }
    long AddTask(const std::string& subject) {
        auto item = app_.GetDefaultFolder(olFolderTasks)->Items().Add();
        item->SetText("Subject", subject);
        EXPECT_TRUE(item->Save());
        return item->Oid();
    }
    void SetSubject(long oid, const std::string& subject) {
        auto item = app_.GetItemFromOid(oid);
        item->SetText("Subject", subject);
        ASSERT_TRUE(item->Save());
    }
    int TaskCount() { return app_.GetDefaultFolder(olFolderTasks)->Items().Count(); }
    SyncFolder& Tasks(SyncSession& s) { return *s.folders[1]; }
    // The request body of a session.
    std::string Request(SyncSession& session, const SyncOptions& options = {}) {
        CWBXML writer;
        EXPECT_GE(BuildRequest(session, writer, nullptr, options), 0);
        return writer.Document().ToString();
    }
    // A session whose request went out; its answer is still to come.
    SyncSession SessionWithRequestSent() {
        SyncSession session = Session();
        Request(session);
        return session;
    }
    // The request of the next session, as the handheld sends it after the last one.
    std::string NextRequest() {
        SyncSession next = Session();
        return Request(next);
    }
    // Tasks mapped to server keys K(n) and in the snapshot, as after a sync.
    std::vector<long> SyncedTasks(int count) {
        std::vector<long> oids;
        IdMap map;
        for (int i = 0; i < count; ++i) {
            oids.push_back(AddTask("t" + std::to_string(i)));
            map[K(i)] = Cid(oids.back());
        }
        EXPECT_TRUE(WriteIdMap(Data("tasks.txt"), map));
        SyncSession s = Session();
        EXPECT_TRUE(Tasks(s).SaveSnapshot());
        return oids;
    }
    // The COLLECTION of an item as sent, written by a fresh writer on page 0.
    std::string Fields(long oid) {
        SyncSession s = Session();
        CWBXML w;
        w.BeginDocument();
        Tasks(s).ItemForOid(oid)->WriteFields(w, false);
        return w.Document().ToString().substr(kHeader.size());
    }
};

// A store-changes answer for the tasks folder.
std::string TaskChanges(const std::string& elements,
                        const std::string& ack = "D:-2.csv:-2_temp.csv") {
    return S(kSync) + S(kFolder) + T(kAckString, ack) + T(kServerID, "-2") + elements + kEnd + kEnd;
}
std::string DeleteElement(const std::string& serverId) {
    return S(kElement) + S(kDelete) + T(kServerID, serverId) + kEnd + kEnd;
}
std::string TaskElement(int change, const std::string& serverId, const std::string& subject) {
    return S(kElement) + S(change) + T(kServerID, serverId) + S(kCollection) + P(3) +
           T(1, subject) + kEnd + P(0) + kEnd + kEnd;
}
std::string TaskMappings(const std::string& elements) {
    return S(kResponse) + S(kFolder) + T(kClientID, "-2") + T(kServerID, "-2") + elements + kEnd +
           kEnd;
}

TEST_F(TwoWaySyncTest, RequestCarriesServerIdsDeletionsAcknowledgementsAndGetData) {
    std::vector<long> t = SyncedTasks(3);  // K(0), K(1), K(2)
    // A second key for t2 from an older version (dropped: one key per item), a new
    // task the server already knows (a run killed after its mapping came back), and
    // a task sent as Add in a run whose answer was lost, deleted since.
    long known = AddTask("known");
    long fresh = AddTask("fresh");
    long lost = AddTask("lost");
    ASSERT_TRUE(AppendIdMapEntry(Data("tasks.txt"), K(99), std::to_string(t[2])));
    ASSERT_TRUE(AppendIdMapEntry(Data("tasks.txt"), K(7), Cid(known)));
    ASSERT_TRUE(WriteLineFile(Data("tasks.sent"), {Cid(lost)}));
    ASSERT_TRUE(app_.GetItemFromOid(lost)->Delete());
    SetSubject(t[0], "changed");
    ASSERT_TRUE(app_.GetItemFromOid(t[2])->Delete());
    IdMap map;
    ReadIdMap(Data("tasks.txt"), map);
    map.erase(K(1));
    WriteIdMap(Data("tasks.txt"), map);
    ASSERT_TRUE(app_.GetItemFromOid(t[1])->Delete());  // no server key: not reported

    SyncSession session = Session();
    session.ackStrings = {"D:-2.csv:-2_temp.csv", "D:-3.csv:-3_temp.csv"};
    std::string folderHead = S(kFolder) + T(kServerID, "") + T(kClientID, "-2") + T(kTyp, "Task") +
                             T(kName, "Aufgaben") + T(kIsDefault, "1");
    // t0's Modify carries its one changed field; the others every non-empty one.
    std::string tasks = folderHead + S(kModify) + T(kServerID, K(0)) + T(kClientID, Cid(t[0])) +
                        S(kCollection) + P(3) + T(1, "changed") + kEnd + kEnd + P(0) + S(kModify) +
                        T(kServerID, K(7)) + T(kClientID, Cid(known)) + Fields(known) + kEnd +
                        P(0) + S(kAdd) + T(kClientID, Cid(fresh)) + Fields(fresh) + kEnd + P(0) +
                        S(kDelete) + T(kServerID, K(2)) + kEnd + S(kDelete) +
                        T(kClientID, Cid(lost)) + kEnd + kEnd;
    // The folders without snapshot are on their first run: Reset in Sync and GetData.
    std::string expected =
        kHeader + S(kLogon) + T(kDeviceID, "00233445566FFA5BB") + T(kUserName, "ann") +
        T(kPassword, "pw") + kEnd + S(kAcknlowledge) + T(kAckString, "D:-2.csv:-2_temp.csv") +
        T(kAckString, "D:-3.csv:-3_temp.csv") + kEnd + S(kSync) + S(kFolder) + T(kServerID, "") +
        T(kClientID, "-1") + T(kTyp, "Contacts") + T(kName, "Kontakte") + T(kIsDefault, "1") +
        T(kReset, "1") + kEnd + tasks + S(kFolder) + T(kServerID, "") + T(kClientID, "-3") +
        T(kTyp, "Appointment") + T(kName, "Appointment") + T(kIsDefault, "1") + T(kReset, "1") +
        kEnd + S(kGetData) + S(kFolder) + T(kServerID, "-1") + T(kReset, "1") + kEnd + S(kFolder) +
        T(kServerID, "-2") + T(kReset, "0") + kEnd + S(kFolder) + T(kServerID, "-3") +
        T(kReset, "1") + kEnd + kEnd + kEnd;
    EXPECT_EQ(expected, Request(session));
    EXPECT_EQ(1u, Tasks(session).Run().sentDeletes.size());
    EXPECT_EQ(std::set<long>{lost}, Tasks(session).Run().sentClientDeletes);
    EXPECT_TRUE(Logged("Aufgaben: server key " + K(99) + " dropped, item " + std::to_string(t[2]) +
                       " holds " + K(2)));
}

TEST_F(TwoWaySyncTest, AppliedAnswerMakesTheNextRequestEmptyAndDropsDeletedMappings) {
    std::vector<long> t = SyncedTasks(2);
    SetSubject(t[0], "changed");
    ASSERT_TRUE(app_.GetItemFromOid(t[1])->Delete());
    long added = AddTask("new");
    SyncSession session = SessionWithRequestSent();
    NoteRequestSent(session);
    EXPECT_EQ(Cid(added) + "\n", TempEnv::ReadFile(Data("tasks.sent")));
    std::string answer =
        kHeader + TaskMappings(S(kElement) + T(kClientID, Cid(added)) + T(kServerID, "0E") + kEnd) +
        TaskChanges(TaskElement(kAdd, "0D", "from desk"));
    AnswerResult r = HandleAnswer(session, answer);
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(0, r.failed);
    EXPECT_EQ(std::vector<std::string>{"D:-2.csv:-2_temp.csv"}, r.ackStrings);
    long desk = app_.GetDefaultFolder(olFolderTasks)->Items().OidAt(3);
    EXPECT_EQ("0D=" + Cid(desk) + "\n0E=" + Cid(added) + "\n" + K(0) + "=" + Cid(t[0]) + "\n",
              TempEnv::ReadFile(Data("tasks.txt")));
    EXPECT_FALSE(std::filesystem::exists(Data("tasks.sent")));  // no Add awaits its key
    SyncReport report = MakeReport(session);
    EXPECT_EQ(1, report.folders[1].handheld.added);
    EXPECT_EQ(1, report.folders[1].desktop.added);
    EXPECT_EQ(1, report.folders[1].desktop.changed);
    EXPECT_EQ(1, report.folders[1].desktop.deleted);
    EXPECT_EQ(0, report.folders[1].notStored);

    std::string request = NextRequest();
    EXPECT_EQ(std::string::npos, request.find(S(kAdd)));
    EXPECT_EQ(std::string::npos, request.find(S(kModify)));
    EXPECT_EQ(std::string::npos, request.find(S(kDelete)));
    EXPECT_NE(std::string::npos, request.find(T(kServerID, "-2") + T(kReset, "0")));
}

TEST_F(TwoWaySyncTest, AChangeMadeWhileTheAnswerIsAwaitedIsSentNextRun) {
    std::vector<long> t = SyncedTasks(4);
    SetSubject(t[0], "sent");
    SetSubject(t[3], "sent, then deleted");
    SyncSession session = SessionWithRequestSent();
    SetSubject(t[0], "after the scan");
    SetSubject(t[1], "also after the scan");
    ASSERT_TRUE(app_.GetItemFromOid(t[2])->Delete());
    ASSERT_TRUE(app_.GetItemFromOid(t[3])->Delete());
    ASSERT_TRUE(HandleAnswer(session, kHeader).applied);
    std::string request = NextRequest();
    EXPECT_NE(std::string::npos,
              request.find(S(kModify) + T(kServerID, K(0)) + T(kClientID, Cid(t[0]))));
    EXPECT_NE(std::string::npos,
              request.find(S(kModify) + T(kServerID, K(1)) + T(kClientID, Cid(t[1]))));
    EXPECT_NE(std::string::npos, request.find(S(kDelete) + T(kServerID, K(2)) + kEnd));
    EXPECT_NE(std::string::npos, request.find(S(kDelete) + T(kServerID, K(3)) + kEnd));
}

TEST_F(TwoWaySyncTest, FailedAndUnconfirmedItemsAreSentAgain) {
    std::vector<long> t = SyncedTasks(1);
    SetSubject(t[0], "refused change");
    long stored = AddTask("stored");
    long refused = AddTask("refused");
    long silent = AddTask("silent");
    SyncSession session = SessionWithRequestSent();
    std::string answer =
        kHeader +
        TaskMappings(S(kElement) + T(kClientID, Cid(stored)) + T(kServerID, "0F") + kEnd +
                     S(kElement) + T(kClientID, Cid(refused)) + T(kErrorCode, "1") + kEnd +
                     S(kElement) + T(kClientID, Cid(t[0])) + T(kErrorCode, "1") + kEnd);
    AnswerResult r = HandleAnswer(session, answer);
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(1, r.mappings);
    EXPECT_EQ(3, r.failed);  // two errors, one Add without any answer
    EXPECT_TRUE(Logged("1 Task items not confirmed by the desktop; sent again next run"));
    EXPECT_TRUE(Logged("Not stored on the desktop: Task " + Cid(refused) +
                       " (error 1); sent again next run"));
    EXPECT_EQ(1, MakeReport(session).folders[1].desktop.added);
    EXPECT_EQ(3, MakeReport(session).folders[1].notStored);
    IdMap map;
    ReadIdMap(Data("tasks.txt"), map);
    EXPECT_EQ((IdMap{{"0F", Cid(stored)}, {K(0), Cid(t[0])}}), map);

    std::string request = NextRequest();
    EXPECT_NE(std::string::npos, request.find(S(kModify) + T(kServerID, K(0))));
    EXPECT_NE(std::string::npos, request.find(S(kAdd) + T(kClientID, Cid(refused))));
    EXPECT_NE(std::string::npos, request.find(S(kAdd) + T(kClientID, Cid(silent))));
    EXPECT_EQ(std::string::npos, request.find(T(kClientID, Cid(stored))));
}

TEST_F(TwoWaySyncTest, DesktopDeletionsRemoveMappedItemsOnly) {
    std::vector<long> t = SyncedTasks(3);
    SyncSession session = SessionWithRequestSent();
    AnswerResult r =
        HandleAnswer(session, kHeader + TaskChanges(DeleteElement(K(1)) + DeleteElement("ABCDEF")));
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(1, r.deletesApplied);
    EXPECT_EQ(2, TaskCount());
    EXPECT_FALSE(app_.GetItemFromOid(t[1]));
    EXPECT_TRUE(Logged("D Task - t1"));
    EXPECT_EQ(K(0) + "=" + Cid(t[0]) + "\n" + K(2) + "=" + Cid(t[2]) + "\n",
              TempEnv::ReadFile(Data("tasks.txt")));
    EXPECT_EQ(1, MakeReport(session).folders[1].handheld.deleted);
    // Deleted on the desktop and not sent back as a deletion or an item.
    std::string request = NextRequest();
    EXPECT_EQ(std::string::npos, request.find(S(kDelete)));
    EXPECT_EQ(std::string::npos, request.find(S(kAdd)));
}

TEST_F(TwoWaySyncTest, ADesktopDeletionOfAnItemChangedHereKeepsItWhenStoredAnew) {
    std::vector<long> t = SyncedTasks(2);
    SetSubject(t[0], "edited here");
    SyncSession session = SessionWithRequestSent();
    // The change beats the deletion: the desktop stored it afresh under a new key.
    AnswerResult r = HandleAnswer(
        session,
        kHeader + TaskMappings(S(kElement) + T(kClientID, Cid(t[0])) + T(kServerID, "0E") + kEnd) +
            TaskChanges(DeleteElement(K(0))));
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(0, r.deletesApplied);
    EXPECT_TRUE(app_.GetItemFromOid(t[0]));
    EXPECT_NE(std::string::npos,
              TempEnv::ReadFile(Data("tasks.txt")).find("0E=" + Cid(t[0]) + "\n"));
    std::string request = NextRequest();
    EXPECT_EQ(std::string::npos, request.find(S(kAdd)));
}

TEST_F(TwoWaySyncTest, ADesktopDeletionAnsweringAChangeWithoutANewKeyStands) {
    std::vector<long> t = SyncedTasks(2);
    SetSubject(t[0], "as the desktop sent it");
    SyncSession session = SessionWithRequestSent();
    // The desktop found no change of the handheld's own in it (the fields came from
    // an answer never acknowledged): the deletion stands here too.
    AnswerResult r = HandleAnswer(session, kHeader + TaskChanges(DeleteElement(K(0))));
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(1, r.deletesApplied);
    EXPECT_FALSE(app_.GetItemFromOid(t[0]));
    EXPECT_EQ(1, TaskCount());
    SyncReport report = MakeReport(session);
    EXPECT_EQ(1, report.folders[1].handheld.deleted);
    EXPECT_EQ(0, report.folders[1].handheld.kept);
    std::string request = NextRequest();
    EXPECT_EQ(std::string::npos, request.find(S(kAdd)));
    EXPECT_EQ(std::string::npos, request.find(T(kClientID, Cid(t[0]))));
}

// The guard on the device's side for a folder of `items` synced tasks of which
// `deleted` are deleted: whether the deletions are sent.
struct GuardCase {
    int items, deleted;
    bool allow, sent;
};

TEST_F(TwoWaySyncTest, MassDeleteGuardOnTheDevicesDeletions) {
    for (GuardCase c : {GuardCase{40, 21, false, false}, GuardCase{42, 21, false, true},
                        GuardCase{20, 20, false, true}, GuardCase{40, 21, true, true}}) {
        SCOPED_TRACE(std::to_string(c.items) + "/" + std::to_string(c.deleted));
        TempEnv env;  // a fresh data folder and PIM store for each case
        app_.Logoff();
        ASSERT_TRUE(app_.Logon());
        std::vector<long> t = SyncedTasks(c.items);
        for (int i = 0; i < c.deleted; ++i) ASSERT_TRUE(app_.GetItemFromOid(t[i])->Delete());
        SyncOptions options;
        options.allowMassDelete = c.allow;
        SyncSession session = Session();
        std::string request = Request(session, options);
        EXPECT_EQ(c.sent, request.find(S(kDelete) + T(kServerID, K(0))) != std::string::npos);
        // When held, the desktop sends the items back (it has them still): none of
        // the held ones may come back.
        std::string echo;
        for (int i = 0; i < c.items && !c.sent; ++i) {
            echo += TaskElement(kAdd, K(i), "t" + std::to_string(i));
        }
        AnswerResult r =
            HandleAnswer(session, kHeader + (c.sent ? "" : TaskChanges(echo)), nullptr, options);
        ASSERT_TRUE(r.applied);
        SyncReport report = MakeReport(session);
        EXPECT_EQ(c.sent ? c.deleted : 0, report.folders[1].desktop.deleted);
        EXPECT_EQ(c.sent ? 0 : c.deleted, report.folders[1].heldDesktop);
        EXPECT_EQ(c.items - c.deleted, TaskCount());
        EXPECT_EQ(0, r.itemsApplied);  // the rest arrive as they are
        EXPECT_EQ(c.sent ? 0 : c.items - c.deleted, r.itemsUnchanged);
        EXPECT_TRUE(r.ackStrings.empty());
        // Held deletions stay pending: the next run finds them again.
        SyncSession next = Session();
        Request(next);
        EXPECT_EQ(c.sent ? 0u : static_cast<size_t>(c.deleted),
                  Tasks(next).Run().heldDeletes.size());
        IdMap map;
        ReadIdMap(Data("tasks.txt"), map);
        EXPECT_EQ(static_cast<size_t>(c.sent ? c.items - c.deleted : c.items), map.size());
    }
    EXPECT_TRUE(Logged(
        "Mass delete held: 21 of 40 Aufgaben items deleted on the handheld are not deleted on "
        "the desktop; run skiff sync --allow-mass-delete to send them"));
}

TEST_F(TwoWaySyncTest, MassDeleteGuardOnTheDesktopsDeletions) {
    SyncedTasks(30);
    std::string deletes;
    for (int i = 0; i < 21; ++i) deletes += DeleteElement(K(i));
    std::string answer = kHeader + TaskChanges(TaskElement(kAdd, "0ABC", "new") + deletes);
    SyncSession held = Session();
    Request(held);
    AnswerResult r = HandleAnswer(held, answer);
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(0, r.deletesApplied);
    EXPECT_EQ(1, r.itemsApplied);       // the rest of the folder is applied
    EXPECT_TRUE(r.ackStrings.empty());  // so the deletions come again
    EXPECT_EQ(31, TaskCount());
    EXPECT_EQ(21, MakeReport(held).folders[1].heldHandheld);
    EXPECT_TRUE(Logged(
        "Mass delete held: 21 of 31 Aufgaben items deleted on the desktop are not deleted on "
        "the handheld; run skiff sync --allow-mass-delete to apply them"));

    SyncOptions allow;
    allow.allowMassDelete = true;
    SyncSession allowed = Session();
    Request(allowed, allow);
    r = HandleAnswer(allowed, answer, nullptr, allow);
    EXPECT_EQ(21, r.deletesApplied);
    EXPECT_EQ(1u, r.ackStrings.size());
    EXPECT_EQ(10, TaskCount());
    // 21 of 42 is not more than half: applied without being allowed.
    SyncedTasks(32);
    SyncSession half = Session();
    Request(half);
    deletes.clear();
    for (int i = 0; i < 21; ++i) deletes += DeleteElement(K(i));
    EXPECT_EQ(21, HandleAnswer(half, kHeader + TaskChanges(deletes)).deletesApplied);
}

TEST_F(TwoWaySyncTest, ItemsArrivingAsTheyAreAreNotWrittenButAnyFieldChangeIs) {
    auto contact = app_.GetDefaultFolder(olFolderContacts)->Items().Add();
    contact->SetText("FirstName", "Ann");
    ASSERT_TRUE(contact->Save());
    ASSERT_TRUE(WriteIdMap(Data("contacts.txt"), {{"C1", Cid(contact->Oid())}}));
    auto answer = [](const std::string& fields) {
        return kHeader + S(kSync) + S(kFolder) + T(kAckString, "D:-1.csv:-1_temp.csv") +
               T(kServerID, "-1") + S(kElement) + S(kModify) + T(kServerID, "C1") + S(kCollection) +
               P(1) + T(27, "Ann") + fields + kEnd + P(0) + kEnd + kEnd + kEnd + kEnd;
    };
    SyncSession same = Session();
    AnswerResult r = HandleAnswer(same, answer(""));
    EXPECT_EQ(0, r.itemsApplied);
    EXPECT_EQ(1, r.itemsUnchanged);
    EXPECT_EQ(1u, r.ackStrings.size());
    EXPECT_EQ(0, MakeReport(same).folders[0].handheld.changed);
    // A field the snapshot does not hold (callback number, tag 0x31) is a change too.
    SyncSession other = Session();
    r = HandleAnswer(other, answer(T(0x31, "555")));
    EXPECT_EQ(1, r.itemsApplied);
    EXPECT_EQ(1, MakeReport(other).folders[0].handheld.changed);
    EXPECT_EQ("555", app_.GetItemFromOid(contact->Oid())->GetText("CallbackTelephoneNumber"));
}

TEST_F(TwoWaySyncTest, AnIncompleteAnswerWritesNothing) {
    AddTask("a");
    SyncSession session = SessionWithRequestSent();
    std::string answer = kHeader + TaskChanges(TaskElement(kAdd, "0A1", "from desk"));
    AnswerResult r = HandleAnswer(session, answer.substr(0, answer.size() - 1));
    EXPECT_FALSE(r.whole);
    EXPECT_FALSE(r.applied);
    EXPECT_TRUE(Logged("Answer incomplete, nothing applied"));
    EXPECT_EQ(1, TaskCount());
    for (const char* file : {"tasks.dat", "tasks.txt", "contacts.dat", "acknowledge.txt"}) {
        EXPECT_FALSE(std::filesystem::exists(Data(file))) << file;
    }
}

TEST_F(TwoWaySyncTest, PendingAcknowledgementsOverLoopback) {
    AddTask("a");
    std::string body;
    FakeHttpServer server([&body](const std::string&) {
        return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: " +
                                        std::to_string(body.size()) + "\r\n\r\n" + body};
    });
    SetClientSettings({"127.0.0.1:" + std::to_string(server.Port()), "ann", "pw"});
    body = kHeader + TaskChanges(TaskElement(kAdd, "0A1", "from desk"), "D:-2.csv:-2_temp.csv");
    RunResult first = RunSync();
    ASSERT_TRUE(first.answered) << first.error;
    EXPECT_EQ("D:-2.csv:-2_temp.csv\n", TempEnv::ReadFile(Data("acknowledge.txt")));

    // Sent with the next request, which gets a cut answer: dropped all the same, and
    // nothing else is written.
    std::string snapshot = TempEnv::ReadFile(Data("tasks.dat"));
    AddTask("b");
    body = body.substr(0, body.size() - 2);
    RunResult cut = RunSync();
    EXPECT_EQ(1, cut.acksSent);
    EXPECT_FALSE(cut.answered);
    EXPECT_EQ("answer incomplete", cut.error);
    EXPECT_FALSE(std::filesystem::exists(Data("acknowledge.txt")));
    EXPECT_EQ(snapshot, TempEnv::ReadFile(Data("tasks.dat")));
    std::string request = server.Requests()[1];
    EXPECT_NE(std::string::npos,
              request.find(S(kAcknlowledge) + T(kAckString, "D:-2.csv:-2_temp.csv") + kEnd));

    // A request that never left keeps them.
    ASSERT_TRUE(WriteAckStrings(Data("acknowledge.txt"), {"D:-1.csv:-1_temp.csv"}));
    SetClientSettings({"no-such-host.invalid", "ann", "pw"});
    EXPECT_FALSE(RunSync().sent);
    EXPECT_EQ("D:-1.csv:-1_temp.csv\n", TempEnv::ReadFile(Data("acknowledge.txt")));
}

TEST_F(TwoWaySyncTest, TestHookEndsTheProcessAfterNAppliedItems) {
    GTEST_FLAG_SET(death_test_style, "fast");
    std::string answer =
        kHeader + TaskChanges(TaskElement(kAdd, "0A1", "one") + TaskElement(kAdd, "0A2", "two") +
                              TaskElement(kAdd, "0A3", "three"));
    EXPECT_EXIT(
        {
            setenv(kTestExitVariable, "2", 1);
            PocketOutlookApplication app;
            app.Logon();
            SyncSession session = Session(app);
            HandleAnswer(session, answer);
            ::_exit(0);
        },
        ::testing::ExitedWithCode(137), "");
    // Two items were written and their mappings kept; no snapshot, no AckString.
    EXPECT_EQ(2, TaskCount());
    IdMap map;
    ReadIdMap(Data("tasks.txt"), map);
    EXPECT_EQ(2u, map.size());
    EXPECT_EQ(1u, map.count("0A2"));
    EXPECT_FALSE(std::filesystem::exists(Data("tasks.dat")));
    EXPECT_FALSE(std::filesystem::exists(Data("acknowledge.txt")));
    // The same answer again completes the folder without duplicates.
    SyncSession session = Session();
    ASSERT_TRUE(HandleAnswer(session, answer).applied);
    EXPECT_EQ(3, TaskCount());
}

TEST_F(TwoWaySyncTest, FieldsTheDesktopReplacesAreConflictsItWon) {
    std::vector<long> t = SyncedTasks(2);
    SetSubject(t[0], "mine");
    SetSubject(t[1], "mine too");
    SyncSession session = SessionWithRequestSent();
    // t0: the desktop changed the subject too and its value stands; t1: the merged
    // item carries the handheld's subject (another field changed on the desktop).
    std::string t1Merged = S(kElement) + S(kModify) + T(kServerID, K(1)) + S(kCollection) + P(3) +
                           T(1, "mine too") + T(2, "Desk") + kEnd + P(0) + kEnd + kEnd;
    AnswerResult r =
        HandleAnswer(session, kHeader + TaskChanges(TaskElement(kModify, K(0), "desk") + t1Merged));
    ASSERT_TRUE(r.applied);
    EXPECT_EQ("desk", app_.GetItemFromOid(t[0])->GetText("Subject"));
    EXPECT_EQ("Desk", app_.GetItemFromOid(t[1])->GetText("Categories"));
    SyncReport report = MakeReport(session);
    EXPECT_EQ(1, report.folders[1].conflicts);
    EXPECT_EQ(1, ConflictCount(report));
    // t0's one changed field lost: only t1 changed on the desktop.
    EXPECT_EQ(1, report.folders[1].desktop.changed);
    EXPECT_EQ(2, report.folders[1].handheld.changed);
    EXPECT_TRUE(Logged("Conflict: Task " + Cid(t[0]) +
                       " TaskSubject: the desktop's 'desk' kept, the handheld's 'mine' replaced"));
    EXPECT_NE(std::string::npos, FormatReportLine(report).find(", conflicts 1"));
    // Both sides agree now: nothing goes again.
    std::string request = NextRequest();
    EXPECT_EQ(std::string::npos, request.find(S(kModify)));
}

}  // namespace
