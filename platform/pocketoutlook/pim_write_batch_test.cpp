#include "platform/pocketoutlook/pim_write_batch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "platform/pocketoutlook/pim_store_test_fixture.h"

namespace {

class PimWriteBatchTest : public PimStoreTest {
protected:
    PimWriteBatchTest() : PimStoreTest("pimbatch") {}
    void SetUp() override {
        PimStoreTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(other_.Logon()) << other_.error();
    }
    void TearDown() override {
        PimStoreTest::TearDown();
        other_.Logoff();
    }
    long AddContact(const std::string& name) {
        auto item = app_.GetDefaultFolder(olFolderContacts)->Items().Add();
        item->SetText("FirstName", name);
        return item->Save() ? item->Oid() : 0;
    }
    // Contacts as a second connection (another process) sees them.
    int SeenElsewhere() { return other_.GetDefaultFolder(olFolderContacts)->Items().Count(); }

    PocketOutlookApplication other_;
};

TEST_F(PimWriteBatchTest, SavesAreStoredTogetherAtCommitOrNotAtAll) {
    {
        PimWriteBatch batch(app_);
        ASSERT_TRUE(batch.Active());
        EXPECT_FALSE(PimWriteBatch(app_).Active());  // one at a time
        EXPECT_NE(0, AddContact("Ada"));
        EXPECT_NE(0, AddContact("Bo"));
        EXPECT_EQ(2, app_.GetDefaultFolder(olFolderContacts)->Items().Count());
        EXPECT_EQ(0, SeenElsewhere());
        EXPECT_TRUE(batch.Commit());
        EXPECT_FALSE(batch.Commit());
    }
    EXPECT_EQ(2, SeenElsewhere());
    {
        PimWriteBatch batch(app_);
        EXPECT_NE(0, AddContact("Cy"));
    }  // ends uncommitted
    EXPECT_EQ(2, SeenElsewhere());
    EXPECT_EQ(2, app_.GetDefaultFolder(olFolderContacts)->Items().Count());
}

TEST_F(PimWriteBatchTest, AFailedSaveIsUndoneAloneAndTheBoundCommitsOnItsOwn) {
    long kept = AddContact("Kept");
    ASSERT_NE(0, kept);
    PimWriteBatch batch(app_, 2);
    ASSERT_TRUE(batch.Active());
    auto stale = app_.GetItemFromOid(kept);
    ASSERT_TRUE(app_.GetItemFromOid(kept)->Delete());
    stale->SetText("FirstName", "Back");
    EXPECT_FALSE(stale->Save());      // deleted meanwhile: not brought back
    EXPECT_EQ(1, SeenElsewhere());    // the delete is not committed yet: Kept is there
    EXPECT_NE(0, AddContact("Dee"));  // with the delete two writes: the bound commits
    EXPECT_EQ(1, SeenElsewhere());    // Kept gone, Dee stored
    EXPECT_NE(0, AddContact("Eve"));
    EXPECT_EQ(1, SeenElsewhere());
    EXPECT_TRUE(batch.Commit());
    EXPECT_EQ(2, SeenElsewhere());
    EXPECT_EQ(nullptr, app_.GetItemFromOid(kept));
}

}  // namespace
