// Names of tags, types and well-known named properties, for tools and trace texts.
#pragma once

#include <cstddef>
#include <string>

#include "common/base/code_text.h"
#include "platform/mapi/mapi_types.h"

// "PR_SUBJECT" for 0x0037001E; for a tag whose exact type has no name, the name of
// another type with the same ID (strings: the 8-bit name serves both forms). Null
// when the ID has no standard name.
const char* MapiPropTagName(ULONG ulPropTag);
// The tag of "PR_SUBJECT", "PR_SUBJECT_A" (8-bit) or "PR_SUBJECT_W" (UTF-16),
// ignoring case. False for an unknown name.
bool MapiPropTagFromName(const std::string& name, ULONG& ulPropTag);
// "PT_LONG" for 0x0003, "PT_MV_UNICODE" for 0x101F; null for an unknown type.
const char* MapiPropTypeName(ULONG ulPropType);
// The type of "PT_LONG", "PT_I4", "PT_MV_STRING8", ... ignoring case.
bool MapiPropTypeFromName(const std::string& name, ULONG& ulPropType);

// A named property the system knows by name: the set, MNID_ID with lid or
// MNID_STRING with string name, the type the system uses, and its display name
// ("FileAs", "Email1Address", "Keywords").
struct KnownNamedProp {
    const GUID* lpguid;
    ULONG ulKind;
    LONG lID;
    const char* lpszName;  // the MNID_STRING name, else null
    ULONG ulPropType;
    const char* lpszDisplayName;
};
// The table, ended by an entry with a null lpguid.
const KnownNamedProp* MapiKnownNamedProps();
// The entry for (set, kind, id or name); null when unknown.
const KnownNamedProp* MapiFindKnownNamedProp(const GUID& guid, ULONG ulKind, LONG lID,
                                             const std::string& name);
// The entry whose display name is given (ignoring case); null when unknown.
const KnownNamedProp* MapiFindKnownNamedPropByName(const std::string& displayName);

// Every result code MapiErrorName names (S_, MAPI_W_, MAPI_E_ and STG_E_ codes), once each.
using MapiErrorNameEntry = CodeTextEntry<HRESULT>;
const MapiErrorNameEntry* MapiErrorNameTable(size_t& count);
