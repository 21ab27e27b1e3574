// Item and sub-folder operations of store folders against real stores: opening,
// creating, deleting and moving items, walking the change list as elements, read
// flags, and sub-folders.
#include <gtest/gtest.h>

#include "server/mapi/mapi_store_ptrs.h"
#include "server/store/store_test_util.h"

namespace {

class FolderItemsTest : public StoreLayerTest {
protected:
    CMobileMapiFolder* Open(const std::string& key, const std::string& className = "") {
        auto* folder = static_cast<CMobileMapiFolder*>(session_->OpenFolder(key, className, true));
        EXPECT_TRUE(folder != nullptr && folder->IsValid());
        return folder;
    }
};

TEST_F(FolderItemsTest, GetElementOpensOnlyKeysThatNameAnItem) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string key = AddItem(inbox, "hello");
    CMobileMapiFolder* folder = Open("-4");
    std::unique_ptr<CAbstractVantroElement> element = folder->GetElement(key);
    ASSERT_TRUE(element);
    EXPECT_EQ(element->GetKey(), key);
    EXPECT_EQ(element->GetEntryIdText(), key);
    EXPECT_EQ(element->GetReadFlag(), 0);

    EXPECT_FALSE(folder->GetElement(""));
    EXPECT_FALSE(folder->GetElement("ZZ"));
    EXPECT_FALSE(folder->GetElement(key.substr(1)));                 // odd length
    EXPECT_FALSE(folder->GetElement(std::string(key.size(), '0')));  // names nothing
    // Lower-case digits spell the same bytes.
    std::string lower = key;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_TRUE(folder->GetElement(lower));
}

TEST_F(FolderItemsTest, NewElementTakesTheMessageClassOfTheFolderKind) {
    struct Case {
        const char* key;
        const char* className;
        const char* messageClass;
    };
    for (const Case& c : {Case{"-1", "Contacts", "IPM.Contact"}, Case{"-2", "", "IPM.Task"},
                          Case{"-3", "", "IPM.Appointment"}, Case{"-4", "", "IPM.Post"}}) {
        std::unique_ptr<CAbstractVantroElement> element = Open(c.key, c.className)->NewElement();
        ASSERT_TRUE(element);
        IMessagePtr& message = static_cast<CMobileMapiMessage*>(element.get())->Message();
        EXPECT_EQ(message.GetPropText(PR_MESSAGE_CLASS), c.messageClass) << c.key;
    }
}

TEST_F(FolderItemsTest, NextChangedElementWalksTheListOnce) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a = AddItem(inbox, "a");
    CMobileMapiFolder* folder = Open("-4");
    ASSERT_TRUE(folder->PrepareChanges(0));
    std::unique_ptr<CAbstractVantroElement> element = folder->NextChangedElement();
    ASSERT_TRUE(element);
    EXPECT_EQ(element->GetState(), kStateAdd);
    EXPECT_EQ(element->GetKey(), a);
    EXPECT_TRUE(static_cast<CMobileMapiMessage*>(element.get())->Message());
    EXPECT_FALSE(folder->NextChangedElement());
    EXPECT_FALSE(folder->NextChangedElement());
    folder->PrepareChanges(0);
    ASSERT_TRUE(folder->NextChangedElement());
    EXPECT_EQ(folder->GetChangeEntry(0)->GetFolder(), folder);
    EXPECT_EQ(folder->GetChangeEntry(1), nullptr);
    EXPECT_EQ(folder->GetChangeEntry(-1), nullptr);
}

TEST_F(FolderItemsTest, ElementsCarryTheStateOfTheirChange) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string gone = AddItem(inbox, "gone");
    std::string read = AddItem(inbox, "read");
    std::string changed = AddItem(inbox, "changed");
    CMobileMapiFolder* folder = Open("-4", "Email");
    ASSERT_TRUE(folder->SaveStatus(0));
    Acknowledge("-4");
    inbox.DeleteMessages({*CByteBuffer::ParseHex(gone)});
    inbox.SetReadFlags({*CByteBuffer::ParseHex(read)}, 0);
    TouchItem(inbox, changed, "changed again");
    NewRequest();
    folder->PrepareChanges(0);
    std::string states;
    while (std::unique_ptr<CAbstractVantroElement> element = folder->NextChangedElement()) {
        states += std::to_string(element->GetState()) + " " + element->GetKey() + " " +
                  std::to_string(element->GetReadFlag()) + "\n";
    }
    EXPECT_EQ(states, "4 " + read + " 1\n3 " + changed + " 0\n2 " + gone + " 0\n");
}

TEST_F(FolderItemsTest, SetReadFlagMarksTheItem) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string key = AddItem(inbox, "mail");
    CMobileMapiFolder* folder = Open("-4");
    std::unique_ptr<CAbstractVantroElement> element = folder->GetElement(key);
    element->SetReadFlag(1);
    EXPECT_EQ(OpenItem(inbox, key).GetLongProp(PR_MESSAGE_FLAGS) & MSGFLAG_READ, 1);
    EXPECT_EQ(folder->GetElement(key)->GetReadFlag(), 1);
    element->SetReadFlag(0);
    EXPECT_EQ(OpenItem(inbox, key).GetLongProp(PR_MESSAGE_FLAGS) & MSGFLAG_READ, 0);
    EXPECT_EQ(element->ReadValue(), 0);
}

TEST_F(FolderItemsTest, DeleteRemovesTheItemWhereverItNowLies) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string key = AddItem(inbox, "moved meanwhile");
    CMobileMapiFolder* folderA = Open("-4");
    auto* folderB = static_cast<CMobileMapiFolder*>(session_->OpenFolderByPath("-4/Archive"));
    ASSERT_TRUE(folderB && folderB->IsValid());
    inbox.CopyMessages({*CByteBuffer::ParseHex(key)}, folderB->MapiFolder(), MESSAGE_MOVE);
    ASSERT_EQ(Keys(folderB->MapiFolder()), std::vector<std::string>{key});

    TakeTrace();
    EXPECT_EQ(folderA->DeleteElement(key), 1);
    EXPECT_TRUE(Keys(folderB->MapiFolder()).empty());
    EXPECT_TRUE(Keys(inbox).empty());
    EXPECT_EQ(TakeTrace(), "Deleting " + key + "|");

    // Keys that name no item touch nothing and still give 1.
    std::string other = AddItem(inbox, "stays");
    EXPECT_EQ(folderA->DeleteElement("ZZ"), 1);
    EXPECT_EQ(folderA->DeleteElement(""), 1);
    EXPECT_EQ(folderA->DeleteElement(key), 1);  // already gone
    EXPECT_EQ(Keys(inbox), std::vector<std::string>{other});
}

TEST_F(FolderItemsTest, MoveWithinTheStoreKeepsTheKey) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string key = AddItem(inbox, "to archive");
    CMobileMapiFolder* folder = Open("-4");
    CAbstractVantroFolder* archive = session_->OpenFolderByPath("-4/Archive");
    EXPECT_TRUE(folder->MoveElement(key, archive));
    EXPECT_TRUE(Keys(inbox).empty());
    EXPECT_EQ(Keys(static_cast<CMobileMapiFolder*>(archive)->MapiFolder()),
              std::vector<std::string>{key});
    EXPECT_TRUE(folder->MoveElement("not hex", archive));
}

TEST_F(FolderItemsTest, MoveToAnotherStoreLeavesACopy) {
    ULONG size = 0;
    CMapiBuffer<ENTRYID> id;
    ASSERT_EQ(HrCreateMsgStore("P1", "Archive Store", 0, &size, id.Put()), S_OK);
    std::string storeId(reinterpret_cast<const char*>(id.Get()), size);
    CMapiRef<IMsgStore> store = OpenStore(Device().session.Get(), storeId);
    ASSERT_TRUE(store);
    IMsgStorePtr otherStore(store);
    IMAPIFolderPtr otherTop =
        otherStore.OpenFolder(otherStore.GetBinaryProp(PR_IPM_SUBTREE_ENTRYID));
    CMobileMapiFolder target(&Device(), session_.get(), otherTop.CreateFolder("Target"));

    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string key = AddItem(inbox, "copied");
    CMobileMapiFolder* folder = Open("-4");
    TakeTrace();
    EXPECT_TRUE(folder->MoveElement(key, &target));
    EXPECT_EQ(Keys(inbox), std::vector<std::string>{key});
    std::vector<std::string> copies = Keys(target.MapiFolder());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_NE(copies[0], key);
    EXPECT_EQ(OpenItem(target.MapiFolder(), copies[0]).GetPropText(PR_SUBJECT), "copied");
    EXPECT_EQ(TakeTrace(), "Move fell back to copy " + key + "|");
}

TEST_F(FolderItemsTest, SubFolders) {
    CMobileMapiFolder* tasks = Open("-2");
    EXPECT_FALSE(tasks->HasFolders());
    EXPECT_EQ(tasks->GetSubFolder(0), nullptr);

    CAbstractVantroFolder* archive = session_->OpenFolderByPath("-4/Archive");
    session_->OpenFolderByPath("-4/Beta");
    CMobileMapiFolder* inbox = Open("-4");
    ASSERT_TRUE(inbox->HasFolders());
    CAbstractVantroFolder* first = inbox->GetSubFolder(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, archive);  // the session's cached object
    CAbstractVantroFolder* second = inbox->GetSubFolder(1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetName(), "Beta");
    EXPECT_EQ(inbox->GetSubFolder(2), nullptr);
    EXPECT_EQ(inbox->GetSubFolder(-1), nullptr);
    EXPECT_EQ(second->GetClassName(), "Email");
    EXPECT_EQ(session_->OpenFolder(second->GetKey(), "", true), second);
    EXPECT_EQ(inbox->OpenSubFolder("ZZ"), nullptr);
}

}  // namespace
