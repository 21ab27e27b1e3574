// Tables of tag names, type names and the well-known named properties.
#include "platform/mapi/mapi_names.h"

#include <strings.h>

#include "common/base/code_text.h"
#include "platform/mapi/mapi_codes.h"
#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/mapi_tags.h"

namespace {

constexpr CodeTextEntry<ULONG> kTagNames[] = {
#define MAPI_TAG(name, id, type) {PROP_TAG(type, id), #name},
#define MAPI_STR(name, id) {PROP_TAG(PT_STRING8, id), #name},
#define MAPI_MVSTR(name, id) {PROP_TAG(PT_MV_STRING8, id), #name},
#include "platform/mapi/mapi_tags.inc"
#undef MAPI_TAG
#undef MAPI_STR
#undef MAPI_MVSTR
};

// The first name of a type is the one printed.
constexpr CodeTextEntry<ULONG> kTypeNames[] = {
    {PT_UNSPECIFIED, "PT_UNSPECIFIED"},
    {PT_NULL, "PT_NULL"},
    {PT_I2, "PT_I2"},
    {PT_I2, "PT_SHORT"},
    {PT_LONG, "PT_LONG"},
    {PT_LONG, "PT_I4"},
    {PT_R4, "PT_R4"},
    {PT_R4, "PT_FLOAT"},
    {PT_DOUBLE, "PT_DOUBLE"},
    {PT_DOUBLE, "PT_R8"},
    {PT_CURRENCY, "PT_CURRENCY"},
    {PT_APPTIME, "PT_APPTIME"},
    {PT_ERROR, "PT_ERROR"},
    {PT_BOOLEAN, "PT_BOOLEAN"},
    {PT_OBJECT, "PT_OBJECT"},
    {PT_I8, "PT_I8"},
    {PT_I8, "PT_LONGLONG"},
    {PT_STRING8, "PT_STRING8"},
    {PT_UNICODE, "PT_UNICODE"},
    {PT_STRING8, "PT_TSTRING"},
    {PT_SYSTIME, "PT_SYSTIME"},
    {PT_CLSID, "PT_CLSID"},
    {PT_BINARY, "PT_BINARY"},
    {PT_MV_I2, "PT_MV_I2"},
    {PT_MV_I2, "PT_MV_SHORT"},
    {PT_MV_LONG, "PT_MV_LONG"},
    {PT_MV_LONG, "PT_MV_I4"},
    {PT_MV_R4, "PT_MV_R4"},
    {PT_MV_R4, "PT_MV_FLOAT"},
    {PT_MV_DOUBLE, "PT_MV_DOUBLE"},
    {PT_MV_DOUBLE, "PT_MV_R8"},
    {PT_MV_CURRENCY, "PT_MV_CURRENCY"},
    {PT_MV_APPTIME, "PT_MV_APPTIME"},
    {PT_MV_SYSTIME, "PT_MV_SYSTIME"},
    {PT_MV_STRING8, "PT_MV_STRING8"},
    {PT_MV_UNICODE, "PT_MV_UNICODE"},
    {PT_MV_STRING8, "PT_MV_TSTRING"},
    {PT_MV_BINARY, "PT_MV_BINARY"},
    {PT_MV_CLSID, "PT_MV_CLSID"},
    {PT_MV_I8, "PT_MV_I8"},
    {PT_MV_I8, "PT_MV_LONGLONG"},
};

const KnownNamedProp kKnown[] = {
    {&PSETID_Address, MNID_ID, 0x8005, nullptr, PT_STRING8, "FileAs"},
    {&PSETID_Address, MNID_ID, 0x802B, nullptr, PT_STRING8, "WebPage"},
    {&PSETID_Address, MNID_ID, 0x8083, nullptr, PT_STRING8, "Email1Address"},
    {&PSETID_Address, MNID_ID, 0x8093, nullptr, PT_STRING8, "Email2Address"},
    {&PSETID_Address, MNID_ID, 0x80A3, nullptr, PT_STRING8, "Email3Address"},
    {&PSETID_Task, MNID_ID, 0x8104, nullptr, PT_SYSTIME, "TaskStartDate"},
    {&PSETID_Task, MNID_ID, 0x8105, nullptr, PT_SYSTIME, "TaskDueDate"},
    {&PSETID_Task, MNID_ID, 0x810F, nullptr, PT_SYSTIME, "TaskDateCompleted"},
    {&PSETID_Task, MNID_ID, 0x811C, nullptr, PT_BOOLEAN, "TaskComplete"},
    {&PSETID_Appointment, MNID_ID, 0x8205, nullptr, PT_LONG, "BusyStatus"},
    {&PSETID_Appointment, MNID_ID, 0x8208, nullptr, PT_STRING8, "Location"},
    {&PSETID_Appointment, MNID_ID, 0x820D, nullptr, PT_SYSTIME, "AppointmentStartWhole"},
    {&PSETID_Appointment, MNID_ID, 0x820E, nullptr, PT_SYSTIME, "AppointmentEndWhole"},
    {&PSETID_Appointment, MNID_ID, 0x8213, nullptr, PT_LONG, "AppointmentDuration"},
    {&PSETID_Appointment, MNID_ID, 0x8215, nullptr, PT_BOOLEAN, "AllDayEvent"},
    {&PSETID_Appointment, MNID_ID, 0x8216, nullptr, PT_BINARY, "AppointmentRecur"},
    {&PSETID_Appointment, MNID_ID, 0x8217, nullptr, PT_LONG, "AppointmentStateFlags"},
    {&PSETID_Appointment, MNID_ID, 0x8223, nullptr, PT_BOOLEAN, "Recurring"},
    {&PSETID_Appointment, MNID_ID, 0x8231, nullptr, PT_LONG, "RecurrenceType"},
    {&PSETID_Appointment, MNID_ID, 0x8232, nullptr, PT_STRING8, "RecurrencePattern"},
    {&PSETID_Appointment, MNID_ID, 0x8233, nullptr, PT_BINARY, "TimeZoneStruct"},
    {&PSETID_Appointment, MNID_ID, 0x8234, nullptr, PT_STRING8, "TimeZoneDescription"},
    {&PSETID_Appointment, MNID_ID, 0x8235, nullptr, PT_SYSTIME, "ClipStart"},
    {&PSETID_Appointment, MNID_ID, 0x8236, nullptr, PT_SYSTIME, "ClipEnd"},
    {&PSETID_Common, MNID_ID, 0x8501, nullptr, PT_LONG, "ReminderDelta"},
    {&PSETID_Common, MNID_ID, 0x8502, nullptr, PT_SYSTIME, "ReminderTime"},
    {&PSETID_Common, MNID_ID, 0x8503, nullptr, PT_BOOLEAN, "ReminderSet"},
    {&PSETID_Common, MNID_ID, 0x8510, nullptr, PT_LONG, "SideEffects"},
    {&PSETID_Common, MNID_ID, 0x8516, nullptr, PT_SYSTIME, "CommonStart"},
    {&PSETID_Common, MNID_ID, 0x8517, nullptr, PT_SYSTIME, "CommonEnd"},
    {&PSETID_Common, MNID_ID, 0x8560, nullptr, PT_SYSTIME, "ReminderSignalTime"},
    {&PS_PUBLIC_STRINGS, MNID_STRING, 0, "Keywords", PT_MV_STRING8, "Keywords"},
    {nullptr, 0, 0, nullptr, 0, nullptr},
};

bool SameIgnoringCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

const char* MapiPropTagName(ULONG ulPropTag) {
    if (const char* name = TextOfCode(kTagNames, ulPropTag)) return name;
    ULONG type = PROP_TYPE(ulPropTag) & ~MV_INSTANCE;
    if (type == PT_UNICODE) type = PT_STRING8;
    if (type == PT_MV_UNICODE) type = PT_MV_STRING8;
    if (const char* name = TextOfCode(kTagNames, PROP_TAG(type, PROP_ID(ulPropTag)))) return name;
    for (const CodeTextEntry<ULONG>& t : kTagNames)
        if (PROP_ID(t.code) == PROP_ID(ulPropTag) && PROP_ID(ulPropTag) != 0) return t.text;
    return nullptr;
}

bool MapiPropTagFromName(const std::string& name, ULONG& ulPropTag) {
    std::string base = name;
    int form = 0;  // 0 as listed, 1 _A, 2 _W
    for (const CodeTextEntry<ULONG>& t : kTagNames) {
        if (SameIgnoringCase(name, t.text)) {
            ulPropTag = t.code;
            return true;
        }
    }
    if (name.size() > 2 && name[name.size() - 2] == '_') {
        char last = name.back();
        if (last == 'A' || last == 'a') form = 1;
        if (last == 'W' || last == 'w') form = 2;
        base = name.substr(0, name.size() - 2);
    }
    if (form == 0) return false;
    for (const CodeTextEntry<ULONG>& t : kTagNames) {
        if (!SameIgnoringCase(base, t.text)) continue;
        ULONG type = PROP_TYPE(t.code);
        if (type == PT_STRING8 || type == PT_UNICODE) {
            ulPropTag = PROP_TAG(form == 2 ? PT_UNICODE : PT_STRING8, PROP_ID(t.code));
            return true;
        }
        if (type == PT_MV_STRING8 || type == PT_MV_UNICODE) {
            ulPropTag = PROP_TAG(form == 2 ? PT_MV_UNICODE : PT_MV_STRING8, PROP_ID(t.code));
            return true;
        }
    }
    return false;
}

const char* MapiPropTypeName(ULONG ulPropType) { return TextOfCode(kTypeNames, ulPropType); }

bool MapiPropTypeFromName(const std::string& name, ULONG& ulPropType) {
    for (const CodeTextEntry<ULONG>& t : kTypeNames) {
        if (SameIgnoringCase(name, t.text)) {
            ulPropType = t.code;
            return true;
        }
    }
    return false;
}

const KnownNamedProp* MapiKnownNamedProps() { return kKnown; }

const KnownNamedProp* MapiFindKnownNamedProp(const GUID& guid, ULONG ulKind, LONG lID,
                                             const std::string& name) {
    for (const KnownNamedProp* k = kKnown; k->lpguid != nullptr; ++k) {
        if (*k->lpguid != guid || k->ulKind != ulKind) continue;
        if (ulKind == MNID_ID && k->lID == lID) return k;
        if (ulKind == MNID_STRING && name == k->lpszName) return k;
    }
    return nullptr;
}

const KnownNamedProp* MapiFindKnownNamedPropByName(const std::string& displayName) {
    for (const KnownNamedProp* k = kKnown; k->lpguid != nullptr; ++k)
        if (SameIgnoringCase(displayName, k->lpszDisplayName)) return k;
    return nullptr;
}
