// Read snapshots: one read transaction of a store for many reads of one thread,
// which other threads wait for only until it breathes, and which gives way to the
// holder's own saves, alone or in a write batch; the store's version.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

class ReadSnapshotTest : public StoreTest {
protected:
    ComPtr<IReadSnapshot> Begin(IMAPIFolder* folder) {
        ComPtr<IReadSnapshot> snapshot;
        EXPECT_EQ(HrBeginReadSnapshot(folder, 0, snapshot.put()), S_OK);
        return snapshot;
    }
    LONG Count(IMAPIFolder* folder) { return GetLong(folder, PR_CONTENT_COUNT); }
    // Holds snapshot past its hold time and lets it breathe.
    static void BreatheAfterHold(IReadSnapshot* snapshot) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kReadSnapshotHoldMs + 5));
        EXPECT_EQ(snapshot->Breathe(0), S_OK);
    }
};

TEST_F(ReadSnapshotTest, ReadsOneStateUntilItBreathes) {
    ASSERT_FALSE(AddMessage(contacts.get(), "first").empty());
    ComPtr<IReadSnapshot> snapshot = Begin(contacts.get());
    EXPECT_EQ(Count(contacts.get()), 1);
    // Another process adds an item meanwhile: the snapshot does not see it yet.
    ASSERT_EQ(OnFile("INSERT INTO objects(eid, kind, parent, num, created, modified, flags) "
                     "SELECT randomblob(16), 5, parent, 0, 1, 1, 0 FROM objects WHERE kind = 5"),
              0);
    EXPECT_EQ(CommittedMessages(), 2);
    EXPECT_EQ(Count(contacts.get()), 1);
    EXPECT_EQ(snapshot->Breathe(0), S_OK);  // held too briefly: still the same state
    EXPECT_EQ(Count(contacts.get()), 1);
    BreatheAfterHold(snapshot.get());
    EXPECT_EQ(Count(contacts.get()), 2);
    snapshot.reset();
    EXPECT_EQ(Count(contacts.get()), 2);
}

TEST_F(ReadSnapshotTest, AnotherThreadWaitsOnlyUntilTheHolderBreathes) {
    ComPtr<IReadSnapshot> snapshot = Begin(contacts.get());
    std::atomic<bool> saved{false};
    std::thread other([&] { saved = !AddMessage(contacts.get(), "other thread").empty(); });
    // Give the other thread time to reach the store; it must wait there.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(saved.load());
    EXPECT_EQ(Count(contacts.get()), 0);
    // The holder goes on reading and breathing; the other thread gets its turn.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!saved.load() && std::chrono::steady_clock::now() < giveUp) {
        EXPECT_GE(Count(contacts.get()), 0);
        BreatheAfterHold(snapshot.get());
    }
    EXPECT_TRUE(saved.load());
    other.join();
    EXPECT_EQ(Count(contacts.get()), 1);
}

TEST_F(ReadSnapshotTest, TheHoldersSavesEndItsTransactionAloneAndInABatch) {
    ComPtr<IReadSnapshot> snapshot = Begin(contacts.get());
    EXPECT_EQ(Count(contacts.get()), 0);
    // A save of its own: committed at once, and read by the snapshot.
    ASSERT_FALSE(AddMessage(contacts.get(), "alone").empty());
    EXPECT_EQ(CommittedMessages(), 1);
    EXPECT_EQ(Count(contacts.get()), 1);
    snapshot.reset();

    ComPtr<IWriteBatch> batch;
    ASSERT_EQ(HrBeginWriteBatch(nullptr, 0, batch.put()), S_OK);
    snapshot = Begin(contacts.get());
    EXPECT_EQ(Count(contacts.get()), 1);
    ASSERT_FALSE(AddMessage(contacts.get(), "batched").empty());
    EXPECT_EQ(Count(contacts.get()), 2);  // the batch's transaction, read by the holder
    BreatheAfterHold(snapshot.get());
    EXPECT_EQ(Count(contacts.get()), 2);
    // A snapshot begun inside the batch's transaction reads in it and ends nothing.
    ComPtr<IReadSnapshot> inner = Begin(contacts.get());
    EXPECT_EQ(Count(contacts.get()), 2);
    inner.reset();
    snapshot.reset();
    EXPECT_EQ(CommittedMessages(), 1);  // still the batch's alone
    ASSERT_EQ(batch->Commit(0), S_OK);
    EXPECT_EQ(CommittedMessages(), 2);

    // After the commit the batch holds the store no more; a new snapshot begins its own.
    snapshot = Begin(contacts.get());
    ASSERT_FALSE(AddMessage(contacts.get(), "batched again").empty());
    snapshot.reset();
    EXPECT_EQ(batch->Abort(0), S_OK);
    EXPECT_EQ(CommittedMessages(), 2);
    EXPECT_EQ(Count(contacts.get()), 2);
}

// The store's version: unchanged by reads, changed by a save of this process and
// by a commit of another one.
TEST_F(ReadSnapshotTest, StoreVersionMovesWithEveryWriteAndOnlyThen) {
    auto version = [this] {
        STOREVERSION v{};
        EXPECT_EQ(HrGetStoreVersion(contacts.get(), &v), S_OK);
        return v;
    };
    ASSERT_FALSE(AddMessage(contacts.get(), "first").empty());
    const STOREVERSION start = version();
    EXPECT_EQ(Count(contacts.get()), 1);
    EXPECT_EQ(version(), start);
    {
        ComPtr<IReadSnapshot> snapshot = Begin(contacts.get());
        EXPECT_EQ(Count(contacts.get()), 1);
        EXPECT_EQ(version(), start);
    }
    ASSERT_FALSE(AddMessage(contacts.get(), "second").empty());
    const STOREVERSION saved = version();
    EXPECT_NE(saved, start);
    EXPECT_GT(saved.ullWrittenHere, start.ullWrittenHere);
    ASSERT_EQ(OnFile("UPDATE objects SET flags = 1 WHERE kind = 5"), 0);
    const STOREVERSION elsewhere = version();
    EXPECT_NE(elsewhere, saved);
    EXPECT_EQ(elsewhere.ullWrittenHere, saved.ullWrittenHere);
    EXPECT_EQ(version(), elsewhere);

    STOREVERSION none{};
    EXPECT_EQ(HrGetStoreVersion(nullptr, &none), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(HrGetStoreVersion(contacts.get(), nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST_F(ReadSnapshotTest, WrongFlagsArgumentsAndThreads) {
    ComPtr<IReadSnapshot> snapshot;
    EXPECT_EQ(HrBeginReadSnapshot(contacts.get(), 1, snapshot.put()), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(HrBeginReadSnapshot(nullptr, 0, snapshot.put()), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(HrBeginReadSnapshot(contacts.get(), 0, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_FALSE(snapshot);
    snapshot = Begin(contacts.get());
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->Breathe(1), MAPI_E_UNKNOWN_FLAGS);
    HRESULT elsewhere = S_OK;
    std::thread other([&] { elsewhere = snapshot->Breathe(0); });
    other.join();
    EXPECT_EQ(elsewhere, MAPI_E_CALL_FAILED);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(snapshot->QueryInterface(IID_IUnknown, reinterpret_cast<LPVOID*>(unknown.put())),
              S_OK);
    EXPECT_TRUE(unknown);
}

}  // namespace
}  // namespace mapitest
