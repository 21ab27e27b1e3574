// The engine's own form of a property value: an owned copy of an SPropValue, with
// strings kept as UTF-8 under one type (PT_UNICODE / PT_MV_UNICODE) so that both
// string forms of a property are one stored value. Conversions to and from
// SPropValue, text conversion, and the value encoding used in the database.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/base/file_time.h"
#include "common/base/utf.h"
#include "platform/mapi/large_value.h"
#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_interfaces.h"

namespace mapistore {

struct Value {
    ULONG type = PT_NULL;           // stored type (strings: PT_UNICODE / PT_MV_UNICODE)
    std::int64_t i = 0;             // I2, LONG, BOOLEAN, I8, SYSTIME, CURRENCY, ERROR
    double d = 0;                   // R4, DOUBLE, APPTIME
    std::string s;                  // string (UTF-8), binary bytes, CLSID (16 bytes)
    std::vector<std::int64_t> mvi;  // multi-valued integers and times
    std::vector<double> mvd;        // multi-valued floating values
    std::vector<std::string> mvs;   // multi-valued strings, binaries, CLSIDs
    // A large binary value (s stays empty): its bytes on disk, read in pieces.
    std::shared_ptr<const LargeBytes> large;
    // As read from a props row that refers to chunk rows (large not resolved yet).
    std::int64_t blob = 0;

    static Value Long(std::int64_t v, ULONG type = PT_LONG);
    static Value Bool(bool v);
    static Value Time(std::uint64_t filetime);
    static Value Text(std::string utf8);
    static Value Binary(std::string bytes);
};

bool operator==(const Value& a, const Value& b);

// Properties of one object by property ID.
using PropMap = std::map<ULONG, Value>;

// The stored type for a tag's type: string forms fold into PT_UNICODE / PT_MV_UNICODE.
ULONG StoredType(ULONG propType);
// True for the types a property may be set with.
bool IsSettableType(ULONG propType);
bool IsMultiValued(ULONG propType);

// Copies an SPropValue. MAPI_E_INVALID_TYPE for types that hold no value;
// MAPI_E_INVALID_PARAMETER for null pointers where data is due.
HRESULT FromSPropValue(const SPropValue& in, Value& out);

// Fills out for the tag asked for (PT_UNSPECIFIED: the stored type, strings 8-bit
// unless unicode). Strings and arrays are allocated with MAPIAllocateMore on parent.
// MAPI_E_NOT_FOUND when the value cannot be given in that type.
HRESULT ToSPropValue(const Value& v, ULONG propId, ULONG wantType, bool unicode, void* parent,
                     SPropValue& out);
// An error slot: PROP_TAG(PT_ERROR, id) with the code.
void ErrorProp(ULONG propId, SCODE code, SPropValue& out);

// Size in bytes as a restriction on size sees it (large values: their length,
// capped at the largest ULONG).
ULONG ValueSize(const Value& v);

// UTF-16 <-> UTF-8 (invalid sequences become U+FFFD) come from the base layer.
using ::Utf16Length;
using ::Utf16ToUtf8;
using ::Utf8ToUtf16;

// Database encoding of the value part (multi-valued values as a counted blob).
// Decode returns false for bytes that do not fit the type.
std::string EncodeMulti(const Value& v);
bool DecodeMulti(ULONG type, const void* data, std::size_t size, Value& out);

// Now as a FILETIME (the base layer's wall clock).
using ::FileTimeNow;
std::uint64_t FileTimeOf(const FILETIME& ft);
FILETIME ToFileTime(std::uint64_t value);

// Allocates n elements of T (room for one when n is 0) linked to parent, or as a new
// root when parent is null. MAPI_E_NOT_ENOUGH_MEMORY beyond 2 GiB.
template <typename T>
HRESULT AllocArray(std::size_t n, void* parent, T** out) {
    void* p = nullptr;
    std::size_t bytes = sizeof(T) * (n == 0 ? 1 : n);
    if (bytes > 0x7FFFFFF0u) return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = parent ? MAPIAllocateMore(static_cast<ULONG>(bytes), parent, &p)
                        : MAPIAllocateBuffer(static_cast<ULONG>(bytes), &p);
    if (FAILED(hr)) return hr;
    *out = static_cast<T*>(p);
    return S_OK;
}

// A text argument (a folder's name, a message class) as UTF-8: UTF-16 under MAPI_UNICODE
// in flags, 8-bit otherwise; empty for null.
std::string TextArgument(LPCTSTR text, ULONG flags);

// A copy of a string into MAPI memory linked to parent (or a new root when null).
HRESULT CopyToMapi(const void* data, std::size_t size, void* parent, void** out);

}  // namespace mapistore
