#include "client/sync_folder.h"

#include <gtest/gtest.h>

#include <fstream>

#include "client/client_log.h"
#include "client/item_keys.h"
#include "client/test_env.h"

namespace {

class SyncFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app_.Logon());
        folders_ = SyncFolder::MakeRunFolders(GetDataFolder());
        for (auto& f : folders_) ASSERT_TRUE(f->Attach(app_));
    }
    long AddTask(const std::string& subject, const std::string& body = "") {
        auto item = app_.GetDefaultFolder(olFolderTasks)->Items().Add();
        item->SetText("Subject", subject);
        item->SetText("Body", body);
        EXPECT_TRUE(item->Save());
        return item->Oid();
    }
    // The scan as text: "A:subject" for added, "M:subject" for modified items.
    std::string Scan(SyncFolder& folder) {
        folder.BeginChanges(std::chrono::steady_clock::now());
        std::string out;
        while (auto item = folder.NextChange()) {
            out += (item->ChangeState() == kChangeAdded ? "A:" : "M:") + item->MatchKey() + " ";
        }
        return out;
    }
    SyncFolder& Tasks() { return *folders_[1]; }

    TempEnv env_;
    PocketOutlookApplication app_;
    std::vector<std::unique_ptr<SyncFolder>> folders_;
};

TEST_F(SyncFolderTest, RunFoldersAndTheirFiles) {
    ASSERT_EQ(3u, folders_.size());
    std::string data = GetDataFolder();
    EXPECT_EQ("-1", folders_[0]->ClientId());
    EXPECT_EQ("Kontakte", folders_[0]->Name());
    EXPECT_EQ("Contacts", folders_[0]->KindName());
    EXPECT_EQ(data + "/contacts.dat", folders_[0]->SnapshotPath());
    EXPECT_EQ("Aufgaben", folders_[1]->Name());
    EXPECT_EQ("Task", folders_[1]->KindName());
    EXPECT_EQ(data + "/tasks.txt", folders_[1]->IdMapPath());
    EXPECT_EQ("Appointment", folders_[2]->Name());
    EXPECT_EQ("Appointment", folders_[2]->KindName());
    EXPECT_EQ(data + "/appointment.dat", folders_[2]->SnapshotPath());
    EXPECT_EQ("", folders_[2]->ServerId());
    EXPECT_EQ("Files", SyncFolder::KindNameOf(6));
    EXPECT_EQ("", SyncFolder::KindNameOf(7));
}

TEST_F(SyncFolderTest, ChangeScanAgainstTheSnapshot) {
    long a = AddTask("a", "body one");
    AddTask("b");
    long c = AddTask("c");
    EXPECT_EQ("A:a A:b A:c ", Scan(Tasks()));  // no snapshot: everything is new
    ASSERT_TRUE(Tasks().SaveSnapshot());
    EXPECT_EQ("", Scan(Tasks()));

    auto item = app_.GetItemFromOid(a);
    item->SetText("Body", "body two");  // same length, other text
    ASSERT_TRUE(item->Save());
    ASSERT_TRUE(app_.GetItemFromOid(c)->Delete());  // deletions are not reported
    AddTask("d");
    EXPECT_EQ("M:a A:d ", Scan(Tasks()));
    EXPECT_EQ(2, Tasks().ChangesFound());
    EXPECT_EQ("Aufgaben 1 - 1 changed ", StatusText().substr(0, 23));
}

TEST_F(SyncFolderTest, ScanEndedEarlyClosesTheSnapshot) {
    AddTask("a");
    AddTask("b");
    ASSERT_TRUE(Tasks().SaveSnapshot());
    auto item = app_.GetItemFromOid(1);
    item->SetText("Subject", "a2");
    item->Save();
    Tasks().BeginChanges(std::chrono::steady_clock::now());
    ASSERT_NE(nullptr, Tasks().NextChange());
    Tasks().EndChanges();
    EXPECT_EQ(nullptr, Tasks().NextChange());
    // The snapshot can be replaced at once and read again from its start.
    ASSERT_TRUE(Tasks().SaveSnapshot());
    EXPECT_EQ("", Scan(Tasks()));
}

TEST_F(SyncFolderTest, IncomingItemsByKeyThenByNameOnlyOnAFirstRunAndOnlyToUnmappedItems) {
    using T = SyncFolder::Target;
    ASSERT_TRUE(Tasks().IsFirstRun());
    long first = AddTask("same");
    long second = AddTask("same");
    AddTask("other");
    ASSERT_EQ(SyncFolder::MapResult::kMapped, Tasks().MapKey("AA", first));
    FieldRecord same;
    same.Add(3, 1, "same");
    T how;
    // The first "same" holds a key: the name goes to the second, and only once.
    EXPECT_EQ(second, Tasks().FindIncomingItem(same, "BB", how)->GetOid());
    EXPECT_EQ(T::kMatched, how);
    Tasks().MapKey("BB", second);
    auto created = Tasks().FindIncomingItem(same, "CC", how);
    EXPECT_EQ(T::kNew, how);
    EXPECT_TRUE(created->HasItem());
    EXPECT_EQ(0, created->GetOid());
    // The key wins over the name; a key whose item is gone gets a new item.
    EXPECT_EQ(first, Tasks().FindIncomingItem(same, "AA", how)->GetOid());
    EXPECT_EQ(T::kMapped, how);
    Tasks().MapKey("DD", 99999);
    EXPECT_EQ(0, Tasks().FindIncomingItem(same, "DD", how)->GetOid());
    EXPECT_EQ(T::kRecreated, how);
    // An empty name matches nothing.
    AddTask("");
    FieldRecord empty;
    empty.Add(3, 2, "only categories");
    EXPECT_EQ(0, Tasks().FindIncomingItem(empty, "EE", how)->GetOid());

    // After the first run a new key is a new item, whatever its name.
    ASSERT_TRUE(Tasks().SaveSnapshot());
    ASSERT_TRUE(Tasks().SaveIdMap());
    auto later = SyncFolder::MakeRunFolders(GetDataFolder());
    ASSERT_TRUE(later[1]->Attach(app_));
    EXPECT_FALSE(later[1]->IsFirstRun());
    FieldRecord other;
    other.Add(3, 1, "other");
    EXPECT_EQ(0, later[1]->FindIncomingItem(other, "FF", how)->GetOid());
    EXPECT_EQ(T::kNew, how);
}

TEST_F(SyncFolderTest, OneKeyPerItemAndOneItemPerKey) {
    using M = SyncFolder::MapResult;
    EXPECT_EQ(M::kMapped, Tasks().MapKey("AB01", 12));
    EXPECT_EQ(M::kSame, Tasks().MapKey("AB01", 12));
    EXPECT_EQ(M::kKeyTaken, Tasks().MapKey("AB01", 13));  // held by 12: nothing changes
    EXPECT_EQ(12, Tasks().OidOfKey("AB01"));
    EXPECT_EQ("", Tasks().KeyOf(13));
    // A new key for an item replaces its old one.
    EXPECT_EQ(M::kMapped, Tasks().MapKey("00FF", 12));
    EXPECT_EQ("00FF", Tasks().KeyOf(12));
    EXPECT_EQ(0, Tasks().OidOfKey("AB01"));
    // Only upper-case hexadecimal keys of bounded length are ever recorded.
    for (const std::string& bad :
         {std::string(), std::string("ab01"), std::string("S1"), std::string("0A=1"),
          std::string(kMaxServerKeyLength + 1, 'A')}) {
        EXPECT_EQ(M::kKeyTaken, Tasks().MapKey(bad, 5)) << bad;
    }
    EXPECT_EQ(M::kMapped, Tasks().MapKey(std::string(kMaxServerKeyLength, 'A'), 5));
    EXPECT_EQ(M::kKeyTaken, Tasks().MapKey("0B", 0));
}

TEST_F(SyncFolderTest, IdMapIsWrittenInTheNewFormAndOlderFilesStayReadable) {
    const std::string store = app_.StoreIdentity();
    long live = AddTask("live");
    std::string l = std::to_string(live);
    // An older version's file: plain identifiers, a key not well-formed, two keys
    // for one item, and an entry of another store.
    std::ofstream(Tasks().IdMapPath())
        << "AB01=12\n00FF=" << l << "\nZZ=3\n0A=" << l << "\n0B=9@0123456789ABCDEF\n";
    auto folders = SyncFolder::MakeRunFolders(GetDataFolder());
    SyncFolder& tasks = *folders[1];
    ASSERT_TRUE(tasks.Attach(app_));
    EXPECT_EQ(12, tasks.OidOfKey("AB01"));
    EXPECT_EQ(live, tasks.OidOfKey("00FF"));
    EXPECT_EQ(0, tasks.OidOfKey("0A"));  // the item's first key stays
    EXPECT_EQ(0, tasks.OidOfKey("ZZ"));
    EXPECT_EQ(0, tasks.OidOfKey("0B"));
    ASSERT_TRUE(tasks.SaveIdMap());
    // A live item's entry takes the new form; a gone one keeps the old form.
    EXPECT_EQ("00FF=" + l + "@" + store + "\nAB01=12\n", TempEnv::ReadFile(tasks.IdMapPath()));
    EXPECT_EQ(l + "@" + store, tasks.ClientIdOf(live));
    EXPECT_EQ(live, tasks.OidOfClientId(l + "@" + store));
    EXPECT_EQ(live, tasks.OidOfClientId(l));
    EXPECT_EQ(0, tasks.OidOfClientId(l + "@0123456789ABCDEF"));
    EXPECT_EQ(0, tasks.OidOfClientId("x"));

    // Journalled changes, a dropped key included, read back by the next run.
    tasks.MapKey("0C", 41, true);
    tasks.MapKey("0D", 41, true);
    auto next = SyncFolder::MakeRunFolders(GetDataFolder());
    ASSERT_TRUE(next[1]->Attach(app_));
    EXPECT_EQ(0, next[1]->OidOfKey("0C"));
    EXPECT_EQ(41, next[1]->OidOfKey("0D"));
    EXPECT_EQ(live, next[1]->OidOfKey("00FF"));
}

TEST_F(SyncFolderTest, SentAddsAndGoneKeys) {
    const std::string store = app_.StoreIdentity();
    long kept = AddTask("kept");
    long mapped = AddTask("mapped");
    Tasks().NoteSentAdd(kept);
    Tasks().NoteSentAdd(mapped);
    ASSERT_TRUE(Tasks().SaveSentAdds());
    EXPECT_EQ(
        std::to_string(kept) + "@" + store + "\n" + std::to_string(mapped) + "@" + store + "\n",
        TempEnv::ReadFile(Tasks().SentAddsPath()));
    EXPECT_EQ(GetDataFolder() + "/tasks.sent", Tasks().SentAddsPath());
    Tasks().MapKey("0E", mapped);
    Tasks().SaveIdMap();
    // A mapped item is no longer waiting for its key.
    auto next = SyncFolder::MakeRunFolders(GetDataFolder());
    ASSERT_TRUE(next[1]->Attach(app_));
    EXPECT_EQ(std::set<long>{kept}, next[1]->SentAdds());

    // Keys of items gone since they were mapped, as the snapshot does not show them.
    ASSERT_TRUE(next[1]->SaveSnapshot());
    long later = AddTask("later");
    next[1]->MapKey("0F", later);
    next[1]->MapKey("1A", 77777);
    ASSERT_TRUE(app_.GetItemFromOid(later)->Delete());
    ASSERT_TRUE(app_.GetItemFromOid(mapped)->Delete());  // in the snapshot: the scan's
    Scan(*next[1]);
    EXPECT_EQ((std::vector<std::string>{"0F", "1A"}), next[1]->GoneKeysOutsideSnapshot());
}

TEST_F(SyncFolderTest, ItemsOfAnotherFolderAreNotTaken) {
    long task = AddTask("t");
    EXPECT_FALSE(folders_[0]->ItemForOid(task)->HasItem());
    EXPECT_TRUE(Tasks().ItemForOid(task)->HasItem());
    EXPECT_EQ(1, Tasks().ItemCount());
    EXPECT_EQ(0, folders_[0]->ItemCount());
}

}  // namespace
