// Profiles, the default store with its folders, further stores, and bad stores.
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

using ProfileTest = StoreTest;

std::string FolderName(IMsgStore* store, const std::string& id) {
    auto folder = StoreTest::OpenFolder(store, id);
    return folder ? GetString(folder.get(), PR_DISPLAY_NAME) + "|" +
                        GetString(folder.get(), PR_CONTAINER_CLASS)
                  : "<none>";
}

TEST_F(ProfileTest, NewStoreHasTheDefaultFoldersAndPointersToThem) {
    EXPECT_EQ(GetString(store.get(), PR_DISPLAY_NAME), "Personal Folders");
    auto ipm = OpenFolder(store.get(), GetBinary(store.get(), PR_IPM_SUBTREE_ENTRYID));
    ASSERT_TRUE(ipm);
    EXPECT_EQ(GetString(ipm.get(), PR_DISPLAY_NAME), "Top of Personal Folders");
    ComPtr<IMAPITable> table;
    ASSERT_EQ(ipm->GetHierarchyTable(0, table.put()), S_OK);
    std::vector<std::string> names = Column(table.get(), PR_DISPLAY_NAME);
    std::vector<std::string> classes = Column(table.get(), PR_CONTAINER_CLASS);
    std::string listing;
    for (std::size_t k = 0; k < names.size(); ++k) listing += names[k] + "=" + classes[k] + ";";
    EXPECT_EQ(
        listing,
        "Inbox=IPF.Note;Outbox=IPF.Note;Sent Items=IPF.Note;Deleted Items=IPF.Note;Drafts=IPF.Note;"
        "Contacts=IPF.Contact;Calendar=IPF.Appointment;Tasks=IPF.Task;Notes=IPF.StickyNote;"
        "Journal=IPF.Journal;");

    EXPECT_EQ(FolderName(store.get(), InboxId()), "Inbox|IPF.Note");
    // Where each special folder is named: on the store, or on the inbox.
    struct Special {
        IMAPIProp* holder;
        ULONG tag;
        const char* folder;
    };
    for (const Special& special : {
             Special{store.get(), PR_IPM_OUTBOX_ENTRYID, "Outbox|IPF.Note"},
             Special{store.get(), PR_IPM_WASTEBASKET_ENTRYID, "Deleted Items|IPF.Note"},
             Special{store.get(), PR_IPM_SENTMAIL_ENTRYID, "Sent Items|IPF.Note"},
             Special{inbox.get(), PR_IPM_APPOINTMENT_ENTRYID, "Calendar|IPF.Appointment"},
             Special{inbox.get(), PR_IPM_CONTACT_ENTRYID, "Contacts|IPF.Contact"},
             Special{inbox.get(), PR_IPM_DRAFTS_ENTRYID, "Drafts|IPF.Note"},
             Special{inbox.get(), PR_IPM_JOURNAL_ENTRYID, "Journal|IPF.Journal"},
             Special{inbox.get(), PR_IPM_NOTE_ENTRYID, "Notes|IPF.StickyNote"},
             Special{inbox.get(), PR_IPM_TASK_ENTRYID, "Tasks|IPF.Task"},
         })
        EXPECT_EQ(FolderName(store.get(), GetBinary(special.holder, special.tag)), special.folder)
            << special.folder;

    // The receive folder of a more specific class falls back to "IPM".
    ULONG cb = 0;
    LPENTRYID eid = nullptr;
    LPTSTR matched = nullptr;
    ASSERT_EQ(store->GetReceiveFolder(const_cast<char*>("IPM.Note"), 0, &cb, &eid, &matched), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(eid), cb), InboxId());
    EXPECT_STREQ(matched, "IPM");
    MAPIFreeBuffer(eid);
    MAPIFreeBuffer(matched);
}

TEST_F(ProfileTest, RootFolderHasNoParentAndIsGenericBelow) {
    ComPtr<IUnknown> unk;
    ULONG type = 0;
    ASSERT_EQ(store->OpenEntry(0, nullptr, nullptr, 0, &type, unk.put()), S_OK);
    ASSERT_EQ(type, MAPI_FOLDER);
    auto* root = static_cast<IMAPIFolder*>(unk.get());
    EXPECT_EQ(GetError(root, PR_PARENT_ENTRYID), MAPI_E_NOT_FOUND);
    EXPECT_EQ(GetLong(root, PR_FOLDER_TYPE), static_cast<LONG>(FOLDER_ROOT));
    EXPECT_EQ(GetLong(inbox.get(), PR_FOLDER_TYPE), static_cast<LONG>(FOLDER_GENERIC));
    auto ipm = OpenFolder(store.get(), GetBinary(store.get(), PR_IPM_SUBTREE_ENTRYID));
    EXPECT_EQ(GetBinary(ipm.get(), PR_PARENT_ENTRYID), GetBinary(root, PR_ENTRYID));
}

TEST_F(ProfileTest, ProfileTableListsProfilesWithDisplayNamesAndDefault) {
    ComPtr<IProfAdmin> admin;
    ASSERT_EQ(MAPIAdminProfiles(0, admin.put()), S_OK);
    ASSERT_EQ(admin->CreateProfile(const_cast<char*>("Default"), nullptr, 0, 0), S_OK);
    ASSERT_EQ(admin->CreateProfile(const_cast<char*>("Zed"), nullptr, 0, 0), S_OK);
    EXPECT_EQ(admin->CreateProfile(const_cast<char*>("Zed"), nullptr, 0, 0), MAPI_E_NO_ACCESS);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(admin->GetProfileTable(0, table.put()), S_OK);
    std::vector<std::string> names = Column(table.get(), PR_DISPLAY_NAME);
    std::vector<std::string> defaults = Column(table.get(), PR_DEFAULT_PROFILE);
    std::string listing;
    for (std::size_t k = 0; k < names.size(); ++k)
        listing += names[k] + (defaults[k] == "0" ? "" : "*") + ";";
    EXPECT_EQ(listing, "Default*;Test;Zed;");
    ASSERT_EQ(admin->SetDefaultProfile(const_cast<char*>("Zed"), 0), S_OK);
    table.reset();
    ASSERT_EQ(admin->GetProfileTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_DEFAULT_PROFILE), (std::vector<std::string>{"0", "0", "1"}));
    ASSERT_EQ(admin->DeleteProfile(const_cast<char*>("Zed"), 0), S_OK);
    EXPECT_EQ(admin->DeleteProfile(const_cast<char*>("Zed"), 0), MAPI_E_NOT_FOUND);
}

TEST_F(ProfileTest, BadProfileNamesAndMissingProfilesAreRefused) {
    ComPtr<IProfAdmin> admin;
    ASSERT_EQ(MAPIAdminProfiles(0, admin.put()), S_OK);
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "tab\there",
                            "12345678901234567890123456789012345678901234567890123456789012345"}) {
        EXPECT_EQ(admin->CreateProfile(const_cast<char*>(bad), nullptr, 0, 0),
                  MAPI_E_INVALID_PARAMETER)
            << bad;
    }
    EXPECT_EQ(
        admin->CreateProfile(
            const_cast<char*>("1234567890123456789012345678901234567890123456789012345678901234"),
            nullptr, 0, 0),
        S_OK);  // 64 bytes: at the limit
    ComPtr<IMAPISession> other;
    EXPECT_EQ(MAPILogonEx(0, const_cast<char*>("Nobody"), nullptr, 0, other.put()),
              MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MAPILogonEx(0, const_cast<char*>("../Test"), nullptr, 0, other.put()),
              MAPI_E_LOGON_FAILED);
    EXPECT_FALSE(other);
}

TEST(ProfileInit, LogonNeedsInitialize) {
    TempHome home{"mapistore"};
    ComPtr<IMAPISession> s;
    EXPECT_EQ(MAPILogonEx(0, const_cast<char*>("Test"), nullptr, 0, s.put()),
              MAPI_E_NOT_INITIALIZED);
    ComPtr<IProfAdmin> admin;
    EXPECT_EQ(MAPIAdminProfiles(0, admin.put()), MAPI_E_NOT_INITIALIZED);
}

TEST_F(ProfileTest, StoreFilesAreOwnerOnly) {
    ASSERT_FALSE(AddMessage(inbox.get(), "x").empty());  // the write-ahead log exists now
    std::string folder = home.Path() + "/MAPI/Profiles/Test";
    int stores = 0, logs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        struct stat st {};
        ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0077, 0u) << entry.path();  // nothing for group or others
        const std::string ext = entry.path().extension();
        if (ext == ".db-wal" || ext == ".db-shm") ++logs;
        if (ext != ".db") continue;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << entry.path();
        ++stores;
    }
    EXPECT_EQ(stores, 1);
    EXPECT_EQ(logs, 2);
    struct stat dir {};
    ASSERT_EQ(::stat(folder.c_str(), &dir), 0);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
}

TEST_F(ProfileTest, SecondStoreIsListedAfterTheDefaultAndOpens) {
    ULONG cb = 0;
    LPENTRYID eid = nullptr;
    ASSERT_EQ(HrCreateMsgStore("Test", "Archive", 0, &cb, &eid), S_OK);
    std::string id(reinterpret_cast<char*>(eid), cb);
    MAPIFreeBuffer(eid);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(session->GetMsgStoresTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_DISPLAY_NAME),
              (std::vector<std::string>{"Personal Folders", "Archive"}));
    EXPECT_EQ(Column(table.get(), PR_DEFAULT_STORE), (std::vector<std::string>{"1", "0"}));
    auto second = OpenDefaultStore(session.get(), false);
    ASSERT_TRUE(second);
    EXPECT_EQ(GetBinary(second.get(), PR_ENTRYID), id);
    EXPECT_NE(GetBinary(second.get(), PR_IPM_SUBTREE_ENTRYID),
              GetBinary(store.get(), PR_IPM_SUBTREE_ENTRYID));
    EXPECT_EQ(HrCreateMsgStore("Nobody", "X", 0, nullptr, nullptr), MAPI_E_NOT_FOUND);
    // An entry of one store does not open in the other.
    std::string inboxId = InboxId();
    ComPtr<IUnknown> unk;
    ULONG type = 0;
    EXPECT_EQ(second->OpenEntry(static_cast<ULONG>(inboxId.size()), Eid(inboxId), nullptr, 0, &type,
                                unk.put()),
              MAPI_E_INVALID_ENTRYID);
    // The session opens entries of either store.
    EXPECT_EQ(session->OpenEntry(static_cast<ULONG>(inboxId.size()), Eid(inboxId), nullptr, 0,
                                 &type, unk.put()),
              S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);
}

class BadStoreTest : public StoreTest {
protected:
    // Drops every reference to the store, so that the shared instance is forgotten.
    void CloseStore() {
        inbox.reset();
        contacts.reset();
        store.reset();
        session.reset();
    }
    // The store's file once the store is closed; with removeLog, its write-ahead
    // log and shared-memory file are gone too.
    std::string ClosedStoreFile(bool removeLog) {
        std::string file = StoreFile();
        CloseStore();
        if (removeLog) {
            std::filesystem::remove(file + "-wal");
            std::filesystem::remove(file + "-shm");
        }
        return file;
    }
    HRESULT Reopen() {
        CloseStore();
        if (FAILED(MAPILogonEx(0, const_cast<char*>("Test"), nullptr, 0, session.put())))
            return MAPI_E_LOGON_FAILED;
        ComPtr<IMAPITable> table;
        if (FAILED(session->GetMsgStoresTable(0, table.put()))) return MAPI_E_CALL_FAILED;
        SizedSPropTagArray(1, cols) = {1, {PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&cols), nullptr, nullptr, 0,
                       &rows);
        const SBinary& b = rows->aRow[0].lpProps[0].Value.bin;
        HRESULT hr = session->OpenMsgStore(0, b.cb, reinterpret_cast<LPENTRYID>(b.lpb), nullptr, 0,
                                           store.put());
        FreeProws(rows);
        return hr;
    }
};

TEST_F(BadStoreTest, AFileThatIsNoDatabaseGivesCorruptStore) {
    std::string file = ClosedStoreFile(true);
    {
        std::ofstream(file, std::ios::trunc)
            << "this is not a message store, just text that is long enough......";
    }
    EXPECT_EQ(Reopen(), MAPI_E_CORRUPT_STORE);
}

TEST_F(BadStoreTest, AForeignDatabaseGivesCorruptStore) {
    std::string file = ClosedStoreFile(true);
    std::filesystem::remove(file);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(
                  db, "CREATE TABLE meta(key, value); INSERT INTO meta VALUES('format', 'other');",
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(Reopen(), MAPI_E_CORRUPT_STORE);
}

TEST_F(BadStoreTest, AMissingStoreFileGivesNotFound) {
    std::filesystem::remove(ClosedStoreFile(false));
    EXPECT_EQ(Reopen(), MAPI_E_NOT_FOUND);
}

}  // namespace
}  // namespace mapitest
