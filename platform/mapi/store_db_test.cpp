// The database layer: the text index answers equality searches, value encodings,
// and text conversion.
#include "platform/mapi/store_db.h"

#include <sqlite3.h>

#include "platform/mapi/prop_value.h"
#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

using namespace mapistore;

TEST(StoreDbTest, TextEqualityIsAnsweredFromTheIndex) {
    TempHome home{"mapistore"};
    std::string path = home.Path() + "/s.db";
    ASSERT_EQ(StoreDb::Create(path, StoreDb::NewRandomBytes(kUidBytes), "S"), S_OK);
    EXPECT_EQ(StoreDb::Create(path, StoreDb::NewRandomBytes(kUidBytes), "S"), MAPI_E_COLLISION);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string sql = std::string("EXPLAIN QUERY PLAN ") + kFindTextSql;
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    std::string plan;
    while (sqlite3_step(st) == SQLITE_ROW)
        plan += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
    sqlite3_finalize(st);
    sqlite3_close(db);
    EXPECT_NE(plan.find("INDEX props_text"), std::string::npos) << plan;
    EXPECT_EQ(plan.find("SCAN"), std::string::npos) << plan;
}

TEST(StoreDbTest, TextLongerThanTheIndexedLengthFallsBackToAScan) {
    TempHome home{"mapistore"};
    std::string path = home.Path() + "/s.db";
    ASSERT_EQ(StoreDb::Create(path, StoreDb::NewRandomBytes(kUidBytes), "S"), S_OK);
    std::shared_ptr<StoreDb> db;
    ASSERT_EQ(StoreDb::Open(path, "", db), S_OK);
    std::vector<std::int64_t> ids;
    HRESULT hr = S_OK;
    EXPECT_TRUE(db->FindText(0x37, std::string(255, 'x'), ids, hr));
    EXPECT_FALSE(db->FindText(0x37, std::string(256, 'x'), ids, hr));
    EXPECT_TRUE(
        db->FindText(0x37, std::string(255, '\xC3'), ids, hr));  // 255 lead bytes: 255 characters
}

TEST(PropValueTest, Utf8AndUtf16ConvertBothWaysAndRepairBadInput) {
    EXPECT_EQ(Utf16ToUtf8(u"a\u00E9\u20AC\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"a\u00E9\u20AC\U0001F600");
    EXPECT_EQ(Utf8ToUtf16("x\xFFy\xC3"), u"x\uFFFDy\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    std::u16string lone = u"a";
    lone.push_back(static_cast<char16_t>(0xD800));
    EXPECT_EQ(Utf16ToUtf8(lone), "a\xEF\xBF\xBD");
}

TEST(PropValueTest, TextArgumentsAreUtf16UnderMapiUnicodeAndTakenAsTheyAreOtherwise) {
    EXPECT_EQ(TextArgument(nullptr, 0), "");
    EXPECT_EQ(TextArgument(nullptr, MAPI_UNICODE), "");
    EXPECT_EQ(TextArgument("IPM.Note", 0), "IPM.Note");
    EXPECT_EQ(TextArgument("B\xC3\xBCro", 0), "B\xC3\xBCro");
    std::u16string wide = u"B\u00FCro \U0001F600";
    EXPECT_EQ(TextArgument(reinterpret_cast<LPCTSTR>(wide.c_str()), MAPI_UNICODE),
              "B\xC3\xBCro \xF0\x9F\x98\x80");
    // Other flags leave 8-bit text alone.
    EXPECT_EQ(TextArgument("Inbox", MAPI_DEFERRED_ERRORS), "Inbox");
}

TEST(PropValueTest, MultiValuedEncodingRoundTripsAndRejectsDamage) {
    Value v;
    v.type = PT_MV_UNICODE;
    v.mvs = {"one", "", "three"};
    std::string blob = EncodeMulti(v);
    Value back;
    ASSERT_TRUE(DecodeMulti(PT_MV_UNICODE, blob.data(), blob.size(), back));
    EXPECT_TRUE(back == v);
    EXPECT_FALSE(DecodeMulti(PT_MV_UNICODE, blob.data(), blob.size() - 1, back));
    std::string longer = blob + "x";
    EXPECT_FALSE(DecodeMulti(PT_MV_UNICODE, longer.data(), longer.size(), back));
    Value times;
    times.type = PT_MV_SYSTIME;
    times.mvi = {1, -1, 128809047090000000};
    blob = EncodeMulti(times);
    ASSERT_TRUE(DecodeMulti(PT_MV_SYSTIME, blob.data(), blob.size(), back));
    EXPECT_TRUE(back == times);
    std::string huge("\xFF\xFF\xFF\x7F", 4);  // a count with nothing behind it
    EXPECT_FALSE(DecodeMulti(PT_MV_LONG, huge.data(), huge.size(), back));
}

TEST(MapiMemoryTest, MoreBlocksAreFreedWithTheirRoot) {
    void* root = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(16, &root), S_OK);
    for (int k = 0; k < 100; ++k) {
        void* more = nullptr;
        ASSERT_EQ(MAPIAllocateMore(1000, root, &more), S_OK);
        static_cast<char*>(more)[999] = 1;
    }
    void* bad = nullptr;
    void* more = nullptr;
    ASSERT_EQ(MAPIAllocateMore(8, root, &more), S_OK);
    EXPECT_EQ(MAPIAllocateMore(8, more, &bad), MAPI_E_INVALID_PARAMETER);  // not a root
    EXPECT_EQ(MAPIFreeBuffer(root), static_cast<ULONG>(S_OK));
    EXPECT_EQ(MAPIFreeBuffer(nullptr), static_cast<ULONG>(S_OK));
}

TEST(MapiNamesTest, TagsTypesErrorsAndGuidsByName) {
    EXPECT_STREQ(MapiPropTagName(PR_SUBJECT), "PR_SUBJECT");
    EXPECT_STREQ(MapiPropTagName(PR_SUBJECT_W), "PR_SUBJECT");
    EXPECT_EQ(MapiPropTagName(PROP_TAG(PT_LONG, 0x6789)), nullptr);
    ULONG tag = 0;
    ASSERT_TRUE(MapiPropTagFromName("pr_subject_w", tag));
    EXPECT_EQ(tag, 0x0037001Fu);
    ASSERT_TRUE(MapiPropTagFromName("PR_IPM_SUBTREE_ENTRYID", tag));
    EXPECT_EQ(tag, 0x35E00102u);
    EXPECT_FALSE(MapiPropTagFromName("PR_NO_SUCH_THING", tag));
    ULONG type = 0;
    ASSERT_TRUE(MapiPropTypeFromName("PT_MV_STRING8", type));
    EXPECT_EQ(type, 0x101Eu);
    EXPECT_STREQ(MapiPropTypeName(PT_SYSTIME), "PT_SYSTIME");
    EXPECT_STREQ(MapiErrorName(MAPI_E_NOT_FOUND), "MAPI_E_NOT_FOUND");
    EXPECT_STREQ(MapiErrorName(MAPI_E_EXTENDED_ERROR), "MAPI_E_EXTENDED_ERROR");
    EXPECT_STREQ(MapiErrorName(MAPI_W_ERRORS_RETURNED), "MAPI_W_ERRORS_RETURNED");
    EXPECT_EQ(MapiErrorName(0x12345), nullptr);
    GUID g{};
    ASSERT_TRUE(GuidFromText("{00062004-0000-0000-c000-000000000046}", g));
    EXPECT_TRUE(g == PSETID_Address);
    EXPECT_EQ(GuidToText(PSETID_Meeting), "{6ED8DA90-450B-101B-98DA-00AA003F1305}");
    EXPECT_FALSE(GuidFromText("{00062004-0000-0000-c000-00000000004}", g));
    EXPECT_FALSE(GuidFromText("00062004-0000-0000-c000-00000000004G", g));
    const KnownNamedProp* fileAs = MapiFindKnownNamedPropByName("fileas");
    ASSERT_NE(fileAs, nullptr);
    EXPECT_EQ(fileAs->lID, 0x8005);
    EXPECT_EQ(MapiFindKnownNamedProp(PS_PUBLIC_STRINGS, MNID_STRING, 0, "Keywords")->ulPropType,
              PT_MV_STRING8);
}

}  // namespace
}  // namespace mapitest
