// Text forms of property values in item elements, both ways, and the mapping
// table's own rules (item kinds, GUID texts, row order).
#include "server/itemconv/value_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "server/itemconv/element_map.h"
#include "server/itemconv/time_zone_info.h"
#include "server/mapi/mapi_wrapper.h"

namespace {

// UTC+1 all year.
const CRuleTimeZone& PlusOne() {
    static const CRuleTimeZone zone([] {
        CTimeZoneStruct s;
        s.bias = -60;
        return s;
    }());
    return zone;
}

// UTC+1 with European summer time.
const CRuleTimeZone& Central() {
    static const CRuleTimeZone zone(FixedCentralEuropeanTimeZone());
    return zone;
}

FILETIME Filetime(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    CItemTime t{y, mo, d, h, mi, s, ms};
    std::uint64_t v = FiletimeFromItemTime(t);
    return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

std::string Text(const CPropValue& v, const CTimeZone& zone = PlusOne()) {
    return PropValueToElementText(*v.Get(), zone);
}

// The value read back from text, rendered through the writer's form.
std::string RoundTrip(ULONG tag, std::string_view text, const CTimeZone& zone = PlusOne()) {
    CPropValue v;
    ValueParse r = ElementTextToPropValue(tag, text, zone, v);
    if (r == ValueParse::kInvalid) return "<invalid>";
    if (r == ValueParse::kUnsupportedType) return "<unsupported>";
    return PropValueToElementText(*v.Get(), zone);
}

std::string Joined(const std::vector<std::string>& pieces) {
    std::string out;
    for (const auto& p : pieces) out += "[" + p + "]";
    return out;
}

}  // namespace

TEST(ValueFormat, Base64UsesStandardAlphabetAndPadding) {
    auto b64 = [](std::string_view s) {
        return Base64Encode(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    EXPECT_EQ("", b64(""));
    EXPECT_EQ("Zg==", b64("f"));
    EXPECT_EQ("Zm8=", b64("fo"));
    EXPECT_EQ("Zm9v", b64("foo"));
    EXPECT_EQ("Zm9vYmFy", b64("foobar"));
    const std::uint8_t high[] = {0xFB, 0xFF, 0xBF};
    EXPECT_EQ("+/+/", Base64Encode(high, 3));
}

TEST(ValueFormat, WritesEachTypeInItsForm) {
    SPropValue i2{};
    i2.ulPropTag = PROP_TAG(PT_I2, 0x6001);
    i2.Value.i = -7;
    EXPECT_EQ("-7", PropValueToElementText(i2, PlusOne()));
    EXPECT_EQ("-2147483648", Text(CPropValue::Long(PR_IMPORTANCE, -2147483647 - 1)));
    SPropValue dbl{};
    dbl.ulPropTag = PROP_TAG(PT_DOUBLE, 0x6002);
    dbl.Value.dbl = 1.5;
    EXPECT_EQ("1.500000", PropValueToElementText(dbl, PlusOne()));
    EXPECT_EQ("1", Text(CPropValue::Boolean(PR_INCOMPLETE_COPY, true)));
    EXPECT_EQ("0", Text(CPropValue::Boolean(PR_INCOMPLETE_COPY, false)));
    EXPECT_EQ("M\xC3\xBCller", Text(CPropValue::String8(PR_SURNAME, "M\xC3\xBCller")));
    const std::uint8_t key[] = {0x01, 0x02, 0x03, 0xFF};
    EXPECT_EQ("AQID/w==", Text(CPropValue::Binary(PR_CONVERSATION_KEY, key, sizeof key)));
    EXPECT_EQ("A, B", Text(CPropValue::MultiString8(PR_CHILDRENS_NAMES, {"A", "B"})));
    EXPECT_EQ("", Text(CPropValue::MultiString8(PR_CHILDRENS_NAMES, {})));
    SPropValue i8{};
    i8.ulPropTag = PROP_TAG(PT_I8, 0x6003);
    i8.Value.li.QuadPart = 5;
    EXPECT_EQ("", PropValueToElementText(i8, PlusOne()));
}

TEST(ValueFormat, TimesAreWrittenInLocalTimeOfTheirDate) {
    // 13:05:09 UTC on a server at UTC+1 without daylight saving.
    EXPECT_EQ("07.03.2009 14:05.09:0",
              Text(CPropValue::Time(PR_START_DATE, Filetime(2009, 3, 7, 13, 5, 9))));
    EXPECT_EQ("07.03.2009 14:05.09:250",
              Text(CPropValue::Time(PR_START_DATE, Filetime(2009, 3, 7, 13, 5, 9, 250))));
    // With summer time, a July date is two hours ahead and a January date one,
    // whatever the season the server runs in.
    EXPECT_EQ("07.07.2009 15:05.09:0",
              Text(CPropValue::Time(PR_START_DATE, Filetime(2009, 7, 7, 13, 5, 9)), Central()));
    EXPECT_EQ("07.01.2009 14:05.09:0",
              Text(CPropValue::Time(PR_START_DATE, Filetime(2009, 1, 7, 13, 5, 9)), Central()));
}

TEST(ValueFormat, ReadsNumbersFromTheirLeadingDigits) {
    const ULONG i2 = PROP_TAG(PT_I2, 0x6001);
    EXPECT_EQ("12", RoundTrip(i2, "12abc"));
    EXPECT_EQ("4464", RoundTrip(i2, "70000"));  // kept in 16 bits
    EXPECT_EQ("<invalid>", RoundTrip(i2, "abc"));
    EXPECT_EQ("<invalid>", RoundTrip(i2, ""));
    EXPECT_EQ("1", RoundTrip(PR_INCOMPLETE_COPY, "1"));
    EXPECT_EQ("0", RoundTrip(PR_INCOMPLETE_COPY, "0"));
    EXPECT_EQ("-5", RoundTrip(PR_IMPORTANCE, " -5"));
    EXPECT_EQ("2147483647", RoundTrip(PR_IMPORTANCE, "2147483647"));
    EXPECT_EQ("<invalid>", RoundTrip(PR_IMPORTANCE, "2147483648"));
    EXPECT_EQ("<invalid>", RoundTrip(PR_IMPORTANCE, "99999999999999999999999"));
    EXPECT_EQ("<invalid>", RoundTrip(PR_IMPORTANCE, "x1"));
}

TEST(ValueFormat, ReadsDatesInTheServerFormAndTheLegacyHandheldForm) {
    EXPECT_EQ("07.03.2009 14:05.09:0", RoundTrip(PR_START_DATE, "07.03.2009 14:05.09:0"));
    CPropValue v;
    ASSERT_EQ(ValueParse::kOk,
              ElementTextToPropValue(PR_START_DATE, "07.03.2009 14:05.09:0", PlusOne(), v));
    EXPECT_EQ("2009-03-07 13:05:09", PropValueText(*v.Get()));  // stored in UTC
    EXPECT_EQ("07.03.2009 14:05.09:0", RoundTrip(PR_START_DATE, "07032009 14:05:09"));
    // A summer date goes back with the summer offset.
    ASSERT_EQ(ValueParse::kOk,
              ElementTextToPropValue(PR_START_DATE, "07.07.2009 15:05.09:0", Central(), v));
    EXPECT_EQ("2009-07-07 13:05:09", PropValueText(*v.Get()));
    EXPECT_EQ("<invalid>", RoundTrip(PR_START_DATE, "07.32.2009 14:05.09:0"));
    EXPECT_EQ("<invalid>", RoundTrip(PR_START_DATE, "07.03.2009"));
    EXPECT_EQ("<invalid>", RoundTrip(PR_START_DATE, "yesterday"));
    EXPECT_EQ("<invalid>", RoundTrip(PR_START_DATE, ""));
}

TEST(ValueFormat, MultiValuedTextsAreSplitAtCommasAndTrimmed) {
    EXPECT_EQ("[A][B]", Joined(SplitMultiValueText("A, B")));
    EXPECT_EQ("[Business][Private]", Joined(SplitMultiValueText("Business,  Private ")));
    EXPECT_EQ("[a b][c]", Joined(SplitMultiValueText(",a b,, ,c,")));
    EXPECT_EQ("", Joined(SplitMultiValueText("")));
    // Written as "A, B" and read back as the same two values, on every round.
    EXPECT_EQ("A, B", RoundTrip(PR_CHILDRENS_NAMES, "A, B"));
    EXPECT_EQ("A, B", RoundTrip(PR_CHILDRENS_NAMES, RoundTrip(PR_CHILDRENS_NAMES, "A, B")));
}

TEST(ValueFormat, StringsStandAndOtherTypesAreNotRead) {
    EXPECT_EQ(" x, y ", RoundTrip(PR_SUBJECT, " x, y "));
    EXPECT_EQ("<unsupported>", RoundTrip(PR_CONVERSATION_KEY, "AQID"));
    EXPECT_EQ("<unsupported>", RoundTrip(PROP_TAG(PT_DOUBLE, 0x6002), "1.5"));
}

TEST(ElementMap, KindsFollowTheMessageClassPrefix) {
    EXPECT_EQ(kItemContact, ItemKindOfClass("IPM.Contact"));
    EXPECT_EQ(kItemContact, ItemKindOfClass("IPM.Contact.Custom form"));
    EXPECT_EQ(kItemAppointment, ItemKindOfClass("IPM.Appointment"));
    EXPECT_EQ(kItemTask, ItemKindOfClass("IPM.Task"));
    EXPECT_EQ(kItemEmail, ItemKindOfClass("IPM.Note"));
    EXPECT_EQ(kItemEmail, ItemKindOfClass("IPM.Post.Rss"));
    EXPECT_EQ(kItemNone, ItemKindOfClass("IPM.Schedule.Meeting.Request"));
    EXPECT_EQ(kItemNone, ItemKindOfClass("IPM.Contac"));
    EXPECT_EQ(kItemNone, ItemKindOfClass("ipm.note"));
    EXPECT_EQ(kItemNone, ItemKindOfClass(""));
}

TEST(ElementMap, GuidTextsParseIntoTheStoreSets) {
    GUID g{};
    ASSERT_TRUE(ParseGuidText(kAddressSetText, g));
    EXPECT_EQ(0, std::memcmp(&g, &PSETID_Address, sizeof g));
    ASSERT_TRUE(ParseGuidText("{00020329-0000-0000-c000-000000000046}", g));
    EXPECT_EQ(0, std::memcmp(&g, &PS_PUBLIC_STRINGS, sizeof g));
    GUID untouched = g;
    EXPECT_FALSE(ParseGuidText("00020329-0000-0000-C000-00000000004", g));
    EXPECT_FALSE(ParseGuidText("00020329-0000-0000-C000-00000000004G", g));
    EXPECT_FALSE(ParseGuidText("00020329+0000-0000-C000-000000000046", g));
    EXPECT_EQ(0, std::memcmp(&g, &untouched, sizeof g));
}

TEST(ElementMap, RowsPerKindInTableOrder) {
    auto tokens = [](int32_t kind) {
        std::string out;
        char part[8];
        for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
            if (row->kind != kind) continue;
            std::snprintf(part, sizeof part, "%02X%s ", static_cast<unsigned>(row->token),
                          HasProperty(*row) ? "" : (row->specialHandling ? "*" : "-"));
            out += part;
        }
        return out;
    };
    EXPECT_EQ(
        "02 03 05 06 07 08 0A 0B 19 0D 11 13 15 31 32 33 12 04 09 0C 0E 0F 10 14 16 17 18 34 1A 1B "
        "1C 1D 1E- "
        "1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2F 30 ",
        tokens(kItemContact));
    EXPECT_EQ("01 02 03 04 05- 06 07 08 09- 0A 0B 0C- 0D 0E- ", tokens(kItemTask));
    EXPECT_EQ("00 01 02 03 04 05 06 07 08 09 0A 0B- 0C 0D 0E- 0F 10- 11* ",
              tokens(kItemAppointment));
    EXPECT_EQ(
        "02 03 07 08 21 22 0A 0B 0C 0D 20 0E 0F 10 11 12 13 14 15 16 17 18 1F 26 1E 19 24 25 27 28 "
        "29 2A 2C 1A "
        "1B 2D 1C 2E 2F 30 31 32 33 34 1D 35 36 37 38 39 3A 3B 3D 01 3C 04* 05* 00 3D ",
        tokens(kItemEmail));
    EXPECT_EQ(static_cast<size_t>(50 + 14 + 18 + 59), ElementMapSize());
}

TEST(ElementMap, RowsResolveToTheirTags) {
    IMessagePtr none;
    const ElementMapEntry fixed = {1, 0x1D, PR_SURNAME, nullptr, 0, nullptr, 0, kSpecialNone};
    EXPECT_EQ(PR_SURNAME, ResolveElementTag(none, fixed));
    const ElementMapEntry empty = {1, 0x1E, 0, nullptr, 0, nullptr, 0, kSpecialNone};
    EXPECT_EQ(0u, ResolveElementTag(none, empty));
    EXPECT_FALSE(HasProperty(empty));
    // A set text that does not parse is a store error of its own; nothing is asked.
    const ElementMapEntry broken = {1,      0x07,    0,          "00062004-0000",
                                    0x8083, nullptr, PT_STRING8, kSpecialNone};
    try {
        ResolveElementTag(none, broken);
        ADD_FAILURE() << "no exception";
    } catch (const CMAPIException& e) {
        EXPECT_EQ(MAPI_E_INVALID_PARAMETER, e.GetHResult());
    }
    // Named rows ask the store, which a wrapper without an object cannot.
    EXPECT_THROW(ResolveElementTag(none, kElementMap[4]), CMAPIException);
    EXPECT_EQ("1/0x07", ElementRowName(kElementMap[4]));
}
