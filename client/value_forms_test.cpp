#include "client/value_forms.h"

#include <gtest/gtest.h>

#include "platform/pocketoutlook/ole_date.h"

namespace {

const double kMarch7 = 39879 + 50709.0 / 86400;  // 7 March 2009 14:05:09

TEST(ValueFormsTest, DateForms) {
    EXPECT_EQ("07032009 14:05:09", FormatClientDate(kMarch7, false));
    EXPECT_EQ("07.03.2009 14:05.09:0", FormatServerDate(kMarch7, false));
    EXPECT_EQ("", FormatClientDate(0, false));
    EXPECT_EQ("", FormatServerDate(0, true));
    // "No date" is empty for contact dates only.
    EXPECT_EQ("", FormatClientDate(kOleNoDate, true));
    EXPECT_EQ("01014501 00:00:00", FormatClientDate(kOleNoDate, false));
}

TEST(ValueFormsTest, ParsesBothFormsAndRejectsBadDates) {
    double d = -1;
    ASSERT_TRUE(ParseDate("07.03.2009 14:05.09:0", d));
    EXPECT_DOUBLE_EQ(kMarch7, d);
    d = -1;
    ASSERT_TRUE(ParseDate("07032009 14:05:09", d));
    EXPECT_DOUBLE_EQ(kMarch7, d);
    // The server form is read by position; what follows the seconds does not matter.
    ASSERT_TRUE(ParseDate("07.03.2009 14:05.09", d));
    EXPECT_DOUBLE_EQ(kMarch7, d);
    d = 5;
    EXPECT_FALSE(ParseDate("", d));
    EXPECT_FALSE(ParseDate("07.03.2009", d));
    EXPECT_FALSE(ParseDate("32.03.2009 14:05.09:0", d));
    EXPECT_FALSE(ParseDate("29.02.2009 14:05.09:0", d));
    EXPECT_FALSE(ParseDate("0703x009 14:05:09", d));
    EXPECT_DOUBLE_EQ(5, d);
}

TEST(ValueFormsTest, DecimalNumbers) {
    EXPECT_EQ(0, ParseDecimal(""));
    EXPECT_EQ(0, ParseDecimal("abc"));
    EXPECT_EQ(-1, ParseDecimal("-1"));
    EXPECT_EQ(42, ParseDecimal(" +42x"));
    EXPECT_EQ(2147483647, ParseDecimal("99999999999"));
    EXPECT_EQ(-2147483647 - 1, ParseDecimal("-99999999999"));
}

TEST(ValueFormsTest, Crc32) {
    EXPECT_EQ(0xCBF43926u, Crc32("123456789"));
    EXPECT_EQ(0u, Crc32(""));
    EXPECT_NE(Crc32("Hello world"), Crc32("Hello words"));
}

}  // namespace
