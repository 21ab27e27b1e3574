// Folders: sub-folders, copy and move (within and across stores), delete, read flags,
// and refusal of bad entry lists without change.
#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

class FolderTest : public StoreTest {
protected:
    // The list points into held_, which lives as long as the test.
    ENTRYLIST List(std::vector<SBinary>& bins, const std::vector<std::string>& ids) {
        bins.clear();
        held_.push_back(ids);
        for (const std::string& id : held_.back())
            bins.push_back(SBinary{static_cast<ULONG>(id.size()),
                                   reinterpret_cast<LPBYTE>(const_cast<char*>(id.data()))});
        return ENTRYLIST{static_cast<ULONG>(bins.size()), bins.data()};
    }
    static std::vector<std::string> Subjects(IMAPIFolder* f) {
        ComPtr<IMAPITable> table;
        if (FAILED(f->GetContentsTable(0, table.put()))) return {};
        return Column(table.get(), PR_SUBJECT);
    }
    ComPtr<IMAPIFolder> Child(const char* name, ULONG flags = 0, HRESULT* result = nullptr) {
        ComPtr<IMAPIFolder> f;
        HRESULT hr = inbox->CreateFolder(FOLDER_GENERIC, const_cast<char*>(name), nullptr, nullptr,
                                         flags, f.put());
        if (result) *result = hr;
        return f;
    }
    std::vector<std::vector<std::string>> held_;
};

TEST_F(FolderTest, CreateFolderCollidesUnlessOpenIfExists) {
    auto projects = Child("Projects");
    ASSERT_TRUE(projects);
    HRESULT hr = S_OK;
    EXPECT_FALSE(Child("projects", 0, &hr));
    EXPECT_EQ(hr, MAPI_E_COLLISION);
    auto same = Child("PROJECTS", OPEN_IF_EXISTS, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(GetBinary(same.get(), PR_ENTRYID), GetBinary(projects.get(), PR_ENTRYID));
    EXPECT_EQ(GetBinary(projects.get(), PR_PARENT_ENTRYID), GetBinary(inbox.get(), PR_ENTRYID));
    EXPECT_EQ(GetLong(inbox.get(), PR_SUBFOLDERS) & 0xFFFF, 1);
    EXPECT_FALSE(Child("", 0, &hr));
    EXPECT_EQ(hr, MAPI_E_INVALID_PARAMETER);
    EXPECT_FALSE(Child("line\nbreak", 0, &hr));
    EXPECT_EQ(hr, MAPI_E_INVALID_PARAMETER);
    // UTF-16 names with MAPI_UNICODE.
    std::u16string wide = u"B\u00FCro";
    ComPtr<IMAPIFolder> f;
    ASSERT_EQ(inbox->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(wide.data()), nullptr,
                                  nullptr, MAPI_UNICODE, f.put()),
              S_OK);
    EXPECT_EQ(GetString(f.get(), PR_DISPLAY_NAME), "B\xC3\xBCro");
    // Folder properties are written at once.
    ASSERT_EQ(Set(f.get(), StringProp(PR_CONTAINER_CLASS, "IPF.Task")), S_OK);
    EXPECT_EQ(GetString(OpenFolder(store.get(), GetBinary(f.get(), PR_ENTRYID)).get(),
                        PR_CONTAINER_CLASS),
              "IPF.Task");
}

TEST_F(FolderTest, FoldersNestOnlyToTheDepthLimit) {
    ComPtr<IMAPIFolder> cur = inbox;
    HRESULT hr = S_OK;
    int made = 0;
    while (made < 100) {
        ComPtr<IMAPIFolder> next;
        hr = cur->CreateFolder(FOLDER_GENERIC, const_cast<char*>("d"), nullptr, nullptr, 0,
                               next.put());
        if (FAILED(hr)) break;
        cur = next;
        ++made;
    }
    EXPECT_EQ(hr, MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(made, 64 - 2);  // the inbox sits at depth 2 below the root; the last folder at 64
}

TEST_F(FolderTest, MoveKeepsTheEntryIdCopyGetsANewOne) {
    auto target = Child("Target");
    std::string a = AddMessage(inbox.get(), "a");
    std::string b = AddMessage(inbox.get(), "b");
    std::vector<SBinary> bins;
    ENTRYLIST listA = List(bins, {a});
    ASSERT_EQ(inbox->CopyMessages(&listA, nullptr, target.get(), 0, nullptr, MESSAGE_MOVE), S_OK);
    EXPECT_EQ(Subjects(inbox.get()), (std::vector<std::string>{"b"}));
    EXPECT_EQ(Subjects(target.get()), (std::vector<std::string>{"a"}));
    auto moved = OpenMessage(store.get(), a);
    ASSERT_TRUE(moved);
    EXPECT_EQ(GetBinary(moved.get(), PR_PARENT_ENTRYID), GetBinary(target.get(), PR_ENTRYID));

    ENTRYLIST listB = List(bins, {b});
    ASSERT_EQ(inbox->CopyMessages(&listB, nullptr, target.get(), 0, nullptr, 0), S_OK);
    EXPECT_EQ(Subjects(inbox.get()), (std::vector<std::string>{"b"}));
    EXPECT_EQ(Subjects(target.get()), (std::vector<std::string>{"a", "b"}));
    const std::vector<std::string> ids = MessageIds(target.get());
    ASSERT_EQ(ids.size(), 2u);
    const std::string& copyId = ids[1];
    EXPECT_NE(copyId, b);
    EXPECT_EQ(GetString(OpenMessage(store.get(), copyId).get(), PR_SUBJECT), "b");
}

TEST_F(FolderTest, AnEntryOutsideTheFolderFailsTheWholeListAndChangesNothing) {
    auto target = Child("Target");
    std::string a = AddMessage(inbox.get(), "a");
    std::string elsewhere = AddMessage(contacts.get(), "c");
    std::vector<SBinary> bins;
    ENTRYLIST list = List(bins, {a, elsewhere});
    EXPECT_EQ(inbox->CopyMessages(&list, nullptr, target.get(), 0, nullptr, MESSAGE_MOVE),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), MAPI_E_NOT_FOUND);
    EXPECT_EQ(Subjects(inbox.get()), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(Subjects(target.get()).empty());
    // Identifiers of another form are refused as such.
    ENTRYLIST junk = List(bins, {std::string("\x01\x02\x03", 3)});
    EXPECT_EQ(inbox->DeleteMessages(&junk, 0, nullptr, 0), MAPI_E_INVALID_ENTRYID);
    ComPtr<IUnknown> unk;
    ULONG type = 0;
    EXPECT_EQ(store->OpenEntry(3, Eid("\x01\x02\x03"), nullptr, 0, &type, unk.put()),
              MAPI_E_INVALID_ENTRYID);
    std::string unknown = a;
    unknown.back() ^= 0x55;
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(unknown.size()), Eid(unknown), nullptr, 0, &type,
                               unk.put()),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(inbox->CopyMessages(&list, nullptr, nullptr, 0, nullptr, 0),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(Subjects(inbox.get()), (std::vector<std::string>{"a"}));
}

TEST_F(FolderTest, AcrossStoresACopyWorksAndAMoveIsRefused) {
    ASSERT_EQ(HrCreateMsgStore("Test", "Archive", 0, nullptr, nullptr), S_OK);
    auto second = OpenDefaultStore(session.get(), false);
    ASSERT_TRUE(second);
    auto otherInbox = OpenFolder(second.get(), GetBinary(second.get(), PR_IPM_OUTBOX_ENTRYID));
    ASSERT_TRUE(otherInbox);
    ComPtr<IMessage> m;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, m.put()), S_OK);
    ULONG num = 0;
    ComPtr<IAttach> att;
    ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, att.put()), S_OK);
    ASSERT_EQ(Set(att.get(), BinaryProp(PR_ATTACH_DATA_BIN, "payload")), S_OK);
    ASSERT_EQ(att->SaveChanges(0), S_OK);
    ASSERT_EQ(Set(m.get(), StringProp(PR_SUBJECT, "travels")), S_OK);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    std::string id = GetBinary(m.get(), PR_ENTRYID);
    std::vector<SBinary> bins;
    ENTRYLIST list = List(bins, {id});
    EXPECT_EQ(inbox->CopyMessages(&list, nullptr, otherInbox.get(), 0, nullptr, MESSAGE_MOVE),
              MAPI_E_NO_SUPPORT);
    EXPECT_TRUE(Subjects(otherInbox.get()).empty());
    ASSERT_EQ(inbox->CopyMessages(&list, nullptr, otherInbox.get(), 0, nullptr, 0), S_OK);
    EXPECT_EQ(Subjects(otherInbox.get()), (std::vector<std::string>{"travels"}));
    EXPECT_EQ(Subjects(inbox.get()), (std::vector<std::string>{"travels"}));
    // The copy carries its attachment.
    const std::vector<std::string> ids = MessageIds(otherInbox.get());
    ASSERT_EQ(ids.size(), 1u);
    auto copy = OpenMessage(second.get(), ids[0]);
    ASSERT_TRUE(copy);
    ComPtr<IAttach> copied;
    ASSERT_EQ(copy->OpenAttach(0, nullptr, 0, copied.put()), S_OK);
    EXPECT_EQ(GetBinary(copied.get(), PR_ATTACH_DATA_BIN), "payload");
}

TEST_F(FolderTest, SetReadFlagsWithAndWithoutClearLeavesModificationTimes) {
    std::string a = AddMessage(inbox.get(), "a");
    std::string b = AddMessage(inbox.get(), "b");
    std::uint64_t before = GetTime(OpenMessage(store.get(), a).get(), PR_LAST_MODIFICATION_TIME);
    std::vector<SBinary> bins;
    ENTRYLIST list = List(bins, {a});
    ASSERT_EQ(inbox->SetReadFlags(&list, 0, nullptr, 0), S_OK);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(inbox->GetContentsTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_MESSAGE_FLAGS), (std::vector<std::string>{"1", "0"}));
    EXPECT_EQ(GetLong(inbox.get(), PR_CONTENT_UNREAD), 1);
    ASSERT_EQ(inbox->SetReadFlags(nullptr, 0, nullptr, 0), S_OK);
    EXPECT_EQ(Column(table.get(), PR_MESSAGE_FLAGS), (std::vector<std::string>{"1", "1"}));
    ASSERT_EQ(inbox->SetReadFlags(&list, 0, nullptr, CLEAR_READ_FLAG), S_OK);
    EXPECT_EQ(Column(table.get(), PR_MESSAGE_FLAGS), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(GetTime(OpenMessage(store.get(), a).get(), PR_LAST_MODIFICATION_TIME), before);
    EXPECT_EQ(GetLong(inbox.get(), PR_CONTENT_COUNT), 2);
}

TEST_F(FolderTest, DeleteMessagesAndFolders) {
    auto sub = Child("Sub");
    std::string id = AddMessage(sub.get(), "x");
    std::vector<SBinary> bins;
    std::string subId = GetBinary(sub.get(), PR_ENTRYID);
    EXPECT_EQ(inbox->DeleteFolder(static_cast<ULONG>(subId.size()), Eid(subId), 0, nullptr, 0),
              MAPI_E_HAS_MESSAGES);
    ENTRYLIST list = List(bins, {id});
    ASSERT_EQ(sub->DeleteMessages(&list, 0, nullptr, 0), S_OK);
    EXPECT_FALSE(OpenMessage(store.get(), id));
    ASSERT_EQ(inbox->DeleteFolder(static_cast<ULONG>(subId.size()), Eid(subId), 0, nullptr, 0),
              S_OK);
    EXPECT_FALSE(OpenFolder(store.get(), subId));
    EXPECT_EQ(Set(sub.get(), StringProp(PR_COMMENT, "late")), MAPI_E_OBJECT_DELETED);
}

TEST_F(FolderTest, ReadOnlyFoldersRefuseChanges) {
    auto ro = OpenFolder(store.get(), InboxId(), 0);
    ComPtr<IMessage> m;
    EXPECT_EQ(ro->CreateMessage(nullptr, 0, m.put()), MAPI_E_NO_ACCESS);
    EXPECT_EQ(Set(ro.get(), StringProp(PR_COMMENT, "x")), MAPI_E_NO_ACCESS);
}

TEST_F(FolderTest, HierarchyTableWithDepth) {
    auto a = Child("A");
    ComPtr<IMAPIFolder> b;
    ASSERT_EQ(a->CreateFolder(FOLDER_GENERIC, const_cast<char*>("B"), nullptr, nullptr, 0, b.put()),
              S_OK);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(inbox->GetHierarchyTable(CONVENIENT_DEPTH, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_DISPLAY_NAME), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(Column(table.get(), PR_DEPTH), (std::vector<std::string>{"1", "2"}));
    table.reset();
    ASSERT_EQ(inbox->GetHierarchyTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_DISPLAY_NAME), (std::vector<std::string>{"A"}));
}

}  // namespace
}  // namespace mapitest
