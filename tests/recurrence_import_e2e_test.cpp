// Recurring events from iCalendar files, end to end: imported on the desktop with
// corvel-store, synced, and listed on the handheld as the occurrences libical
// computes for the same rules; imported on the handheld with skiff and exported on
// the desktop after a sync with the same rules.
#include <gtest/gtest.h>
#include <libical/ical.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include "common/base/temp_home.h"
#include "tests/recurrence_sides.h"

namespace {

struct Series {
    const char* subject;
    const char* start;  // Europe/Berlin
    const char* rule;
    const char* exdate;  // "" or a start of the rule, removed
};
const Series kSeries[] = {
    {"Weekly over the change", "20260305T093000", "FREQ=WEEKLY;COUNT=8;BYDAY=TH",
     "20260319T093000"},
    {"Every weekday", "20261019T080000", "FREQ=DAILY;COUNT=15;BYDAY=MO,TU,WE,TH,FR", ""},
    {"Last Friday", "20260130T120000", "FREQ=MONTHLY;COUNT=6;BYDAY=-1FR", "20260327T120000"},
    {"Second Sunday in March", "20260308T100000", "FREQ=YEARLY;COUNT=4;BYMONTH=3;BYDAY=2SU", ""},
    {"Fortnightly until June", "20260317T070000",
     "FREQ=WEEKLY;INTERVAL=2;UNTIL=20260601T000000Z;BYDAY=TU", ""},
    {"Every three days", "20261020T180000", "FREQ=DAILY;INTERVAL=3;COUNT=12", ""},
};

std::string Calendar() {
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n";
    int n = 0;
    for (const Series& s : kSeries) {
        text += std::string("BEGIN:VEVENT\r\nUID:series-") + std::to_string(++n) +
                "\r\nDTSTART;TZID=Europe/Berlin:" + s.start +
                "\r\nDURATION:PT1H\r\nRRULE:" + s.rule + "\r\n";
        if (*s.exdate) text += std::string("EXDATE;TZID=Europe/Berlin:") + s.exdate + "\r\n";
        text += std::string("SUMMARY:") + s.subject + "\r\nEND:VEVENT\r\n";
    }
    return text + "END:VCALENDAR\r\n";
}

// libical's starts of the rule in Berlin, without the removed one, as
// "YYYY-MM-DD HH:MM".
std::vector<std::string> LibicalStarts(const Series& s) {
    std::vector<std::string> out;
    icaltimezone* berlin = icaltimezone_get_builtin_timezone("Europe/Berlin");
    icaltimetype start = icaltime_from_string(s.start);
    start = icaltime_set_timezone(&start, berlin);
    icalrecur_iterator* it = icalrecur_iterator_new(icalrecurrencetype_from_string(s.rule), start);
    for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t) && out.size() < 60;
         t = icalrecur_iterator_next(it)) {
        char basic[32], text[32];
        std::snprintf(basic, sizeof basic, "%04d%02d%02dT%02d%02d00", t.year, t.month, t.day,
                      t.hour, t.minute);
        if (std::string(basic) == s.exdate) continue;
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                      t.minute);
        out.push_back(text);
    }
    icalrecur_iterator_free(it);
    return out;
}

class IcsFile {
public:
    explicit IcsFile(const std::string& text) : path_(folder_.Path() + "/calendar.ics") {
        if (folder_.Path().empty()) throw std::runtime_error("no temporary folder");
        std::ofstream(path_, std::ios::binary) << text;
    }
    const std::string& Path() const { return path_; }

private:
    TempFolder folder_{"recurrence-import"};
    std::string path_;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(RecurrenceImportEndToEnd, DesktopImportExpandsOnTheHandheldAsLibicalDoes) {
    RecurrenceSides sides("Europe/Berlin");
    ASSERT_EQ("", sides.Error());
    IcsFile file(Calendar());
    ProgramRun imported = sides.Store({"import", "Calendar", file.Path()});
    ASSERT_EQ(0, imported.status) << imported.out << imported.err;
    EXPECT_EQ("", imported.err);
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +6 ~0 -0"));

    for (const Series& s : kSeries) {
        SCOPED_TRACE(s.subject);
        std::string oid = sides.HandheldOid(s.subject);
        ASSERT_NE("", oid);
        std::vector<std::string> listed;
        for (const std::string& o : sides.HandheldOccurrences(oid, "2026-01-01", "2030-12-31"))
            listed.push_back(o.substr(0, 16));
        std::vector<std::string> expected = LibicalStarts(s);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(expected, listed);
    }
}

TEST(RecurrenceImportEndToEnd, HandheldImportReachesTheDesktopWithItsRules) {
    RecurrenceSides sides("Europe/Berlin");
    ASSERT_EQ("", sides.Error());
    IcsFile file(Calendar());
    ProgramRun imported = sides.Skiff({"pim", "import", "calendar", file.Path()});
    ASSERT_EQ(0, imported.status) << imported.out << imported.err;
    EXPECT_TRUE(Contains(sides.Sync(), "desktop +6 ~0 -0"));

    ProgramRun exported = sides.Store({"export", "Calendar"});
    ASSERT_EQ(0, exported.status) << exported.err;
    for (const Series& s : kSeries) {
        SCOPED_TRACE(s.subject);
        EXPECT_TRUE(Contains(exported.out, std::string("SUMMARY:") + s.subject));
        EXPECT_TRUE(Contains(exported.out, std::string("DTSTART;TZID=Europe/Berlin:") + s.start));
        if (*s.exdate) {
            EXPECT_TRUE(
                Contains(exported.out, std::string("EXDATE;TZID=Europe/Berlin:") + s.exdate));
        }
    }
    // The rules as the desktop writes them (a count before the interval and days).
    for (const char* rule :
         {"RRULE:FREQ=WEEKLY;COUNT=8;BYDAY=TH", "RRULE:FREQ=WEEKLY;COUNT=15;BYDAY=MO,TU,WE,TH,FR",
          "RRULE:FREQ=MONTHLY;COUNT=6;BYDAY=FR;BYSETPOS=-1",
          "RRULE:FREQ=YEARLY;COUNT=4;BYMONTH=3;BYDAY=SU;BYSETPOS=2",
          "RRULE:FREQ=DAILY;COUNT=12;INTERVAL=3"})
        EXPECT_TRUE(Contains(exported.out, rule)) << rule;
    EXPECT_TRUE(Contains(exported.out, ";INTERVAL=2;BYDAY=TU")) << exported.out;
}
