#include "server/itemconv/recurrence_message.h"

#include <exception>

#include "common/wbxml/wbxml_literals.h"
#include "server/config/live_trace.h"
#include "server/itemconv/recurrence_elements.h"

namespace {

ULONG Named(CGenMapiPropPtr& item, const GUID& set, std::uint16_t lid, ULONG type) {
    return item.GetIDFromName(set, lid, type, MAPI_CREATE);
}

// The value of tag, or nothing when the item lacks it or holds another type.
CPropValue ReadOne(CGenMapiPropPtr& item, ULONG tag) {
    CPropValue value;
    HRESULT hr = item.GetOneProp(tag, value);
    if (hr == MAPI_E_NOT_FOUND) return CPropValue();
    if (FAILED(hr)) throw CMAPIException(hr, "ReadRecurrenceValues");
    if (value.Empty() || value.Tag() != tag) return CPropValue();
    return value;
}

std::optional<std::uint64_t> ReadTime(CGenMapiPropPtr& item, ULONG tag) {
    CPropValue v = ReadOne(item, tag);
    if (v.Empty()) return std::nullopt;
    const FILETIME& ft = v->Value.ft;
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::optional<std::int32_t> ReadLong(CGenMapiPropPtr& item, ULONG tag) {
    CPropValue v = ReadOne(item, tag);
    if (v.Empty()) return std::nullopt;
    return static_cast<std::int32_t>(v->Value.l);
}

std::optional<bool> ReadBool(CGenMapiPropPtr& item, ULONG tag) {
    CPropValue v = ReadOne(item, tag);
    if (v.Empty()) return std::nullopt;
    return v->Value.b != 0;
}

std::optional<std::vector<std::uint8_t>> ReadBinary(CGenMapiPropPtr& item, ULONG tag) {
    CPropValue v = ReadOne(item, tag);
    if (v.Empty()) return std::nullopt;
    const SBinary& bin = v->Value.bin;
    if (bin.cb == 0 || bin.lpb == nullptr) return std::vector<std::uint8_t>();
    return std::vector<std::uint8_t>(bin.lpb, bin.lpb + bin.cb);
}

void WriteTime(CGenMapiPropPtr& item, ULONG tag, const std::optional<std::uint64_t>& value) {
    if (!value) return;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(*value);
    ft.dwHighDateTime = static_cast<DWORD>(*value >> 32);
    item.SetProp(*CPropValue::Time(tag, ft).Get());
}

void WriteBinary(CGenMapiPropPtr& item, ULONG tag,
                 const std::optional<std::vector<std::uint8_t>>& value) {
    if (!value) return;
    item.SetProp(*CPropValue::Binary(tag, value->data(), value->size()).Get());
}

CItemTime LocalOf(const std::optional<std::uint64_t>& utc, const CTimeZone& zone) {
    return utc ? zone.FiletimeToLocal(*utc) : CItemTime();
}

}  // namespace

CRecurrenceTags CRecurrenceTags::Resolve(CGenMapiPropPtr& item) {
    CRecurrenceTags t;
    t.blob = Named(item, PSETID_Appointment, kLidRecurrenceBlob, PT_BINARY);
    t.recurring = Named(item, PSETID_Appointment, kLidRecurring, PT_BOOLEAN);
    t.recurrenceType = Named(item, PSETID_Appointment, kLidRecurrenceType, PT_LONG);
    t.timeZone = Named(item, PSETID_Appointment, kLidTimeZoneStruct, PT_BINARY);
    t.clipStart = Named(item, PSETID_Appointment, kLidClipStart, PT_SYSTIME);
    t.clipEnd = Named(item, PSETID_Appointment, kLidClipEnd, PT_SYSTIME);
    t.wholeStart = Named(item, PSETID_Appointment, kLidWholeStart, PT_SYSTIME);
    t.wholeEnd = Named(item, PSETID_Appointment, kLidWholeEnd, PT_SYSTIME);
    t.commonStart = Named(item, PSETID_Common, kLidCommonStart, PT_SYSTIME);
    t.commonEnd = Named(item, PSETID_Common, kLidCommonEnd, PT_SYSTIME);
    t.reminderTime = Named(item, PSETID_Common, kLidReminderTime, PT_SYSTIME);
    t.sideEffects = Named(item, PSETID_Common, kLidSideEffects, PT_LONG);
    return t;
}

CRecurrenceStoreValues ReadRecurrenceValues(CGenMapiPropPtr& item, const CRecurrenceTags& t) {
    CRecurrenceStoreValues v;
    v.wholeStart = ReadTime(item, t.wholeStart);
    v.wholeEnd = ReadTime(item, t.wholeEnd);
    v.commonStart = ReadTime(item, t.commonStart);
    v.commonEnd = ReadTime(item, t.commonEnd);
    v.clipStart = ReadTime(item, t.clipStart);
    v.clipEnd = ReadTime(item, t.clipEnd);
    v.reminderTime = ReadTime(item, t.reminderTime);
    v.recurring = ReadBool(item, t.recurring);
    v.recurrenceType = ReadLong(item, t.recurrenceType);
    v.blob = ReadBinary(item, t.blob);
    v.timeZone = ReadBinary(item, t.timeZone);
    v.sideEffects = ReadLong(item, t.sideEffects);
    return v;
}

void WriteRecurrenceValues(CGenMapiPropPtr& item, const CRecurrenceTags& t,
                           const CRecurrenceStoreValues& v) {
    WriteTime(item, t.wholeStart, v.wholeStart);
    WriteTime(item, t.wholeEnd, v.wholeEnd);
    WriteTime(item, t.commonStart, v.commonStart);
    WriteTime(item, t.commonEnd, v.commonEnd);
    WriteTime(item, t.clipStart, v.clipStart);
    WriteTime(item, t.clipEnd, v.clipEnd);
    WriteTime(item, t.reminderTime, v.reminderTime);
    if (v.recurring) item.SetProp(*CPropValue::Boolean(t.recurring, *v.recurring).Get());
    if (v.recurrenceType) item.SetLongProp(t.recurrenceType, *v.recurrenceType);
    WriteBinary(item, t.blob, v.blob);
    WriteBinary(item, t.timeZone, v.timeZone);
    if (v.sideEffects) item.SetLongProp(t.sideEffects, *v.sideEffects);
}

bool SameStoredSeries(const RecurrencePattern& a, const RecurrencePattern& b,
                      const CTimeZone& zone) {
    RecurrencePattern x = a, y = b;
    const CTimeZoneStruct& zoneStruct = ServerTimeZoneStruct();
    CRecurrenceStoreValues u = StoreValuesFromPattern(x, zone, zoneStruct);
    CRecurrenceStoreValues v = StoreValuesFromPattern(y, zone, zoneStruct);
    // The common end of an endless series names no day (the blob ends it in 4500).
    bool endless = x.endless && y.endless;
    return u.recurring == v.recurring && u.recurrenceType == v.recurrenceType && u.blob == v.blob &&
           u.wholeStart == v.wholeStart && u.wholeEnd == v.wholeEnd &&
           u.commonStart == v.commonStart && (endless || u.commonEnd == v.commonEnd) &&
           u.clipStart == v.clipStart && u.clipEnd == v.clipEnd;
}

bool LoadFromMessage(CGenMapiPropPtr& item, RecurrencePattern& pattern, const CTimeZone& zone) {
    try {
        CRecurrenceTags tags = CRecurrenceTags::Resolve(item);
        pattern = PatternFromStoreValues(ReadRecurrenceValues(item, tags), zone);
        return true;
    } catch (const std::exception& e) {
        AddLiveTraceF("Error in LoadFromMessage: %s", e.what());
        return false;
    }
}

bool WriteToMessage(CGenMapiPropPtr& item, RecurrencePattern& pattern, const CTimeZone& zone,
                    const CTimeZoneStruct* zoneStruct) {
    int step = 1;
    try {
        CRecurrenceTags tags = CRecurrenceTags::Resolve(item);
        step = 2;
        CTimeZoneStruct own = zoneStruct ? *zoneStruct : ServerTimeZoneStruct();
        CRecurrenceStoreValues values = StoreValuesFromPattern(pattern, zone, own);
        step = 3;
        WriteRecurrenceValues(item, tags, values);
        return true;
    } catch (const std::exception&) {
        AddLiveTraceF("Error in WriteToMessage line %d", step);
        return false;
    }
}

bool ReadRecurrence(CGenMapiPropPtr& item, RecurrencePattern& pattern,
                    const CWBXMLLiterals& children, const CTimeZone& zone, std::string* refused) {
    int step = 1;
    try {
        CRecurrenceTags tags = CRecurrenceTags::Resolve(item);
        step = 2;
        CItemTime start = LocalOf(ReadTime(item, tags.wholeStart), zone);
        CItemTime end = LocalOf(ReadTime(item, tags.wholeEnd), zone);
        step = 3;
        RecurrencePattern before = pattern;
        if (std::optional<std::string> problem =
                ApplyRecurrenceElements(pattern, children, start, end, zone)) {
            AddLiveTraceF("Recurrence refused, it describes no occurrence: %s", problem->c_str());
            if (refused) *refused = *problem;
            return true;
        }
        // A series that comes back as the item holds it keeps its properties as they
        // are stored, the bytes another writer made included.
        if (before.recurring && SameStoredSeries(before, pattern, zone)) return true;
        step = 4;
        return WriteToMessage(item, pattern, zone);
    } catch (const std::exception&) {
        AddLiveTraceF("Crash in ReadRecurrence line %d", step);
        return false;
    }
}

bool ReadException(CGenMapiPropPtr& item, RecurrencePattern& pattern,
                   const CWBXMLLiterals& children, const CTimeZone& zone) {
    try {
        ApplyExceptionElements(pattern, children, zone);
        return WriteToMessage(item, pattern, zone);
    } catch (const std::exception&) {
        AddLiveTrace("Crash in ReadException");
        return false;
    }
}
