// The tool's text forms: property names, values, times, JSON strings.
#include "tools/prop_text.h"

#include <gtest/gtest.h>

#include "tools/json_writer.h"

namespace {

HRESULT ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ToolError& e) {
        return e.hr;
    }
    return S_OK;
}

TEST(PropTextTest, PropertyNamesInEveryForm) {
    EXPECT_EQ(ParsePropRef("PR_SUBJECT").tag, 0x0037001Eu);
    EXPECT_EQ(ParsePropRef("pr_subject_w").tag, 0x0037001Fu);
    EXPECT_EQ(ParsePropRef("0x3A58101E").tag, 0x3A58101Eu);
    PropRef fileAs = ParsePropRef("PSETID_Address:0x8005");
    ASSERT_TRUE(fileAs.named);
    EXPECT_TRUE(fileAs.namedProp.guid == PSETID_Address);
    EXPECT_EQ(fileAs.namedProp.lid, 0x8005);
    EXPECT_EQ(fileAs.namedProp.type, PT_STRING8);  // known pair: type from the table
    PropRef custom = ParsePropRef("{00062008-0000-0000-C000-000000000046}:Color:PT_LONG");
    EXPECT_TRUE(custom.namedProp.guid == PSETID_Common);
    EXPECT_EQ(custom.namedProp.kind, MNID_STRING);
    EXPECT_EQ(custom.namedProp.name, "Color");
    EXPECT_EQ(custom.namedProp.type, PT_LONG);
    EXPECT_EQ(ParsePropRef("PSETID_Task:0x9999").namedProp.type,
              PT_UNSPECIFIED);  // unknown: needs a type
    EXPECT_EQ(ParsePropRef("FileAs").namedProp.lid, 0x8005);
    for (const char* bad : {"", "PR_NOPE", "0x0037", "NOSET:0x8005", "PSETID_Task:0x8105:PT_NOPE",
                            "a:b:c:d", "PSETID_Task:"}) {
        EXPECT_EQ(ErrorOf([&] { ParsePropRef(bad); }), MAPI_E_INVALID_PARAMETER) << bad;
    }
}

TEST(PropTextTest, ValuesByTypeAndTheirErrors) {
    EXPECT_EQ(ParseValue(PR_IMPORTANCE, "-2").i, -2);
    EXPECT_EQ(ParseValue(PR_IMPORTANCE, "0xFFFFFFFF").i, -1);
    EXPECT_EQ(ParseValue(PR_RESPONSE_REQUESTED, "true").i, 1);
    EXPECT_EQ(ParseValue(PR_CONVERSATION_KEY, "00ff10").s, std::string("\x00\xFF\x10", 3));
    mapistore::Value mv = ParseValue(PR_CHILDRENS_NAMES, "Ann;;Bob");
    EXPECT_EQ(mv.mvs, (std::vector<std::string>{"Ann", "", "Bob"}));
    EXPECT_EQ(FormatValue(mv), "Ann;;Bob");
    EXPECT_EQ(FormatValue(ParseValue(PROP_TAG(PT_MV_LONG, 0x6001), "1;-2;3")), "1;-2;3");
    EXPECT_EQ(ErrorOf([] { ParseValue(PR_IMPORTANCE, "12x"); }), MAPI_E_BAD_VALUE);
    EXPECT_EQ(ErrorOf([] { ParseValue(PR_IMPORTANCE, "4294967296"); }), MAPI_E_BAD_VALUE);
    EXPECT_EQ(ErrorOf([] { ParseValue(PR_RESPONSE_REQUESTED, "yes"); }), MAPI_E_BAD_VALUE);
    EXPECT_EQ(ErrorOf([] { ParseValue(PR_CONVERSATION_KEY, "abc"); }), MAPI_E_BAD_VALUE);
    EXPECT_EQ(ErrorOf([] { ParseValue(PR_BIRTHDAY, "2024-02-30"); }), MAPI_E_BAD_VALUE);
    EXPECT_EQ(ErrorOf([] { ParseValue(PROP_TAG(PT_OBJECT, 0x6001), "x"); }), MAPI_E_INVALID_TYPE);
}

TEST(PropTextTest, TimesInIso8601Utc) {
    std::uint64_t ft = 0;
    ASSERT_TRUE(IsoToFileTime("2009-03-07T13:05:09Z", ft));
    EXPECT_EQ(ft, 128809047090000000ull);
    EXPECT_EQ(FileTimeToIso(ft), "2009-03-07T13:05:09Z");
    ASSERT_TRUE(IsoToFileTime("1970-01-01", ft));
    EXPECT_EQ(ft, 116444736000000000ull);
    ASSERT_TRUE(IsoToFileTime("2009-03-07T13:05:09.5Z", ft));
    EXPECT_EQ(FileTimeToIso(ft), "2009-03-07T13:05:09.5000000Z");
    EXPECT_EQ(FileTimeToIso(915045983400000000ull), "4500-08-31T23:59:00Z");
    for (const char* bad : {"2009-03-07 13:05:09", "2009-3-7", "2009-03-07T13:05:09", "1600-12-31",
                            "2009-13-01", "2009-03-07T24:00:00Z", "2009-03-07T13:05:09.Z"}) {
        EXPECT_FALSE(IsoToFileTime(bad, ft)) << bad;
    }
}

TEST(PropTextTest, JsonStringsAreEscapedAndStayUtf8) {
    EXPECT_EQ(JsonWriter::Quote("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(JsonWriter::Quote("bad\xFFtext"), "\"bad\xEF\xBF\xBDtext\"");
    JsonWriter w;
    w.BeginObject()
        .Key("a")
        .BeginArray()
        .Number(1)
        .Bool(false)
        .Null()
        .EndArray()
        .Key("b")
        .String("x")
        .EndObject();
    EXPECT_EQ(w.text(), "{\"a\":[1,false,null],\"b\":\"x\"}");
}

}  // namespace
