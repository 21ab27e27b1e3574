// skiff pim import and export: round trips per kind over a temporary PIM store.
#include "client/pim_commands_formats.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <sstream>

#include "client/skiff_cli.h"
#include "client/test_env.h"
#include "common/formats/ical_map.h"
#include "common/formats/vcard_map.h"

namespace {

struct CliRun {
    int code;
    std::string out, err;
};

CliRun Skiff(std::vector<std::string> args) {
    std::vector<char*> argv{const_cast<char*>("skiff")};
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    int code = RunSkiffCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
}

class PimFormatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
    }
    std::string Write(const std::string& name, const std::string& text) {
        std::string path = (env_.Root() / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string Export(const std::string& folder, std::vector<std::string> flags = {}) {
        std::vector<std::string> args{"pim", "export", folder};
        args.insert(args.end(), flags.begin(), flags.end());
        CliRun r = Skiff(args);
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }
    TempEnv env_;
};

bool Has(const std::string& text, const std::string& line) {
    return text.find(line + "\r\n") != std::string::npos;
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
    ASSERT_EQ(in.code, 0) << in.err;
    EXPECT_EQ(in.out, "imported 2, skipped 0, warnings 0\n");
    std::string v4 = Export("contacts");
    EXPECT_TRUE(Has(v4, "N:M\xC3\xBCller;J\xC3\xBCrgen;;;Jr."));
    EXPECT_TRUE(Has(v4, "TEL;TYPE=x-radio:+49 30 3"));
    EXPECT_TRUE(Has(v4, "X-PHONETIC-FIRST-NAME:Yuergen"));
    EXPECT_TRUE(Has(v4, "BDAY:19800401"));
    EXPECT_TRUE(Has(v4, "CATEGORIES:Family,Work"));
    EXPECT_TRUE(Has(v4, "ADR;TYPE=work:;;Am Markt 1;Bremen;;28195;Deutschland"));
    EXPECT_TRUE(Has(v4, "NOTE:Two\\nlines"));
    // The stored fields as the handheld's own commands show them.
    CliRun list = Skiff({"pim", "list", "contacts"});
    EXPECT_NE(list.out.find("M\xC3\xBCller, J\xC3\xBCrgen"), std::string::npos);

    // Into an empty store and out again: the same bytes.
    TempEnv second;
    ::setenv("TZ", "Europe/Berlin", 1);
    std::string path = (second.Root() / "again.vcf").string();
    std::ofstream(path, std::ios::binary) << v4;
    ASSERT_EQ(Skiff({"pim", "import", "contacts", path}).code, 0);
    EXPECT_EQ(Export("contacts"), v4);
    EXPECT_TRUE(Has(Export("contacts", {"--vcard3"}), "VERSION:3.0"));
}

TEST_F(PimFormatsTest, TasksAndAppointmentsRoundTripAndSeriesAreReported) {
    const std::string tasks =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:t\r\nDUE;VALUE=DATE:20240401\r\n"
        "SUMMARY:Pay\r\nPRIORITY:1\r\nSTATUS:COMPLETED\r\nCOMPLETED:20240330T100000Z\r\n"
        "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;VALUE=DATE-TIME:20240331T070000Z\r\nEND:"
        "VALARM\r\n"
        "END:VTODO\r\nEND:VCALENDAR\r\n";
    ASSERT_EQ(Skiff({"pim", "import", "tasks", Write("t.ics", tasks)}).code, 0);
    std::string t = Export("tasks");
    EXPECT_TRUE(Has(t, "DUE;VALUE=DATE:20240401"));
    EXPECT_TRUE(Has(t, "COMPLETED:20240330T100000Z"));
    EXPECT_TRUE(Has(t, "PRIORITY:1"));
    EXPECT_TRUE(Has(t, "STATUS:COMPLETED"));
    EXPECT_TRUE(Has(t, "TRIGGER;VALUE=DATE-TIME:20240331T070000Z"));

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
    EXPECT_EQ(in.code, 0);
    EXPECT_NE(in.err.find("the handheld's store holds no series yet"), std::string::npos) << in.err;
    std::string c = Export("calendar");
    // New York 09:00 is 14:00 in Berlin (before Europe's change to summer time).
    EXPECT_TRUE(Has(c, "DTSTART;TZID=Europe/Berlin:20240320T140000"));
    EXPECT_TRUE(Has(c, "TZID:Europe/Berlin"));
    EXPECT_TRUE(Has(c, "TRIGGER:-PT5M"));
    EXPECT_TRUE(Has(c, "DTSTART;VALUE=DATE:20240501"));
    EXPECT_TRUE(Has(c, "TRANSP:TRANSPARENT"));
    EXPECT_TRUE(Has(c, "DTSTART;TZID=Europe/Berlin:20240301T090000"));

    TempEnv second;
    ::setenv("TZ", "Europe/Berlin", 1);
    std::string path = (second.Root() / "again.ics").string();
    std::ofstream(path, std::ios::binary) << c;
    ASSERT_EQ(Skiff({"pim", "import", "calendar", path}).code, 0);
    EXPECT_EQ(Export("calendar"), c);
}

TEST_F(PimFormatsTest, BadInputAndUsage) {
    CliRun r = Skiff({"pim", "import", "contacts",
                      Write("b.vcf",
                            "BEGIN:VCARD\r\nFN:ok\r\nEND:VCARD\r\nBEGIN:VCARD\r\nbad line\r\n"
                            "END:VCARD\r\n")});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("b.vcf:5: entry 2:"), std::string::npos) << r.err;
    EXPECT_EQ(Skiff({"pim", "import", "notes", "x"}).code, 2);
    EXPECT_EQ(Skiff({"--json", "pim", "export", "contacts"}).code, 2);
    CliRun strict = Skiff({"pim", "import", "tasks", "--strict",
                           Write("s.ics",
                                 "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:1\r\nSUMMARY:a\r\n"
                                 "END:VTODO\r\nBEGIN:VTODO\r\nDUE:garbage\r\nEND:VTODO\r\n"
                                 "END:VCALENDAR\r\n")});
    EXPECT_EQ(strict.code, 3);
    EXPECT_EQ(Skiff({"pim", "list", "tasks"}).out, "");
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
