// corvel-store import and export, in process, over a temporary store: round trips
// per kind, byte-stable re-export, bad input, independent parsers, and a series'
// occurrences against libical's.
#include <gtest/gtest.h>
#include <libical/ical.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <sstream>

#include "common/base/temp_home.h"
#include "server/formats/desktop_records.h"
#include "server/formats/rule_pattern.h"
#include "server/itemconv/recurrence_message.h"
#include "tools/store_tool.h"
#include "tools/table_rows.h"
#include "tools/tool_context.h"

namespace {

// An address book export: 3.0 with a folded photo, several typed phones and mails,
// structured addresses, non-ASCII names; a 2.1 phone card; a 4.0 card.
const char kAddressBook[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Sample//Book//EN\r\nN:Ng;Zo\xC3\xAB;;;\r\n"
    "FN:Zo\xC3\xAB Ng\r\nORG:Acme Ltd.;R&D\r\nTITLE:Engineer\r\n"
    "EMAIL;TYPE=INTERNET;TYPE=WORK:zoe@acme.example\r\n"
    "EMAIL;TYPE=INTERNET;TYPE=HOME;TYPE=pref:zoe@home.example\r\n"
    "TEL;TYPE=WORK,VOICE:+44 20 7946 0001\r\nTEL;TYPE=CELL:+44 7700 900001\r\n"
    "TEL;TYPE=HOME,FAX:+44 20 7946 0002\r\n"
    "ADR;TYPE=WORK:;;1 High St;London;;EC1A 1AA;United Kingdom\r\n"
    "ADR;TYPE=HOME:;Flat 2;22 Low Rd;Leeds;;LS1 1AA;United Kingdom\r\n"
    "NOTE:Prefers e-mail\\, not calls.\\nSecond line.\r\n"
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAAgGBgcGBQgHBwcJCQgK\r\n"
    " DBQNDAsLDBkSEw8UHRofHh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4zNDL/2wBDAQkJ\r\n"
    "BDAY:1985-07-14\r\nCATEGORIES:Friends,Work\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:2.1\r\n"
    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=85kesson;Bj=C3=B6rn;;;\r\n"
    "TEL;CELL;PREF:+46 70 123 45 67\r\nTEL;HOME:+46 8 123 456\r\n"
    "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Storgatan 1;G=C3=B6teborg;;411 01;Sver=\r\n"
    "ige\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Kenji Sato\r\nN:Sato;Kenji;;;\r\n"
    "TEL;VALUE=uri;TYPE=\"voice,work\":tel:+81-3-1234-5678\r\n"
    "EMAIL;TYPE=work;PREF=1:kenji@example.jp\r\nANNIVERSARY:20100501\r\nEND:VCARD\r\n";

// A calendar export: a weekly series over the change to summer time with a deleted
// and a moved occurrence, an all-day event, a floating-time event, a daily series in
// New York.
const char kCalendar[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Sample//Cal//EN\r\n"
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\n"
    "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
    "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:19700329T020000\r\nTZOFFSETFROM:+0100\r\n"
    "TZOFFSETTO:+0200\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\n"
    "END:VTIMEZONE\r\n"
    "BEGIN:VEVENT\r\nUID:series-1@example\r\nDTSTAMP:20240301T120000Z\r\n"
    "DTSTART;TZID=Europe/Berlin:20240313T093000\r\nDTEND;TZID=Europe/Berlin:20240313T100000\r\n"
    "RRULE:FREQ=WEEKLY;COUNT=8;BYDAY=WE\r\n"
    "EXDATE;TZID=Europe/Berlin:20240327T093000\r\n"
    "SUMMARY:Stand-up \xE2\x80\x93 team\r\nLOCATION:Room 4\r\n"
    "DESCRIPTION:Weekly\\, short.\r\nCATEGORIES:Work\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:x\r\nTRIGGER:-PT10M\r\nEND:VALARM\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:series-1@example\r\nDTSTAMP:20240301T120000Z\r\n"
    "RECURRENCE-ID;TZID=Europe/Berlin:20240403T093000\r\n"
    "DTSTART;TZID=Europe/Berlin:20240403T140000\r\nDTEND;TZID=Europe/Berlin:20240403T143000\r\n"
    "SUMMARY:Stand-up (moved)\r\nLOCATION:Room 4\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:holiday-1@example\r\nDTSTAMP:20240301T120000Z\r\n"
    "DTSTART;VALUE=DATE:20240501\r\nDTEND;VALUE=DATE:20240502\r\nSUMMARY:Labour Day\r\n"
    "TRANSP:TRANSPARENT\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:ny-1@example\r\nDTSTAMP:20240301T120000Z\r\n"
    "DTSTART;TZID=America/New_York:20240308T080000\r\n"
    "DTEND;TZID=America/New_York:20240308T083000\r\n"
    "RRULE:FREQ=DAILY;INTERVAL=2;UNTIL=20240320T120000Z\r\nSUMMARY:Call NY\r\n"
    "CLASS:PRIVATE\r\nEND:VEVENT\r\n"
    "END:VCALENDAR\r\n";

const char kTasks[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:task-1\r\nDTSTAMP:20240301T120000Z\r\n"
    "DTSTART;VALUE=DATE:20240325\r\nDUE;VALUE=DATE:20240401\r\nSUMMARY:File the "
    "r\xC3\xA9sum\xC3\xA9\r\n"
    "PRIORITY:2\r\nSTATUS:NEEDS-ACTION\r\nCATEGORIES:Home\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;VALUE=DATE-TIME:20240331T070000Z\r\nEND:VALARM\r\n"
    "END:VTODO\r\nBEGIN:VTODO\r\nUID:task-2\r\nDTSTAMP:20240301T120000Z\r\nSUMMARY:Done one\r\n"
    "PRIORITY:9\r\nSTATUS:COMPLETED\r\nPERCENT-COMPLETE:100\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";

struct ToolRun {
    int code;
    std::string out, err;
};

class FormatCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(home_.empty());
        ASSERT_EQ(Tool({"profile", "create", "Default"}).code, 0);
    }
    ToolRun Tool(std::vector<std::string> args) {
        std::vector<char*> argv{const_cast<char*>("corvel-store")};
        for (std::string& a : args) argv.push_back(a.data());
        std::ostringstream out, err;
        int code = RunStoreTool(static_cast<int>(argv.size()), argv.data(), out, err);
        return {code, out.str(), err.str()};
    }
    std::string Write(const std::string& name, const std::string& text) {
        std::string path = home_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Import text into a new folder of the class and export it again.
    std::string RoundTrip(const std::string& folder, const std::string& cls,
                          const std::string& text, const std::string& ext,
                          std::vector<std::string> exportFlags = {}) {
        EXPECT_EQ(Tool({"folder", "create", folder, "--class", cls}).code, 0);
        ToolRun in = Tool({"import", folder, Write(folder + "-in" + ext, text)});
        EXPECT_EQ(in.code, 0) << in.err;
        std::vector<std::string> args{"export", folder, home_ + "/" + folder + ext};
        args.insert(args.end(), exportFlags.begin(), exportFlags.end());
        EXPECT_EQ(Tool(args).code, 0);
        return Read(home_ + "/" + folder + ext);
    }
    void ExpectStable(const std::string& first, const std::string& cls, const std::string& ext,
                      std::vector<std::string> flags = {}) {
        std::string again = RoundTrip("Again" + std::to_string(++n_), cls, first, ext, flags);
        EXPECT_EQ(again, first);
    }
    ScopedZone zone_{"Europe/Berlin"};
    TempHome temp_{"formats"};
    const std::string home_{temp_.Path()};
    int n_ = 0;
};

bool Has(const std::string& text, const std::string& line) {
    return text.find(line + "\r\n") != std::string::npos;
}

// Each of lines is a whole line of text.
void ExpectLines(const std::string& text, std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) EXPECT_TRUE(Has(text, line)) << line;
}

TEST_F(FormatCommandsTest, ContactsRoundTripPropertyByPropertyAndByteStable) {
    std::string v4 = RoundTrip("Book", "IPF.Contact", kAddressBook, ".vcf");
    ExpectLines(v4,
                {"FN:Zo\xC3\xAB Ng", "N:Ng;Zo\xC3\xAB;;;", "ORG:Acme Ltd.;R&D", "TITLE:Engineer"});
    // The preferred address first.
    EXPECT_NE(v4.find("EMAIL:zoe@home.example\r\nEMAIL:zoe@acme.example\r\n"), std::string::npos);
    ExpectLines(v4, {"TEL;TYPE=work,voice:+44 20 7946 0001", "TEL;TYPE=cell:+44 7700 900001",
                     "TEL;TYPE=home,fax:+44 20 7946 0002",
                     "ADR;TYPE=home:;;Flat 2\\n22 Low Rd;Leeds;;LS1 1AA;United Kingdom",
                     "ADR;TYPE=work:;;1 High St;London;;EC1A 1AA;United Kingdom",
                     "NOTE:Prefers e-mail\\, not calls.\\nSecond line.", "BDAY:19850714",
                     "CATEGORIES:Friends,Work", "N:\xC3\x85kesson;Bj\xC3\xB6rn;;;",
                     "ADR;TYPE=home:;;Storgatan 1;G\xC3\xB6teborg;;411 01;Sverige",
                     "TEL;TYPE=work,voice:+81-3-1234-5678", "ANNIVERSARY:20100501"});
    EXPECT_EQ(v4.find("PHOTO"), std::string::npos);
    ExpectStable(v4, "IPF.Contact", ".vcf");

    std::string v3 = RoundTrip("Book3", "IPF.Contact", kAddressBook, ".vcf", {"--vcard3"});
    ExpectLines(v3, {"VERSION:3.0", "BDAY:1985-07-14", "X-ANNIVERSARY:2010-05-01"});
    ExpectStable(v3, "IPF.Contact", ".vcf", {"--vcard3"});
}

TEST_F(FormatCommandsTest, CalendarRoundTripsSeriesOverridesAllDayAndZones) {
    std::string ics = RoundTrip("Cal", "IPF.Appointment", kCalendar, ".ics");
    ExpectLines(ics,
                {"TZID:Europe/Berlin", "TZID:America/New_York",
                 "DTSTART;TZID=Europe/Berlin:20240313T093000", "RRULE:FREQ=WEEKLY;COUNT=8;BYDAY=WE",
                 "EXDATE;TZID=Europe/Berlin:20240327T093000",
                 "RECURRENCE-ID;TZID=Europe/Berlin:20240403T093000",
                 "DTSTART;TZID=Europe/Berlin:20240403T140000", "SUMMARY:Stand-up (moved)",
                 "TRIGGER:-PT10M", "DTSTART;VALUE=DATE:20240501", "DTEND;VALUE=DATE:20240502",
                 "TRANSP:TRANSPARENT", "DTSTART;TZID=America/New_York:20240308T080000",
                 "RRULE:FREQ=DAILY;UNTIL=20240320T120000Z;INTERVAL=2", "CLASS:PRIVATE",
                 "UID:series-1@example", "DTSTAMP:20240301T120000Z"});
    ExpectStable(ics, "IPF.Appointment", ".ics");
}

TEST_F(FormatCommandsTest, TasksRoundTripDueDatesPrioritiesAndState) {
    std::string ics = RoundTrip("Todo", "IPF.Task", kTasks, ".ics");
    ExpectLines(ics, {"DUE;VALUE=DATE:20240401", "DTSTART;VALUE=DATE:20240325", "PRIORITY:1",
                      "PRIORITY:9", "STATUS:COMPLETED", "SUMMARY:File the r\xC3\xA9sum\xC3\xA9",
                      "TRIGGER;VALUE=DATE-TIME:20240331T070000Z"});
    ExpectStable(ics, "IPF.Task", ".ics");
}

TEST_F(FormatCommandsTest, BadEntriesAreSkippedWithTheirLinesAndStrictImportsNothing) {
    const std::string bad = std::string(kAddressBook) +
                            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Broken\r\nPHOTO;ENCODING=b:!!\r\n"
                            "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cut off\r\n";
    std::string file = Write("bad.vcf", bad);
    ToolRun r = Tool({"--json", "import", "Contacts", file});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("bad.vcf:40: entry 4: PHOTO: the base64 value cannot be read"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("entry 5: the entry ends before END:VCARD"), std::string::npos);
    EXPECT_NE(r.out.find("\"imported\":3,\"skipped\":2"), std::string::npos) << r.out;

    Tool({"folder", "create", "Strict", "--class", "IPF.Contact"});
    ToolRun strict = Tool({"import", "Strict", file, "--strict"});
    EXPECT_EQ(strict.code, 3);
    ToolRun items = Tool({"items", "Strict"});
    EXPECT_EQ(items.out, "");

    // Standard input, read twice by a strict import (kept in a temporary file).
    {
        std::istringstream good(kAddressBook);
        std::streambuf* saved = std::cin.rdbuf(good.rdbuf());
        Tool({"folder", "create", "FromInput", "--class", "IPF.Contact"});
        ToolRun fromInput = Tool({"import", "FromInput", "-", "--strict"});
        std::cin.rdbuf(saved);
        EXPECT_EQ(fromInput.code, 0) << fromInput.err;
        EXPECT_EQ(fromInput.out, "imported 3, skipped 0, warnings 1\n");
        std::istringstream badInput(bad);
        saved = std::cin.rdbuf(badInput.rdbuf());
        ToolRun strictInput = Tool({"import", "Strict", "-", "--strict"});
        std::cin.rdbuf(saved);
        EXPECT_EQ(strictInput.code, 3);
        EXPECT_EQ(Tool({"items", "Strict"}).out, "");
    }

    // A calendar property libical rejects names its line.
    std::string cal = Write("bad.ics",
                            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:x\r\n"
                            "DTSTART:20240101T100000Z\r\nDTEND:not-a-date\r\nSUMMARY:x\r\n"
                            "END:VEVENT\r\nBEGIN:VEVENT\r\nUID:y\r\nDTSTART:20240102T100000Z\r\n"
                            "SUMMARY:fine\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    ToolRun c = Tool({"import", "Calendar", cal});
    EXPECT_EQ(c.code, 3);
    EXPECT_NE(c.err.find("bad.ics:6: entry 1:"), std::string::npos) << c.err;
    EXPECT_EQ(c.out, "imported 1, skipped 1, warnings 0\n");
    // Not a calendar at all.
    ToolRun none = Tool({"import", "Calendar", Write("x.ics", "hello\r\n")});
    EXPECT_EQ(none.code, 3);
    EXPECT_NE(none.err.find("not iCalendar"), std::string::npos);
}

TEST_F(FormatCommandsTest, IndependentParsersReadWhatWeWrite) {
    RoundTrip("B", "IPF.Contact", kAddressBook, ".vcf");
    RoundTrip("C", "IPF.Appointment", kCalendar, ".ics");
    RoundTrip("T", "IPF.Task", kTasks, ".ics");
    std::string script = Write("check.py", R"(
import sys, icalendar, vobject
cards = list(vobject.readComponents(open(sys.argv[1], encoding='utf-8').read()))
assert [c.fn.value for c in cards] == ['Zoë Ng', 'Björn Åkesson', 'Kenji Sato'], [c.fn.value for c in cards]
zoe = cards[0]
assert [t.value for t in zoe.contents['tel']] == ['+44 20 7946 0001', '+44 7700 900001', '+44 20 7946 0002']
assert zoe.n.value.family == 'Ng' and zoe.n.value.given == 'Zoë'
assert zoe.note.value == 'Prefers e-mail, not calls.\nSecond line.'
assert [a.value.city for a in zoe.contents['adr']] == ['Leeds', 'London']
cal = icalendar.Calendar.from_ical(open(sys.argv[2], 'rb').read())
events = cal.walk('VEVENT')
# Series are stored after the single events of their file.
assert [str(e['summary']) for e in events] == ['Labour Day', 'Stand-up – team', 'Stand-up (moved)', 'Call NY'], [str(e['summary']) for e in events]
s = events[1]
assert str(s['dtstart'].dt) == '2024-03-13 09:30:00+01:00', s['dtstart'].dt
assert s['rrule']['COUNT'] == [8] and s['rrule']['BYDAY'] == ['WE']
assert str(events[2]['recurrence-id'].dt) == '2024-04-03 09:30:00+02:00'
assert str(events[0]['dtstart'].dt) == '2024-05-01'
tasks = icalendar.Calendar.from_ical(open(sys.argv[3], 'rb').read()).walk('VTODO')
assert [str(t['summary']) for t in tasks] == ['File the résumé', 'Done one']
assert str(tasks[0]['due'].dt) == '2024-04-01' and int(tasks[0]['priority']) == 1
print('ok')
)");
    std::string cmd = "/usr/bin/python3 " + script + " " + home_ + "/B.vcf " + home_ + "/C.ics " +
                      home_ + "/T.ics 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string output;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) output += buf;
    EXPECT_EQ(::pclose(p), 0) << output;
    EXPECT_EQ(output, "ok\n");
}

// The series the store holds expands to the occurrences libical computes.
TEST_F(FormatCommandsTest, AStoredSeriesExpandsAsLibicalExpandsTheRule) {
    struct Case {
        const char* rule;
        const char* start;  // Europe/Berlin
    };
    const Case cases[] = {
        {"FREQ=WEEKLY;COUNT=10;BYDAY=MO,TH", "20240314T183000"},
        {"FREQ=DAILY;INTERVAL=3;COUNT=12", "20241020T080000"},
        {"FREQ=MONTHLY;COUNT=6;BYDAY=-1FR", "20240126T120000"},
        {"FREQ=MONTHLY;INTERVAL=2;COUNT=5;BYMONTHDAY=15", "20240115T090000"},
        {"FREQ=YEARLY;COUNT=4;BYMONTH=3;BYDAY=2SU", "20240310T100000"},
        {"FREQ=WEEKLY;INTERVAL=2;UNTIL=20240601T000000Z;BYDAY=TU", "20240319T070000"},
        {"FREQ=DAILY;COUNT=15;BYDAY=MO,TU,WE,TH,FR", "20240325T090000"},
        {"FREQ=YEARLY;INTERVAL=2;COUNT=3", "20240315T090000"},
        {"FREQ=MONTHLY;COUNT=7;BYDAY=SA,SU;BYSETPOS=3", "20240113T100000"},
    };
    Tool({"folder", "create", "Series", "--class", "IPF.Appointment"});
    int n = 0;
    for (const Case& c : cases) {
        std::string uid = "case-" + std::to_string(++n);
        std::string text = std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:") +
                           uid + "\r\nDTSTART;TZID=Europe/Berlin:" + c.start +
                           "\r\nDURATION:PT1H\r\nRRULE:" + c.rule + "\r\nSUMMARY:" + uid +
                           "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
        ToolRun r = Tool({"import", "Series", Write(uid + ".ics", text)});
        ASSERT_EQ(r.code, 0) << c.rule << r.err;
        EXPECT_EQ(r.err, "") << c.rule;
    }
    // libical's occurrences, in Berlin wall-clock time.
    auto expected = [](const Case& c) {
        std::vector<std::string> out;
        icalrecurrencetype rule = icalrecurrencetype_from_string(c.rule);
        icaltimetype start = icaltime_from_string(c.start);
        start = icaltime_set_timezone(&start, icaltimezone_get_builtin_timezone("Europe/Berlin"));
        icalrecur_iterator* it = icalrecur_iterator_new(rule, start);
        for (icaltimetype t = icalrecur_iterator_next(it);
             !icaltime_is_null_time(t) && out.size() < 50; t = icalrecur_iterator_next(it)) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d", t.year, t.month, t.day, t.hour,
                          t.minute);
            out.push_back(buf);
        }
        icalrecur_iterator_free(it);
        return out;
    };
    MapiRuntime runtime;
    ToolSession s("Default");
    CMapiRef<IMAPIFolder> folder = s.Folder("Series");
    CMapiRef<IMAPITable> table;
    ASSERT_EQ(folder->GetContentsTable(0, table.Put()), S_OK);
    TableRows set(table.Get(), {PR_ENTRYID});
    ASSERT_EQ(set.Count(), std::size(cases));
    const pimfmt::Zone* berlin = pimfmt::FindIanaZone("Europe/Berlin");
    for (ULONG k = 0; k < set.Count(); ++k) {
        const SBinary& b = set.At(k, 0).Value.bin;
        ULONG type = 0;
        CMapiRef<IUnknown> unk;
        ASSERT_EQ(folder->OpenEntry(b.cb, reinterpret_cast<LPENTRYID>(b.lpb), nullptr, 0, &type,
                                    unk.Put()),
                  S_OK);
        IMessagePtr item = IMessagePtr::FromUnknown(unk.Get());
        RecurrencePattern p;
        CFormatZone zone(*berlin);
        ASSERT_TRUE(LoadFromMessage(item, p, zone));
        std::vector<std::string> got;
        for (const CItemTime& t : ExpandPattern(p, 50)) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d", t.year, t.month, t.day, t.hour,
                          t.minute);
            got.push_back(buf);
        }
        EXPECT_EQ(got, expected(cases[k])) << cases[k].rule;
    }
}

}  // namespace
