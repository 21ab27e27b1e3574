// CGenMapiPropPtr: properties, batching, named-property ids and bodies.
#include "server/mapi/gen_mapi_prop_ptr.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_query.h"

namespace {

std::string PlaceWithTag(const char* place, ULONG tag) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, " 0x%08X", static_cast<unsigned>(tag));
    return std::string(place) + suffix;
}

}  // namespace

IMAPIProp* CGenMapiPropPtr::Checked(const char* place) const {
    IMAPIProp* prop = GetMapiProp();
    if (prop == nullptr) throw CMAPIException(MAPI_E_INVALID_OBJECT, place);
    return prop;
}

void CGenMapiPropPtr::DropBatch() {
    pending_.clear();
    cachedBody_.clear();
}

CPropValue* CGenMapiPropPtr::FindPending(ULONG tag) {
    for (CPropValue& value : pending_) {
        if (value.Tag() == tag) return &value;
    }
    return nullptr;
}

void CGenMapiPropPtr::DropPending(ULONG tag) {
    std::erase_if(pending_, [tag](const CPropValue& v) { return v.Tag() == tag; });
}

// ---- the four slots ----------------------------------------------------------------

HRESULT CGenMapiPropPtr::SetOneProp(const SPropValue& value) {
    if (batched_) {
        try {
            CPropValue copy = CPropValue::Copy(value);
            if (CPropValue* pending = FindPending(value.ulPropTag)) {
                *pending = std::move(copy);
                return S_OK;
            }
            if (pending_.size() >= kMaxBatch - 1) SaveProps();
            pending_.push_back(std::move(copy));
            return S_OK;
        } catch (const CMAPIException& e) {
            return e.GetHResult();
        }
    }
    IMAPIProp* prop = GetMapiProp();
    if (prop == nullptr) return MAPI_E_INVALID_OBJECT;
    SPropValue copy = value;  // HrSetOneProp takes a non-const value; it only reads it
    return HrSetOneProp(prop, &copy);
}

HRESULT CGenMapiPropPtr::GetOneProp(ULONG tag, CPropValue& out) {
    out = CPropValue();
    if (batched_) {
        if (const CPropValue* pending = FindPending(tag)) {
            try {
                out = *pending;
                return S_OK;
            } catch (const CMAPIException& e) {
                return e.GetHResult();
            }
        }
    }
    IMAPIProp* prop = GetMapiProp();
    if (prop == nullptr) return MAPI_E_INVALID_OBJECT;
    LPSPropValue value = nullptr;
    HRESULT hr = HrGetOneProp(prop, tag, &value);
    CPropValue owned = CPropValue::Adopt(value);
    if (FAILED(hr)) return hr;
    if (owned.Empty()) return MAPI_E_NOT_FOUND;
    out = std::move(owned);
    return S_OK;
}

void CGenMapiPropPtr::SaveChanges(ULONG flags) {
    constexpr const char* kPlace = "CGenMapiPropPtr::SaveChanges";
    IMAPIProp* prop = Checked(kPlace);
    SaveProps();
    MapiCheck(prop->SaveChanges(flags), kPlace, prop);
}

// ---- batching --------------------------------------------------------------------------

void CGenMapiPropPtr::SetBatched(bool batched) {
    if (batched_ && !batched) {
        SaveProps();
        cachedBody_.clear();
    }
    batched_ = batched;
}

void CGenMapiPropPtr::SaveProps() {
    constexpr const char* kPlace = "CGenMapiPropPtr::SaveProps";
    if (pending_.empty()) return;
    std::vector<CPropValue> values = std::move(pending_);
    pending_.clear();
    try {
        IMAPIProp* prop = Checked(kPlace);
        // Shallow copies: the pointers stay owned by values until the call returns.
        std::vector<SPropValue> array;
        array.reserve(values.size());
        for (const CPropValue& value : values) array.push_back(*value.Get());
        CMapiBuffer<SPropProblemArray> problems;
        HRESULT hr = prop->SetProps(static_cast<ULONG>(array.size()), array.data(), problems.Put());
        MapiCheck(hr, kPlace, prop);
        if (problems && problems->cProblem > 0) {
            const SPropProblem& first = problems->aProblem[0];
            throw CMAPIException(first.scode, PlaceWithTag(kPlace, first.ulPropTag));
        }
    } catch (const CMAPIException& e) {
        e.ReportError("SaveProps");
    }
}

// ---- reading and writing single values -----------------------------------------------

CPropValue CGenMapiPropPtr::GetProp(ULONG tag) {
    CPropValue value;
    HRESULT hr = GetOneProp(tag, value);
    if (FAILED(hr)) throw CMAPIException(hr, "CGenMapiPropPtr::GetProp", GetMapiProp());
    return value;
}

CPropArray CGenMapiPropPtr::GetProps(const CPropTagArray& tags, ULONG flags) {
    constexpr const char* kPlace = "CGenMapiPropPtr::GetProps";
    IMAPIProp* prop = Checked(kPlace);
    ULONG count = 0;
    LPSPropValue values = nullptr;
    HRESULT hr = prop->GetProps(tags.Get(), flags, &count, &values);
    CPropArray result(values, values ? count : 0);
    MapiCheck(hr, kPlace, prop);
    return result;
}

void CGenMapiPropPtr::SetProp(const SPropValue& value) {
    HRESULT hr = SetOneProp(value);
    if (FAILED(hr)) throw CMAPIException(hr, "CGenMapiPropPtr::SetProp", GetMapiProp());
}

void CGenMapiPropPtr::DeleteProp(ULONG tag) {
    constexpr const char* kPlace = "CGenMapiPropPtr::DeleteProp";
    IMAPIProp* prop = Checked(kPlace);
    if (batched_) {
        std::erase_if(pending_,
                      [tag](const CPropValue& v) { return PROP_ID(v.Tag()) == PROP_ID(tag); });
        if (PROP_ID(tag) == PROP_ID(PR_BODY)) cachedBody_.clear();
    }
    CPropTagArray tags{tag};
    CMapiBuffer<SPropProblemArray> problems;
    HRESULT hr = prop->DeleteProps(tags.Get(), problems.Put());
    MapiCheck(hr, kPlace, prop);
    if (problems && problems->cProblem > 0) {
        const SPropProblem& first = problems->aProblem[0];
        throw CMAPIException(first.scode, PlaceWithTag(kPlace, first.ulPropTag));
    }
}

std::string CGenMapiPropPtr::GetPropText(ULONG tag) {
    CPropValue value;
    if (FAILED(GetOneProp(tag, value))) return std::string();
    return StringValueText(value.Get());
}

std::string CGenMapiPropPtr::GetStrProp(ULONG tag) {
    CPropValue value;
    HRESULT hr = GetOneProp(tag, value);
    if (FAILED(hr)) throw CMAPIException(hr, "GetStrProp", GetMapiProp());
    if (value.Type() != PT_STRING8 || value->Value.lpszA == nullptr) return std::string();
    return value->Value.lpszA;
}

LONG CGenMapiPropPtr::GetLongProp(ULONG tag) {
    CPropValue value;
    HRESULT hr = GetOneProp(tag, value);
    if (hr == MAPI_E_NOT_FOUND) return 0;
    if (FAILED(hr)) throw CMAPIException(hr, "CGenMapiPropPtr::GetLongProp", GetMapiProp());
    switch (value.Type()) {
        case PT_LONG:
            return value->Value.l;
        case PT_I2:
            return value->Value.i;
        case PT_BOOLEAN:
            return value->Value.b;
        default:
            return 0;
    }
}

void CGenMapiPropPtr::SetStrProp(ULONG tag, const char* text) {
    constexpr const char* kPlace = "CGenMapiPropPtr::SetStrProp";
    if (text == nullptr) return;
    CPropValue value;
    switch (PROP_TYPE(tag)) {
        case PT_STRING8:
            value = CPropValue::String8(tag, text);
            break;
        case PT_UNICODE:
            value = CPropValue::Unicode(tag, TextToUtf16(text));
            break;
        default:
            throw CMAPIException(MAPI_E_INVALID_TYPE, PlaceWithTag(kPlace, tag));
    }
    HRESULT hr = SetOneProp(*value.Get());
    if (FAILED(hr)) throw CMAPIException(hr, kPlace, GetMapiProp());
}

void CGenMapiPropPtr::SetLongProp(ULONG tag, LONG value) {
    constexpr const char* kPlace = "CGenMapiPropPtr::SetLongProp";
    if (PROP_TYPE(tag) != PT_LONG)
        throw CMAPIException(MAPI_E_INVALID_TYPE, PlaceWithTag(kPlace, tag));
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    HRESULT hr = SetOneProp(v);
    if (FAILED(hr)) throw CMAPIException(hr, kPlace, GetMapiProp());
}

void CGenMapiPropPtr::GetBinaryProp(ULONG tag, CByteBuffer& out) {
    constexpr const char* kPlace = "CGenMapiPropPtr::GetBinaryProp";
    CPropValue value;
    HRESULT hr = GetOneProp(tag, value);
    if (FAILED(hr)) throw CMAPIException(hr, kPlace, GetMapiProp());
    if (value.Type() != PT_BINARY)
        throw CMAPIException(MAPI_E_UNEXPECTED_TYPE, PlaceWithTag(kPlace, tag));
    out = CByteBuffer(value->Value.bin);
}

CByteBuffer CGenMapiPropPtr::GetBinaryProp(ULONG tag) {
    CByteBuffer bytes;
    GetBinaryProp(tag, bytes);
    return bytes;
}

// ---- named properties ------------------------------------------------------------------

ULONG CGenMapiPropPtr::GetIDFromName(MAPINAMEID& name, ULONG type, ULONG flags) {
    constexpr const char* kPlace = "CGenMapiPropPtr::GetIDFromName";
    IMAPIProp* prop = Checked(kPlace);
    LPMAPINAMEID names[1] = {&name};
    CMapiBuffer<SPropTagArray> tags;
    HRESULT hr = prop->GetIDsFromNames(1, names, flags, tags.Put());
    MapiCheck(hr, kPlace, prop);
    if (!tags || tags->cValues < 1) throw CMAPIException(MAPI_E_NOT_FOUND, kPlace);
    ULONG found = tags->aulPropTag[0];
    if (PROP_TYPE(found) == PT_ERROR || PROP_ID(found) == PROP_ID_NULL)
        throw CMAPIException(MAPI_E_NOT_FOUND, kPlace);
    return PROP_TAG(type, PROP_ID(found));
}

ULONG CGenMapiPropPtr::GetIDFromName(const GUID& propertySet, LONG id, ULONG type, ULONG flags) {
    GUID set = propertySet;
    MAPINAMEID name{};
    name.lpguid = &set;
    name.ulKind = MNID_ID;
    name.Kind.lID = id;
    return GetIDFromName(name, type, flags);
}

ULONG CGenMapiPropPtr::GetIDFromName(const GUID& propertySet, const std::u16string& text,
                                     ULONG type, ULONG flags) {
    GUID set = propertySet;
    std::u16string copy = text;
    MAPINAMEID name{};
    name.lpguid = &set;
    name.ulKind = MNID_STRING;
    name.Kind.lpwstrName = copy.data();
    return GetIDFromName(name, type, flags);
}

std::string CGenMapiPropPtr::GetItemName() {
    std::string name = GetPropText(PR_SUBJECT);
    if (name.empty()) name = GetPropText(PR_DISPLAY_NAME);
    return name;
}

// ---- bodies ------------------------------------------------------------------------------

std::string CGenMapiPropPtr::GetBody() {
    constexpr const char* kPlace = "CGenMapiPropPtr::GetBody";
    if (batched_ && !cachedBody_.empty()) return cachedBody_;
    IMAPIProp* prop = Checked(kPlace);
    std::string body;
    CMapiRef<IUnknown> opened;
    HRESULT hr = prop->OpenProperty(PR_BODY, &IID_IStream, STGM_READ, 0, opened.Put());
    if (SUCCEEDED(hr) && opened) {
        CMapiRef<IStream> stream = MapiQueryAs<IStream>(opened.Get(), kPlace);
        // Not cleared first: every read fills what it reports, and a short body (the
        // usual one) would otherwise pay for the whole chunk.
        std::unique_ptr<char[]> chunk = std::make_unique_for_overwrite<char[]>(kBodyChunk);
        for (;;) {
            ULONG read = 0;
            MapiCheck(stream->Read(chunk.get(), kBodyChunk, &read), kPlace);
            if (read == 0) break;
            body.append(chunk.get(), std::min(read, kBodyChunk));
        }
    } else {
        CPropValue value;
        hr = GetOneProp(PR_BODY, value);
        if (FAILED(hr) && hr != MAPI_E_NOT_FOUND) throw CMAPIException(hr, kPlace, prop);
        body = StringValueText(value.Get());
    }
    if (size_t zero = body.find('\0'); zero != std::string::npos) body.resize(zero);
    if (batched_) cachedBody_ = body;
    return body;
}

void CGenMapiPropPtr::SetBody(std::string_view text) {
    constexpr const char* kPlace = "CGenMapiPropPtr::SetBody";
    if (size_t zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
    IMAPIProp* prop = Checked(kPlace);
    if (batched_) {
        cachedBody_.assign(text);
        // A pending plain value would overwrite the streamed body at the next SaveProps.
        DropPending(PR_BODY);
        DropPending(PR_BODY_W);
    }
    CMapiRef<IUnknown> opened;
    HRESULT hr = prop->OpenProperty(PR_BODY, &IID_IStream, STGM_CREATE | STGM_READWRITE,
                                    MAPI_CREATE | MAPI_MODIFY, opened.Put());
    if (FAILED(hr) || !opened) {
        CPropValue value = CPropValue::String8(PR_BODY, text);
        hr = SetOneProp(*value.Get());
        if (FAILED(hr)) throw CMAPIException(hr, kPlace, prop);
        return;
    }
    CMapiRef<IStream> stream = MapiQueryAs<IStream>(opened.Get(), kPlace);
    size_t offset = 0;
    while (offset < text.size()) {
        ULONG length = static_cast<ULONG>(std::min<size_t>(kBodyChunk, text.size() - offset));
        ULONG written = 0;
        MapiCheck(stream->Write(text.data() + offset, length, &written), kPlace);
        if (written != length) throw CMAPIException(STG_E_MEDIUMFULL, kPlace);
        offset += length;
    }
    MapiCheck(stream->Commit(STGC_DEFAULT), kPlace);
}
