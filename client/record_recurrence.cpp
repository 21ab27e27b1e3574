// Handheld series and record recurrences.
#include "client/record_recurrence.h"

#include <set>

#include "client/record_times.h"
#include "common/formats/rrule_map.h"

using pimfmt::CivilTime;
using pimfmt::RecordTime;

namespace {

RecordTime OccurrenceTime(double ole, bool allDay) {
    CivilTime t;
    if (!CivilOfOle(ole, t)) return RecordTime{};
    return allDay ? DayRecordTime(t) : LocalRecordTime(t);
}

// The UNTIL of the rule in the handheld's wall-clock time (a date at the series'
// time of day); unset when it has none.
CivilTime UntilLocal(const std::string& rule, const CivilTime& first) {
    RecordTime until = pimfmt::UntilOfRRule(rule);
    if (!until.IsSet()) return CivilTime{};
    switch (until.form) {
        case pimfmt::TimeForm::kUtc:
            return pimfmt::LocalZone().ToLocal(until.time);
        case pimfmt::TimeForm::kDate: {
            CivilTime t = until.time;
            t.hour = first.hour;
            t.minute = first.minute;
            return t;
        }
        default:
            return until.time;
    }
}

// A field a changed occurrence may hold for itself: in a record's override, in the
// handheld's exception, and in the appointment the series repeats.
template <typename T>
struct OverrideField {
    std::optional<T> pimfmt::RecordOverride::*record;
    std::optional<T> PimException::*exception;
    T PimAppointmentFields::*series;
};

template <typename Visit>
void ForEachOverrideField(Visit visit) {
    using pimfmt::RecordOverride;
    visit(OverrideField<std::string>{&RecordOverride::subject, &PimException::subject,
                                     &PimAppointmentFields::subject});
    visit(OverrideField<std::string>{&RecordOverride::location, &PimException::location,
                                     &PimAppointmentFields::location});
    visit(OverrideField<bool>{&RecordOverride::allDay, &PimException::allDayEvent,
                              &PimAppointmentFields::allDayEvent});
    visit(OverrideField<long>{&RecordOverride::busyStatus, &PimException::busyStatus,
                              &PimAppointmentFields::busyStatus});
    visit(OverrideField<bool>{&RecordOverride::reminderSet, &PimException::reminderSet,
                              &PimAppointmentFields::reminderSet});
    visit(OverrideField<long>{&RecordOverride::reminderMinutes,
                              &PimException::reminderMinutesBeforeStart,
                              &PimAppointmentFields::reminderMinutesBeforeStart});
}

}  // namespace

std::optional<pimfmt::RecordRecurrence> RecordRecurrenceOfItem(const PimItem& item) {
    const PimRecurrence* series = item.GetRecurrence();
    if (!series) return std::nullopt;
    const PimAppointmentFields fields = item.AppointmentFields();
    const bool allDay = fields.allDayEvent;
    const recur::Rule rule = RuleOfPattern(series->pattern);
    std::string until;
    if (rule.end == recur::EndKind::kByDate) {
        CivilTime start, end;
        CivilOfOle(fields.start, start);
        if (CivilOfOle(OleDateOfDay(rule.endDay), end)) {
            end.hour = start.hour;
            end.minute = start.minute;
            until = allDay ? pimfmt::FormatBasic(end, true)
                           : pimfmt::FormatBasic(pimfmt::LocalZone().ToUtc(end), false) + "Z";
        }
    }
    pimfmt::RecordRecurrence out;
    out.rule = pimfmt::RRuleOfDayRule(rule, until);
    const double length = fields.end - fields.start;
    for (const PimException& e : series->exceptions) {
        if (e.deleted) {
            out.exdates.push_back(OccurrenceTime(e.originalDate, allDay));
            continue;
        }
        pimfmt::RecordOverride o;
        o.recurrenceId = OccurrenceTime(e.originalDate, allDay);
        const bool exAllDay = e.allDayEvent.value_or(allDay);
        // Without times of its own an occurrence keeps the series' length.
        const double start = e.start.value_or(e.originalDate);
        o.start = OccurrenceTime(start, exAllDay);
        o.end = OccurrenceTime(e.end.value_or(start + length), exAllDay);
        ForEachOverrideField([&](const auto& f) { o.*f.record = e.*f.exception; });
        out.overrides.push_back(o);
    }
    return out;
}

void SetItemRecurrence(PimItem& item, const pimfmt::PimRecord& r, const pimfmt::FileZones& zones,
                       std::vector<std::string>& notHeld) {
    const pimfmt::RecordRecurrence& rec = *r.recurrence;
    if (rec.rule.empty()) {
        notHeld.push_back("RDATE or EXDATE without RRULE (a single appointment is kept)");
        return;
    }
    const PimAppointmentFields fields = item.AppointmentFields();
    CivilTime first;
    if (!CivilOfOle(fields.start, first)) {
        notHeld.push_back("RRULE without a start (a single appointment is kept)");
        return;
    }
    recur::Rule rule;
    std::string why;
    if (!pimfmt::DayRuleOfRRule(rec.rule, first, UntilLocal(rec.rule, first), rule, why)) {
        notHeld.push_back("RRULE " + rec.rule + " (" + why + "; the first occurrence is kept)");
        return;
    }
    if (!rec.rdates.empty()) notHeld.push_back("RDATE (the pattern holds no added dates)");
    PimRecurrence series;
    series.pattern = PatternOfRule(rule);
    std::set<std::int64_t> days;
    // An exception for an occurrence of the rule, each occurrence once.
    auto take = [&](const RecordTime& original, const char* what, PimException e) {
        double ole = 0;
        if (!OleOfCivil(HandheldLocal(original, zones), ole)) return;
        const std::int64_t day = DayOfOleDate(ole);
        const std::string text = pimfmt::FormatBasic(original.time, false);
        if (!recur::IsOccurrence(rule, day)) {
            notHeld.push_back(std::string(what) + " " + text + " (no occurrence of the rule)");
            return;
        }
        if (!days.insert(day).second) {
            notHeld.push_back(std::string(what) + " " + text + " (a second one for that day)");
            return;
        }
        e.originalDate = ole;
        series.exceptions.push_back(std::move(e));
    };
    for (const RecordTime& t : rec.exdates) {
        PimException e;
        e.deleted = true;
        take(t, "EXDATE", e);
    }
    for (const pimfmt::RecordOverride& o : rec.overrides) {
        PimException e;
        double start = 0, end = 0;
        if (o.start.IsSet() && OleOfCivil(HandheldLocal(o.start, zones), start)) e.start = start;
        if (o.end.IsSet() && OleOfCivil(HandheldLocal(o.end, zones), end)) e.end = end;
        // Only what differs from the series is the occurrence's own.
        ForEachOverrideField([&](const auto& f) {
            const auto& value = o.*f.record;
            if (value && *value != fields.*f.series) e.*f.exception = value;
        });
        take(o.recurrenceId, "RECURRENCE-ID", e);
    }
    if (!item.SetRecurrence(series, &why))
        notHeld.push_back("RRULE " + rec.rule + " (" + why + "; the first occurrence is kept)");
}
