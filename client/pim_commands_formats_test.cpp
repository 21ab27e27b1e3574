// skiff pim import and export: round trips per kind over a temporary PIM store.
#include "client/pim_commands_formats.h"

#include <gtest/gtest.h>
#include <libical/ical.h>
#include <stdlib.h>
#include <time.h>

#include <map>
#include <sstream>

#include "client/skiff_cli.h"
#include "client/skiff_cli_test_util.h"
#include "client/test_env.h"
#include "common/base/temp_home.h"
#include "common/formats/ical_map.h"
#include "common/formats/vcard_map.h"

namespace {

class PimFormatsTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text) {
        std::string path = (env_.Root() / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string Export(const std::string& folder, std::vector<std::string> flags = {}) {
        std::vector<std::string> args{"pim", "export", folder};
        args.insert(args.end(), flags.begin(), flags.end());
        CliRun r = Skiff(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    ScopedZone zone_{"Europe/Berlin"};
    TempEnv env_;
};

// What the system's python3 prints for script run over file.
std::string Python(const std::string& script, const std::string& file) {
    FILE* p = ::popen(("/usr/bin/python3 " + script + " " + file + " 2>&1").c_str(), "r");
    if (p == nullptr) return "python3 did not start";
    std::string output;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) output += buf;
    if (::pclose(p) != 0) output += "(failed)";
    return output;
}

bool Has(const std::string& text, const std::string& line) {
    return text.find(line + "\r\n") != std::string::npos;
}

// Each of lines stands in text as a line of its own; a failure names the line missing.
void ExpectLines(const std::string& text, std::initializer_list<const char*> lines) {
    for (const char* line : lines) EXPECT_TRUE(Has(text, line)) << line << " missing in\n" << text;
}

const char kCards[] =
    "BEGIN:VCARD\r\nVERSION:2.1\r\n"
    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen;;;Jr.\r\n"
    "TEL;CELL:+49 170 1\r\nTEL;WORK;VOICE:+49 30 2\r\nTEL;X-RADIO:+49 30 3\r\n"
    "EMAIL;INTERNET:j@example.de\r\nBDAY:19800401\r\n"
    "X-PHONETIC-FIRST-NAME:Yuergen\r\nCATEGORIES:Family,Work\r\n"
    "ADR;WORK:;;Am Markt 1;Bremen;;28195;Deutschland\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Sato;Kenji;;;\r\nFN:Kenji Sato\r\n"
    "NOTE:Two\\nlines\r\nEND:VCARD\r\n";

TEST_F(PimFormatsTest, ContactsRoundTripWithTheHandheldsOwnFields) {
    CliRun in = Skiff({"pim", "import", "contacts", Write("c.vcf", kCards)});
    ASSERT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(in.out, "imported 2, skipped 0, warnings 0\n");
    std::string v4 = Export("contacts");
    ExpectLines(v4, {"N:M\xC3\xBCller;J\xC3\xBCrgen;;;Jr.", "TEL;TYPE=x-radio:+49 30 3",
                     "X-PHONETIC-FIRST-NAME:Yuergen", "BDAY:19800401", "CATEGORIES:Family,Work",
                     "ADR;TYPE=work:;;Am Markt 1;Bremen;;28195;Deutschland", "NOTE:Two\\nlines"});
    // The stored fields as the handheld's own commands show them.
    CliRun list = Skiff({"pim", "list", "contacts"});
    EXPECT_NE(list.out.find("M\xC3\xBCller, J\xC3\xBCrgen"), std::string::npos);
    // python3-vobject reads both versions as written.
    std::string script = Write("check.py", R"(
import sys, vobject
for name in sys.argv[1:]:
    cards = list(vobject.readComponents(open(name, encoding='utf-8').read()))
    assert [c.n.value.family for c in cards] == ['Müller', 'Sato'], name
    j = cards[0]
    assert sorted(t.value for t in j.contents['tel']) == ['+49 170 1', '+49 30 2', '+49 30 3'], name
    assert j.adr.value.city == 'Bremen' and j.email.value == 'j@example.de', name
    assert cards[1].note.value == 'Two\nlines', name
print('ok')
)");
    EXPECT_EQ(Python(script,
                     Write("v4.vcf", v4) + " " + Write("v3.vcf", Export("contacts", {"--vcard3"}))),
              "ok\n");

    // Into an empty store and out again: the same bytes.
    TempEnv second;
    ::setenv("TZ", "Europe/Berlin", 1);
    std::string path = (second.Root() / "again.vcf").string();
    std::ofstream(path, std::ios::binary) << v4;
    ASSERT_EQ(Skiff({"pim", "import", "contacts", path}).status, 0);
    EXPECT_EQ(Export("contacts"), v4);
    EXPECT_TRUE(Has(Export("contacts", {"--vcard3"}), "VERSION:3.0"));
}

TEST_F(PimFormatsTest, TasksAndAppointmentsRoundTrip) {
    const std::string tasks =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:t\r\nDUE;VALUE=DATE:20240401\r\n"
        "SUMMARY:Pay\r\nPRIORITY:1\r\nSTATUS:COMPLETED\r\nCOMPLETED:20240330T100000Z\r\n"
        "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;VALUE=DATE-TIME:20240331T070000Z\r\nEND:"
        "VALARM\r\n"
        "END:VTODO\r\nEND:VCALENDAR\r\n";
    ASSERT_EQ(Skiff({"pim", "import", "tasks", Write("t.ics", tasks)}).status, 0);
    std::string t = Export("tasks");
    ExpectLines(t, {"DUE;VALUE=DATE:20240401", "COMPLETED:20240330T100000Z", "PRIORITY:1",
                    "STATUS:COMPLETED", "TRIGGER;VALUE=DATE-TIME:20240331T070000Z"});

    const std::string cal =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e\r\n"
        "DTSTART;TZID=America/New_York:20240320T090000\r\nDTEND;TZID=America/"
        "New_York:20240320T100000\r\n"
        "SUMMARY:Call\r\nLOCATION:Phone\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT5M\r\n"
        "END:VALARM\r\nEND:VEVENT\r\n"
        "BEGIN:VEVENT\r\nUID:d\r\nDTSTART;VALUE=DATE:20240501\r\nDTEND;VALUE=DATE:20240502\r\n"
        "SUMMARY:Holiday\r\nTRANSP:TRANSPARENT\r\nEND:VEVENT\r\n"
        "BEGIN:VEVENT\r\nUID:s\r\nDTSTART:20240301T080000Z\r\nDTEND:20240301T090000Z\r\n"
        "RRULE:FREQ=DAILY;COUNT=3\r\nSUMMARY:Series\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    CliRun in = Skiff({"--json", "pim", "import", "calendar", Write("c.ics", cal)});
    EXPECT_EQ(in.status, 0);
    EXPECT_EQ(in.err, "");
    std::string c = Export("calendar");
    // New York 09:00 is 14:00 in Berlin (before Europe's change to summer time).
    ExpectLines(c, {"DTSTART;TZID=Europe/Berlin:20240320T140000", "TZID:Europe/Berlin",
                    "TRIGGER:-PT5M", "DTSTART;VALUE=DATE:20240501", "TRANSP:TRANSPARENT",
                    "DTSTART;TZID=Europe/Berlin:20240301T090000", "RRULE:FREQ=DAILY;COUNT=3"});

    TempEnv second;
    ::setenv("TZ", "Europe/Berlin", 1);
    std::string path = (second.Root() / "again.ics").string();
    std::ofstream(path, std::ios::binary) << c;
    ASSERT_EQ(Skiff({"pim", "import", "calendar", path}).status, 0);
    EXPECT_EQ(Export("calendar"), c);
}

TEST_F(PimFormatsTest, BadInputAndUsage) {
    CliRun r = Skiff({"pim", "import", "contacts",
                      Write("b.vcf",
                            "BEGIN:VCARD\r\nFN:ok\r\nEND:VCARD\r\nBEGIN:VCARD\r\nbad line\r\n"
                            "END:VCARD\r\n")});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("b.vcf:5: entry 2:"), std::string::npos) << r.err;
    EXPECT_EQ(Skiff({"pim", "import", "notes", "x"}).status, 2);
    EXPECT_EQ(Skiff({"--json", "pim", "export", "contacts"}).status, 2);
    CliRun strict = Skiff({"pim", "import", "tasks", "--strict",
                           Write("s.ics",
                                 "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:1\r\nSUMMARY:a\r\n"
                                 "END:VTODO\r\nBEGIN:VTODO\r\nDUE:garbage\r\nEND:VTODO\r\n"
                                 "END:VCALENDAR\r\n")});
    EXPECT_EQ(strict.status, 3);
    EXPECT_EQ(Skiff({"pim", "list", "tasks"}).out, "");
}

// A series over the change to summer time with a removed and a moved occurrence,
// a rule the pattern cannot hold and added dates.
const char kSeries[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:w\r\n"
    "DTSTART;TZID=Europe/Berlin:20240313T093000\r\nDTEND;TZID=Europe/Berlin:20240313T100000\r\n"
    "RRULE:FREQ=WEEKLY;COUNT=8;BYDAY=WE\r\nEXDATE;TZID=Europe/Berlin:20240327T093000\r\n"
    "SUMMARY:Stand-up\r\nLOCATION:Room 4\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:w\r\nRECURRENCE-ID;TZID=Europe/Berlin:20240403T093000\r\n"
    "DTSTART;TZID=Europe/Berlin:20240403T140000\r\nDTEND;TZID=Europe/Berlin:20240403T143000\r\n"
    "SUMMARY:Stand-up (moved)\r\nLOCATION:Room 4\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:u\r\nDTSTART:20240301T080000Z\r\nDURATION:PT1H\r\n"
    "RRULE:FREQ=MONTHLY;BYMONTHDAY=31\r\nSUMMARY:Month end\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:r\r\nDTSTART;TZID=Europe/Berlin:20240102T080000\r\n"
    "DTEND;TZID=Europe/Berlin:20240102T090000\r\nRRULE:FREQ=DAILY;UNTIL=20240104T060000Z\r\n"
    "RDATE;TZID=Europe/Berlin:20240110T080000\r\nSUMMARY:Added\r\nEND:VEVENT\r\n"
    "END:VCALENDAR\r\n";

TEST_F(PimFormatsTest, SeriesGoInAndOutWithTheirExceptions) {
    CliRun in = Skiff({"pim", "import", "calendar", Write("s.ics", kSeries)});
    EXPECT_EQ(in.status, 0) << in.err;
    EXPECT_NE(in.err.find("RRULE FREQ=MONTHLY;BYMONTHDAY=31 (month days other than one day 1-28; "
                          "the first occurrence is kept)"),
              std::string::npos)
        << in.err;
    EXPECT_NE(in.err.find("RDATE (the pattern holds no added dates)"), std::string::npos);

    CliRun list = Skiff({"pim", "occurrences", "2024-01-01", "2024-12-31"});
    std::vector<std::string> standUp;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("Stand-up") != std::string::npos) standUp.push_back(line.substr(0, 16));
    // Wednesdays at 09:30 on both sides of 31 March, the 27th removed, 3 April moved.
    EXPECT_EQ(standUp,
              (std::vector<std::string>{"2024-03-13 09:30", "2024-03-20 09:30", "2024-04-03 14:00",
                                        "2024-04-10 09:30", "2024-04-17 09:30", "2024-04-24 09:30",
                                        "2024-05-01 09:30"}));
    // The UNTIL (07:00 in Berlin) comes before the 08:00 of its day.
    EXPECT_NE(list.out.find("2024-01-03 08:00"), std::string::npos);
    EXPECT_EQ(list.out.find("2024-01-04 08:00"), std::string::npos);
    EXPECT_EQ(list.out.find("2024-04-01 "), std::string::npos);  // the 31st is no month end

    std::string c = Export("calendar");
    ExpectLines(
        c, {"RRULE:FREQ=WEEKLY;COUNT=8;BYDAY=WE", "EXDATE;TZID=Europe/Berlin:20240327T093000",
            "RECURRENCE-ID;TZID=Europe/Berlin:20240403T093000", "SUMMARY:Stand-up (moved)",
            "DTEND;TZID=Europe/Berlin:20240403T143000", "RRULE:FREQ=DAILY;UNTIL=20240103T070000Z"});

    // python3-icalendar reads the series as written.
    std::string script = Write("check.py", R"(
import sys, icalendar
events = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read()).walk('VEVENT')
series = [e for e in events if str(e['summary']) == 'Stand-up'][0]
assert series['rrule']['COUNT'] == [8] and series['rrule']['BYDAY'] == ['WE'], series['rrule']
assert str(series['exdate'].dts[0].dt) == '2024-03-27 09:30:00+01:00'
moved = [e for e in events if 'recurrence-id' in e][0]
assert str(moved['recurrence-id'].dt) == '2024-04-03 09:30:00+02:00'
assert str(moved['dtstart'].dt) == '2024-04-03 14:00:00+02:00'
print('ok')
)");
    EXPECT_EQ(Python(script, Write("out.ics", c)), "ok\n");

    // What went out comes in as the same series.
    TempEnv second;
    std::string path = (second.Root() / "again.ics").string();
    std::ofstream(path, std::ios::binary) << c;
    CliRun again = Skiff({"pim", "import", "calendar", path});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(Export("calendar"), c);
}

// The occurrences the handheld lists for an imported series are those libical
// computes for the rule.
TEST_F(PimFormatsTest, ImportedSeriesExpandAsLibicalExpandsTheRule) {
    const char* const rules[] = {
        "FREQ=WEEKLY;COUNT=10;BYDAY=MO,TH",
        "FREQ=DAILY;INTERVAL=3;COUNT=12",
        "FREQ=MONTHLY;COUNT=6;BYDAY=-1FR",
        "FREQ=MONTHLY;INTERVAL=2;COUNT=5;BYMONTHDAY=15",
        "FREQ=YEARLY;COUNT=4;BYMONTH=3;BYDAY=2SU",
        "FREQ=WEEKLY;INTERVAL=2;UNTIL=20240601T000000Z;BYDAY=TU",
        "FREQ=DAILY;COUNT=15;BYDAY=MO,TU,WE,TH,FR",
        "FREQ=YEARLY;INTERVAL=2;COUNT=3",
        "FREQ=MONTHLY;COUNT=7;BYDAY=SA,SU;BYSETPOS=3",
        "FREQ=WEEKLY;INTERVAL=3;COUNT=9;BYDAY=SU,SA",
    };
    const char* const starts[] = {"20240314T183000", "20241020T080000", "20240126T120000",
                                  "20240115T090000", "20240310T100000", "20240319T070000",
                                  "20240325T090000", "20240315T090000", "20240113T100000",
                                  "20240302T071500"};
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n";
    for (std::size_t k = 0; k < std::size(rules); ++k)
        text += "BEGIN:VEVENT\r\nUID:case-" + std::to_string(k) +
                "\r\nDTSTART;TZID=Europe/Berlin:" + starts[k] +
                "\r\nDURATION:PT1H\r\nRRULE:" + rules[k] + "\r\nSUMMARY:case-" + std::to_string(k) +
                "\r\nEND:VEVENT\r\n";
    text += "END:VCALENDAR\r\n";
    CliRun in = Skiff({"pim", "import", "calendar", Write("rules.ics", text)});
    ASSERT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(in.err, "");

    std::map<std::string, std::vector<std::string>> listed;
    std::istringstream lines(Skiff({"pim", "occurrences", "2024-01-01", "2031-12-31"}).out);
    for (std::string line; std::getline(lines, line);)
        listed[line.substr(line.rfind('\t') + 1)].push_back(line.substr(0, 16));
    for (std::size_t k = 0; k < std::size(rules); ++k) {
        std::vector<std::string> expected;
        icalrecurrencetype rule = icalrecurrencetype_from_string(rules[k]);
        icaltimetype start = icaltime_from_string(starts[k]);
        start = icaltime_set_timezone(&start, icaltimezone_get_builtin_timezone("Europe/Berlin"));
        icalrecur_iterator* it = icalrecur_iterator_new(rule, start);
        for (icaltimetype t = icalrecur_iterator_next(it);
             !icaltime_is_null_time(t) && expected.size() < 50; t = icalrecur_iterator_next(it)) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day,
                          t.hour, t.minute);
            expected.push_back(buf);
        }
        icalrecur_iterator_free(it);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(listed["case-" + std::to_string(k)], expected) << rules[k];
    }
}

TEST(PimFormatTables, NameEveryPropertyOfTheHandheld) {
    for (int folder : {olFolderContacts, olFolderTasks, olFolderCalendar}) {
        for (const PimPropertyDef& def : PimProperties(folder)) {
            bool found = false;
            if (folder == olFolderContacts) {
                for (std::size_t i = 0; i < pimfmt::VCardMapSize(); ++i) {
                    const pimfmt::VCardMapEntry& f = pimfmt::kVCardMap[i];
                    if (std::string(f.field) != def.name) continue;
                    found = f.handheld && (f.property != nullptr || f.note != nullptr);
                }
            } else {
                auto kind = folder == olFolderTasks ? pimfmt::RecordKind::kTask
                                                    : pimfmt::RecordKind::kAppointment;
                for (std::size_t i = 0; i < pimfmt::ICalMapSize(); ++i) {
                    const pimfmt::ICalMapEntry& f = pimfmt::kICalMap[i];
                    if (f.kind != kind || std::string(f.field) != def.name) continue;
                    found = f.handheld && (f.property != nullptr || f.note != nullptr);
                }
            }
            EXPECT_TRUE(found) << PimFolderName(folder) << " " << def.name;
        }
    }
}

}  // namespace
