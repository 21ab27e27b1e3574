#include "server/formats/rule_pattern.h"

#include <gtest/gtest.h>

namespace {

const CItemTime kWed{2024, 3, 13, 9, 30, 0, 0};  // a Wednesday

RecurrencePattern Held(const std::string& rule, const CItemTime& until = CItemTime()) {
    RecurrencePattern p;
    std::string why;
    EXPECT_TRUE(PatternFromRule(rule, kWed, until, p, why)) << rule << ": " << why;
    return p;
}

std::string WhyNot(const std::string& rule) {
    RecurrencePattern p;
    std::string why;
    EXPECT_FALSE(PatternFromRule(rule, kWed, CItemTime(), p, why)) << rule;
    return why;
}

TEST(PatternFromRule, HeldRulesTakeThePatternsFields) {
    RecurrencePattern w = Held("FREQ=WEEKLY;INTERVAL=2;COUNT=5;BYDAY=MO,WE");
    EXPECT_EQ(w.kind, kRecurWeekly);
    EXPECT_EQ(w.interval, 2);
    EXPECT_EQ(w.dayMask, 0x0A);
    EXPECT_EQ(w.occurrences, 5);
    EXPECT_FALSE(w.endsByDate);
    EXPECT_EQ(w.seriesEnd, (CItemTime{2024, 4, 10, 9, 30, 0, 0}));

    RecurrencePattern weekdays = Held("FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR");
    EXPECT_EQ(weekdays.kind, kRecurWeekly);
    EXPECT_EQ(weekdays.dayMask, 0x3E);
    EXPECT_TRUE(weekdays.endless);

    RecurrencePattern last = Held("FREQ=MONTHLY;BYDAY=-1WE;COUNT=3");
    EXPECT_EQ(last.kind, kRecurMonthNth);
    EXPECT_EQ(last.instance, 5);
    RecurrencePattern setpos = Held("FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=2;COUNT=2");
    EXPECT_EQ(setpos.instance, 2);
    EXPECT_EQ(setpos.dayMask, 0x3E);

    RecurrencePattern biennial = Held("FREQ=YEARLY;INTERVAL=2;COUNT=3");
    EXPECT_EQ(biennial.kind, kRecurYearly);
    EXPECT_EQ(biennial.interval, 2);
    EXPECT_EQ(biennial.monthOfYear, 3);
    EXPECT_EQ(biennial.dayOfMonth, 13);
    EXPECT_EQ(ExpandPattern(biennial, 10).back(), (CItemTime{2028, 3, 13, 9, 30, 0, 0}));

    RecurrencePattern until =
        Held("FREQ=DAILY;UNTIL=20240316T083000Z", CItemTime{2024, 3, 16, 9, 30, 0, 0});
    EXPECT_TRUE(until.endsByDate);
    EXPECT_EQ(until.occurrences, 4);
    EXPECT_EQ(until.seriesEnd, (CItemTime{2024, 3, 16, 9, 30, 0, 0}));
}

TEST(PatternFromRule, ARuleThePatternCannotHoldSaysWhy) {
    EXPECT_EQ(WhyNot("FREQ=MONTHLY;BYMONTHDAY=31"), "month days other than one day 1-28");
}

TEST(RuleFromPattern, WritesTheRuleItWasReadFrom) {
    for (const char* rule :
         {"FREQ=WEEKLY;COUNT=5;INTERVAL=2;BYDAY=MO,WE", "FREQ=DAILY;COUNT=4;INTERVAL=3",
          "FREQ=MONTHLY;COUNT=3;BYDAY=WE;BYSETPOS=-1", "FREQ=MONTHLY;COUNT=6;BYMONTHDAY=13",
          "FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=13",
          "FREQ=YEARLY;COUNT=2;BYMONTH=3;BYDAY=WE;BYSETPOS=2",
          "FREQ=YEARLY;COUNT=3;INTERVAL=2;BYMONTH=3;BYMONTHDAY=13"}) {
        RecurrencePattern p = Held(rule);
        EXPECT_EQ(RuleFromPattern(p, ""), rule);
    }
    RecurrencePattern until =
        Held("FREQ=DAILY;UNTIL=20240316T083000Z", CItemTime{2024, 3, 16, 9, 30, 0, 0});
    EXPECT_EQ(RuleFromPattern(until, "20240316T083000Z"), "FREQ=DAILY;UNTIL=20240316T083000Z");
}

}  // namespace
