// Text form of handheld recurrences.
#include "client/recurrence_text.h"

#include <strings.h>

#include <cstdio>
#include <vector>

#include "client/value_forms.h"
#include "platform/pocketoutlook/ole_date.h"

namespace {

struct Kind {
    const char* name;
    int type;
};
constexpr Kind kKinds[] = {{"daily", olRecursDaily},     {"weekly", olRecursWeekly},
                           {"monthly", olRecursMonthly}, {"monthnth", olRecursMonthNth},
                           {"yearly", olRecursYearly},   {"yearnth", olRecursYearNth}};
constexpr const char* kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

bool Same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A whole number in [low, high]; false for anything else.
bool Number(std::string_view text, long low, long high, long& out) {
    text = Trim(text);
    if (text.empty() || text.size() > 9) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
    }
    out = ParseDecimal(text);
    return out >= low && out <= high;
}

bool Flag(std::string_view text, bool& out) {
    text = Trim(text);
    if (text == "1" || text == "-1" || Same(text, "true")) {
        out = true;
    } else if (text == "0" || Same(text, "false")) {
        out = false;
    } else {
        return false;
    }
    return true;
}

// Splits at ";" that are not escaped; "\;" and "\\" stand for ";" and "\".
std::vector<std::string> SplitEscaped(std::string_view text) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            parts.back() += text[++i];
        } else if (text[i] == ';') {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ';' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

bool ParseDays(std::string_view text, int& mask) {
    mask = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        std::string_view day = Trim(text.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
        bool found = false;
        for (int d = 0; d < 7; ++d) {
            if (Same(day, kDays[d])) {
                mask |= 1 << d;
                found = true;
            }
        }
        if (!found) return false;
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    return mask != 0;
}

std::string Days(int mask) {
    std::string out;
    // Monday first, as the week runs.
    for (int i = 1; i <= 7; ++i) {
        int d = i % 7;
        if ((mask >> d) & 1) out += (out.empty() ? "" : ",") + std::string(kDays[d]);
    }
    return out;
}

}  // namespace

bool ParseUserDate(std::string_view text, double& date) {
    text = Trim(text);
    if (ParseDate(text, date)) return true;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    std::string copy(text);
    int n = std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
    if (n != 3 && n != 5 && n != 6) return false;
    if (y < 1601) return false;
    double value = 0;
    if (!OleDateFromFields(y, mo, d, h, mi, s, value)) return false;
    date = value;
    return true;
}

std::string FormatUserDate(double date, bool dateOnly) {
    SYSTEMTIME t;
    if (!VariantTimeToSystemTime(date, &t)) return "?";
    char buf[64];
    if (dateOnly) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.wYear, t.wMonth, t.wDay);
    } else if (t.wSecond != 0) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                      t.wHour, t.wMinute, t.wSecond);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.wYear, t.wMonth, t.wDay,
                      t.wHour, t.wMinute);
    }
    return buf;
}

std::string FormatRecurrencePattern(const PimRecurrencePattern& p) {
    std::string out = "?";
    for (const Kind& k : kKinds) {
        if (k.type == p.recurrenceType) out = k.name;
    }
    out += ";interval=" + std::to_string(p.interval);
    bool nth = p.recurrenceType == olRecursMonthNth || p.recurrenceType == olRecursYearNth;
    if (p.recurrenceType == olRecursWeekly || nth) out += ";on=" + Days(p.dayOfWeekMask);
    if (nth) out += ";week=" + (p.instance == 5 ? std::string("last") : std::to_string(p.instance));
    if (p.recurrenceType == olRecursMonthly || p.recurrenceType == olRecursYearly)
        out += ";day=" + std::to_string(p.dayOfMonth);
    if (p.recurrenceType == olRecursYearly || p.recurrenceType == olRecursYearNth)
        out += ";month=" + std::to_string(p.monthOfYear);
    out += ";start=" + FormatUserDate(p.patternStartDate, true);
    if (p.end == PimRecurrenceEnd::kAfterCount) out += ";count=" + std::to_string(p.occurrences);
    if (p.end == PimRecurrenceEnd::kByDate)
        out += ";until=" + FormatUserDate(p.patternEndDate, true);
    return out;
}

bool ParseRecurrencePattern(std::string_view text, double defaultStart, PimRecurrencePattern& out,
                            std::string& error) {
    std::vector<std::string> parts = SplitEscaped(text);
    PimRecurrencePattern p;
    p.patternStartDate = defaultStart;
    bool kind = false;
    for (const Kind& k : kKinds) {
        if (Same(Trim(parts[0]), k.name)) {
            p.recurrenceType = k.type;
            kind = true;
        }
    }
    if (!kind) {
        error = "unknown recurrence kind: " + std::string(Trim(parts[0])) +
                " (daily, weekly, monthly, monthnth, yearly or yearnth)";
        return false;
    }
    bool count = false, until = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        std::string_view part = Trim(parts[i]);
        if (part.empty()) continue;
        size_t eq = part.find('=');
        std::string_view name = Trim(part.substr(0, eq));
        std::string_view value = eq == std::string_view::npos ? "" : Trim(part.substr(eq + 1));
        long n = 0;
        bool ok = eq != std::string_view::npos;
        if (!ok) {
        } else if (Same(name, "interval")) {
            ok = Number(value, 1, recur::kMaxInterval, n);
            p.interval = static_cast<int>(n);
        } else if (Same(name, "on")) {
            ok = ParseDays(value, p.dayOfWeekMask);
        } else if (Same(name, "week")) {
            if (Same(value, "last")) {
                p.instance = recur::kLastInstance;
            } else {
                ok = Number(value, 1, 4, n);
                p.instance = static_cast<int>(n);
            }
        } else if (Same(name, "day")) {
            ok = Number(value, 1, 31, n);
            p.dayOfMonth = static_cast<int>(n);
        } else if (Same(name, "month")) {
            ok = Number(value, 1, 12, n);
            p.monthOfYear = static_cast<int>(n);
        } else if (Same(name, "start")) {
            ok = ParseUserDate(value, p.patternStartDate);
        } else if (Same(name, "count")) {
            ok = Number(value, 1, recur::kMaxCount, n);
            p.occurrences = static_cast<int>(n);
            p.end = PimRecurrenceEnd::kAfterCount;
            count = true;
        } else if (Same(name, "last")) {
            // The last day of a series that ends after its count, as shown: derived.
        } else if (Same(name, "until")) {
            ok = ParseUserDate(value, p.patternEndDate);
            p.end = PimRecurrenceEnd::kByDate;
            until = true;
        } else {
            error = "unknown recurrence setting: " + std::string(name);
            return false;
        }
        if (!ok) {
            error = "bad recurrence setting: " + std::string(part);
            return false;
        }
    }
    if (count && until) {
        error = "a recurrence ends after a count or on a date, not both";
        return false;
    }
    out = p;
    return true;
}

std::string FormatException(const PimException& e) {
    std::string out = FormatUserDate(e.originalDate);
    if (e.deleted) return out + " deleted";
    std::vector<std::string> fields;
    if (e.start) fields.push_back("Start=" + FormatUserDate(*e.start));
    if (e.end) fields.push_back("End=" + FormatUserDate(*e.end));
    if (e.subject) fields.push_back("Subject=" + Escaped(*e.subject));
    if (e.location) fields.push_back("Location=" + Escaped(*e.location));
    if (e.reminderSet) fields.push_back(std::string("ReminderSet=") + (*e.reminderSet ? "1" : "0"));
    if (e.reminderMinutesBeforeStart)
        fields.push_back("ReminderMinutesBeforeStart=" +
                         std::to_string(*e.reminderMinutesBeforeStart));
    if (e.busyStatus) fields.push_back("BusyStatus=" + std::to_string(*e.busyStatus));
    if (e.allDayEvent) fields.push_back(std::string("AllDayEvent=") + (*e.allDayEvent ? "1" : "0"));
    out += " ";
    for (size_t i = 0; i < fields.size(); ++i) out += (i ? ";" : "") + fields[i];
    return out;
}

bool ApplyExceptionField(std::string_view name, std::string_view value, PimException& e,
                         std::string& error) {
    bool ok = true;
    long n = 0;
    bool flag = false;
    double date = 0;
    if (Same(name, "Start")) {
        ok = ParseUserDate(value, date);
        e.start = date;
    } else if (Same(name, "End")) {
        ok = ParseUserDate(value, date);
        e.end = date;
    } else if (Same(name, "Subject")) {
        e.subject = std::string(value);
    } else if (Same(name, "Location")) {
        e.location = std::string(value);
    } else if (Same(name, "ReminderSet")) {
        ok = Flag(value, flag);
        e.reminderSet = flag;
    } else if (Same(name, "ReminderMinutesBeforeStart")) {
        ok = Number(value, 0, 99999999, n);
        e.reminderMinutesBeforeStart = n;
    } else if (Same(name, "BusyStatus")) {
        ok = Number(value, 0, 3, n);
        e.busyStatus = n;
    } else if (Same(name, "AllDayEvent")) {
        ok = Flag(value, flag);
        e.allDayEvent = flag;
    } else {
        error = "unknown field of an occurrence: " + std::string(name) +
                " (Start, End, Subject, Location, ReminderSet, ReminderMinutesBeforeStart, "
                "BusyStatus, AllDayEvent)";
        return false;
    }
    if (!ok) error = "bad value for " + std::string(name) + ": " + std::string(value);
    return ok;
}

std::string RecurrenceSignature(const PimRecurrence* r) {
    if (!r) return "";
    std::string out = FormatRecurrencePattern(r->pattern);
    for (const PimException& e : r->exceptions) out += " | " + FormatException(e);
    return out;
}
