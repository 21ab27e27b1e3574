// Recurring appointments in the PIM store: kept with their item, refused when they
// describe no occurrence, added to store files of the earlier layout, expanded.
#include "platform/pocketoutlook/pim_recurrence.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "common/base/temp_home.h"
#include "platform/pocketoutlook/ole_date.h"
#include "platform/pocketoutlook/pim_recurrence_store.h"
#include "platform/pocketoutlook/pocket_outlook.h"

namespace {

double Date(int y, int mo, int d, int h = 0, int mi = 0) {
    double out = 0;
    EXPECT_TRUE(OleDateFromFields(y, mo, d, h, mi, 0, out));
    return out;
}

std::string Text(double date) {
    SYSTEMTIME t;
    if (!VariantTimeToSystemTime(date, &t)) return "?";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute);
    return buf;
}

// Weekly on Monday and Thursday from Monday 2024-03-04, 10:00-10:30, 6 times.
PimRecurrence MondaysAndThursdays() {
    PimRecurrence r;
    r.pattern.recurrenceType = olRecursWeekly;
    r.pattern.dayOfWeekMask = olMonday | olThursday;
    r.pattern.patternStartDate = Date(2024, 3, 4);
    r.pattern.end = PimRecurrenceEnd::kAfterCount;
    r.pattern.occurrences = 6;
    return r;
}

PimAppointmentFields Meeting() {
    PimAppointmentFields f;
    f.start = Date(2024, 3, 4, 10);
    f.end = Date(2024, 3, 4, 10, 30);
    f.subject = "Jour fixe";
    f.location = "Room 1";
    f.busyStatus = 2;
    return f;
}

std::string Describe(const std::vector<PimOccurrence>& occurrences) {
    std::string out;
    for (const PimOccurrence& o : occurrences) {
        out += Text(o.fields.start) + "-" + Text(o.fields.end).substr(11) + " " + o.fields.subject +
               "@" + o.fields.location + (o.changed ? " changed" : "") + "\n";
    }
    return out;
}

class PimRecurrenceStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(home_.Path().empty()); }
    void TearDown() override { app_.Logoff(); }
    std::unique_ptr<PimItem> NewAppointment() {
        auto item = app_.GetDefaultFolder(olFolderCalendar)->Items().Add();
        PimAppointmentFields f = Meeting();
        item->SetText("Subject", f.subject);
        item->SetText("Location", f.location);
        item->SetDate("Start", f.start);
        item->SetDate("End", f.end);
        item->SetLong("BusyStatus", f.busyStatus);
        return item;
    }
    TempHome home_{"pimrecur"};
    const std::filesystem::path dir_{home_.Path()};
    PocketOutlookApplication app_;
};

}  // namespace

TEST(PimRecurrence, PatternsAndRulesConvertBothWays) {
    PimRecurrencePattern nth;
    nth.recurrenceType = olRecursYearNth;
    nth.interval = 2;
    nth.dayOfWeekMask = olSaturday | olSunday;
    nth.instance = 5;
    nth.monthOfYear = 11;
    nth.patternStartDate = Date(2024, 11, 30);
    nth.end = PimRecurrenceEnd::kAfterCount;
    nth.occurrences = 4;
    recur::Rule rule = RuleOfPattern(nth);
    EXPECT_EQ(recur::Frequency::kYearNth, rule.frequency);
    EXPECT_EQ(2, rule.interval);
    EXPECT_EQ(0x41, rule.dayMask);
    EXPECT_EQ(5, rule.instance);
    EXPECT_EQ(11, rule.monthOfYear);
    EXPECT_EQ(recur::DayOf(2024, 11, 30), rule.startDay);
    EXPECT_EQ(recur::EndKind::kAfterCount, rule.end);
    EXPECT_EQ(4, rule.count);
    EXPECT_EQ(nth, PatternOfRule(rule));

    PimRecurrencePattern monthly;
    monthly.recurrenceType = olRecursMonthly;
    monthly.dayOfMonth = 31;
    monthly.patternStartDate = Date(2024, 1, 31);
    monthly.end = PimRecurrenceEnd::kByDate;
    monthly.patternEndDate = Date(2024, 6, 30);
    rule = RuleOfPattern(monthly);
    EXPECT_EQ(recur::EndKind::kByDate, rule.end);
    EXPECT_EQ(recur::DayOf(2024, 6, 30), rule.endDay);
    EXPECT_EQ(0, rule.count);
    EXPECT_EQ(monthly, PatternOfRule(rule));

    // A series without end keeps no count and no end date, whatever the rule held.
    rule.end = recur::EndKind::kNever;
    rule.count = 3;
    PimRecurrencePattern endless = PatternOfRule(rule);
    EXPECT_EQ(PimRecurrenceEnd::kNoEndDate, endless.end);
    EXPECT_EQ(0, endless.occurrences);
    EXPECT_EQ(0, endless.patternEndDate);
}

TEST(PimRecurrence, OccurrencesWithRemovedAndChangedOnes) {
    EXPECT_EQ(recur::DayOf(1899, 12, 30), DayOfOleDate(0));
    EXPECT_EQ(recur::DayOf(2024, 3, 4), DayOfOleDate(Date(2024, 3, 4, 23, 59)));
    EXPECT_EQ(Date(2024, 3, 4), OleDateOfDay(recur::DayOf(2024, 3, 4)));
    PimRecurrence r = MondaysAndThursdays();
    EXPECT_EQ(
        "2024-03-04 10:00-10:30 Jour fixe@Room 1\n"
        "2024-03-07 10:00-10:30 Jour fixe@Room 1\n"
        "2024-03-11 10:00-10:30 Jour fixe@Room 1\n"
        "2024-03-14 10:00-10:30 Jour fixe@Room 1\n"
        "2024-03-18 10:00-10:30 Jour fixe@Room 1\n"
        "2024-03-21 10:00-10:30 Jour fixe@Room 1\n",
        Describe(ExpandOccurrences(Meeting(), r, Date(2024, 1, 1), Date(2024, 12, 31))));

    PimException removed;
    removed.originalDate = Date(2024, 3, 7, 10);
    removed.deleted = true;
    PimException moved;  // to the Wednesday after, an hour longer, in another room
    moved.originalDate = Date(2024, 3, 14, 10);
    moved.start = Date(2024, 3, 13, 15);
    moved.end = Date(2024, 3, 13, 16, 30);
    moved.location = "Room 2";
    PimException renamed;  // only its subject: the series' times stay
    renamed.originalDate = Date(2024, 3, 21, 10);
    renamed.subject = "Review";
    r.exceptions = {renamed, removed, moved};
    ASSERT_FALSE(RecurrenceProblem(r));
    EXPECT_EQ(
        "2024-03-04 10:00-10:30 Jour fixe@Room 1\n"
        "2024-03-11 10:00-10:30 Jour fixe@Room 1\n"
        "2024-03-13 15:00-16:30 Jour fixe@Room 2 changed\n"
        "2024-03-18 10:00-10:30 Jour fixe@Room 1\n"
        "2024-03-21 10:00-10:30 Review@Room 1 changed\n",
        Describe(ExpandOccurrences(Meeting(), r, Date(2024, 1, 1), Date(2024, 12, 31))));
    // A changed occurrence counts by its new start: the 14th moved before the range.
    EXPECT_EQ("2024-03-18 10:00-10:30 Jour fixe@Room 1\n",
              Describe(ExpandOccurrences(Meeting(), r, Date(2024, 3, 14), Date(2024, 3, 20))));
    EXPECT_EQ("2024-03-13 15:00-16:30 Jour fixe@Room 2 changed\n",
              Describe(ExpandOccurrences(Meeting(), r, Date(2024, 3, 13), Date(2024, 3, 13, 15))));
    // An exception for a day the pattern does not name is kept but shows nothing.
    PimException stray;
    stray.originalDate = Date(2024, 3, 5, 10);
    stray.subject = "Stray";
    r.exceptions.push_back(stray);
    EXPECT_FALSE(RecurrenceProblem(r));
    EXPECT_EQ("", Describe(ExpandOccurrences(Meeting(), r, Date(2024, 3, 5), Date(2024, 3, 6))));
}

TEST(PimRecurrence, CompletingFillsTheEndAndTheCount) {
    PimRecurrence r = MondaysAndThursdays();
    r.pattern.patternStartDate = Date(2024, 3, 4, 17);  // a time is dropped
    CompleteRecurrence(r);
    EXPECT_EQ(Date(2024, 3, 4), r.pattern.patternStartDate);
    EXPECT_EQ(Date(2024, 3, 21), r.pattern.patternEndDate);
    r.pattern.end = PimRecurrenceEnd::kByDate;
    r.pattern.patternEndDate = Date(2024, 4, 1, 9);
    r.pattern.occurrences = 0;
    CompleteRecurrence(r);
    EXPECT_EQ(Date(2024, 4, 1), r.pattern.patternEndDate);
    EXPECT_EQ(9, r.pattern.occurrences);  // 4, 7, 11, 14, 18, 21, 25, 28 March and 1 April
    // Values that are set stay as they came (the desktop's own).
    r.pattern.occurrences = 10;
    CompleteRecurrence(r);
    EXPECT_EQ(10, r.pattern.occurrences);
    r.pattern.end = PimRecurrenceEnd::kAfterCount;
    r.pattern.patternEndDate = Date(2024, 3, 22);
    CompleteRecurrence(r);
    EXPECT_EQ(Date(2024, 3, 22), r.pattern.patternEndDate);
    r.pattern.end = PimRecurrenceEnd::kNoEndDate;
    CompleteRecurrence(r);
    EXPECT_EQ(0, r.pattern.occurrences);
    EXPECT_EQ(0, r.pattern.patternEndDate);
}

TEST(PimRecurrence, RecurrencesThatCannotBeStored) {
    auto problem = [](auto change) {
        PimRecurrence r = MondaysAndThursdays();
        change(r);
        EXPECT_TRUE(ExpandOccurrences(Meeting(), r, 0, Date(2100, 1, 1)).empty());
        return RecurrenceProblem(r).value_or("");
    };
    EXPECT_EQ("interval 0", problem([](PimRecurrence& r) { r.pattern.interval = 0; }));
    EXPECT_EQ("count 0", problem([](PimRecurrence& r) { r.pattern.occurrences = 0; }));
    EXPECT_EQ("no weekday", problem([](PimRecurrence& r) { r.pattern.dayOfWeekMask = 0; }));
    EXPECT_EQ("ends before its first occurrence", problem([](PimRecurrence& r) {
                  r.pattern.end = PimRecurrenceEnd::kByDate;
                  r.pattern.patternEndDate = Date(2024, 3, 3);
              }));
    EXPECT_EQ("unknown recurrence type",
              problem([](PimRecurrence& r) { r.pattern.recurrenceType = 4; }));
    EXPECT_EQ("no pattern start date",
              problem([](PimRecurrence& r) { r.pattern.patternStartDate = 1e12; }));
    EXPECT_EQ("two exceptions for the occurrence of 2024-03-07", problem([](PimRecurrence& r) {
                  PimException e;
                  e.originalDate = Date(2024, 3, 7, 10);
                  e.deleted = true;
                  r.exceptions = {e, e};
              }));
    EXPECT_EQ("the exception of 2024-03-07 ends before it starts", problem([](PimRecurrence& r) {
                  PimException e;
                  e.originalDate = Date(2024, 3, 7, 10);
                  e.start = Date(2024, 3, 7, 12);
                  e.end = Date(2024, 3, 7, 11);
                  r.exceptions = {e};
              }));
}

TEST_F(PimRecurrenceStoreTest, KeptWithTheItemAndRemovedWithIt) {
    ASSERT_TRUE(app_.Logon()) << app_.error();
    auto item = NewAppointment();
    EXPECT_EQ(nullptr, item->GetRecurrence());
    PimRecurrence r = MondaysAndThursdays();
    PimException moved;
    moved.originalDate = Date(2024, 3, 14, 10);
    moved.start = Date(2024, 3, 14, 11);
    moved.end = Date(2024, 3, 14, 11, 30);
    moved.subject = "";  // changed to no subject, not left alone
    moved.reminderSet = true;
    moved.reminderMinutesBeforeStart = 5;
    moved.busyStatus = 1;
    moved.allDayEvent = false;
    PimException removed;
    removed.originalDate = Date(2024, 3, 7, 10);
    removed.deleted = true;
    r.exceptions = {moved, removed};
    ASSERT_TRUE(item->SetRecurrence(r));
    EXPECT_TRUE(item->GetBool("IsRecurring"));
    ASSERT_TRUE(item->Save());
    long oid = item->Oid();

    PocketOutlookApplication other;
    ASSERT_TRUE(other.Logon());
    auto again = other.GetItemFromOid(oid);
    ASSERT_NE(nullptr, again->GetRecurrence());
    PimRecurrence expected = r;
    CompleteRecurrence(expected);
    AlignExceptions(expected, Meeting());  // the moved one's end is the series' length
    EXPECT_EQ(expected, *again->GetRecurrence());
    EXPECT_EQ(removed, again->GetRecurrence()->exceptions[0]);  // earliest first
    EXPECT_EQ(5U, again->Occurrences(Date(2024, 1, 1), Date(2024, 12, 31)).size());

    // Made single again, and deleted: nothing of the series stays in the file.
    again->ClearRecurrence();
    EXPECT_FALSE(again->GetBool("IsRecurring"));
    ASSERT_TRUE(again->Save());
    EXPECT_EQ(nullptr, app_.GetItemFromOid(oid)->GetRecurrence());
    ASSERT_TRUE(item->SetRecurrence(r));
    ASSERT_TRUE(item->Save());
    ASSERT_TRUE(app_.GetItemFromOid(oid)->Delete());
    other.Logoff();
    app_.Logoff();
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((dir_ / "PocketOutlook" / "pim.db").c_str(), &db));
    auto count = [db](const char* table) {
        sqlite3_stmt* s = nullptr;
        std::string sql = std::string("SELECT COUNT(*) FROM ") + table;
        sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
        int n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
        sqlite3_finalize(s);
        return n;
    };
    EXPECT_EQ(0, count("recurrence"));
    EXPECT_EQ(0, count("exceptions"));
    sqlite3_close(db);
}

// The store keeps its statements between calls: each call sees only its own item
// and leaves no statement running (which would hold a read lock on the file).
TEST_F(PimRecurrenceStoreTest, KeptStatementsServeEachItemAndHoldNoLock) {
    std::filesystem::create_directories(dir_);
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((dir_ / "raw.db").c_str(), &db));
    ASSERT_TRUE(CreateRecurrenceTables(db));
    auto running = [db] {
        int busy = 0;
        for (sqlite3_stmt* s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s))
            busy += sqlite3_stmt_busy(s) ? 1 : 0;
        return busy;
    };
    {
        PimRecurrenceStore store(db);
        PimRecurrence two = MondaysAndThursdays();
        PimException gone;
        gone.originalDate = Date(2024, 3, 7, 10);
        gone.deleted = true;
        PimException moved;
        moved.originalDate = Date(2024, 3, 11, 10);
        moved.subject = "moved";
        two.exceptions = {gone, moved};
        PimRecurrence none = MondaysAndThursdays();
        none.pattern.interval = 2;
        ASSERT_TRUE(store.Save(1, two));
        ASSERT_TRUE(store.Save(2, none));
        EXPECT_EQ(0, running());
        EXPECT_EQ(two, store.Load(1));
        EXPECT_EQ(0, running());
        EXPECT_EQ(none, store.Load(2));
        EXPECT_FALSE(store.Load(3).has_value());
        EXPECT_EQ(0, running());
        // Saved again with one exception fewer, and removed.
        two.exceptions = {moved};
        ASSERT_TRUE(store.Save(1, two));
        EXPECT_EQ(two, store.Load(1));
        ASSERT_TRUE(store.Save(2, std::nullopt));
        EXPECT_FALSE(store.Load(2).has_value());
        EXPECT_EQ(0, running());
    }
    EXPECT_EQ(nullptr, sqlite3_next_stmt(db, nullptr));  // all finalized with the store
    EXPECT_EQ(SQLITE_OK, sqlite3_close(db));
}

TEST_F(PimRecurrenceStoreTest, RefusedRecurrencesLeaveTheItemAsItWas) {
    ASSERT_TRUE(app_.Logon()) << app_.error();
    auto item = NewAppointment();
    ASSERT_TRUE(item->SetRecurrence(MondaysAndThursdays()));
    PimRecurrence bad = MondaysAndThursdays();
    bad.pattern.interval = 0;
    std::string why;
    EXPECT_FALSE(item->SetRecurrence(bad, &why));
    EXPECT_EQ("interval 0", why);
    ASSERT_NE(nullptr, item->GetRecurrence());
    EXPECT_EQ(1, item->GetRecurrence()->pattern.interval);
    auto task = app_.GetDefaultFolder(olFolderTasks)->Items().Add();
    EXPECT_FALSE(task->SetRecurrence(MondaysAndThursdays(), &why));
    EXPECT_EQ("only appointments recur", why);
    EXPECT_EQ(nullptr, task->GetRecurrence());
    EXPECT_TRUE(task->Occurrences(0, 1e6).empty());
    // A single appointment has its one occurrence.
    auto single = NewAppointment();
    EXPECT_EQ(1U, single->Occurrences(Date(2024, 3, 4), Date(2024, 3, 4, 10)).size());
    EXPECT_EQ(0U, single->Occurrences(Date(2024, 3, 5), Date(2024, 3, 6)).size());
}

TEST_F(PimRecurrenceStoreTest, StoreFilesOfTheEarlierLayoutAreUpgradedInPlace) {
    // A file as the store wrote it before appointments could recur.
    std::filesystem::create_directories(dir_ / "PocketOutlook");
    std::string path = (dir_ / "PocketOutlook" / "pim.db").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    ASSERT_EQ(
        SQLITE_OK,
        sqlite3_exec(db,
                     "CREATE TABLE items(oid INTEGER PRIMARY KEY AUTOINCREMENT, folder INTEGER"
                     " NOT NULL);"
                     "CREATE TABLE props(oid INTEGER NOT NULL, name TEXT NOT NULL, value,"
                     " PRIMARY KEY(oid, name)) WITHOUT ROWID;"
                     "INSERT INTO items(folder) VALUES(9);"
                     "INSERT INTO props VALUES(1, 'Subject', 'Old meeting');"
                     "INSERT INTO props VALUES(1, 'Start', 45355.4166666667);",
                     nullptr, nullptr, nullptr));
    sqlite3_close(db);

    ASSERT_TRUE(app_.Logon()) << app_.error();
    auto item = app_.GetItemFromOid(1);
    ASSERT_NE(nullptr, item);
    EXPECT_EQ("Old meeting", item->GetText("Subject"));
    EXPECT_EQ(nullptr, item->GetRecurrence());
    ASSERT_TRUE(item->SetRecurrence(MondaysAndThursdays()));
    ASSERT_TRUE(item->Save());
    app_.Logoff();
    ASSERT_TRUE(app_.Logon());
    ASSERT_NE(nullptr, app_.GetItemFromOid(1)->GetRecurrence());
    EXPECT_EQ("Old meeting", app_.GetItemFromOid(1)->GetText("Subject"));
}

TEST(PimRecurrence, ExceptionsAlignWithTheSeriesTimes) {
    PimRecurrence r = MondaysAndThursdays();
    PimException moved;  // 14 March moved from 10:00 to 11:00
    moved.originalDate = Date(2024, 3, 14, 10);
    moved.start = Date(2024, 3, 14, 11);
    moved.end = Date(2024, 3, 14, 11, 30);
    PimException longer;  // 18 March ends later
    longer.originalDate = Date(2024, 3, 18, 10);
    longer.end = Date(2024, 3, 18, 12, 30);
    r.exceptions = {moved, longer};
    // The whole series moved to 11:00: the moved one now starts at the series' time,
    // which is no time of its own any more; the other keeps its own end.
    PimAppointmentFields series = Meeting();
    series.start = Date(2024, 3, 4, 11);
    series.end = Date(2024, 3, 4, 11, 30);
    AlignExceptions(r, series);
    EXPECT_EQ(Date(2024, 3, 14, 11), r.exceptions[0].originalDate);
    EXPECT_FALSE(r.exceptions[0].start);
    EXPECT_FALSE(r.exceptions[0].end);
    EXPECT_EQ(Date(2024, 3, 18, 11), r.exceptions[1].originalDate);
    EXPECT_EQ(Date(2024, 3, 18, 12, 30), r.exceptions[1].end);
}
