// Messages: identity, times, flags, isolation until SaveChanges, KEEP_OPEN, value
// types, named properties, streams, attachments and recipients.
#include <cstdio>
#include <set>

#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

using MessageTest = StoreTest;

TEST_F(MessageTest, EntryIdentifiersAreRandomUniqueAndCarryStoreAndParent) {
    std::set<std::string> ids, objectParts;
    for (int k = 0; k < 20; ++k) {
        std::string id = AddMessage(contacts.get(), "x");
        ASSERT_GE(id.size(), 16u + 16u);
        ids.insert(id);
        objectParts.insert(id.substr(id.size() - 16));
    }
    EXPECT_EQ(ids.size(), 20u);
    EXPECT_EQ(objectParts.size(), 20u);
    auto m = OpenMessage(store.get(), *ids.begin());
    ASSERT_TRUE(m);
    EXPECT_EQ(GetBinary(m.get(), PR_ENTRYID), *ids.begin());
    EXPECT_EQ(GetBinary(m.get(), PR_RECORD_KEY), *ids.begin());
    EXPECT_EQ(GetBinary(m.get(), PR_PARENT_ENTRYID), GetBinary(contacts.get(), PR_ENTRYID));
    EXPECT_EQ(GetBinary(m.get(), PR_STORE_ENTRYID), GetBinary(store.get(), PR_ENTRYID));
    EXPECT_EQ(GetLong(m.get(), PR_OBJECT_TYPE), static_cast<LONG>(MAPI_MESSAGE));
}

TEST_F(MessageTest, AllPropertiesIncludeTheDerivedOnes) {
    std::string id = AddMessage(contacts.get(), "all");
    auto m = OpenMessage(store.get(), id, 0);
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(m->GetProps(nullptr, 0, &count, &values), S_OK);
    std::string tags;
    for (ULONG k = 0; k < count; ++k) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08X ", static_cast<unsigned>(values[k].ulPropTag));
        tags += buf;
    }
    MAPIFreeBuffer(values);
    EXPECT_EQ(
        tags,
        "0FFF0102 0E090102 0FFB0102 0FF90102 300B0102 0FFE0003 0FFA0102 30070040 30080040 0E070003 "
        "0E1B000B 0E080003 0037001E ");
    LPSPropTagArray list = nullptr;
    ASSERT_EQ(m->GetPropList(0, &list), S_OK);
    EXPECT_EQ(list->cValues, count);
    MAPIFreeBuffer(list);
}

TEST_F(MessageTest, EverySaveGivesALaterModificationTime) {
    ComPtr<IMessage> m;
    ASSERT_EQ(contacts->CreateMessage(nullptr, 0, m.put()), S_OK);
    EXPECT_EQ(GetError(m.get(), PR_LAST_MODIFICATION_TIME), MAPI_E_NOT_FOUND);  // not saved yet
    std::uint64_t last = 0;
    for (int k = 0; k < 50; ++k) {
        ASSERT_EQ(Set(m.get(), LongProp(PR_IMPORTANCE, k)), S_OK);
        ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        std::uint64_t t = GetTime(m.get(), PR_LAST_MODIFICATION_TIME);
        EXPECT_GT(t, last);
        last = t;
    }
    std::uint64_t created = GetTime(m.get(), PR_CREATION_TIME);
    EXPECT_GT(created, 0u);
    EXPECT_LE(created, last);
    // Another object on the same item saving later still moves forward.
    auto other = OpenMessage(store.get(), GetBinary(m.get(), PR_ENTRYID));
    ASSERT_EQ(other->SaveChanges(0), S_OK);
    EXPECT_GT(GetTime(other.get(), PR_LAST_MODIFICATION_TIME), last);
    EXPECT_EQ(GetTime(other.get(), PR_CREATION_TIME), created);
}

TEST_F(MessageTest, ChangesAreInvisibleToOthersUntilSaved) {
    std::string id = AddMessage(contacts.get(), "before");
    auto writer = OpenMessage(store.get(), id);
    ASSERT_EQ(Set(writer.get(), StringProp(PR_SUBJECT, "after")), S_OK);
    auto reader = OpenMessage(store.get(), id, 0);
    EXPECT_EQ(GetString(reader.get(), PR_SUBJECT), "before");
    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"before"}));
    EXPECT_EQ(GetString(writer.get(), PR_SUBJECT), "after");  // the writer sees its own change
    ASSERT_EQ(writer->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"after"}));
    EXPECT_EQ(GetString(OpenMessage(store.get(), id).get(), PR_SUBJECT), "after");
    // A new message is not in the folder before its first save.
    ComPtr<IMessage> fresh;
    ASSERT_EQ(contacts->CreateMessage(nullptr, 0, fresh.put()), S_OK);
    ASSERT_EQ(Set(fresh.get(), StringProp(PR_SUBJECT, "new")), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT).size(), 1u);
    EXPECT_FALSE(OpenMessage(store.get(), GetBinary(fresh.get(), PR_ENTRYID)));
}

TEST_F(MessageTest, KeepOpenFlagsDecideWhatFollowsASave) {
    std::string id = AddMessage(contacts.get(), "a");
    auto rw = OpenMessage(store.get(), id);
    ASSERT_EQ(rw->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Set(rw.get(), StringProp(PR_SUBJECT, "b")), S_OK);
    ASSERT_EQ(rw->SaveChanges(KEEP_OPEN_READONLY), S_OK);
    EXPECT_EQ(Set(rw.get(), StringProp(PR_SUBJECT, "c")), MAPI_E_NO_ACCESS);
    auto closed = OpenMessage(store.get(), id);
    ASSERT_EQ(closed->SaveChanges(0), S_OK);
    EXPECT_EQ(Set(closed.get(), StringProp(PR_SUBJECT, "d")), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(closed->SaveChanges(0), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(GetString(closed.get(), PR_SUBJECT), "b");  // reading still works
    auto readOnly = OpenMessage(store.get(), id, 0);
    EXPECT_EQ(Set(readOnly.get(), StringProp(PR_SUBJECT, "e")), MAPI_E_NO_ACCESS);
    EXPECT_EQ(GetString(OpenMessage(store.get(), id).get(), PR_SUBJECT), "b");
}

TEST_F(MessageTest, SavingADeletedItemFailsAndCreatesNothing) {
    std::string id = AddMessage(contacts.get(), "gone");
    auto m = OpenMessage(store.get(), id);
    SBinary bin{static_cast<ULONG>(id.size()), reinterpret_cast<LPBYTE>(id.data())};
    ENTRYLIST list{1, &bin};
    ASSERT_EQ(contacts->DeleteMessages(&list, 0, nullptr, 0), S_OK);
    ASSERT_EQ(Set(m.get(), StringProp(PR_SUBJECT, "back")), S_OK);
    EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_DELETED);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    ULONG count = 99;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(MessageTest, StringsComeInBothFormsAndMultiValuedStringsKeepTheirOrder) {
    ComPtr<IMessage> m;
    ASSERT_EQ(contacts->CreateMessage(nullptr, 0, m.put()), S_OK);
    ASSERT_EQ(Set(m.get(), StringProp(PR_SUBJECT,
                                      "Gr\xC3\xBC\xC3\x9F"
                                      "e \xF0\x9F\x98\x80")),
              S_OK);
    SPropValue w{};
    w.ulPropTag = PR_DISPLAY_NAME_W;
    std::u16string wide = u"M\u00FCller";
    w.Value.lpszW = wide.data();
    ASSERT_EQ(Set(m.get(), w), S_OK);
    const char* kids[] = {"Anna", "Ben", "", "C\xC3\xA9line"};
    SPropValue mv{};
    mv.ulPropTag = PR_CHILDRENS_NAMES;
    mv.Value.MVszA.cValues = 4;
    mv.Value.MVszA.lppszA = const_cast<char**>(kids);
    ASSERT_EQ(Set(m.get(), mv), S_OK);
    ASSERT_EQ(m->SaveChanges(0), S_OK);
    auto back = OpenMessage(store.get(), GetBinary(m.get(), PR_ENTRYID), 0);
    EXPECT_EQ(GetString(back.get(), PR_DISPLAY_NAME), "M\xC3\xBCller");
    LPSPropValue v = nullptr;
    ASSERT_EQ(HrGetOneProp(back.get(), PR_SUBJECT_W, &v), S_OK);
    EXPECT_EQ(std::u16string(v->Value.lpszW), u"Gr\u00FC\u00DFe \U0001F600");
    MAPIFreeBuffer(v);
    ASSERT_EQ(HrGetOneProp(back.get(), PR_CHILDRENS_NAMES_W, &v), S_OK);
    ASSERT_EQ(v->Value.MVszW.cValues, 4u);
    EXPECT_EQ(std::u16string(v->Value.MVszW.lppszW[3]), u"C\u00E9line");
    MAPIFreeBuffer(v);
    ASSERT_EQ(HrGetOneProp(back.get(), PR_CHILDRENS_NAMES, &v), S_OK);
    std::string joined;
    for (ULONG k = 0; k < v->Value.MVszA.cValues; ++k)
        joined += std::string(v->Value.MVszA.lppszA[k]) + ";";
    EXPECT_EQ(joined, "Anna;Ben;;C\xC3\xA9line;");
    MAPIFreeBuffer(v);
    // Asking for a string property as a long finds nothing.
    EXPECT_EQ(GetError(back.get(), PROP_TAG(PT_LONG, PROP_ID(PR_SUBJECT))), MAPI_E_NOT_FOUND);
}

TEST_F(MessageTest, BinaryTimeBooleanAndIntegerValuesRoundTrip) {
    std::string blob("\x00\x01\xFF\x00zz", 6);
    std::uint64_t when = 128809047090000000ull;  // 2009-03-07 13:05:09
    std::string id =
        AddMessage(contacts.get(), "v",
                   {BinaryProp(PR_CONVERSATION_KEY, blob), TimeProp(PR_BIRTHDAY, when),
                    BoolProp(PR_RESPONSE_REQUESTED, true), LongProp(PR_SENSITIVITY, -7)});
    auto m = OpenMessage(store.get(), id, 0);
    EXPECT_EQ(GetBinary(m.get(), PR_CONVERSATION_KEY), blob);
    EXPECT_EQ(GetTime(m.get(), PR_BIRTHDAY), when);
    EXPECT_EQ(GetLong(m.get(), PR_RESPONSE_REQUESTED) & 0xFFFF, 1);
    EXPECT_EQ(GetLong(m.get(), PR_SENSITIVITY), -7);
    // GetProps with unknown and missing tags: an error slot each and a warning.
    SizedSPropTagArray(3, tags) = {3, {PR_SENSITIVITY, PR_SURNAME, PROP_TAG(PT_LONG, 0x7ABC)}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    EXPECT_EQ(m->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values),
              MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(values[0].ulPropTag, PR_SENSITIVITY);
    EXPECT_EQ(values[1].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_SURNAME)));
    EXPECT_EQ(values[1].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(PROP_TYPE(values[2].ulPropTag), PT_ERROR);
    MAPIFreeBuffer(values);
}

TEST_F(MessageTest, ComputedPropertiesAndBadTypesAreRefusedWithoutChange) {
    std::string id = AddMessage(contacts.get(), "keep");
    auto m = OpenMessage(store.get(), id);
    SPropValue values[3] = {BinaryProp(PR_ENTRYID, "xx"), StringProp(PR_SUBJECT, "changed"), {}};
    values[2].ulPropTag = PROP_TAG(PT_OBJECT, 0x6000);
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(m->SetProps(3, values, &problems), S_OK);
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->cProblem, 2u);
    EXPECT_EQ(problems->aProblem[0].ulIndex, 0u);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_COMPUTED);
    EXPECT_EQ(problems->aProblem[1].ulIndex, 2u);
    EXPECT_EQ(problems->aProblem[1].scode, MAPI_E_INVALID_TYPE);
    MAPIFreeBuffer(problems);
    EXPECT_EQ(GetBinary(m.get(), PR_ENTRYID), id);
    EXPECT_EQ(Set(m.get(), TimeProp(PR_LAST_MODIFICATION_TIME, 5)), MAPI_E_COMPUTED);
    SPropValue nullString = StringProp(PR_BODY, nullptr);
    EXPECT_EQ(Set(m.get(), nullString), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MessageTest, MessageFlagsAndReadFlag) {
    std::string id = AddMessage(inbox.get(), "mail");
    auto m = OpenMessage(store.get(), id);
    EXPECT_EQ(GetLong(m.get(), PR_MESSAGE_FLAGS), 0);
    std::uint64_t modified = GetTime(m.get(), PR_LAST_MODIFICATION_TIME);
    ASSERT_EQ(m->SetReadFlag(0), S_OK);
    EXPECT_EQ(GetLong(OpenMessage(store.get(), id).get(), PR_MESSAGE_FLAGS),
              static_cast<LONG>(MSGFLAG_READ));
    ASSERT_EQ(m->SetReadFlag(CLEAR_READ_FLAG), S_OK);
    EXPECT_EQ(GetLong(OpenMessage(store.get(), id).get(), PR_MESSAGE_FLAGS), 0);
    EXPECT_EQ(GetTime(OpenMessage(store.get(), id).get(), PR_LAST_MODIFICATION_TIME), modified);
    ASSERT_EQ(Set(m.get(), LongProp(PR_MESSAGE_FLAGS, MSGFLAG_READ | MSGFLAG_UNSENT)), S_OK);
    ASSERT_EQ(m->SaveChanges(0), S_OK);
    EXPECT_EQ(GetLong(OpenMessage(store.get(), id).get(), PR_MESSAGE_FLAGS),
              static_cast<LONG>(MSGFLAG_READ | MSGFLAG_UNSENT));
}

TEST_F(MessageTest, NamedPropertiesMapFrom0x8000PerStore) {
    GUID address = PSETID_Address;
    MAPINAMEID fileAs{&address, MNID_ID, {0x8005}};
    GUID publicStrings = PS_PUBLIC_STRINGS;
    std::u16string keywords = u"Keywords";
    MAPINAMEID kw{&publicStrings, MNID_STRING, {0}};
    kw.Kind.lpwstrName = keywords.data();
    LPMAPINAMEID names[2] = {&fileAs, &kw};
    LPSPropTagArray tags = nullptr;
    EXPECT_EQ(contacts->GetIDsFromNames(2, names, 0, &tags), MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(tags->aulPropTag[0], PROP_TAG(PT_ERROR, 0));
    MAPIFreeBuffer(tags);
    ASSERT_EQ(contacts->GetIDsFromNames(2, names, MAPI_CREATE, &tags), S_OK);
    EXPECT_EQ(tags->aulPropTag[0], PROP_TAG(PT_UNSPECIFIED, 0x8000));
    EXPECT_EQ(tags->aulPropTag[1], PROP_TAG(PT_UNSPECIFIED, 0x8001));
    MAPIFreeBuffer(tags);
    // The same names from another object of the store give the same ids.
    ASSERT_EQ(inbox->GetIDsFromNames(2, names, 0, &tags), S_OK);
    EXPECT_EQ(tags->aulPropTag[1], PROP_TAG(PT_UNSPECIFIED, 0x8001));
    ULONG count = 0;
    LPMAPINAMEID* back = nullptr;
    ASSERT_EQ(inbox->GetNamesFromIDs(&tags, nullptr, 0, &count, &back), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_TRUE(*back[0]->lpguid == PSETID_Address);
    EXPECT_EQ(back[0]->ulKind, MNID_ID);
    EXPECT_EQ(back[0]->Kind.lID, 0x8005);
    EXPECT_EQ(std::u16string(back[1]->Kind.lpwstrName), u"Keywords");
    MAPIFreeBuffer(back);
    MAPIFreeBuffer(tags);
    // An id below 0x8000 has no name.
    SizedSPropTagArray(1, plain) = {1, {PR_SUBJECT}};
    LPSPropTagArray plainTags = reinterpret_cast<LPSPropTagArray>(&plain);
    EXPECT_EQ(inbox->GetNamesFromIDs(&plainTags, nullptr, 0, &count, &back),
              MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(back[0], nullptr);
    MAPIFreeBuffer(back);
    // A second store starts its own map at 0x8000.
    ASSERT_EQ(HrCreateMsgStore("Test", "Other", 0, nullptr, nullptr), S_OK);
    auto second = OpenDefaultStore(session.get(), false);
    MAPINAMEID task{const_cast<GUID*>(&PSETID_Task), MNID_ID, {0x8105}};
    LPMAPINAMEID one[1] = {&task};
    ASSERT_EQ(second->GetIDsFromNames(1, one, MAPI_CREATE, &tags), S_OK);
    EXPECT_EQ(tags->aulPropTag[0], PROP_TAG(PT_UNSPECIFIED, 0x8000));
    MAPIFreeBuffer(tags);
    // A value under a named id is stored like any other.
    std::string id =
        AddMessage(contacts.get(), "c", {StringProp(PROP_TAG(PT_STRING8, 0x8000), "Doe, John")});
    EXPECT_EQ(GetString(OpenMessage(store.get(), id).get(), PROP_TAG(PT_STRING8, 0x8000)),
              "Doe, John");
}

std::string ReadAll(IStream* s, std::vector<ULONG>& chunks) {
    std::string out;
    std::vector<char> buf(65536);
    for (;;) {
        ULONG got = 0;
        if (FAILED(s->Read(buf.data(), static_cast<ULONG>(buf.size()), &got))) break;
        chunks.push_back(got);
        if (got == 0) break;
        out.append(buf.data(), got);
    }
    return out;
}

TEST_F(MessageTest, BodyStreamsStoreTextWithoutTheTerminatingZero) {
    ComPtr<IMessage> m;
    ASSERT_EQ(contacts->CreateMessage(nullptr, 0, m.put()), S_OK);
    std::string body(200000, 'b');
    for (std::size_t k = 0; k < body.size(); k += 100) body[k] = '\n';
    {
        ComPtr<IUnknown> unk;
        ASSERT_EQ(m->OpenProperty(PR_BODY, &IID_IStream, STGM_READWRITE, MAPI_CREATE | MAPI_MODIFY,
                                  unk.put()),
                  S_OK);
        auto* s = static_cast<IStream*>(unk.get());
        ULONG written = 0;
        ASSERT_EQ(s->Write(body.c_str(), static_cast<ULONG>(body.size() + 1), &written),
                  S_OK);  // with the zero
        EXPECT_EQ(written, body.size() + 1);
        ASSERT_EQ(s->Commit(0), S_OK);
    }
    ASSERT_EQ(m->SaveChanges(0), S_OK);
    auto back = OpenMessage(store.get(), GetBinary(m.get(), PR_ENTRYID), 0);
    ComPtr<IUnknown> unk;
    ASSERT_EQ(back->OpenProperty(PR_BODY, &IID_IStream, STGM_READ, 0, unk.put()), S_OK);
    std::vector<ULONG> chunks;
    EXPECT_EQ(ReadAll(static_cast<IStream*>(unk.get()), chunks), body);
    EXPECT_EQ(chunks, (std::vector<ULONG>{65536, 65536, 65536, 3392, 0}));
    EXPECT_EQ(GetString(back.get(), PR_BODY).size(), body.size());
    // Writing needs a writable object; a missing property needs MAPI_CREATE.
    EXPECT_EQ(back->OpenProperty(PR_BODY, &IID_IStream, STGM_READWRITE, MAPI_MODIFY, unk.put()),
              MAPI_E_NO_ACCESS);
    EXPECT_EQ(back->OpenProperty(PR_BODY_HTML, &IID_IStream, STGM_READ, 0, unk.put()),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(back->OpenProperty(PR_IMPORTANCE, &IID_IStream, STGM_READ, 0, unk.put()),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
}

TEST_F(MessageTest, UnicodeAndBinaryStreams) {
    ComPtr<IMessage> m;
    ASSERT_EQ(contacts->CreateMessage(nullptr, 0, m.put()), S_OK);
    ComPtr<IUnknown> unk;
    ASSERT_EQ(m->OpenProperty(PR_BODY_W, &IID_IStream, STGM_READWRITE, MAPI_CREATE | MAPI_MODIFY,
                              unk.put()),
              S_OK);
    const char16_t text[] = u"\u00C4rger";
    ASSERT_EQ(static_cast<IStream*>(unk.get())->Write(text, sizeof text, nullptr),
              S_OK);  // zero included
    // Nothing reaches the message before Commit.
    EXPECT_EQ(GetError(m.get(), PR_BODY), MAPI_E_NOT_FOUND);
    ASSERT_EQ(static_cast<IStream*>(unk.get())->Commit(0), S_OK);
    EXPECT_EQ(GetString(m.get(), PR_BODY), "\xC3\x84rger");
    std::string bytes("\x00\x10\x00", 3);
    ASSERT_EQ(m->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, STGM_READWRITE,
                              MAPI_CREATE | MAPI_MODIFY, unk.put()),
              S_OK);
    auto* s = static_cast<IStream*>(unk.get());
    ASSERT_EQ(s->Write(bytes.data(), 3, nullptr), S_OK);
    STATSTG st{};
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 3u);
    LARGE_INTEGER zero{};
    ULARGE_INTEGER pos{};
    ASSERT_EQ(s->Seek(zero, STREAM_SEEK_SET, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 0u);
    ASSERT_EQ(s->Commit(0), S_OK);
    EXPECT_EQ(GetBinary(m.get(), PR_RTF_COMPRESSED), bytes);  // binary keeps its zero bytes
}

TEST_F(MessageTest, AttachmentsAndRecipientsAreSavedWithTheMessage) {
    ComPtr<IMessage> m;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, m.put()), S_OK);
    ULONG num = 99;
    ComPtr<IAttach> att;
    ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, att.put()), S_OK);
    EXPECT_EQ(num, 0u);
    SPropValue ap[2] = {StringProp(PR_ATTACH_LONG_FILENAME, "a.txt"),
                        BinaryProp(PR_ATTACH_DATA_BIN, "data")};
    ASSERT_EQ(att->SetProps(2, ap, nullptr), S_OK);
    ASSERT_EQ(att->SaveChanges(0), S_OK);
    SPropValue r1[3] = {LongProp(PR_RECIPIENT_TYPE, MAPI_TO), StringProp(PR_DISPLAY_NAME, "Ann"),
                        StringProp(PR_EMAIL_ADDRESS, "ann@example.org")};
    SPropValue r2[2] = {LongProp(PR_RECIPIENT_TYPE, MAPI_CC), StringProp(PR_DISPLAY_NAME, "Bob")};
    alignas(ADRLIST) char buf[CbNewADRLIST(2)];
    auto* list = reinterpret_cast<ADRLIST*>(buf);
    list->cEntries = 2;
    list->aEntries[0] = ADRENTRY{0, 3, r1};
    list->aEntries[1] = ADRENTRY{0, 2, r2};
    ASSERT_EQ(m->ModifyRecipients(0, list), S_OK);
    ASSERT_EQ(m->SaveChanges(0), S_OK);
    std::string id = GetBinary(m.get(), PR_ENTRYID);

    auto back = OpenMessage(store.get(), id);
    EXPECT_EQ(GetLong(back.get(), PR_HASATTACH) & 0xFFFF, 1);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(back->GetRecipientTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_DISPLAY_NAME), (std::vector<std::string>{"Ann", "Bob"}));
    EXPECT_EQ(Column(table.get(), PR_ROWID), (std::vector<std::string>{"0", "1"}));
    table.reset();
    ASSERT_EQ(back->GetAttachmentTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_ATTACH_LONG_FILENAME), (std::vector<std::string>{"a.txt"}));
    ComPtr<IAttach> opened;
    ASSERT_EQ(back->OpenAttach(0, nullptr, MAPI_BEST_ACCESS, opened.put()), S_OK);
    EXPECT_EQ(GetBinary(opened.get(), PR_ATTACH_DATA_BIN), "data");
    EXPECT_EQ(back->OpenAttach(7, nullptr, 0, opened.put()), MAPI_E_NOT_FOUND);
    // Removing a recipient by row id, then deleting the attachment.
    SPropValue rowid = LongProp(PR_ROWID, 0);
    list->cEntries = 1;
    list->aEntries[0] = ADRENTRY{0, 1, &rowid};
    ASSERT_EQ(back->ModifyRecipients(MODRECIP_REMOVE, list), S_OK);
    ASSERT_EQ(back->DeleteAttach(0, 0, nullptr, 0), S_OK);
    ASSERT_EQ(back->SaveChanges(0), S_OK);
    auto again = OpenMessage(store.get(), id, 0);
    table.reset();
    ASSERT_EQ(again->GetRecipientTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_DISPLAY_NAME), (std::vector<std::string>{"Bob"}));
    EXPECT_EQ(GetLong(again.get(), PR_HASATTACH) & 0xFFFF, 0);
}

TEST_F(MessageTest, AttachmentSizeFollowsTheAttachmentsProperties) {
    ComPtr<IMessage> m;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, m.put()), S_OK);
    ULONG num = 0;
    ComPtr<IAttach> att;
    ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, att.put()), S_OK);
    EXPECT_EQ(GetLong(att.get(), PR_ATTACH_SIZE), 0);
    // Method 4 bytes, "a.txt" and its zero 6, the data 5.
    SPropValue ap[3] = {LongProp(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                        StringProp(PR_ATTACH_LONG_FILENAME, "a.txt"),
                        BinaryProp(PR_ATTACH_DATA_BIN, "hello")};
    ASSERT_EQ(att->SetProps(3, ap, nullptr), S_OK);
    EXPECT_EQ(GetLong(att.get(), PR_ATTACH_SIZE), 15);
    // A writer's own value is taken without complaint and changes nothing; another
    // type is refused.
    LPSPropProblemArray problems = nullptr;
    SPropValue own = LongProp(PR_ATTACH_SIZE, 999);
    ASSERT_EQ(att->SetProps(1, &own, &problems), S_OK);
    EXPECT_EQ(problems, nullptr);
    EXPECT_EQ(GetLong(att.get(), PR_ATTACH_SIZE), 15);
    SPropValue text = StringProp(PROP_TAG(PT_STRING8, PROP_ID(PR_ATTACH_SIZE)), "7");
    ASSERT_EQ(att->SetProps(1, &text, &problems), S_OK);
    ASSERT_NE(problems, nullptr);
    EXPECT_EQ(problems->cProblem, 1u);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_INVALID_TYPE);
    MAPIFreeBuffer(problems);
    ASSERT_EQ(att->SaveChanges(0), S_OK);
    ASSERT_EQ(m->SaveChanges(0), S_OK);
    std::string id = GetBinary(m.get(), PR_ENTRYID);

    auto back = OpenMessage(store.get(), id);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(back->GetAttachmentTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_ATTACH_SIZE), (std::vector<std::string>{"15"}));
    ComPtr<IAttach> opened;
    ASSERT_EQ(back->OpenAttach(0, nullptr, MAPI_BEST_ACCESS, opened.put()), S_OK);
    EXPECT_EQ(GetLong(opened.get(), PR_ATTACH_SIZE), 15);
    // The size is listed once among all properties.
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(opened->GetProps(nullptr, 0, &count, &values), S_OK);
    int sizes = 0;
    for (ULONG k = 0; k < count; ++k)
        if (values[k].ulPropTag == PR_ATTACH_SIZE) ++sizes;
    MAPIFreeBuffer(values);
    EXPECT_EQ(sizes, 1);
    // Larger data: a larger size at once, in the table after the save.
    ASSERT_EQ(Set(opened.get(), BinaryProp(PR_ATTACH_DATA_BIN, std::string(1000, 'x'))), S_OK);
    EXPECT_EQ(GetLong(opened.get(), PR_ATTACH_SIZE), 1010);
    ASSERT_EQ(opened->SaveChanges(0), S_OK);
    ASSERT_EQ(back->SaveChanges(0), S_OK);
    auto again = OpenMessage(store.get(), id, 0);
    table.reset();
    ASSERT_EQ(again->GetAttachmentTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_ATTACH_SIZE), (std::vector<std::string>{"1010"}));
}

}  // namespace
}  // namespace mapitest
