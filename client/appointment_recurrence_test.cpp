// Recurring appointments on the handheld: the text form, the Recurrence block both
// ways (byte for byte), the snapshot, and the "skiff pim" commands.
#include "client/appointment_recurrence.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <sstream>

#include "client/client_log.h"
#include "client/pim_recurrence_commands.h"
#include "client/recurrence_text.h"
#include "client/skiff_cli.h"
#include "client/skiff_cli_test_util.h"
#include "client/sync_item.h"
#include "client/test_bytes.h"
#include "client/test_env.h"
#include "client/value_forms.h"
#include "common/base/temp_home.h"

namespace {

using namespace testbytes;

double D(const char* text) {
    double date = 0;
    EXPECT_TRUE(ParseUserDate(text, date)) << text;
    return date;
}

class AppointmentRecurrenceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app_.Logon()) << app_.error(); }

    // Jour fixe, Monday 2024-03-18 10:00-10:30, weekly on Monday and Thursday, 6 times,
    // across the change to summer time of 31 March.
    std::unique_ptr<PimItem> JourFixe() {
        auto item = app_.GetDefaultFolder(olFolderCalendar)->Items().Add();
        item->SetText("Subject", "Jour fixe");
        item->SetDate("Start", D("2024-03-18 10:00"));
        item->SetDate("End", D("2024-03-18 10:30"));
        PimRecurrence r;
        r.pattern.recurrenceType = olRecursWeekly;
        r.pattern.dayOfWeekMask = olMonday | olThursday;
        r.pattern.patternStartDate = D("2024-03-18");
        r.pattern.end = PimRecurrenceEnd::kAfterCount;
        r.pattern.occurrences = 6;
        PimException removed;
        removed.originalDate = D("2024-03-21 10:00");
        removed.deleted = true;
        PimException moved;
        moved.originalDate = D("2024-04-01 10:00");
        moved.start = D("2024-04-02 11:00");
        moved.subject = "Moved";
        moved.busyStatus = 1;
        r.exceptions = {removed, moved};
        EXPECT_TRUE(item->SetRecurrence(r));
        EXPECT_TRUE(item->Save());
        return item;
    }

    static std::string Block(const PimItem& item, bool wasRecurring = false) {
        CWBXML writer;
        writer.BeginDocument();
        WriteRecurrenceBlock(writer, item, wasRecurring);
        return std::string(writer.Document().View());
    }

    // The children of the Recurrence element of a document written by Block.
    static CWBXMLLiterals Children(const std::string& document) {
        CWBXML reader;
        reader.SetDocument(document);
        CWBXMLEvent event;
        reader.NextEvent(event);
        CWBXMLLiterals children;
        EXPECT_TRUE(reader.BuildTree(children, event));
        return children;
    }

    ScopedZone zone_{"Europe/Berlin"};
    TempEnv env_;
    PocketOutlookApplication app_;
};

}  // namespace

TEST(RecurrenceText, PatternsAndExceptionsBothWays) {
    PimRecurrencePattern p;
    std::string error;
    ASSERT_TRUE(
        ParseRecurrencePattern("Weekly; ON=thu,mon ;interval=2;count=6", D("2024-03-18"), p, error))
        << error;
    EXPECT_EQ("weekly;interval=2;on=mon,thu;start=2024-03-18;count=6", FormatRecurrencePattern(p));
    ASSERT_TRUE(ParseRecurrencePattern(
        "monthnth;on=sat,sun;week=last;start=2024-01-01;until=2024-12-31", 0, p, error));
    EXPECT_EQ("monthnth;interval=1;on=sat,sun;week=last;start=2024-01-01;until=2024-12-31",
              FormatRecurrencePattern(p));
    ASSERT_TRUE(ParseRecurrencePattern("yearly;month=2;day=29;start=2024-02-29", 0, p, error));
    EXPECT_EQ("yearly;interval=1;day=29;month=2;start=2024-02-29", FormatRecurrencePattern(p));
    for (const char* bad : {"hourly", "weekly;on=mo", "weekly;interval=0", "monthly;day=32",
                            "weekly;count=2;until=2024-01-01", "daily;start=tomorrow",
                            "daily;colour=red", "monthnth;week=5"}) {
        EXPECT_FALSE(ParseRecurrencePattern(bad, 0, p, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }

    PimException e;
    e.originalDate = D("2024-03-21 10:00");
    ASSERT_TRUE(ApplyExceptionField("subject", "A;B\\C", e, error));
    ASSERT_TRUE(ApplyExceptionField("Start", "2024-03-21 11:15", e, error));
    ASSERT_TRUE(ApplyExceptionField("ReminderSet", "true", e, error));
    EXPECT_EQ("2024-03-21 10:00 Start=2024-03-21 11:15;Subject=A\\;B\\\\C;ReminderSet=1",
              FormatException(e));
    EXPECT_FALSE(ApplyExceptionField("Colour", "red", e, error));
    EXPECT_FALSE(ApplyExceptionField("BusyStatus", "9", e, error));
    e.deleted = true;
    EXPECT_EQ("2024-03-21 10:00 deleted", FormatException(e));
}

// What the handheld sends for Jour fixe, byte for byte: the exceptions' dates in
// UTC (an hour earlier in winter, two in summer), all others local.
TEST_F(AppointmentRecurrenceTest, BlockSentForASeriesWithRemovedAndMovedOccurrences) {
    auto item = JourFixe();
    std::string expected =
        kHeader + P(6) + S(0x00) + T(0x03, "1") + T(0x09, "6") + T(0x0A, "1") + T(0x0B, "18") +
        T(0x08, "0") + T(0x04, "18.03.2024 10:00.00:0") + T(0x05, "18.03.2024 10:00.00:0") +
        T(0x14, "04.04.2024 10:30.00:0") + S(0x02) +
        // the removed Thursday
        S(0x01) + T(0x10, "21.03.2024 09:00.00:0") + T(0x11, "1") + kEnd +
        // the Monday after Easter, moved to Tuesday 11:00
        S(0x01) + T(0x10, "01.04.2024 08:00.00:0") + P(2) + T(0x04, "02.04.2024 09:00.00:0") +
        T(0x06, "02.04.2024 09:30.00:0") + T(0x01, "Moved") + T(0x08, "1") + kEnd + kEnd + kEnd;
    EXPECT_EQ(expected, Block(*item));

    // Read back, the same recurrence.
    ReceivedRecurrence received =
        ReadRecurrenceBlock(Children(Block(*item)), item->AppointmentFields());
    EXPECT_EQ("", received.problem);
    ASSERT_TRUE(received.recurrence);
    PimRecurrence back = *received.recurrence;
    CompleteRecurrence(back);
    EXPECT_EQ(*item->GetRecurrence(), back);

    // A single appointment sends nothing, unless its snapshot had it recurring.
    item->ClearRecurrence();
    EXPECT_EQ(kHeader, Block(*item));
    EXPECT_EQ(kHeader + P(6) + S(0x00) + T(0x03, "-1") + kEnd, Block(*item, true));
}

TEST_F(AppointmentRecurrenceTest, EndFormsAndKindsReadAsTheDesktopWritesThem) {
    PimAppointmentFields a;
    a.start = D("2024-03-18 10:00");
    a.end = D("2024-03-18 10:30");
    auto read = [&a](std::vector<std::pair<int, std::string>> fields) {
        CWBXMLLiterals list;
        for (auto& [token, value] : fields) list.Add(6, token, value);
        ReceivedRecurrence r = ReadRecurrenceBlock(list, a);
        if (!r.recurrence) return r.single ? std::string("single") : "refused: " + r.problem;
        CompleteRecurrence(*r.recurrence);
        return FormatRecurrencePattern(r.recurrence->pattern);
    };
    // The desktop's block of an endless yearly series: the month twice, a pattern
    // end in 4500.
    EXPECT_EQ("yearly;interval=1;day=18;month=3;start=2024-03-18",
              read({{0x03, "5"},
                    {0x0A, "1"},
                    {0x0B, "0"},
                    {0x0F, "3"},
                    {0x08, "1"},
                    {0x0C, "18"},
                    {0x0F, "4"},
                    {0x04, "18.03.2024 10:00.00:0"},
                    {0x07, "31.12.4500 10:30.00:0"}}));
    // Ends by date: the count that came with it stays.
    EXPECT_EQ("daily;interval=3;start=2011-04-07;until=2011-05-04",
              read({{0x03, "0"},
                    {0x09, "10"},
                    {0x0A, "3"},
                    {0x08, "0"},
                    {0x04, "07.04.2011 08:00.00:0"},
                    {0x07, "04.05.2011 08:30.00:0"},
                    {0x06, "04.05.2011 08:30.00:0"}}));
    // After a count, with the desktop's last day.
    EXPECT_EQ("monthnth;interval=3;on=sat,sun;week=3;start=2008-02-09;count=10",
              read({{0x03, "3"},
                    {0x09, "10"},
                    {0x0A, "3"},
                    {0x0B, "65"},
                    {0x08, "0"},
                    {0x12, "3"},
                    {0x04, "09.02.2008 14:00.00:0"},
                    {0x14, "08.05.2010 17:00.00:0"}}));
    // No end named at all: none.
    EXPECT_EQ("weekly;interval=1;on=mon;start=2024-03-18", read({{0x03, "1"}, {0x0B, "2"}}));
    EXPECT_EQ("single", read({{0x03, "-1"}}));
    // Blocks that describe no occurrence.
    EXPECT_EQ("refused: interval 0", read({{0x03, "0"}, {0x0A, "0"}, {0x08, "1"}}));
    EXPECT_EQ("refused: count 0", read({{0x03, "0"}, {0x09, "0"}}));
    EXPECT_EQ("refused: ends before its first occurrence",
              read({{0x03, "0"}, {0x07, "17.03.2024 00:00.00:0"}}));
    EXPECT_EQ("refused: no weekday", read({{0x03, "3"}, {0x12, "1"}, {0x08, "1"}}));
    EXPECT_EQ("refused: unknown recurrence type 4", read({{0x03, "4"}}));
    EXPECT_EQ("refused: no recurrence type", read({{0x0A, "2"}}));
}

TEST_F(AppointmentRecurrenceTest, ReceivedItemsSetTheirSeriesAndTheSnapshotSeesChanges) {
    auto item = JourFixe();
    long oid = item->Oid();
    const ItemKindTable& table = *TableForKind(kKindAppointments);
    SyncItem sync(table, app_.GetItemFromOid(oid));
    CWBXML snapshot;
    snapshot.BeginDocument();
    sync.WriteFields(snapshot, true);
    std::string record(snapshot.Document().View());
    EXPECT_TRUE(sync.EqualsSnapshot(record));
    EXPECT_NE(std::string::npos,
              record.find("weekly;interval=1;on=mon,thu;start=2024-03-18;count=6 | "
                          "2024-03-21 10:00 deleted | 2024-04-01 10:00 Start=2024-04-02 11:00;"
                          "Subject=Moved;BusyStatus=1"));

    // A removed occurrence is a change of the item.
    PimRecurrence r = *sync.Item()->GetRecurrence();
    PimException removed;
    removed.originalDate = D("2024-03-25 10:00");
    removed.deleted = true;
    r.exceptions.push_back(removed);
    ASSERT_TRUE(sync.Item()->SetRecurrence(r));
    ASSERT_TRUE(sync.Item()->Save());
    SyncItem changed(table, app_.GetItemFromOid(oid));
    EXPECT_FALSE(changed.EqualsSnapshot(record));

    // The desktop's version as an answer brings it back; an item without a block is
    // single, and a block that describes no occurrence leaves the series as it was.
    FieldRecord answer;
    answer.Add(2, 0x01, "Jour fixe");
    answer.Add(2, 0x04, "18.03.2024 10:00.00:0");
    answer.Add(2, 0x06, "18.03.2024 10:30.00:0");
    CWBXMLLiteral& block = answer.Add(6, 0x00);
    block.children = std::make_unique<CWBXMLLiterals>(Children(Block(*item)));
    ASSERT_TRUE(changed.ApplyFields(answer));
    SyncItem again(table, app_.GetItemFromOid(oid));
    EXPECT_TRUE(again.EqualsSnapshot(record));

    std::vector<std::string> log;
    SetLogLineSink([&log](const std::string& line) { log.push_back(line); });
    FieldRecord bad;
    bad.Add(2, 0x01, "Jour fixe");
    CWBXMLLiteral& badBlock = bad.Add(6, 0x00);
    badBlock.children = std::make_unique<CWBXMLLiterals>();
    badBlock.children->Add(6, 0x03, "1");
    badBlock.children->Add(6, 0x0A, "0");
    ASSERT_TRUE(again.ApplyFields(bad));
    SetLogLineSink(nullptr);
    EXPECT_EQ(std::vector<std::string>{"Recurrence of Jour fixe not stored: interval 0"}, log);
    EXPECT_TRUE(SyncItem(table, app_.GetItemFromOid(oid)).EqualsSnapshot(record));

    // Taken whole, a desktop item without a block is single; in part, it keeps it.
    FieldRecord single;
    single.Add(2, 0x01, "Jour fixe");
    ASSERT_TRUE(again.ApplyFields(single));
    EXPECT_NE(nullptr, SyncItem(table, app_.GetItemFromOid(oid)).Item()->GetRecurrence());
    again.SetFields(single, true);
    ASSERT_TRUE(again.Item()->Save());
    SyncItem now(table, app_.GetItemFromOid(oid));
    EXPECT_EQ(nullptr, now.Item()->GetRecurrence());
    EXPECT_FALSE(now.EqualsSnapshot(record));
    // Sent after that comparison, it tells the desktop it recurs no more.
    CWBXML sent;
    sent.BeginDocument();
    now.WriteFields(sent, false);
    EXPECT_NE(std::string::npos,
              std::string(sent.Document().View()).find(P(6) + S(0x00) + T(0x03, "-1") + kEnd));
}

// A Modify carries the fields that changed; a recurring appointment its whole block
// with them, never IsRecurring as a field.
TEST_F(AppointmentRecurrenceTest, ModifiesCarryTheWholeSeries) {
    auto item = JourFixe();
    long oid = item->Oid();
    const ItemKindTable& table = *TableForKind(kKindAppointments);
    auto record = [&] {
        CWBXML snapshot;
        snapshot.BeginDocument();
        SyncItem(table, app_.GetItemFromOid(oid)).WriteFields(snapshot, true);
        std::map<int, std::string> fields;
        EXPECT_TRUE(SnapshotFields(table, snapshot.Document().View(), fields));
        return fields;
    };
    auto modify = [&](const std::map<int, std::string>& before,
                      std::map<int, std::string>* sent = nullptr) {
        CWBXML writer;
        writer.BeginDocument();
        SyncItem(table, app_.GetItemFromOid(oid)).WriteChangedFields(writer, before, sent);
        return std::string(writer.Document().View());
    };
    std::string block = Block(*item).substr(kHeader.size());
    auto before = record();
    EXPECT_EQ(kHeader + S(0x14) + kEnd, modify(before));  // nothing changed

    auto edit = app_.GetItemFromOid(oid);
    edit->SetText("Location", "Room 2");
    ASSERT_TRUE(edit->Save());
    EXPECT_EQ(kHeader + S(0x14) + P(2) + T(0x02, "Room 2") + block + kEnd, modify(before));

    before = record();
    edit = app_.GetItemFromOid(oid);
    PimRecurrence r = *edit->GetRecurrence();
    r.exceptions.pop_back();  // the moved occurrence back in its place
    ASSERT_TRUE(edit->SetRecurrence(r));
    ASSERT_TRUE(edit->Save());
    std::map<int, std::string> sent;
    std::string changed = modify(before, &sent);
    EXPECT_EQ(kHeader + S(0x14) + Block(*app_.GetItemFromOid(oid)).substr(kHeader.size()) + kEnd,
              changed);
    EXPECT_EQ(1U, sent.size());
    EXPECT_EQ(RecurrenceSignature(&r), sent[0]);

    before = record();
    edit = app_.GetItemFromOid(oid);
    edit->ClearRecurrence();
    ASSERT_TRUE(edit->Save());
    EXPECT_EQ(kHeader + S(0x14) + P(6) + S(0x00) + T(0x03, "-1") + kEnd + kEnd, modify(before));
}

TEST_F(AppointmentRecurrenceTest, LocalTimeAndUtc) {
    EXPECT_EQ("2024-01-15 09:00", FormatUserDate(LocalToUtc(D("2024-01-15 10:00"))));
    EXPECT_EQ("2024-07-15 08:00", FormatUserDate(LocalToUtc(D("2024-07-15 10:00"))));
    EXPECT_EQ("2024-07-15 10:00", FormatUserDate(UtcToLocal(D("2024-07-15 08:00"))));
    // 02:30 on 31 March does not exist: the offset before the change; 02:30 on 27
    // October comes twice: the first.
    EXPECT_EQ("2024-03-31 01:30", FormatUserDate(LocalToUtc(D("2024-03-31 02:30"))));
    EXPECT_EQ("2024-10-27 00:30", FormatUserDate(LocalToUtc(D("2024-10-27 02:30"))));
    EXPECT_EQ("1999-12-31 23:00", FormatUserDate(LocalToUtc(D("2000-01-01 00:00"))));
}

TEST_F(AppointmentRecurrenceTest, PimCommandsSetAndEditASeries) {
    CliRun add = Skiff({"pim", "add", "calendar", "Subject=Jour fixe", "Start=2024-03-19 10:00",
                        "End=2024-03-19 10:30", "--recurrence", "weekly;on=mon,thu;count=6"});
    ASSERT_EQ(0, add.status) << add.err;
    std::string oid = add.out.substr(0, add.out.size() - 1);
    // A Start on a day the series does not name moves to its first occurrence.
    CliRun show = Skiff({"pim", "show", oid});
    EXPECT_NE(std::string::npos, show.out.find("Start=21.03.2024 10:00.00:0\n")) << show.out;
    EXPECT_NE(std::string::npos,
              show.out.find("Recurrence=weekly;interval=1;on=mon,thu;start=2024-03-21;count=6;"
                            "last=2024-04-08\n"))
        << show.out;

    EXPECT_EQ(0, Skiff({"pim", "occurrence", oid, "2024-03-25", "--delete"}).status);
    EXPECT_EQ(0, Skiff({"pim", "occurrence", oid, "2024-04-01", "Start=2024-04-02 11:00",
                        "Subject=Moved"})
                     .status);
    EXPECT_EQ("2024-03-21 10:00\t2024-03-21 10:30\t" + oid +
                  "\tJour fixe\n"
                  "2024-03-28 10:00\t2024-03-28 10:30\t" +
                  oid +
                  "\tJour fixe\n"
                  "2024-04-02 11:00\t2024-04-02 11:30\t" +
                  oid +
                  "\tMoved\tchanged\n"
                  "2024-04-04 10:00\t2024-04-04 10:30\t" +
                  oid +
                  "\tJour fixe\n"
                  "2024-04-08 10:00\t2024-04-08 10:30\t" +
                  oid + "\tJour fixe\n",
              Skiff({"pim", "occurrences", "2024-03-01", "2024-04-30"}).out);
    EXPECT_EQ(0, Skiff({"pim", "occurrence", oid, "2024-03-25", "--restore"}).status);
    std::string restored = Skiff({"pim", "occurrences", "2024-03-25", "2024-04-04"}).out;
    EXPECT_EQ(4, std::count(restored.begin(), restored.end(), '\n')) << restored;

    // Bad input: exit 2 with a message, nothing changed.
    CliRun notOne = Skiff({"pim", "occurrence", oid, "2024-03-26", "--delete"});
    EXPECT_EQ(2, notOne.status);
    EXPECT_EQ("no occurrence of item " + oid + " on 2024-03-26\n", notOne.err);
    CliRun none = Skiff({"pim", "set", oid, "--recurrence", "weekly;on=mon;until=2024-03-01"});
    EXPECT_EQ(2, none.status);
    EXPECT_EQ("the recurrence describes no occurrence: ends before its first occurrence\n",
              none.err);
    EXPECT_EQ(2, Skiff({"pim", "occurrence", oid, "2024-03-28"}).status);
    EXPECT_EQ(2, Skiff({"pim", "set", oid}).status);
    EXPECT_EQ(2, Skiff({"pim", "add", "tasks", "Subject=x", "--recurrence", "daily"}).status);

    // Made single: one occurrence left.
    EXPECT_EQ(0, Skiff({"pim", "set", oid, "--no-recurrence"}).status);
    EXPECT_EQ("2024-03-21 10:00\t2024-03-21 10:30\t" + oid + "\tJour fixe\n",
              Skiff({"pim", "occurrences", "2024-03-01", "2024-04-30"}).out);
    CliRun json = Skiff({"pim", "occurrences", "2024-03-21", "2024-03-21", "--json"});
    EXPECT_EQ("[{\"oid\":" + oid +
                  ",\"start\":\"2024-03-21 10:00\",\"end\":\"2024-03-21 10:30\","
                  "\"subject\":\"Jour fixe\",\"location\":\"\",\"changed\":false,"
                  "\"originalStart\":\"2024-03-21 10:00\"}]\n",
              json.out);
    EXPECT_EQ(2, Skiff({"pim", "occurrences", "2024-03-21", "2024-03-01"}).status);
}
