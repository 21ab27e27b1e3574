// Stores, folders, tables, attachments and sessions through the wrappers, against a
// real store.
#include <gtest/gtest.h>

#include <functional>

#include "server/mapi/adapter_test_store.h"
#include "server/mapi/mapi_wrapper.h"
#include "server/mapi/restriction_tree.h"

namespace {

using adaptertest::AdapterStoreTest;
using adaptertest::Raised;

class ContainerTest : public AdapterStoreTest {};

std::vector<std::string> Names(IMAPITablePtr table) {
    CRowSet rows = table.QueryAllRows({PR_DISPLAY_NAME});
    std::vector<std::string> names;
    for (ULONG i = 0; i < rows.Count(); ++i)
        names.push_back(CRowSet::Text(rows[i], PR_DISPLAY_NAME));
    return names;
}

TEST_F(ContainerTest, StoreRootAndDefaultFolders) {
    IMAPIFolderPtr top = store.GetIPMRoot();
    EXPECT_EQ(top.GetStrProp(PR_DISPLAY_NAME), "Top of Personal Folders");
    std::vector<std::string> names = Names(top.GetHierarchyTable());
    for (const char* name : {"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Contacts",
                             "Calendar", "Tasks", "Notes", "Journal"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    EXPECT_EQ(inbox.GetStrProp(PR_DISPLAY_NAME), "Inbox");
    EXPECT_EQ(contacts.GetStrProp(PR_CONTAINER_CLASS), "IPF.Contact");
}

TEST_F(ContainerTest, FullPathStopsAtTheRoot) {
    IMAPIFolderPtr year = inbox.CreateFolder("Projects").CreateFolder("2010");
    EXPECT_EQ(year.GetFullPath(), "Top of Personal Folders\\Inbox\\Projects\\2010");
    EXPECT_EQ(store.GetIPMRoot().GetFullPath(), "Top of Personal Folders");
    IMAPIFolderPtr root = store.OpenRoot();
    EXPECT_EQ(root.GetFullPath(), "");
    EXPECT_EQ(IMAPIFolderPtr().GetFullPath(), "");
}

TEST_F(ContainerTest, CreateFolderOpensOrRefusesAnExistingName) {
    IMAPIFolderPtr first = inbox.CreateFolder("Archive");
    IMAPIFolderPtr second = inbox.CreateFolder("archive", OPEN_IF_EXISTS);
    EXPECT_EQ(first.GetEntryID(), second.GetEntryID());
    std::string place;
    EXPECT_EQ(Raised([&] { inbox.CreateFolder("Archive", 0); }, &place), MAPI_E_COLLISION);
    EXPECT_EQ(place, "IMAPIFolderPtr::CreateFolder");
    EXPECT_EQ(Names(inbox.GetHierarchyTable()), std::vector<std::string>{"Archive"});
}

TEST_F(ContainerTest, ContentsTableRowsAndSearches) {
    IMessagePtr a = AddMessage(inbox, "Alpha");
    IMessagePtr b = AddMessage(inbox, "Beta");
    IMessagePtr c = AddMessage(inbox, "Gamma");
    IMAPITablePtr table = inbox.GetContentsTable();
    EXPECT_EQ(table.GetRowCount(), 3u);

    CRowSet all = table.QueryAllRows({PR_ENTRYID, PR_SUBJECT, PR_MESSAGE_FLAGS});
    ASSERT_EQ(all.Count(), 3u);
    EXPECT_EQ(CRowSet::Text(all[0], PR_SUBJECT), "Alpha");
    EXPECT_EQ(CRowSet::Binary(all[1], PR_ENTRYID), b.GetEntryID());
    EXPECT_EQ(CRowSet::Text(all[2], PR_SUBJECT), "Gamma");

    table.SetColumns({PR_SUBJECT});
    table.SeekRow(BOOKMARK_BEGINNING, 0);
    CRowSet firstTwo = table.QueryRows(2);
    ASSERT_EQ(firstTwo.Count(), 2u);
    CRowSet rest = table.QueryRows(2);
    ASSERT_EQ(rest.Count(), 1u);
    EXPECT_EQ(CRowSet::Text(rest[0], PR_SUBJECT), "Gamma");
    EXPECT_TRUE(table.QueryRows(2).Empty());

    adaptertest::RestrictionTree t;
    EXPECT_TRUE(table.FindRow(t.Property(RELOP_EQ, PR_SUBJECT, t.Str(PR_SUBJECT, "Beta"))));
    CRowSet found = table.QueryRows(1);
    ASSERT_EQ(found.Count(), 1u);
    EXPECT_EQ(CRowSet::Text(found[0], PR_SUBJECT), "Beta");
    EXPECT_FALSE(table.FindRow(t.Property(RELOP_EQ, PR_SUBJECT, t.Str(PR_SUBJECT, "Delta"))));

    table.Restrict(t.Property(RELOP_GE, PR_SUBJECT, t.Str(PR_SUBJECT, "Beta")));
    EXPECT_EQ(table.GetRowCount(), 2u);
    table.Restrict(nullptr);
    EXPECT_EQ(table.GetRowCount(), 3u);
}

TEST_F(ContainerTest, TableFailuresRaiseWithTheirPlace) {
    IMAPITablePtr table = inbox.GetContentsTable();
    SRestriction bad{};
    bad.rt = 0x77;
    std::string place;
    EXPECT_NE(Raised([&] { table.Restrict(&bad); }, &place), S_OK);
    EXPECT_EQ(place, "IMAPITablePtr::Restrict");
    IMAPITablePtr none;
    EXPECT_EQ(Raised([&] { none.QueryRows(1); }, &place), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(place, "IMAPITablePtr::QueryRows");
}

TEST_F(ContainerTest, OpenEntryRefusesEmptyAndForeignIdentifiers) {
    std::string place;
    EXPECT_EQ(Raised([&] { inbox.OpenEntry(CByteBuffer(), MAPI_BEST_ACCESS); }, &place),
              MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(place, "CGenMapiContPtr::OpenEntry");
    EXPECT_NE(
        Raised([&] { inbox.OpenEntry(CByteBuffer::FromText("00000000DEADBEEF"), 0); }, &place),
        S_OK);
    EXPECT_EQ(place, "CGenMapiContPtr::OpenEntry");
    EXPECT_EQ(Raised([&] { store.OpenEntry(CByteBuffer(), 0); }), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(Raised([&] { inbox.OpenMessage(contacts.GetEntryID()); }),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    ULONG type = 0;
    inbox.OpenEntry(contacts.GetEntryID(), 0, &type);
    EXPECT_EQ(type, MAPI_FOLDER);
}

TEST_F(ContainerTest, MoveKeepsAndCopyRenewsTheIdentifier) {
    IMessagePtr moved = AddMessage(inbox, "Move me");
    IMessagePtr copied = AddMessage(inbox, "Copy me");
    IMAPIFolderPtr archive = inbox.CreateFolder("Archive");
    CByteBuffer movedId = moved.GetEntryID();
    inbox.CopyMessages({movedId}, archive, MESSAGE_MOVE);
    inbox.CopyMessages({copied.GetEntryID()}, archive, 0);

    CRowSet rows = archive.GetContentsTable().QueryAllRows({PR_ENTRYID, PR_SUBJECT});
    ASSERT_EQ(rows.Count(), 2u);
    EXPECT_EQ(CRowSet::Binary(rows[0], PR_ENTRYID), movedId);
    EXPECT_NE(CRowSet::Binary(rows[1], PR_ENTRYID), copied.GetEntryID());
    EXPECT_EQ(inbox.GetContentsTable().GetRowCount(), 1u);

    std::string place;
    EXPECT_EQ(Raised([&] { inbox.CopyMessages({movedId}, archive, MESSAGE_MOVE); }, &place),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(place, "IMAPIFolderPtr::CopyMessages");
}

TEST_F(ContainerTest, ReadFlagsAndDeletion) {
    IMessagePtr message = AddMessage(inbox, "Read me");
    CByteBuffer id = message.GetEntryID();
    inbox.SetReadFlags({id}, 0);
    EXPECT_EQ(inbox.OpenMessage(id).GetLongProp(PR_MESSAGE_FLAGS) & MSGFLAG_READ, MSGFLAG_READ);
    inbox.SetReadFlags({id}, CLEAR_READ_FLAG);
    EXPECT_EQ(inbox.OpenMessage(id).GetLongProp(PR_MESSAGE_FLAGS) & MSGFLAG_READ, 0);

    inbox.DeleteMessages({id});
    EXPECT_EQ(inbox.GetContentsTable().GetRowCount(), 0u);
    EXPECT_EQ(Raised([&] { inbox.OpenMessage(id); }), MAPI_E_NOT_FOUND);
}

TEST_F(ContainerTest, AttachmentsAndRecipients) {
    IMessagePtr message = inbox.CreateMessage();
    message.SetStrProp(PR_SUBJECT, "With files");
    std::string data(70000, '\x01');
    data[0] = 0;
    ULONG first = 0;
    IAttachPtr attach = message.CreateAttach(&first);
    attach.SetLongProp(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
    attach.SetStrProp(PR_ATTACH_LONG_FILENAME, "report.pdf");
    attach.SetProp(*CPropValue::Binary(PR_ATTACH_DATA_BIN, data.data(), data.size()).Get());
    attach.SaveChanges(0);
    IAttachPtr shortName = message.CreateAttach();
    shortName.SetStrProp(PR_ATTACH_FILENAME, "A.TXT");
    shortName.SaveChanges(0);
    message.SaveChanges(KEEP_OPEN_READWRITE);

    IMessagePtr reopened = inbox.OpenMessage(message.GetEntryID());
    CRowSet rows = reopened.GetAttachmentTable().QueryAllRows(
        {PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME});
    ASSERT_EQ(rows.Count(), 2u);
    EXPECT_EQ(CRowSet::Text(rows[0], PR_ATTACH_LONG_FILENAME), "report.pdf");
    EXPECT_EQ(CRowSet::Text(rows[1], PR_ATTACH_LONG_FILENAME), "");
    EXPECT_EQ(CRowSet::Text(rows[1], PR_ATTACH_FILENAME), "A.TXT");
    ULONG number = static_cast<ULONG>(CRowSet::Long(rows[0], PR_ATTACH_NUM, -1));
    EXPECT_EQ(number, first);
    CByteBuffer read = reopened.OpenAttach(number).GetBinaryProp(PR_ATTACH_DATA_BIN);
    EXPECT_EQ(read.Size(), data.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(read.Data()), read.Size()), data);
    std::string place;
    EXPECT_EQ(Raised([&] { reopened.OpenAttach(999); }, &place), MAPI_E_NOT_FOUND);
    EXPECT_EQ(place, "IMessagePtr::OpenAttach");

    EXPECT_TRUE(reopened.GetRecipientTable().QueryAllRows({PR_DISPLAY_NAME}).Empty());
}

TEST_F(ContainerTest, SessionStoresAndLogonFailure) {
    IMAPITablePtr stores = session.GetMsgStoresTable();
    CRowSet rows = stores.QueryAllRows({PR_DISPLAY_NAME, PR_DEFAULT_STORE});
    ASSERT_GE(rows.Count(), 1u);
    EXPECT_EQ(CRowSet::Text(rows[0], PR_DISPLAY_NAME), "Personal Folders");
    EXPECT_EQ(CRowSet::Long(rows[0], PR_DEFAULT_STORE), 1);

    IMessagePtr message = AddMessage(inbox, "Anywhere");
    CMapiRef<IUnknown> object = session.OpenEntry(message.GetEntryID(), MAPI_BEST_ACCESS);
    EXPECT_EQ(IMessagePtr::FromUnknown(object.Get()).GetStrProp(PR_SUBJECT), "Anywhere");

    std::string place;
    EXPECT_EQ(Raised([&] { IMAPISessionPtr::Logon("NoSuchProfile", MAPI_NEW_SESSION); }, &place),
              MAPI_E_LOGON_FAILED);
    EXPECT_EQ(place, "MAPILogonEx");
}

TEST_F(ContainerTest, WrappersShareAndReleaseTheirObject) {
    IMAPIFolderPtr copy = inbox;
    EXPECT_EQ(copy.Get(), inbox.Get());
    copy = contacts;  // releases the inbox reference, holds the contacts folder
    EXPECT_EQ(copy.GetStrProp(PR_DISPLAY_NAME), "Contacts");
    EXPECT_EQ(inbox.GetStrProp(PR_DISPLAY_NAME), "Inbox");
    IMAPIContainerPtr container = IMAPIContainerPtr::FromUnknown(inbox.Get());
    AddMessage(inbox, "Seen through the container");
    EXPECT_EQ(container.GetContentsTable().GetRowCount(), 1u);
    EXPECT_EQ(container.GetStrProp(PR_DISPLAY_NAME), "Inbox");
    EXPECT_EQ(Raised([&] { IMessagePtr::FromUnknown(inbox.Get()); }),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    copy.Reset();
    EXPECT_FALSE(copy);
    EXPECT_EQ(Raised([&] { copy.GetContentsTable(); }), MAPI_E_INVALID_OBJECT);
}

}  // namespace
