// Changes as fields at the protocol level: cleared fields in both wire forms,
// fields a kind lacks, a refused message class, edits on both sides merged (the
// desktop wins a field both changed, logged in sync.log), and the merged item sent
// back in the same answer whether the device asks by ServerID or by FolderType.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "common/base/file_time.h"
#include "common/wbxml/wbxml_test_util.h"
#include "server/devices/sync_log.h"
#include "server/vantro/vantro_test_util.h"

namespace {

using namespace vantro_test;

class VantroFieldsTest : public VantroRequestTest {
protected:
    // A contact the device added with fields, sent back and acknowledged: both sides
    // hold it as it is.
    std::string SyncedContact(std::vector<Node> fields) {
        fields.push_back(Text(kFileAs, "Doe, Jane", kContactPage));
        Run({Box(kSync, {DeviceContacts({Item(kAdd, "1@S1", std::move(fields))}), GetContacts()})});
        Run({Ack()});
        EXPECT_EQ(Run({Box(kSync, {GetContacts()})}), "");
        return NewKey(contacts_, {});
    }
    static Node Modify(const std::string& key, std::vector<Node> fields) {
        return Item(kModify, "1@S1", std::move(fields), key);
    }
    std::string SyncLog() { return ReadWholeFile(SyncLogPath(dataFolder_, "PPC1")); }
    // The conflict lines of the device's sync.log (the sync lines left out).
    std::string Conflicts() {
        std::string conflicts;
        std::istringstream lines(SyncLog());
        for (std::string line; std::getline(lines, line);) {
            if (line.find("\tconflict\t") != std::string::npos) conflicts += line + "\n";
        }
        return conflicts;
    }
};

TEST_F(VantroFieldsTest, ClearedFieldsTravelInBothWireForms) {
    std::string key =
        SyncedContact({Text(kLastName, "Doe", kContactPage), Text(kCompany, "ACME", kContactPage),
                       Text(kMobile, "0171", kContactPage),
                       Text(kBirthday, "02.03.1990 00:00.00:0", kContactPage)});
    ASSERT_FALSE(key.empty());
    ASSERT_EQ(Prop(contacts_, key, PR_COMPANY_NAME), "ACME");
    // CompanyName as the bare tag (06 on page 1), Birthday (token 02) and the mobile
    // number as a tag holding an empty string.
    std::string body = Body({Box(
        kSync,
        {DeviceContacts({Modify(key, {Empty(kCompany, kContactPage), Empty(kBirthday, kContactPage),
                                      Text(kMobile, "", kContactPage)})})})});
    EXPECT_NE(HexBytes(body).find("54 00 01 06 42 03 00 01 48 03 00 01 01"), std::string::npos)
        << HexBytes(body);
    EXPECT_EQ(Describe(RunBody(body)), "");
    EXPECT_EQ(Prop(contacts_, key, PR_COMPANY_NAME), "");
    EXPECT_EQ(Prop(contacts_, key, PR_MOBILE_TELEPHONE_NUMBER), "");
    CPropValue birthday;
    EXPECT_EQ(OpenItem(contacts_, key).GetOneProp(PR_BIRTHDAY, birthday), MAPI_E_NOT_FOUND);
    // Fields the Modify does not carry keep their values.
    EXPECT_EQ(Prop(contacts_, key, PR_SURNAME), "Doe");
    EXPECT_EQ(Prop(contacts_, key, FileAsTag()), "Doe, Jane");
    // The device holds what the store holds: nothing goes back, only the folder's
    // AckString, so that the baseline takes the change in.
    EXPECT_EQ(Run({Box(kSync, {GetContacts()})}, true),
              "Sync{Folder{AckString=PPC1:-1.csv:-1_temp.2.csv ServerID=-1 FolderPath=-1 } } ");
    EXPECT_TRUE(Traced("Item " + key + ": the device holds it as it is, not sent")) << lastTrace_;
    Run({Ack()});
    EXPECT_EQ(Run({Box(kSync, {GetContacts()})}), "");
}

TEST_F(VantroFieldsTest, FieldsTheHandheldDoesNotCarryAreNeverCleared) {
    std::string key = SyncedContact({Text(kLastName, "Doe", kContactPage)});
    // The desktop has a callback number (a field the handheld does not show).
    DesktopEdit(contacts_, key, {{PR_CALLBACK_TELEPHONE_NUMBER, "555"}});
    Run({Box(kSync, {GetContacts()})});
    Run({Ack()});
    Run({Box(kSync, {DeviceContacts({Modify(key, {Text(kMobile, "0171", kContactPage)})})})});
    EXPECT_EQ(Prop(contacts_, key, PR_CALLBACK_TELEPHONE_NUMBER), "555");
    EXPECT_EQ(Prop(contacts_, key, PR_MOBILE_TELEPHONE_NUMBER), "0171");
    // A file-as of its own stays when the names change and the Modify names no
    // file-as (the names would give "Roe, Jane").
    DesktopEdit(contacts_, key, {{PR_GIVEN_NAME, "Jane"}, {FileAsTag(), "Dr. Jane Doe"}});
    Run({Box(kSync, {GetContacts()})});
    Run({Ack()});
    Run({Box(kSync, {DeviceContacts({Modify(key, {Text(kLastName, "Roe", kContactPage)})})})});
    EXPECT_EQ(Prop(contacts_, key, FileAsTag()), "Dr. Jane Doe");
    EXPECT_EQ(Prop(contacts_, key, PR_DISPLAY_NAME), "Roe, Jane");
}

TEST_F(VantroFieldsTest, EmptyFieldsOfAnotherKindAreIgnoredAndAClearedMessageClassIsRefused) {
    std::string key = SyncedContact({Text(kLastName, "Doe", kContactPage)});
    Run({Box(kSync, {DeviceContacts({Modify(key, {Empty(kTaskBody, kTaskPage),
                                                  Text(kCompany, "ACME", kContactPage)})})})});
    EXPECT_TRUE(Traced("XMLtoMessage: empty field TaskBody ignored, not a field of this kind"))
        << lastTrace_;
    EXPECT_EQ(Prop(contacts_, key, PR_COMPANY_NAME), "ACME");

    // A mail whose message class would be cleared is refused with an error element;
    // the next item of the request is stored.
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    constexpr int32_t kMailPage = 7;
    std::string answer = Run({Box(
        kSync, {DeviceFolder(
                   "-4", "Email",
                   {Item(kAdd, "20@S1", {Empty(0x0E, kMailPage), Text(0x17, "Refused", kMailPage)}),
                    Item(kAdd, "21@S1",
                         {Text(0x0E, "IPM.Note", kMailPage), Text(0x17, "Taken", kMailPage)})})})});
    std::string taken = NewKey(inbox, {});
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(answer,
              "Response{Folder{ClientID=-4 ServerID=-4 Element{ClientID=20@S1 ErrorCode=1 } "
              "Element{ClientID=21@S1 ServerID=" +
                  taken + " } } } ");
    EXPECT_TRUE(Traced("Item 20@S1 refused: its message class would be cleared")) << lastTrace_;
    EXPECT_EQ(Prop(inbox, taken, PR_SUBJECT), "Taken");
}

TEST_F(VantroFieldsTest, DifferentFieldsChangedOnBothSidesAreMergedInOneSync) {
    std::string key =
        SyncedContact({Text(kLastName, "Doe", kContactPage), Text(kCompany, "ACME", kContactPage)});
    DesktopEdit(contacts_, key, {{PR_COMPANY_NAME, "Initech"}});
    std::string answer =
        Run({Box(kSync, {DeviceContacts({Modify(key, {Text(kMobile, "0171", kContactPage)})}),
                         GetContacts()})},
            true);
    EXPECT_EQ(Prop(contacts_, key, PR_COMPANY_NAME), "Initech");
    EXPECT_EQ(Prop(contacts_, key, PR_MOBILE_TELEPHONE_NUMBER), "0171");
    // The answer carries the merged item whole, so both sides hold the same.
    EXPECT_EQ(answer,
              "Sync{Folder{AckString=PPC1:-1.csv:-1_temp.2.csv ServerID=-1 FolderPath=-1 "
              "Element{Modify{ServerID=" +
                  key +
                  " COLLECTION{1:CompanyName=Initech 1:MobileTelephoneNumber=0171 1:LastName=Doe "
                  "1:FileAs=Doe, Jane } } } } } ");
    EXPECT_EQ(Conflicts(), "");
    Run({Ack()});
    EXPECT_EQ(Run({Box(kSync, {GetContacts()})}), "");
}

TEST_F(VantroFieldsTest, TheSameFieldChangedOnBothSidesKeepsTheDesktopsValue) {
    std::string key =
        SyncedContact({Text(kLastName, "Doe", kContactPage), Text(kCompany, "ACME", kContactPage)});
    DesktopEdit(contacts_, key, {{PR_COMPANY_NAME, "Initech"}});
    const std::vector<Node> request = {Box(
        kSync,
        {DeviceContacts({Modify(key, {Text(kCompany, "Globex", kContactPage)})}), GetContacts()})};
    std::string answer = Run(request, true);
    EXPECT_EQ(Prop(contacts_, key, PR_COMPANY_NAME), "Initech");
    EXPECT_NE(answer.find("Element{Modify{ServerID=" + key + " COLLECTION{1:CompanyName=Initech "),
              std::string::npos)
        << answer;
    EXPECT_TRUE(Traced("Conflict Contacts " + key +
                       " CompanyName: handheld Globex, desktop "
                       "Initech kept"))
        << lastTrace_;
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 0, changed 0, deleted 0; sent added 0, "
               "changed 1, deleted 0; 1 conflicts"))
        << lastTrace_;
    std::string log = SyncLog();
    EXPECT_EQ(log.rfind(SyncLogHeader("PPC1"), 0), 0u) << log;
    EXPECT_NE(log.find("\tContacts\t" + key + "\tCompanyName\tGlobex\tInitech\n"),
              std::string::npos)
        << log;
    // The answer was lost: the same request gets the merged item again, without a
    // second conflict (the device still holds the value it sent).
    std::string conflicts = Conflicts();
    EXPECT_EQ(std::count(conflicts.begin(), conflicts.end(), '\n'), 1) << conflicts;
    EXPECT_EQ(Run(request, true), answer.replace(answer.find("_temp.2"), 7, "_temp.3"));
    EXPECT_EQ(Conflicts(), conflicts);
}

TEST_F(VantroFieldsTest, AClearOnTheDesktopBeatsAChangeOnTheHandheld) {
    std::string key =
        SyncedContact({Text(kLastName, "Doe", kContactPage), Text(kCompany, "ACME", kContactPage)});
    IMessagePtr item = OpenItem(contacts_, key);
    item.DeleteProp(PR_COMPANY_NAME);
    item.SaveChanges(0);
    std::string answer =
        Run({Box(kSync, {DeviceContacts({Modify(key, {Text(kCompany, "Globex", kContactPage)})}),
                         GetContacts()})},
            true);
    EXPECT_EQ(Prop(contacts_, key, PR_COMPANY_NAME), "");
    EXPECT_NE(answer.find("COLLECTION{1:LastName=Doe 1:FileAs=Doe, Jane } "), std::string::npos)
        << answer;
    EXPECT_NE(SyncLog().find("\tCompanyName\tGlobex\t\n"), std::string::npos) << SyncLog();
}

TEST_F(VantroFieldsTest, TheDesktopsEditComesBackWhenTheDeviceAsksByFolderType) {
    ConfigureDefaultFolders();
    std::string key =
        SyncedContact({Text(kLastName, "Doe", kContactPage), Text(kCompany, "ACME", kContactPage)});
    DesktopEdit(contacts_, key, {{PR_COMPANY_NAME, "Initech"}});
    const Node byType = Box(kGetData, {Box(kFolder, {Text(kFolderType, "Contact")})});
    std::string answer =
        Run({Box(kSync,
                 {DeviceContacts({Modify(key, {Text(kMobile, "0171", kContactPage)})}), byType})},
            true);
    EXPECT_NE(answer.find("Element{Modify{ServerID=" + key +
                          " COLLECTION{1:CompanyName=Initech 1:MobileTelephoneNumber=0171 "),
              std::string::npos)
        << answer;
    Run({Ack()});
    EXPECT_EQ(Run({Box(kSync, {byType})}), "");
    // The device's own change alone does not come back, by type or by key.
    std::string own = Run({Box(
        kSync, {DeviceContacts({Modify(key, {Text(kMobile, "0172", kContactPage)})}), byType})});
    EXPECT_EQ(own,
              "Sync{Folder{AckString=PPC1:-1.csv:-1_temp.3.csv ServerID=-1 FolderPath=-1 } } ");
    Run({Ack()});
    EXPECT_EQ(Run({Box(kSync, {DeviceContacts({Modify(key, {Text(kMobile, "0173", kContactPage)})}),
                               GetContacts()})}),
              "Sync{Folder{AckString=PPC1:-1.csv:-1_temp.4.csv ServerID=-1 FolderPath=-1 } } ");
    EXPECT_EQ(Prop(contacts_, key, PR_MOBILE_TELEPHONE_NUMBER), "0173");
}

TEST_F(VantroFieldsTest, AnItemDeletedOnTheDesktopAndChangedOnTheHandheldIsMadeAnewWhole) {
    std::string key =
        SyncedContact({Text(kLastName, "Doe", kContactPage), Text(kCompany, "ACME", kContactPage),
                       Text(kMobile, "0171", kContactPage)});
    contacts_.DeleteMessages({*CByteBuffer::ParseHex(key)});
    // The handheld sends only what it changed: the new mobile number, the company
    // cleared.
    std::string answer =
        Run({Box(kSync, {DeviceContacts({Modify(key, {Text(kMobile, "0172", kContactPage),
                                                      Empty(kCompany, kContactPage)})})})});
    std::string again = NewKey(contacts_, {});
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(answer, Mapping("1@S1", again));
    EXPECT_EQ(Prop(contacts_, again, PR_SURNAME), "Doe");
    EXPECT_EQ(Prop(contacts_, again, PR_MOBILE_TELEPHONE_NUMBER), "0172");
    EXPECT_EQ(Prop(contacts_, again, PR_COMPANY_NAME), "");
    EXPECT_EQ(Prop(contacts_, again, FileAsTag()), "Doe, Jane");
    EXPECT_TRUE(Traced("Item 1@S1 made anew from the fields last exchanged")) << lastTrace_;
}

TEST_F(VantroFieldsTest, AGetDataByServerIdKeepsItsDayWindowWithOrWithoutReset) {
    IMAPIFolderPtr calendar = DefaultFolder(-3);
    auto appointment = [&](const std::string& subject, std::int64_t endFileTime) {
        IMessagePtr message = calendar.CreateMessage();
        message.SetStrProp(PR_MESSAGE_CLASS, "IPM.Appointment");
        message.SetStrProp(PR_SUBJECT, subject);
        ULONG end = message.GetIDFromName(PSETID_Appointment, 0x820E, PT_SYSTIME, MAPI_CREATE);
        SPropValue value{};
        value.ulPropTag = end;
        value.Value.ft.dwLowDateTime = static_cast<DWORD>(endFileTime);
        value.Value.ft.dwHighDateTime = static_cast<DWORD>(endFileTime >> 32);
        message.SetProp(value);
        message.SaveChanges(KEEP_OPEN_READWRITE);
        return message.GetEntryID().ToText();
    };
    const std::int64_t now = static_cast<std::int64_t>(FileTimeNow());
    std::string old = appointment("Old", now - 30 * kFileTimeUnitsPerDay);
    std::string soon = appointment("Soon", now + kFileTimeUnitsPerDay);
    // Seven days by key, without Reset: only the coming appointment.
    EXPECT_EQ(Run({Box(kSync, {GetFolder("-3", false, -3)})}),
              SentFolder({"Add " + soon}, 1, "-3"));
    // With Reset the same window.
    EXPECT_EQ(Run({Box(kSync, {GetFolder("-3", true, -3)})}), SentFolder({"Add " + soon}, 2, "-3"));
    // Without a window, both.
    EXPECT_EQ(Run({Box(kSync, {GetFolder("-3")})}),
              SentFolder({"Add " + old, "Add " + soon}, 3, "-3"));
}

}  // namespace
