// CPropValue: one property value that owns everything it points to (strings,
// binaries, arrays), in one MAPI memory block, so it can be handed to SetProps as
// it stands. Used for the pending values of a batch and for values read with
// HrGetOneProp. Also the text forms of values and times.
//
// One object belongs to one thread at a time; copies are deep.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/base/utf.h"
#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_ref.h"

class CPropValue {
public:
    CPropValue() = default;
    CPropValue(const CPropValue& other);
    CPropValue& operator=(const CPropValue& other);
    CPropValue(CPropValue&&) noexcept = default;
    CPropValue& operator=(CPropValue&&) noexcept = default;

    // A deep copy of value. Raises CMAPIException MAPI_E_INVALID_TYPE for a value of
    // a type this system does not know, MAPI_E_NOT_ENOUGH_MEMORY when memory fails.
    static CPropValue Copy(const SPropValue& value);
    // Takes over a value the store handed out (HrGetOneProp); may be null.
    static CPropValue Adopt(LPSPropValue value);

    // Values of the common types. A string tag of type PT_UNICODE stores the text
    // converted to UTF-16; String8 and Unicode force the tag's type.
    static CPropValue String8(ULONG tag, std::string_view text);
    static CPropValue Unicode(ULONG tag, std::u16string_view text);
    static CPropValue Long(ULONG tag, LONG value);
    static CPropValue Boolean(ULONG tag, bool value);
    static CPropValue Time(ULONG tag, FILETIME value);
    static CPropValue Binary(ULONG tag, const void* bytes, size_t length);
    static CPropValue MultiString8(ULONG tag, const std::vector<std::string>& values);

    bool Empty() const { return !value_; }
    // The value; null when empty.
    const SPropValue* Get() const { return value_.Get(); }
    SPropValue* Get() { return value_.Get(); }
    const SPropValue* operator->() const { return value_.Get(); }
    ULONG Tag() const { return value_ ? value_->ulPropTag : PR_NULL; }
    ULONG Type() const { return PROP_TYPE(Tag()); }

private:
    CMapiBuffer<SPropValue> value_;
};

// UTF-16 text to this system's 8-bit text, and back.
std::string Utf16ToText(const char16_t* text);
std::u16string TextToUtf16(std::string_view text);

// The parts of a FILETIME in UTC.
struct CUtcTime {
    int year = 1601;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};
CUtcTime FileTimeToUtc(const FILETIME& time);
FILETIME UtcToFileTime(const CUtcTime& time);

// The text form of any value: 8-bit strings as they are, UTF-16 strings converted,
// integers and booleans in decimal, floating point with "%f", times as
// "YYYY-MM-DD hh:mm:ss" (UTC), binaries as upper-case hexadecimal, GUIDs in braces,
// errors by their result text, multi-valued values joined with ", "; the empty
// text for null and object values.
std::string PropValueText(const SPropValue& value);
