#include "server/itemconv/recurrence_store.h"

#include "server/itemconv/recurrence_mapping.h"

namespace {

CItemTime Local(const std::optional<std::uint64_t>& utc, const CTimeZone& zone) {
    return utc ? zone.FiletimeToLocal(*utc) : CItemTime();
}

std::optional<std::uint64_t> Utc(const CItemTime& local, const CTimeZone& zone) {
    if (local.year <= 1900) return std::nullopt;
    return zone.LocalToFiletime(local);
}

}  // namespace

RecurrencePattern PatternFromStoreValues(const CRecurrenceStoreValues& v, const CTimeZone& zone) {
    RecurrencePattern p;
    p.start = Local(v.wholeStart, zone);
    p.end = Local(v.wholeEnd, zone);
    p.seriesStart = Local(v.commonStart, zone);
    p.seriesEnd = Local(v.commonEnd, zone);
    p.clipStart = Local(v.clipStart, zone);
    p.clipEnd = Local(v.clipEnd, zone);
    p.reminderTime = Local(v.reminderTime, zone);
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
    v.clipStart = Utc(p.clipStart, zone);
    v.clipEnd = Utc(p.clipEnd, zone);
    v.wholeStart = Utc(p.start, zone);
    v.wholeEnd = Utc(p.end, zone);
    v.commonStart = Utc(p.seriesStart, zone);
    v.commonEnd = Utc(p.seriesEnd, zone);
    v.reminderTime = Utc(p.reminderTime, zone);
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
