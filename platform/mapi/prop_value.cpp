// Owned property values and their conversions.
#include "platform/mapi/prop_value.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/mapi/mapi_functions.h"

namespace mapistore {

namespace {

constexpr std::size_t kMaxValueBytes = 512u * 1024u * 1024u;
constexpr ULONG kMaxMultiCount = 1u << 20;

void PutU32(std::string& out, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
}
void PutU64(std::string& out, std::uint64_t v) {
    for (int k = 0; k < 8; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
}
bool GetU32(const unsigned char*& p, const unsigned char* end, std::uint32_t& v) {
    if (end - p < 4) return false;
    v = 0;
    for (int k = 0; k < 4; ++k) v |= std::uint32_t{p[k]} << (8 * k);
    p += 4;
    return true;
}
bool GetU64(const unsigned char*& p, const unsigned char* end, std::uint64_t& v) {
    if (end - p < 8) return false;
    v = 0;
    for (int k = 0; k < 8; ++k) v |= std::uint64_t{p[k]} << (8 * k);
    p += 8;
    return true;
}

std::string GuidBytes(const GUID& g) {
    std::string s(16, '\0');
    std::memcpy(s.data(), &g, 16);
    return s;
}

HRESULT CopyString8(const std::string& s, void* parent, LPSTR* out) {
    void* p = nullptr;
    HRESULT hr = CopyToMapi(s.c_str(), s.size() + 1, parent, &p);
    if (FAILED(hr)) return hr;
    *out = static_cast<LPSTR>(p);
    return S_OK;
}

HRESULT CopyString16(const std::string& s, void* parent, LPWSTR* out) {
    std::u16string w = Utf8ToUtf16(s);
    void* p = nullptr;
    HRESULT hr = CopyToMapi(w.c_str(), (w.size() + 1) * sizeof(char16_t), parent, &p);
    if (FAILED(hr)) return hr;
    *out = static_cast<LPWSTR>(p);
    return S_OK;
}

HRESULT CopyBinary(const std::string& s, void* parent, SBinary& out) {
    out.cb = static_cast<ULONG>(s.size());
    out.lpb = nullptr;
    void* p = nullptr;
    HRESULT hr = CopyToMapi(s.data(), s.size(), parent, &p);
    if (FAILED(hr)) return hr;
    out.lpb = static_cast<LPBYTE>(p);
    return S_OK;
}

}  // namespace

Value Value::Long(std::int64_t v, ULONG type) {
    Value x;
    x.type = type;
    x.i = v;
    return x;
}
Value Value::Bool(bool v) { return Long(v ? 1 : 0, PT_BOOLEAN); }
Value Value::Time(std::uint64_t filetime) {
    return Long(static_cast<std::int64_t>(filetime), PT_SYSTIME);
}
Value Value::Text(std::string utf8) {
    Value x;
    x.type = PT_UNICODE;
    x.s = std::move(utf8);
    return x;
}
Value Value::Binary(std::string bytes) {
    Value x;
    x.type = PT_BINARY;
    x.s = std::move(bytes);
    return x;
}

bool operator==(const Value& a, const Value& b) {
    return a.type == b.type && a.i == b.i && a.d == b.d && a.s == b.s && a.mvi == b.mvi &&
           a.mvd == b.mvd && a.mvs == b.mvs && a.large == b.large && a.blob == b.blob;
}

ULONG StoredType(ULONG propType) {
    ULONG t = propType & ~MV_INSTANCE;
    if (t == PT_STRING8) return PT_UNICODE;
    if (t == PT_MV_STRING8) return PT_MV_UNICODE;
    return t;
}

bool IsMultiValued(ULONG propType) { return (propType & MV_FLAG) != 0; }

bool IsSettableType(ULONG propType) {
    switch (propType & ~MV_FLAG) {
        case PT_I2:
        case PT_LONG:
        case PT_R4:
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_I8:
        case PT_STRING8:
        case PT_UNICODE:
        case PT_SYSTIME:
        case PT_CLSID:
        case PT_BINARY:
            return true;
        case PT_BOOLEAN:
            return (propType & MV_FLAG) == 0;
        default:
            return false;
    }
}

HRESULT FromSPropValue(const SPropValue& in, Value& out) {
    ULONG type = PROP_TYPE(in.ulPropTag);
    if ((type & MV_INSTANCE) != 0 || !IsSettableType(type)) return MAPI_E_INVALID_TYPE;
    Value v;
    v.type = StoredType(type);
    const _PV& pv = in.Value;
    auto checkCount = [](ULONG n, const void* p) -> HRESULT {
        if (n > kMaxMultiCount) return MAPI_E_TOO_BIG;
        if (n > 0 && p == nullptr) return MAPI_E_INVALID_PARAMETER;
        return S_OK;
    };
    HRESULT hr = S_OK;
    switch (type) {
        case PT_I2:
            v.i = pv.i;
            break;
        case PT_LONG:
            v.i = pv.l;
            break;
        case PT_R4:
            v.d = pv.flt;
            break;
        case PT_DOUBLE:
            v.d = pv.dbl;
            break;
        case PT_APPTIME:
            v.d = pv.at;
            break;
        case PT_CURRENCY:
            v.i = pv.cur.int64;
            break;
        case PT_BOOLEAN:
            v.i = pv.b ? 1 : 0;
            break;
        case PT_I8:
            v.i = pv.li.QuadPart;
            break;
        case PT_SYSTIME:
            v.i = static_cast<std::int64_t>(FileTimeOf(pv.ft));
            break;
        case PT_STRING8:
            if (pv.lpszA == nullptr) return MAPI_E_INVALID_PARAMETER;
            v.s = pv.lpszA;
            break;
        case PT_UNICODE:
            if (pv.lpszW == nullptr) return MAPI_E_INVALID_PARAMETER;
            v.s = Utf16ToUtf8(std::u16string_view(pv.lpszW, Utf16Length(pv.lpszW)));
            break;
        case PT_BINARY:
            if (pv.bin.cb > kMaxValueBytes) return MAPI_E_TOO_BIG;
            if (pv.bin.cb > 0 && pv.bin.lpb == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (pv.bin.cb > 0) v.s.assign(reinterpret_cast<const char*>(pv.bin.lpb), pv.bin.cb);
            break;
        case PT_CLSID:
            if (pv.lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
            v.s = GuidBytes(*pv.lpguid);
            break;
        case PT_MV_I2:
            if ((hr = checkCount(pv.MVi.cValues, pv.MVi.lpi)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVi.cValues; ++k) v.mvi.push_back(pv.MVi.lpi[k]);
            break;
        case PT_MV_LONG:
            if ((hr = checkCount(pv.MVl.cValues, pv.MVl.lpl)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVl.cValues; ++k) v.mvi.push_back(pv.MVl.lpl[k]);
            break;
        case PT_MV_R4:
            if ((hr = checkCount(pv.MVflt.cValues, pv.MVflt.lpflt)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVflt.cValues; ++k) v.mvd.push_back(pv.MVflt.lpflt[k]);
            break;
        case PT_MV_DOUBLE:
            if ((hr = checkCount(pv.MVdbl.cValues, pv.MVdbl.lpdbl)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVdbl.cValues; ++k) v.mvd.push_back(pv.MVdbl.lpdbl[k]);
            break;
        case PT_MV_APPTIME:
            if ((hr = checkCount(pv.MVat.cValues, pv.MVat.lpat)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVat.cValues; ++k) v.mvd.push_back(pv.MVat.lpat[k]);
            break;
        case PT_MV_CURRENCY:
            if ((hr = checkCount(pv.MVcur.cValues, pv.MVcur.lpcur)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVcur.cValues; ++k) v.mvi.push_back(pv.MVcur.lpcur[k].int64);
            break;
        case PT_MV_I8:
            if ((hr = checkCount(pv.MVli.cValues, pv.MVli.lpli)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVli.cValues; ++k) v.mvi.push_back(pv.MVli.lpli[k].QuadPart);
            break;
        case PT_MV_SYSTIME:
            if ((hr = checkCount(pv.MVft.cValues, pv.MVft.lpft)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVft.cValues; ++k)
                v.mvi.push_back(static_cast<std::int64_t>(FileTimeOf(pv.MVft.lpft[k])));
            break;
        case PT_MV_STRING8:
            if ((hr = checkCount(pv.MVszA.cValues, pv.MVszA.lppszA)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVszA.cValues; ++k) {
                if (pv.MVszA.lppszA[k] == nullptr) return MAPI_E_INVALID_PARAMETER;
                v.mvs.emplace_back(pv.MVszA.lppszA[k]);
            }
            break;
        case PT_MV_UNICODE:
            if ((hr = checkCount(pv.MVszW.cValues, pv.MVszW.lppszW)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVszW.cValues; ++k) {
                const char16_t* w = pv.MVszW.lppszW[k];
                if (w == nullptr) return MAPI_E_INVALID_PARAMETER;
                v.mvs.push_back(Utf16ToUtf8(std::u16string_view(w, Utf16Length(w))));
            }
            break;
        case PT_MV_BINARY:
            if ((hr = checkCount(pv.MVbin.cValues, pv.MVbin.lpbin)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVbin.cValues; ++k) {
                const SBinary& b = pv.MVbin.lpbin[k];
                if (b.cb > kMaxValueBytes) return MAPI_E_TOO_BIG;
                if (b.cb > 0 && b.lpb == nullptr) return MAPI_E_INVALID_PARAMETER;
                v.mvs.emplace_back(b.cb > 0
                                       ? std::string(reinterpret_cast<const char*>(b.lpb), b.cb)
                                       : std::string());
            }
            break;
        case PT_MV_CLSID:
            if ((hr = checkCount(pv.MVguid.cValues, pv.MVguid.lpguid)) != S_OK) return hr;
            for (ULONG k = 0; k < pv.MVguid.cValues; ++k)
                v.mvs.push_back(GuidBytes(pv.MVguid.lpguid[k]));
            break;
        default:
            return MAPI_E_INVALID_TYPE;
    }
    out = std::move(v);
    return S_OK;
}

void ErrorProp(ULONG propId, SCODE code, SPropValue& out) {
    out.ulPropTag = PROP_TAG(PT_ERROR, propId);
    out.dwAlignPad = 0;
    out.Value.err = code;
}

HRESULT ToSPropValue(const Value& v, ULONG propId, ULONG wantType, bool unicode, void* parent,
                     SPropValue& out) {
    ULONG type = wantType & ~MV_INSTANCE;
    if (type == PT_UNSPECIFIED) {
        type = v.type;
        if (!unicode && type == PT_UNICODE) type = PT_STRING8;
        if (!unicode && type == PT_MV_UNICODE) type = PT_MV_STRING8;
    }
    if (StoredType(type) != v.type) return MAPI_E_NOT_FOUND;
    // Large values are read through streams only.
    if (v.large != nullptr || v.blob != 0) return MAPI_E_NOT_ENOUGH_MEMORY;
    out.ulPropTag = PROP_TAG(type, propId);
    out.dwAlignPad = 0;
    std::memset(&out.Value, 0, sizeof out.Value);
    _PV& pv = out.Value;
    const std::size_t n = v.mvi.size() + v.mvd.size() + v.mvs.size();
    switch (type) {
        case PT_I2:
            pv.i = static_cast<SHORT>(v.i);
            return S_OK;
        case PT_LONG:
            pv.l = static_cast<LONG>(v.i);
            return S_OK;
        case PT_R4:
            pv.flt = static_cast<float>(v.d);
            return S_OK;
        case PT_DOUBLE:
            pv.dbl = v.d;
            return S_OK;
        case PT_APPTIME:
            pv.at = v.d;
            return S_OK;
        case PT_CURRENCY:
            pv.cur.int64 = v.i;
            return S_OK;
        case PT_BOOLEAN:
            pv.b = v.i ? 1 : 0;
            return S_OK;
        case PT_I8:
            pv.li.QuadPart = v.i;
            return S_OK;
        case PT_SYSTIME:
            pv.ft = ToFileTime(static_cast<std::uint64_t>(v.i));
            return S_OK;
        case PT_STRING8:
            return CopyString8(v.s, parent, &pv.lpszA);
        case PT_UNICODE:
            return CopyString16(v.s, parent, &pv.lpszW);
        case PT_BINARY:
            return CopyBinary(v.s, parent, pv.bin);
        case PT_CLSID: {
            GUID* g = nullptr;
            HRESULT hr = AllocArray(1, parent, &g);
            if (FAILED(hr)) return hr;
            if (v.s.size() == 16) std::memcpy(g, v.s.data(), 16);
            pv.lpguid = g;
            return S_OK;
        }
        case PT_MV_I2: {
            HRESULT hr = AllocArray(n, parent, &pv.MVi.lpi);
            if (FAILED(hr)) return hr;
            pv.MVi.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k) pv.MVi.lpi[k] = static_cast<SHORT>(v.mvi[k]);
            return S_OK;
        }
        case PT_MV_LONG: {
            HRESULT hr = AllocArray(n, parent, &pv.MVl.lpl);
            if (FAILED(hr)) return hr;
            pv.MVl.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k) pv.MVl.lpl[k] = static_cast<LONG>(v.mvi[k]);
            return S_OK;
        }
        case PT_MV_R4: {
            HRESULT hr = AllocArray(n, parent, &pv.MVflt.lpflt);
            if (FAILED(hr)) return hr;
            pv.MVflt.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k) pv.MVflt.lpflt[k] = static_cast<float>(v.mvd[k]);
            return S_OK;
        }
        case PT_MV_DOUBLE:
        case PT_MV_APPTIME: {
            double* a = nullptr;
            HRESULT hr = AllocArray(n, parent, &a);
            if (FAILED(hr)) return hr;
            for (std::size_t k = 0; k < n; ++k) a[k] = v.mvd[k];
            pv.MVdbl.cValues = static_cast<ULONG>(n);
            pv.MVdbl.lpdbl = a;
            return S_OK;
        }
        case PT_MV_CURRENCY: {
            HRESULT hr = AllocArray(n, parent, &pv.MVcur.lpcur);
            if (FAILED(hr)) return hr;
            pv.MVcur.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k) pv.MVcur.lpcur[k].int64 = v.mvi[k];
            return S_OK;
        }
        case PT_MV_I8: {
            HRESULT hr = AllocArray(n, parent, &pv.MVli.lpli);
            if (FAILED(hr)) return hr;
            pv.MVli.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k) pv.MVli.lpli[k].QuadPart = v.mvi[k];
            return S_OK;
        }
        case PT_MV_SYSTIME: {
            HRESULT hr = AllocArray(n, parent, &pv.MVft.lpft);
            if (FAILED(hr)) return hr;
            pv.MVft.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k)
                pv.MVft.lpft[k] = ToFileTime(static_cast<std::uint64_t>(v.mvi[k]));
            return S_OK;
        }
        case PT_MV_STRING8: {
            HRESULT hr = AllocArray(n, parent, &pv.MVszA.lppszA);
            if (FAILED(hr)) return hr;
            pv.MVszA.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k)
                if (FAILED(hr = CopyString8(v.mvs[k], parent, &pv.MVszA.lppszA[k]))) return hr;
            return S_OK;
        }
        case PT_MV_UNICODE: {
            HRESULT hr = AllocArray(n, parent, &pv.MVszW.lppszW);
            if (FAILED(hr)) return hr;
            pv.MVszW.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k)
                if (FAILED(hr = CopyString16(v.mvs[k], parent, &pv.MVszW.lppszW[k]))) return hr;
            return S_OK;
        }
        case PT_MV_BINARY: {
            HRESULT hr = AllocArray(n, parent, &pv.MVbin.lpbin);
            if (FAILED(hr)) return hr;
            pv.MVbin.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k)
                if (FAILED(hr = CopyBinary(v.mvs[k], parent, pv.MVbin.lpbin[k]))) return hr;
            return S_OK;
        }
        case PT_MV_CLSID: {
            HRESULT hr = AllocArray(n, parent, &pv.MVguid.lpguid);
            if (FAILED(hr)) return hr;
            pv.MVguid.cValues = static_cast<ULONG>(n);
            for (std::size_t k = 0; k < n; ++k)
                if (v.mvs[k].size() == 16) std::memcpy(&pv.MVguid.lpguid[k], v.mvs[k].data(), 16);
            return S_OK;
        }
        default:
            return MAPI_E_NOT_FOUND;
    }
}

ULONG ValueSize(const Value& v) {
    switch (v.type) {
        case PT_I2:
        case PT_BOOLEAN:
            return 2;
        case PT_LONG:
        case PT_R4:
        case PT_ERROR:
            return 4;
        case PT_DOUBLE:
        case PT_APPTIME:
        case PT_CURRENCY:
        case PT_I8:
        case PT_SYSTIME:
            return 8;
        case PT_UNICODE:
            return static_cast<ULONG>(v.s.size() + 1);
        case PT_BINARY:
        case PT_CLSID:
            if (v.large != nullptr)
                return static_cast<ULONG>(std::min<std::uint64_t>(v.large->Size(), 0xFFFFFFFFu));
            return static_cast<ULONG>(v.s.size());
        default: {
            std::size_t total = v.mvi.size() * 8 + v.mvd.size() * 8;
            for (const std::string& s : v.mvs)
                total += s.size() + (v.type == PT_MV_UNICODE ? 1 : 0);
            return static_cast<ULONG>(total);
        }
    }
}

std::string EncodeMulti(const Value& v) {
    std::string out;
    if (!v.mvs.empty() || v.type == PT_MV_UNICODE || v.type == PT_MV_BINARY ||
        v.type == PT_MV_CLSID) {
        PutU32(out, static_cast<std::uint32_t>(v.mvs.size()));
        for (const std::string& s : v.mvs) {
            PutU32(out, static_cast<std::uint32_t>(s.size()));
            out += s;
        }
    } else if (v.type == PT_MV_R4 || v.type == PT_MV_DOUBLE || v.type == PT_MV_APPTIME) {
        PutU32(out, static_cast<std::uint32_t>(v.mvd.size()));
        for (double d : v.mvd) {
            std::uint64_t bits;
            std::memcpy(&bits, &d, 8);
            PutU64(out, bits);
        }
    } else {
        PutU32(out, static_cast<std::uint32_t>(v.mvi.size()));
        for (std::int64_t i : v.mvi) PutU64(out, static_cast<std::uint64_t>(i));
    }
    return out;
}

bool DecodeMulti(ULONG type, const void* data, std::size_t size, Value& out) {
    const auto* p = static_cast<const unsigned char*>(data);
    const unsigned char* end = p + size;
    Value v;
    v.type = type;
    std::uint32_t count = 0;
    if (p == nullptr && size == 0) return false;
    if (!GetU32(p, end, count)) return false;
    if (type == PT_MV_UNICODE || type == PT_MV_BINARY || type == PT_MV_CLSID) {
        for (std::uint32_t k = 0; k < count; ++k) {
            std::uint32_t len = 0;
            if (!GetU32(p, end, len) || static_cast<std::size_t>(end - p) < len) return false;
            v.mvs.emplace_back(reinterpret_cast<const char*>(p), len);
            p += len;
        }
    } else if (type == PT_MV_R4 || type == PT_MV_DOUBLE || type == PT_MV_APPTIME) {
        for (std::uint32_t k = 0; k < count; ++k) {
            std::uint64_t bits = 0;
            if (!GetU64(p, end, bits)) return false;
            double d;
            std::memcpy(&d, &bits, 8);
            v.mvd.push_back(d);
        }
    } else if (IsMultiValued(type)) {
        for (std::uint32_t k = 0; k < count; ++k) {
            std::uint64_t bits = 0;
            if (!GetU64(p, end, bits)) return false;
            v.mvi.push_back(static_cast<std::int64_t>(bits));
        }
    } else {
        return false;
    }
    if (p != end) return false;
    out = std::move(v);
    return true;
}

std::uint64_t FileTimeOf(const FILETIME& ft) {
    return (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

FILETIME ToFileTime(std::uint64_t value) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return ft;
}

std::string TextArgument(LPCTSTR text, ULONG flags) {
    if (text == nullptr) return std::string();
    if ((flags & MAPI_UNICODE) != 0) {
        const auto* w = reinterpret_cast<const char16_t*>(text);
        return Utf16ToUtf8(std::u16string_view(w, Utf16Length(w)));
    }
    return text;
}

HRESULT CopyToMapi(const void* data, std::size_t size, void* parent, void** out) {
    *out = nullptr;
    if (size > 0x7FFFFFF0u) return MAPI_E_NOT_ENOUGH_MEMORY;
    void* p = nullptr;
    ULONG cb = static_cast<ULONG>(size == 0 ? 1 : size);
    HRESULT hr = parent ? MAPIAllocateMore(cb, parent, &p) : MAPIAllocateBuffer(cb, &p);
    if (FAILED(hr)) return hr;
    if (size > 0) std::memcpy(p, data, size);
    *out = p;
    return S_OK;
}

}  // namespace mapistore
