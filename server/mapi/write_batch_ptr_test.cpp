// CWriteBatch: one open per thread, rolled back when it ends uncommitted.
#include "server/mapi/adapter_test_store.h"

namespace adaptertest {
namespace {

using WriteBatchPtrTest = AdapterStoreTest;

TEST_F(WriteBatchPtrTest, EndsUncommittedWithNothingStoredAndCommitsWhatItWasGiven) {
    {
        CWriteBatch batch;
        AddMessage(contacts, "rolled back");
        EXPECT_EQ(contacts.GetLongProp(PR_CONTENT_COUNT), 1);
        EXPECT_THROW(CWriteBatch second, CMAPIException);
    }
    EXPECT_EQ(contacts.GetLongProp(PR_CONTENT_COUNT), 0);
    CWriteBatch batch;
    AddMessage(contacts, "kept");
    AddMessage(contacts, "kept too");
    EXPECT_EQ(batch.Status().cPending, 2u);
    EXPECT_EQ(batch.Commit(), S_OK);
    batch.Abort();  // nothing left to roll back
    EXPECT_EQ(contacts.GetLongProp(PR_CONTENT_COUNT), 2);
    EXPECT_EQ(batch.Status().cCommits, 1u);
}

}  // namespace
}  // namespace adaptertest
