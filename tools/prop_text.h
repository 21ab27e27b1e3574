// Text forms the store tool reads and prints: property names (PR_ names, hexadecimal
// tags, named properties SET:ID[:TYPE]), values by type, times in ISO 8601 UTC, and
// entry identifiers in hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/mapi/mapi.h"
#include "platform/mapi/prop_value.h"

// A failure the tool reports: the MAPI code and a message for the operator.
struct ToolError {
    HRESULT hr;
    std::string message;
};

// A named property as the operator wrote it.
struct NamedSpec {
    GUID guid{};
    ULONG kind = MNID_ID;
    LONG lid = 0;
    std::string name;
    ULONG type = PT_UNSPECIFIED;  // PT_UNSPECIFIED when not given and not known
};

// A parsed property name: a fixed tag, or a named property still to be mapped.
struct PropRef {
    bool named = false;
    ULONG tag = 0;
    NamedSpec namedProp;
};

// "PR_SUBJECT", "PR_SUBJECT_W", "0x0037001E", "PSETID_Address:0x8005",
// "PS_PUBLIC_STRINGS:Keywords:PT_MV_STRING8", "{GUID}:0x8100:PT_LONG", or a known
// display name ("FileAs"). Throws ToolError (MAPI_E_INVALID_PARAMETER) otherwise.
PropRef ParsePropRef(const std::string& text);

// The tag of a ref on obj: named properties are mapped with GetIDsFromNames
// (created when create is true). Throws ToolError: MAPI_E_NOT_FOUND for a name
// the store does not know (create false), MAPI_E_INVALID_PARAMETER when the type
// is needed and not given.
ULONG ResolvePropSpec(IMAPIProp* obj, const PropRef& ref, bool create);

// Parses text as a value of the tag's type. Throws ToolError (MAPI_E_BAD_VALUE).
// Multi-valued values are separated by ";". Times: "YYYY-MM-DDTHH:MM:SS[.fffffff]Z"
// or "YYYY-MM-DD". Binaries: hexadecimal. Booleans: 0, 1, true, false.
mapistore::Value ParseValue(ULONG tag, const std::string& text);

// The text of a value (times ISO 8601 UTC, binaries hexadecimal, multi-valued
// values joined by ";").
std::string FormatValue(const mapistore::Value& v);

// The number of elements of a multi-valued value, and element k as a single value
// of the element type.
std::size_t ElementCount(const mapistore::Value& v);
mapistore::Value ElementOf(const mapistore::Value& v, std::size_t k);

std::string FileTimeToIso(std::uint64_t filetime);
bool IsoToFileTime(const std::string& text, std::uint64_t& filetime);

// "PR_SUBJECT", "PSETID_Address:0x8005", or "0x1234" for a property ID of obj.
std::string PropDisplayName(IMAPIProp* obj, ULONG tag);
std::string TypeName(ULONG type);
