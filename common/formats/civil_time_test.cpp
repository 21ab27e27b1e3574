#include "common/formats/civil_time.h"

#include <gtest/gtest.h>
#include <libical/ical.h>

namespace pimfmt {
namespace {

TEST(CivilTime, DaysWeekdaysAndSecondsRoundTrip) {
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);
    EXPECT_EQ(DaysFromCivil(2024, 13, 1), DaysFromCivil(2025, 1, 1));
    EXPECT_EQ(WeekdayOf(CivilTime{2024, 3, 31}), 0);  // a Sunday
    EXPECT_EQ(WeekdayOf(CivilTime{1601, 1, 1}), 1);   // a Monday
    for (std::int64_t d : {-1000000LL, -1LL, 0LL, 59LL, 10957LL, 2000000LL}) {
        CivilTime t = CivilFromDays(d);
        EXPECT_EQ(DaysFromCivil(t.year, t.month, t.day), d);
    }
    CivilTime t{2024, 2, 29, 23, 59, 58};
    EXPECT_EQ(CivilFromSeconds(SecondsOf(t)), t);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
}

TEST(CivilTime, BasicFormParsesAndRefusesBadDates) {
    bool date = false;
    EXPECT_EQ(*ParseBasic("20240320T100500", &date), (CivilTime{2024, 3, 20, 10, 5, 0}));
    EXPECT_FALSE(date);
    EXPECT_EQ(*ParseBasic("20240229", &date), (CivilTime{2024, 2, 29}));
    EXPECT_TRUE(date);
    EXPECT_FALSE(ParseBasic("20230229"));
    EXPECT_FALSE(ParseBasic("2024032"));
    EXPECT_FALSE(ParseBasic("20240320X100000"));
    EXPECT_EQ(FormatBasic(CivilTime{2024, 3, 20, 9, 5, 7}, false), "20240320T090507");
}

TEST(Zones, ConvertAcrossDaylightSavingChanges) {
    const Zone* berlin = FindIanaZone("Europe/Berlin");
    ASSERT_NE(berlin, nullptr);
    EXPECT_EQ(berlin->ToUtc(CivilTime{2024, 3, 30, 10, 0, 0}), (CivilTime{2024, 3, 30, 9, 0, 0}));
    EXPECT_EQ(berlin->ToUtc(CivilTime{2024, 4, 1, 10, 0, 0}), (CivilTime{2024, 4, 1, 8, 0, 0}));
    EXPECT_EQ(berlin->ToLocal(CivilTime{2024, 10, 27, 0, 30, 0}),
              (CivilTime{2024, 10, 27, 2, 30, 0}));
    // 02:30 on the day of the change to summer time does not exist: the offset before.
    EXPECT_EQ(berlin->ToUtc(CivilTime{2024, 3, 31, 2, 30, 0}), (CivilTime{2024, 3, 31, 1, 30, 0}));
    // 02:30 on the day back exists twice: the first.
    EXPECT_EQ(berlin->ToUtc(CivilTime{2024, 10, 27, 2, 30, 0}),
              (CivilTime{2024, 10, 27, 0, 30, 0}));
    EXPECT_EQ(FindIanaZone("No/Such_Zone"), nullptr);
}

TEST(Zones, RuleOfAZoneAndItsVTimezone) {
    ZoneRule berlin = RuleOfZone(*FindIanaZone("Europe/Berlin"), 2024);
    EXPECT_TRUE(berlin.daylight);
    EXPECT_EQ(berlin.standardOffset, 3600);
    EXPECT_EQ(berlin.daylightOffset, 7200);
    EXPECT_EQ(berlin.toDaylightMonth, 3);
    EXPECT_EQ(berlin.toDaylightWeek, -1);
    EXPECT_EQ(berlin.toDaylightWeekday, 0);
    EXPECT_EQ(berlin.toDaylightMinute, 120);
    EXPECT_EQ(berlin.toStandardMonth, 10);
    EXPECT_EQ(berlin.toStandardMinute, 180);
    ZoneRule ny = RuleOfZone(*FindIanaZone("America/New_York"), 2024);
    EXPECT_EQ(ny.toDaylightWeek, 2);
    EXPECT_EQ(ny.toStandardWeek, 1);
    EXPECT_EQ(ny.toStandardMonth, 11);
    EXPECT_FALSE(RuleOfZone(*FindIanaZone("Asia/Tokyo"), 2024).daylight);

    EXPECT_EQ(VTimezoneText("Europe/Berlin", berlin),
              "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\n"
              "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
              "DTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
              "END:DAYLIGHT\r\n"
              "BEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
              "DTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
              "END:STANDARD\r\nEND:VTIMEZONE\r\n");

    // The rule zone and a file zone made from the text agree with the IANA zone.
    auto ruled = ZoneOfRule(ny, "Eastern");
    FileZones files;
    std::string text = VTimezoneText("Eastern", ny);
    ASSERT_TRUE(files.Add(icalcomponent_new_from_string(text.c_str())));
    const Zone* fromFile = files.Find("Eastern");
    ASSERT_NE(fromFile, nullptr);
    const Zone* iana = FindIanaZone("America/New_York");
    for (CivilTime t :
         {CivilTime{2024, 1, 15, 12}, CivilTime{2024, 3, 10, 6, 59}, CivilTime{2024, 3, 10, 7, 1},
          CivilTime{2024, 11, 3, 5, 59}, CivilTime{2024, 11, 3, 6, 1}, CivilTime{2025, 7, 4, 12}}) {
        std::int64_t s = SecondsOf(t);
        EXPECT_EQ(ruled->OffsetAt(s), iana->OffsetAt(s)) << FormatBasic(t, false);
        EXPECT_EQ(fromFile->OffsetAt(s), iana->OffsetAt(s)) << FormatBasic(t, false);
    }
}

}  // namespace
}  // namespace pimfmt
