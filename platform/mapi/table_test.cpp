// Tables: restrictions of every kind, stable order, sorting, FindRow (with and
// without the index), cursor movement.
#include <deque>

#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

class TableTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        // subject, importance, response requested, birthday, surname, conversation key
        AddMessage(contacts.get(), "a",
                   {LongProp(PR_IMPORTANCE, 1), BoolProp(PR_RESPONSE_REQUESTED, true),
                    TimeProp(PR_BIRTHDAY, 100), StringProp(PR_SURNAME, "Alpha"),
                    BinaryProp(PR_CONVERSATION_KEY, std::string("\x01\x02", 2))});
        AddMessage(contacts.get(), "b",
                   {LongProp(PR_IMPORTANCE, 2), BoolProp(PR_RESPONSE_REQUESTED, false),
                    TimeProp(PR_BIRTHDAY, 200), StringProp(PR_SURNAME, "beta"),
                    BinaryProp(PR_CONVERSATION_KEY, std::string("\x01\x03", 2)),
                    LongProp(PR_SENSITIVITY, 2)});
        AddMessage(contacts.get(), "c",
                   {LongProp(PR_IMPORTANCE, 3), BinaryProp(PR_CONVERSATION_KEY, "\x02"),
                    TimeProp(PR_BIRTHDAY, 0xFFFFFFFF00000000ull), LongProp(PR_SENSITIVITY, 3)});
        AddMessage(contacts.get(), "d", {StringProp(PR_SURNAME, "")});
        ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    }

    SPropValue* Keep(SPropValue v) {
        values.push_back(v);
        return &values.back();
    }
    SRestriction Prop(ULONG relop, SPropValue v) {
        SRestriction r{};
        r.rt = RES_PROPERTY;
        SPropValue* p = Keep(v);
        r.res.resProperty = SPropertyRestriction{relop, p->ulPropTag, p};
        return r;
    }
    SRestriction* KeepRes(SRestriction r) {
        restrictions.push_back(r);
        return &restrictions.back();
    }
    // Contiguous copies for AND/OR, which need an array.
    SRestriction All(ULONG rt, std::vector<SRestriction> parts) {
        arrays.push_back(parts);
        SRestriction r{};
        r.rt = rt;
        r.res.resAnd =
            SAndRestriction{static_cast<ULONG>(arrays.back().size()), arrays.back().data()};
        return r;
    }
    SRestriction Not(SRestriction inner) {
        SRestriction r{};
        r.rt = RES_NOT;
        r.res.resNot.lpRes = KeepRes(inner);
        return r;
    }

    std::string Match(SRestriction r) {
        HRESULT hr = table->Restrict(&r, 0);
        if (FAILED(hr)) return MapiErrorName(hr) ? MapiErrorName(hr) : "error";
        std::string out;
        for (const std::string& s : Column(table.get(), PR_SUBJECT)) out += s;
        return out;
    }

    ComPtr<IMAPITable> table;
    std::deque<SPropValue> values;
    std::deque<SRestriction> restrictions;
    std::deque<std::vector<SRestriction>> arrays;
};

TEST_F(TableTest, RowsComeInCreationOrder) {
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"a", "b", "c", "d"}));
    ULONG count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 4u);
}

TEST_F(TableTest, PropertyRelationsOnIntegers) {
    EXPECT_EQ(Match(Prop(RELOP_LT, LongProp(PR_IMPORTANCE, 2))), "a");
    EXPECT_EQ(Match(Prop(RELOP_LE, LongProp(PR_IMPORTANCE, 2))), "ab");
    EXPECT_EQ(Match(Prop(RELOP_GT, LongProp(PR_IMPORTANCE, 2))), "c");
    EXPECT_EQ(Match(Prop(RELOP_GE, LongProp(PR_IMPORTANCE, 2))), "bc");
    EXPECT_EQ(Match(Prop(RELOP_EQ, LongProp(PR_IMPORTANCE, 2))), "b");
    EXPECT_EQ(Match(Prop(RELOP_NE, LongProp(PR_IMPORTANCE, 2))), "ac");  // d lacks it: no match
}

TEST_F(TableTest, PropertyRelationsOnBooleansTimesStringsAndBinaries) {
    EXPECT_EQ(Match(Prop(RELOP_EQ, BoolProp(PR_RESPONSE_REQUESTED, true))), "a");
    EXPECT_EQ(Match(Prop(RELOP_NE, BoolProp(PR_RESPONSE_REQUESTED, true))), "b");
    EXPECT_EQ(Match(Prop(RELOP_LT, BoolProp(PR_RESPONSE_REQUESTED, true))), "b");
    // Times compare as unsigned 64-bit values.
    EXPECT_EQ(Match(Prop(RELOP_GE, TimeProp(PR_BIRTHDAY, 200))), "bc");
    EXPECT_EQ(Match(Prop(RELOP_LT, TimeProp(PR_BIRTHDAY, 200))), "a");
    EXPECT_EQ(Match(Prop(RELOP_GT, TimeProp(PR_BIRTHDAY, 0x8000000000000000ull))), "c");
    EXPECT_EQ(Match(Prop(RELOP_LE, TimeProp(PR_BIRTHDAY, 100))), "a");
    // Strings compare by bytes, case included; the empty string is a value.
    EXPECT_EQ(Match(Prop(RELOP_EQ, StringProp(PR_SURNAME, "Alpha"))), "a");
    EXPECT_EQ(Match(Prop(RELOP_EQ, StringProp(PR_SURNAME, "alpha"))), "");
    EXPECT_EQ(Match(Prop(RELOP_EQ, StringProp(PR_SURNAME, ""))), "d");
    EXPECT_EQ(Match(Prop(RELOP_GT, StringProp(PR_SURNAME, "B"))), "b");
    EXPECT_EQ(Match(Prop(RELOP_NE, StringProp(PR_SURNAME, "beta"))), "ad");
    // Binaries: byte order, a prefix first.
    EXPECT_EQ(Match(Prop(RELOP_LT, BinaryProp(PR_CONVERSATION_KEY, std::string("\x01\x03", 2)))),
              "a");
    EXPECT_EQ(Match(Prop(RELOP_GE, BinaryProp(PR_CONVERSATION_KEY, "\x01"))), "abc");
    EXPECT_EQ(Match(Prop(RELOP_EQ, BinaryProp(PR_CONVERSATION_KEY, "\x02"))), "c");
}

TEST_F(TableTest, LogicalContentBitmaskExistSizeAndCompare) {
    EXPECT_EQ(Match(All(RES_AND, {Prop(RELOP_GE, LongProp(PR_IMPORTANCE, 1)),
                                  Prop(RELOP_LE, LongProp(PR_IMPORTANCE, 2))})),
              "ab");
    EXPECT_EQ(Match(All(RES_OR, {Prop(RELOP_EQ, LongProp(PR_IMPORTANCE, 1)),
                                 Prop(RELOP_EQ, StringProp(PR_SURNAME, ""))})),
              "ad");
    EXPECT_EQ(Match(Not(Prop(RELOP_EQ, LongProp(PR_IMPORTANCE, 1)))), "bcd");
    EXPECT_EQ(Match(All(RES_AND, {})), "abcd");
    EXPECT_EQ(Match(All(RES_OR, {})), "");

    SRestriction content{};
    content.rt = RES_CONTENT;
    SPropValue* needle = Keep(StringProp(PR_SURNAME, "ALP"));
    content.res.resContent = SContentRestriction{FL_PREFIX | FL_IGNORECASE, PR_SURNAME, needle};
    EXPECT_EQ(Match(content), "a");
    content.res.resContent.ulFuzzyLevel = FL_PREFIX;
    EXPECT_EQ(Match(content), "");
    SPropValue* sub = Keep(StringProp(PR_SURNAME, "et"));
    content.res.resContent = SContentRestriction{FL_SUBSTRING, PR_SURNAME, sub};
    EXPECT_EQ(Match(content), "b");
    content.res.resContent.ulFuzzyLevel = FL_FULLSTRING;
    EXPECT_EQ(Match(content), "");

    SRestriction bits{};
    bits.rt = RES_BITMASK;
    bits.res.resBitMask = SBitMaskRestriction{BMR_NEZ, PR_IMPORTANCE, 0x1};
    EXPECT_EQ(Match(bits), "ac");
    bits.res.resBitMask.relBMR = BMR_EQZ;
    EXPECT_EQ(Match(bits), "b");  // d lacks the property

    SRestriction exist{};
    exist.rt = RES_EXIST;
    exist.res.resExist = SExistRestriction{0, PR_SURNAME, 0};
    EXPECT_EQ(Match(exist), "abd");

    SRestriction size{};
    size.rt = RES_SIZE;
    size.res.resSize = SSizeRestriction{RELOP_EQ, PR_CONVERSATION_KEY, 2};
    EXPECT_EQ(Match(size), "ab");
    size.res.resSize = SSizeRestriction{RELOP_LT, PR_CONVERSATION_KEY, 2};
    EXPECT_EQ(Match(size), "c");

    SRestriction cmp{};
    cmp.rt = RES_COMPAREPROPS;
    cmp.res.resCompareProps = SComparePropsRestriction{RELOP_EQ, PR_IMPORTANCE, PR_SENSITIVITY};
    EXPECT_EQ(Match(cmp), "bc");
    cmp.res.resCompareProps.relop = RELOP_NE;
    EXPECT_EQ(Match(cmp), "");
    cmp.res.resCompareProps = SComparePropsRestriction{RELOP_EQ, PR_IMPORTANCE, PR_SURNAME};
    EXPECT_EQ(Match(cmp), "MAPI_E_TOO_COMPLEX");
}

TEST_F(TableTest, SubRestrictionOnRecipientsAndAttachments) {
    ComPtr<IMessage> m;
    ASSERT_EQ(contacts->CreateMessage(nullptr, 0, m.put()), S_OK);
    ASSERT_EQ(Set(m.get(), StringProp(PR_SUBJECT, "e")), S_OK);
    SPropValue r[2] = {LongProp(PR_RECIPIENT_TYPE, MAPI_CC),
                       StringProp(PR_EMAIL_ADDRESS, "x@example.org")};
    alignas(ADRLIST) char buf[CbNewADRLIST(1)];
    auto* list = reinterpret_cast<ADRLIST*>(buf);
    list->cEntries = 1;
    list->aEntries[0] = ADRENTRY{0, 2, r};
    ASSERT_EQ(m->ModifyRecipients(0, list), S_OK);
    ULONG num = 0;
    ComPtr<IAttach> att;
    ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, att.put()), S_OK);
    ASSERT_EQ(Set(att.get(), StringProp(PR_ATTACH_LONG_FILENAME, "plan.pdf")), S_OK);
    ASSERT_EQ(att->SaveChanges(0), S_OK);
    ASSERT_EQ(m->SaveChanges(0), S_OK);

    SRestriction sub{};
    sub.rt = RES_SUBRESTRICTION;
    sub.res.resSub = SSubRestriction{PR_MESSAGE_RECIPIENTS,
                                     KeepRes(Prop(RELOP_EQ, LongProp(PR_RECIPIENT_TYPE, MAPI_CC)))};
    EXPECT_EQ(Match(sub), "e");
    sub.res.resSub.lpRes = KeepRes(Prop(RELOP_EQ, LongProp(PR_RECIPIENT_TYPE, MAPI_TO)));
    EXPECT_EQ(Match(sub), "");
    sub.res.resSub =
        SSubRestriction{PR_MESSAGE_ATTACHMENTS,
                        KeepRes(Prop(RELOP_EQ, StringProp(PR_ATTACH_LONG_FILENAME, "plan.pdf")))};
    EXPECT_EQ(Match(sub), "e");
    // The derived size of the attachment: its one name of 8 characters and the zero.
    sub.res.resSub.lpRes = KeepRes(Prop(RELOP_EQ, LongProp(PR_ATTACH_SIZE, 9)));
    EXPECT_EQ(Match(sub), "e");
    sub.res.resSub.lpRes = KeepRes(Prop(RELOP_GT, LongProp(PR_ATTACH_SIZE, 9)));
    EXPECT_EQ(Match(sub), "");
    sub.res.resSub.ulSubObject = PR_SUBJECT;
    EXPECT_EQ(Match(sub), "MAPI_E_TOO_COMPLEX");
}

TEST_F(TableTest, BadRestrictionsAreRefusedAndKeepTheView) {
    ASSERT_EQ(Match(Prop(RELOP_LE, LongProp(PR_IMPORTANCE, 2))), "ab");
    SPropValue* v = Keep(StringProp(PR_SURNAME, "x"));
    SRestriction mismatched{};
    mismatched.rt = RES_PROPERTY;
    mismatched.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_IMPORTANCE, v};
    EXPECT_EQ(table->Restrict(&mismatched, 0), MAPI_E_TOO_COMPLEX);
    mismatched.res.resProperty.relop = RELOP_RE;
    EXPECT_EQ(table->Restrict(&mismatched, 0), MAPI_E_TOO_COMPLEX);
    SRestriction unknown{};
    unknown.rt = 77;
    EXPECT_EQ(table->Restrict(&unknown, 0), MAPI_E_TOO_COMPLEX);
    SRestriction broken{};
    broken.rt = RES_AND;
    broken.res.resAnd = SAndRestriction{3, nullptr};
    EXPECT_EQ(table->Restrict(&broken, 0), MAPI_E_INVALID_PARAMETER);
    // Nesting beyond the limit.
    std::vector<SRestriction> chain(100);
    for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
        chain[k].rt = RES_NOT;
        chain[k].res.resNot.lpRes = &chain[k + 1];
    }
    chain.back() = Prop(RELOP_EQ, LongProp(PR_IMPORTANCE, 1));
    EXPECT_EQ(table->Restrict(&chain[0], 0), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"a", "b"}));
    ASSERT_EQ(table->Restrict(nullptr, 0), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT).size(), 4u);
}

TEST_F(TableTest, SortTableOrdersStablyWithMissingValuesFirst) {
    SSortOrderSet sort{1, 0, 0, {{PR_IMPORTANCE, TABLE_SORT_DESCEND}}};
    ASSERT_EQ(table->SortTable(&sort, 0), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"c", "b", "a", "d"}));
    sort.aSort[0] = {PR_SURNAME, TABLE_SORT_ASCEND};
    ASSERT_EQ(table->SortTable(&sort, 0), S_OK);
    EXPECT_EQ(Column(table.get(), PR_SUBJECT), (std::vector<std::string>{"c", "d", "a", "b"}));
}

TEST_F(TableTest, FindRowMovesTheCursorAndUsesTheIndexForStrings) {
    SRestriction eq = Prop(RELOP_EQ, StringProp(PR_SURNAME, "beta"));
    ASSERT_EQ(table->FindRow(&eq, BOOKMARK_BEGINNING, 0), S_OK);
    LPSRowSet rows = nullptr;
    SizedSPropTagArray(1, cols) = {1, {PR_SUBJECT}};
    ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&cols), 0), S_OK);
    ASSERT_EQ(table->QueryRows(1, TBL_NOADVANCE, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "b");
    FreeProws(rows);
    ULONG row = 0, num = 0, denom = 0;
    ASSERT_EQ(table->QueryPosition(&row, &num, &denom), S_OK);
    EXPECT_EQ(row, 1u);
    EXPECT_EQ(denom, 4u);
    // From the row after it, nothing; backward from the end, found again.
    ASSERT_EQ(table->SeekRow(BOOKMARK_CURRENT, 1, nullptr), S_OK);
    EXPECT_EQ(table->FindRow(&eq, BOOKMARK_CURRENT, 0), MAPI_E_NOT_FOUND);
    ASSERT_EQ(table->FindRow(&eq, BOOKMARK_END, DIR_BACKWARD), S_OK);
    ASSERT_EQ(table->QueryPosition(&row, &num, &denom), S_OK);
    EXPECT_EQ(row, 1u);
    // The empty text finds only the row whose value is empty, not rows without it.
    SRestriction empty = Prop(RELOP_EQ, StringProp(PR_SURNAME, ""));
    ASSERT_EQ(table->FindRow(&empty, BOOKMARK_BEGINNING, 0), S_OK);
    ASSERT_EQ(table->QueryPosition(&row, &num, &denom), S_OK);
    EXPECT_EQ(row, 3u);
    // A restricted view limits what FindRow sees.
    ASSERT_EQ(table->Restrict(KeepRes(Prop(RELOP_GE, LongProp(PR_IMPORTANCE, 1))), 0), S_OK);
    EXPECT_EQ(table->FindRow(&empty, BOOKMARK_BEGINNING, 0), MAPI_E_NOT_FOUND);
    // Other restrictions go through every row.
    SRestriction gt = Prop(RELOP_GT, LongProp(PR_IMPORTANCE, 2));
    ASSERT_EQ(table->FindRow(&gt, BOOKMARK_BEGINNING, 0), S_OK);
    ASSERT_EQ(table->QueryPosition(&row, &num, &denom), S_OK);
    EXPECT_EQ(row, 2u);
}

TEST_F(TableTest, FoundRowIsReadOnFromAndTheNextMatchFoundAfterIt) {
    // Another "beta" after "b", and one in another folder that must not count.
    AddMessage(contacts.get(), "e", {StringProp(PR_SURNAME, "beta")});
    AddMessage(inbox.get(), "elsewhere", {StringProp(PR_SURNAME, "beta")});
    AddMessage(contacts.get(), "f");
    ComPtr<IMAPITable> fresh;
    ASSERT_EQ(contacts->GetContentsTable(0, fresh.put()), S_OK);
    SizedSPropTagArray(1, cols) = {1, {PR_SUBJECT}};
    ASSERT_EQ(fresh->SetColumns(reinterpret_cast<LPSPropTagArray>(&cols), 0), S_OK);
    auto next = [&](LONG count) {
        LPSRowSet rows = nullptr;
        std::string out;
        if (FAILED(fresh->QueryRows(count, 0, &rows))) return std::string("error");
        for (ULONG k = 0; k < rows->cRows; ++k) out += rows->aRow[k].lpProps[0].Value.lpszA;
        FreeProws(rows);
        return out;
    };
    SRestriction eq = Prop(RELOP_EQ, StringProp(PR_SURNAME, "beta"));
    ASSERT_EQ(fresh->FindRow(&eq, BOOKMARK_BEGINNING, 0), S_OK);
    EXPECT_EQ(next(2), "bc");
    ASSERT_EQ(fresh->FindRow(&eq, BOOKMARK_CURRENT, 0), S_OK);
    EXPECT_EQ(next(1), "e");
    EXPECT_EQ(fresh->FindRow(&eq, BOOKMARK_CURRENT, 0), MAPI_E_NOT_FOUND);
    EXPECT_EQ(next(5), "f");
    EXPECT_EQ(next(5), "");
    // Positions and seeks after a find count every row before the one found.
    ASSERT_EQ(fresh->FindRow(&eq, BOOKMARK_BEGINNING, 0), S_OK);
    ASSERT_EQ(fresh->SeekRow(BOOKMARK_CURRENT, 3, nullptr), S_OK);
    EXPECT_EQ(next(1), "e");
    ULONG row = 0, num = 0, denom = 0;
    ASSERT_EQ(fresh->QueryPosition(&row, &num, &denom), S_OK);
    EXPECT_EQ(row, 5u);
    EXPECT_EQ(denom, 6u);
    EXPECT_EQ(next(-2), "de");
}

TEST_F(TableTest, QueryRowsBackwardsAndSeekRowBounds) {
    LONG sought = 0;
    ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 10, &sought), S_OK);
    EXPECT_EQ(sought, 4);
    SizedSPropTagArray(2, cols) = {2, {PR_SUBJECT, PR_INSTANCE_KEY}};
    ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&cols), 0), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table->QueryRows(-2, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "c");
    EXPECT_EQ(rows->aRow[0].lpProps[1].ulPropTag, PR_INSTANCE_KEY);
    FreeProws(rows);
    ASSERT_EQ(table->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);
    ASSERT_EQ(table->QueryRows(5, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 0u);
    FreeProws(rows);
    EXPECT_EQ(table->SeekRow(7, 0, nullptr), MAPI_E_INVALID_BOOKMARK);
    EXPECT_EQ(table->QueryRows(0, 0, &rows), MAPI_E_INVALID_PARAMETER);
}

// Every row of table as "subject|surname|importance|flags" ("-" for a missing value),
// read step rows at a time.
std::vector<std::string> RowTexts(IMAPITable* table, LONG step) {
    SizedSPropTagArray(4, cols) = {4, {PR_SUBJECT, PR_SURNAME, PR_IMPORTANCE, PR_MESSAGE_FLAGS}};
    std::vector<std::string> out;
    if (FAILED(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&cols), 0))) return out;
    if (FAILED(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) return out;
    for (;;) {
        LPSRowSet rows = nullptr;
        if (FAILED(table->QueryRows(step, 0, &rows))) return out;
        const ULONG count = rows->cRows;
        for (ULONG k = 0; k < count; ++k) {
            std::string text;
            for (ULONG c = 0; c < 4; ++c) {
                const SPropValue& v = rows->aRow[k].lpProps[c];
                if (c > 0) text += "|";
                if (PROP_TYPE(v.ulPropTag) == PT_ERROR)
                    text += "-";
                else if (PROP_TYPE(v.ulPropTag) == PT_STRING8)
                    text += v.Value.lpszA;
                else
                    text += std::to_string(v.Value.l);
            }
            out.push_back(text);
        }
        FreeProws(rows);
        if (count == 0) return out;
    }
}

TEST_F(StoreTest, ManyRowsAtOnceReadAsTheyDoFewAtATime) {
    // More rows than one pass reads one by one, some without the stored columns,
    // with items of another folder between them.
    for (int i = 0; i < 45; ++i) {
        std::vector<SPropValue> extra;
        const std::string surname = "S" + std::to_string(i);  // outlives the value naming it
        if (i % 3 != 0) extra.push_back(StringProp(PR_SURNAME, surname.c_str()));
        if (i % 4 == 0) extra.push_back(LongProp(PR_IMPORTANCE, i));
        ASSERT_FALSE(AddMessage(contacts.get(), ("c" + std::to_string(i)).c_str(), extra).empty());
        if (i % 5 == 0) {
            ASSERT_FALSE(AddMessage(inbox.get(), "other").empty());
        }
    }
    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    std::vector<std::string> all = RowTexts(table.get(), 1000);
    ASSERT_EQ(all.size(), 45u);
    EXPECT_EQ(all[0], "c0|-|0|" + all[0].substr(all[0].rfind('|') + 1));
    EXPECT_EQ(all[1].substr(0, 8), "c1|S1|-|");
    EXPECT_EQ(all[44].substr(0, 11), "c44|S44|44|");
    EXPECT_EQ(RowTexts(table.get(), 5), all);
}

}  // namespace
}  // namespace mapitest
