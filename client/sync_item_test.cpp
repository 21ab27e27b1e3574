#include "client/sync_item.h"

#include <gtest/gtest.h>

#include "client/test_env.h"
#include "client/value_forms.h"

namespace {

const double kMarch7 = 39879 + 50709.0 / 86400;  // 7 March 2009 14:05:09

std::string B(const char* bytes, size_t n) { return std::string(bytes, n); }
const std::string kHeader = B("\x03\x01\x6A\x00", 4);

class SyncItemTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app_.Logon()); }

    std::unique_ptr<SyncItem> Saved(int kind, std::unique_ptr<PimItem> pim) {
        EXPECT_TRUE(pim->Save());
        return std::make_unique<SyncItem>(*TableForKind(kind), app_.GetItemFromOid(pim->Oid()));
    }
    std::unique_ptr<PimItem> New(int folder) {
        return app_.GetDefaultFolder(folder)->Items().Add();
    }
    // A new item of the kind's folder with these texts, saved.
    std::unique_ptr<SyncItem> SavedWith(
        int kind, std::initializer_list<std::pair<const char*, const char*>> texts) {
        std::unique_ptr<PimItem> pim = New(TableForKind(kind)->pimFolder);
        for (const auto& [name, text] : texts) pim->SetText(name, text);
        return Saved(kind, std::move(pim));
    }
    static std::string Written(const SyncItem& item, bool snapshot) {
        CWBXML doc;
        doc.BeginDocument(kSnapshotDocumentCapacity);
        item.WriteFields(doc, snapshot);
        return doc.Document().ToString();
    }

    TempEnv env_;
    PocketOutlookApplication app_;
};

// A kind's table and a folder's table are the same three, each found both ways.
TEST(ItemTables, FoundByKindAndByFolder) {
    struct Case {
        int kind;
        int pimFolder;
        int codePage;
    };
    for (Case c : {Case{kKindContacts, olFolderContacts, 1}, Case{kKindTasks, olFolderTasks, 3},
                   Case{kKindAppointments, olFolderCalendar, 2}}) {
        const ItemKindTable* byKind = TableForKind(c.kind);
        ASSERT_NE(byKind, nullptr) << c.kind;
        EXPECT_EQ(byKind, TableForFolder(c.pimFolder)) << c.pimFolder;
        EXPECT_EQ(byKind->pimFolder, c.pimFolder) << c.kind;
        EXPECT_EQ(byKind->codePage, c.codePage) << c.kind;
    }
    EXPECT_EQ(TableForKind(0), nullptr);
    EXPECT_EQ(TableForFolder(6), nullptr);  // no folder of the three
}

TEST_F(SyncItemTest, ContactWrittenForSendingAndForSnapshot) {
    auto pim = New(olFolderContacts);
    pim->SetText("FirstName", "Ann");
    pim->SetDate("Birthday", kMarch7);
    pim->SetText("Body", "Hi");
    pim->SetText("YomiFirstName", "never sent");
    pim->SetText("CallbackTelephoneNumber", "never sent either");
    auto item = Saved(kKindContacts, std::move(pim));
    std::string oid = std::to_string(item->GetOid());
    ASSERT_EQ(1u, oid.size());
    EXPECT_EQ(kHeader + B("\x54\x00\x01", 3) + "\x40\x03" + oid + B("\x00\x01", 2) +
                  "\x42\x03"
                  "07.03.2009 14:05.09:0" +
                  B("\x00\x01", 2) +
                  "\x5B\x03"
                  "Ann" +
                  B("\x00\x01", 2) +
                  "\x70\x03"
                  "Hi" +
                  B("\x00\x01\x01", 3),
              Written(*item, false));
    EXPECT_EQ(kHeader + B("\x54\x00\x01", 3) + "\x40\x03" + oid + B("\x00\x01", 2) +
                  "\x42\x03"
                  "07032009 14:05:09" +
                  B("\x00\x01", 2) +
                  "\x5B\x03"
                  "Ann" +
                  B("\x00\x01", 2) + "\x70\x03" + std::to_string(Crc32("Hi")) +
                  B("\x00\x01\x01", 3),
              Written(*item, true));
    EXPECT_EQ("Aniversary", item->FieldName(3));
    EXPECT_EQ(49, item->FieldCount());
}

TEST_F(SyncItemTest, TaskAndAppointmentValueForms) {
    auto task = New(olFolderTasks);
    task->SetText("Subject", "Call");
    task->SetBool("Complete", true);
    task->SetLong("Importance", 2);
    auto t = Saved(kKindTasks, std::move(task));
    std::vector<std::string> fields;
    for (int tag = 0; tag < t->FieldCount(); ++tag) fields.push_back(t->GetField(tag));
    EXPECT_EQ((std::vector<std::string>{"0", "Call", "", "", "", "", "2", "1", "0", "0", "", "0",
                                        "", "", "0"}),
              fields);
    EXPECT_EQ("", t->FieldName(1));

    auto appt = New(olFolderCalendar);
    appt->SetText("Subject", "Meet");
    appt->SetBool("AllDayEvent", true);
    appt->SetBool("IsRecurring", true);
    appt->SetDate("Start", kMarch7);
    appt->SetLong("ReminderMinutesBeforeStart", 15);
    auto a = Saved(kKindAppointments, std::move(appt));
    fields.clear();
    for (int tag = 0; tag < a->FieldCount(); ++tag) fields.push_back(a->GetField(tag));
    EXPECT_EQ((std::vector<std::string>{"", "Meet", "", "", "07032009 14:05:09", "0", "", "-1", "0",
                                        "0", "", "", "", "0", ""}),
              fields);
    EXPECT_EQ("07.03.2009 14:05.09:0", a->GetWireField(4));
    // Reminder minutes lie outside the written fields.
    EXPECT_EQ(std::string::npos, Written(*a, false).find("15"));
}

TEST_F(SyncItemTest, ReceivedFieldsAreStoredByTheTables) {
    auto c = Saved(kKindContacts, New(olFolderContacts));
    c->SetField(2, "07.03.2009 14:05.09:0");
    c->SetField(3, "not a date");
    c->SetField(0, "999");       // the identifier is not set from the wire
    c->SetField(0x31, "555-1");  // callback number, as the server means it
    c->SetField(0x33, "555-3");
    c->SetField(0x34, "Dr.");  // unknown to the client
    c->SetField(27, "J\xC3\xBCrgen");
    ASSERT_TRUE(c->Item()->Save());
    auto back = app_.GetItemFromOid(c->GetOid());
    EXPECT_DOUBLE_EQ(kMarch7, back->GetDate("Birthday"));
    EXPECT_DOUBLE_EQ(kOleNoDate, back->GetDate("Anniversary"));
    EXPECT_EQ("555-1", back->GetText("CallbackTelephoneNumber"));
    EXPECT_EQ("555-3", back->GetText("OtherTelephoneNumber"));
    EXPECT_EQ("", back->GetText("YomiFirstName"));
    EXPECT_EQ("", back->GetText("YomiCompanyName"));
    EXPECT_EQ("J\xC3\xBCrgen", back->GetText("FirstName"));

    auto t = Saved(kKindTasks, New(olFolderTasks));
    t->SetField(7, "65536");  // cut to 16 bits: 0
    t->SetField(9, "-1");
    t->SetField(5, "07.03.2009 14:05.09:0");  // date completed is not set on receive
    t->SetField(6, "3x");
    EXPECT_FALSE(t->Item()->GetBool("Complete"));
    EXPECT_TRUE(t->Item()->GetBool("TeamTask"));
    EXPECT_DOUBLE_EQ(0, t->Item()->GetDate("DateCompleted"));
    EXPECT_EQ(3, t->Item()->GetLong("Importance"));

    auto a = Saved(kKindAppointments, New(olFolderCalendar));
    a->SetField(15, "30");
    a->SetField(0, "1");  // IsRecurring is not set on receive
    a->SetField(13, "-1");
    EXPECT_EQ(30, a->Item()->GetLong("ReminderMinutesBeforeStart"));
    EXPECT_FALSE(a->Item()->GetBool("IsRecurring"));
    EXPECT_TRUE(a->Item()->GetBool("ReminderSet"));
}

TEST_F(SyncItemTest, ApplyFieldsTakesOnlyPlainEntriesOfTheKindsPage) {
    auto item = std::make_unique<SyncItem>(*TableForKind(kKindTasks), New(olFolderTasks));
    FieldRecord record;
    record.Add(3, 1, "Subject from server");
    record.Add(2, 2, "appointment page: ignored");
    record.Add(3, 2, "");
    CWBXMLLiteral& nested = record.Add(3, 10);
    nested.children = std::make_unique<CWBXMLLiterals>();
    nested.children->Add(3, 10, "nested: ignored");
    ASSERT_TRUE(item->ApplyFields(record));
    EXPECT_GT(item->GetOid(), 0);
    auto back = app_.GetItemFromOid(item->GetOid());
    EXPECT_EQ("Subject from server", back->GetText("Subject"));
    EXPECT_EQ("", back->GetText("Categories"));
    EXPECT_EQ("", back->GetText("Body"));
}

TEST_F(SyncItemTest, EqualsSnapshot) {
    auto item =
        SavedWith(kKindContacts, {{"FirstName", "Ann"}, {"LastName", "Lee"}, {"Body", "Call Bob"}});
    std::string snapshot = Written(*item, true);
    EXPECT_TRUE(item->EqualsSnapshot(snapshot));

    // One field changed at a time, then set back.
    struct Change {
        const char* field;
        const char* value;
        bool equal;
    };
    for (Change c :
         {// Fields outside the written ones do not count.
          Change{"YomiFirstName", "A", true}, Change{"PrimaryTelephoneNumber", "1", true},
          // A body of the same length but other words is a change.
          Change{"Body", "Call Tom", false},
          // A field that became empty, and one that appeared.
          Change{"LastName", "", false}, Change{"Title", "Dr", false}}) {
        const std::string before = item->Item()->GetText(c.field);
        item->Item()->SetText(c.field, c.value);
        EXPECT_EQ(item->EqualsSnapshot(snapshot), c.equal) << c.field << "=" << c.value;
        item->Item()->SetText(c.field, before);
    }
    EXPECT_TRUE(item->EqualsSnapshot(snapshot));

    // Damaged records count as changed.
    EXPECT_FALSE(item->EqualsSnapshot(""));
    EXPECT_FALSE(item->EqualsSnapshot(kHeader + B("\x55\x01", 2)));
    std::string otherPage = snapshot;
    otherPage[6] = 2;  // the page switch after COLLECTION
    EXPECT_FALSE(item->EqualsSnapshot(otherPage));
    EXPECT_FALSE(item->EqualsSnapshot(snapshot.substr(0, snapshot.size() / 2)));
}

TEST_F(SyncItemTest, MatchKeys) {
    auto c = SavedWith(kKindContacts, {{"FileAs", "Lee, Ann"},
                                       {"Email1Address", "ann@x"},
                                       {"FirstName", "Ann"},
                                       {"LastName", "Lee"},
                                       {"BusinessTelephoneNumber", "1"},
                                       {"BusinessAddressCity", "Bonn"},
                                       {"CompanyName", "not part of the key"}});
    EXPECT_EQ("Lee, Annann@xAnnLee1Bonn", c->MatchKey());
    FieldRecord record;
    record.Add(1, 42, "Bonn");
    record.Add(1, 47, "Lee, Ann");
    record.Add(1, 7, "ann@x");
    record.Add(1, 27, "Ann");
    record.Add(1, 29, "Lee");
    record.Add(1, 11, "1");
    EXPECT_EQ(c->MatchKey(), IncomingMatchKey(c->Table(), record));

    auto task = New(olFolderTasks);
    task->SetText("Subject", "Call");
    EXPECT_EQ("Call", Saved(kKindTasks, std::move(task))->MatchKey());
    FieldRecord taskRecord;
    taskRecord.Add(3, 1, "Call");
    taskRecord.Add(2, 1, "wrong page");
    EXPECT_EQ("Call", IncomingMatchKey(*TableForKind(kKindTasks), taskRecord));
}

}  // namespace

namespace {

// The fields of a Modify for item against the snapshot record before, on the wire.
std::string ModifyFields(const SyncItem& item, const std::string& before,
                         std::map<int, std::string>* sent = nullptr) {
    std::map<int, std::string> fields;
    EXPECT_TRUE(SnapshotFields(item.Table(), before, fields));
    CWBXML doc;
    doc.BeginDocument(kSnapshotDocumentCapacity);
    item.WriteChangedFields(doc, fields, sent);
    return doc.Document().ToString();
}

std::string SnapshotOf(const SyncItem& item) {
    CWBXML doc;
    doc.BeginDocument(kSnapshotDocumentCapacity);
    item.WriteFields(doc, true);
    return doc.Document().ToString();
}

}  // namespace

TEST_F(SyncItemTest, AModifyCarriesTheChangedFieldsAndTheClearedOnesAsEmptyElements) {
    auto pim = New(olFolderContacts);
    pim->SetText("FileAs", "Lee, Ann");
    pim->SetText("CompanyName", "Firma 1");
    pim->SetText("BusinessTelephoneNumber", "555");
    pim->SetDate("Birthday", kMarch7);
    pim->SetText("Body", "old note");
    auto item = Saved(kKindContacts, std::move(pim));
    std::string before = SnapshotOf(*item);
    // Company changed, phone and birthday cleared, body changed, FileAs as it was.
    item->Item()->SetText("CompanyName", "Firma 2");
    item->Item()->SetText("BusinessTelephoneNumber", "");
    item->Item()->SetDate("Birthday", kOleNoDate);
    item->Item()->SetText("Body", "new note");
    std::map<int, std::string> sent;
    // COLLECTION; page 1; Birthday (0x02, a control token without the content bit)
    // as tag, empty string, end; CompanyName 0x06 with its text; the phone 0x0B as
    // the bare tag; Body 0x30 whole; end.
    EXPECT_EQ(kHeader + B("\x54\x00\x01", 3) + B("\x42\x03\x00\x01", 4) + "\x46\x03" + "Firma 2" +
                  B("\x00\x01", 2) + "\x0B" + "\x70\x03" + "new note" + B("\x00\x01\x01", 3),
              ModifyFields(*item, before, &sent));
    EXPECT_EQ((std::map<int, std::string>{{2, ""}, {6, "Firma 2"}, {11, ""}, {48, "new note"}}),
              sent);
    // Nothing changed: nothing but the empty COLLECTION.
    EXPECT_EQ(kHeader + B("\x54\x01", 2), ModifyFields(*item, SnapshotOf(*item)));
}

TEST_F(SyncItemTest, ATaskModifyClearsItsSubjectAndCategoriesAsTagEmptyStringEnd) {
    auto item = SavedWith(
        kKindTasks, {{"Subject", "Call Bob"}, {"Categories", "Work"}, {"Body", "about the car"}});
    std::string before = SnapshotOf(*item);
    item->Item()->SetText("Subject", "");
    item->Item()->SetText("Categories", "");
    item->Item()->SetText("Body", "");
    EXPECT_EQ(kHeader + B("\x54\x00\x03", 3) + B("\x41\x03\x00\x01", 4) + B("\x42\x03\x00\x01", 4) +
                  "\x0A" + "\x01",
              ModifyFields(*item, before));
}

TEST_F(SyncItemTest, ADesktopItemTakenWholeClearsWhatItDoesNotCarry) {
    auto pim = New(olFolderContacts);
    pim->SetText("FileAs", "Lee, Ann");
    pim->SetText("CompanyName", "Firma 1");
    pim->SetText("BusinessTelephoneNumber", "555");
    pim->SetDate("Birthday", kMarch7);
    pim->SetText("Suffix", "Jr.");  // the desktop has no property for it
    pim->SetText("CallbackTelephoneNumber", "777");
    auto item = Saved(kKindContacts, std::move(pim));
    FieldRecord record;
    record.Add(1, 0x2F, "Lee, Ann");
    record.Add(1, 0x06, "");  // an empty element is an empty field
    item->SetFields(record, true);
    EXPECT_EQ("Lee, Ann", item->GetField(0x2F));
    EXPECT_EQ("", item->GetField(0x06));
    EXPECT_EQ("", item->GetField(0x0B));
    EXPECT_EQ("", item->GetField(0x02));
    EXPECT_DOUBLE_EQ(kOleNoDate, item->Item()->GetDate("Birthday"));
    EXPECT_EQ("", item->Item()->GetText("CallbackTelephoneNumber"));
    EXPECT_EQ("Jr.", item->GetField(0x1E));

    // Not whole (a new item, or a twin paired by name): absent fields stay.
    auto other = New(olFolderContacts);
    other->SetText("CompanyName", "Firma 3");
    auto twin = Saved(kKindContacts, std::move(other));
    twin->SetFields(record, false);
    EXPECT_EQ("", twin->GetField(0x06));  // it was in the record, empty
    FieldRecord fileAsOnly;
    fileAsOnly.Add(1, 0x2F, "X");
    auto third = New(olFolderContacts);
    third->SetText("CompanyName", "Firma 4");
    auto kept = Saved(kKindContacts, std::move(third));
    kept->SetFields(fileAsOnly, false);
    EXPECT_EQ("Firma 4", kept->GetField(0x06));
}

TEST_F(SyncItemTest, TasksAndAppointmentsTakenWholeKeepTheFieldsTheDesktopLacks) {
    auto task = New(olFolderTasks);
    task->SetText("Subject", "t");
    task->SetLong("Importance", 2);
    task->SetDate("DueDate", kMarch7);
    task->SetBool("TeamTask", true);
    task->SetLong("ReminderOptions", 3);
    auto t = Saved(kKindTasks, std::move(task));
    FieldRecord subject;
    subject.Add(3, 1, "t");
    t->SetFields(subject, true);
    EXPECT_EQ("0", t->GetField(6));
    EXPECT_EQ("", t->GetField(4));
    EXPECT_EQ("1", t->GetField(9));
    EXPECT_EQ("3", t->GetField(14));

    auto appointment = New(olFolderCalendar);
    appointment->SetText("Location", "Raum 1");
    appointment->SetLong("BusyStatus", 2);
    appointment->SetLong("ReminderOptions", 4);
    auto a = Saved(kKindAppointments, std::move(appointment));
    FieldRecord nothing;
    a->SetFields(nothing, true);
    EXPECT_EQ("", a->GetField(2));
    EXPECT_EQ("0", a->GetField(8));
    EXPECT_EQ(4, a->Item()->GetLong("ReminderOptions"));
    for (int tag : {0x1E}) EXPECT_FALSE(DesktopCarries(*TableForKind(kKindContacts), tag));
    for (int tag : {0x00, 0x01, 0x31}) {
        EXPECT_EQ(tag == 0x31, DesktopCarries(*TableForKind(kKindContacts), tag)) << tag;
    }
}

TEST_F(SyncItemTest, SnapshotFieldsOfARecord) {
    auto item = SavedWith(kKindTasks, {{"Subject", "s"}, {"Body", "b"}});
    std::map<int, std::string> fields;
    ASSERT_TRUE(SnapshotFields(item->Table(), SnapshotOf(*item), fields));
    EXPECT_EQ("s", fields[1]);
    EXPECT_EQ(std::to_string(Crc32("b")), fields[10]);
    std::map<int, std::string> none;
    EXPECT_FALSE(SnapshotFields(item->Table(), B("\x03\x01\x6A\x00\x45", 5), none));
    // A field of another page: not the kind's record.
    EXPECT_FALSE(
        SnapshotFields(item->Table(), kHeader + B("\x54\x00\x01\x41\x03x\x00\x01\x01", 9), none));
}
