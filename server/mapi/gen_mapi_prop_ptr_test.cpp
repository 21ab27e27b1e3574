// CGenMapiPropPtr against a real store: text and integer properties, binaries,
// named-property ids, item names, batching and bodies through streams.
#include "server/mapi/gen_mapi_prop_ptr.h"

#include <gtest/gtest.h>

#include "server/mapi/adapter_test_store.h"

namespace {

using adaptertest::AdapterStoreTest;
using adaptertest::CPropSpy;
using adaptertest::Raised;

class PropPtrTest : public AdapterStoreTest {};

HRESULT RawError(IMAPIProp* object, ULONG tag) {
    CMapiBuffer<SPropValue> value;
    return HrGetOneProp(object, tag, value.Put());
}

TEST_F(PropPtrTest, TextAndIntegerPropertiesRoundTrip) {
    IMessagePtr message = inbox.CreateMessage();
    message.SetStrProp(PR_SUBJECT, "Grüße %s");
    message.SetStrProp(PR_DISPLAY_NAME_W, "Wide Ann");
    message.SetLongProp(PR_IMPORTANCE, IMPORTANCE_HIGH);
    message.SaveChanges(KEEP_OPEN_READWRITE);

    EXPECT_EQ(message.GetStrProp(PR_SUBJECT), "Grüße %s");
    EXPECT_EQ(message.GetPropText(PR_SUBJECT), "Grüße %s");
    EXPECT_EQ(message.GetPropText(PR_SUBJECT_W), "Grüße %s");  // UTF-16 converted
    EXPECT_EQ(message.GetStrProp(PR_DISPLAY_NAME), "Wide Ann");
    EXPECT_EQ(message.GetStrProp(PR_SUBJECT_W), "");  // not an 8-bit value
    EXPECT_EQ(message.GetLongProp(PR_IMPORTANCE), IMPORTANCE_HIGH);
    EXPECT_EQ(message.GetPropText(PR_IMPORTANCE), "");  // not a string

    IMessagePtr again = inbox.OpenMessage(message.GetEntryID());
    EXPECT_EQ(again.GetStrProp(PR_SUBJECT), "Grüße %s");
    EXPECT_EQ(again.GetLongProp(PR_IMPORTANCE), IMPORTANCE_HIGH);
}

TEST_F(PropPtrTest, DeletedPropertiesAreGoneOfEveryTypeAndBatch) {
    IMessagePtr message = inbox.CreateMessage();
    message.SetStrProp(PR_SUBJECT, "Offer");
    message.SetStrProp(PR_COMPANY_NAME, "ACME");
    message.SaveChanges(KEEP_OPEN_READWRITE);
    // By id: a PT_UNICODE tag removes the 8-bit value too; a missing one is no failure.
    message.DeleteProp(CHANGE_PROP_TYPE(PR_COMPANY_NAME, PT_UNICODE));
    EXPECT_EQ(Raised([&] { message.DeleteProp(PR_BODY); }), S_OK);
    message.SaveChanges(KEEP_OPEN_READWRITE);
    EXPECT_EQ(RawError(message.GetMapiProp(), PR_COMPANY_NAME), MAPI_E_NOT_FOUND);
    EXPECT_EQ(message.GetStrProp(PR_SUBJECT), "Offer");
    // A value pending in a batch goes with it.
    message.SetBatched(true);
    message.SetStrProp(PR_COMPANY_NAME, "Initech");
    message.DeleteProp(PR_COMPANY_NAME);
    message.SaveChanges(KEEP_OPEN_READWRITE);
    EXPECT_EQ(RawError(message.GetMapiProp(), PR_COMPANY_NAME), MAPI_E_NOT_FOUND);
    // The store keeps the flags itself.
    std::string place;
    EXPECT_EQ(Raised([&] { message.DeleteProp(PR_MESSAGE_FLAGS); }, &place), MAPI_E_COMPUTED);
    EXPECT_NE(place.find("CGenMapiPropPtr::DeleteProp"), std::string::npos) << place;
}

TEST_F(PropPtrTest, MissingValues) {
    IMessagePtr message = AddMessage(inbox, "x");
    EXPECT_EQ(message.GetLongProp(PR_SENSITIVITY), 0);
    EXPECT_EQ(message.GetPropText(PR_BODY_HTML), "");
    std::string place;
    EXPECT_EQ(Raised([&] { message.GetStrProp(PR_SENSITIVITY); }, &place), MAPI_E_NOT_FOUND);
    EXPECT_EQ(place, "GetStrProp");
    EXPECT_EQ(Raised([&] { message.GetStrProp(PR_COMPANY_NAME); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(Raised([&] { message.GetBinaryProp(PR_CONVERSATION_KEY); }, &place),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(place, "CGenMapiPropPtr::GetBinaryProp");
}

TEST_F(PropPtrTest, WritesThatCannotBeDone) {
    IMessagePtr message = inbox.CreateMessage();
    message.SetStrProp(PR_COMPANY_NAME, nullptr);  // a missing text sets nothing
    EXPECT_EQ(RawError(message.Get(), PR_COMPANY_NAME), MAPI_E_NOT_FOUND);

    std::string place;
    EXPECT_EQ(Raised([&] { message.SetStrProp(PR_IMPORTANCE, "1"); }), MAPI_E_INVALID_TYPE);
    EXPECT_NE(Raised([&] { message.SetLongProp(PR_OBJECT_TYPE, 9); }, &place), S_OK);
    EXPECT_EQ(place, "CGenMapiPropPtr::SetLongProp");

    IMessagePtr empty;
    EXPECT_EQ(Raised([&] { empty.GetStrProp(PR_SUBJECT); }), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(Raised([&] { empty.SaveChanges(0); }), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(empty.GetPropText(PR_SUBJECT), "");
}

TEST_F(PropPtrTest, EntryIdentifiersAndBinaries) {
    IMessagePtr message = inbox.CreateMessage();
    uint8_t key[] = {0x00, 0x10, 0xFF};
    CPropValue bin = CPropValue::Binary(PR_CONVERSATION_KEY, key, sizeof key);
    message.SetProp(*bin.Get());
    message.SetStrProp(PR_SUBJECT, "text");
    message.SaveChanges(KEEP_OPEN_READWRITE);
    EXPECT_EQ(message.GetBinaryProp(PR_CONVERSATION_KEY).ToText(), "0010FF");
    CByteBuffer id = message.GetEntryID();
    EXPECT_GE(id.Size(), 16u);
    EXPECT_EQ(inbox.OpenMessage(CByteBuffer::ParseHex(id.ToText()).value()).GetEntryID(), id);
    EXPECT_EQ(Raised([&] { message.GetBinaryProp(PR_SUBJECT); }), MAPI_E_UNEXPECTED_TYPE);
}

TEST_F(PropPtrTest, NamedPropertyIds) {
    IMessagePtr message = contacts.CreateMessage();
    ULONG fileAs = message.GetIDFromName(PSETID_Address, 0x8005, PT_STRING8, MAPI_CREATE);
    EXPECT_GE(PROP_ID(fileAs), PROP_ID_NAMED_FIRST);
    EXPECT_EQ(PROP_TYPE(fileAs), PT_STRING8);
    EXPECT_EQ(message.GetIDFromName(PSETID_Address, 0x8005, PT_STRING8, 0), fileAs);
    // The same name asked from another object of the store gives the same id.
    EXPECT_EQ(inbox.GetIDFromName(PSETID_Address, 0x8005, PT_UNICODE, MAPI_CREATE),
              CHANGE_PROP_TYPE(fileAs, PT_UNICODE));

    ULONG keywords =
        message.GetIDFromName(PS_PUBLIC_STRINGS, u"Keywords", PT_MV_STRING8, MAPI_CREATE);
    EXPECT_NE(PROP_ID(keywords), PROP_ID(fileAs));
    EXPECT_EQ(PROP_TYPE(keywords), PT_MV_STRING8);

    message.SetStrProp(fileAs, "Doe, Ann");
    message.SetProp(*CPropValue::MultiString8(keywords, {"A", " B"}).Get());
    message.SaveChanges(KEEP_OPEN_READWRITE);
    EXPECT_EQ(contacts.OpenMessage(message.GetEntryID()).GetStrProp(fileAs), "Doe, Ann");
    EXPECT_EQ(PropValueText(*message.GetProp(keywords).Get()), "A,  B");

    std::string place;
    EXPECT_EQ(Raised([&] { message.GetIDFromName(PSETID_Task, 0x8777, PT_LONG, 0); }, &place),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(place, "CGenMapiPropPtr::GetIDFromName");
    EXPECT_EQ(Raised([&] { message.GetIDFromName(PSETID_Task, u"NoSuchName", PT_LONG, 0); }),
              MAPI_E_NOT_FOUND);
}

TEST_F(PropPtrTest, ItemNameIsSubjectOrDisplayName) {
    IMessagePtr withSubject = AddMessage(inbox, "Meeting");
    withSubject.SetStrProp(PR_DISPLAY_NAME, "Other");
    EXPECT_EQ(withSubject.GetItemName(), "Meeting");
    IMessagePtr contact = contacts.CreateMessage();
    contact.SetStrProp(PR_DISPLAY_NAME, "Ann Doe");
    EXPECT_EQ(contact.GetItemName(), "Ann Doe");
    EXPECT_EQ(contacts.CreateMessage().GetItemName(), "");
}

// ---- batching ----------------------------------------------------------------------------

TEST_F(PropPtrTest, BatchWritesFortyNineBeforeTheFiftieth) {
    IMessagePtr message = inbox.CreateMessage();
    CPropSpy spy(message.Get());
    IMAPIPropPtr batched(CMapiRef<IMAPIProp>::Share(&spy));
    batched.SetBatched(true);
    ULONG first = message.GetIDFromName(PS_PUBLIC_STRINGS, 0x9000, PT_LONG, MAPI_CREATE);
    std::vector<ULONG> tags;
    for (LONG i = 0; i < 50; ++i)
        tags.push_back(message.GetIDFromName(PS_PUBLIC_STRINGS, 0x9000 + i, PT_LONG, MAPI_CREATE));
    ASSERT_EQ(tags[0], first);

    for (LONG i = 0; i < 49; ++i) batched.SetLongProp(tags[i], i);
    EXPECT_EQ(batched.PendingCount(), 49u);
    EXPECT_TRUE(spy.setPropsSizes.empty());
    EXPECT_EQ(RawError(message.Get(), tags[0]), MAPI_E_NOT_FOUND);
    EXPECT_EQ(batched.GetLongProp(tags[48]), 48);  // pending values are read first

    batched.SetLongProp(tags[49], 49);
    EXPECT_EQ(spy.setPropsSizes, std::vector<ULONG>{49});
    EXPECT_EQ(batched.PendingCount(), 1u);
    EXPECT_EQ(RawError(message.Get(), tags[48]), S_OK);
    EXPECT_EQ(RawError(message.Get(), tags[49]), MAPI_E_NOT_FOUND);

    batched.SaveChanges(KEEP_OPEN_READWRITE);
    EXPECT_EQ(spy.setPropsSizes, (std::vector<ULONG>{49, 1}));
    EXPECT_EQ(batched.PendingCount(), 0u);
    IMessagePtr saved = inbox.OpenMessage(message.GetEntryID());
    for (LONG i = 0; i < 50; ++i) EXPECT_EQ(saved.GetLongProp(tags[i]), i);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PropPtrTest, BatchKeepsOneValuePerTag) {
    IMessagePtr message = inbox.CreateMessage();
    message.SetBatched(true);
    message.SetStrProp(PR_SUBJECT, "first");
    message.SetStrProp(PR_SUBJECT, "second");
    EXPECT_EQ(message.PendingCount(), 1u);
    EXPECT_EQ(message.GetStrProp(PR_SUBJECT), "second");
    message.SetBatched(false);  // writes the list out
    EXPECT_EQ(message.PendingCount(), 0u);
    EXPECT_EQ(message.GetStrProp(PR_SUBJECT), "second");
}

TEST_F(PropPtrTest, FailedBatchIsReportedAndEmptied) {
    IMessagePtr message = AddMessage(inbox, "x");
    message.SetBatched(true);
    uint8_t bytes[] = {1, 2, 3};
    message.SetStrProp(PR_COMPANY_NAME, "Kept");
    message.SetProp(*CPropValue::Binary(PR_ENTRYID, bytes, sizeof bytes).Get());  // computed
    message.SaveProps();
    EXPECT_EQ(message.PendingCount(), 0u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "SaveProps|MAPI_E_COMPUTED\r\nin CGenMapiPropPtr::SaveProps 0x0FFF0102");
    EXPECT_EQ(message.GetStrProp(PR_COMPANY_NAME), "Kept");
}

// ---- bodies ------------------------------------------------------------------------------

std::string Pattern(size_t length) {
    std::string text(length, ' ');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

TEST_F(PropPtrTest, BodyOfTwoHundredThousandBytesMovesInChunks) {
    IMessagePtr message = inbox.CreateMessage();
    CPropSpy spy(message.Get());
    IMAPIPropPtr wrapped(CMapiRef<IMAPIProp>::Share(&spy));
    std::string body = Pattern(200000);

    wrapped.SetBody(body);
    ASSERT_TRUE(spy.lastStream);
    EXPECT_EQ(spy.lastStream->writes, (std::vector<ULONG>{65536, 65536, 65536, 3392}));
    EXPECT_EQ(spy.lastStream->written, body);  // no terminating zero byte
    EXPECT_EQ(spy.lastStream->commits, 1);
    message.SaveChanges(KEEP_OPEN_READWRITE);

    EXPECT_EQ(wrapped.GetBody(), body);
    EXPECT_EQ(spy.lastStream->reads, (std::vector<ULONG>{65536, 65536, 65536, 3392, 0}));
    EXPECT_EQ(inbox.OpenMessage(message.GetEntryID()).GetBody(), body);
}

TEST_F(PropPtrTest, BodyWithoutStreamUsesThePlainProperty) {
    IMessagePtr message = inbox.CreateMessage();
    CPropSpy spy(message.Get());
    spy.refuseStreams = true;
    IMAPIPropPtr wrapped(CMapiRef<IMAPIProp>::Share(&spy));
    EXPECT_EQ(wrapped.GetBody(), "");  // no stream and no property
    wrapped.SetBody("plain text");
    EXPECT_EQ(spy.setPropsSizes, std::vector<ULONG>{1});
    EXPECT_EQ(wrapped.GetBody(), "plain text");
    EXPECT_EQ(spy.openPropertyCalls, 3);
}

TEST_F(PropPtrTest, BodyEndsAtItsFirstZeroByte) {
    IMessagePtr message = inbox.CreateMessage();
    message.SetBody(std::string("abc\0def", 7));
    message.SaveChanges(KEEP_OPEN_READWRITE);
    EXPECT_EQ(message.GetBody(), "abc");
    EXPECT_EQ(message.GetStrProp(PR_BODY), "abc");
    message.SetBody("");
    EXPECT_EQ(message.GetBody(), "");
}

TEST_F(PropPtrTest, BatchedBodyIsCached) {
    IMessagePtr message = inbox.CreateMessage();
    message.SetBody("stored");
    message.SaveChanges(KEEP_OPEN_READWRITE);
    CPropSpy spy(message.Get());
    IMAPIPropPtr wrapped(CMapiRef<IMAPIProp>::Share(&spy));
    wrapped.SetBatched(true);
    EXPECT_EQ(wrapped.GetBody(), "stored");
    EXPECT_EQ(wrapped.GetBody(), "stored");
    EXPECT_EQ(spy.openPropertyCalls, 1);
    wrapped.SetBody("changed");  // writes through and updates the cache
    EXPECT_EQ(spy.openPropertyCalls, 2);
    EXPECT_EQ(wrapped.GetBody(), "changed");
    EXPECT_EQ(spy.openPropertyCalls, 2);
    wrapped.SetBatched(false);
    EXPECT_EQ(wrapped.GetBody(), "changed");
    EXPECT_EQ(spy.openPropertyCalls, 3);
}

}  // namespace
