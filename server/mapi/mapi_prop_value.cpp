// CPropValue deep copies and the text forms of values and times.
#include "server/mapi/mapi_prop_value.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/recurrence/recurrence_rule.h"
#include "common/wbxml/text_convert.h"
#include "server/mapi/byte_buffer.h"
#include "server/mapi/mapi_exception.h"

namespace {

constexpr const char* kCopyPlace = "CPropValue::Copy";

// A block linked to root, filled with a copy of length bytes (null for none).
void* CopyMore(const void* bytes, size_t length, void* root) {
    if (length == 0 || bytes == nullptr) return nullptr;
    if (length > 0xFFFFFFFFu) throw CMAPIException(MAPI_E_TOO_BIG, kCopyPlace);
    void* block = nullptr;
    if (FAILED(MAPIAllocateMore(static_cast<ULONG>(length), root, &block)) || !block)
        throw CMAPIException(MAPI_E_NOT_ENOUGH_MEMORY, kCopyPlace);
    std::memcpy(block, bytes, length);
    return block;
}

char* CopyString8(const char* text, void* root) {
    if (text == nullptr) return nullptr;
    return static_cast<char*>(CopyMore(text, std::strlen(text) + 1, root));
}

char16_t* CopyUnicode(const char16_t* text, void* root) {
    if (text == nullptr) return nullptr;
    return static_cast<char16_t*>(CopyMore(text, (Utf16Length(text) + 1) * sizeof(char16_t), root));
}

// Copies the cValues elements an array member points to.
template <class Element>
Element* CopyElements(const Element* elements, ULONG count, void* root) {
    if (count == 0 || elements == nullptr) return nullptr;
    return static_cast<Element*>(CopyMore(elements, sizeof(Element) * count, root));
}

void CopyPointers(SPropValue& out, void* root) {
    _PV& v = out.Value;
    switch (PROP_TYPE(out.ulPropTag) & ~MV_INSTANCE) {
        case PT_STRING8:
            v.lpszA = CopyString8(v.lpszA, root);
            break;
        case PT_UNICODE:
            v.lpszW = CopyUnicode(v.lpszW, root);
            break;
        case PT_BINARY:
            v.bin.lpb = static_cast<LPBYTE>(CopyMore(v.bin.lpb, v.bin.cb, root));
            break;
        case PT_CLSID:
            v.lpguid = CopyElements(v.lpguid, v.lpguid ? 1 : 0, root);
            break;
        case PT_MV_I2:
            v.MVi.lpi = CopyElements(v.MVi.lpi, v.MVi.cValues, root);
            break;
        case PT_MV_LONG:
            v.MVl.lpl = CopyElements(v.MVl.lpl, v.MVl.cValues, root);
            break;
        case PT_MV_R4:
            v.MVflt.lpflt = CopyElements(v.MVflt.lpflt, v.MVflt.cValues, root);
            break;
        case PT_MV_DOUBLE:
            v.MVdbl.lpdbl = CopyElements(v.MVdbl.lpdbl, v.MVdbl.cValues, root);
            break;
        case PT_MV_CURRENCY:
            v.MVcur.lpcur = CopyElements(v.MVcur.lpcur, v.MVcur.cValues, root);
            break;
        case PT_MV_APPTIME:
            v.MVat.lpat = CopyElements(v.MVat.lpat, v.MVat.cValues, root);
            break;
        case PT_MV_SYSTIME:
            v.MVft.lpft = CopyElements(v.MVft.lpft, v.MVft.cValues, root);
            break;
        case PT_MV_CLSID:
            v.MVguid.lpguid = CopyElements(v.MVguid.lpguid, v.MVguid.cValues, root);
            break;
        case PT_MV_I8:
            v.MVli.lpli = CopyElements(v.MVli.lpli, v.MVli.cValues, root);
            break;
        case PT_MV_STRING8: {
            LPSTR* strings = CopyElements(v.MVszA.lppszA, v.MVszA.cValues, root);
            for (ULONG i = 0; strings && i < v.MVszA.cValues; ++i)
                strings[i] = CopyString8(strings[i], root);
            v.MVszA.lppszA = strings;
            break;
        }
        case PT_MV_UNICODE: {
            LPWSTR* strings = CopyElements(v.MVszW.lppszW, v.MVszW.cValues, root);
            for (ULONG i = 0; strings && i < v.MVszW.cValues; ++i)
                strings[i] = CopyUnicode(strings[i], root);
            v.MVszW.lppszW = strings;
            break;
        }
        case PT_MV_BINARY: {
            SBinary* bins = CopyElements(v.MVbin.lpbin, v.MVbin.cValues, root);
            for (ULONG i = 0; bins && i < v.MVbin.cValues; ++i)
                bins[i].lpb = static_cast<LPBYTE>(CopyMore(bins[i].lpb, bins[i].cb, root));
            v.MVbin.lpbin = bins;
            break;
        }
        case PT_UNSPECIFIED:
        case PT_NULL:
        case PT_I2:
        case PT_LONG:
        case PT_R4:
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_ERROR:
        case PT_BOOLEAN:
        case PT_OBJECT:
        case PT_I8:
        case PT_SYSTIME:
            break;  // the value is held in the structure itself
        default:
            throw CMAPIException(MAPI_E_INVALID_TYPE, kCopyPlace);
    }
}

CMapiBuffer<SPropValue> NewValue() {
    CMapiBuffer<SPropValue> value;
    void* block = nullptr;
    if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), &block)) || !block)
        throw CMAPIException(MAPI_E_NOT_ENOUGH_MEMORY, kCopyPlace);
    value.Reset(static_cast<SPropValue*>(block));
    std::memset(block, 0, sizeof(SPropValue));
    return value;
}

// The day number of 1601-01-01, where file times count from, on the one calendar
// (proleptic Gregorian) the recurrence code keeps.
std::int64_t Day1601() {
    static const std::int64_t day = recur::DayOf(1601, 1, 1);
    return day;
}

std::string Joined(ULONG count, const auto& element) {
    std::string text;
    for (ULONG i = 0; i < count; ++i) {
        if (i > 0) text += ", ";
        text += element(i);
    }
    return text;
}

std::string Format(const char* format, auto... args) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

std::string TimeText(const FILETIME& ft) {
    CUtcTime t = FileTimeToUtc(ft);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
}

std::string GuidText(const GUID* guid) { return guid ? GuidToText(*guid) : std::string(); }

}  // namespace

CPropValue::CPropValue(const CPropValue& other) {
    if (other.value_) *this = Copy(*other.value_.Get());
}

CPropValue& CPropValue::operator=(const CPropValue& other) {
    if (this != &other) {
        CPropValue copy = other.value_ ? Copy(*other.value_.Get()) : CPropValue();
        value_ = std::move(copy.value_);
    }
    return *this;
}

CPropValue CPropValue::Copy(const SPropValue& value) {
    CPropValue result;
    result.value_ = NewValue();
    *result.value_.Get() = value;
    CopyPointers(*result.value_.Get(), result.value_.Get());
    return result;
}

CPropValue CPropValue::Adopt(LPSPropValue value) {
    CPropValue result;
    result.value_.Reset(value);
    return result;
}

CPropValue CPropValue::String8(ULONG tag, std::string_view text) {
    std::string copy(text);
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_STRING8);
    v.Value.lpszA = copy.data();
    return Copy(v);
}

CPropValue CPropValue::Unicode(ULONG tag, std::u16string_view text) {
    std::u16string copy(text);
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_UNICODE);
    v.Value.lpszW = copy.data();
    return Copy(v);
}

CPropValue CPropValue::Long(ULONG tag, LONG value) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    return Copy(v);
}

CPropValue CPropValue::Boolean(ULONG tag, bool value) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.b = value ? 1 : 0;
    return Copy(v);
}

CPropValue CPropValue::Time(ULONG tag, FILETIME value) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.ft = value;
    return Copy(v);
}

CPropValue CPropValue::Binary(ULONG tag, const void* bytes, size_t length) {
    if (length > 0xFFFFFFFFu) throw CMAPIException(MAPI_E_TOO_BIG, kCopyPlace);
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin.cb = static_cast<ULONG>(length);
    v.Value.bin.lpb = static_cast<LPBYTE>(const_cast<void*>(bytes));
    return Copy(v);
}

CPropValue CPropValue::MultiString8(ULONG tag, const std::vector<std::string>& values) {
    std::vector<LPSTR> pointers;
    pointers.reserve(values.size());
    for (const std::string& s : values) pointers.push_back(const_cast<char*>(s.c_str()));
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_MV_STRING8);
    v.Value.MVszA.cValues = static_cast<ULONG>(pointers.size());
    v.Value.MVszA.lppszA = pointers.empty() ? nullptr : pointers.data();
    return Copy(v);
}

std::string Utf16ToText(const char16_t* text) {
    if (text == nullptr) return std::string();
    return FromUtf8(Utf16ToUtf8(std::u16string_view(text, Utf16Length(text))));
}

std::u16string TextToUtf16(std::string_view text) { return Utf8ToUtf16(ToUtf8(text)); }

CUtcTime FileTimeToUtc(const FILETIME& time) {
    uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr uint64_t kTicksPerMs = 10000;
    constexpr uint64_t kMsPerDay = 86400000;
    uint64_t ms = ticks / kTicksPerMs;
    CUtcTime t;
    const recur::CivilDate date = recur::DateOf(static_cast<int64_t>(ms / kMsPerDay) + Day1601());
    t.year = date.year;
    t.month = date.month;
    t.day = date.day;
    uint64_t inDay = ms % kMsPerDay;
    t.hour = static_cast<int>(inDay / 3600000);
    t.minute = static_cast<int>(inDay / 60000 % 60);
    t.second = static_cast<int>(inDay / 1000 % 60);
    t.millisecond = static_cast<int>(inDay % 1000);
    return t;
}

FILETIME UtcToFileTime(const CUtcTime& t) {
    int64_t days = recur::DayOfAnyDate(t.year, t.month, t.day) - Day1601();
    int64_t ms = days * 86400000 + int64_t{t.hour} * 3600000 + int64_t{t.minute} * 60000 +
                 int64_t{t.second} * 1000 + t.millisecond;
    uint64_t ticks = ms < 0 ? 0 : static_cast<uint64_t>(ms) * 10000;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

std::string PropValueText(const SPropValue& value) {
    const _PV& v = value.Value;
    switch (PROP_TYPE(value.ulPropTag) & ~MV_INSTANCE) {
        case PT_STRING8:
            return v.lpszA ? v.lpszA : "";
        case PT_UNICODE:
            return Utf16ToText(v.lpszW);
        case PT_I2:
            return Format("%d", static_cast<int>(v.i));
        case PT_LONG:
            return Format("%d", static_cast<int>(v.l));
        case PT_BOOLEAN:
            return Format("%d", static_cast<int>(v.b));
        case PT_I8:
            return Format("%" PRId64, static_cast<int64_t>(v.li.QuadPart));
        case PT_R4:
            return Format("%f", static_cast<double>(v.flt));
        case PT_DOUBLE:
            return Format("%f", v.dbl);
        case PT_APPTIME:
            return Format("%f", v.at);
        case PT_CURRENCY: {
            int64_t c = v.cur.int64;
            uint64_t magnitude = c < 0 ? 0 - static_cast<uint64_t>(c) : static_cast<uint64_t>(c);
            return Format("%s%" PRIu64 ".%04" PRIu64, c < 0 ? "-" : "", magnitude / 10000,
                          magnitude % 10000);
        }
        case PT_SYSTIME:
            return TimeText(v.ft);
        case PT_BINARY:
            return CByteBuffer(v.bin).ToText();
        case PT_CLSID:
            return GuidText(v.lpguid);
        case PT_ERROR:
            return CMAPIException::ResultText(v.err);
        case PT_MV_I2:
            return Joined(v.MVi.cValues, [&](ULONG i) { return Format("%d", int{v.MVi.lpi[i]}); });
        case PT_MV_LONG:
            return Joined(v.MVl.cValues, [&](ULONG i) { return Format("%d", int{v.MVl.lpl[i]}); });
        case PT_MV_I8:
            return Joined(v.MVli.cValues, [&](ULONG i) {
                return Format("%" PRId64, static_cast<int64_t>(v.MVli.lpli[i].QuadPart));
            });
        case PT_MV_DOUBLE:
            return Joined(v.MVdbl.cValues, [&](ULONG i) { return Format("%f", v.MVdbl.lpdbl[i]); });
        case PT_MV_R4:
            return Joined(v.MVflt.cValues,
                          [&](ULONG i) { return Format("%f", double{v.MVflt.lpflt[i]}); });
        case PT_MV_APPTIME:
            return Joined(v.MVat.cValues, [&](ULONG i) { return Format("%f", v.MVat.lpat[i]); });
        case PT_MV_SYSTIME:
            return Joined(v.MVft.cValues, [&](ULONG i) { return TimeText(v.MVft.lpft[i]); });
        case PT_MV_STRING8:
            return Joined(v.MVszA.cValues, [&](ULONG i) {
                return std::string(v.MVszA.lppszA[i] ? v.MVszA.lppszA[i] : "");
            });
        case PT_MV_UNICODE:
            return Joined(v.MVszW.cValues, [&](ULONG i) { return Utf16ToText(v.MVszW.lppszW[i]); });
        case PT_MV_BINARY:
            return Joined(v.MVbin.cValues,
                          [&](ULONG i) { return CByteBuffer(v.MVbin.lpbin[i]).ToText(); });
        case PT_MV_CLSID:
            return Joined(v.MVguid.cValues, [&](ULONG i) { return GuidText(&v.MVguid.lpguid[i]); });
        default:
            return std::string();
    }
}
