// Confinement of a device to its offered folders against real stores: which folders
// and items count as offered, and the folder and item operations that refuse the
// others.
#include "server/store/offered_folders.h"

#include <gtest/gtest.h>

#include "server/store/store_test_util.h"

namespace {

class OfferedFoldersTest : public StoreLayerTest {
protected:
    void SetUp() override {
        StoreLayerTest::SetUp();
        CMapiRef<IMAPIFolder> top = OpenFolderEntry(Device().session.Get(), Device().ipmSubtree);
        IMAPIFolderPtr topPtr(top);
        privateFolder_ = topPtr.CreateFolder("Private", OPEN_IF_EXISTS);
        privateChild_ = privateFolder_.CreateFolder("Deeper", OPEN_IF_EXISTS);
        shared_ = topPtr.CreateFolder("Shared", OPEN_IF_EXISTS);
        sharedChild_ = shared_.CreateFolder("Child", OPEN_IF_EXISTS);
        inbox_ = DefaultFolder(-4);
        archive_ = inbox_.CreateFolder("Archive", OPEN_IF_EXISTS);
        // The user offers "Shared" besides the default folders.
        CPocketFolder configured;
        configured.outlookPath = "Personal Folders\\Shared";
        configured.virtualPath = "Shared";
        configured.subfolders = 1;
        configured.mapiFolder = OpenFolderEntry(Device().session.Get(), Id(shared_));
        ASSERT_TRUE(configured.mapiFolder);
        Device().folders.push_back(configured);
        TakeTrace();
    }

    static std::string Id(IMAPIFolderPtr& folder) {
        CByteBuffer id = folder.GetEntryID();
        return std::string(id.Bytes().begin(), id.Bytes().end());
    }
    static std::string Key(IMAPIFolderPtr& folder) { return folder.GetEntryID().ToText(); }

    static bool Exists(IMAPIFolderPtr& folder, const std::string& key) {
        std::vector<std::string> keys = Keys(folder);
        return std::find(keys.begin(), keys.end(), key) != keys.end();
    }

    IMAPIFolderPtr privateFolder_, privateChild_, shared_, sharedChild_, inbox_, archive_;
};

TEST_F(OfferedFoldersTest, ConfiguredAndDefaultFoldersAndTheirSubFoldersAreOffered) {
    EXPECT_TRUE(IsFolderOffered(Device(), Id(inbox_)));
    EXPECT_TRUE(IsFolderOffered(Device(), Id(archive_)));
    EXPECT_TRUE(IsFolderOffered(Device(), Device().defaultFolders[kSlotContacts]));
    EXPECT_TRUE(IsFolderOffered(Device(), Device().defaultFolders[kSlotSentItems]));
    EXPECT_TRUE(IsFolderOffered(Device(), Id(shared_)));
    EXPECT_TRUE(IsFolderOffered(Device(), Id(sharedChild_)));

    EXPECT_FALSE(IsFolderOffered(Device(), Id(privateFolder_)));
    EXPECT_FALSE(IsFolderOffered(Device(), Id(privateChild_)));
    EXPECT_FALSE(IsFolderOffered(Device(), Device().ipmSubtree));
    EXPECT_FALSE(IsFolderOffered(Device(), ""));
    EXPECT_FALSE(IsFolderOffered(Device(), std::string(16, '\x01')));  // names nothing

    EXPECT_TRUE(IsFolderKeyOffered(Device(), Key(archive_)));
    EXPECT_FALSE(IsFolderKeyOffered(Device(), Key(privateChild_)));
    EXPECT_FALSE(IsFolderKeyOffered(Device(), "not hex"));

    // Without "Unterordner" a folder is offered alone; once the user no longer
    // offers "Shared", its sub-folder is out of reach too.
    Device().folders.back().subfolders = 0;
    EXPECT_TRUE(IsFolderOffered(Device(), Id(shared_)));
    EXPECT_FALSE(IsFolderOffered(Device(), Id(sharedChild_)));
    Device().folders.pop_back();
    EXPECT_FALSE(IsFolderOffered(Device(), Id(sharedChild_)));
}

TEST_F(OfferedFoldersTest, DefaultFoldersCountOnlyWhenTheRecordListsThem) {
    // The notes folder is a default folder that no record line names.
    EXPECT_FALSE(IsFolderOffered(Device(), Device().defaultFolders[kSlotNotes]));
    // A user whose record lists only the contacts reaches nothing else, the
    // inbox and its mail included.
    std::string mail = AddItem(inbox_, "mail");
    std::vector<CPocketFolder> onlyContacts;
    for (const CPocketFolder& folder : Device().folders) {
        if (folder.defaultCode == -1) onlyContacts.push_back(folder);
    }
    ASSERT_EQ(onlyContacts.size(), 1u);
    Device().folders = onlyContacts;
    EXPECT_TRUE(IsFolderOffered(Device(), Device().defaultFolders[kSlotContacts]));
    EXPECT_FALSE(IsFolderOffered(Device(), Id(inbox_)));
    EXPECT_FALSE(IsFolderOffered(Device(), Id(archive_)));
    EXPECT_FALSE(IsFolderOffered(Device(), Device().defaultFolders[kSlotTasks]));
    EXPECT_EQ(LocateItem(Device(), mail), EntryPlace::kRefused);
}

TEST_F(OfferedFoldersTest, ItemsAreJudgedByTheFolderThatHoldsThemNow) {
    std::string mail = AddItem(archive_, "mail");
    std::string secret = AddItem(privateChild_, "secret");
    std::string shared = AddItem(sharedChild_, "shared");
    EXPECT_EQ(LocateItem(Device(), mail), EntryPlace::kOffered);
    EXPECT_EQ(LocateItem(Device(), shared), EntryPlace::kOffered);
    EXPECT_EQ(LocateItem(Device(), secret), EntryPlace::kRefused);
    EXPECT_EQ(LocateItem(Device(), std::string(mail.size(), '0')), EntryPlace::kMissing);
    EXPECT_EQ(LocateItem(Device(), "XYZ"), EntryPlace::kMissing);
    EXPECT_EQ(LocateItem(Device(), ""), EntryPlace::kMissing);
    EXPECT_TRUE(IsItemOffered(Device(), mail));
    EXPECT_FALSE(IsItemOffered(Device(), secret));

    // Moved on the desktop out of the offered folders: refused from then on.
    archive_.CopyMessages({*CByteBuffer::ParseHex(mail)}, privateFolder_, MESSAGE_MOVE);
    std::vector<std::string> moved = Keys(privateFolder_);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(LocateItem(Device(), moved[0]), EntryPlace::kRefused);
}

TEST_F(OfferedFoldersTest, ItemOperationsOutsideTheOfferedFoldersAreRefused) {
    std::string secret = AddItem(privateFolder_, "secret");
    std::string archived = AddItem(archive_, "archived");
    auto* contacts = static_cast<CMobileMapiFolder*>(session_->OpenFolder("-1", "Contacts", true));
    auto* inbox = static_cast<CMobileMapiFolder*>(session_->OpenFolder("-4", "", true));
    ASSERT_TRUE(contacts->IsValid());
    TakeTrace();

    EXPECT_FALSE(contacts->GetElement(secret));
    EXPECT_EQ(TakeTrace(), "Item " + secret + " refused: not in a folder offered to device PPC1|");

    EXPECT_EQ(contacts->DeleteElement(secret), 1);
    EXPECT_TRUE(Exists(privateFolder_, secret));
    EXPECT_EQ(TakeTrace(),
              "Deleting " + secret + " refused: not in a folder offered to device PPC1|");

    EXPECT_TRUE(contacts->MoveElement(secret, inbox));
    EXPECT_TRUE(Exists(privateFolder_, secret));
    EXPECT_TRUE(Keys(inbox_).empty());
    EXPECT_EQ(TakeTrace(), "Move " + secret + " refused: not in a folder offered to device PPC1|");

    // An item of an offered folder is still deleted wherever it lies now.
    EXPECT_EQ(contacts->DeleteElement(archived), 1);
    EXPECT_FALSE(Exists(archive_, archived));
    EXPECT_EQ(TakeTrace(), "Deleting " + archived + "|");
}

TEST_F(OfferedFoldersTest, FoldersByEntryIdAreConfinedAndPathsAreCapped) {
    std::string privateKey = Key(privateFolder_);
    CAbstractVantroFolder* refused = session_->OpenFolder(privateKey, "", true);
    ASSERT_NE(refused, nullptr);
    EXPECT_FALSE(refused->IsValid());
    EXPECT_EQ(TakeTrace(), "Folder " + privateKey + " refused: not offered to device PPC1|");

    CAbstractVantroFolder* child = session_->OpenFolder(Key(sharedChild_), "", true);
    ASSERT_TRUE(child->IsValid());
    EXPECT_EQ(child->GetName(), "Child");
    EXPECT_TRUE(static_cast<CMobileMapiFolder*>(child)->IsOffered());

    // A path may reach any folder (a move may create its target), but the folder it
    // cached stays refused by entry ID.
    CAbstractVantroFolder* byPath = session_->OpenFolderByPath("Private");
    ASSERT_NE(byPath, nullptr);
    ASSERT_TRUE(byPath->IsValid());
    EXPECT_FALSE(static_cast<CMobileMapiFolder*>(byPath)->IsOffered());
    TakeTrace();
    EXPECT_FALSE(session_->OpenFolder(privateKey, "", true)->IsValid());
    EXPECT_EQ(TakeTrace(), "Folder " + privateKey + " refused: not offered to device PPC1|");

    std::string deep;
    for (int i = 0; i < 33; ++i) deep += "n/";
    EXPECT_EQ(session_->OpenFolderByPath(deep), nullptr);
    EXPECT_EQ(TakeTrace(),
              "Folder path refused: more than 32 parts or a part longer than 255 bytes "
              "(33 parts, 66 bytes)|");
    std::string exactly32;
    for (int i = 0; i < 32; ++i) exactly32 += "n/";
    EXPECT_NE(session_->OpenFolderByPath("-4/" + std::string(255, 'x')), nullptr);
    EXPECT_EQ(session_->OpenFolderByPath("-4/" + std::string(256, 'x')), nullptr);
    EXPECT_EQ(session_->OpenFolderByPath("-4/" + exactly32), nullptr);  // 33 with -4
    EXPECT_NE(session_->OpenFolderByPath(exactly32), nullptr);
}

}  // namespace
