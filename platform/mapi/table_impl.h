// IMAPITable over a row source: the view (rows after restriction and sort), the
// columns and the cursor live here; the source lists row keys and fetches values.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/mapi/com_base.h"
#include "platform/mapi/restriction_eval.h"

namespace mapistore {

// One row's values by property ID, kept flat: rows hold a handful of columns. Reset
// keeps the slots (and their string capacity) for the next row.
struct RowData {
    std::vector<std::pair<ULONG, Value>> values;
    std::size_t used = 0;

    void Reset() { used = 0; }
    const Value* Find(ULONG id) const {
        for (std::size_t k = 0; k < used; ++k)
            if (values[k].first == id) return &values[k].second;
        return nullptr;
    }
    // The slot for id, existing or new; a new slot holds whatever it held before, so
    // the caller overwrites it whole (or gives it back with Unput).
    Value& Put(ULONG id) {
        for (std::size_t k = 0; k < used; ++k)
            if (values[k].first == id) return values[k].second;
        if (used == values.size()) values.emplace_back(id, Value());
        values[used].first = id;
        return values[used++].second;
    }
    void Unput() {
        if (used > 0) --used;
    }
};

class RowSource {
public:
    virtual ~RowSource() = default;
    // The lock that guards the data behind the source.
    virtual std::recursive_mutex& Mutex() = 0;
    // Row keys in the natural (creation) order.
    virtual HRESULT ListRows(std::vector<std::int64_t>& keys) = 0;
    // Values of the given property IDs for each key; found[k] false for a row that
    // no longer exists. rows is resized to keys.size() and each row Reset first.
    virtual HRESULT Fetch(const std::vector<std::int64_t>& keys, const std::vector<ULONG>& ids,
                          std::vector<RowData>& rows, std::vector<bool>& found) = 0;
    virtual HRESULT SubRows(std::int64_t key, ULONG subObject, std::vector<PropMap>& rows);
    // Keys of rows whose text property propId equals text, from an index; false when
    // the source has no index for it.
    virtual bool IndexLookup(ULONG propId, const std::string& text, std::vector<std::int64_t>& keys,
                             HRESULT& hr);
    // True when ListRows gives the keys in ascending order and ListRowsFrom works:
    // the table can then find a row and read on from it without listing every row.
    virtual bool KeyOrdered() const { return false; }
    // Up to limit keys, in ascending order, from the first key not below from.
    virtual HRESULT ListRowsFrom(std::int64_t from, std::size_t limit,
                                 std::vector<std::int64_t>& keys);
    // Columns before SetColumns.
    virtual std::vector<ULONG> DefaultColumns() = 0;
};

// Creates a table over source. The table owns the source.
HRESULT CreateTable(std::unique_ptr<RowSource> source, LPMAPITABLE* lppTable);

// A source over fixed rows (store table, profile table).
std::unique_ptr<RowSource> MakeStaticSource(std::vector<PropMap> rows, std::vector<ULONG> columns);

}  // namespace mapistore
