// The merge of a device's change with the store's item, field by field.
#include "server/vantro/field_merge.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr CFieldId kCompany = MakeFieldId(1, 0x06);
constexpr CFieldId kPhone = MakeFieldId(1, 0x08);
constexpr CFieldId kLastName = MakeFieldId(1, 0x1D);
constexpr CFieldId kBirthday = MakeFieldId(1, 0x02);
constexpr CFieldId kMailTime = MakeFieldId(7, 0x26);

CFieldValues Values(std::initializer_list<CFieldValues::value_type> list) {
    return CFieldValues(list);
}

// Appends a container element to list and returns its (new, empty) children.
CWBXMLLiterals& AddContainer(CWBXMLLiterals& list, int32_t codePage, int32_t token) {
    CWBXMLLiteral& container = list.Add(codePage, token);
    container.children = std::make_unique<CWBXMLLiterals>();
    return *container.children;
}

// "<field hex>=<handheld>/<desktop>" per conflict and "+<field hex>" per applied
// field, in field order.
std::string Hex(CFieldId field) {
    const char* digits = "0123456789ABCDEF";
    return {digits[(field >> 12) & 15], digits[(field >> 8) & 15], digits[(field >> 4) & 15],
            digits[field & 15]};
}

std::string Render(const CMergeResult& r) {
    std::string out;
    for (CFieldId field : r.apply) out += "+" + Hex(field) + " ";
    for (const CFieldConflict& c : r.conflicts)
        out += Hex(c.field) + "=" + c.handheld + "/" + c.desktop + " ";
    return out;
}

// A record of the last exchange in which both sides held values.
struct Exchange {
    CFieldValues device;
    CFieldHashes store;
};
Exchange Last(const CFieldValues& both) { return {KeptValuesOf(both), HashesOf(both)}; }

CMergeResult Known(const CFieldValues& device, const Exchange& last, const CFieldValues& store,
                   bool wholeItem = false) {
    CMergeInput in;
    in.base = MergeBase::kKnown;
    in.deviceHeld = &last.device;
    in.storeHeld = &last.store;
    in.store = &store;
    in.wholeItem = wholeItem;
    return MergeDeviceChange(device, in);
}

TEST(FieldMerge, FieldsOfATreeWithContainersAndClearedFields) {
    CWBXMLLiterals tree;
    tree.Add(1, 0x1D, "Doe");
    tree.Add(1, 0x06, "");  // cleared
    AddContainer(tree, 6, 0x00).Add(6, 0x03, "1;{x}");
    tree.Add(1, 0x1D, "Roe");  // named twice: the last value
    CFieldValues values = FieldValuesOf(tree);
    EXPECT_EQ(values, Values({{kLastName, "Roe"},
                              {kCompany, ""},
                              {MakeFieldId(6, 0), "\x01{0603=1\\;\\{x\\};}"}}));
    // The cleared field has no hash; the store-maintained time neither.
    values[kMailTime] = "01.01.2020 10:00.00:0";
    CFieldHashes hashes = HashesOf(values);
    EXPECT_EQ(hashes.count(kCompany), 0u);
    EXPECT_EQ(hashes.count(kMailTime), 0u);
    EXPECT_EQ(hashes.at(kLastName), FieldTextHash("Roe"));
}

// An item element as bytes: COLLECTION (0, 0x14) on page 0, then body, then its end.
std::string Element(const std::string& body) { return "\x54" + body + "\x01"; }
std::string Text(const std::string& text) { return std::string("\x03", 1) + text + '\0'; }

TEST(FieldMerge, ItemElementFieldsInOnePassAgreeWithTheTree) {
    const std::string page1("\x00\x01", 2);
    const std::string flat =
        Element(page1 + "\x5D" + Text("Doe") + "\x01" +  // last name
                "\x46" + Text("") + "\x01" +             // company: an empty text
                "\x08" +                                 // phone: no content bit, cleared
                "\x5D" + Text("Roe") + "\x01" +          // last name again: the last wins
                "\x42\x01" +                             // content bit, then the end: no field
                std::string("\x00\x07", 2) + "\x66" + Text("t") + "\x01");  // mail time
    const CFieldValues fields = ItemElementFields(flat);
    EXPECT_EQ(fields, Values({{kLastName, "Roe"}, {kCompany, ""}, {kPhone, ""}, {kMailTime, "t"}}));
    EXPECT_EQ(KeptValuesOf(CFieldValues(fields)), Values({{kLastName, "Roe"}}));

    const std::string longText(kMaxKeptFieldText + 1, 'x');
    const std::string elements[] = {
        flat,
        Element(page1 + "\x5D" + Text(longText) + "\x01"),
        Element(page1 + std::string("\x5D\x02\x2A\x00\x00\x00\x01", 7)),            // a number
        Element(page1 + "\x5D" + Text("caf\xE9") + "\x01"),                         // not UTF-8
        Element(std::string("\x00\x06", 2) + "\x40\x43" + Text("1") + "\x01\x01"),  // container
        Element("\x70" + page1 + "\x5D" + Text("x") +
                "\x01\x01"),  // first child on a page of its own
        Element(page1 + "\x5D" + Text("a") + Text("b") + "\x01"),  // two texts in one field
        Element(Text("loose")),                                    // a text outside any field
        "\x54" + page1 + "\x5D" + Text("cut") + "\x01",            // no end of the element
        "\x54" + page1 + "\x5D\x03unterminated",                   // cut inside a text
        "\x5D" + Text("x") + "\x01",                               // no COLLECTION
        std::string(),
    };
    for (const std::string& element : elements) {
        SCOPED_TRACE(::testing::PrintToString(element));
        const CFieldValues fast = ItemElementFields(element);
        EXPECT_EQ(fast, ItemElementFieldsByTree(element));
        EXPECT_EQ(KeptValuesOf(CFieldValues(fast)), KeptValuesOf(fast));
    }
    const CFieldValues kept = KeptValuesOf(ItemElementFields(elements[1]));
    EXPECT_EQ(kept, Values({{kLastName, KeptFieldText(longText)}}));
    EXPECT_TRUE(IsHashOnly(kept.at(kLastName)));
    EXPECT_EQ(ItemElementFields(elements[2]), Values({{kLastName, "42"}}));
}

TEST(FieldMerge, TreesComeBackFromTheirFields) {
    CWBXMLLiterals tree;
    tree.Add(2, 0x01, "Jour {fixe}; weekly");
    CWBXMLLiterals& recurrence = AddContainer(tree, 6, 0x00);
    recurrence.Add(6, 0x03, "1");
    AddContainer(recurrence, 6, 0x05).Add(6, 0x06, "a\\b;c");
    CFieldValues fields = FieldValuesOf(tree);
    CWBXMLLiterals back = TreeOf(fields);
    EXPECT_EQ(FieldValuesOf(back), fields);
    ASSERT_EQ(back.Size(), 2u);
    EXPECT_EQ(back[0].value, "Jour {fixe}; weekly");
    ASSERT_TRUE(back[1].children);
    ASSERT_EQ(back[1].children->Size(), 2u);
    EXPECT_EQ((*(*back[1].children)[1].children)[0].value, "a\\b;c");
    // A text that only looks like a container, and texts kept by their hash, are
    // no trees; a broken container text is taken as a plain text.
    CFieldValues odd = {{kCompany, "{0603=1;}"},
                        {kLastName, KeptFieldText(std::string(kMaxKeptFieldText + 1, 'x'))},
                        {kPhone, "\x01{06"}};
    CWBXMLLiterals plain = TreeOf(odd);
    ASSERT_EQ(plain.Size(), 2u);
    EXPECT_EQ(plain[0].value, "{0603=1;}");
    EXPECT_FALSE(plain[0].children);
    EXPECT_EQ(plain[1].value, "\x01{06");
    EXPECT_FALSE(plain[1].children);
}

TEST(FieldMerge, NewItemTakesTheDevicesFields) {
    CMergeInput in;
    CMergeResult r = MergeDeviceChange(Values({{kLastName, "Doe"}, {kCompany, ""}}), in);
    EXPECT_EQ(Render(r), "+011D ");
    EXPECT_EQ(r.deviceHolds, Values({{kLastName, "Doe"}}));
    EXPECT_FALSE(DiffersFromDevice(Values({{kLastName, "Doe"}}), r));
    // A file-as the server derived makes the stored item differ from the device's.
    EXPECT_TRUE(DiffersFromDevice(Values({{kLastName, "Doe"}, {MakeFieldId(1, 0x2F), "Doe"}}), r));
}

TEST(FieldMerge, ChangesOnOneSideAndOnBoth) {
    const CFieldValues before = Values({{kCompany, "ACME"}, {kPhone, "1"}, {kLastName, "Doe"}});
    const Exchange last = Last(before);
    // The desktop set the company, the device the phone: both taken; the store's
    // item then differs from the device's (the company goes back).
    CFieldValues store = Values({{kCompany, "Initech"}, {kPhone, "1"}, {kLastName, "Doe"}});
    CMergeResult r = Known(Values({{kPhone, "2"}}), last, store);
    EXPECT_EQ(Render(r), "+0108 ");
    CFieldValues after = store;
    after[kPhone] = "2";
    EXPECT_TRUE(DiffersFromDevice(after, r));
    // Only the device changed: nothing goes back.
    CMergeResult own = Known(Values({{kPhone, "2"}}), last, before);
    CFieldValues ownAfter = before;
    ownAfter[kPhone] = "2";
    EXPECT_EQ(Render(own), "+0108 ");
    EXPECT_FALSE(DiffersFromDevice(ownAfter, own));
    // The same field on both sides: the desktop's value stays, a conflict.
    CMergeResult both = Known(Values({{kCompany, "Globex"}}), last, store);
    EXPECT_EQ(Render(both), "0106=Globex/Initech ");
    EXPECT_TRUE(DiffersFromDevice(store, both));
    // Both set it to the same value: nothing to do, no conflict.
    EXPECT_EQ(Render(Known(Values({{kCompany, "Initech"}}), last, store)), "");
    // A device field that equals the last exchange is no change, even when the
    // desktop changed it since: the desktop's value stays.
    EXPECT_EQ(Render(Known(Values({{kCompany, "ACME"}, {kPhone, "1"}}), last, store)), "");
}

TEST(FieldMerge, ClearsOnEitherSide) {
    const CFieldValues before = Values({{kCompany, "ACME"}, {kBirthday, "01.02.1990 00:00.00:0"}});
    const Exchange last = Last(before);
    // Cleared on the device, untouched on the desktop: cleared.
    EXPECT_EQ(Render(Known(Values({{kBirthday, ""}}), last, before)), "+0102 ");
    // Cleared on the device, changed on the desktop: the desktop's value stays.
    CFieldValues changed = before;
    changed[kCompany] = "Initech";
    EXPECT_EQ(Render(Known(Values({{kCompany, ""}}), last, changed)), "0106=/Initech ");
    // Cleared on the desktop, changed on the device: the clear stays.
    CFieldValues cleared = Values({{kBirthday, "01.02.1990 00:00.00:0"}});
    EXPECT_EQ(Render(Known(Values({{kCompany, "Globex"}}), last, cleared)), "0106=Globex/ ");
    // An Add names every field the device holds: the ones it leaves out were
    // cleared there.
    CMergeResult add = Known(Values({{kCompany, "ACME"}}), last, before, true);
    EXPECT_EQ(Render(add), "+0102 ");
    EXPECT_EQ(add.deviceHolds, Values({{kCompany, "ACME"}}));
}

TEST(FieldMerge, FieldsTheServerAddedAreNoChangeOfTheDesktop) {
    // The device sent the names, the server derived a file-as: the record holds
    // both sides as they were.
    const CFieldId fileAs = MakeFieldId(1, 0x2F);
    Exchange last{Values({{kLastName, "Doe"}}),
                  HashesOf(Values({{kLastName, "Doe"}, {fileAs, "Doe"}}))};
    CFieldValues store = Values({{kLastName, "Doe"}, {fileAs, "Doe"}});
    // The device now names the file-as itself: its value is taken.
    EXPECT_EQ(Render(Known(Values({{fileAs, "Dr. Doe"}}), last, store)), "+012F ");
}

TEST(FieldMerge, TwinsHaveNoCommonPast) {
    CMergeInput in;
    in.base = MergeBase::kTwins;
    CFieldValues store = Values({{kCompany, "ACME"}, {kLastName, "Smith"}});
    in.store = &store;
    in.wholeItem = true;
    CMergeResult r =
        MergeDeviceChange(Values({{kCompany, "Initech"}, {kLastName, "Smith"}, {kPhone, "5"}}), in);
    EXPECT_EQ(Render(r), "+0108 0106=Initech/ACME ");
    EXPECT_FALSE(r.sendBack);
    CFieldValues after = store;
    after[kPhone] = "5";
    EXPECT_TRUE(DiffersFromDevice(after, r));  // the company goes back
    // An Add of a mapped item without a record is merged the same way.
    in.base = MergeBase::kUnknown;
    EXPECT_EQ(Render(MergeDeviceChange(Values({{kCompany, "Initech"}}), in)), "0106=Initech/ACME ");
}

TEST(FieldMerge, WithoutARecordTheDesktopWinsOnlyWhenItChanged) {
    CMergeInput in;
    in.base = MergeBase::kUnknown;
    CFieldValues store = Values({{kCompany, "ACME"}, {kLastName, "Smith"}});
    in.store = &store;
    CMergeResult plain = MergeDeviceChange(Values({{kCompany, "Initech"}, {kLastName, ""}}), in);
    EXPECT_EQ(Render(plain), "+0106 +011D ");
    EXPECT_FALSE(plain.sendBack);
    EXPECT_FALSE(DiffersFromDevice(Values({{kCompany, "Initech"}}), plain));
    in.desktopChanged = true;
    CMergeResult changed = MergeDeviceChange(Values({{kCompany, "Initech"}, {kPhone, "5"}}), in);
    EXPECT_EQ(Render(changed), "+0108 0106=Initech/ACME ");
    EXPECT_TRUE(changed.sendBack);
}

TEST(FieldMerge, StoreMaintainedFieldsNeverConflict) {
    const CFieldValues before = Values({{kMailTime, "a"}, {MakeFieldId(7, 0x17), "Offer"}});
    const Exchange last = Last(before);
    CFieldValues store = Values({{kMailTime, "b"}, {MakeFieldId(7, 0x17), "Offer"}});
    CMergeResult r = Known(Values({{kMailTime, "c"}}), last, store);
    EXPECT_EQ(Render(r), "+0726 ");
    EXPECT_FALSE(DiffersFromDevice(store, Known(Values({}), last, store)));
}

TEST(FieldMerge, FieldsToApplyKeepTreeOrderAndAddClears) {
    CWBXMLLiterals tree;
    tree.Add(1, 0x1D, "Doe");
    tree.Add(1, 0x06, "ACME");
    AddContainer(tree, 7, 0x05).Add(7, 0x08, "Ann");
    tree.Add(1, 0x1D, "Roe");
    CMergeResult merge;
    merge.apply = {kLastName, MakeFieldId(7, 0x05), kBirthday};
    CWBXMLLiterals out = FieldsToApply(tree, merge);
    ASSERT_EQ(out.Size(), 3u);
    EXPECT_EQ(out[0].token, 0x05);
    ASSERT_TRUE(out[0].children);
    EXPECT_EQ((*out[0].children)[0].value, "Ann");
    EXPECT_EQ(out[1].value, "Roe");
    EXPECT_EQ(out[2].codePage, 1);
    EXPECT_EQ(out[2].token, 0x02);
    EXPECT_EQ(out[2].value, "");
    EXPECT_FALSE(out[2].children);
}

}  // namespace
