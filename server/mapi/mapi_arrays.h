// Owning forms of the arrays the store takes and gives: a tag list for GetProps,
// SetColumns and HrQueryAllRows (CPropTagArray), the values GetProps hands out
// (CPropArray) and a set of table rows (CRowSet), with lookups by tag, and the one
// reading of a whole table into a row set.
//
// Each object belongs to one thread at a time.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/mapi/byte_buffer.h"
#include "server/mapi/mapi_ref.h"

class CPropTagArray {
public:
    CPropTagArray(std::initializer_list<ULONG> tags);
    explicit CPropTagArray(const std::vector<ULONG>& tags);

    // The array in the store's form; stays the object's.
    LPSPropTagArray Get() const { return array_.Get(); }
    ULONG Count() const { return array_->cValues; }

private:
    void Build(const ULONG* tags, size_t count);
    CMapiBuffer<SPropTagArray> array_;
};

// The value in values[0..count) whose tag is exactly tag, or null. A value the
// store could not give (type PT_ERROR) never matches.
const SPropValue* FindPropValue(const SPropValue* values, ULONG count, ULONG tag);

// Text of a string value (UTF-16 converted to 8-bit text); the empty text for null
// or another type.
std::string StringValueText(const SPropValue* value);

class CPropArray {
public:
    CPropArray() = default;
    CPropArray(LPSPropValue values, ULONG count) : values_(values), count_(count) {}

    ULONG Count() const { return count_; }
    const SPropValue& operator[](ULONG i) const { return values_.Get()[i]; }
    const SPropValue* Data() const { return values_.Get(); }
    const SPropValue* Find(ULONG tag) const { return FindPropValue(values_.Get(), count_, tag); }

private:
    CMapiBuffer<SPropValue> values_;
    ULONG count_ = 0;
};

class CRowSet {
public:
    CRowSet() = default;
    explicit CRowSet(LPSRowSet rows) : rows_(rows) {}
    CRowSet(const CRowSet&) = delete;
    CRowSet& operator=(const CRowSet&) = delete;
    CRowSet(CRowSet&& other) noexcept;
    CRowSet& operator=(CRowSet&& other) noexcept;
    ~CRowSet();

    ULONG Count() const { return rows_ ? rows_->cRows : 0; }
    bool Empty() const { return Count() == 0; }
    const SRow& operator[](ULONG i) const { return rows_->aRow[i]; }
    LPSRowSet Get() const { return rows_; }

    // Lookups in one row by exact tag.
    static const SPropValue* Find(const SRow& row, ULONG tag);
    // String columns as text; the empty text when missing.
    static std::string Text(const SRow& row, ULONG tag);
    // 32-bit integer (or boolean) columns; fallback when missing.
    static LONG Long(const SRow& row, ULONG tag, LONG fallback = 0);
    // Binary columns; no bytes when missing.
    static CByteBuffer Binary(const SRow& row, ULONG tag);

private:
    LPSRowSet rows_ = nullptr;
};

// Every row of table with columns (HrQueryAllRows): S_OK (or the call's warning)
// with them in rows, or the failure with rows empty (MAPI_E_INVALID_OBJECT for a
// null table).
HRESULT TryQueryAllRows(IMAPITable* table, const CPropTagArray& columns, CRowSet& rows);
