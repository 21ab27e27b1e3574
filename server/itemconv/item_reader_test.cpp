// Received item elements applied to real stores, and the matching of added items.
#include "server/itemconv/item_reader.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "server/itemconv/item_matching.h"
#include "server/itemconv/item_test_store.h"
#include "server/itemconv/item_writer.h"

using itemtest::Elements;
using itemtest::Filetime;
using itemtest::PlusOne;

namespace {

class ItemReaderTest : public itemtest::ItemStoreTest {
protected:
    ItemApplyResult Apply(IMessagePtr& m, const CWBXMLLiterals& tree) {
        return XMLtoMessage(m, tree, &PlusOne());
    }

    std::string Text(IMessagePtr& m, ULONG tag) { return m.GetPropText(tag); }
    std::string Value(IMessagePtr& m, ULONG tag) {
        CPropValue v;
        if (FAILED(m.GetOneProp(tag, v)) || v.Empty()) return "<none>";
        return PropValueText(*v.Get());
    }
    ULONG FileAsTag(IMessagePtr& m) { return Named(m, PSETID_Address, 0x8005, PT_STRING8); }

    IMessagePtr NewContact(const char* given, const char* surname, const char* fileAs) {
        IMessagePtr m = contacts.CreateMessage();
        m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Contact");
        if (given) m.SetStrProp(PR_GIVEN_NAME, given);
        if (surname) m.SetStrProp(PR_SURNAME, surname);
        if (fileAs) m.SetStrProp(FileAsTag(m), fileAs);
        m.SaveChanges(KEEP_OPEN_READWRITE);
        return m;
    }

    IMessagePtr NewAppointment() {
        IMessagePtr m = calendar.CreateMessage();
        m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Appointment");
        return m;
    }

    // A Recurrence block of fields (token on the recurrence page, value) in tree.
    static void AddRecurrence(CWBXMLLiterals& tree,
                              std::initializer_list<std::pair<int32_t, std::string>> fields) {
        CWBXMLLiteral& block = tree.Add(6, 0x00);
        block.children = std::make_unique<CWBXMLLiterals>();
        for (const auto& [token, value] : fields) block.children->Add(6, token, value);
    }

    // "Jour fixe" on 2 March 2009 from 10:00 to 11:00, repeated by recurrence.
    static CWBXMLLiterals JourFixe(
        std::initializer_list<std::pair<int32_t, std::string>> recurrence) {
        CWBXMLLiterals tree;
        tree.Add(2, 0x01, "Jour fixe");
        tree.Add(2, 0x04, "02.03.2009 10:00.00:0");
        tree.Add(2, 0x06, "02.03.2009 11:00.00:0");
        AddRecurrence(tree, recurrence);
        return tree;
    }

    bool Traced(const std::string& line) const {
        for (const auto& t : trace)
            if (t == line) return true;
        return false;
    }
};

}  // namespace

TEST_F(ItemReaderTest, ContactFieldsAreStoredAndTheFileAsIsBuilt) {
    IMessagePtr m = contacts.CreateMessage();
    m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Contact");
    CWBXMLLiterals tree;
    tree.Add(1, 0x01, "SERVERKEY");  // no row: ignored
    tree.Add(1, 0x1B, "Ann");
    tree.Add(1, 0x1D, "M\xC3\xBCller");
    tree.Add(1, 0x07, "ann@example.org");
    tree.Add(1, 0x17, "A, B");
    tree.Add(1, 0x02, "20.05.1975 00:00.00:0");
    tree.Add(1, 0x2E, "555");  // RadioTelephoneNumber: no row
    tree.Add(1, 0x30, "Line 1\r\nLine 2");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(m, tree));

    EXPECT_EQ("Ann", Text(m, PR_GIVEN_NAME));
    EXPECT_EQ("ann@example.org", Text(m, Named(m, PSETID_Address, 0x8083, PT_STRING8)));
    EXPECT_EQ("A, B", Value(m, Keywords(m)));
    ASSERT_EQ(2u, m.GetProp(Keywords(m))->Value.MVszA.cValues);
    EXPECT_EQ(std::string("B"), m.GetProp(Keywords(m))->Value.MVszA.lppszA[1]);
    EXPECT_EQ("1975-05-19 23:00:00", Value(m, PR_BIRTHDAY));
    EXPECT_EQ("Line 1\r\nLine 2", m.GetBody());
    EXPECT_EQ("M\xC3\xBCller, Ann", Text(m, PR_DISPLAY_NAME));
    EXPECT_EQ("M\xC3\xBCller, Ann", Text(m, PR_SUBJECT));
    EXPECT_EQ("M\xC3\xBCller, Ann", Text(m, FileAsTag(m)));

    // Saved: another session of the store sees it.
    IMessagePtr again = contacts.OpenMessage(m.GetEntryID());
    EXPECT_EQ("M\xC3\xBCller, Ann", again.GetPropText(PR_SUBJECT));
}

TEST_F(ItemReaderTest, FileAsRuleUsesTheStoredGivenName) {
    IMessagePtr m = NewContact("Ann", nullptr, nullptr);
    CWBXMLLiterals tree;
    tree.Add(1, 0x1D, "Smith");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(m, tree));
    EXPECT_EQ("Smith, Ann", Text(m, PR_DISPLAY_NAME));
    EXPECT_EQ("Smith, Ann", Text(m, PR_SUBJECT));
    EXPECT_EQ("Smith, Ann", Text(m, FileAsTag(m)));

    // Given name alone.
    IMessagePtr g = NewContact(nullptr, nullptr, nullptr);
    CWBXMLLiterals given;
    given.Add(1, 0x1B, "Bob");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(g, given));
    EXPECT_EQ("Bob", Text(g, FileAsTag(g)));
    EXPECT_EQ("Bob", Text(g, PR_DISPLAY_NAME));
}

TEST_F(ItemReaderTest, ReceivedFileAsIsKeptAndNothingIsEmptied) {
    // A company without names keeps its file-as; nothing becomes the empty text.
    IMessagePtr company = NewContact(nullptr, nullptr, nullptr);
    company.SetStrProp(PR_SUBJECT, "ACME");
    CWBXMLLiterals tree;
    tree.Add(1, 0x2F, "ACME GmbH");
    tree.Add(1, 0x06, "ACME GmbH");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(company, tree));
    EXPECT_EQ("ACME GmbH", Text(company, FileAsTag(company)));
    EXPECT_EQ("ACME", Text(company, PR_SUBJECT));

    // A device's own file-as order stays; display name and subject follow the names.
    IMessagePtr person = NewContact(nullptr, nullptr, nullptr);
    CWBXMLLiterals named;
    named.Add(1, 0x1B, "Ann");
    named.Add(1, 0x1D, "Smith");
    named.Add(1, 0x2F, "Ann Smith");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(person, named));
    EXPECT_EQ("Ann Smith", Text(person, FileAsTag(person)));
    EXPECT_EQ("Smith, Ann", Text(person, PR_DISPLAY_NAME));

    // Other classes are left alone.
    IMessagePtr custom = contacts.CreateMessage();
    custom.SetStrProp(PR_MESSAGE_CLASS, "IPM.Contact.Form");
    CWBXMLLiterals names;
    names.Add(1, 0x1D, "Smith");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(custom, names));
    EXPECT_EQ("", Text(custom, PR_DISPLAY_NAME));
}

TEST_F(ItemReaderTest, FieldsThatDoNotParseAreSkippedAndTheRestIsSaved) {
    IMessagePtr m = tasks.CreateMessage();
    m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Task");
    CWBXMLLiterals tree;
    tree.Add(3, 0x01, "Call Bob");
    tree.Add(3, 0x03, "07032009 14:05:09");  // the handheld's legacy form
    tree.Add(3, 0x04, "07.32.2009 14:05.09:0");
    tree.Add(3, 0x06, "high");
    tree.Add(3, 0x07, "1");
    tree.Add(3, 0x05, "07.03.2009 14:05.09:0");  // TaskDateCompleted: no property
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(m, tree));
    EXPECT_EQ("Call Bob", Text(m, PR_SUBJECT));
    EXPECT_EQ("2009-03-07 13:05:09", Value(m, Named(m, PSETID_Task, 0x8104, PT_SYSTIME)));
    EXPECT_EQ("<none>", Value(m, Named(m, PSETID_Task, 0x8105, PT_SYSTIME)));
    EXPECT_EQ("<none>", Value(m, PR_IMPORTANCE));
    EXPECT_EQ("1", Value(m, Named(m, PSETID_Task, 0x811C, PT_BOOLEAN)));
    EXPECT_TRUE(Traced("Call Bob"));
    EXPECT_TRUE(Traced(
        "XMLtoMessage: field TaskDueDate skipped, value does not parse: 07.32.2009 14:05.09:0"));
    EXPECT_TRUE(Traced("XMLtoMessage: field TaskImportance skipped, value does not parse: high"));
}

TEST_F(ItemReaderTest, TreeWithoutMappedFieldsSavesNothing) {
    IMessagePtr m = tasks.CreateMessage();
    m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Task");
    CWBXMLLiterals none;
    none.Add(3, 0x00, "1");
    EXPECT_EQ(ItemApplyResult::kNothingStored, Apply(m, none));
    EXPECT_EQ(0u, tasks.GetContentsTable().GetRowCount());
}

TEST_F(ItemReaderTest, StoreErrorsAreReportedAndTheItemIsNotSaved) {
    IMessagePtr saved = NewContact("Ann", "Smith", "Smith, Ann");
    IMessagePtr readOnly = contacts.OpenMessage(saved.GetEntryID(), 0);
    CWBXMLLiterals tree;
    tree.Add(1, 0x1D, "Jones");
    EXPECT_EQ(ItemApplyResult::kFailed, Apply(readOnly, tree));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("|MAPI_E_NO_ACCESS XMLtoMessage in line 1", boxes[0]);
    EXPECT_EQ("Smith", contacts.OpenMessage(saved.GetEntryID()).GetPropText(PR_SURNAME));
}

namespace {

// The item element of m as a tree, as the protocol server would receive it.
CWBXMLLiterals ReadBack(IMessagePtr& m, std::string* dump) {
    CWBXML doc;
    doc.BeginDocument();
    CItemWriteContext context;
    context.zone = &PlusOne();
    MessageToXML(m, doc, context);
    if (dump) *dump = Elements(doc);
    CWBXML reader;
    reader.SetDocument(doc.Document().View());
    CWBXMLEvent event;
    CWBXMLLiterals tree;
    reader.NextTreeEvent(event);  // COLLECTION
    reader.BuildTree(tree, event);
    return tree;
}

}  // namespace

TEST_F(ItemReaderTest, RecurringAppointmentSurvivesStoreWireStore) {
    IMessagePtr m = NewAppointment();
    // Weekly, five times, every second week on Monday and Wednesday.
    EXPECT_EQ(
        ItemApplyResult::kSaved,
        Apply(m, JourFixe({{0x03, "1"}, {0x09, "5"}, {0x0A, "2"}, {0x0B, "10"}, {0x08, "0"}})));

    std::string sent;
    CWBXMLLiterals tree = ReadBack(m, &sent);
    EXPECT_NE(sent.find("<IsRecurring> '1' </IsRecurring>"), std::string::npos) << sent;
    EXPECT_EQ(sent,
              " <COLLECTION>\n"
              "  <IsRecurring> '1' </IsRecurring>\n"
              "  <Subject> 'Jour fixe' </Subject>\n"
              "  <Start> '02.03.2009 10:00.00:0' </Start>\n"
              "  <End> '02.03.2009 11:00.00:0' </End>\n"
              "  <Recurrence>\n"
              "   <RecurrenceType> '1' </RecurrenceType>\n"
              "   <Occurrences> '5' </Occurrences>\n"
              "   <Interval> '2' </Interval>\n"
              "   <DayOfWeekMask> '10' </DayOfWeekMask>\n"
              "   <NoEndDate> '0' </NoEndDate>\n"
              "   <PatternStartDate> '02.03.2009 10:00.00:0' </PatternStartDate>\n"
              "   <StartTime> '02.03.2009 10:00.00:0' </StartTime>\n"
              // The fifth occurrence: 2, 4, 16, 18 and 30 March.
              "   <SerieEndDate> '30.03.2009 11:00.00:0' </SerieEndDate>\n"
              "  </Recurrence>\n"
              " </COLLECTION>\n");

    IMessagePtr copy = NewAppointment();
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(copy, tree));
    std::string resent;
    ReadBack(copy, &resent);
    EXPECT_EQ(sent, resent);
}

TEST_F(ItemReaderTest, ARecurrenceThatDescribesNoOccurrenceIsRefused) {
    IMessagePtr m = NewAppointment();
    ASSERT_EQ(ItemApplyResult::kSaved,
              Apply(m, JourFixe({{0x03, "0"}, {0x08, "1"}})));  // type 0, no end
    std::string before;
    ReadBack(m, &before);

    struct Bad {
        const char* token;
        const char* value;
        const char* reason;
    };
    for (const Bad& bad :
         {Bad{"0A", "0", "Recurrence: interval 0"}, Bad{"09", "0", "Recurrence: count 0"},
          Bad{"07", "01.03.2009 00:00.00:0", "Recurrence: ends before its first occurrence"}}) {
        SCOPED_TRACE(bad.reason);
        CWBXMLLiterals edit;
        edit.Add(2, 0x02, std::string("Room ") + bad.token);
        AddRecurrence(edit, {{0x03, "1"},
                             {static_cast<int32_t>(std::stoi(bad.token, nullptr, 16)), bad.value}});
        std::string refused;
        EXPECT_EQ(ItemApplyResult::kSaved, XMLtoMessage(m, edit, &PlusOne(), &refused));
        EXPECT_EQ(bad.reason, refused);
        // The location is stored, the series stays as it was.
        EXPECT_EQ(std::string("Room ") + bad.token,
                  Text(m, Named(m, PSETID_Appointment, 0x8208, PT_STRING8)));
        std::string after;
        ReadBack(m, &after);
        EXPECT_EQ(before.substr(before.find("<Recurrence>")),
                  after.substr(after.find("<Recurrence>")));
        EXPECT_TRUE(Traced("Recurrence refused, it describes no occurrence: " +
                           std::string(bad.reason).substr(12)));
    }
}

TEST_F(ItemReaderTest, DeviceEditOfARecurringItemKeepsTheSeriesTimes) {
    IMessagePtr m = NewAppointment();
    ASSERT_EQ(ItemApplyResult::kSaved,
              Apply(m, JourFixe({{0x03, "0"}, {0x08, "1"}})));  // type 0, no end
    ULONG start = Named(m, PSETID_Appointment, 0x820D, PT_SYSTIME);
    std::string before = Value(m, start);

    CWBXMLLiterals edit;
    edit.Add(2, 0x01, "Jour fixe (new room)");
    edit.Add(2, 0x04, "05.03.2009 08:00.00:0");
    edit.Add(2, 0x05, "30");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(m, edit));
    EXPECT_EQ("Jour fixe (new room)", Text(m, PR_SUBJECT));
    EXPECT_EQ(before, Value(m, start));
    EXPECT_EQ("2009-03-02 09:00:00", before);
    EXPECT_TRUE(Traced("recurring item edited on device, times kept"));
}

TEST_F(ItemReaderTest, MatchingOnFileAsAndSubject) {
    IMessagePtr ann = NewContact("Ann", "Smith", "Smith, Ann");
    IMessagePtr blank = NewContact(nullptr, nullptr, "");
    CWBXMLLiterals same;
    same.Add(1, 0x2F, "Smith, Ann");
    IMessagePtr found = FindOrCreateItem(contacts, same, "Contacts");
    ASSERT_TRUE(found);
    EXPECT_EQ(ann.GetEntryID(), found.GetEntryID());

    // No FileAs, or an empty one: never matched, even against an empty file-as.
    CWBXMLLiterals without;
    without.Add(1, 0x1B, "Eve");
    IMessagePtr fresh = FindOrCreateItem(contacts, without, "Contacts");
    ASSERT_TRUE(fresh);
    EXPECT_EQ("IPM.Contact", fresh.GetPropText(PR_MESSAGE_CLASS));
    fresh.SetStrProp(PR_GIVEN_NAME, "Eve");
    fresh.SaveChanges(KEEP_OPEN_READWRITE);
    EXPECT_NE(blank.GetEntryID(), fresh.GetEntryID());
    EXPECT_EQ(3u, contacts.GetContentsTable().GetRowCount());
    EXPECT_TRUE(
        FindItemByKey(contacts, Named(ann, PSETID_Address, 0x8005, PT_STRING8), "").Empty());

    // Tasks and appointments match on the subject.
    IMessagePtr task = AddMessage(tasks, "Call Bob");
    CWBXMLLiterals taskTree;
    taskTree.Add(3, 0x01, "Call Bob");
    EXPECT_EQ(task.GetEntryID(), FindOrCreateItem(tasks, taskTree, "Task").GetEntryID());
    IMessagePtr other = FindOrCreateItem(tasks, CWBXMLLiterals(), "Task");
    EXPECT_EQ("IPM.Task", other.GetPropText(PR_MESSAGE_CLASS));
    IMessagePtr meeting = AddMessage(calendar, "Review");
    CWBXMLLiterals apptTree;
    apptTree.Add(2, 0x01, "Review");
    EXPECT_EQ(meeting.GetEntryID(),
              FindOrCreateItem(calendar, apptTree, "Appointment").GetEntryID());
    apptTree[0].value = "Other";
    EXPECT_EQ("IPM.Appointment",
              FindOrCreateItem(calendar, apptTree, "Appointment").GetPropText(PR_MESSAGE_CLASS));
    // Another folder kind: always a new item.
    CWBXMLLiterals mail;
    mail.Add(7, 0x17, "Offer");
    EXPECT_TRUE(FindOrCreateItem(inbox, mail, "Email"));
}

TEST_F(ItemReaderTest, EmptyFieldsClearTheirPropertiesAndAbsentOnesStay) {
    IMessagePtr m = NewContact("Ann", "Lee", "Lee, Ann");
    m.SetStrProp(PR_COMPANY_NAME, "ACME");
    m.SetStrProp(PR_MOBILE_TELEPHONE_NUMBER, "0171");
    m.SetBody("notes");
    m.SaveChanges(KEEP_OPEN_READWRITE);
    CWBXMLLiterals tree;
    tree.Add(1, 0x06, "");  // CompanyName
    tree.Add(1, 0x30, "");  // the body
    tree.Add(1, 0x02, "");  // Birthday: not there, nothing to clear
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(m, tree));
    EXPECT_EQ("<none>", Value(m, PR_COMPANY_NAME));
    EXPECT_EQ("", m.GetBody());
    EXPECT_EQ("0171", Text(m, PR_MOBILE_TELEPHONE_NUMBER));
    EXPECT_EQ("Lee, Ann", Text(m, FileAsTag(m)));

    // Clears of what the item does not hold store nothing; an empty field of
    // another kind is traced and passed over.
    CWBXMLLiterals nothing;
    nothing.Add(1, 0x02, "");
    nothing.Add(3, 0x0A, "");
    EXPECT_EQ(ItemApplyResult::kNothingStored, Apply(m, nothing));
    EXPECT_TRUE(Traced("XMLtoMessage: empty field TaskBody ignored, not a field of this kind"));
}

TEST_F(ItemReaderTest, AClearedMessageClassRefusesTheWholeItem) {
    IMessagePtr m = AddMessage(inbox, "Offer");
    CWBXMLLiterals tree;
    tree.Add(7, 0x17, "Changed");
    tree.Add(7, 0x0E, "");
    EXPECT_TRUE(ClearsRequiredField(tree));
    EXPECT_EQ(ItemApplyResult::kRefused, Apply(m, tree));
    EXPECT_EQ("Offer", Text(m, PR_SUBJECT));
    EXPECT_TRUE(Traced("XMLtoMessage: item refused, its message class would be cleared"));
    CWBXMLLiterals named;
    named.Add(7, 0x0E, "IPM.Note");
    EXPECT_FALSE(ClearsRequiredField(named));
}

TEST_F(ItemReaderTest, AFileAsOfItsOwnStaysWhenAChangeNamesOtherFields) {
    IMessagePtr custom = NewContact("Ann", "Lee", "ACME GmbH");
    CWBXMLLiterals surname;
    surname.Add(1, 0x1D, "Roe");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(custom, surname));
    EXPECT_EQ("ACME GmbH", Text(custom, FileAsTag(custom)));
    EXPECT_EQ("Roe, Ann", Text(custom, PR_DISPLAY_NAME));
    // A file-as built from the names follows them; a cleared one is built anew.
    IMessagePtr derived = NewContact("Ann", "Lee", "Lee, Ann");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(derived, surname));
    EXPECT_EQ("Roe, Ann", Text(derived, FileAsTag(derived)));
    CWBXMLLiterals cleared;
    cleared.Add(1, 0x2F, "");
    EXPECT_EQ(ItemApplyResult::kSaved, Apply(custom, cleared));
    EXPECT_EQ("Roe, Ann", Text(custom, FileAsTag(custom)));
}
