#include "common/formats/ical_map.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "common/formats/transfer.h"
#include "common/vcard/read_all_test_util.h"

namespace pimfmt {
namespace {

using Read = vcard::ReadResult<IcsComponent, EntryError>;

Read ReadAll(const std::string& text) {
    return vcard::ReadText<IcsReader, IcsComponent, EntryError>(text);
}

TEST(IcsReader, CutsComponentsWithTheirLinesAndReportsDamage) {
    Read r = ReadAll(
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nX-WR-CALNAME:Home\r\n"
        "BEGIN:VEVENT\r\nUID:1\r\nSUMMARY:a long\r\n  folded line\r\nBEGIN:VALARM\r\n"
        "TRIGGER:-PT5M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
        "BEGIN:VTODO\r\nUID:2\r\nEND:VEVENT\r\nEND:VTODO\r\n"
        "BEGIN:VEVENT\r\nUID:3\r\nEND:VEVENT\r\n"
        "END:VCALENDAR\r\n"
        "stray\r\n"
        "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:4\r\n");
    ASSERT_EQ(r.entries.size(), 2u);
    EXPECT_EQ(r.entries[0].kind, "VEVENT");
    EXPECT_EQ(r.entries[0].index, 1u);
    EXPECT_EQ(r.entries[0].lines, (std::vector<std::size_t>{4, 5, 6, 8, 9, 10, 11}));
    EXPECT_NE(r.entries[0].text.find("SUMMARY:a long folded line\r\n"), std::string::npos);
    EXPECT_EQ(r.entries[1].index, 3u);
    ASSERT_EQ(r.errors.size(), 3u);
    EXPECT_EQ(r.errors[0].entry, 2u);
    EXPECT_EQ(r.errors[0].line, 14u);
    EXPECT_EQ(r.errors[0].message, "END:VEVENT closes VTODO");
    EXPECT_EQ(r.errors[1].entry, 0u);
    EXPECT_EQ(r.errors[1].line, 20u);
    EXPECT_EQ(r.errors[2].entry, 4u);
    EXPECT_NE(r.errors[2].message.find("ends before END:VEVENT"), std::string::npos);
}

TEST(IcsReader, SomethingElseIsNoCalendar) {
    Read r = ReadAll("BEGIN:VCARD\r\nFN:x\r\nEND:VCARD\r\n");
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].message, "not iCalendar: no BEGIN:VCALENDAR");
    EXPECT_EQ(r.errors[0].line, 1u);
    Read empty = ReadAll("");
    ASSERT_EQ(empty.errors.size(), 1u);
}

ComponentOutcome Convert(const std::string& body, RecordKind kind, PimRecord& out,
                         std::string& overrideOf, EntryError& error, FileZones& zones) {
    Read r = ReadAll("BEGIN:VCALENDAR\r\n" + body + "END:VCALENDAR\r\n");
    EXPECT_EQ(r.entries.size(), 1u);
    if (r.entries.empty()) return ComponentOutcome::kError;
    return RecordFromComponent(r.entries[0], kind, zones, out, overrideOf, error);
}

TEST(RecordFromComponent, EventFieldsTimesAlarmAndBusyStatus) {
    FileZones zones;
    PimRecord r;
    std::string of;
    EntryError e;
    ASSERT_EQ(Convert("BEGIN:VEVENT\r\nUID:u1\r\nDTSTAMP:20240101T000000Z\r\n"
                      "DTSTART;TZID=America/New_York:20240310T013000\r\nDURATION:PT2H\r\n"
                      "SUMMARY:Night\\, shift\r\nLOCATION:Dock 3\r\nCATEGORIES:A,B\r\n"
                      "CATEGORIES:C\r\nCLASS:CONFIDENTIAL\r\nX-BUSY-STATUS:OOF\r\n"
                      "ATTENDEE:mailto:x@example.com\r\n"
                      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT1H30M\r\nEND:VALARM\r\n"
                      "END:VEVENT\r\n",
                      RecordKind::kAppointment, r, of, e, zones),
              ComponentOutcome::kRecord)
        << e.message;
    EXPECT_EQ(of, "");
    EXPECT_EQ(r.uid, "u1");
    EXPECT_EQ(r.Text("Subject"), "Night, shift");
    EXPECT_EQ(r.categories, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(r.numbers["Sensitivity"], 3);
    EXPECT_EQ(r.numbers["BusyStatus"], 3);
    EXPECT_EQ(r.numbers["ReminderMinutesBeforeStart"], 90);
    EXPECT_TRUE(r.flags["ReminderSet"]);
    EXPECT_EQ(r.times["Start"].form, TimeForm::kZoned);
    EXPECT_EQ(r.times["Start"].zone, "America/New_York");
    // The end is start + duration in wall-clock terms.
    EXPECT_EQ(r.times["End"].time, (CivilTime{2024, 3, 10, 3, 30, 0}));
    EXPECT_EQ(r.dropped, (std::vector<std::string>{"ATTENDEE"}));
}

TEST(RecordFromComponent, OverridesUnknownZonesAndKindsThatDoNotBelong) {
    FileZones zones;
    PimRecord r;
    std::string of;
    EntryError e;
    ASSERT_EQ(
        Convert("BEGIN:VEVENT\r\nUID:s\r\nRECURRENCE-ID;TZID=Mars/Olympus:20240403T093000\r\n"
                "DTSTART;TZID=Mars/Olympus:20240403T140000\r\nSUMMARY:moved\r\nEND:VEVENT\r\n",
                RecordKind::kAppointment, r, of, e, zones),
        ComponentOutcome::kRecord);
    EXPECT_EQ(of, "s");
    ASSERT_TRUE(r.recurrence);
    ASSERT_EQ(r.recurrence->overrides.size(), 1u);
    EXPECT_EQ(r.recurrence->overrides[0].recurrenceId.form, TimeForm::kFloating);
    EXPECT_EQ(r.recurrence->overrides[0].subject, "moved");
    EXPECT_EQ(r.dropped.size(), 1u);
    EXPECT_EQ(r.dropped[0], "TZID Mars/Olympus (unknown zone, read as floating time)");

    EXPECT_EQ(
        Convert("BEGIN:VTODO\r\nUID:t\r\nEND:VTODO\r\n", RecordKind::kAppointment, r, of, e, zones),
        ComponentOutcome::kIgnored);
    EXPECT_EQ(Convert("BEGIN:VEVENT\r\nUID:t\r\nSUMMARY:no start\r\nEND:VEVENT\r\n",
                      RecordKind::kAppointment, r, of, e, zones),
              ComponentOutcome::kError);
    EXPECT_EQ(e.message, "VEVENT without DTSTART");
    ASSERT_EQ(Convert("BEGIN:VEVENT\r\nUID:t\r\nDTSTART:20240101T100000Z\r\nSUMMARY:x\r\n"
                      "DTEND:garbage\r\nEND:VEVENT\r\n",
                      RecordKind::kAppointment, r, of, e, zones),
              ComponentOutcome::kError);
    EXPECT_EQ(e.line, 6u);  // BEGIN:VCALENDAR is line 1
}

TEST(RecordFromComponent, TaskPrioritiesStatusAndReminder) {
    FileZones zones;
    PimRecord r;
    std::string of;
    EntryError e;
    const struct {
        const char* priority;
        long importance;
    } cases[] = {{"1", 2}, {"4", 2}, {"5", 1}, {"0", 1}, {"6", 0}, {"9", 0}};
    for (const auto& c : cases) {
        ASSERT_EQ(Convert(std::string("BEGIN:VTODO\r\nUID:t\r\nPRIORITY:") + c.priority +
                              "\r\nEND:VTODO\r\n",
                          RecordKind::kTask, r, of, e, zones),
                  ComponentOutcome::kRecord);
        EXPECT_EQ(r.numbers["Importance"], c.importance) << c.priority;
    }
    ASSERT_EQ(Convert("BEGIN:VTODO\r\nUID:t\r\nDUE;VALUE=DATE:20240401\r\nPERCENT-COMPLETE:100\r\n"
                      "COMPLETED:20240330T101500Z\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
                      "TRIGGER;VALUE=DATE-TIME:20240331T070000Z\r\nEND:VALARM\r\nEND:VTODO\r\n",
                      RecordKind::kTask, r, of, e, zones),
              ComponentOutcome::kRecord);
    EXPECT_TRUE(r.flags["Complete"]);
    EXPECT_EQ(r.times["DueDate"].form, TimeForm::kDate);
    EXPECT_EQ(r.times["DateCompleted"].time, (CivilTime{2024, 3, 30, 10, 15, 0}));
    EXPECT_TRUE(r.flags["ReminderSet"]);
    EXPECT_EQ(r.times["ReminderTime"].time, (CivilTime{2024, 3, 31, 7, 0, 0}));
}

TEST(WriteComponent, EventWithSeriesByteForByte) {
    PimRecord r;
    r.kind = RecordKind::kAppointment;
    r.uid = "u";
    r.stamp.time = CivilTime{2024, 3, 1, 12, 0, 0};
    RecordTime s;
    s.time = CivilTime{2024, 3, 13, 9, 30, 0};
    s.form = TimeForm::kZoned;
    s.zone = "Europe/Berlin";
    RecordTime e = s;
    e.time.hour = 10;
    e.time.minute = 0;
    r.times["Start"] = s;
    r.times["End"] = e;
    r.SetText("Subject", "Stand-up; daily");
    r.numbers["BusyStatus"] = 1;
    r.flags["ReminderSet"] = true;
    r.numbers["ReminderMinutesBeforeStart"] = 10;
    RecordRecurrence rec;
    rec.rule = "FREQ=WEEKLY;COUNT=3;BYDAY=WE";
    RecordTime ex = s;
    ex.time.day = 20;
    rec.exdates.push_back(ex);
    RecordOverride o;
    o.recurrenceId = s;
    o.recurrenceId.time.day = 27;
    o.start = o.recurrenceId;
    o.start.time.hour = 14;
    o.start.time.minute = 0;
    o.end = o.start;
    o.end.time.hour = 15;
    o.reminderSet = false;
    rec.overrides.push_back(o);
    r.recurrence = rec;
    EXPECT_EQ(WriteComponent(r),
              "BEGIN:VEVENT\r\nUID:u\r\nDTSTAMP:20240301T120000Z\r\n"
              "DTSTART;TZID=Europe/Berlin:20240313T093000\r\n"
              "DTEND;TZID=Europe/Berlin:20240313T100000\r\n"
              "RRULE:FREQ=WEEKLY;COUNT=3;BYDAY=WE\r\n"
              "EXDATE;TZID=Europe/Berlin:20240320T093000\r\n"
              "SUMMARY:Stand-up\\; daily\r\nTRANSP:OPAQUE\r\nX-BUSY-STATUS:TENTATIVE\r\n"
              "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\nTRIGGER:-PT10M\r\n"
              "END:VALARM\r\nEND:VEVENT\r\n"
              "BEGIN:VEVENT\r\nUID:u\r\nDTSTAMP:20240301T120000Z\r\n"
              "RECURRENCE-ID;TZID=Europe/Berlin:20240327T093000\r\n"
              "DTSTART;TZID=Europe/Berlin:20240327T140000\r\n"
              "DTEND;TZID=Europe/Berlin:20240327T150000\r\n"
              "SUMMARY:Stand-up\\; daily\r\nTRANSP:OPAQUE\r\nX-BUSY-STATUS:TENTATIVE\r\n"
              "END:VEVENT\r\n");
    std::vector<std::string> used;
    ZonesOf(r, used);
    EXPECT_EQ(used, (std::vector<std::string>{"Europe/Berlin"}));
}

// CLASS and X-BUSY-STATUS are read in any case; other texts are public and busy.
TEST(RecordFromComponent, ClassAndBusyStatusTexts) {
    const struct {
        const char* cls;
        const char* busy;
        long sensitivity;
        long busyStatus;
    } cases[] = {
        {"X-PERSONAL", "FREE", 1, 0}, {"private", "tentative", 2, 1}, {"Confidential", "Oof", 3, 3},
        {"PUBLIC", "BUSY", 0, 2},     {"secret", "away", 0, 2},
    };
    for (const auto& c : cases) {
        FileZones zones;
        PimRecord r;
        std::string of;
        EntryError e;
        ASSERT_EQ(
            Convert(std::string("BEGIN:VEVENT\r\nUID:u\r\nDTSTART:20240310T013000Z\r\nCLASS:") +
                        c.cls + "\r\nX-BUSY-STATUS:" + c.busy + "\r\nEND:VEVENT\r\n",
                    RecordKind::kAppointment, r, of, e, zones),
            ComponentOutcome::kRecord)
            << e.message;
        EXPECT_EQ(r.numbers["Sensitivity"], c.sensitivity) << c.cls;
        EXPECT_EQ(r.numbers["BusyStatus"], c.busyStatus) << c.busy;
    }
}

// A written component reads back as the record it came from.
TEST(WriteComponent, ReadsBackAsTheSameRecord) {
    PimRecord t;
    t.kind = RecordKind::kTask;
    t.uid = "task";
    t.stamp.time = CivilTime{2024, 1, 2, 3, 4, 5};
    t.SetText("Subject", "Renew passport \xE2\x9C\x88");
    t.SetText("Body", "Forms:\n- photo\n- fee, 75 EUR");
    t.categories = {"Admin", "Travel"};
    RecordTime due;
    due.time = CivilTime{2024, 6, 1};
    due.form = TimeForm::kDate;
    t.times["DueDate"] = due;
    t.numbers["Importance"] = 2;
    t.numbers["Sensitivity"] = 1;
    t.flags["Complete"] = false;
    t.flags["ReminderSet"] = true;
    RecordTime remind;
    remind.time = CivilTime{2024, 5, 30, 8, 0, 0};
    t.times["ReminderTime"] = remind;
    std::string text = CalendarHeader() + WriteComponent(t) + CalendarFooter();
    std::istringstream in(text);
    struct Sink final : RecordSink {
        std::vector<PimRecord> got;
        bool Store(const PimRecord& r, const FileZones&, std::string&,
                   std::vector<std::string>&) override {
            got.push_back(r);
            return true;
        }
    } sink;
    ImportReport report;
    ImportStream(in, "t.ics", RecordKind::kTask, &sink, report, ImportOptions());
    ASSERT_EQ(sink.got.size(), 1u) << (report.errors.empty() ? "" : report.errors[0].text);
    EXPECT_EQ(sink.got[0], t);
}

TEST(ICalMap, EveryFieldOfBothStoresIsMappedOrHasAReason) {
    std::set<std::pair<int, std::string>> seen;
    for (std::size_t i = 0; i < ICalMapSize(); ++i) {
        const ICalMapEntry& row = kICalMap[i];
        EXPECT_TRUE(seen.insert({static_cast<int>(row.kind), row.field}).second) << row.field;
        if (row.property == nullptr || row.token < 0) {
            EXPECT_NE(row.note, nullptr) << row.field;
        }
    }
}

}  // namespace
}  // namespace pimfmt
