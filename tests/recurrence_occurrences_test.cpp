// The occurrences "skiff pim occurrences" lists for a series equal those of an
// independent expander, python3-dateutil's rrule, for the same rule: a year (eight
// for the yearly kinds) of each kind, in a zone with daylight saving time, with
// removed and moved occurrences (exdate and rdate of an rruleset), and series whose
// times fall on the changes themselves.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "tests/recurrence_sides.h"

namespace {

struct Series {
    std::string subject, start, end, recurrence;
    std::vector<std::string> removed;                        // original days
    std::vector<std::pair<std::string, std::string>> moved;  // day, new start
    std::string rule;  // the same series for dateutil, as JSON members
    std::string from, to;
};

// The expander: one JSON object per series in, the starts per subject out.
const char* kExpander = R"PY(
import json, sys
from datetime import datetime
from dateutil.rrule import rrule, rruleset, DAILY, WEEKLY, MONTHLY, YEARLY, MO, TU, WE, TH, FR, SA, SU
FREQ = {"DAILY": DAILY, "WEEKLY": WEEKLY, "MONTHLY": MONTHLY, "YEARLY": YEARLY}
DAYS = {"MO": MO, "TU": TU, "WE": WE, "TH": TH, "FR": FR, "SA": SA, "SU": SU}
def at(text):
    return datetime.strptime(text, "%Y-%m-%d %H:%M")
out = {}
for s in json.load(open(sys.argv[1])):
    kw = {"freq": FREQ[s["freq"]], "dtstart": at(s["dtstart"]), "wkst": MO}
    for key in ("interval", "bysetpos", "bymonthday", "bymonth", "count"):
        if key in s:
            kw[key] = s[key]
    if "byweekday" in s:
        kw["byweekday"] = [DAYS[d] for d in s["byweekday"]]
    if "until" in s:
        kw["until"] = at(s["until"])
    rules = rruleset()
    rules.rrule(rrule(**kw))
    for x in s.get("exdate", []):
        rules.exdate(at(x))
    for x in s.get("rdate", []):
        rules.rdate(at(x))
    found = rules.between(at(s["from"]), at(s["to"]), inc=True)
    out[s["subject"]] = [d.strftime("%Y-%m-%d %H:%M") for d in found]
print(json.dumps(out))
)PY";

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    ::pclose(pipe);
    return out;
}

}  // namespace

TEST(RecurrenceOccurrences, EqualDateutilsAcrossDaylightSavingTime) {
    // Europe/Berlin changes on 31 March and 27 October 2024.
    std::vector<Series> series = {
        {"daily",
         "2024-01-02 07:30",
         "2024-01-02 08:00",
         "daily;interval=3",
         {},
         {},
         R"("freq":"DAILY","interval":3)",
         "2024-01-01",
         "2024-12-31"},
        // Every other week on Monday, Thursday and Sunday; the Sunday of the change
        // to summer time moved into the afternoon, the Thursday before removed.
        {"weekly",
         "2024-01-01 10:00",
         "2024-01-01 10:30",
         "weekly;interval=2;on=mon,thu,sun;count=60",
         {"2024-03-28"},
         {{"2024-03-31", "2024-03-31 15:00"}},
         R"("freq":"WEEKLY","interval":2,"byweekday":["MO","TH","SU"],"count":60)",
         "2024-01-01",
         "2024-12-31"},
        // Day 31 falls on the last day of shorter months.
        {"monthly",
         "2024-01-31 09:00",
         "2024-01-31 09:45",
         "monthly;day=31;until=2024-12-31",
         {},
         {},
         R"("freq":"MONTHLY","bymonthday":[28,29,30,31],"bysetpos":-1,"until":"2024-12-31 23:59")",
         "2024-01-01",
         "2024-12-31"},
        {"monthly day",
         "2024-01-15 14:00",
         "2024-01-15 15:00",
         "monthly;interval=2;day=15",
         {"2024-05-15"},
         {},
         R"("freq":"MONTHLY","interval":2,"bymonthday":15)",
         "2024-01-01",
         "2024-12-31"},
        {"second tuesday",
         "2024-01-01 12:00",
         "2024-01-01 13:00",
         "monthnth;interval=2;on=tue;week=2",
         {},
         {},
         R"("freq":"MONTHLY","interval":2,"byweekday":["TU"],"bysetpos":2)",
         "2024-01-01",
         "2024-12-31"},
        {"last friday",
         "2024-01-01 18:00",
         "2024-01-01 19:00",
         "monthnth;on=fri;week=last",
         {},
         {{"2024-03-29", "2024-03-28 18:00"}},
         R"("freq":"MONTHLY","byweekday":["FR"],"bysetpos":-1)",
         "2024-01-01",
         "2024-12-31"},
        {"first weekend day",
         "2024-01-01 11:00",
         "2024-01-01 12:00",
         "monthnth;on=sat,sun;week=1;count=12",
         {},
         {},
         R"("freq":"MONTHLY","byweekday":["SA","SU"],"bysetpos":1,"count":12)",
         "2024-01-01",
         "2024-12-31"},
        // 29 February, on the 28th in other years.
        {"leap day",
         "2024-02-29 08:00",
         "2024-02-29 09:00",
         "yearly;month=2;day=29",
         {},
         {},
         R"("freq":"YEARLY","bymonth":2,"bymonthday":[28,29],"bysetpos":-1)",
         "2024-01-01",
         "2031-12-31"},
        // The night of the change to winter time, whose 02:30 comes twice, and
        // every other year the night of the change to summer time, whose 02:30 the
        // clock skips: the series keeps its wall-clock time.
        {"winter time",
         "2024-01-01 02:30",
         "2024-01-01 03:30",
         "yearnth;month=10;on=sun;week=last",
         {},
         {},
         R"("freq":"YEARLY","bymonth":10,"byweekday":["SU"],"bysetpos":-1)",
         "2024-01-01",
         "2031-12-31"},
        {"summer time",
         "2024-01-01 02:30",
         "2024-01-01 03:00",
         "yearnth;interval=2;month=3;on=sun;week=last",
         {},
         {},
         R"("freq":"YEARLY","interval":2,"bymonth":3,"byweekday":["SU"],"bysetpos":-1)",
         "2024-01-01",
         "2031-12-31"},
        {"yearly",
         "2024-06-15 09:00",
         "2024-06-15 17:00",
         "yearly;month=6;day=15;count=5",
         {"2026-06-15"},
         {},
         R"("freq":"YEARLY","bymonth":6,"bymonthday":15,"count":5)",
         "2024-01-01",
         "2031-12-31"},
    };

    RecurrenceSides handheld("Europe/Berlin");
    ASSERT_EQ("", handheld.Error());
    std::string seriesJson = "[";
    std::map<std::string, std::string> oids;
    for (const Series& s : series) {
        ProgramRun add =
            handheld.Skiff({"pim", "add", "calendar", "Subject=" + s.subject, "Start=" + s.start,
                            "End=" + s.end, "--recurrence", s.recurrence});
        ASSERT_EQ(0, add.status) << s.subject << ": " << add.err;
        oids[s.subject] = add.out.substr(0, add.out.find('\n'));
        std::string time = s.start.substr(10);
        std::string exdates, rdates;
        for (const std::string& day : s.removed) {
            ASSERT_EQ(
                0, handheld.Skiff({"pim", "occurrence", oids[s.subject], day, "--delete"}).status)
                << s.subject << " " << day;
            exdates += (exdates.empty() ? "" : ",") + Quoted(day + time);
        }
        for (const auto& [day, start] : s.moved) {
            ProgramRun move =
                handheld.Skiff({"pim", "occurrence", oids[s.subject], day, "Start=" + start});
            ASSERT_EQ(0, move.status) << s.subject << " " << day << ": " << move.err;
            exdates += (exdates.empty() ? "" : ",") + Quoted(day + time);
            rdates += (rdates.empty() ? "" : ",") + Quoted(start);
        }
        seriesJson += std::string(seriesJson.size() > 1 ? "," : "") +
                      "{\"subject\":" + Quoted(s.subject) + ",\"dtstart\":" + Quoted(s.start) +
                      "," + s.rule + ",\"exdate\":[" + exdates + "],\"rdate\":[" + rdates +
                      "],\"from\":" + Quoted(s.from + " 00:00") +
                      ",\"to\":" + Quoted(s.to + " 23:59") + "}";
    }
    seriesJson += "]";

    TempFolder temp;
    std::string seriesPath = temp.Path() + "/series.json", scriptPath = temp.Path() + "/expand.py";
    std::ofstream(seriesPath) << seriesJson;
    std::ofstream(scriptPath) << kExpander;
    std::string expanded = Shell("/usr/bin/python3 " + scriptPath + " " + seriesPath + " 2>&1");
    std::optional<JsonValue> expected = ParseJson(expanded);
    ASSERT_TRUE(expected && expected->type == JsonValue::Type::kObject)
        << "python3 with python3-dateutil (scripts/install-deps.sh test) gave: " << expanded;

    for (const Series& s : series) {
        SCOPED_TRACE(s.subject);
        std::vector<std::string> want;
        if (const JsonValue* starts = expected->Find(s.subject)) {
            for (const JsonValue& start : starts->items) want.push_back(start.text);
        }
        std::vector<std::string> got;
        for (const std::string& o : handheld.HandheldOccurrences(oids[s.subject], s.from, s.to))
            got.push_back(o.substr(0, 16));
        EXPECT_FALSE(want.empty());
        EXPECT_EQ(want, got);
    }
}
