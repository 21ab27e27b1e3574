#include "server/itemconv/recurrence_store.h"

#include <utility>

#include "server/itemconv/recurrence_mapping.h"

namespace {

CItemTime Local(const std::optional<std::uint64_t>& utc, const CTimeZone& zone) {
    return utc ? zone.FiletimeToLocal(*utc) : CItemTime();
}

std::optional<std::uint64_t> Utc(const CItemTime& local, const CTimeZone& zone) {
    if (local.year <= 1900) return std::nullopt;
    return zone.LocalToFiletime(local);
}

// The seven dates: the store keeps them in UTC, the pattern in local time.
constexpr std::pair<std::optional<std::uint64_t> CRecurrenceStoreValues::*,
                    CItemTime RecurrencePattern::*>
    kDates[] = {
        {&CRecurrenceStoreValues::wholeStart, &RecurrencePattern::start},
        {&CRecurrenceStoreValues::wholeEnd, &RecurrencePattern::end},
        {&CRecurrenceStoreValues::commonStart, &RecurrencePattern::seriesStart},
        {&CRecurrenceStoreValues::commonEnd, &RecurrencePattern::seriesEnd},
        {&CRecurrenceStoreValues::clipStart, &RecurrencePattern::clipStart},
        {&CRecurrenceStoreValues::clipEnd, &RecurrencePattern::clipEnd},
        {&CRecurrenceStoreValues::reminderTime, &RecurrencePattern::reminderTime},
};

}  // namespace

RecurrencePattern PatternFromStoreValues(const CRecurrenceStoreValues& v, const CTimeZone& zone) {
    RecurrencePattern p;
    for (const auto& [stored, local] : kDates) p.*local = Local(v.*stored, zone);
    p.recurring = v.recurring.value_or(false);
    if (!p.recurring || !v.blob) return p;
    std::optional<CRecurrenceBlob> blob = DecodeRecurrenceBlob(*v.blob);
    if (!blob) return p;
    std::optional<int> type;
    if (v.recurrenceType) type = *v.recurrenceType;
    ApplyBlobToPattern(*blob, type, p);
    return p;
}

CRecurrenceStoreValues StoreValuesFromPattern(RecurrencePattern& p, const CTimeZone& zone,
                                              const CTimeZoneStruct& zoneStruct) {
    NormalisePattern(p);
    std::int64_t duration = OccurrenceMinutes(p);
    ComputeClipDates(p);
    if (p.seriesStart.IsSet()) {
        p.start = p.seriesStart;
        p.end = ItemTimeFromMinutes(MinutesFrom1601(p.seriesStart) + duration);
        p.end.second = 0;
    }

    CRecurrenceStoreValues v;
    for (const auto& [stored, local] : kDates) v.*stored = Utc(p.*local, zone);
    // A series without a kind (the device's type -1) is no series any more.
    if (p.kind == kRecurNone) p.recurring = false;
    v.recurring = p.recurring;
    v.timeZone = EncodeTimeZoneStruct(zoneStruct);
    v.sideEffects = kAppointmentSideEffects;
    if (p.recurring) {
        v.recurrenceType = RecurrenceTypeOfKind(p.kind);
        v.blob = EncodeRecurrenceBlob(BlobFromPattern(p));
    }
    return v;
}
