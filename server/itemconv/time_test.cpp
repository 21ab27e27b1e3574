// Calendar arithmetic, the wire date form, zone conversions and the 48-byte
// time-zone structure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "common/base/temp_home.h"
#include "server/itemconv/item_time.h"
#include "server/itemconv/item_time_test_util.h"
#include "server/itemconv/recurrence_vectors_test.h"
#include "server/itemconv/time_zone.h"
#include "server/itemconv/time_zone_info.h"

namespace {

using itemtest::T;

const char* kCentralEurope =
    "C4FFFFFF00000000C4FFFFFF000000000A000000050003000000000000000000000003000000050002000000000000"
    "00";
const char* kPacific =
    "E001000000000000C4FFFFFF000000000B000000010002000000000000000000000003000000020002000000000000"
    "00";

}  // namespace

TEST(ItemTime, DayCountsAndMinutes) {
    EXPECT_EQ(0, DaysFrom1601(1601, 1, 1));
    EXPECT_EQ(134774, DaysFrom1601(1970, 1, 1));
    EXPECT_EQ(1, WeekdayOfDay(0));  // 1601-01-01 was a Monday
    EXPECT_EQ(5, WeekdayOfDay(DaysFrom1601(2009, 3, 6)));
    EXPECT_EQ(DaysFrom1601(2009, 3, 1), DaysFrom1601(2009, 2, 29));  // normalised
    EXPECT_EQ(DaysFrom1601(2010, 1, 1), DaysFrom1601(2009, 13, 1));
    EXPECT_EQ(29, DaysInMonth(2000, 2));
    EXPECT_EQ(28, DaysInMonth(1900, 2));
    EXPECT_EQ(0, DaysInMonth(2000, 13));
    // Worked values of the blob examples.
    EXPECT_EQ(213655680, MinutesFrom1601(T(2007, 3, 26)));
    EXPECT_EQ(214681745, MinutesFrom1601(T(2009, 3, 7, 13, 5, 9)));
    EXPECT_EQ(kLatestMinutes, MinutesFrom1601(T(4500, 12, 31, 23, 59)));
    EXPECT_EQ(T(2007, 4, 16, 11, 0), ItemTimeFromMinutes(213686580));
    EXPECT_EQ(T(4500, 12, 31, 23, 59), ItemTimeFromMinutes(kLatestMinutes));
    for (std::int64_t m : {0LL, 1439LL, 44640LL, 215777280LL, 1525252320LL}) {
        EXPECT_EQ(m, MinutesFrom1601(ItemTimeFromMinutes(m)));
    }
}

TEST(ItemTime, Filetimes) {
    EXPECT_EQ(128809047090000000ULL, FiletimeFromItemTime(T(2009, 3, 7, 13, 5, 9)));
    EXPECT_EQ(915045983400000000ULL, FiletimeFromItemTime(T(4500, 8, 31, 23, 59)));
    CItemTime t = ItemTimeFromFiletime(116444736000000000ULL + 1230000);
    EXPECT_EQ(T(1970, 1, 1), DateOnly(t));
    EXPECT_EQ(123, t.millisecond);
    EXPECT_EQ(0U, FiletimeFromItemTime(T(1600, 12, 31)));
}

TEST(ItemTime, WireFormRoundTrip) {
    CItemTime t = T(2009, 3, 7, 14, 5, 9);
    EXPECT_EQ("07.03.2009 14:05.09:0", FormatItemDate(t));
    EXPECT_EQ(t, ParseItemDate("07.03.2009 14:05.09:0"));
    EXPECT_EQ(t, ParseItemDate("07.03.2009 14:05.09"));
    EXPECT_EQ(t, ParseItemDate("07032009 14:05:09"));  // legacy handheld form
    EXPECT_EQ("00.00.0000 00:00.00:0", FormatItemDate(CItemTime()));
}

TEST(ItemTime, BadDatesAreRefused) {
    for (const char* bad :
         {"", "07.03.2009 14:05", "07032009 14:05:0", "7.3.2009 14:05.09:0",
          "31.02.2009 14:05.09:0", "07.13.2009 14:05.09:0", "07.03.2009 24:05.09:0",
          "07.03.2009 14:60.09:0", "0x.03.2009 14:05.09:0", "07.03.1600 14:05.09:0",
          "00.00.0000 00:00.00:0", "07-03-2009 14:05.09:0"}) {
        EXPECT_FALSE(ParseItemDate(bad).has_value()) << bad;
    }
}

TEST(TimeZone, SystemZoneUsesTheRulesOfEachDate) {
    ScopedZone guard("Europe/Berlin");
    const CTimeZone& zone = ServerTimeZone();
    // Winter and summer of the same year: different offsets.
    EXPECT_EQ(T(2009, 3, 7, 14, 5, 9), zone.UtcToLocal(T(2009, 3, 7, 13, 5, 9)));
    EXPECT_EQ(T(2009, 7, 7, 15, 5, 9), zone.UtcToLocal(T(2009, 7, 7, 13, 5, 9)));
    EXPECT_EQ(T(2009, 7, 7, 13, 5, 9), zone.LocalToUtc(T(2009, 7, 7, 15, 5, 9)));
    // Around the change to daylight time (2009-03-29 01:00 UTC).
    EXPECT_EQ(T(2009, 3, 29, 1, 59), zone.UtcToLocal(T(2009, 3, 29, 0, 59)));
    EXPECT_EQ(T(2009, 3, 29, 3, 0), zone.UtcToLocal(T(2009, 3, 29, 1, 0)));
    EXPECT_EQ(T(2009, 3, 29, 1, 30), zone.LocalToUtc(T(2009, 3, 29, 2, 30)));  // skipped hour
    // The repeated hour at the end of daylight time maps to its first instant.
    EXPECT_EQ(T(2009, 10, 25, 0, 30), zone.LocalToUtc(T(2009, 10, 25, 2, 30)));
    EXPECT_EQ(128809047090000000ULL, zone.LocalToFiletime(T(2009, 3, 7, 14, 5, 9)));
    EXPECT_EQ(T(2009, 3, 7, 14, 5, 9), zone.FiletimeToLocal(128809047090000000ULL));
}

TEST(TimeZone, StoreTimesAsElementText) {
    CRuleTimeZone plusOne(
        DecodeTimeZoneStruct(HexBytes("C4FFFFFF" + std::string(88, '0'))).value());
    EXPECT_EQ("07.03.2009 14:05.09:0", StoreTimeToText(128809047090000000ULL, plusOne));
    EXPECT_EQ(128809047090000000ULL, TextToStoreTime("07.03.2009 14:05.09:0", plusOne));
    EXPECT_EQ(128809047090000000ULL, TextToStoreTime("07032009 14:05:09", plusOne));
    EXPECT_FALSE(TextToStoreTime("07.03.09", plusOne).has_value());
    ScopedZone guard("Europe/Berlin");  // summer dates take the summer offset
    EXPECT_EQ("07.07.2009 15:05.09:0",
              StoreTimeToText(FiletimeFromItemTime(T(2009, 7, 7, 13, 5, 9))));
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 7, 7, 13, 5, 9)),
              TextToStoreTime("07.07.2009 15:05.09:0"));
    EXPECT_EQ(FiletimeFromItemTime(T(2009, 1, 7, 13, 5, 9)),
              TextToStoreTime("07.01.2009 14:05.09:0"));
}

TEST(TimeZone, RoundTripEveryHourOfAYear) {
    ScopedZone guard("America/Los_Angeles");
    const CTimeZone& zone = ServerTimeZone();
    CRuleTimeZone rules(*DecodeTimeZoneStruct(HexBytes(kPacific)));
    for (std::int64_t h = 0; h < 366 * 24; ++h) {
        CItemTime utc = ItemTimeFromSeconds(DaysFrom1601(2026, 1, 1) * 86400 + h * 3600);
        CItemTime local = zone.UtcToLocal(utc);
        // Every local time reads back; only the repeated hour maps to its first instant.
        ASSERT_EQ(local, zone.UtcToLocal(zone.LocalToUtc(local))) << FormatItemDate(utc);
        if (local != zone.UtcToLocal(ItemTimeFromSeconds(SecondsFrom1601(utc) - 3600))) {
            ASSERT_EQ(utc, zone.LocalToUtc(local)) << FormatItemDate(utc);
        }
        ASSERT_EQ(local, rules.UtcToLocal(utc)) << FormatItemDate(utc);
    }
}

TEST(TimeZoneStruct, EncodeDecodeTheKnownStructures) {
    CTimeZoneStruct fixed = FixedCentralEuropeanTimeZone();
    EXPECT_EQ(kCentralEurope, HexText(EncodeTimeZoneStruct(fixed)));
    EXPECT_EQ(fixed, DecodeTimeZoneStruct(HexBytes(kCentralEurope)));
    auto pacific = DecodeTimeZoneStruct(HexBytes(kPacific));
    ASSERT_TRUE(pacific.has_value());
    EXPECT_EQ(480, pacific->bias);
    EXPECT_EQ(-60, pacific->daylightBias);
    EXPECT_EQ(11, pacific->standardDate.month);
    EXPECT_EQ(kPacific, HexText(EncodeTimeZoneStruct(*pacific)));
    EXPECT_FALSE(DecodeTimeZoneStruct(HexBytes(std::string(kPacific).substr(2))).has_value());
    EXPECT_FALSE(DecodeTimeZoneStruct(HexBytes(std::string(kPacific) + "00")).has_value());
}

TEST(TimeZoneStruct, DerivedFromTheSystemZone) {
    {
        ScopedZone guard("Europe/Berlin");
        EXPECT_EQ(kCentralEurope,
                  HexText(EncodeTimeZoneStruct(*TimeZoneStructOfZone(ServerTimeZone(), 2026))));
        EXPECT_EQ(kCentralEurope, HexText(EncodeTimeZoneStruct(ServerTimeZoneStruct())));
    }
    {
        ScopedZone guard("America/Los_Angeles");
        EXPECT_EQ(kPacific,
                  HexText(EncodeTimeZoneStruct(*TimeZoneStructOfZone(ServerTimeZone(), 2026))));
    }
    {
        ScopedZone guard("Asia/Tokyo");  // no daylight time: bias only
        EXPECT_EQ("E4FDFFFF" + std::string(88, '0'),
                  HexText(EncodeTimeZoneStruct(*TimeZoneStructOfZone(ServerTimeZone(), 2026))));
    }
    {
        ScopedZone guard("Australia/Sydney");  // daylight time across the new year
        CTimeZoneStruct z = *TimeZoneStructOfZone(ServerTimeZone(), 2026);
        EXPECT_EQ(-600, z.bias);
        EXPECT_EQ(-60, z.daylightBias);
        EXPECT_EQ(4, z.standardDate.month);
        EXPECT_EQ(3, z.standardDate.hour);
        EXPECT_EQ(10, z.daylightDate.month);
        EXPECT_EQ(1, z.daylightDate.day);
        CRuleTimeZone rules(z);
        EXPECT_EQ(T(2026, 1, 15, 11), rules.UtcToLocal(T(2026, 1, 15, 0)));
        EXPECT_EQ(T(2026, 6, 15, 10), rules.UtcToLocal(T(2026, 6, 15, 0)));
    }
}

TEST(TimeZoneStruct, RuleZoneFollowsTheFixedStructure) {
    CRuleTimeZone zone(FixedCentralEuropeanTimeZone());
    EXPECT_EQ(T(2009, 3, 7, 14, 5, 9), zone.UtcToLocal(T(2009, 3, 7, 13, 5, 9)));
    EXPECT_EQ(T(2009, 3, 29, 3, 0), zone.UtcToLocal(T(2009, 3, 29, 1, 0)));
    EXPECT_EQ(T(2009, 3, 29, 1, 59), zone.UtcToLocal(T(2009, 3, 29, 0, 59)));
    EXPECT_EQ(T(2009, 10, 25, 2, 59), zone.UtcToLocal(T(2009, 10, 25, 0, 59)));
    EXPECT_EQ(T(2009, 10, 25, 2, 0), zone.UtcToLocal(T(2009, 10, 25, 1, 0)));
    EXPECT_EQ("C4FFFFFF" + std::string(88, '0').substr(0, 8) + "C4FFFFFF" +
                  std::string(kCentralEurope).substr(24),
              HexText(EncodeTimeZoneStruct(*TimeZoneStructOfZone(zone, 2031))));
}
