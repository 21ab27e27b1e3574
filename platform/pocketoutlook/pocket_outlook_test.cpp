#include "platform/pocketoutlook/pocket_outlook.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "platform/pocketoutlook/pim_store_test_fixture.h"

namespace {

class PocketOutlookTest : public PimStoreTest {
protected:
    PocketOutlookTest() : PimStoreTest("pimtest") {}
};

TEST_F(PocketOutlookTest, DefaultFoldersOnly) {
    EXPECT_NE(nullptr, app_.GetDefaultFolder(olFolderContacts));
    EXPECT_NE(nullptr, app_.GetDefaultFolder(olFolderTasks));
    EXPECT_NE(nullptr, app_.GetDefaultFolder(olFolderCalendar));
    EXPECT_EQ(nullptr, app_.GetDefaultFolder(6));
    PocketOutlookApplication notLoggedOn;
    EXPECT_EQ(nullptr, notLoggedOn.GetDefaultFolder(olFolderContacts));
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
              std::filesystem::status(dir_ / "PocketOutlook" / "pim.db").permissions());
}

TEST_F(PocketOutlookTest, AddSaveReadBackByPositionAndOid) {
    auto folder = app_.GetDefaultFolder(olFolderContacts);
    PimItems items = folder->Items();
    EXPECT_EQ(0, items.Count());
    auto item = items.Add();
    EXPECT_EQ(0, item->Oid());
    EXPECT_TRUE(item->SetText("FirstName", "J\xC3\xBCrgen"));
    EXPECT_TRUE(item->SetText("fileas", "M\xC3\xBCller, J"));  // names ignore case
    EXPECT_TRUE(item->SetDate("Birthday", 39879.5));
    EXPECT_FALSE(item->SetLong("FirstName", 3));  // wrong type
    EXPECT_FALSE(item->SetText("Subject", "x"));  // a task property
    ASSERT_TRUE(item->Save());
    long oid = item->Oid();
    EXPECT_GT(oid, 0);

    // Unsaved edits of another reader stay invisible; the collection refreshes.
    EXPECT_EQ(0, items.Count());
    items.Refresh();
    ASSERT_EQ(1, items.Count());
    auto again = items.Item(1);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(oid, again->Oid());
    EXPECT_EQ("J\xC3\xBCrgen", again->GetText("FirstName"));
    EXPECT_EQ("M\xC3\xBCller, J", again->GetText("FileAs"));
    EXPECT_DOUBLE_EQ(39879.5, again->GetDate("Birthday"));
    EXPECT_DOUBLE_EQ(kOleNoDate, again->GetDate("Anniversary"));  // unset contact date
    EXPECT_EQ("", again->GetText("LastName"));
    EXPECT_EQ(nullptr, items.Item(0));
    EXPECT_EQ(nullptr, items.Item(2));

    auto byOid = app_.GetItemFromOid(oid);
    ASSERT_NE(nullptr, byOid);
    EXPECT_EQ(olFolderContacts, byOid->DefaultFolder());
    EXPECT_EQ(nullptr, app_.GetItemFromOid(oid + 1));
    EXPECT_EQ(nullptr, app_.GetItemFromOid(-5));
}

TEST_F(PocketOutlookTest, TypedPropertiesOfTasksAndAppointments) {
    auto tasks = app_.GetDefaultFolder(olFolderTasks)->Items();
    auto task = tasks.Add();
    EXPECT_TRUE(task->SetBool("Complete", true));
    EXPECT_TRUE(task->SetLong("Importance", 2));
    EXPECT_TRUE(task->SetText("Subject", "Call"));
    ASSERT_TRUE(task->Save());
    auto appt = app_.GetDefaultFolder(olFolderCalendar)->Items().Add();
    EXPECT_TRUE(appt->SetLong("ReminderMinutesBeforeStart", 15));
    ASSERT_TRUE(appt->Save());
    EXPECT_NE(task->Oid(), appt->Oid());

    auto back = app_.GetItemFromOid(task->Oid());
    EXPECT_TRUE(back->GetBool("Complete"));
    EXPECT_EQ(2, back->GetLong("Importance"));
    EXPECT_DOUBLE_EQ(0.0, back->GetDate("DueDate"));  // unset task date reads 0
    EXPECT_EQ(15, app_.GetItemFromOid(appt->Oid())->GetLong("ReminderMinutesBeforeStart"));
    // Each folder lists only its own items.
    EXPECT_EQ(1, app_.GetDefaultFolder(olFolderTasks)->Items().Count());
    EXPECT_EQ(0, app_.GetDefaultFolder(olFolderContacts)->Items().Count());
}

TEST_F(PocketOutlookTest, EmptyTextRemovesAndSaveReplacesProperties) {
    auto item = app_.GetDefaultFolder(olFolderContacts)->Items().Add();
    item->SetText("FirstName", "Ann");
    item->SetText("LastName", "Lee");
    ASSERT_TRUE(item->Save());
    item->SetText("LastName", "");
    ASSERT_TRUE(item->Save());
    auto back = app_.GetItemFromOid(item->Oid());
    EXPECT_EQ("Ann", back->GetText("FirstName"));
    EXPECT_EQ("", back->GetText("LastName"));
}

TEST_F(PocketOutlookTest, DeleteIsFinalAndIdentifiersAreNotReused) {
    auto items = app_.GetDefaultFolder(olFolderTasks)->Items();
    auto first = items.Add();
    ASSERT_TRUE(first->Save());
    long oid = first->Oid();
    auto stale = app_.GetItemFromOid(oid);
    EXPECT_TRUE(first->Delete());
    EXPECT_FALSE(first->Delete());
    EXPECT_EQ(nullptr, app_.GetItemFromOid(oid));
    // A stale copy saved after the delete does not bring the item back.
    stale->SetText("Subject", "ghost");
    EXPECT_FALSE(stale->Save());
    EXPECT_EQ(nullptr, app_.GetItemFromOid(oid));
    auto next = items.Add();
    ASSERT_TRUE(next->Save());
    EXPECT_GT(next->Oid(), oid);
    EXPECT_FALSE(items.Add()->Delete());  // never saved
}

TEST_F(PocketOutlookTest, SecondApplicationSeesSavedItems) {
    auto item = app_.GetDefaultFolder(olFolderCalendar)->Items().Add();
    item->SetText("Subject", "Meeting");
    ASSERT_TRUE(item->Save());
    PocketOutlookApplication other;
    ASSERT_TRUE(other.Logon());
    auto seen = other.GetItemFromOid(item->Oid());
    ASSERT_NE(nullptr, seen);
    EXPECT_EQ("Meeting", seen->GetText("Subject"));
}

TEST(PocketOutlookLogonTest, UnwritableStoreFailsWithMessage) {
    setenv("XDG_DATA_HOME", "/proc/nonexistent-pim", 1);
    PocketOutlookApplication app;
    EXPECT_FALSE(app.Logon());
    EXPECT_FALSE(app.error().empty());
    EXPECT_EQ(nullptr, app.GetDefaultFolder(olFolderContacts));
}

}  // namespace

TEST_F(PocketOutlookTest, StoreIdentityIsMadeWithTheStoreAndKept) {
    std::string identity = app_.StoreIdentity();
    EXPECT_EQ(16u, identity.size());
    EXPECT_EQ(std::string::npos, identity.find_first_not_of("0123456789ABCDEF")) << identity;
    auto item = app_.GetDefaultFolder(olFolderTasks)->Items().Add();
    item->SetText("Subject", "kept");
    ASSERT_TRUE(item->Save());
    // Every later log-on, in this process or another, sees the same identity.
    PocketOutlookApplication again;
    ASSERT_TRUE(again.Logon());
    EXPECT_EQ(identity, again.StoreIdentity());
    app_.Logoff();
    again.Logoff();
    EXPECT_EQ("", again.StoreIdentity());
    // A store made afresh in the same place has an identity of its own.
    std::filesystem::remove_all(dir_ / "PocketOutlook");
    ASSERT_TRUE(app_.Logon());
    EXPECT_EQ(16u, app_.StoreIdentity().size());
    EXPECT_NE(identity, app_.StoreIdentity());
    EXPECT_EQ(0, app_.GetDefaultFolder(olFolderTasks)->Items().Count());
}
