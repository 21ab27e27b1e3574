// IMAPIProp behaviour shared by every property object.
#include "platform/mapi/prop_object.h"

#include <cstring>

#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/stream_impl.h"

namespace mapistore {

namespace {

constexpr ULONG kMaxTagsPerCall = 65536;
// GetProps gives a large value whole up to this size.
constexpr std::uint64_t kMaxWholeReadBytes = 512ull * 1024 * 1024;

struct Problem {
    ULONG index;
    ULONG tag;
    SCODE code;
};

HRESULT ReturnProblems(const std::vector<Problem>& problems, LPSPropProblemArray* out) {
    if (out == nullptr) return S_OK;
    *out = nullptr;
    if (problems.empty()) return S_OK;
    void* p = nullptr;
    std::size_t bytes =
        offsetof(SPropProblemArray, aProblem) + sizeof(SPropProblem) * problems.size();
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(bytes), &p);
    if (FAILED(hr)) return hr;
    auto* arr = static_cast<SPropProblemArray*>(p);
    arr->cProblem = static_cast<ULONG>(problems.size());
    for (std::size_t k = 0; k < problems.size(); ++k)
        arr->aProblem[k] = SPropProblem{problems[k].index, problems[k].tag, problems[k].code};
    *out = arr;
    return S_OK;
}

bool StreamableType(ULONG type) {
    return type == PT_STRING8 || type == PT_UNICODE || type == PT_BINARY;
}

}  // namespace

HRESULT MakeLastError(HRESULT hr, const char* component, LPMAPIERROR* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    void* p = nullptr;
    HRESULT ahr = MAPIAllocateBuffer(sizeof(MAPIERROR), &p);
    if (FAILED(ahr)) return ahr;
    auto* err = static_cast<MAPIERROR*>(p);
    const char* name = MapiErrorName(hr);
    std::string text = name ? name : "unknown error";
    void* s = nullptr;
    if (FAILED(ahr = CopyToMapi(text.c_str(), text.size() + 1, p, &s))) {
        MAPIFreeBuffer(p);
        return ahr;
    }
    err->lpszError = static_cast<LPTSTR>(s);
    if (FAILED(ahr = CopyToMapi(component, std::strlen(component) + 1, p, &s))) {
        MAPIFreeBuffer(p);
        return ahr;
    }
    err->lpszComponent = static_cast<LPTSTR>(s);
    *out = err;
    return S_OK;
}

HRESULT NewTagArray(std::size_t n, LPSPropTagArray* out) {
    void* p = nullptr;
    HRESULT hr =
        MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(static_cast<ULONG>(n))), &p);
    if (FAILED(hr)) return hr;
    *out = static_cast<SPropTagArray*>(p);
    (*out)->cValues = static_cast<ULONG>(n);
    return S_OK;
}

HRESULT PropCore::SetSpecial(ULONG, const Value&, bool& handled) {
    handled = false;
    return S_OK;
}

HRESULT PropCore::OpenTable(ULONG, ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }

HRESULT PropCore::CheckWritable() const {
    if (state_ == SaveState::kClosed) return MAPI_E_INVALID_OBJECT;
    if (!writable_ || state_ == SaveState::kReadOnly) return MAPI_E_NO_ACCESS;
    return S_OK;
}

HRESULT PropCore::DoGetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) {
    return MakeLastError(hResult, "message store", lppMAPIError);
}

HRESULT PropCore::DoSaveChanges(ULONG ulFlags) {
    if ((ulFlags &
         ~(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE | MAPI_DEFERRED_ERRORS)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = Persist())) return hr;
    if (ulFlags & KEEP_OPEN_READWRITE)
        state_ = SaveState::kOpen;
    else if (ulFlags & KEEP_OPEN_READONLY)
        state_ = SaveState::kReadOnly;
    else
        state_ = SaveState::kClosed;
    return S_OK;
}

HRESULT PropCore::DoGetProps(LPSPropTagArray tags, ULONG ulFlags, ULONG* count,
                             LPSPropValue* props) {
    if (count == nullptr || props == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((ulFlags & ~MAPI_UNICODE) != 0) return MAPI_E_UNKNOWN_FLAGS;
    if (tags != nullptr && (tags->cValues == 0 || tags->cValues > kMaxTagsPerCall))
        return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *props = nullptr;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = Refresh();
    if (FAILED(hr)) return hr;
    const bool unicode = (ulFlags & MAPI_UNICODE) != 0;
    std::vector<ULONG> want;
    if (tags != nullptr) {
        want.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    } else {
        for (ULONG id : ComputedIdList()) {
            Value v;
            if (ComputedValue(id, v) == Computed::kValue)
                want.push_back(PROP_TAG(PT_UNSPECIFIED, id));
        }
        for (const auto& [id, v] : props_) want.push_back(PROP_TAG(PT_UNSPECIFIED, id));
    }
    SPropValue* out = nullptr;
    if (FAILED(hr = AllocArray(want.size(), nullptr, &out))) return hr;
    bool errors = false;
    for (std::size_t k = 0; k < want.size(); ++k) {
        const ULONG id = PROP_ID(want[k]);
        const ULONG type = PROP_TYPE(want[k]);
        Value computed;
        Computed c = ComputedValue(id, computed);
        const Value* v = nullptr;
        if (c == Computed::kValue) {
            v = &computed;
        } else if (c == Computed::kNo) {
            auto it = props_.find(id);
            if (it != props_.end()) v = &it->second;
        }
        // A large value asked for whole is read whole (streams read it in pieces).
        Value whole;
        if (v != nullptr && v->large != nullptr) {
            whole.type = v->type;
            HRESULT rhr = ReadWhole(*v->large, kMaxWholeReadBytes, whole.s);
            if (rhr == MAPI_E_NOT_ENOUGH_MEMORY) {
                ErrorProp(id, MAPI_E_NOT_ENOUGH_MEMORY, out[k]);
                errors = true;
                continue;
            }
            if (FAILED(rhr)) {
                MAPIFreeBuffer(out);
                return rhr;
            }
            v = &whole;
        }
        HRESULT vhr = v ? ToSPropValue(*v, id, type, unicode, out, out[k]) : MAPI_E_NOT_FOUND;
        if (vhr == MAPI_E_NOT_ENOUGH_MEMORY) {
            MAPIFreeBuffer(out);
            return vhr;
        }
        if (FAILED(vhr)) {
            ErrorProp(id, MAPI_E_NOT_FOUND, out[k]);
            errors = true;
        }
    }
    *count = static_cast<ULONG>(want.size());
    *props = out;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT PropCore::DoGetPropList(ULONG ulFlags, LPSPropTagArray* tags) {
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((ulFlags & ~MAPI_UNICODE) != 0) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = Refresh();
    if (FAILED(hr)) return hr;
    const bool unicode = (ulFlags & MAPI_UNICODE) != 0;
    std::vector<ULONG> list;
    auto add = [&](ULONG id, ULONG type) {
        if (!unicode && type == PT_UNICODE) type = PT_STRING8;
        if (!unicode && type == PT_MV_UNICODE) type = PT_MV_STRING8;
        list.push_back(PROP_TAG(type, id));
    };
    for (ULONG id : ComputedIdList()) {
        Value v;
        if (ComputedValue(id, v) == Computed::kValue) add(id, v.type);
    }
    for (const auto& [id, v] : props_) add(id, v.type);
    if (FAILED(hr = NewTagArray(list.size(), tags))) return hr;
    for (std::size_t k = 0; k < list.size(); ++k) (*tags)->aulPropTag[k] = list[k];
    return S_OK;
}

HRESULT PropCore::DoOpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) {
    if (iid == nullptr || out == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~(MAPI_MODIFY | MAPI_CREATE | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    *out = nullptr;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (*iid == IID_IMAPITable) {
        LPMAPITABLE table = nullptr;
        HRESULT hr = OpenTable(tag, 0, &table);
        if (FAILED(hr)) return hr;
        *out = table;
        return S_OK;
    }
    if (*iid != IID_IStream) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    const ULONG type = PROP_TYPE(tag);
    const ULONG id = PROP_ID(tag);
    if (!StreamableType(type) || id == 0 || id == PROP_ID_INVALID)
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    const bool modify = (flags & (MAPI_MODIFY | MAPI_CREATE)) != 0 ||
                        ((flags & MAPI_BEST_ACCESS) != 0 && CheckWritable() == S_OK);
    HRESULT hr = S_OK;
    if (modify) {
        if (IsReadOnly(id)) return MAPI_E_NO_ACCESS;
        if (FAILED(hr = CheckWritable())) return hr;
    }
    std::string bytes;
    std::shared_ptr<const LargeBytes> large;
    if ((flags & MAPI_CREATE) == 0) {
        hr = ReadStreamBytes(id, type, bytes, large);
        if (FAILED(hr)) return hr;
    }
    return CreatePropertyStream(this, id, type, std::move(bytes), std::move(large), modify, out);
}

HRESULT PropCore::ReadStreamBytes(ULONG propId, ULONG type, std::string& bytes,
                                  std::shared_ptr<const LargeBytes>& large) {
    HRESULT hr = Refresh();
    if (FAILED(hr)) return hr;
    Value computed;
    const Value* v = nullptr;
    Computed c = ComputedValue(propId, computed);
    if (c == Computed::kValue) {
        v = &computed;
    } else if (c == Computed::kNo) {
        auto it = props_.find(propId);
        if (it != props_.end()) v = &it->second;
    }
    if (v == nullptr || v->type != StoredType(type)) return MAPI_E_NOT_FOUND;
    large = v->large;
    if (large != nullptr) return S_OK;
    if (type == PT_UNICODE) {
        std::u16string w = Utf8ToUtf16(v->s);
        bytes.resize(w.size() * 2);
        for (std::size_t k = 0; k < w.size(); ++k) {
            bytes[2 * k] = static_cast<char>(w[k] & 0xFF);
            bytes[2 * k + 1] = static_cast<char>(w[k] >> 8);
        }
    } else {
        bytes = v->s;
    }
    return S_OK;
}

HRESULT PropCore::WriteStreamBytes(ULONG propId, ULONG type, const std::string& bytes) {
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    Value v;
    v.type = StoredType(type);
    if (type == PT_STRING8) {
        // A string ends at its first zero byte; the terminator callers write is not data.
        v.s = bytes.substr(0, bytes.find('\0'));
    } else if (type == PT_UNICODE) {
        std::u16string w;
        for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
            char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[k]) |
                                               (static_cast<unsigned char>(bytes[k + 1]) << 8));
            if (c == 0) break;
            w.push_back(c);
        }
        v.s = Utf16ToUtf8(w);
    } else {
        v.s = bytes;
    }
    Pending before = Snapshot();
    props_[propId] = std::move(v);
    dirty_.insert(propId);
    deleted_.erase(propId);
    return PersistOrRestore(before);
}

HRESULT PropCore::WriteStreamLarge(ULONG propId, std::shared_ptr<const LargeBytes> bytes) {
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    Value v;
    v.type = PT_BINARY;
    v.large = std::move(bytes);
    Pending before = Snapshot();
    props_[propId] = std::move(v);
    dirty_.insert(propId);
    deleted_.erase(propId);
    return PersistOrRestore(before);
}

HRESULT PropCore::PersistOrRestore(Pending& before) {
    if (!WriteThrough()) return S_OK;
    HRESULT hr = Persist();
    if (FAILED(hr)) {
        props_ = std::move(before.props);
        dirty_ = std::move(before.dirty);
        deleted_ = std::move(before.deleted);
    }
    return hr;
}

HRESULT PropCore::DoSetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) {
    if (problems) *problems = nullptr;
    if (count > 0 && values == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (count > kMaxTagsPerCall) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    std::vector<Problem> found;
    Pending before = Snapshot();
    for (ULONG k = 0; k < count; ++k) {
        const ULONG tag = values[k].ulPropTag;
        const ULONG id = PROP_ID(tag);
        if (id == PROP_ID_NULL || id == PROP_ID_INVALID) {
            found.push_back({k, tag, MAPI_E_INVALID_PARAMETER});
            continue;
        }
        if (IsReadOnly(id)) {
            found.push_back({k, tag, MAPI_E_COMPUTED});
            continue;
        }
        Value v;
        HRESULT vhr = FromSPropValue(values[k], v);
        if (FAILED(vhr)) {
            found.push_back({k, tag, vhr});
            continue;
        }
        bool handled = false;
        if (FAILED(vhr = SetSpecial(id, v, handled))) {
            found.push_back({k, tag, vhr});
            continue;
        }
        if (handled) continue;
        props_[id] = std::move(v);
        dirty_.insert(id);
        deleted_.erase(id);
    }
    if (FAILED(hr = PersistOrRestore(before))) return hr;
    return ReturnProblems(found, problems);
}

HRESULT PropCore::DoDeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) {
    if (problems) *problems = nullptr;
    if (tags == nullptr || tags->cValues > kMaxTagsPerCall) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    std::vector<Problem> found;
    Pending before = Snapshot();
    for (ULONG k = 0; k < tags->cValues; ++k) {
        const ULONG id = PROP_ID(tags->aulPropTag[k]);
        if (IsReadOnly(id) || id == PROP_ID(PR_MESSAGE_FLAGS)) {
            found.push_back({k, tags->aulPropTag[k], MAPI_E_COMPUTED});
            continue;
        }
        if (props_.erase(id) > 0) {
            dirty_.erase(id);
            deleted_.insert(id);
        }
    }
    if (FAILED(hr = PersistOrRestore(before))) return hr;
    return ReturnProblems(found, problems);
}

HRESULT PropCore::DoGetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                                    LPSPropTagArray* tags) {
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~(MAPI_CREATE | MAPI_UNICODE)) != 0) return MAPI_E_UNKNOWN_FLAGS;
    if (count > kMaxTagsPerCall) return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr;
    if (count == 0 || names == nullptr) {
        std::vector<std::pair<ULONG, NamedProp>> all;
        if (FAILED(hr = db_->AllNames(all))) return hr;
        if (FAILED(hr = NewTagArray(all.size(), tags))) return hr;
        for (std::size_t k = 0; k < all.size(); ++k)
            (*tags)->aulPropTag[k] = PROP_TAG(PT_UNSPECIFIED, all[k].first);
        return S_OK;
    }
    std::vector<NamedProp> wanted(count);
    for (ULONG k = 0; k < count; ++k) {
        const MAPINAMEID* n = names[k];
        if (n == nullptr || n->lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
        wanted[k].guid = *n->lpguid;
        wanted[k].kind = n->ulKind;
        if (n->ulKind == MNID_ID) {
            wanted[k].lid = n->Kind.lID;
        } else if (n->ulKind == MNID_STRING) {
            if (n->Kind.lpwstrName == nullptr) return MAPI_E_INVALID_PARAMETER;
            wanted[k].name = Utf16ToUtf8(
                std::u16string_view(n->Kind.lpwstrName, Utf16Length(n->Kind.lpwstrName)));
        } else {
            return MAPI_E_INVALID_PARAMETER;
        }
    }
    std::vector<ULONG> result(count);
    bool missing = false;
    for (ULONG k = 0; k < count; ++k) {
        ULONG id = 0;
        hr = db_->IdForName(wanted[k], (flags & MAPI_CREATE) != 0, id);
        if (hr == MAPI_E_NOT_FOUND) {
            result[k] = PROP_TAG(PT_ERROR, 0);
            missing = true;
        } else if (FAILED(hr)) {
            return hr;
        } else {
            result[k] = PROP_TAG(PT_UNSPECIFIED, id);
        }
    }
    if (FAILED(hr = NewTagArray(count, tags))) return hr;
    for (ULONG k = 0; k < count; ++k) (*tags)->aulPropTag[k] = result[k];
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT PropCore::DoGetNamesFromIDs(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                                    LPMAPINAMEID** names) {
    if (tags == nullptr || count == nullptr || names == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~(MAPI_NO_STRINGS | MAPI_NO_IDS)) != 0) return MAPI_E_UNKNOWN_FLAGS;
    *count = 0;
    *names = nullptr;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr;
    std::vector<ULONG> ids;
    std::vector<std::pair<ULONG, NamedProp>> all;
    const bool listAll = *tags == nullptr;
    if (listAll) {
        if (FAILED(hr = db_->AllNames(all))) return hr;
        for (const auto& [id, n] : all) {
            if (guid != nullptr && n.guid != *guid) continue;
            if ((flags & MAPI_NO_STRINGS) && n.kind == MNID_STRING) continue;
            if ((flags & MAPI_NO_IDS) && n.kind == MNID_ID) continue;
            ids.push_back(id);
        }
    } else {
        if ((*tags)->cValues > kMaxTagsPerCall) return MAPI_E_INVALID_PARAMETER;
        for (ULONG k = 0; k < (*tags)->cValues; ++k) ids.push_back(PROP_ID((*tags)->aulPropTag[k]));
    }
    LPMAPINAMEID* arr = nullptr;
    if (FAILED(hr = AllocArray(ids.size(), nullptr, &arr))) return hr;
    bool missing = false;
    for (std::size_t k = 0; k < ids.size(); ++k) {
        arr[k] = nullptr;
        NamedProp n;
        if (ids[k] < PROP_ID_NAMED_FIRST || FAILED(db_->NameForId(ids[k], n)) ||
            (guid != nullptr && n.guid != *guid)) {
            missing = true;
            continue;
        }
        void* p = nullptr;
        if (FAILED(hr = MAPIAllocateMore(sizeof(MAPINAMEID) + sizeof(GUID), arr, &p))) {
            MAPIFreeBuffer(arr);
            return hr;
        }
        auto* entry = static_cast<MAPINAMEID*>(p);
        auto* g = reinterpret_cast<GUID*>(static_cast<char*>(p) + sizeof(MAPINAMEID));
        *g = n.guid;
        entry->lpguid = g;
        entry->ulKind = n.kind;
        if (n.kind == MNID_STRING) {
            std::u16string w = Utf8ToUtf16(n.name);
            void* s = nullptr;
            if (FAILED(hr = CopyToMapi(w.c_str(), (w.size() + 1) * sizeof(char16_t), arr, &s))) {
                MAPIFreeBuffer(arr);
                return hr;
            }
            entry->Kind.lpwstrName = static_cast<LPWSTR>(s);
        } else {
            entry->Kind.lID = n.lid;
        }
        arr[k] = entry;
    }
    if (listAll) {
        LPSPropTagArray list = nullptr;
        if (FAILED(hr = NewTagArray(ids.size(), &list))) {
            MAPIFreeBuffer(arr);
            return hr;
        }
        for (std::size_t k = 0; k < ids.size(); ++k)
            list->aulPropTag[k] = PROP_TAG(PT_UNSPECIFIED, ids[k]);
        *tags = list;
    }
    *count = static_cast<ULONG>(ids.size());
    *names = arr;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

}  // namespace mapistore
