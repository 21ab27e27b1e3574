// "skiff pim" commands for recurring appointments.
#include "client/pim_recurrence_commands.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "client/pim_command_steps.h"
#include "client/pim_commands.h"
#include "client/recurrence_text.h"
#include "common/base/escape.h"

namespace {

double TimeOfDay(double date) { return std::fabs(date - std::trunc(date)); }

// Moves Start and End by whole days so that Start lies on day.
void MoveToDay(PimItem& item, std::int64_t day) {
    double start = item.GetDate("Start");
    double end = item.GetDate("End");
    double shift = OleDateOfDay(day) - std::trunc(start);
    item.SetDate("Start", start + shift);
    if (end != 0) item.SetDate("End", end + shift);
}

// The appointment's first occurrence is its Start: a Start on a day the pattern
// does not name moves to the first one it does.
bool StoreSeries(PimItem& item, PimRecurrence recurrence, std::string& error) {
    if (item.GetDate("Start") == 0) {
        error = "a recurring appointment needs a Start";
        return false;
    }
    if (std::optional<std::string> problem = RecurrenceProblem(recurrence)) {
        error = "the recurrence describes no occurrence: " + *problem;
        return false;
    }
    std::optional<std::int64_t> first = recur::FirstOccurrence(RuleOfPattern(recurrence.pattern));
    if (first && *first != DayOfOleDate(item.GetDate("Start"))) MoveToDay(item, *first);
    // The series starts with its first occurrence, as the desktop keeps it.
    if (first) recurrence.pattern.patternStartDate = OleDateOfDay(*first);
    if (!item.SetRecurrence(std::move(recurrence), &error)) {
        error = "the recurrence cannot be stored: " + error;
        return false;
    }
    return true;
}

std::string OccurrenceDate(double date) { return FormatUserDate(date); }

}  // namespace

bool ApplyRecurrenceChange(PimItem& item, const RecurrenceChange& change, double startBefore,
                           std::string& error) {
    if (!change.set && !change.clear) {
        // A new Start takes the series' start along, and its exceptions their times.
        const PimRecurrence* current = item.GetRecurrence();
        double start = item.GetDate("Start");
        if (!current || startBefore == 0 || start == startBefore) return true;
        PimRecurrence moved = *current;
        if (DayOfOleDate(start) == DayOfOleDate(startBefore))
            return item.SetRecurrence(std::move(moved), &error);
        moved.pattern.patternStartDate = std::trunc(start);
        return StoreSeries(item, std::move(moved), error);
    }
    if (item.DefaultFolder() != olFolderCalendar) {
        error = "only appointments recur";
        return false;
    }
    if (change.clear) {
        item.ClearRecurrence();
        return true;
    }
    PimRecurrence recurrence;
    if (!ParseRecurrencePattern(change.text, std::trunc(item.GetDate("Start")), recurrence.pattern,
                                error))
        return false;
    // Exceptions of the occurrences the new pattern still has stay.
    if (const PimRecurrence* current = item.GetRecurrence()) {
        recur::Rule rule = RuleOfPattern(recurrence.pattern);
        for (const PimException& e : current->exceptions) {
            if (recur::IsOccurrence(rule, DayOfOleDate(e.originalDate)))
                recurrence.exceptions.push_back(e);
        }
    }
    return StoreSeries(item, std::move(recurrence), error);
}

std::vector<std::pair<std::string, std::string>> RecurrenceFields(const PimItem& item) {
    std::vector<std::pair<std::string, std::string>> out;
    const PimRecurrence* r = item.GetRecurrence();
    if (!r) return out;
    std::string pattern = FormatRecurrencePattern(r->pattern);
    if (r->pattern.end == PimRecurrenceEnd::kAfterCount && r->pattern.patternEndDate != 0)
        pattern += ";last=" + FormatUserDate(r->pattern.patternEndDate, true);
    out.emplace_back("Recurrence", pattern);
    for (const PimException& e : r->exceptions) out.emplace_back("Exception", FormatException(e));
    return out;
}

std::string RecurrenceJson(const PimItem& item) {
    std::vector<std::pair<std::string, std::string>> fields = RecurrenceFields(item);
    if (fields.empty()) return "";
    std::string out = ",\"recurrence\":" + JsonQuote(fields[0].second) + ",\"exceptions\":[";
    for (size_t i = 1; i < fields.size(); ++i)
        out += (i > 1 ? "," : "") + JsonQuote(fields[i].second);
    return out + "]";
}

int PimChangeOccurrence(long oid, const std::string& dateText, bool remove, bool restore,
                        const std::vector<std::string>& assignments, bool json, std::ostream& out,
                        std::ostream& err) {
    if (static_cast<int>(remove) + static_cast<int>(restore) + (assignments.empty() ? 0 : 1) != 1) {
        err << "give one of --delete, --restore or FIELD=VALUE ...\n";
        return 2;
    }
    double date = 0;
    if (!ParseUserDate(dateText, date)) {
        err << "bad date: " << dateText << "\n";
        return 2;
    }
    PocketOutlookApplication app;
    auto item = OpenItemOrComplain(app, oid, err);
    if (!item) return 1;
    const PimRecurrence* current = item->GetRecurrence();
    if (!current) {
        err << "item " << oid << " is no recurring appointment\n";
        return 2;
    }
    PimRecurrence r = *current;
    std::int64_t day = DayOfOleDate(date);
    auto found =
        std::find_if(r.exceptions.begin(), r.exceptions.end(),
                     [day](const PimException& e) { return DayOfOleDate(e.originalDate) == day; });
    if (restore) {
        if (found == r.exceptions.end()) {
            err << "no exception on " << FormatUserDate(date, true) << "\n";
            return 2;
        }
        r.exceptions.erase(found);
    } else {
        if (!recur::IsOccurrence(RuleOfPattern(r.pattern), day)) {
            err << "no occurrence of item " << oid << " on " << FormatUserDate(date, true) << "\n";
            return 2;
        }
        PimException e;
        e.originalDate = OleDateOfDay(day) + TimeOfDay(item->GetDate("Start"));
        if (found != r.exceptions.end() && !found->deleted) e = *found;
        e.deleted = remove;
        for (const std::string& a : assignments) {
            size_t eq = a.find('=');
            std::string error;
            if (eq == std::string::npos || eq == 0) {
                err << "expected FIELD=VALUE: " << a << "\n";
                return 2;
            }
            if (!ApplyExceptionField(a.substr(0, eq), a.substr(eq + 1), e, error)) {
                err << error << "\n";
                return 2;
            }
        }
        if (found != r.exceptions.end()) {
            *found = e;
        } else {
            r.exceptions.push_back(e);
        }
    }
    std::string error;
    if (!item->SetRecurrence(std::move(r), &error)) {
        err << "the occurrence cannot be stored: " << error << "\n";
        return 2;
    }
    if (!SaveOrComplain(*item, err)) return 1;
    if (json) out << "{\"oid\":" << oid << "}\n";
    return 0;
}

int PimListOccurrences(const std::string& fromText, const std::string& toText, bool json,
                       std::ostream& out, std::ostream& err) {
    double from = 0, to = 0;
    if (!ParseUserDate(fromText, from) || !ParseUserDate(toText, to)) {
        err << "bad date: " << (ParseUserDate(fromText, from) ? toText : fromText) << "\n";
        return 2;
    }
    // A day without a time: up to its last second.
    if (toText.find(':') == std::string::npos && toText.find(' ') == std::string::npos)
        to = std::trunc(to) + 86399.0 / 86400.0;
    if (to < from) {
        err << "the range ends before it starts\n";
        return 2;
    }
    PocketOutlookApplication app;
    if (!LogOnOrComplain(app, err)) return 1;
    PimItems items = app.GetDefaultFolder(olFolderCalendar)->Items();
    struct Listed {
        long oid;
        PimOccurrence occurrence;
    };
    std::vector<Listed> listed;
    for (int i = 1; i <= items.Count(); ++i) {
        auto item = items.Item(i);
        if (!item) continue;
        for (PimOccurrence& o : item->Occurrences(from, to))
            listed.push_back({item->Oid(), std::move(o)});
    }
    std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        return a.occurrence.fields.start < b.occurrence.fields.start;
    });
    if (json) out << "[";
    for (size_t i = 0; i < listed.size(); ++i) {
        const Listed& l = listed[i];
        const PimAppointmentFields& f = l.occurrence.fields;
        if (json) {
            out << (i ? "," : "") << "{\"oid\":" << l.oid
                << ",\"start\":" << JsonQuote(OccurrenceDate(f.start))
                << ",\"end\":" << JsonQuote(OccurrenceDate(f.end))
                << ",\"subject\":" << JsonQuote(f.subject)
                << ",\"location\":" << JsonQuote(f.location)
                << ",\"changed\":" << (l.occurrence.changed ? "true" : "false")
                << ",\"originalStart\":" << JsonQuote(OccurrenceDate(l.occurrence.originalDate))
                << "}";
        } else {
            out << OccurrenceDate(f.start) << "\t" << OccurrenceDate(f.end) << "\t" << l.oid << "\t"
                << f.subject << (l.occurrence.changed ? "\tchanged" : "") << "\n";
        }
    }
    if (json) out << "]\n";
    return 0;
}
