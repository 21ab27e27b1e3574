// The session against real stores: log-on, opening folders by class name, code,
// key and path, the per-device folder cache, and the class name of cached folders.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/base/text.h"
#include "common/wbxml/wbxml_literals.h"
#include "platform/win/message_box.h"
#include "server/store/mapi_server.h"
#include "server/store/store_test_util.h"

namespace {

class SessionTest : public StoreLayerTest {
protected:
    std::string FolderPath(CAbstractVantroFolder* folder) {
        return session_->GetFolderPath(folder);
    }

    // Names of the direct sub-folders of folder, joined with ",".
    static std::string ChildNames(IMAPIFolderPtr& folder) {
        std::string names;
        CRowSet rows = folder.GetHierarchyTable().QueryAllRows({PR_DISPLAY_NAME});
        for (ULONG i = 0; i < rows.Count(); ++i) {
            if (!names.empty()) names += ",";
            names += CRowSet::Text(rows[i], PR_DISPLAY_NAME);
        }
        return names;
    }

    IMAPIFolderPtr Top() {
        CMapiRef<IMAPIFolder> top = OpenFolderEntry(Device().session.Get(), Device().ipmSubtree);
        return IMAPIFolderPtr(top);
    }
};

TEST_F(SessionTest, LogonMakesTheDeviceCurrentAndAFailedOneClearsIt) {
    ASSERT_NE(session_->CurrentDevice(), nullptr);
    EXPECT_EQ(Device().Config()->DeviceID, "PPC1");
    EXPECT_EQ(settings_->DeviceNames().at("PPC1"), "Pocket");
    EXPECT_FALSE(Device().defaultFolders[kSlotContacts].empty());

    session_->BeginRequest();
    EXPECT_EQ(session_->CurrentDevice(), nullptr);
    EXPECT_EQ(session_->OpenFolder("-1", "Contacts", true), nullptr);
    EXPECT_EQ(session_->OpenFolderByPath("-4/Archive"), nullptr);
    EXPECT_FALSE(session_->Logon("PPC1", "Pocket", "alice", "wrong"));
    EXPECT_EQ(session_->CurrentDevice(), nullptr);
    EXPECT_EQ(session_->OpenStockFolder("-1"), nullptr);
}

TEST_F(SessionTest, OpenFolderByClassNameAndByCode) {
    CAbstractVantroFolder* contacts = session_->OpenFolder("", "Contacts", true);
    ASSERT_NE(contacts, nullptr);
    ASSERT_TRUE(contacts->IsValid());
    EXPECT_EQ(contacts->GetKey(), "-1");
    EXPECT_EQ(contacts->GetDisplayName(), "Contacts");
    EXPECT_EQ(contacts->GetClassName(), "Contacts");  // the kind name the device sent
    EXPECT_EQ(session_->OpenStockFolder("-1"), contacts);

    CAbstractVantroFolder* inbox = session_->OpenFolder("-4", "", true);
    ASSERT_TRUE(inbox->IsValid());
    EXPECT_EQ(inbox->GetName(), "Inbox");
    EXPECT_EQ(inbox->GetClassName(), "Email");
    // The hexadecimal key of a default folder finds it under its code.
    std::string inboxHex = HexEncode(Device().defaultFolders[kSlotInbox]);
    EXPECT_EQ(session_->OpenFolder(inboxHex, "", true), inbox);

    // An unknown class name opens nothing; the object comes back unopened.
    TakeTrace();
    CAbstractVantroFolder* none = session_->OpenFolder("", "Journal", true);
    ASSERT_NE(none, nullptr);
    EXPECT_FALSE(none->IsValid());
    EXPECT_EQ(TakeTrace(), "PPC1 error opening folder|");
    // A key that is not hexadecimal opens nothing either.
    EXPECT_FALSE(session_->OpenFolder("ZZ", "", true)->IsValid());
    EXPECT_FALSE(session_->OpenFolder("0A1", "", true)->IsValid());
}

TEST_F(SessionTest, SentItemsKeepTheirHexKeyAndOpenASecondObject) {
    CAbstractVantroFolder* first = session_->OpenFolder("-7", "", true);
    ASSERT_TRUE(first->IsValid());
    std::string sentHex = HexEncode(Device().defaultFolders[kSlotSentItems]);
    EXPECT_EQ(first->GetKey(), sentHex);
    size_t cached = session_->CacheSize();
    CAbstractVantroFolder* second = session_->OpenFolder("-7", "", true);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->GetKey(), sentHex);
    // The second replaces the first in the cache; the first stays usable in this request.
    EXPECT_EQ(session_->CacheSize(), cached);
    EXPECT_EQ(session_->OpenStockFolder(sentHex), second);
    EXPECT_EQ(first->GetName(), "Sent Items");
    EXPECT_EQ(FolderPath(second), "-7");
}

TEST_F(SessionTest, CachedFolderTakesTheKindNameOfEachRequest) {
    CAbstractVantroFolder* folder = session_->OpenFolder("-1", "Contacts", true);
    EXPECT_EQ(folder->GetClassName(), "Contacts");
    EXPECT_EQ(session_->OpenFolder("-1", "", true), folder);
    EXPECT_EQ(folder->GetClassName(), "Contact");  // derived from IPF.Contact
    EXPECT_EQ(session_->OpenFolder("-1", "Contacts", true), folder);
    EXPECT_EQ(folder->GetClassName(), "Contacts");
}

TEST_F(SessionTest, EachDeviceHasItsOwnFolderObjects) {
    CAbstractVantroFolder* alice = session_->OpenFolder("-1", "Contacts", true);
    IMAPIFolderPtr aliceContacts = DefaultFolder(-1);
    AddItem(aliceContacts, "Anna", "IPM.Contact");

    NewRequest("PPC2", "bob");
    CAbstractVantroFolder* bob = session_->OpenFolder("-1", "Contacts", true);
    ASSERT_NE(bob, alice);
    EXPECT_NE(static_cast<CMobileMapiFolder*>(bob)->EntryId(),
              static_cast<CMobileMapiFolder*>(alice)->EntryId());
    EXPECT_EQ(bob->GetChangeCount(), 0);
    EXPECT_EQ(session_->OpenStockFolder("-1"), bob);

    NewRequest("PPC1", "alice");
    EXPECT_EQ(session_->OpenStockFolder("-1"), alice);
}

TEST_F(SessionTest, OpenFolderByPathCreatesMissingFolders) {
    CAbstractVantroFolder* folder = session_->OpenFolderByPath("Projects/2010");
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(folder->IsValid());
    EXPECT_EQ(folder->GetName(), "2010");
    EXPECT_EQ(FolderPath(folder), "Projects/2010");
    // Opening it again finds the same folder and creates nothing.
    EXPECT_EQ(session_->OpenFolderByPath("/Projects//2010/"), folder);
    IMAPIFolderPtr top = Top();
    std::string names = ChildNames(top);
    EXPECT_EQ(std::count(names.begin(), names.end(), 'P'), 1) << names;

    CAbstractVantroFolder* archive = session_->OpenFolderByPath("-4/Archive");
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->GetName(), "Archive");
    EXPECT_EQ(FolderPath(archive), "-4/Archive");
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    EXPECT_EQ(ChildNames(inbox), "Archive");
    EXPECT_EQ(session_->OpenFolderByPath("-4"), session_->OpenFolder("-4", "", true));
}

TEST_F(SessionTest, OpenFolderByPathLimits) {
    std::string deep;
    for (size_t i = 0; i < CMobileMapiSession::kMaxPathParts + 1; ++i) deep += "a/";
    EXPECT_EQ(session_->OpenFolderByPath(deep), nullptr);
    EXPECT_EQ(
        session_->OpenFolderByPath(std::string(CMobileMapiSession::kMaxPathPartLength + 1, 'x')),
        nullptr);
    EXPECT_EQ(session_->OpenFolderByPath("//"), nullptr);
    IMAPIFolderPtr top = Top();
    EXPECT_EQ(ChildNames(top).find("a,"), std::string::npos);
}

TEST_F(SessionTest, ClassNamesDerivedFromTheFolderClass) {
    EXPECT_EQ(session_->OpenFolder("-3", "", true)->GetClassName(), "Appointment");
    EXPECT_EQ(session_->OpenFolder("-2", "", true)->GetClassName(), "Task");
    // The notes folder has no default code: the user lists it as a folder.
    CPocketFolder listed;
    listed.outlookPath = "Personal Folders\\Notes";
    listed.mapiFolder =
        OpenFolderEntry(Device().session.Get(), Device().defaultFolders[kSlotNotes]);
    Device().folders.push_back(listed);
    CAbstractVantroFolder* notes =
        session_->OpenFolder(HexEncode(Device().defaultFolders[kSlotNotes]), "", true);
    ASSERT_TRUE(notes->IsValid());
    EXPECT_EQ(notes->GetClassName(), "");  // IPF.StickyNote
    EXPECT_EQ(notes->GetDisplayName(), "Notes");
}

TEST_F(SessionTest, BaseSessionDefaultsAndTheNameMap) {
    EXPECT_FALSE(session_->StoreNames("a", "b"));
    struct PlainSession : CAbstractVantroSession {
        bool Logon(const std::string&, const std::string&, const std::string&,
                   const std::string&) override {
            return false;
        }
        CAbstractVantroFolder* OpenFolder(const std::string&, const std::string&, bool) override {
            return nullptr;
        }
        CAbstractVantroFolder* OpenFolderByPath(const std::string&) override { return nullptr; }
        std::string GetFolderPath(CAbstractVantroFolder*) override { return ""; }
    } plain;
    std::string box;
    SetMessageBoxSink([&box](const std::string& text, const std::string&) { box = text; });
    EXPECT_EQ(plain.OpenStockFolder("-1"), nullptr);
    SetMessageBoxSink(nullptr);
    EXPECT_EQ(box, "OpenStockFolder not implemented");
    EXPECT_TRUE(plain.StoreNames("x", "y"));
    EXPECT_TRUE(plain.StoreNames("x", "z"));
    EXPECT_EQ(plain.NameMap().at("x"), "y");
}

TEST_F(SessionTest, WithoutItemConversionItemsReportIt) {
    CMobileMapiServer server(session_.get());
    CWBXMLLiterals fields;
    TakeTrace();
    EXPECT_EQ(
        server.FindOrCreateItem(session_->OpenFolder("-1", "Contacts", true), fields, "Contacts"),
        nullptr);
    EXPECT_NE(TakeTrace().find("FindOrCreateItem: item conversion not available|"),
              std::string::npos);
}

}  // namespace
