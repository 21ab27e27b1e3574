// Civil time arithmetic and zones.
#include "common/formats/civil_time.h"

#include <libical/ical.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "common/recurrence/recurrence_rule.h"

namespace pimfmt {

std::string PimRecord::Text(const std::string& field) const {
    auto it = text.find(field);
    return it == text.end() ? std::string() : it->second;
}

void PimRecord::SetText(const std::string& field, const std::string& value) {
    if (value.empty())
        text.erase(field);
    else
        text[field] = value;
}

void PimRecord::Drop(const std::string& what) {
    for (const std::string& d : dropped)
        if (d == what) return;
    dropped.push_back(what);
}

namespace {

// Day 0 of recurrence_rule.h is 1601-01-01; ours is 1970-01-01. Asked on first
// use: a constant of this file could be made before the other file's.
std::int64_t Day1970() {
    static const std::int64_t day = recur::DayOf(1970, 1, 1);
    return day;
}

}  // namespace

std::int64_t DaysFromCivil(int year, int month, int day) {
    return recur::DayOfAnyDate(year, month, day) - Day1970();
}

CivilTime CivilFromDays(std::int64_t days) {
    recur::CivilDate d = recur::DateOf(days + Day1970());
    return CivilTime{d.year, d.month, d.day};
}

int WeekdayOf(const CivilTime& t) { return recur::WeekdayOf(recur::DayOf(t.year, t.month, t.day)); }

int DaysInMonth(int year, int month) { return recur::DaysInMonth(year, month); }

std::int64_t SecondsOf(const CivilTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

CivilTime CivilFromSeconds(std::int64_t s) {
    const recur::DayAndTime split = recur::SplitSeconds(s);
    const recur::CivilDate d = recur::DateOf(split.day + Day1970());
    return CivilTime{d.year, d.month, d.day, split.hour, split.minute, split.second};
}

std::string FormatBasic(const CivilTime& t, bool dateOnly) {
    char buf[32];
    if (dateOnly)
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year, t.month, t.day);
    else
        std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
    return buf;
}

std::optional<CivilTime> ParseBasic(const std::string& text, bool* dateOnly) {
    CivilTime t;
    auto digits = [&](std::size_t pos, std::size_t n, int& out) {
        if (pos + n > text.size()) return false;
        out = 0;
        for (std::size_t i = pos; i < pos + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    if (!digits(0, 4, t.year) || !digits(4, 2, t.month) || !digits(6, 2, t.day))
        return std::nullopt;
    bool date = text.size() == 8;
    if (!date && (text.size() < 15 || text[8] != 'T' || !digits(9, 2, t.hour) ||
                  !digits(11, 2, t.minute) || !digits(13, 2, t.second)))
        return std::nullopt;
    if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 60)
        return std::nullopt;
    if (dateOnly) *dateOnly = date;
    return t;
}

CivilTime Zone::ToLocal(const CivilTime& utc) const {
    std::int64_t s = SecondsOf(utc);
    return CivilFromSeconds(s + OffsetAt(s));
}

CivilTime Zone::ToUtc(const CivilTime& local) const {
    std::int64_t wall = SecondsOf(local);
    // The offset a day before decides a skipped time; the earlier of two fits wins.
    int before = OffsetAt(wall - 86400);
    int after = OffsetAt(wall + 86400);
    std::int64_t first = wall - before;
    if (OffsetAt(first) == before) return CivilFromSeconds(first);
    std::int64_t second = wall - after;
    if (OffsetAt(second) == after) return CivilFromSeconds(second);
    return CivilFromSeconds(first);
}

namespace {

class IcalZone final : public Zone {
public:
    IcalZone(icaltimezone* zone, std::string name) : zone_(zone), name_(std::move(name)) {}
    int OffsetAt(std::int64_t utcSeconds) const override {
        if (zone_ == nullptr) return 0;
        CivilTime t = CivilFromSeconds(utcSeconds);
        icaltimetype tt = icaltime_null_time();
        tt.year = t.year;
        tt.month = t.month;
        tt.day = t.day;
        tt.hour = t.hour;
        tt.minute = t.minute;
        tt.second = t.second;
        int daylight = 0;
        return icaltimezone_get_utc_offset_of_utc_time(zone_, &tt, &daylight);
    }
    const std::string& name() const override { return name_; }

private:
    icaltimezone* zone_;
    std::string name_;
};

class RuleZone final : public Zone {
public:
    RuleZone(const ZoneRule& rule, std::string name) : rule_(rule), name_(std::move(name)) {}
    int OffsetAt(std::int64_t utcSeconds) const override {
        if (!rule_.daylight) return rule_.standardOffset;
        CivilTime local = CivilFromSeconds(utcSeconds + rule_.standardOffset);
        std::int64_t toDst = Change(local.year, rule_.toDaylightMonth, rule_.toDaylightWeekday,
                                    rule_.toDaylightWeek, rule_.toDaylightMinute) -
                             rule_.standardOffset;
        std::int64_t toStd = Change(local.year, rule_.toStandardMonth, rule_.toStandardWeekday,
                                    rule_.toStandardWeek, rule_.toStandardMinute) -
                             rule_.daylightOffset;
        bool dst = toDst < toStd ? (utcSeconds >= toDst && utcSeconds < toStd)
                                 : (utcSeconds >= toDst || utcSeconds < toStd);
        return dst ? rule_.daylightOffset : rule_.standardOffset;
    }
    const std::string& name() const override { return name_; }

    // Local seconds of the change in a year.
    static std::int64_t Change(int year, int month, int weekday, int week, int minute) {
        int day;
        if (week < 0) {
            int last = DaysInMonth(year, month);
            int wd = WeekdayOf(CivilTime{year, month, last});
            day = last - ((wd - weekday + 7) % 7);
        } else {
            int wd = WeekdayOf(CivilTime{year, month, 1});
            day = 1 + ((weekday - wd + 7) % 7) + 7 * (week - 1);
            while (day > DaysInMonth(year, month)) day -= 7;
        }
        return DaysFromCivil(year, month, day) * 86400 + minute * 60;
    }

private:
    ZoneRule rule_;
    std::string name_;
};

std::string ReadFirstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

const Zone* FindIanaZone(const std::string& name) {
    static std::map<std::string, std::unique_ptr<IcalZone>> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return it->second.get();
    if (name == "UTC" || name == "Etc/UTC" || name == "Z") {
        auto z = std::make_unique<IcalZone>(icaltimezone_get_utc_timezone(), name);
        return cache.emplace(name, std::move(z)).first->second.get();
    }
    icaltimezone* zone = icaltimezone_get_builtin_timezone(name.c_str());
    if (zone == nullptr) return nullptr;
    auto z = std::make_unique<IcalZone>(zone, name);
    return cache.emplace(name, std::move(z)).first->second.get();
}

std::string LocalZoneName() {
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        std::string name = tz[0] == ':' ? tz + 1 : tz;
        std::size_t pos = name.find("zoneinfo/");
        if (pos != std::string::npos) name = name.substr(pos + 9);
        if (FindIanaZone(name)) return name;
        return "UTC";
    }
    std::string line = ReadFirstLine("/etc/timezone");
    if (!line.empty() && FindIanaZone(line)) return line;
    char buf[512];
    ssize_t n = ::readlink("/etc/localtime", buf, sizeof buf - 1);
    if (n > 0) {
        std::string target(buf, static_cast<std::size_t>(n));
        std::size_t pos = target.find("zoneinfo/");
        if (pos != std::string::npos) {
            std::string name = target.substr(pos + 9);
            if (FindIanaZone(name)) return name;
        }
    }
    return "UTC";
}

const Zone& UtcZone() { return *FindIanaZone("UTC"); }

const Zone& LocalZone() {
    const Zone* z = FindIanaZone(LocalZoneName());
    return z ? *z : UtcZone();
}

struct FileZones::Entry {
    icaltimezone* zone = nullptr;
    std::unique_ptr<IcalZone> wrapper;
    ~Entry() {
        if (zone) icaltimezone_free(zone, 1);
    }
};

FileZones::FileZones() = default;
FileZones::~FileZones() = default;

bool FileZones::Add(icalcomponent* vtimezone) {
    icalproperty* p = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY);
    if (p == nullptr || icalproperty_get_tzid(p) == nullptr) {
        icalcomponent_free(vtimezone);
        return false;
    }
    std::string tzid = icalproperty_get_tzid(p);
    auto entry = std::make_unique<Entry>();
    entry->zone = icaltimezone_new();
    if (!icaltimezone_set_component(entry->zone, vtimezone)) {
        icalcomponent_free(vtimezone);
        return false;
    }
    entry->wrapper = std::make_unique<IcalZone>(entry->zone, tzid);
    zones_[tzid] = std::move(entry);
    return true;
}

const Zone* FileZones::Find(const std::string& tzid) const {
    // An IANA name wins over a file's own rules of the same name: the zone data
    // knows every year, a file's VTIMEZONE often only the present rule.
    if (const Zone* z = FindIanaZone(tzid)) return z;
    auto it = zones_.find(tzid);
    if (it != zones_.end()) return it->second->wrapper.get();
    return nullptr;
}

ZoneRule RuleOfZone(const Zone& zone, int year) {
    ZoneRule r;
    std::int64_t start = DaysFromCivil(year, 1, 1) * 86400;
    std::int64_t end = DaysFromCivil(year + 1, 1, 1) * 86400;
    int jan = zone.OffsetAt(start), jul = zone.OffsetAt(DaysFromCivil(year, 7, 1) * 86400);
    // Find the changes of the year hour by hour, then to the minute.
    struct Change {
        std::int64_t at;
        int from, to;
    };
    std::vector<Change> changes;
    int prev = jan;
    for (std::int64_t t = start + 3600; t <= end; t += 3600) {
        int off = zone.OffsetAt(t);
        if (off == prev) continue;
        std::int64_t lo = t - 3600, hi = t;
        while (hi - lo > 60) {
            std::int64_t mid = lo + (hi - lo) / 2;
            if (zone.OffsetAt(mid) == prev)
                lo = mid;
            else
                hi = mid;
        }
        changes.push_back({hi, prev, off});
        prev = off;
    }
    if (changes.size() != 2) {
        r.standardOffset = zone.OffsetAt(end - 1);
        return r;
    }
    const Change& toDst = changes[0].to > changes[0].from ? changes[0] : changes[1];
    const Change& toStd = changes[0].to > changes[0].from ? changes[1] : changes[0];
    (void)jul;
    r.daylight = true;
    r.standardOffset = toDst.from;
    r.daylightOffset = toDst.to;
    auto describe = [&](const Change& c, int& month, int& weekday, int& week, int& minute) {
        CivilTime local = CivilFromSeconds(c.at + c.from);
        month = local.month;
        weekday = WeekdayOf(local);
        week = local.day + 7 > DaysInMonth(local.year, local.month) ? -1 : (local.day - 1) / 7 + 1;
        minute = local.hour * 60 + local.minute;
    };
    describe(toDst, r.toDaylightMonth, r.toDaylightWeekday, r.toDaylightWeek, r.toDaylightMinute);
    describe(toStd, r.toStandardMonth, r.toStandardWeekday, r.toStandardWeek, r.toStandardMinute);
    return r;
}

std::unique_ptr<Zone> ZoneOfRule(const ZoneRule& rule, const std::string& name) {
    return std::make_unique<RuleZone>(rule, name);
}

namespace {

std::string OffsetText(int seconds) {
    char buf[16];
    int m = seconds / 60;
    char sign = m < 0 ? '-' : '+';
    if (m < 0) m = -m;
    std::snprintf(buf, sizeof buf, "%c%02d%02d", sign, m / 60, m % 60);
    return buf;
}

std::string Observance(const char* kind, int from, int to, int month, int weekday, int week,
                       int minute) {
    static const char* const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
    std::int64_t local = RuleZone::Change(1970, month, weekday, week, minute);
    CivilTime start = CivilFromSeconds(local);
    std::string out = std::string("BEGIN:") + kind + "\r\n";
    out += "TZOFFSETFROM:" + OffsetText(from) + "\r\n";
    out += "TZOFFSETTO:" + OffsetText(to) + "\r\n";
    out += "DTSTART:" + FormatBasic(start, false) + "\r\n";
    out += "RRULE:FREQ=YEARLY;BYMONTH=" + std::to_string(month) + ";BYDAY=" + std::to_string(week) +
           kDays[weekday % 7] + "\r\n";
    out += std::string("END:") + kind + "\r\n";
    return out;
}

}  // namespace

std::string VTimezoneText(const std::string& tzid, const ZoneRule& r) {
    std::string out = "BEGIN:VTIMEZONE\r\n";
    out += "TZID:" + tzid + "\r\n";
    if (!r.daylight) {
        out += "BEGIN:STANDARD\r\n";
        out += "TZOFFSETFROM:" + OffsetText(r.standardOffset) + "\r\n";
        out += "TZOFFSETTO:" + OffsetText(r.standardOffset) + "\r\n";
        out += "DTSTART:19700101T000000\r\nEND:STANDARD\r\n";
    } else {
        out += Observance("DAYLIGHT", r.standardOffset, r.daylightOffset, r.toDaylightMonth,
                          r.toDaylightWeekday, r.toDaylightWeek, r.toDaylightMinute);
        out += Observance("STANDARD", r.daylightOffset, r.standardOffset, r.toStandardMonth,
                          r.toStandardWeekday, r.toStandardWeek, r.toStandardMinute);
    }
    out += "END:VTIMEZONE\r\n";
    return out;
}

}  // namespace pimfmt
