#include "client/sync_folder.h"

#include <gtest/gtest.h>

#include "client/client_log.h"
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

TEST_F(SyncFolderTest, IncomingItemsMatchByServerIdThenFirstKeyElseNew) {
    long first = AddTask("same");
    AddTask("same");
    long other = AddTask("other");
    FieldRecord record;
    record.Add(3, 1, "same");
    auto found = Tasks().FindIncomingItem(record, "S1");
    EXPECT_EQ(first, found->GetOid());

    // A mapped server ID wins over the key.
    Tasks().RecordServerId("S2", std::to_string(other));
    EXPECT_EQ(other, Tasks().FindIncomingItem(record, "S2")->GetOid());
    // A mapping to an item that is gone falls back to the key.
    Tasks().RecordServerId("S3", "99999");
    EXPECT_EQ(first, Tasks().FindIncomingItem(record, "S3")->GetOid());

    // No key match, and an empty key: a new item.
    FieldRecord unknown;
    unknown.Add(3, 1, "new one");
    auto created = Tasks().FindIncomingItem(unknown, "S4");
    EXPECT_TRUE(created->HasItem());
    EXPECT_EQ(0, created->GetOid());
    AddTask("");
    FieldRecord empty;
    empty.Add(3, 2, "only categories");
    EXPECT_EQ(0, Tasks().FindIncomingItem(empty, "S5")->GetOid());
}

TEST_F(SyncFolderTest, IdMapIsWrittenAndReadBackByANewRun) {
    Tasks().RecordServerId("AB01", "12");
    Tasks().RecordServerId("00FF", "7");
    Tasks().RecordServerId("AB01", "13");  // the latest mapping wins
    Tasks().RecordServerId("", "1");       // never recorded
    ASSERT_TRUE(Tasks().SaveIdMap());
    EXPECT_EQ("00FF=7\nAB01=13\n", TempEnv::ReadFile(Tasks().IdMapPath()));
    auto next = SyncFolder::MakeRunFolders(GetDataFolder());
    EXPECT_EQ((IdMap{{"00FF", "7"}, {"AB01", "13"}}), next[1]->ServerIdMap());
}

TEST_F(SyncFolderTest, ItemsOfAnotherFolderAreNotTaken) {
    long task = AddTask("t");
    EXPECT_FALSE(folders_[0]->ItemForOid(task)->HasItem());
    EXPECT_TRUE(Tasks().ItemForOid(task)->HasItem());
    EXPECT_EQ(1, Tasks().ItemCount());
    EXPECT_EQ(0, folders_[0]->ItemCount());
}

}  // namespace
