// Every object of the engine answers QueryInterface for IUnknown, its own interface and
// the ones it extends, with the same object and a reference of its own, and refuses
// every other id; tables name themselves in GetLastError.
#include <cstring>
#include <initializer_list>

#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

using InterfacesTest = StoreTest;

const IID* const kEveryId[] = {
    &IID_IUnknown,       &IID_IStream,     &IID_IMAPISession, &IID_IMAPITable, &IID_IMAPIProp,
    &IID_IMAPIContainer, &IID_IMAPIFolder, &IID_IMsgStore,    &IID_IMessage,   &IID_IAttachment,
    &IID_IProfAdmin,     &IID_IWriteBatch, &IID_IReadSnapshot};

// Asks obj for every known id: those in served (and IUnknown) give obj itself, counted
// once more; the rest give null and MAPI_E_INTERFACE_NOT_SUPPORTED.
void ExpectServes(IUnknown* obj, std::initializer_list<const IID*> served, const char* what) {
    ASSERT_NE(obj, nullptr) << what;
    EXPECT_EQ(obj->QueryInterface(IID_IUnknown, nullptr), MAPI_E_INVALID_PARAMETER) << what;
    for (const IID* id : kEveryId) {
        bool serves = id == &IID_IUnknown;
        for (const IID* s : served) serves = serves || s == id;
        const ULONG held = obj->AddRef() - 1;
        obj->Release();
        void* out = reinterpret_cast<void*>(1);
        const HRESULT hr = obj->QueryInterface(*id, &out);
        if (!serves) {
            EXPECT_EQ(hr, MAPI_E_INTERFACE_NOT_SUPPORTED) << what << " " << GuidToText(*id);
            EXPECT_EQ(out, nullptr) << what << " " << GuidToText(*id);
            continue;
        }
        ASSERT_EQ(hr, S_OK) << what << " " << GuidToText(*id);
        EXPECT_EQ(out, static_cast<void*>(obj)) << what << " " << GuidToText(*id);
        // The answer carries a reference of its own.
        EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), held) << what << " " << GuidToText(*id);
    }
}

TEST_F(InterfacesTest, EveryObjectServesItsOwnInterfacesOnly) {
    ExpectServes(session.get(), {&IID_IMAPISession}, "session");
    ExpectServes(store.get(), {&IID_IMAPIProp, &IID_IMsgStore}, "store");
    ExpectServes(contacts.get(), {&IID_IMAPIProp, &IID_IMAPIContainer, &IID_IMAPIFolder}, "folder");

    ComPtr<IProfAdmin> admin;
    ASSERT_EQ(MAPIAdminProfiles(0, admin.put()), S_OK);
    ExpectServes(admin.get(), {&IID_IProfAdmin}, "profile administration");

    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    ExpectServes(table.get(), {&IID_IMAPITable}, "table");

    ComPtr<IMessage> message;
    ASSERT_EQ(contacts->CreateMessage(nullptr, 0, message.put()), S_OK);
    ExpectServes(message.get(), {&IID_IMAPIProp, &IID_IMessage}, "message");

    ComPtr<IAttach> attach;
    ULONG num = 0;
    ASSERT_EQ(message->CreateAttach(nullptr, 0, &num, attach.put()), S_OK);
    ExpectServes(attach.get(), {&IID_IMAPIProp, &IID_IAttachment}, "attachment");

    ComPtr<IUnknown> stream;
    ASSERT_EQ(message->OpenProperty(PR_BODY, &IID_IStream, STGM_READWRITE,
                                    MAPI_CREATE | MAPI_MODIFY, stream.put()),
              S_OK);
    ExpectServes(stream.get(), {&IID_IStream}, "stream");
    stream.reset();

    {
        ComPtr<IReadSnapshot> snapshot;
        ASSERT_EQ(HrBeginReadSnapshot(contacts.get(), 0, snapshot.put()), S_OK);
        ExpectServes(snapshot.get(), {&IID_IReadSnapshot}, "read snapshot");
    }
    ComPtr<IWriteBatch> batch;
    ASSERT_EQ(HrBeginWriteBatch(nullptr, 0, batch.put()), S_OK);
    ExpectServes(batch.get(), {&IID_IWriteBatch}, "write batch");
}

// What a creating or opening call hands out fits the interface it is asked for: null,
// IUnknown or one the new object serves; any other is refused before anything is made.
TEST_F(InterfacesTest, CreatingAndOpeningTakeOnlyTheNewObjectsInterfaces) {
    ComPtr<IMessage> message;
    for (const IID* id : {&IID_IMAPITable, &IID_IAttachment, &IID_IMAPIFolder})
        EXPECT_EQ(contacts->CreateMessage(id, 0, message.put()), MAPI_E_INTERFACE_NOT_SUPPORTED)
            << GuidToText(*id);
    for (const IID* id : {&IID_IUnknown, &IID_IMAPIProp, &IID_IMessage})
        EXPECT_EQ(contacts->CreateMessage(id, 0, message.put()), S_OK) << GuidToText(*id);
    ASSERT_EQ(contacts->CreateMessage(nullptr, 0, message.put()), S_OK);

    ComPtr<IAttach> attach;
    ULONG num = 0;
    EXPECT_EQ(message->CreateAttach(&IID_IMessage, 0, &num, attach.put()),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    ASSERT_EQ(message->CreateAttach(&IID_IAttachment, 0, &num, attach.put()), S_OK);
    ASSERT_EQ(attach->SaveChanges(0), S_OK);
    EXPECT_EQ(message->OpenAttach(num, &IID_IMAPIFolder, 0, attach.put()),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(message->OpenAttach(num, &IID_IMAPIProp, 0, attach.put()), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    ComPtr<IMAPIFolder> folder;
    EXPECT_EQ(inbox->CreateFolder(FOLDER_GENERIC, const_cast<char*>("Refused"), nullptr,
                                  &IID_IMessage, 0, folder.put()),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    ASSERT_EQ(inbox->CreateFolder(FOLDER_GENERIC, const_cast<char*>("Taken"), nullptr,
                                  &IID_IMAPIContainer, 0, folder.put()),
              S_OK);

    const std::string folderId = GetBinary(folder.get(), PR_ENTRYID);
    const std::string messageId = GetBinary(message.get(), PR_ENTRYID);
    auto open = [&](const std::string& id, LPCIID iid) {
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        return store->OpenEntry(static_cast<ULONG>(id.size()), Eid(id), iid, 0, &type, unk.put());
    };
    EXPECT_EQ(open(folderId, &IID_IMAPIFolder), S_OK);
    EXPECT_EQ(open(folderId, &IID_IMAPIContainer), S_OK);
    EXPECT_EQ(open(folderId, &IID_IMessage), MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(open(messageId, &IID_IMessage), S_OK);
    EXPECT_EQ(open(messageId, &IID_IMAPIProp), S_OK);
    EXPECT_EQ(open(messageId, &IID_IMAPIFolder), MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(open(messageId, &IID_IMAPIContainer), MAPI_E_INTERFACE_NOT_SUPPORTED);
}

TEST_F(InterfacesTest, TableLastErrorNamesTheCodeAndTheTable) {
    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    EXPECT_EQ(table->GetLastError(MAPI_E_NOT_FOUND, 0, nullptr), MAPI_E_INVALID_PARAMETER);
    for (HRESULT code : {MAPI_E_NOT_FOUND, MAPI_E_BUSY, static_cast<HRESULT>(0x8004ABCD)}) {
        LPMAPIERROR err = nullptr;
        ASSERT_EQ(table->GetLastError(code, 0, &err), S_OK);
        ASSERT_NE(err, nullptr);
        const char* name = MapiErrorName(code);
        EXPECT_STREQ(reinterpret_cast<const char*>(err->lpszError), name ? name : "unknown error");
        EXPECT_STREQ(reinterpret_cast<const char*>(err->lpszComponent), "message store table");
        MAPIFreeBuffer(err);
    }
}

}  // namespace
}  // namespace mapitest
