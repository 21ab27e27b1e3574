#include "common/formats/rrule_map.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using pimfmt::CivilTime;

const CivilTime kWed{2024, 3, 13, 9, 30, 0};  // a Wednesday

recur::Rule Held(const std::string& text, const CivilTime& until = CivilTime{}) {
    recur::Rule rule;
    std::string why;
    EXPECT_TRUE(pimfmt::DayRuleOfRRule(text, kWed, until, rule, why)) << text << ": " << why;
    return rule;
}

std::string WhyNot(const std::string& text, const CivilTime& until = CivilTime{}) {
    recur::Rule rule;
    std::string why;
    EXPECT_FALSE(pimfmt::DayRuleOfRRule(text, kWed, until, rule, why)) << text;
    return why;
}

std::int64_t Day(int y, int m, int d) { return recur::DayOf(y, m, d); }

TEST(DayRuleOfRRule, HeldRulesGiveTheDaysTheyName) {
    recur::Rule weekly = Held("FREQ=WEEKLY;INTERVAL=2;COUNT=5;BYDAY=MO,WE");
    EXPECT_EQ(weekly.frequency, recur::Frequency::kWeekly);
    EXPECT_EQ(weekly.dayMask, 0x0A);
    EXPECT_EQ(weekly.startDay, Day(2024, 3, 13));
    EXPECT_EQ(recur::LastOccurrence(weekly), Day(2024, 4, 10));

    // Without BYDAY a weekly rule falls on the weekday of its first occurrence.
    EXPECT_EQ(Held("FREQ=WEEKLY").dayMask, 1 << 3);
    EXPECT_EQ(Held("FREQ=WEEKLY").end, recur::EndKind::kNever);
    recur::Rule weekdays = Held("FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR");
    EXPECT_EQ(weekdays.frequency, recur::Frequency::kWeekly);
    EXPECT_EQ(weekdays.dayMask, 0x3E);

    recur::Rule lastWed = Held("FREQ=MONTHLY;BYDAY=-1WE;COUNT=3");
    EXPECT_EQ(lastWed.frequency, recur::Frequency::kMonthNth);
    EXPECT_EQ(lastWed.instance, recur::kLastInstance);
    EXPECT_EQ(recur::OccurrenceDays(lastWed, 0, recur::kLastDay),
              (std::vector<std::int64_t>{Day(2024, 3, 27), Day(2024, 4, 24), Day(2024, 5, 29)}));
    recur::Rule yearly = Held("FREQ=YEARLY;INTERVAL=2;COUNT=3");
    EXPECT_EQ(yearly.monthOfYear, 3);
    EXPECT_EQ(yearly.dayOfMonth, 13);
    EXPECT_EQ(recur::LastOccurrence(yearly), Day(2028, 3, 13));
}

TEST(DayRuleOfRRule, UntilIsTheLastDayUnlessItComesBeforeTheSeriesTime) {
    recur::Rule atTime = Held("FREQ=DAILY;UNTIL=20240316T083000Z", CivilTime{2024, 3, 16, 9, 30});
    EXPECT_EQ(atTime.end, recur::EndKind::kByDate);
    EXPECT_EQ(pimfmt::OccurrenceCount(atTime), 4);
    recur::Rule before = Held("FREQ=DAILY;UNTIL=20240316T070000Z", CivilTime{2024, 3, 16, 8, 0});
    EXPECT_EQ(recur::LastOccurrence(before), Day(2024, 3, 15));
    EXPECT_EQ(WhyNot("FREQ=DAILY;UNTIL=20240313T070000Z", CivilTime{2024, 3, 13, 8, 0}),
              "a rule without occurrences (ends before its first occurrence)");
    EXPECT_EQ(WhyNot("FREQ=DAILY;UNTIL=20270101T000000Z", CivilTime{2027, 1, 1, 1, 0}),
              "more than 999 occurrences");
}

TEST(DayRuleOfRRule, RulesNeitherStoreHoldsSayWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"FREQ=HOURLY", "rules more frequent than daily"},
        {"not a rule", "the rule cannot be read"},
        {"FREQ=MONTHLY;BYMONTHDAY=31", "month days other than one day 1-28"},
        {"FREQ=YEARLY;BYMONTH=1,7", "several months"},
        {"FREQ=YEARLY;BYMONTH=7", "a yearly rule in another month than the first occurrence"},
        {"FREQ=WEEKLY;INTERVAL=2;WKST=SU;BYDAY=SU,WE",
         "weeks that begin on a day other than Monday"},
        {"FREQ=DAILY;BYHOUR=9,17", "rules by hour, minute, second, year day or week number"},
        {"FREQ=DAILY;COUNT=1000", "more than 999 occurrences"},
        {"FREQ=MONTHLY;BYDAY=1MO,3MO", "several numbered weekdays"},
        {"FREQ=MONTHLY;BYDAY=MO", "weekdays of a month without a position"},
    };
    for (auto [rule, why] : cases) EXPECT_EQ(WhyNot(rule), why) << rule;
}

TEST(RRuleOfDayRule, WritesTheRuleItWasReadFrom) {
    for (const char* text :
         {"FREQ=WEEKLY;COUNT=5;INTERVAL=2;BYDAY=MO,WE", "FREQ=DAILY;COUNT=4;INTERVAL=3",
          "FREQ=MONTHLY;COUNT=3;BYDAY=WE;BYSETPOS=-1", "FREQ=MONTHLY;COUNT=6;BYMONTHDAY=13",
          "FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=13",
          "FREQ=YEARLY;COUNT=2;BYMONTH=3;BYDAY=WE;BYSETPOS=2",
          "FREQ=YEARLY;COUNT=3;INTERVAL=2;BYMONTH=3;BYMONTHDAY=13"})
        EXPECT_EQ(pimfmt::RRuleOfDayRule(Held(text), ""), text);
    recur::Rule until = Held("FREQ=DAILY;UNTIL=20240316T083000Z", CivilTime{2024, 3, 16, 9, 30});
    EXPECT_EQ(pimfmt::RRuleOfDayRule(until, "20240316T083000Z"),
              "FREQ=DAILY;UNTIL=20240316T083000Z");
}

TEST(UntilOfRRule, KeepsTheFormItWasWrittenIn) {
    pimfmt::RecordTime utc = pimfmt::UntilOfRRule("FREQ=DAILY;UNTIL=20240316T083000Z");
    EXPECT_EQ(utc.form, pimfmt::TimeForm::kUtc);
    EXPECT_EQ(utc.time, (CivilTime{2024, 3, 16, 8, 30, 0}));
    EXPECT_EQ(pimfmt::UntilOfRRule("FREQ=DAILY;UNTIL=20240316").form, pimfmt::TimeForm::kDate);
    EXPECT_EQ(pimfmt::UntilOfRRule("FREQ=DAILY;UNTIL=20240316T083000").form,
              pimfmt::TimeForm::kFloating);
    EXPECT_FALSE(pimfmt::UntilOfRRule("FREQ=DAILY;COUNT=2").IsSet());
}

}  // namespace
