// Tag arrays, value arrays and row sets.
#include "server/mapi/mapi_arrays.h"

#include <utility>

#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_prop_value.h"

CPropTagArray::CPropTagArray(std::initializer_list<ULONG> tags) {
    Build(tags.begin(), tags.size());
}

CPropTagArray::CPropTagArray(const std::vector<ULONG>& tags) { Build(tags.data(), tags.size()); }

void CPropTagArray::Build(const ULONG* tags, size_t count) {
    if (count > 0xFFFF) throw CMAPIException(MAPI_E_TOO_BIG, "CPropTagArray");
    ULONG n = static_cast<ULONG>(count);
    void* block = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(n)), &block)) || !block)
        throw CMAPIException(MAPI_E_NOT_ENOUGH_MEMORY, "CPropTagArray");
    array_.Reset(static_cast<SPropTagArray*>(block));
    array_->cValues = n;
    for (ULONG i = 0; i < n; ++i) array_->aulPropTag[i] = tags[i];
}

const SPropValue* FindPropValue(const SPropValue* values, ULONG count, ULONG tag) {
    if (values == nullptr || PROP_TYPE(tag) == PT_ERROR) return nullptr;
    for (ULONG i = 0; i < count; ++i) {
        if (values[i].ulPropTag == tag) return &values[i];
    }
    return nullptr;
}

std::string StringValueText(const SPropValue* value) {
    if (value == nullptr) return std::string();
    switch (PROP_TYPE(value->ulPropTag)) {
        case PT_STRING8:
            return value->Value.lpszA ? value->Value.lpszA : "";
        case PT_UNICODE:
            return Utf16ToText(value->Value.lpszW);
        default:
            return std::string();
    }
}

CRowSet::CRowSet(CRowSet&& other) noexcept : rows_(std::exchange(other.rows_, nullptr)) {}

CRowSet& CRowSet::operator=(CRowSet&& other) noexcept {
    if (this != &other) {
        FreeProws(rows_);
        rows_ = std::exchange(other.rows_, nullptr);
    }
    return *this;
}

CRowSet::~CRowSet() { FreeProws(rows_); }

HRESULT TryQueryAllRows(IMAPITable* table, const CPropTagArray& columns, CRowSet& rows) {
    rows = CRowSet();
    if (table == nullptr) return MAPI_E_INVALID_OBJECT;
    LPSRowSet raw = nullptr;
    HRESULT hr = HrQueryAllRows(table, columns.Get(), nullptr, nullptr, 0, &raw);
    CRowSet read(raw);  // freed here when the call failed after all
    if (SUCCEEDED(hr)) rows = std::move(read);
    return hr;
}

const SPropValue* CRowSet::Find(const SRow& row, ULONG tag) {
    return FindPropValue(row.lpProps, row.cValues, tag);
}

std::string CRowSet::Text(const SRow& row, ULONG tag) { return StringValueText(Find(row, tag)); }

LONG CRowSet::Long(const SRow& row, ULONG tag, LONG fallback) {
    const SPropValue* v = Find(row, tag);
    if (v == nullptr) return fallback;
    switch (PROP_TYPE(v->ulPropTag)) {
        case PT_LONG:
            return v->Value.l;
        case PT_I2:
            return v->Value.i;
        case PT_BOOLEAN:
            return v->Value.b;
        default:
            return fallback;
    }
}

CByteBuffer CRowSet::Binary(const SRow& row, ULONG tag) {
    const SPropValue* v = Find(row, tag);
    if (v == nullptr || PROP_TYPE(v->ulPropTag) != PT_BINARY) return CByteBuffer();
    return CByteBuffer(v->Value.bin);
}
