#include "common/recurrence/recurrence_rule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using recur::DayOf;
using recur::EndKind;
using recur::Frequency;
using recur::Rule;

std::string Text(std::int64_t day) {
    recur::CivilDate d = recur::DateOf(day);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

std::string Days(const Rule& r, std::int64_t from, std::int64_t to) {
    std::string out;
    for (std::int64_t d : recur::OccurrenceDays(r, from, to))
        out += (out.empty() ? "" : " ") + Text(d);
    return out;
}

Rule Make(Frequency f, int y, int m, int d) {
    Rule r;
    r.frequency = f;
    r.startDay = DayOf(y, m, d);
    return r;
}

}  // namespace

TEST(CivilDays, CountedFrom1601) {
    EXPECT_EQ(0, DayOf(1601, 1, 1));
    EXPECT_EQ(1, recur::WeekdayOf(0));  // a Monday
    EXPECT_EQ(recur::kLastDay, DayOf(4500, 12, 31));
    EXPECT_EQ("2024-02-29", Text(DayOf(2024, 2, 29)));
    EXPECT_EQ(29, recur::DaysInMonth(2000, 2));
    EXPECT_EQ(28, recur::DaysInMonth(1900, 2));
    EXPECT_EQ(0, recur::DaysInMonth(2000, 13));
    // 2007-03-26, the start of a published weekly example, was a Monday.
    EXPECT_EQ(1, recur::WeekdayOf(DayOf(2007, 3, 26)));
    for (std::int64_t day : {0L, 1L, 59L, 60L, 146096L, 146097L, 500000L, recur::kLastDay})
        EXPECT_EQ(day, DayOf(recur::DateOf(day)));
}

TEST(RecurrenceRule, EveryKind) {
    Rule daily = Make(Frequency::kDaily, 2011, 4, 7);
    daily.interval = 3;
    daily.end = EndKind::kByDate;
    daily.endDay = DayOf(2011, 5, 4);
    EXPECT_EQ(
        "2011-04-07 2011-04-10 2011-04-13 2011-04-16 2011-04-19 2011-04-22 2011-04-25 "
        "2011-04-28 2011-05-01 2011-05-04",
        Days(daily, 0, recur::kLastDay));

    // Monday, Thursday and Friday, 12 times: the last is 2007-04-20.
    Rule weekly = Make(Frequency::kWeekly, 2007, 3, 26);
    weekly.dayMask = 0x32;
    weekly.end = EndKind::kAfterCount;
    weekly.count = 12;
    EXPECT_EQ(DayOf(2007, 4, 20), recur::LastOccurrence(weekly));
    EXPECT_EQ("2007-03-26 2007-03-29 2007-03-30 2007-04-02", Days(weekly, 0, DayOf(2007, 4, 2)));

    // Every 2 weeks on Tuesday, Thursday and Friday from a Friday: the days before
    // it in its week are not the series'; weeks begin on Monday, so the Sunday of a
    // mask belongs to the week before the next Monday.
    Rule biweekly = Make(Frequency::kWeekly, 2015, 2, 27);
    biweekly.interval = 2;
    biweekly.dayMask = 0x34;
    EXPECT_EQ("2015-02-27 2015-03-10 2015-03-12 2015-03-13", Days(biweekly, 0, DayOf(2015, 3, 14)));
    Rule sunday = Make(Frequency::kWeekly, 2024, 1, 1);  // a Monday
    sunday.interval = 2;
    sunday.dayMask = 0x03;  // Sunday and Monday
    EXPECT_EQ("2024-01-01 2024-01-07 2024-01-15 2024-01-21", Days(sunday, 0, DayOf(2024, 1, 21)));

    // Every 3 months on the third weekend day, 10 times: the 10th is 2010-05-08.
    Rule nth = Make(Frequency::kMonthNth, 2008, 2, 9);
    nth.interval = 3;
    nth.dayMask = 0x41;
    nth.instance = 3;
    nth.end = EndKind::kAfterCount;
    nth.count = 10;
    EXPECT_EQ(DayOf(2010, 5, 8), recur::LastOccurrence(nth));
    EXPECT_EQ("2008-02-09 2008-05-10 2008-08-09 2008-11-08", Days(nth, 0, DayOf(2008, 12, 31)));

    // Day 31 falls on the last day of shorter months; the last Friday of a month.
    Rule monthly = Make(Frequency::kMonthly, 2024, 1, 31);
    monthly.dayOfMonth = 31;
    EXPECT_EQ("2024-01-31 2024-02-29 2024-03-31 2024-04-30", Days(monthly, 0, DayOf(2024, 4, 30)));
    Rule last = Make(Frequency::kMonthNth, 2024, 1, 1);
    last.dayMask = 0x20;
    last.instance = recur::kLastInstance;
    EXPECT_EQ("2024-01-26 2024-02-23 2024-03-29", Days(last, 0, DayOf(2024, 3, 31)));

    // Yearly on 29 February, and the third Friday of February every other year.
    Rule leap = Make(Frequency::kYearly, 2024, 2, 29);
    leap.monthOfYear = 2;
    leap.dayOfMonth = 29;
    EXPECT_EQ("2024-02-29 2025-02-28 2026-02-28 2027-02-28 2028-02-29",
              Days(leap, 0, DayOf(2028, 12, 31)));
    Rule yearNth = Make(Frequency::kYearNth, 2015, 2, 20);
    yearNth.interval = 2;
    yearNth.monthOfYear = 2;
    yearNth.dayMask = 0x20;
    yearNth.instance = 3;
    EXPECT_EQ("2015-02-20 2017-02-17 2019-02-15", Days(yearNth, 0, DayOf(2019, 12, 31)));
    // A start after the day of its first year: the series begins a year later.
    Rule late = Make(Frequency::kYearly, 2024, 7, 1);
    late.monthOfYear = 6;
    late.dayOfMonth = 15;
    EXPECT_EQ(DayOf(2025, 6, 15), recur::FirstOccurrence(late));
}

TEST(RecurrenceRule, RangesFarFromTheStartAndTheEnds) {
    Rule daily = Make(Frequency::kDaily, 1700, 1, 1);
    daily.interval = 7;
    // 1700-01-01 was a Friday: every Friday up to now.
    EXPECT_EQ("2024-01-05 2024-01-12", Days(daily, DayOf(2024, 1, 1), DayOf(2024, 1, 14)));
    EXPECT_TRUE(recur::IsOccurrence(daily, DayOf(2024, 1, 12)));
    EXPECT_FALSE(recur::IsOccurrence(daily, DayOf(2024, 1, 13)));
    EXPECT_FALSE(recur::LastOccurrence(daily).has_value());  // no end
    daily.end = EndKind::kByDate;
    daily.endDay = DayOf(4500, 12, 30);
    EXPECT_EQ(DayOf(4500, 12, 24), recur::LastOccurrence(daily));  // the last Friday before
    // An endless monthly series ends with the last day the system keeps.
    Rule monthly = Make(Frequency::kMonthly, 4500, 11, 1);
    monthly.dayOfMonth = 1;
    EXPECT_EQ("4500-11-01 4500-12-01", Days(monthly, 0, recur::kLastDay + 100));
    EXPECT_EQ(3U, recur::OccurrenceDays(daily, 0, recur::kLastDay, 3).size());  // at most 3
    EXPECT_TRUE(recur::OccurrenceDays(monthly, 10, 5).empty());
}

TEST(RecurrenceRule, RulesThatDescribeNoOccurrence) {
    Rule ok = Make(Frequency::kWeekly, 2024, 3, 4);
    ok.dayMask = 0x02;
    EXPECT_FALSE(recur::RuleProblem(ok));
    auto problem = [&](auto change) {
        Rule r = ok;
        change(r);
        std::optional<std::string> p = recur::RuleProblem(r);
        EXPECT_TRUE(recur::OccurrenceDays(r, 0, recur::kLastDay).empty());
        EXPECT_FALSE(recur::FirstOccurrence(r));
        return p.value_or("");
    };
    EXPECT_EQ("interval 0", problem([](Rule& r) { r.interval = 0; }));
    EXPECT_EQ("interval -2", problem([](Rule& r) { r.interval = -2; }));
    EXPECT_EQ("interval above 999", problem([](Rule& r) { r.interval = 1000; }));
    EXPECT_EQ("no weekday", problem([](Rule& r) { r.dayMask = 0; }));
    EXPECT_EQ("day mask out of range", problem([](Rule& r) { r.dayMask = 0x82; }));
    EXPECT_EQ("count 0", problem([](Rule& r) { r.end = EndKind::kAfterCount; }));
    EXPECT_EQ("more than 999 occurrences", problem([](Rule& r) {
                  r.end = EndKind::kAfterCount;
                  r.count = 1000;
              }));
    EXPECT_EQ("ends before its first occurrence", problem([](Rule& r) {
                  r.end = EndKind::kByDate;
                  r.endDay = r.startDay - 1;
              }));
    // The first Monday is 4 March; an end on the Sunday before the next one is fine,
    // one on the day before the first Monday is not.
    EXPECT_EQ("ends before its first occurrence", problem([](Rule& r) {
                  r.startDay = DayOf(2024, 3, 5);
                  r.end = EndKind::kByDate;
                  r.endDay = DayOf(2024, 3, 10);
              }));
    EXPECT_EQ("week of the month 0", problem([](Rule& r) { r.frequency = Frequency::kMonthNth; }));
    EXPECT_EQ("week of the month 6", problem([](Rule& r) {
                  r.frequency = Frequency::kMonthNth;
                  r.instance = 6;
              }));
    EXPECT_EQ("day of the month 32", problem([](Rule& r) {
                  r.frequency = Frequency::kMonthly;
                  r.dayOfMonth = 32;
              }));
    EXPECT_EQ("month 13", problem([](Rule& r) {
                  r.frequency = Frequency::kYearly;
                  r.dayOfMonth = 1;
                  r.monthOfYear = 13;
              }));
    EXPECT_EQ("start out of range", problem([](Rule& r) { r.startDay = -1; }));
    EXPECT_EQ("unknown recurrence type",
              problem([](Rule& r) { r.frequency = static_cast<Frequency>(4); }));
    EXPECT_EQ("no occurrence before 4501", problem([](Rule& r) {
                  r.frequency = Frequency::kYearly;
                  r.monthOfYear = 1;
                  r.dayOfMonth = 1;
                  r.startDay = DayOf(4500, 6, 1);
              }));
}

TEST(RecurrenceRule, RuleFieldsCopyToAndFromAPatternByName) {
    // A pattern that names the fields in its own order, with one field of its own.
    struct Pattern {
        int month = 0, day = 0, nth = 0, mask = 0, every = 0, own = 0;
    };
    const recur::RuleFieldMembers<Pattern> members = {
        &Pattern::every, &Pattern::mask, &Pattern::nth, &Pattern::day, &Pattern::month};
    Rule rule = Make(Frequency::kYearNth, 2024, 11, 30);
    rule.interval = 2;
    rule.dayMask = 0x41;
    rule.instance = 5;
    rule.dayOfMonth = 13;
    rule.monthOfYear = 11;
    Pattern p;
    p.own = 9;
    recur::CopyRuleFields(rule, p, members);
    EXPECT_EQ(2, p.every);
    EXPECT_EQ(0x41, p.mask);
    EXPECT_EQ(5, p.nth);
    EXPECT_EQ(13, p.day);
    EXPECT_EQ(11, p.month);
    EXPECT_EQ(9, p.own);

    Rule back;
    back.startDay = 7;
    recur::CopyRuleFields(p, back, members);
    EXPECT_EQ(7, back.startDay);  // not a rule field of the pattern
    back.startDay = rule.startDay;
    back.frequency = rule.frequency;
    EXPECT_EQ(rule, back);
}

TEST(CivilDays, DatesOutsideTheirRangesRunOnAndSecondsSplitByFloor) {
    EXPECT_EQ(DayOf(2010, 1, 1), recur::DayOfAnyDate(2009, 13, 1));
    EXPECT_EQ(DayOf(2008, 12, 1), recur::DayOfAnyDate(2009, 0, 1));
    EXPECT_EQ(DayOf(2007, 11, 15), recur::DayOfAnyDate(2009, -13, 15));
    EXPECT_EQ(DayOf(2009, 3, 12), recur::DayOfAnyDate(2009, 2, 40));
    EXPECT_EQ(DayOf(2008, 12, 31), recur::DayOfAnyDate(2009, 1, 0));
    EXPECT_EQ(DayOf(2009, 3, 1) - 30, recur::DayOfAnyDate(2009, 3, -29));
    EXPECT_EQ(-1, recur::DayOfAnyDate(1600, 12, 31));

    recur::DayAndTime t = recur::SplitSeconds(2 * 86400 + 3 * 3600 + 4 * 60 + 5);
    EXPECT_EQ(2, t.day);
    EXPECT_EQ(3, t.hour);
    EXPECT_EQ(4, t.minute);
    EXPECT_EQ(5, t.second);
    t = recur::SplitSeconds(-1);  // the last second of the day before
    EXPECT_EQ(-1, t.day);
    EXPECT_EQ(23, t.hour);
    EXPECT_EQ(59, t.minute);
    EXPECT_EQ(59, t.second);
    t = recur::SplitSeconds(-86400);
    EXPECT_EQ(-1, t.day);
    EXPECT_EQ(0, t.hour + t.minute + t.second);
}
