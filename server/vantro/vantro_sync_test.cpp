// Two-way requests against a real store: the device's changes and a GetData of the
// same folders in one request, answered without echoes, with items that vanished
// passed over, refused operations skipped, and per-folder counts in the live trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "server/devices/sync_log.h"
#include "server/vantro/vantro_test_util.h"

namespace {

using namespace vantro_test;

class VantroSyncTest : public VantroRequestTest {
protected:
    // Anna and Bert in the store, sent to the device and acknowledged.
    void SyncedContacts(std::string& anna, std::string& bert) {
        anna = AddItem(contacts_, "Anna", "IPM.Contact");
        bert = AddItem(contacts_, "Bert", "IPM.Contact");
        ASSERT_EQ(Run({Box(kSync, {GetContacts(true)})}),
                  SentFolder({"Add " + anna, "Add " + bert}, 1));
        Run({Ack()});
    }
};

TEST_F(VantroSyncTest, DeviceChangesComeFirstAndAreNotEchoed) {
    std::string anna, bert;
    SyncedContacts(anna, bert);
    DesktopEdit(contacts_, anna, {{PR_COMPANY_NAME, "ACME"}});

    std::string answer = Run(
        {Ack(), Box(kSync, {DeviceContacts({Contact(kAdd, "11", "Doe, Jane")}), GetContacts()})});
    std::string jane = NewKey(contacts_, {anna, bert});
    ASSERT_FALSE(jane.empty());
    EXPECT_EQ(Describe(lastDocument_, true),
              Mapping("11", jane) +
                  "Sync{Folder{AckString=PPC1:-1.csv:-1_temp.2.csv ServerID=-1 "
                  "FolderPath=-1 Element{Modify{ServerID=" +
                  anna + " COLLECTION{1:CompanyName=ACME } } } } } ");
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 1, changed 0, deleted 0; sent added 0, changed 1, "
               "deleted 0"))
        << lastTrace_;
    // The same counts are the device's last sync in its sync.log.
    std::optional<CLastSync> last = ReadLastSync(settings_->DataFolder(), "PPC1");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->folders, (std::vector<CSyncFolderLine>{{"Contacts", {0, 1, 0}, {1, 0, 0}}}));

    // A change of a field the device does not see (a contact's subject) sends nothing.
    Run({Ack()});
    TouchItem(contacts_, bert, "Bert on the desktop");
    EXPECT_EQ(Run({Box(kSync, {GetContacts()})}),
              "Sync{Folder{AckString=PPC1:-1.csv:-1_temp.3.csv ServerID=-1 FolderPath=-1 } } ");

    // Acknowledged: Jane and Bert are in the baseline and nothing is owed. The
    // folder still gets its line.
    EXPECT_EQ(Run({Ack(), Box(kSync, {GetContacts()})}), "");
    last = ReadLastSync(settings_->DataFolder(), "PPC1");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->folders, (std::vector<CSyncFolderLine>{{"Contacts", {0, 0, 0}, {0, 0, 0}}}));
    std::string log = ReadWholeFile(SyncLogPath(settings_->DataFolder(), "PPC1"));
    std::string header = SyncLogHeader("PPC1");
    ASSERT_EQ(log.rfind(header, 0), 0u) << log;
    // One line per sync (acknowledgements alone write none).
    EXPECT_EQ(std::count(log.begin() + static_cast<long>(header.size()), log.end(), '\n'), 4)
        << log;
}

TEST_F(VantroSyncTest, FirstRunWithResetSendsOnlyTheStoresItems) {
    std::string anna = AddItem(contacts_, "Anna", "IPM.Contact");
    std::string answer =
        Run({Box(kSync, {DeviceContacts({Contact(kAdd, "11", "Doe, Jane")}), GetContacts(true)})});
    std::string jane = NewKey(contacts_, {anna});
    ASSERT_FALSE(jane.empty());
    EXPECT_EQ(answer, Mapping("11", jane) + SentFolder({"Add " + anna}, 1));
    std::string snapshot = ReadWholeFile(StatePath("-1_temp.1"));
    EXPECT_EQ(snapshot.rfind("Generation=1\n[FolderInfo]\n", 0), 0u) << snapshot;
    EXPECT_NE(snapshot.find("\n" + anna + ";"), std::string::npos);
    EXPECT_NE(snapshot.find("\n" + jane + ";"), std::string::npos);
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 1, changed 0, deleted 0; sent added 1, changed 0, "
               "deleted 0"))
        << lastTrace_;
}

TEST_F(VantroSyncTest, ItemsChangedOnBothSidesOrDeletedByTheDevice) {
    std::string anna, bert;
    SyncedContacts(anna, bert);
    DesktopEdit(contacts_, anna, {{PR_COMPANY_NAME, "ACME"}});
    DesktopEdit(contacts_, bert, {{PR_COMPANY_NAME, "Initech"}});

    std::string answer =
        Run({Ack(), Box(kSync, {DeviceContacts({Box(kDelete, {Text(kServerID, anna)}),
                                                Contact(kModify, "12", "Bert B", bert)}),
                                GetContacts()})});
    // The desktop's edit of Anna wins over the device's deletion: she stays and goes
    // back to the device; Bert comes back merged (the device's FileAs, the
    // desktop's company).
    EXPECT_EQ(answer, SentFolder({"Modify " + anna, "Modify " + bert}, 2));
    EXPECT_EQ(Keys(contacts_), (std::vector<std::string>{anna, bert}));
    EXPECT_EQ(Prop(contacts_, bert, PR_COMPANY_NAME), "Initech");
    EXPECT_EQ(Prop(contacts_, bert, FileAsTag()), "Bert B");
    EXPECT_TRUE(Traced("Deleting " + anna + " passed over: changed on the desktop")) << lastTrace_;
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 0, changed 1, deleted 0; sent added 0, changed 2, "
               "deleted 0"))
        << lastTrace_;

    // Acknowledged, a deletion of the unchanged Anna is carried out; one of the
    // subject alone (no field of a contact on the device) does not hold it back.
    Run({Ack()});
    TouchItem(contacts_, anna, "Anna 2");
    answer = Run({Box(kSync, {DeviceContacts({Box(kDelete, {Text(kServerID, anna)})})})});
    EXPECT_EQ(Keys(contacts_), std::vector<std::string>{bert});

    // A Modify for an item deleted on the desktop meanwhile stores it afresh and maps it.
    Run({Ack()});
    contacts_.DeleteMessages({*CByteBuffer::ParseHex(bert)});
    answer = Run({Box(kSync, {DeviceContacts({Contact(kModify, "12", "Bert C", bert)})})});
    std::string again = NewKey(contacts_, {});
    ASSERT_FALSE(again.empty());
    EXPECT_NE(again, bert);
    EXPECT_EQ(answer, Mapping("12", again));
}

TEST_F(VantroSyncTest, RefusedOperationsArePassedOverAndTheRestIsHandled) {
    IMAPIFolderPtr top(CMapiRef<IMAPIFolder>::Share(
        OpenFolderEntry(Device().session.Get(), Device().ipmSubtree).Get()));
    IMAPIFolderPtr hidden = top.CreateFolder("Private", OPEN_IF_EXISTS);
    std::string secret = AddItem(hidden, "secret", "IPM.Contact");
    std::string hiddenKey = hidden.GetEntryID().ToText();

    std::string answer = Run({Box(
        kSync,
        {DeviceContacts({Box(kDelete, {Text(kServerID, secret)}),
                         Contact(kModify, "4", "Overwritten", secret), Contact(kAdd, "5", "Kept")}),
         Box(kGetData, {Box(kFolder, {Text(kServerID, hiddenKey), Text(kReset, "1")})}),
         Box(kFolder, {Text(kFolderPath, "Private"), Text(kTyp, "Contacts"),
                       Contact(kAdd, "6", "Smuggled")})})});
    std::string kept = NewKey(contacts_, {});
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(answer, Mapping("5", kept));
    EXPECT_EQ(Keys(hidden), std::vector<std::string>{secret});
    EXPECT_EQ(OpenItem(hidden, secret).GetPropText(PR_SUBJECT), "secret");
    EXPECT_TRUE(Traced("Deleting " + secret + " refused: not in a folder offered to device PPC1"))
        << lastTrace_;
    EXPECT_TRUE(Traced("Item " + secret + " refused: not in a folder offered to device PPC1"))
        << lastTrace_;
    EXPECT_TRUE(Traced("Folder " + hiddenKey + " refused: not offered to device PPC1"))
        << lastTrace_;
    EXPECT_TRUE(Traced("Folder Private refused: not offered to device PPC1")) << lastTrace_;
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 1, changed 0, deleted 0; sent added 0, changed 0, "
               "deleted 0"))
        << lastTrace_;
}

TEST_F(VantroSyncTest, AFolderFoundByPathTakesTheKindNameOfTheRequest) {
    // "Contacts" pairs by FileAs on a first sync: a contact of another handheld
    // store (a recreated one) is paired with the first; "Contact" never pairs.
    auto add = [&](const std::string& typ, const std::string& clientId) {
        Run({Box(kSync, {Box(kFolder, {Text(kFolderPath, "-1"), Text(kTyp, typ),
                                       Contact(kAdd, clientId, "Doe, Jane")})})});
    };
    add("Contacts", "1@AAAA");
    add("Contacts", "1@BBBB");
    EXPECT_EQ(Keys(contacts_).size(), 1u);
    add("Contact", "2@CCCC");
    EXPECT_EQ(Keys(contacts_).size(), 2u);
}

}  // namespace
