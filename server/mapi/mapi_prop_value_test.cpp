// CPropValue deep copies, text forms of values, and time conversions.
#include "server/mapi/mapi_prop_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_exception.h"

namespace {

TEST(PropValueCopy, StringsAreCopiedNotShared) {
    char text[] = "Ann";
    SPropValue v{};
    v.ulPropTag = PR_SUBJECT;
    v.Value.lpszA = text;
    CPropValue copy = CPropValue::Copy(v);
    text[0] = 'X';
    EXPECT_STREQ(copy->Value.lpszA, "Ann");
    EXPECT_NE(copy->Value.lpszA, text);
    EXPECT_EQ(copy.Tag(), PR_SUBJECT);

    CPropValue second = copy;  // deep copy of a copy
    EXPECT_NE(second->Value.lpszA, copy->Value.lpszA);
    EXPECT_STREQ(second->Value.lpszA, "Ann");
}

TEST(PropValueCopy, BinaryUnicodeAndMultiValuedStrings) {
    uint8_t bytes[] = {0, 1, 2, 0xFF};
    CPropValue bin = CPropValue::Binary(PR_ENTRYID, bytes, sizeof bytes);
    bytes[0] = 9;
    ASSERT_EQ(bin->Value.bin.cb, 4u);
    EXPECT_EQ(bin->Value.bin.lpb[0], 0);
    EXPECT_EQ(bin->Value.bin.lpb[3], 0xFF);

    CPropValue empty = CPropValue::Binary(PR_ENTRYID, nullptr, 0);
    EXPECT_EQ(empty->Value.bin.cb, 0u);
    EXPECT_EQ(empty->Value.bin.lpb, nullptr);

    CPropValue w = CPropValue::Unicode(PR_SUBJECT, u"Grüße");
    EXPECT_EQ(w.Tag(), PR_SUBJECT_W);
    EXPECT_EQ(std::u16string(w->Value.lpszW), u"Grüße");

    CPropValue mv = CPropValue::MultiString8(PR_CHILDRENS_NAMES, {"A", " B", ""});
    CPropValue mvCopy = mv;
    ASSERT_EQ(mvCopy->Value.MVszA.cValues, 3u);
    EXPECT_STREQ(mvCopy->Value.MVszA.lppszA[0], "A");
    EXPECT_STREQ(mvCopy->Value.MVszA.lppszA[1], " B");
    EXPECT_STREQ(mvCopy->Value.MVszA.lppszA[2], "");
    EXPECT_NE(mvCopy->Value.MVszA.lppszA, mv->Value.MVszA.lppszA);
}

TEST(PropValueCopy, MultiValuedBinariesAndLongs) {
    uint8_t a[] = {1, 2};
    uint8_t b[] = {3};
    SBinary bins[] = {{2, a}, {1, b}};
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_MV_BINARY, 0x8001);
    v.Value.MVbin.cValues = 2;
    v.Value.MVbin.lpbin = bins;
    CPropValue copy = CPropValue::Copy(v);
    a[0] = 0;
    EXPECT_EQ(copy->Value.MVbin.lpbin[0].lpb[0], 1);
    EXPECT_EQ(copy->Value.MVbin.lpbin[1].lpb[0], 3);

    LONG longs[] = {5, -6};
    SPropValue l{};
    l.ulPropTag = PROP_TAG(PT_MV_LONG, 0x8002);
    l.Value.MVl.cValues = 2;
    l.Value.MVl.lpl = longs;
    EXPECT_EQ(PropValueText(*CPropValue::Copy(l).Get()), "5, -6");
}

TEST(PropValueCopy, UnknownTypeIsRefused) {
    SPropValue v{};
    v.ulPropTag = PROP_TAG(0x0099, 0x8003);
    try {
        CPropValue::Copy(v);
        FAIL() << "no exception";
    } catch (const CMAPIException& e) {
        EXPECT_EQ(e.GetHResult(), MAPI_E_INVALID_TYPE);
    }
}

TEST(PropValueText, EveryCommonType) {
    EXPECT_EQ(PropValueText(*CPropValue::Long(PR_MESSAGE_FLAGS, -5).Get()), "-5");
    EXPECT_EQ(PropValueText(*CPropValue::Boolean(PR_DEFAULT_STORE, true).Get()), "1");
    EXPECT_EQ(PropValueText(*CPropValue::String8(PR_SUBJECT, "Hi %s").Get()), "Hi %s");
    EXPECT_EQ(PropValueText(*CPropValue::Unicode(PR_SUBJECT, u"Ä").Get()), "Ä");
    uint8_t bytes[] = {0x0A, 0xBC};
    EXPECT_EQ(PropValueText(*CPropValue::Binary(PR_ENTRYID, bytes, 2).Get()), "0ABC");
    EXPECT_EQ(PropValueText(*CPropValue::MultiString8(PR_CHILDRENS_NAMES, {"A", "B"}).Get()),
              "A, B");
    EXPECT_EQ(
        PropValueText(
            *CPropValue::Time(PR_CREATION_TIME, UtcToFileTime({2009, 3, 7, 13, 5, 9, 0})).Get()),
        "2009-03-07 13:05:09");
    SPropValue err{};
    err.ulPropTag = CHANGE_PROP_TYPE(PR_SUBJECT, PT_ERROR);
    err.Value.err = MAPI_E_NOT_FOUND;
    EXPECT_EQ(PropValueText(err), "MAPI_E_NOT_FOUND");
    SPropValue cur{};
    cur.ulPropTag = PROP_TAG(PT_CURRENCY, 0x8004);
    cur.Value.cur.int64 = -123456;
    EXPECT_EQ(PropValueText(cur), "-12.3456");
    SPropValue i8{};
    i8.ulPropTag = PROP_TAG(PT_I8, 0x8005);
    i8.Value.li.QuadPart = 1234567890123LL;
    EXPECT_EQ(PropValueText(i8), "1234567890123");
    SPropValue null{};
    null.ulPropTag = PR_NULL;
    EXPECT_EQ(PropValueText(null), "");
}

TEST(PropValueTime, FileTimeConversionsAgree) {
    // 2009-03-07 13:05:09.250 UTC; known FILETIME of 1970-01-01 is 116444736000000000.
    FILETIME epoch = UtcToFileTime({1970, 1, 1, 0, 0, 0, 0});
    uint64_t ticks = (uint64_t{epoch.dwHighDateTime} << 32) | epoch.dwLowDateTime;
    EXPECT_EQ(ticks, 116444736000000000ULL);

    CUtcTime t = FileTimeToUtc(UtcToFileTime({2009, 3, 7, 13, 5, 9, 250}));
    EXPECT_EQ(t.year, 2009);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 7);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(t.second, 9);
    EXPECT_EQ(t.millisecond, 250);

    CUtcTime leap = FileTimeToUtc(UtcToFileTime({2000, 2, 29, 23, 59, 59, 999}));
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
    CUtcTime start = FileTimeToUtc(FILETIME{0, 0});
    EXPECT_EQ(start.year, 1601);
    EXPECT_EQ(start.month, 1);
    EXPECT_EQ(start.day, 1);
    // The largest file time, far past any 32-bit day count, and back.
    const FILETIME last{0xFFFFFFFFu, 0x7FFFFFFFu};
    CUtcTime end = FileTimeToUtc(last);
    EXPECT_EQ((std::vector<int>{end.year, end.month, end.day, end.hour, end.minute, end.second,
                                end.millisecond}),
              (std::vector<int>{30828, 9, 14, 2, 48, 5, 477}));
    FILETIME again = UtcToFileTime(end);
    EXPECT_EQ((uint64_t{again.dwHighDateTime} << 32 | again.dwLowDateTime) / 10000,
              0x7FFFFFFFFFFFFFFFULL / 10000);
}

TEST(PropArrays, FindMatchesExactTagsAndSkipsErrors) {
    SPropValue values[3]{};
    values[0].ulPropTag = PR_SUBJECT;
    values[0].Value.lpszA = const_cast<char*>("Hello");
    values[1].ulPropTag = CHANGE_PROP_TYPE(PR_DISPLAY_NAME, PT_ERROR);
    values[1].Value.err = MAPI_E_NOT_FOUND;
    values[2].ulPropTag = PR_MESSAGE_FLAGS;
    values[2].Value.l = 1;
    SRow row{0, 3, values};
    EXPECT_EQ(CRowSet::Text(row, PR_SUBJECT), "Hello");
    EXPECT_EQ(CRowSet::Text(row, PR_SUBJECT_W), "");
    EXPECT_EQ(CRowSet::Find(row, PR_DISPLAY_NAME), nullptr);
    EXPECT_EQ(CRowSet::Find(row, CHANGE_PROP_TYPE(PR_DISPLAY_NAME, PT_ERROR)), nullptr);
    EXPECT_EQ(CRowSet::Long(row, PR_MESSAGE_FLAGS), 1);
    EXPECT_EQ(CRowSet::Long(row, PR_IMPORTANCE, 7), 7);
    EXPECT_TRUE(CRowSet::Binary(row, PR_ENTRYID).Empty());

    CPropTagArray tags{PR_ENTRYID, PR_SUBJECT, PR_MESSAGE_FLAGS};
    ASSERT_EQ(tags.Count(), 3u);
    EXPECT_EQ(tags.Get()->aulPropTag[1], PR_SUBJECT);
    CPropTagArray none(std::vector<ULONG>{});
    EXPECT_EQ(none.Count(), 0u);
}

}  // namespace
