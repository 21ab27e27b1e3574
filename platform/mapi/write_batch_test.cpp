// Write batches: many saves of one thread in one transaction, invisible to others
// until the commit, rolled back whole when the batch ends without one, bounded in
// size; a killed process leaves all of a batch or none of it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

constexpr ULONG kFieldTag = PROP_TAG(PT_LONG, 0x6701);

class WriteBatchTest : public StoreTest {
protected:
    LONG Count(IMAPIFolder* folder) { return GetLong(folder, PR_CONTENT_COUNT); }
    static ComPtr<IWriteBatch> Begin(const WRITEBATCHLIMITS* limits = nullptr) {
        ComPtr<IWriteBatch> batch;
        EXPECT_EQ(HrBeginWriteBatch(limits, 0, batch.put()), S_OK);
        return batch;
    }
    static WRITEBATCHSTATUS Status(IWriteBatch* batch) {
        WRITEBATCHSTATUS status{};
        EXPECT_EQ(batch->GetStatus(&status), S_OK);
        return status;
    }
};

TEST_F(WriteBatchTest, SavesAreSeenByTheirThreadAndByOthersOnlyAfterCommit) {
    ComPtr<IWriteBatch> batch = Begin();
    for (int k = 0; k < 50; ++k) ASSERT_FALSE(AddMessage(contacts.get(), "batched").empty());
    EXPECT_EQ(Count(contacts.get()), 50);  // the batch's own thread sees them
    EXPECT_EQ(CommittedMessages(), 0);
    WRITEBATCHSTATUS pending = Status(batch.get());
    EXPECT_EQ(pending.cSaves, 50u);
    EXPECT_EQ(pending.cPending, 50u);
    EXPECT_EQ(pending.cCommits, 0u);

    ASSERT_EQ(batch->Commit(0), S_OK);
    EXPECT_EQ(CommittedMessages(), 50);
    WRITEBATCHSTATUS done = Status(batch.get());
    EXPECT_EQ(done.cPending, 0u);
    EXPECT_EQ(done.cCommits, 1u);
    EXPECT_EQ(done.cBoundCommits, 0u);
}

TEST_F(WriteBatchTest, ReleasedOrAbortedBatchLeavesNothing) {
    {
        ComPtr<IWriteBatch> batch = Begin();
        for (int k = 0; k < 10; ++k) ASSERT_FALSE(AddMessage(contacts.get(), "lost").empty());
    }
    EXPECT_EQ(Count(contacts.get()), 0);
    EXPECT_EQ(CommittedMessages(), 0);

    ComPtr<IWriteBatch> batch = Begin();
    for (int k = 0; k < 5; ++k) ASSERT_FALSE(AddMessage(contacts.get(), "aborted").empty());
    ASSERT_EQ(batch->Abort(0), S_OK);
    EXPECT_EQ(Count(contacts.get()), 0);
    // The batch goes on after an abort.
    for (int k = 0; k < 3; ++k) ASSERT_FALSE(AddMessage(contacts.get(), "kept").empty());
    ASSERT_EQ(batch->Commit(0), S_OK);
    batch.reset();
    EXPECT_EQ(CommittedMessages(), 3);
    // Without a batch, saves commit one by one again.
    ASSERT_FALSE(AddMessage(contacts.get(), "alone").empty());
    EXPECT_EQ(CommittedMessages(), 4);
}

TEST_F(WriteBatchTest, FailedSaveIsRolledBackAloneAndTheRestCommits) {
    std::string doomed = AddMessage(contacts.get(), "doomed");
    ComPtr<IMessage> open = OpenMessage(store.get(), doomed);
    ASSERT_TRUE(open);
    ComPtr<IWriteBatch> batch = Begin();
    ASSERT_FALSE(AddMessage(contacts.get(), "before").empty());
    SBinary bin{static_cast<ULONG>(doomed.size()), reinterpret_cast<LPBYTE>(doomed.data())};
    ENTRYLIST list{1, &bin};
    ASSERT_EQ(contacts->DeleteMessages(&list, 0, nullptr, 0), S_OK);
    ASSERT_EQ(Set(open.get(), LongProp(kFieldTag, 7)), S_OK);
    EXPECT_EQ(open->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_DELETED);
    ASSERT_FALSE(AddMessage(contacts.get(), "after").empty());
    ASSERT_EQ(batch->Commit(0), S_OK);
    batch.reset();
    EXPECT_EQ(CommittedMessages(), 2);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"before", "after"}));
}

TEST_F(WriteBatchTest, FirstSaveFailingHalfWayLeavesNoneOfItsRows) {
    // The refusal comes after the message row and its first props rows are written.
    ASSERT_EQ(OnFile("CREATE TRIGGER refuse BEFORE INSERT ON props WHEN NEW.pid = 0x6701 AND "
                     "NEW.val = 13 BEGIN SELECT RAISE(ABORT, 'refused'); END"),
              0);
    ComPtr<IWriteBatch> batch = Begin();
    ASSERT_FALSE(AddMessage(contacts.get(), "before").empty());
    EXPECT_TRUE(AddMessage(contacts.get(), "refused", {LongProp(kFieldTag, 13)}).empty());
    ASSERT_FALSE(AddMessage(contacts.get(), "after", {LongProp(kFieldTag, 14)}).empty());
    EXPECT_EQ(Count(contacts.get()), 2);
    ASSERT_EQ(batch->Commit(0), S_OK);
    EXPECT_EQ(Status(batch.get()).hrFailed, S_OK);
    batch.reset();
    EXPECT_EQ(CommittedMessages(), 2);
    EXPECT_EQ(OnFile("SELECT count(*) FROM props WHERE obj NOT IN (SELECT id FROM objects)"), 0);
    EXPECT_EQ(OnFile("SELECT count(*) FROM props WHERE val = 'refused'"), 0);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"before", "after"}));
}

TEST_F(WriteBatchTest, CommitsOnItsOwnAtTheSaveBound) {
    WRITEBATCHLIMITS limits{10, 0};
    ComPtr<IWriteBatch> batch = Begin(&limits);
    for (int k = 0; k < 25; ++k) ASSERT_FALSE(AddMessage(contacts.get(), "bounded").empty());
    WRITEBATCHSTATUS status = Status(batch.get());
    EXPECT_EQ(status.cBoundCommits, 2u);
    EXPECT_EQ(status.cPending, 5u);
    EXPECT_EQ(CommittedMessages(), 20);
    ASSERT_EQ(batch->Commit(0), S_OK);
    EXPECT_EQ(CommittedMessages(), 25);
    EXPECT_EQ(Status(batch.get()).cCommits, 3u);
}

TEST_F(WriteBatchTest, CommitsOnItsOwnAtTheByteBound) {
    // Each item carries 600 bytes of values: two of them pass a bound of 1000.
    WRITEBATCHLIMITS limits{0, 1000};
    ComPtr<IWriteBatch> batch = Begin(&limits);
    std::string big(600, 'x');
    for (int k = 0; k < 5; ++k) {
        ASSERT_FALSE(
            AddMessage(contacts.get(), "big", {BinaryProp(PROP_TAG(PT_BINARY, 0x6820), big)})
                .empty());
    }
    EXPECT_EQ(Status(batch.get()).cBoundCommits, 2u);
    EXPECT_EQ(CommittedMessages(), 4);
}

TEST_F(WriteBatchTest, AnotherThreadWaitsForTheBatchAndNeverJoinsIt) {
    ComPtr<IWriteBatch> batch = Begin();
    ASSERT_FALSE(AddMessage(contacts.get(), "batched").empty());
    std::atomic<bool> saved{false};
    std::thread other([&] { saved = !AddMessage(contacts.get(), "other thread").empty(); });
    // Give the other thread time to reach the store; it must wait there.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(saved.load());
    ASSERT_EQ(batch->Abort(0), S_OK);
    batch.reset();
    other.join();
    EXPECT_TRUE(saved.load());
    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"other thread"}));
}

TEST_F(WriteBatchTest, OneBatchPerThread) {
    ComPtr<IWriteBatch> batch = Begin();
    ComPtr<IWriteBatch> second;
    EXPECT_EQ(HrBeginWriteBatch(nullptr, 0, second.put()), MAPI_E_BUSY);
    EXPECT_FALSE(second);
    std::thread other([] {
        ComPtr<IWriteBatch> own;
        EXPECT_EQ(HrBeginWriteBatch(nullptr, 0, own.put()), S_OK);
    });
    other.join();
    batch.reset();
    EXPECT_EQ(HrBeginWriteBatch(nullptr, 0, second.put()), S_OK);
}

TEST_F(WriteBatchTest, NamedPropertyOfAnAbortedBatchIsGoneAndCanBeMadeAgain) {
    GUID set = PSETID_Address;
    MAPINAMEID name{&set, MNID_ID, {0x8111}};
    LPMAPINAMEID names[1] = {&name};
    ComPtr<IWriteBatch> batch = Begin();
    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(contacts->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
    MAPIFreeBuffer(tags);
    ASSERT_EQ(batch->Abort(0), S_OK);
    batch.reset();

    tags = nullptr;
    EXPECT_NE(contacts->GetIDsFromNames(1, names, 0, &tags), S_OK);
    MAPIFreeBuffer(tags);
    tags = nullptr;
    ASSERT_EQ(contacts->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
    const ULONG tag = PROP_TAG(PT_LONG, PROP_ID(tags->aulPropTag[0]));
    MAPIFreeBuffer(tags);
    std::string id = AddMessage(contacts.get(), "named", {LongProp(tag, 42)});
    ComPtr<IMessage> again = OpenMessage(store.get(), id);
    EXPECT_EQ(GetLong(again.get(), tag), 42);
}

TEST_F(WriteBatchTest, WrongFlagsAndArguments) {
    EXPECT_EQ(HrBeginWriteBatch(nullptr, 0, nullptr), MAPI_E_INVALID_PARAMETER);
    ComPtr<IWriteBatch> batch;
    EXPECT_EQ(HrBeginWriteBatch(nullptr, 1, batch.put()), MAPI_E_UNKNOWN_FLAGS);
    ASSERT_EQ(HrBeginWriteBatch(nullptr, 0, batch.put()), S_OK);
    EXPECT_EQ(batch->Commit(1), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(batch->GetStatus(nullptr), MAPI_E_INVALID_PARAMETER);
}

// ---- a process killed in the middle of a batch ---------------------------------------

constexpr int kBatchItems = 3000;

// In a child: one batch of kBatchItems new items, reporting 's' on fd after each
// save, 'c' just before the commit and 'd' once it returned; then waits to be
// killed.
[[noreturn]] void WriteOneBatch(int fd) {
    MAPIInitialize(nullptr);
    ComPtr<IMAPISession> s;
    if (FAILED(MAPILogonEx(0, const_cast<char*>("Test"), nullptr, 0, s.put()))) _exit(2);
    ComPtr<IMsgStore> st = StoreTest::OpenDefaultStore(s.get());
    if (!st) _exit(3);
    ComPtr<IMAPIFolder> folder =
        StoreTest::OpenFolder(st.get(), GetBinary(st.get(), PR_IPM_OUTBOX_ENTRYID));
    if (!folder) _exit(4);
    ComPtr<IWriteBatch> batch;
    if (FAILED(HrBeginWriteBatch(nullptr, 0, batch.put()))) _exit(5);
    auto report = [fd](char c) {
        if (::write(fd, &c, 1) != 1) _exit(6);
    };
    for (int k = 0; k < kBatchItems; ++k) {
        if (StoreTest::AddMessage(folder.get(), "batch", {LongProp(kFieldTag, k)}).empty())
            _exit(7);
        report('s');
    }
    report('c');
    if (FAILED(batch->Commit(0))) _exit(8);
    report('d');
    for (;;) ::pause();
}

class KilledBatchTest : public WriteBatchTest {
protected:
    // Runs WriteOneBatch in a child and kills it once `until` says so for the
    // reports read; returns the items of the outbox afterwards.
    template <class Until>
    LONG KillDuringBatch(Until until) {
        std::string outboxId = GetBinary(store.get(), PR_IPM_OUTBOX_ENTRYID);
        inbox.reset();
        contacts.reset();
        store.reset();
        session.reset();
        int pipefd[2];
        if (::pipe(pipefd) != 0) return -1;
        pid_t child = ::fork();
        if (child < 0) return -1;
        if (child == 0) {
            ::close(pipefd[0]);
            WriteOneBatch(pipefd[1]);
        }
        ::close(pipefd[1]);
        int saves = 0;
        char c = 0;
        while (::read(pipefd[0], &c, 1) == 1) {
            if (c == 's') ++saves;
            if (until(saves, c)) break;
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipefd[0]);
        EXPECT_TRUE(WIFSIGNALED(status)) << "writer ended early with " << WEXITSTATUS(status);
        EXPECT_EQ(MAPILogonEx(0, const_cast<char*>("Test"), nullptr, 0, session.put()), S_OK);
        store = OpenDefaultStore(session.get());
        ComPtr<IMAPIFolder> outbox = OpenFolder(store.get(), outboxId);
        return outbox ? GetLong(outbox.get(), PR_CONTENT_COUNT) : -1;
    }
};

TEST_F(KilledBatchTest, KilledInTheMiddleLeavesNone) {
    LONG left = KillDuringBatch([](int saves, char) { return saves == kBatchItems / 2; });
    EXPECT_EQ(left, 0);
    // The store takes new saves after the killed writer.
    ComPtr<IMAPIFolder> outbox =
        OpenFolder(store.get(), GetBinary(store.get(), PR_IPM_OUTBOX_ENTRYID));
    EXPECT_FALSE(AddMessage(outbox.get(), "after").empty());
}

TEST_F(KilledBatchTest, KilledWhileCommittingLeavesAllOrNone) {
    LONG left = KillDuringBatch([](int, char c) { return c == 'c'; });
    EXPECT_TRUE(left == 0 || left == kBatchItems) << left;
}

TEST_F(KilledBatchTest, KilledAfterTheCommitLeavesAll) {
    LONG left = KillDuringBatch([](int, char c) { return c == 'd'; });
    EXPECT_EQ(left, kBatchItems);
}

}  // namespace
}  // namespace mapitest
