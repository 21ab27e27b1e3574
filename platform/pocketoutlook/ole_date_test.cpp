#include "platform/pocketoutlook/ole_date.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/recurrence/recurrence_rule.h"

namespace {

std::string Text(double date) {
    SYSTEMTIME t;
    if (!VariantTimeToSystemTime(date, &t)) return "invalid";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d dow%d", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek);
    return buf;
}

// The OLE date of the fields; -1e9 when they name none.
double Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    double out = 0;
    return OleDateFromFields(y, mo, d, h, mi, s, out) ? out : -1e9;
}

TEST(OleDateTest, KnownValues) {
    EXPECT_EQ(recur::DayOf(1899, 12, 30), kOleEpochDay);
    EXPECT_EQ("1899-12-30 00:00:00 dow6", Text(0));
    EXPECT_EQ("1900-01-01 00:00:00 dow1", Text(2));
    EXPECT_EQ("4501-01-01 00:00:00 dow6", Text(kOleNoDate));
    EXPECT_EQ("1899-12-29 06:00:00 dow5", Text(-1.25));
    EXPECT_EQ("2009-03-07 14:05:09 dow6", Text(39879 + 50709.0 / 86400));
    EXPECT_DOUBLE_EQ(39879 + 50709.0 / 86400, Date(2009, 3, 7, 14, 5, 9));
    EXPECT_DOUBLE_EQ(kOleNoDate, Date(4501, 1, 1));
    EXPECT_DOUBLE_EQ(-1.25, Date(1899, 12, 29, 6));
}

TEST(OleDateTest, RoundTripAndRounding) {
    for (double d : {Date(2024, 2, 29, 23, 59, 59), Date(1950, 6, 1, 12), Date(100, 1, 1)}) {
        SYSTEMTIME t;
        ASSERT_TRUE(VariantTimeToSystemTime(d, &t));
        double back;
        ASSERT_TRUE(SystemTimeToVariantTime(t, &back));
        EXPECT_DOUBLE_EQ(d, back);
    }
    // Half a second before midnight rounds into the next day.
    EXPECT_EQ("2009-03-08 00:00:00 dow0", Text(39880 - 0.4 / 86400));
}

TEST(OleDateTest, RejectsOutOfRangeFields) {
    EXPECT_EQ(-1e9, Date(2023, 2, 29));
    EXPECT_EQ(-1e9, Date(2024, 13, 1));
    EXPECT_EQ(-1e9, Date(2024, 1, 0));
    EXPECT_EQ(-1e9, Date(2024, 1, 1, 24));
    EXPECT_EQ(-1e9, Date(99, 12, 31));
    EXPECT_EQ(-1e9, Date(10000, 1, 1));
    EXPECT_EQ("invalid", Text(1e12));
    EXPECT_EQ("invalid", Text(0.0 / 0.0));
}

TEST(OleDateTest, FieldsGiveTheSameDateAndNoNegativeOneWraps) {
    double date = 0;
    ASSERT_TRUE(OleDateFromFields(2009, 3, 8, 13, 30, 15, date));
    EXPECT_EQ(Date(2009, 3, 8, 13, 30, 15), date);
    // -65535 would be 1 as a 16-bit field.
    EXPECT_FALSE(OleDateFromFields(2009, -65535, 8, 0, 0, 0, date));
    EXPECT_FALSE(OleDateFromFields(2009, 3, 8, 0, -1, 0, date));
    EXPECT_FALSE(OleDateFromFields(2009, 2, 29, 0, 0, 0, date));
}

}  // namespace
