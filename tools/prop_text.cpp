// Property names, values and times as the store tool reads and prints them.
#include "tools/prop_text.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/base/file_time.h"
#include "common/base/text.h"
#include "server/mapi/mapi_ref.h"

namespace {

struct SetName {
    const char* name;
    const GUID* guid;
};
const SetName kSets[] = {
    {"PS_PUBLIC_STRINGS", &PS_PUBLIC_STRINGS},   {"PSETID_Address", &PSETID_Address},
    {"PSETID_Appointment", &PSETID_Appointment}, {"PSETID_Task", &PSETID_Task},
    {"PSETID_Common", &PSETID_Common},           {"PS_MAPI", &PS_MAPI}};

[[noreturn]] void Fail(HRESULT hr, const std::string& message) { throw ToolError{hr, message}; }

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    parts.push_back(cur);
    return parts;
}

bool ParseInt(const std::string& text, std::int64_t& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    long long v = hex ? static_cast<long long>(std::strtoull(text.c_str() + 2, &end, 16))
                      : std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || (hex && text.size() == 2)) return false;
    out = v;
    return true;
}

std::string SetNameOf(const GUID& g) {
    for (const SetName& s : kSets)
        if (*s.guid == g) return s.name;
    return GuidToText(g);
}

mapistore::Value ParseScalar(ULONG type, const std::string& text) {
    using mapistore::Value;
    const std::string what = "value '" + text + "' is not a " + TypeName(type);
    std::int64_t i = 0;
    switch (type) {
        case PT_I2:
            if (!ParseInt(text, i) || i < -32768 || i > 65535) Fail(MAPI_E_BAD_VALUE, what);
            return Value::Long(static_cast<std::int16_t>(i), PT_I2);
        case PT_LONG:
            if (!ParseInt(text, i) || i < INT32_MIN || i > UINT32_MAX) Fail(MAPI_E_BAD_VALUE, what);
            return Value::Long(static_cast<std::int32_t>(static_cast<std::uint32_t>(i)), PT_LONG);
        case PT_I8:
        case PT_CURRENCY:
            if (!ParseInt(text, i)) Fail(MAPI_E_BAD_VALUE, what);
            return Value::Long(i, type);
        case PT_BOOLEAN:
            if (text == "1" || strcasecmp(text.c_str(), "true") == 0) return Value::Bool(true);
            if (text == "0" || strcasecmp(text.c_str(), "false") == 0) return Value::Bool(false);
            Fail(MAPI_E_BAD_VALUE, what);
        case PT_SYSTIME: {
            std::uint64_t ft = 0;
            if (!IsoToFileTime(text, ft)) Fail(MAPI_E_BAD_VALUE, what);
            return Value::Time(ft);
        }
        case PT_R4:
        case PT_DOUBLE:
        case PT_APPTIME: {
            char* end = nullptr;
            errno = 0;
            double d = std::strtod(text.c_str(), &end);
            if (text.empty() || errno != 0 || *end != '\0') Fail(MAPI_E_BAD_VALUE, what);
            Value v;
            v.type = type;
            v.d = d;
            return v;
        }
        case PT_STRING8:
        case PT_UNICODE:
            return Value::Text(text);
        case PT_BINARY: {
            std::optional<std::string> bytes = HexDecode(text);
            if (!bytes) Fail(MAPI_E_BAD_VALUE, what);
            return Value::Binary(*bytes);
        }
        case PT_CLSID: {
            GUID g{};
            if (!GuidFromText(text.c_str(), g)) Fail(MAPI_E_BAD_VALUE, what);
            Value v;
            v.type = PT_CLSID;
            v.s.assign(reinterpret_cast<const char*>(&g), sizeof g);
            return v;
        }
        default:
            Fail(MAPI_E_INVALID_TYPE, "properties of type " + TypeName(type) + " cannot be set");
    }
}

std::string FormatScalar(const mapistore::Value& v) {
    switch (v.type) {
        case PT_BOOLEAN:
            return v.i ? "true" : "false";
        case PT_SYSTIME:
            return FileTimeToIso(static_cast<std::uint64_t>(v.i));
        case PT_R4:
        case PT_DOUBLE:
        case PT_APPTIME: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g", v.d);
            return buf;
        }
        case PT_UNICODE:
            return v.s;
        case PT_BINARY:
            return HexEncode(v.s);
        case PT_CLSID: {
            GUID g{};
            if (v.s.size() == sizeof g) std::memcpy(&g, v.s.data(), sizeof g);
            return GuidToText(g);
        }
        default:
            return std::to_string(v.i);
    }
}

}  // namespace

std::string TypeName(ULONG type) {
    const char* name = MapiPropTypeName(type);
    if (name != nullptr) return name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(type));
    return buf;
}

PropRef ParsePropRef(const std::string& text) {
    PropRef ref;
    if (text.empty()) Fail(MAPI_E_INVALID_PARAMETER, "empty property name");
    if (text.find(':') == std::string::npos) {
        if (MapiPropTagFromName(text, ref.tag)) return ref;
        std::int64_t number = 0;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
            ParseInt(text, number) && number > 0xFFFF && number <= 0xFFFFFFFF) {
            ref.tag = static_cast<ULONG>(number);
            if (!mapistore::IsSettableType(mapistore::StoredType(PROP_TYPE(ref.tag))) &&
                PROP_TYPE(ref.tag) != PT_BOOLEAN)
                Fail(MAPI_E_INVALID_PARAMETER, "tag " + text + " has no usable property type");
            return ref;
        }
        if (const KnownNamedProp* known = MapiFindKnownNamedPropByName(text)) {
            ref.named = true;
            ref.namedProp.guid = *known->lpguid;
            ref.namedProp.kind = known->ulKind;
            ref.namedProp.lid = known->lID;
            ref.namedProp.name = known->lpszName ? known->lpszName : "";
            ref.namedProp.type = known->ulPropType;
            return ref;
        }
        Fail(MAPI_E_INVALID_PARAMETER, "unknown property '" + text + "'");
    }
    std::vector<std::string> parts = Split(text, ':');
    if (parts.size() < 2 || parts.size() > 3 || parts[1].empty())
        Fail(MAPI_E_INVALID_PARAMETER, "named property '" + text + "' is not SET:ID[:TYPE]");
    NamedSpec& n = ref.namedProp;
    bool setKnown = false;
    for (const SetName& s : kSets) {
        if (strcasecmp(parts[0].c_str(), s.name) == 0) {
            n.guid = *s.guid;
            setKnown = true;
        }
    }
    if (!setKnown && !GuidFromText(parts[0].c_str(), n.guid))
        Fail(MAPI_E_INVALID_PARAMETER, "unknown property set '" + parts[0] + "'");
    std::int64_t lid = 0;
    if (parts[1].size() > 2 && parts[1][0] == '0' && (parts[1][1] == 'x' || parts[1][1] == 'X')) {
        if (!ParseInt(parts[1], lid) || lid < 0 || lid > 0xFFFFFFFF)
            Fail(MAPI_E_INVALID_PARAMETER, "bad property id '" + parts[1] + "'");
        n.kind = MNID_ID;
        n.lid = static_cast<LONG>(static_cast<std::uint32_t>(lid));
    } else {
        n.kind = MNID_STRING;
        n.name = parts[1];
    }
    if (parts.size() == 3) {
        if (!MapiPropTypeFromName(parts[2], n.type))
            Fail(MAPI_E_INVALID_PARAMETER, "unknown type '" + parts[2] + "'");
    } else if (const KnownNamedProp* known =
                   MapiFindKnownNamedProp(n.guid, n.kind, n.lid, n.name)) {
        n.type = known->ulPropType;
    }
    ref.named = true;
    return ref;
}

ULONG ResolvePropSpec(IMAPIProp* obj, const PropRef& ref, bool create) {
    if (!ref.named) return ref.tag;
    const NamedSpec& n = ref.namedProp;
    if (n.type == PT_UNSPECIFIED)
        Fail(MAPI_E_INVALID_PARAMETER, "named property needs a type (SET:ID:TYPE)");
    GUID guid = n.guid;
    std::u16string wide = mapistore::Utf8ToUtf16(n.name);
    MAPINAMEID name{&guid, n.kind, {n.lid}};
    if (n.kind == MNID_STRING) name.Kind.lpwstrName = wide.data();
    LPMAPINAMEID names[1] = {&name};
    CMapiBuffer<SPropTagArray> tags;
    HRESULT hr = obj->GetIDsFromNames(1, names, create ? MAPI_CREATE : 0, tags.Put());
    if (FAILED(hr)) Fail(hr, "cannot map the named property");
    ULONG tag = tags->aulPropTag[0];
    if (PROP_TYPE(tag) == PT_ERROR) Fail(MAPI_E_NOT_FOUND, "the store has no such named property");
    return CHANGE_PROP_TYPE(tag, n.type);
}

mapistore::Value ParseValue(ULONG tag, const std::string& text) {
    const ULONG type = PROP_TYPE(tag);
    if ((type & MV_FLAG) == 0) return ParseScalar(type, text);
    mapistore::Value v;
    v.type = mapistore::StoredType(type);
    for (const std::string& part : Split(text, ';')) {
        mapistore::Value one = ParseScalar(type & ~MV_FLAG, part);
        switch (type & ~MV_FLAG) {
            case PT_STRING8:
            case PT_UNICODE:
            case PT_BINARY:
            case PT_CLSID:
                v.mvs.push_back(one.s);
                break;
            case PT_R4:
            case PT_DOUBLE:
            case PT_APPTIME:
                v.mvd.push_back(one.d);
                break;
            default:
                v.mvi.push_back(one.i);
        }
    }
    return v;
}

std::size_t ElementCount(const mapistore::Value& v) {
    return v.mvi.size() + v.mvd.size() + v.mvs.size();
}

mapistore::Value ElementOf(const mapistore::Value& v, std::size_t k) {
    mapistore::Value one;
    one.type = v.type & ~MV_FLAG;
    if (k < v.mvi.size()) one.i = v.mvi[k];
    if (k < v.mvd.size()) one.d = v.mvd[k];
    if (k < v.mvs.size()) one.s = v.mvs[k];
    return one;
}

std::string FormatValue(const mapistore::Value& v) {
    if ((v.type & MV_FLAG) == 0) return FormatScalar(v);
    std::string out;
    for (std::size_t k = 0; k < ElementCount(v); ++k) {
        if (k) out += ";";
        out += FormatScalar(ElementOf(v, k));
    }
    return out;
}

std::string FileTimeToIso(std::uint64_t filetime) {
    const std::int64_t seconds =
        static_cast<std::int64_t>(filetime / kFileTimeTicksPerSecond) - kSecondsFrom1601To1970;
    const std::uint64_t fraction = filetime % kFileTimeTicksPerSecond;
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) return std::to_string(filetime);
    char buf[48];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    std::string out = buf;
    if (fraction != 0) {
        char frac[16];
        std::snprintf(frac, sizeof frac, ".%07llu", static_cast<unsigned long long>(fraction));
        out += frac;
    }
    return out + "Z";
}

bool IsoToFileTime(const std::string& text, std::uint64_t& filetime) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::uint64_t fraction = 0;
    std::size_t pos = 0;
    auto digits = [&](int count, int& out) {
        if (pos + count > text.size()) return false;
        out = 0;
        for (int k = 0; k < count; ++k) {
            char c = text[pos + k];
            if (c < '0' || c > '9') return false;
            out = out * 10 + (c - '0');
        }
        pos += count;
        return true;
    };
    auto expect = [&](char c) { return pos < text.size() && text[pos++] == c; };
    if (!digits(4, year) || !expect('-') || !digits(2, month) || !expect('-') || !digits(2, day))
        return false;
    if (pos < text.size()) {
        if (!expect('T') || !digits(2, hour) || !expect(':') || !digits(2, minute) ||
            !expect(':') || !digits(2, second))
            return false;
        if (pos < text.size() && text[pos] == '.') {
            ++pos;
            int scale = 1000000;
            std::size_t start = pos;
            while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
                if (scale > 0) fraction += static_cast<std::uint64_t>(text[pos] - '0') * scale;
                scale /= 10;
                ++pos;
            }
            if (pos == start) return false;
        }
        if (!expect('Z') || pos != text.size()) return false;
    }
    if (year < 1601 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60)
        return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    std::time_t t = timegm(&tm);
    std::tm check{};
    if (gmtime_r(&t, &check) == nullptr || check.tm_mday != day || check.tm_mon != month - 1)
        return false;
    filetime = static_cast<std::uint64_t>(static_cast<std::int64_t>(t) + kSecondsFrom1601To1970) *
                   kFileTimeTicksPerSecond +
               fraction;
    return true;
}

std::string PropDisplayName(IMAPIProp* obj, ULONG tag) {
    const ULONG id = PROP_ID(tag);
    if (id >= PROP_ID_NAMED_FIRST) {
        ULONG idTag = PROP_TAG(PT_UNSPECIFIED, id);
        SizedSPropTagArray(1, tags) = {1, {idTag}};
        LPSPropTagArray list = reinterpret_cast<LPSPropTagArray>(&tags);
        ULONG count = 0;
        CMapiBuffer<LPMAPINAMEID> names;
        std::string out;
        if (SUCCEEDED(obj->GetNamesFromIDs(&list, nullptr, 0, &count, names.Put())) && count == 1 &&
            names.Get()[0] != nullptr) {
            const MAPINAMEID& n = *names.Get()[0];
            char lid[16];
            std::snprintf(lid, sizeof lid, "0x%04X", static_cast<unsigned>(n.Kind.lID));
            std::string key =
                n.ulKind == MNID_ID
                    ? std::string(lid)
                    : mapistore::Utf16ToUtf8(std::u16string_view(
                          n.Kind.lpwstrName, mapistore::Utf16Length(n.Kind.lpwstrName)));
            out = SetNameOf(*n.lpguid) + ":" + key;
        }
        if (!out.empty()) return out;
    }
    if (const char* name = MapiPropTagName(tag)) return name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(id));
    return buf;
}
