// Sync identity at the protocol level: every item mapped once by its ClientID,
// every retry answered as the first, name pairing only for twins of a first sync,
// versioned AckStrings, and the ClientID map surviving a server killed between the
// store's commit and the answer.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/wbxml/wbxml_test_util.h"
#include "platform/win/message_box.h"
#include "server/store/client_id_property.h"
#include "server/vantro/vantro_test_util.h"

namespace {

using namespace vantro_test;

// The inline string of text, as bytes in hexadecimal.
std::string Str(const std::string& text) {
    return "03 " + (text.empty() ? std::string() : HexBytes(text) + " ") + "00";
}

class VantroIdentityTest : public VantroRequestTest {
protected:
    Node Task(int32_t change, const std::string& clientId, const std::string& subject,
              const std::string& body = std::string(), const std::string& serverId = {}) {
        std::vector<Node> fields;
        if (!subject.empty()) fields.push_back(Text(kTaskSubject, subject, kTaskPage));
        if (!body.empty()) fields.push_back(Text(kTaskBody, body, kTaskPage));
        return Item(change, clientId, std::move(fields), serverId);
    }
    static Node DeviceTasks(std::vector<Node> changes, bool reset = false) {
        return DeviceFolder("-2", "Task", std::move(changes), reset);
    }
    std::string ClientIdProperty(IMAPIFolderPtr& folder, const std::string& key) {
        IMessagePtr item = OpenItem(folder, key);
        return item.GetPropText(ClientIdPropertyTag(item, "PPC1"));
    }
};

TEST_F(VantroIdentityTest, RepeatedAddsAfterALostAnswerAreAnsweredAsTheFirstByteForByte) {
    // A contact without FileAs and a task without subject: nothing to match by name.
    std::vector<Node> request = {
        Box(kSync, {DeviceContacts({Item(kAdd, "7@S1", {Text(kCompany, "ACME", kContactPage)})}),
                    DeviceTasks({Item(kAdd, "8@S1", {Text(kTaskBody, "no title", kTaskPage)})})})};
    std::string first = RunBody(Body(request));
    std::string contact = NewKey(contacts_, {});
    std::string task = NewKey(tasks_, {});
    ASSERT_FALSE(contact.empty() || task.empty());
    const std::string expected =
        Cat("03 01 6A 00 ",
            // Response { Folder { ClientID -1, ServerID -1, Element { ClientID, ServerID } } }
            "66 55 59 ", Str("-1"), " 01 58 ", Str("-1"), " 01 67 59 ", Str("7@S1"), " 01 58 ",
            Str(contact), " 01 01 01 01 ", "66 55 59 ", Str("-2"), " 01 58 ", Str("-2"),
            " 01 67 59 ", Str("8@S1"), " 01 58 ", Str(task), " 01 01 01 01");
    EXPECT_EQ(HexBytes(first), expected);
    // Each item carries its ClientID in the device's property.
    EXPECT_EQ(ClientIdProperty(contacts_, contact).substr(17), "7@S1");
    EXPECT_EQ(ClientIdProperty(tasks_, task).substr(17), "8@S1");

    // The answer was lost: the same request again gets the same answer, and no item
    // is stored twice.
    EXPECT_EQ(HexBytes(RunBody(Body(request))), expected);
    EXPECT_EQ(Keys(contacts_), std::vector<std::string>{contact});
    EXPECT_EQ(Keys(tasks_), std::vector<std::string>{task});
    // The map names each item once.
    EXPECT_NE(DataFile("-1.map").find(contact + "\t7@S1\tf\t"), std::string::npos)
        << DataFile("-1.map");
    EXPECT_FALSE(DataFileExists("-1.map-dirty"));
}

TEST_F(VantroIdentityTest, AMailAddRepeatedAfterALostAnswerIsStoredOnce) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    constexpr int32_t kMailPage = 7;
    const std::vector<Node> request = {
        Box(kSync, {DeviceFolder("-4", "Email",
                                 {Item(kAdd, "30@S1",
                                       {Text(0x0E, "IPM.Note", kMailPage),
                                        Text(0x17, "Lunch on Friday?", kMailPage)})})})};
    std::string first = RunBody(Body(request));
    std::string mail = NewKey(inbox, {});
    ASSERT_FALSE(mail.empty());
    // The answer was lost: the same request again gets the same answer, one mail.
    EXPECT_EQ(HexBytes(RunBody(Body(request))), HexBytes(first));
    EXPECT_EQ(Keys(inbox), std::vector<std::string>{mail});
    EXPECT_EQ(Prop(inbox, mail, PR_SUBJECT), "Lunch on Friday?");
}

TEST_F(VantroIdentityTest, RepeatedAddKeepsADesktopEditAndTakesAHandheldEdit) {
    Run({Box(kSync, {DeviceContacts({Item(
                        kAdd, "7@S1",
                        {Text(kLastName, "Doe", kContactPage), Text(kCompany, "ACME", kContactPage),
                         Text(kFileAs, "Doe", kContactPage)})})})});
    std::string key = NewKey(contacts_, {});
    ASSERT_FALSE(key.empty());
    // Meanwhile the desktop sets the company and the handheld the mobile number.
    DesktopEdit(contacts_, key, {{PR_COMPANY_NAME, "Initech"}});
    std::string answer = Run({Box(
        kSync, {DeviceContacts({Item(
                    kAdd, "7@S1",
                    {Text(kLastName, "Doe", kContactPage), Text(kCompany, "ACME", kContactPage),
                     Text(kFileAs, "Doe", kContactPage), Text(kMobile, "0171", kContactPage)})}),
                GetContacts()})});
    EXPECT_EQ(Keys(contacts_), std::vector<std::string>{key});
    EXPECT_EQ(Prop(contacts_, key, PR_COMPANY_NAME), "Initech");
    EXPECT_EQ(Prop(contacts_, key, PR_MOBILE_TELEPHONE_NUMBER), "0171");
    // The answer maps the item again and sends it back merged.
    EXPECT_EQ(answer, Mapping("7@S1", key) + SentFolder({"Modify " + key}, 1));
    EXPECT_NE(
        Describe(lastDocument_, true).find("1:CompanyName=Initech 1:MobileTelephoneNumber=0171"),
        std::string::npos)
        << Describe(lastDocument_, true);
}

TEST_F(VantroIdentityTest, ModifyWithoutServerIdAndDeleteByClientIdReachTheMappedItem) {
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "5@S1", "Water plants")})})});
    std::string key = NewKey(tasks_, {});
    ASSERT_FALSE(key.empty());
    // The device never saw the answer; it renames the task and sends it again as
    // a Modify without ServerID: the same task changes, and it learns the key.
    EXPECT_EQ(Run({Box(kSync, {DeviceTasks({Task(kModify, "5@S1", "Water the plants")})})}),
              Mappings({{"5@S1", key}}, "-2"));
    EXPECT_EQ(Keys(tasks_), std::vector<std::string>{key});
    EXPECT_EQ(Prop(tasks_, key, PR_SUBJECT), "Water the plants");
    // An unknown ClientID in a Modify makes a new item, mapped like an Add.
    Run({Box(kSync, {DeviceTasks({Task(kModify, "6@S1", "Feed the cat")})})});
    std::string cat = NewKey(tasks_, {key});
    ASSERT_FALSE(cat.empty());
    EXPECT_EQ(Describe(lastDocument_), Mappings({{"6@S1", cat}}, "-2"));
    // Deleted by ClientID; an unknown ClientID deletes nothing.
    Run({Box(kSync,
             {DeviceTasks({Box(kDelete, {Text(kClientID, "5@S1"), Text(kClientID, "99")})})})});
    EXPECT_EQ(Keys(tasks_), std::vector<std::string>{cat});
    EXPECT_TRUE(Traced("Deleting ClientID 99: not mapped, nothing deleted")) << lastTrace_;
    EXPECT_EQ(DataFile("-2.map").find("5@S1"), std::string::npos);
}

TEST_F(VantroIdentityTest, TwinsOfAFirstSyncArePairedOnceAndAnsweredMatched) {
    std::string desk = AddItem(tasks_, "Call Bob", "IPM.Task");
    // The handheld's first sync: three tasks named alike, with different bodies.
    std::string first =
        RunBody(Body({Box(kSync, {DeviceTasks({Task(kAdd, "1@S1", "Call Bob", "about the car"),
                                               Task(kAdd, "2@S1", "Call Bob", "about the house"),
                                               Task(kAdd, "3@S1", "Call Bob", "about the boat")},
                                              true),
                                  GetFolder("-2", true)})}));
    std::vector<std::string> made = NewKeys(tasks_, {desk});
    ASSERT_EQ(made.size(), 2u);
    // The first is paired with the desktop's task (Matched 3D), the others are new.
    std::string head = Cat("03 01 6A 00 66 55 59 ", Str("-2"), " 01 58 ", Str("-2"), " 01 ",
                           "67 59 ", Str("1@S1"), " 01 58 ", Str(desk), " 01 7D ", Str("1"),
                           " 01 01 ", "67 59 ", Str("2@S1"), " 01 58 ", Str(made[0]), " 01 01 ",
                           "67 59 ", Str("3@S1"), " 01 58 ", Str(made[1]), " 01 01 01 01");
    EXPECT_EQ(HexBytes(first).substr(0, head.size()), head);
    EXPECT_EQ(Prop(tasks_, desk, PR_SUBJECT), "Call Bob");
    // The paired task is not sent back as an Add: it took the handheld's body, so
    // the device already holds it as it is; nothing else is owed.
    EXPECT_EQ(Describe(first).substr(Describe(first).find("Sync{")),
              "Sync{Folder{AckString=PPC1:-2.csv:-2_temp.1.csv ServerID=-2 FolderPath=-2 } } ");
    EXPECT_TRUE(
        Traced("Folder Tasks: device added 3, changed 0, deleted 0; sent added 0, "
               "changed 0, deleted 0; 1 matched"))
        << lastTrace_;
    Run({Ack()});

    // No longer a first sync: a fourth "Call Bob" is a new task.
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "4@S1", "Call Bob", "again")})})});
    EXPECT_EQ(Keys(tasks_).size(), 4u);
    // A handheld store made anew (another identity) pairs its twins again, but a
    // task mapped to its own store identity is never a twin.
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "1@S2", "Call Bob", "about the car")}, true)})});
    EXPECT_EQ(Keys(tasks_).size(), 4u);
    EXPECT_NE(Describe(lastDocument_).find("Matched=1"), std::string::npos);
    Run({Box(
        kSync,
        {DeviceTasks({Task(kAdd, "9@S2", "Call Bob", "x"), Task(kAdd, "10@S2", "Call Bob", "y"),
                      Task(kAdd, "11@S2", "Call Bob", "z"), Task(kAdd, "12@S2", "Call Bob", "w")},
                     true)})});
    EXPECT_EQ(Keys(tasks_).size(), 5u);  // three more twins for S2, one new
}

TEST_F(VantroIdentityTest, TwoSmithJohnsStayTwoAndContactFoldersNeverPair) {
    // Two handheld contacts of the same name on a first sync: two contacts, each
    // with its own company.
    Run({Box(kSync, {DeviceContacts({Item(kAdd, "1@S1",
                                          {Text(kFileAs, "Smith, John", kContactPage),
                                           Text(kCompany, "ACME", kContactPage)}),
                                     Item(kAdd, "2@S1",
                                          {Text(kFileAs, "Smith, John", kContactPage),
                                           Text(kCompany, "Initech", kContactPage)})},
                                    true)})});
    std::vector<std::string> keys = Keys(contacts_);
    ASSERT_EQ(keys.size(), 2u);
    std::vector<std::string> companies = {Prop(contacts_, keys[0], PR_COMPANY_NAME),
                                          Prop(contacts_, keys[1], PR_COMPANY_NAME)};
    std::sort(companies.begin(), companies.end());
    EXPECT_EQ(companies, (std::vector<std::string>{"ACME", "Initech"}));
    // In a folder of class "Contact", and without Typ, an Add always makes a new
    // contact, even on a first sync and of a name nothing holds a mapping for.
    std::string desk = NewContact(contacts_, {{FileAsTag(), "Roe, Ann"}});
    Run({Box(kSync, {DeviceFolder("-1", "Contact", {Contact(kAdd, "3@S9", "Roe, Ann")}, true)})});
    Run({Box(kSync, {DeviceFolder("-1", "", {Contact(kAdd, "4@S9", "Roe, Ann")}, true)})});
    EXPECT_EQ(Keys(contacts_).size(), 5u);
    EXPECT_EQ(Describe(lastDocument_).find("Matched"), std::string::npos);
    EXPECT_EQ(Prop(contacts_, desk, FileAsTag()), "Roe, Ann");
}

TEST_F(VantroIdentityTest, ClientIdsTheMapCannotKeepMakePlainAdds) {
    const std::string longest(64, '7');
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "", "none"), Task(kAdd, std::string(65, '8'), "long"),
                                  Task(kAdd, longest, "longest")}),
                     GetFolder("-2")})});
    EXPECT_TRUE(Traced("Item without a usable ClientID (0 bytes): stored as a plain Add"))
        << lastTrace_;
    EXPECT_TRUE(Traced("Item without a usable ClientID (65 bytes): stored as a plain Add"))
        << lastTrace_;
    // Acknowledged: a baseline, so no pairing by name from now on.
    Run({Ack()});
    EXPECT_EQ(Keys(tasks_).size(), 3u);
    // Only the 64-byte ClientID is mapped: sent again, the others are stored again.
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "", "none"), Task(kAdd, std::string(65, '8'), "long"),
                                  Task(kAdd, longest, "longest")})})});
    EXPECT_EQ(Keys(tasks_).size(), 5u);
    std::string map = DataFile("-2.map");
    EXPECT_NE(map.find("\t" + longest + "\t"), std::string::npos) << map;
    EXPECT_EQ(map.find(std::string(65, '8')), std::string::npos) << map;
}

TEST_F(VantroIdentityTest, AckStringsNameASnapshotOfTheirOwn) {
    std::string anna = AddItem(contacts_, "Anna", "IPM.Contact");
    const std::vector<Node> get = {Box(kSync, {GetContacts()})};
    EXPECT_EQ(Run(get), SentFolder({"Add " + anna}, 1));
    std::vector<std::string> lost = acks_;
    // The answer was lost: the repeated request gets everything it carried, under
    // a new generation; only the newest snapshot is kept.
    EXPECT_EQ(Run(get), SentFolder({"Add " + anna}, 2));
    std::vector<std::string> second = acks_;
    EXPECT_FALSE(DataFileExists("-1_temp.1.csv"));
    EXPECT_TRUE(DataFileExists("-1_temp.2.csv"));
    // The older acknowledgement installs nothing: the items still come.
    std::string bert = AddItem(contacts_, "Bert", "IPM.Contact");
    EXPECT_EQ(Run({AckOf(lost), Box(kSync, {GetContacts()})}),
              SentFolder({"Add " + anna, "Add " + bert}, 3));
    EXPECT_TRUE(Traced("AckString PPC1:-1.csv:-1_temp.1.csv names no snapshot: nothing installed"))
        << lastTrace_;
    EXPECT_FALSE(DataFileExists("-1.csv"));
    // Skiff killed after the answer arrived sends its old acknowledgement (of the
    // second answer) again: still nothing installed, nothing lost.
    EXPECT_EQ(Run({AckOf(second), Box(kSync, {GetContacts()})}),
              SentFolder({"Add " + anna, "Add " + bert}, 4));
    // The newest one installs its snapshot; sent twice, it changes nothing more.
    std::vector<std::string> newest = acks_;
    EXPECT_EQ(Run({AckOf(newest), Box(kSync, {GetContacts()})}), "");
    EXPECT_EQ(DataFile("-1.csv").rfind("Generation=4\n[FolderInfo]\n", 0), 0u)
        << DataFile("-1.csv");
    EXPECT_EQ(Run({AckOf(newest), Box(kSync, {GetContacts()})}), "");
    EXPECT_TRUE(
        Traced("AckString PPC1:-1.csv:-1_temp.4.csv names an older snapshot: nothing "
               "installed"))
        << lastTrace_;
    EXPECT_EQ(DataFile("-1.csv").rfind("Generation=4\n", 0), 0u);
    // Parts outside the device's folder are refused.
    Run({AckOf({"PPC1:-1.csv:-1_temp.5.csv/../../x", "PPC1:../x.csv:../x_temp.1.csv"})});
    EXPECT_TRUE(Traced("AckString refused: PPC1:-1.csv:-1_temp.5.csv/../../x")) << lastTrace_;
    EXPECT_TRUE(Traced("AckString refused: PPC1:../x.csv:../x_temp.1.csv")) << lastTrace_;
}

TEST_F(VantroIdentityTest, AFolderWhoseAddsWereAllRepeatsGetsAnAckStringToo) {
    // Two tasks without subject, sent on the first sync; the answer is lost.
    const std::vector<Node> request = {Box(
        kSync, {DeviceTasks({Task(kAdd, "1@S1", "", "one"), Task(kAdd, "2@S1", "", "two")}, true),
                GetFolder("-2")})};
    std::string first = Run(request);
    std::vector<std::string> keys = Keys(tasks_);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(acks_, std::vector<std::string>{"PPC1:-2.csv:-2_temp.1.csv"}) << first;
    // The repeat stores nothing, but its snapshot takes both tasks in: the folder
    // is acknowledged under a generation of its own.
    Run(request);
    EXPECT_EQ(Keys(tasks_), keys);
    EXPECT_EQ(acks_, std::vector<std::string>{"PPC1:-2.csv:-2_temp.2.csv"}) << lastTrace_;
    // Acknowledged, the next request gets nothing back: not the device's own tasks.
    EXPECT_EQ(Run({Ack(), Box(kSync, {DeviceTasks({}), GetFolder("-2")})}), "");
}

TEST_F(VantroIdentityTest, ADeletionRepeatedAfterALostAnswerIsAcknowledged) {
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "1@S1", "gone")}, true), GetFolder("-2")})});
    std::string key = NewKey(tasks_, {});
    ASSERT_FALSE(key.empty());
    Run({Ack(), Box(kSync, {DeviceTasks({}), GetFolder("-2")})});
    // The device deletes the task; the answer is lost and the deletion comes again.
    const std::vector<Node> request = {
        Box(kSync, {DeviceTasks({Box(kDelete, {Text(kServerID, key)})}), GetFolder("-2")})};
    Run(request);
    EXPECT_TRUE(Keys(tasks_).empty());
    Run(request);
    EXPECT_TRUE(Traced("Deleting " + key + ": no such item")) << lastTrace_;
    ASSERT_EQ(acks_.size(), 1u) << lastTrace_;
    // Acknowledged, the deletion is not sent back to the device that made it.
    EXPECT_EQ(Run({Ack(), Box(kSync, {DeviceTasks({}), GetFolder("-2")})}), "");
}

TEST_F(VantroIdentityTest, AnEmptyFolderIsAcknowledgedOnItsFirstSyncAndNeverPairsLater) {
    // Nothing on either side: the answer still names a snapshot.
    EXPECT_EQ(Run({Box(kSync, {GetFolder("-2")})}), SentFolder({}, 1, "-2"));
    Run({Ack(), Box(kSync, {GetFolder("-2")})});
    EXPECT_TRUE(DataFileExists("-2.csv"));
    // Later both sides add a task "Call Bob": two tasks, not one paired by name.
    std::string desktop = AddItem(tasks_, "Call Bob", "IPM.Task");
    Run({Box(kSync,
             {DeviceTasks({Task(kAdd, "1@S1", "Call Bob", "about the car")}), GetFolder("-2")})});
    EXPECT_EQ(Keys(tasks_).size(), 2u);
    EXPECT_EQ(Prop(tasks_, desktop, PR_BODY), "");
    EXPECT_FALSE(Traced("Folder -2: first sync of the device (no baseline)")) << lastTrace_;
}

TEST_F(VantroIdentityTest, FieldsAppliedFromAnUnacknowledgedAnswerDoNotUndoADesktopEdit) {
    Run({Box(kSync, {GetFolder("-2")})});
    Run({Ack(), Box(kSync, {GetFolder("-2")})});
    std::string key = AddItem(tasks_, "Report", "IPM.Task");
    DesktopEdit(tasks_, key, {{PR_BODY, "first draft"}});
    // The answer carrying the task reaches a handheld that ends while applying it:
    // the task is written there, but nothing is acknowledged.
    EXPECT_EQ(Run({Box(kSync, {GetFolder("-2")})}), SentFolder({"Add " + key}, 2, "-2"));
    // Meanwhile the desktop edits the body; the handheld, whose snapshot lacks the
    // task, sends it as it was written, and raises its importance.
    DesktopEdit(tasks_, key, {{PR_BODY, "final"}});
    Run({Box(kSync, {DeviceTasks({Item(kModify, "3@S1",
                                       {Text(kTaskSubject, "Report", kTaskPage),
                                        Text(kTaskBody, "first draft", kTaskPage),
                                        Text(kTaskImportance, "2", kTaskPage)},
                                       key)}),
                     GetFolder("-2")})},
        true);
    EXPECT_EQ(Prop(tasks_, key, PR_BODY), "final");
    EXPECT_TRUE(Traced("Item " + key + ": 2 of its fields as the unacknowledged answer sent them"))
        << lastTrace_;
    // The answer brings the handheld the desktop's body.
    EXPECT_NE(Describe(lastDocument_, true).find("TaskBody=final"), std::string::npos)
        << Describe(lastDocument_, true);
}

TEST_F(VantroIdentityTest, AChangeAfterALostDeleteRestoresTheWholeItem) {
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "1@S1", "Report", "the whole text")}, true),
                     GetFolder("-2")})});
    std::string key = NewKey(tasks_, {});
    ASSERT_FALSE(key.empty());
    Run({Ack(), Box(kSync, {DeviceTasks({}), GetFolder("-2")})});
    // The desktop deletes the task; the answer carrying the Delete is lost.
    tasks_.DeleteMessages({*CByteBuffer::ParseHex(key)});
    EXPECT_NE(Run({Box(kSync, {GetFolder("-2")})}).find("Element{Delete{ServerID=" + key + " }"),
              std::string::npos)
        << Describe(lastDocument_);
    // The handheld renames it: the change beats the deletion, with every field.
    Run({Box(kSync, {DeviceTasks({Item(kModify, "1@S1",
                                       {Text(kTaskSubject, "Final report", kTaskPage)}, key)}),
                     GetFolder("-2")})});
    std::string restored = NewKey(tasks_, {});
    ASSERT_FALSE(restored.empty()) << lastTrace_;
    EXPECT_EQ(Prop(tasks_, restored, PR_SUBJECT), "Final report");
    EXPECT_EQ(Prop(tasks_, restored, PR_BODY), "the whole text");
}

TEST_F(VantroIdentityTest, ADesktopDeletionWinsOverFieldsAppliedFromAnUnacknowledgedAnswer) {
    Run({Box(kSync,
             {DeviceTasks({Task(kAdd, "1@S1", "Report", "draft")}, true), GetFolder("-2")})});
    std::string key = NewKey(tasks_, {});
    ASSERT_FALSE(key.empty());
    Run({Ack(), Box(kSync, {DeviceTasks({}), GetFolder("-2")})});
    // The desktop edits the body; the handheld ends while applying the answer that
    // carries it, so it holds the body and acknowledges nothing.
    DesktopEdit(tasks_, key, {{PR_BODY, "final"}});
    EXPECT_NE(Run({Box(kSync, {GetFolder("-2")})}).find("Modify{ServerID=" + key),
              std::string::npos)
        << Describe(lastDocument_);
    // The desktop deletes the task; the handheld sends the body it applied.
    tasks_.DeleteMessages({*CByteBuffer::ParseHex(key)});
    Run({Box(kSync,
             {DeviceTasks({Item(kModify, "1@S1", {Text(kTaskBody, "final", kTaskPage)}, key)}),
              GetFolder("-2")})});
    // No change of the handheld's own: the deletion stands and travels.
    EXPECT_TRUE(NewKey(tasks_, {}).empty()) << lastTrace_;
    EXPECT_NE(Describe(lastDocument_).find("Element{Delete{ServerID=" + key + " }"),
              std::string::npos)
        << Describe(lastDocument_);
    EXPECT_EQ(Describe(lastDocument_).find("ClientID=1@S1"), std::string::npos)
        << Describe(lastDocument_);
}

TEST_F(VantroIdentityTest, AddsAndModifiesRepeatedUnchangedLeaveADesktopDeletionStanding) {
    // An Add whose answer is lost; the desktop deletes the task meanwhile.
    const std::vector<Node> add = {
        Box(kSync, {DeviceTasks({Task(kAdd, "1@S1", "Report", "draft")}, true), GetFolder("-2")})};
    Run(add);
    std::string key = NewKey(tasks_, {});
    ASSERT_FALSE(key.empty());
    tasks_.DeleteMessages({*CByteBuffer::ParseHex(key)});
    // The same Add again stores nothing: the answer maps the ClientID to the deleted
    // key and deletes it.
    std::string answer = Run(add);
    EXPECT_TRUE(NewKey(tasks_, {}).empty()) << lastTrace_;
    EXPECT_NE(answer.find(Mappings({{"1@S1", key}}, "-2")), std::string::npos) << answer;
    EXPECT_NE(answer.find("Element{Delete{ServerID=" + key + " }"), std::string::npos) << answer;
    // That answer is lost too: the next repeat is answered the same way.
    answer = Run(add);
    EXPECT_TRUE(NewKey(tasks_, {}).empty()) << lastTrace_;
    EXPECT_NE(answer.find("Element{Delete{ServerID=" + key + " }"), std::string::npos) << answer;
    // A changed Add is a change of the handheld: it beats the deletion.
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "1@S1", "Report", "second draft")}, true),
                     GetFolder("-2")})});
    std::string restored = NewKey(tasks_, {});
    ASSERT_FALSE(restored.empty()) << lastTrace_;
    EXPECT_EQ(Prop(tasks_, restored, PR_BODY), "second draft");

    // A Modify whose answer is lost, sent again unchanged after the desktop deleted
    // the task: the deletion stands.
    Run({Ack(), Box(kSync, {DeviceTasks({}), GetFolder("-2")})});
    const std::vector<Node> modify = {
        Box(kSync,
            {DeviceTasks({Item(kModify, "1@S1", {Text(kTaskBody, "final", kTaskPage)}, restored)}),
             GetFolder("-2")})};
    Run(modify);
    EXPECT_EQ(Prop(tasks_, restored, PR_BODY), "final");
    tasks_.DeleteMessages({*CByteBuffer::ParseHex(restored)});
    answer = Run(modify);
    EXPECT_EQ(Keys(tasks_), std::vector<std::string>{}) << lastTrace_;
    EXPECT_NE(answer.find("Element{Delete{ServerID=" + restored + " }"), std::string::npos)
        << answer;
}

TEST_F(VantroIdentityTest, AServerKilledAfterTheSaveLosesNoMapping) {
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "1@S1", "First")})})});
    std::string first = NewKey(tasks_, {});
    const std::string index = DataFile("-2.map");
    // The next request stores a task, and the server dies before its map is
    // written: the index is the old one and the marker stands.
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "2@S1", "Second")})})});
    std::string second = NewKey(tasks_, {first});
    ASSERT_FALSE(second.empty());
    WriteWholeFile(dataFolder_ + "/PPC1/-2.map", index);
    std::string epoch = index.substr(index.find("Epoch=") + 6, 16);
    WriteWholeFile(dataFolder_ + "/PPC1/-2.map-dirty", epoch + "\n");
    // The repeated request finds the task through its ClientID property.
    EXPECT_EQ(Run({Box(kSync, {DeviceTasks({Task(kAdd, "2@S1", "Second")})})}),
              Mappings({{"2@S1", second}}, "-2"));
    EXPECT_TRUE(Traced("ClientID map -2 rebuilt from 2 items")) << lastTrace_;
    EXPECT_EQ(Keys(tasks_).size(), 2u);
    EXPECT_FALSE(DataFileExists("-2.map-dirty"));
    EXPECT_NE(DataFile("-2.map").find(second + "\t2@S1\t"), std::string::npos);
}

TEST_F(VantroIdentityTest, ACorruptMapIsSetAsideAndTheFolderSyncedAsAFirstSync) {
    std::string desk = AddItem(tasks_, "Call Bob", "IPM.Task");
    Run({Box(kSync, {GetFolder("-2", true)})});
    Run({Ack()});
    WriteWholeFile(dataFolder_ + "/PPC1/-2.map", "not a map\n");
    std::vector<std::string> boxes;
    SetMessageBoxSink([&](const std::string& text, const std::string&) { boxes.push_back(text); });
    // Not a first sync by the baseline, but the map was lost: twins are paired.
    Run({Box(kSync, {DeviceTasks({Task(kAdd, "1@S1", "Call Bob")})})});
    SetMessageBoxSink(nullptr);
    EXPECT_EQ(Keys(tasks_), std::vector<std::string>{desk});
    EXPECT_NE(Describe(lastDocument_).find("Matched=1"), std::string::npos);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("-2.map cannot be read; set aside as"), std::string::npos);
    EXPECT_TRUE(DataFileExists("-2.map.bad"));
    EXPECT_NE(DataFile("-2.map").find(desk + "\t1@S1\tmf\t"), std::string::npos);
}

}  // namespace
