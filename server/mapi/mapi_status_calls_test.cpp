// The status-returning calls against a real store: they give none or empty where
// the raising side raises, and the two sides report the same failure codes.
#include "server/mapi/mapi_status_calls.h"

#include <gtest/gtest.h>

#include "server/mapi/adapter_calls.h"
#include "server/mapi/adapter_test_store.h"
#include "server/mapi/mapi_query.h"

namespace {

using adaptertest::AdapterStoreTest;
using adaptertest::Raised;

class StatusCallsTest : public AdapterStoreTest {
protected:
    std::string Id(CGenMapiPropPtr& object) {
        return GetBinaryProperty(object.GetMapiProp(), PR_ENTRYID);
    }
};

TEST_F(StatusCallsTest, OpensFoldersAndMessagesThroughSessionStoreAndContainer) {
    IMAPIFolderPtr projects = inbox.CreateFolder("Projects");
    IMessagePtr note = AddMessage(projects, "Minutes");
    const std::string folderId = Id(projects);
    const std::string messageId = Id(note);
    ASSERT_FALSE(folderId.empty());

    CMapiRef<IMAPIFolder> bySession = OpenFolderEntry(session.Get(), folderId);
    CMapiRef<IMAPIFolder> byStore = OpenFolderEntry(store.Get(), folderId);
    CMapiRef<IMAPIFolder> byContainer = OpenFolderEntry(inbox.Get(), folderId);
    for (IMAPIFolder* folder : {bySession.Get(), byStore.Get(), byContainer.Get()}) {
        ASSERT_NE(folder, nullptr);
        EXPECT_EQ(GetStringProperty(folder, PR_DISPLAY_NAME), "Projects");
    }
    CMapiRef<IMessage> message = OpenMessageEntry(store.Get(), messageId);
    ASSERT_TRUE(message);
    EXPECT_EQ(GetStringProperty(message.Get(), PR_SUBJECT), "Minutes");

    // An entry of the other kind, an empty or unknown identifier, no source: none.
    EXPECT_FALSE(OpenMessageEntry(store.Get(), folderId));
    EXPECT_FALSE(OpenFolderEntry(store.Get(), messageId));
    EXPECT_FALSE(OpenFolderEntry(store.Get(), std::string()));
    EXPECT_FALSE(OpenFolderEntry(store.Get(), std::string(folderId.size(), '\x7F')));
    EXPECT_FALSE(OpenFolderEntry(static_cast<IMsgStore*>(nullptr), folderId));
    // A string read as binary (and the reverse) is empty, not reinterpreted.
    EXPECT_EQ(GetBinaryProperty(projects.Get(), PR_DISPLAY_NAME), "");
    EXPECT_EQ(GetStringProperty(projects.Get(), PR_ENTRYID), "");
    EXPECT_EQ(GetStringProperty(nullptr, PR_DISPLAY_NAME), "");
}

TEST_F(StatusCallsTest, BothSidesReportTheSameFailures) {
    CMapiRef<IUnknown> opened;
    EXPECT_EQ(TryOpenEntry(store.Get(), 0, nullptr, 0, nullptr, opened), MAPI_E_INVALID_ENTRYID);
    EXPECT_FALSE(opened);
    EXPECT_EQ(Raised([&] { store.OpenEntry(CByteBuffer(), 0); }), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(TryOpenEntry(static_cast<IMsgStore*>(nullptr), 4, CByteBuffer("abcd", 4).EntryId(), 0,
                           nullptr, opened),
              MAPI_E_INVALID_OBJECT);

    IMessagePtr note = AddMessage(inbox, "Note");
    CByteBuffer noteId(note.GetBinaryProp(PR_ENTRYID));
    ULONG type = 0;
    ASSERT_EQ(TryOpenEntry(store.Get(), noteId.EntryIdSize(), noteId.EntryId(), 0, &type, opened),
              S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_MESSAGE));
    CMapiRef<IMAPIFolder> asFolder;
    HRESULT notAFolder = TryQueryAs(opened.Get(), asFolder);
    EXPECT_TRUE(FAILED(notAFolder));
    EXPECT_FALSE(asFolder);
    EXPECT_EQ(Raised([&] { MapiQueryAs<IMAPIFolder>(opened.Get(), "here"); }), notAFolder);
    EXPECT_EQ(TryQueryAs(nullptr, asFolder), MAPI_E_INVALID_OBJECT);

    CMapiRef<IMAPITable> table;
    EXPECT_EQ(
        TryTakeTable(static_cast<IMAPIFolder*>(nullptr), &IMAPIFolder::GetContentsTable, 0, table),
        MAPI_E_INVALID_OBJECT);
    ASSERT_EQ(TryTakeTable(inbox.Get(), &IMAPIFolder::GetContentsTable, 0, table), S_OK);
    CRowSet rows;
    ASSERT_EQ(TryQueryAllRows(table.Get(), {PR_SUBJECT}, rows), S_OK);
    ASSERT_EQ(rows.Count(), 1u);
    EXPECT_EQ(CRowSet::Text(rows[0], PR_SUBJECT), "Note");
    EXPECT_EQ(TryQueryAllRows(nullptr, {PR_SUBJECT}, rows), MAPI_E_INVALID_OBJECT);
    EXPECT_TRUE(rows.Empty());
}

TEST_F(StatusCallsTest, StoresChildFoldersPathsAndConfiguredFolders) {
    std::vector<CStoreRow> stores = ListStores(session.Get());
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_TRUE(stores[0].isDefault);
    CMapiRef<IMsgStore> opened = OpenStore(session.Get(), stores[0].entryId);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(OpenStore(session.Get(), std::string()));
    EXPECT_TRUE(ListStores(nullptr).empty());

    IMAPIFolderPtr projects = inbox.CreateFolder("Projects");
    IMAPIFolderPtr year = projects.CreateFolder("2010");
    std::vector<CChildFolder> children = ListChildFolders(projects.Get());
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].displayName, "2010");
    EXPECT_EQ(children[0].entryId, Id(year));

    const std::string storeName = stores[0].displayName;
    EXPECT_EQ(FolderFullPath(store.Get(), year.Get()), storeName + "\\Inbox\\Projects\\2010");
    EXPECT_EQ(ReceiveFolderId(store.Get(), "IPM"), Id(inbox));

    ClearStoreCache();
    // Names compare ignoring case; runs of separators count as one.
    CMapiRef<IMAPIFolder> found =
        OpenConfiguredFolder("Adapter", session.Get(), storeName + "\\\\inbox\\PROJECTS\\2010");
    ASSERT_TRUE(found);
    EXPECT_EQ(GetBinaryProperty(found.Get(), PR_ENTRYID), Id(year));
    EXPECT_FALSE(OpenConfiguredFolder("Adapter", session.Get(), storeName));
    EXPECT_FALSE(OpenConfiguredFolder("Adapter", session.Get(), storeName + "\\Inbox\\Nowhere"));
    EXPECT_FALSE(OpenConfiguredFolder("Adapter", session.Get(), "No Store\\Inbox"));
    ClearStoreCache();
}

}  // namespace
