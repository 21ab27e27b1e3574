// The table: view, restriction, sort order, cursor and row output.
#include "platform/mapi/table_impl.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/prop_object.h"
#include "platform/mapi/root_blocks.h"

namespace mapistore {

HRESULT RowSource::SubRows(std::int64_t, ULONG, std::vector<PropMap>&) {
    return MAPI_E_TOO_COMPLEX;
}
bool RowSource::IndexLookup(ULONG, const std::string&, std::vector<std::int64_t>&, HRESULT& hr) {
    hr = S_OK;
    return false;
}
HRESULT RowSource::ListRowsFrom(std::int64_t, std::size_t, std::vector<std::int64_t>&) {
    return MAPI_E_NO_SUPPORT;
}

namespace {

constexpr std::size_t kFetchChunk = 512;

std::string InstanceKey(std::int64_t key) {
    std::string s(8, '\0');
    for (int k = 0; k < 8; ++k)
        s[k] = static_cast<char>((static_cast<std::uint64_t>(key) >> (8 * k)) & 0xFF);
    return s;
}

constexpr std::size_t kNotInline = static_cast<std::size_t>(-1);

std::size_t RoundUp(std::size_t n) { return (n + 15) / 16 * 16; }
// Inline bytes need no alignment of their own; eight keeps the next value aligned.
std::size_t RoundUp8(std::size_t n) { return (n + 7) / 8 * 8; }

// Bytes a binary or 8-bit string value needs beside its SPropValue when the row
// keeps it in its own block; kNotInline for other values.
std::size_t InlineBytes(const Value& v, ULONG wantType) {
    const ULONG t =
        wantType == PT_UNSPECIFIED ? (v.type == PT_UNICODE ? PT_STRING8 : v.type) : wantType;
    if (v.large != nullptr || v.blob != 0) return kNotInline;  // not given in rows
    if (t == PT_BINARY && v.type == PT_BINARY) return RoundUp8(v.s.size());
    if (t == PT_STRING8 && v.type == PT_UNICODE) return RoundUp8(v.s.size() + 1);
    return kNotInline;
}

void PlaceInline(const Value& v, ULONG id, ULONG wantType, char*& cursor, SPropValue& out) {
    const ULONG t =
        wantType == PT_UNSPECIFIED ? (v.type == PT_UNICODE ? PT_STRING8 : v.type) : wantType;
    out.ulPropTag = PROP_TAG(t, id);
    out.dwAlignPad = 0;
    if (!v.s.empty()) std::memcpy(cursor, v.s.data(), v.s.size());
    if (t == PT_BINARY) {
        out.Value.bin.cb = static_cast<ULONG>(v.s.size());
        out.Value.bin.lpb = reinterpret_cast<LPBYTE>(cursor);
        cursor += RoundUp8(v.s.size());
    } else {
        cursor[v.s.size()] = '\0';
        out.Value.lpszA = cursor;
        cursor += RoundUp8(v.s.size() + 1);
    }
}

class FetchedRow : public RowView {
public:
    FetchedRow(const RowData& props, RowSource& src, std::int64_t key)
        : props_(props), src_(src), key_(key) {}
    const Value* Get(ULONG propId) const override { return props_.Find(propId); }
    HRESULT SubRows(ULONG subObject, std::vector<PropMap>& rows) const override {
        return src_.SubRows(key_, subObject, rows);
    }

private:
    const RowData& props_;
    RowSource& src_;
    std::int64_t key_;
};

class Table : public RefCounted<IMAPITable> {
public:
    explicit Table(std::unique_ptr<RowSource> src) : src_(std::move(src)) {
        columns_ = src_->DefaultColumns();
    }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IMAPITable>(this, riid, ppv, IID_IMAPITable);
    }

    HRESULT GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) override;

    HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
        if (tags == nullptr || tags->cValues == 0) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
        columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        return S_OK;
    }

    HRESULT QueryColumns(ULONG, LPSPropTagArray* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
        void* p = nullptr;
        HRESULT hr = MAPIAllocateBuffer(
            static_cast<ULONG>(CbNewSPropTagArray(static_cast<ULONG>(columns_.size()))), &p);
        if (FAILED(hr)) return hr;
        auto* arr = static_cast<SPropTagArray*>(p);
        arr->cValues = static_cast<ULONG>(columns_.size());
        for (std::size_t k = 0; k < columns_.size(); ++k) arr->aulPropTag[k] = columns_[k];
        *out = arr;
        return S_OK;
    }

    HRESULT GetRowCount(ULONG, ULONG* count) override {
        if (count == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
        HRESULT hr = Materialize();
        if (FAILED(hr)) return hr;
        *count = static_cast<ULONG>(rows_.size());
        return S_OK;
    }

    HRESULT SeekRow(BOOKMARK bk, LONG n, LONG* sought) override {
        std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
        HRESULT hr = Materialize();
        if (FAILED(hr)) return hr;
        std::int64_t base;
        if (FAILED(hr = Base(bk, base))) return hr;
        std::int64_t target =
            std::clamp<std::int64_t>(base + n, 0, static_cast<std::int64_t>(rows_.size()));
        cursor_ = static_cast<std::size_t>(target);
        if (sought) *sought = static_cast<LONG>(target - base);
        return S_OK;
    }

    HRESULT QueryPosition(ULONG* row, ULONG* num, ULONG* denom) override {
        if (row == nullptr || num == nullptr || denom == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
        HRESULT hr = Materialize();
        if (FAILED(hr)) return hr;
        *row = static_cast<ULONG>(cursor_);
        *num = static_cast<ULONG>(cursor_);
        *denom = static_cast<ULONG>(rows_.size());
        return S_OK;
    }

    HRESULT FindRow(LPSRestriction res, BOOKMARK bk, ULONG flags) override;
    HRESULT Restrict(LPSRestriction res, ULONG) override {
        std::optional<Restr> compiled;
        if (res != nullptr) {
            Restr r;
            HRESULT hr = CompileRestriction(*res, r);
            if (FAILED(hr)) return hr;
            compiled = std::move(r);
        }
        std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
        restriction_ = std::move(compiled);
        return ListRowsAgain();
    }

    HRESULT SortTable(LPSSortOrderSet sort, ULONG) override {
        if (sort == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::vector<SSortOrder> orders(sort->aSort, sort->aSort + sort->cSorts);
        for (const SSortOrder& o : orders)
            if (o.ulOrder != TABLE_SORT_ASCEND && o.ulOrder != TABLE_SORT_DESCEND)
                return MAPI_E_TOO_COMPLEX;
        std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
        sort_ = std::move(orders);
        return ListRowsAgain();
    }

    HRESULT QueryRows(LONG count, ULONG flags, LPSRowSet* out) override;

private:
    HRESULT Base(BOOKMARK bk, std::int64_t& base) const {
        switch (bk) {
            case BOOKMARK_BEGINNING:
                base = 0;
                return S_OK;
            case BOOKMARK_CURRENT:
                base = static_cast<std::int64_t>(cursor_);
                return S_OK;
            case BOOKMARK_END:
                base = static_cast<std::int64_t>(rows_.size());
                return S_OK;
            default:
                return MAPI_E_INVALID_BOOKMARK;
        }
    }

    // Fetches ids for keys[from, to) into rows/found, adding PR_INSTANCE_KEY.
    HRESULT FetchRange(const std::vector<std::int64_t>& keys, const std::vector<ULONG>& ids,
                       std::vector<RowData>& rows, std::vector<bool>& found) {
        std::vector<ULONG> need;
        bool instance = false;
        for (ULONG id : ids) {
            if (id == PROP_ID(PR_INSTANCE_KEY))
                instance = true;
            else if (std::find(need.begin(), need.end(), id) == need.end())
                need.push_back(id);
        }
        HRESULT hr = src_->Fetch(keys, need, rows, found);
        if (FAILED(hr)) return hr;
        if (instance)
            for (std::size_t k = 0; k < keys.size(); ++k)
                rows[k].Put(PROP_ID(PR_INSTANCE_KEY)) = Value::Binary(InstanceKey(keys[k]));
        return S_OK;
    }

    HRESULT EnsureRows() {
        if (loaded_) return S_OK;
        std::vector<std::int64_t> keys;
        HRESULT hr = src_->ListRows(keys);
        if (FAILED(hr)) return hr;
        if (restriction_) {
            std::set<ULONG> idset;
            bool usesSub = false;
            CollectPropIds(*restriction_, idset, usesSub);
            std::vector<ULONG> ids(idset.begin(), idset.end());
            std::vector<std::int64_t> kept;
            for (std::size_t start = 0; start < keys.size(); start += kFetchChunk) {
                std::vector<std::int64_t> chunk(
                    keys.begin() + start,
                    keys.begin() + std::min(keys.size(), start + kFetchChunk));
                std::vector<RowData> rows;
                std::vector<bool> found;
                if (FAILED(hr = FetchRange(chunk, ids, rows, found))) return hr;
                for (std::size_t k = 0; k < chunk.size(); ++k)
                    if (found[k] && Matches(*restriction_, FetchedRow(rows[k], *src_, chunk[k])))
                        kept.push_back(chunk[k]);
            }
            keys.swap(kept);
        }
        if (!sort_.empty()) {
            std::vector<ULONG> ids;
            for (const SSortOrder& o : sort_) ids.push_back(PROP_ID(o.ulPropTag));
            std::vector<RowData> rows;
            std::vector<bool> found;
            if (FAILED(hr = FetchRange(keys, ids, rows, found))) return hr;
            std::vector<std::size_t> order(keys.size());
            for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
                for (const SSortOrder& o : sort_) {
                    ULONG id = PROP_ID(o.ulPropTag);
                    const Value* ia = rows[a].Find(id);
                    const Value* ib = rows[b].Find(id);
                    int c = 0;
                    if ((ia != nullptr) != (ib != nullptr))
                        c = ia ? 1 : -1;
                    else if (ia && ia->type != ib->type)
                        c = ia->type < ib->type ? -1 : 1;
                    else if (ia && !IsMultiValued(ia->type))
                        c = CompareValues(*ia, *ib);
                    if (o.ulOrder == TABLE_SORT_DESCEND) c = -c;
                    if (c != 0) return c < 0;
                }
                return false;
            });
            std::vector<std::int64_t> sorted;
            sorted.reserve(keys.size());
            for (std::size_t k : order) sorted.push_back(keys[k]);
            keys.swap(sorted);
        }
        rows_.swap(keys);
        positions_.clear();
        if (cursor_ > rows_.size()) cursor_ = rows_.size();
        loaded_ = true;
        return S_OK;
    }

    // The rows listed, and a cursor held at a key turned into its position.
    HRESULT Materialize() {
        HRESULT hr = EnsureRows();
        if (FAILED(hr) || !cursorAtKey_) return hr;
        cursor_ = static_cast<std::size_t>(
            std::lower_bound(rows_.begin(), rows_.end(), cursorKey_) - rows_.begin());
        cursorAtKey_ = false;
        return S_OK;
    }

    // After a new restriction or sort order: the rows are listed again and the cursor
    // goes back to the first.
    HRESULT ListRowsAgain() {
        loaded_ = false;
        cursor_ = 0;
        cursorAtKey_ = false;
        return EnsureRows();
    }

    // Rows in key order and not listed yet: the cursor may stand at a key.
    bool ByKey() const { return !loaded_ && !restriction_ && sort_.empty() && src_->KeyOrdered(); }

    const std::unordered_map<std::int64_t, std::size_t>& Positions() {
        if (positions_.empty() && !rows_.empty()) {
            positions_.reserve(rows_.size());
            for (std::size_t k = 0; k < rows_.size(); ++k) positions_.emplace(rows_[k], k);
        }
        return positions_;
    }

    std::unique_ptr<RowSource> src_;
    std::vector<ULONG> columns_;
    std::optional<Restr> restriction_;
    std::vector<SSortOrder> sort_;
    std::vector<std::int64_t> rows_;
    std::unordered_map<std::int64_t, std::size_t> positions_;
    bool loaded_ = false;
    std::size_t cursor_ = 0;
    // Before the rows are listed, FindRow and QueryRows may leave the cursor at the
    // first row whose key is not below cursorKey_ (rows in key order only).
    bool cursorAtKey_ = false;
    std::int64_t cursorKey_ = 0;
};

HRESULT Table::GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) {
    return MakeLastError(hResult, "message store table", lppMAPIError);
}

HRESULT Table::FindRow(LPSRestriction res, BOOKMARK bk, ULONG flags) {
    if (res == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~DIR_BACKWARD) != 0) return MAPI_E_UNKNOWN_FLAGS;
    Restr r;
    HRESULT hr = CompileRestriction(*res, r);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
    const bool backward = (flags & DIR_BACKWARD) != 0;
    std::set<ULONG> idset;
    bool usesSub = false;
    CollectPropIds(r, idset, usesSub);
    std::vector<ULONG> ids(idset.begin(), idset.end());
    ULONG textId = 0;
    std::string text;
    const bool byText = FindStringEquality(r, textId, text);

    // A text the index knows, searched forward in a table in key order: only the
    // index's rows are read, and the cursor stays at the row found, so a folder of
    // any size costs the same.
    const bool fromKey = bk == BOOKMARK_BEGINNING || (bk == BOOKMARK_CURRENT && cursorAtKey_) ||
                         (bk == BOOKMARK_CURRENT && cursor_ == 0);
    if (byText && !backward && fromKey && ByKey()) {
        std::vector<std::int64_t> keys;
        if (src_->IndexLookup(textId, text, keys, hr)) {
            if (FAILED(hr)) return hr;
            const std::int64_t from = bk == BOOKMARK_CURRENT && cursorAtKey_ ? cursorKey_ : 0;
            std::sort(keys.begin(), keys.end());
            keys.erase(keys.begin(), std::lower_bound(keys.begin(), keys.end(), from));
            keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
            for (std::size_t start = 0; start < keys.size(); start += kFetchChunk) {
                std::vector<std::int64_t> chunk(
                    keys.begin() + static_cast<std::ptrdiff_t>(start),
                    keys.begin() +
                        static_cast<std::ptrdiff_t>(std::min(keys.size(), start + kFetchChunk)));
                std::vector<RowData> rows;
                std::vector<bool> found;
                if (FAILED(hr = FetchRange(chunk, ids, rows, found))) return hr;
                for (std::size_t k = 0; k < chunk.size(); ++k) {
                    if (found[k] && Matches(r, FetchedRow(rows[k], *src_, chunk[k]))) {
                        cursorAtKey_ = true;
                        cursorKey_ = chunk[k];
                        return S_OK;
                    }
                }
            }
            return MAPI_E_NOT_FOUND;
        }
    }

    if (FAILED(hr = Materialize())) return hr;
    std::int64_t base;
    if (FAILED(hr = Base(bk, base))) return hr;
    const std::int64_t n = static_cast<std::int64_t>(rows_.size());
    // Forward: base .. n-1; backward: base-1 .. 0.
    const std::int64_t first = backward ? base - 1 : base;

    auto check = [&](const std::vector<std::int64_t>& positions) -> HRESULT {
        for (std::size_t start = 0; start < positions.size(); start += kFetchChunk) {
            std::size_t end = std::min(positions.size(), start + kFetchChunk);
            std::vector<std::int64_t> keys;
            for (std::size_t k = start; k < end; ++k)
                keys.push_back(rows_[static_cast<std::size_t>(positions[k])]);
            std::vector<RowData> rows;
            std::vector<bool> found;
            HRESULT fhr = FetchRange(keys, ids, rows, found);
            if (FAILED(fhr)) return fhr;
            for (std::size_t k = 0; k < keys.size(); ++k) {
                if (found[k] && Matches(r, FetchedRow(rows[k], *src_, keys[k]))) {
                    cursor_ = static_cast<std::size_t>(positions[start + k]);
                    return S_OK;
                }
            }
        }
        return MAPI_E_NOT_FOUND;
    };

    if (byText) {
        std::vector<std::int64_t> keys;
        if (src_->IndexLookup(textId, text, keys, hr)) {
            if (FAILED(hr)) return hr;
            const auto& pos = Positions();
            std::vector<std::int64_t> candidates;
            for (std::int64_t key : keys) {
                auto it = pos.find(key);
                if (it == pos.end()) continue;
                auto p = static_cast<std::int64_t>(it->second);
                if (backward ? p <= first : (p >= first && p < n)) candidates.push_back(p);
            }
            std::sort(candidates.begin(), candidates.end());
            if (backward) std::reverse(candidates.begin(), candidates.end());
            return check(candidates);
        }
    }
    std::vector<std::int64_t> positions;
    if (backward) {
        for (std::int64_t p = first; p >= 0; --p) positions.push_back(p);
    } else {
        for (std::int64_t p = first; p < n; ++p) positions.push_back(p);
    }
    return check(positions);
}

HRESULT Table::QueryRows(LONG count, ULONG flags, LPSRowSet* out) {
    if (out == nullptr || count == 0) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~TBL_NOADVANCE) != 0) return MAPI_E_UNKNOWN_FLAGS;
    *out = nullptr;
    std::lock_guard<std::recursive_mutex> lock(src_->Mutex());
    HRESULT hr = S_OK;
    // The keys of the rows to give: read on from a key the cursor stands at, or
    // taken from the listed rows.
    std::vector<std::int64_t> wanted;
    std::size_t from = 0, to = 0;
    const bool atKey = cursorAtKey_ && count > 0 && ByKey();
    if (atKey) {
        if (FAILED(hr = src_->ListRowsFrom(cursorKey_, static_cast<std::size_t>(count), wanted)))
            return hr;
    } else {
        if (FAILED(hr = Materialize())) return hr;
        if (count > 0) {
            from = cursor_;
            to = std::min(rows_.size(), cursor_ + static_cast<std::size_t>(count));
        } else {
            std::size_t back = static_cast<std::size_t>(-static_cast<std::int64_t>(count));
            from = cursor_ > back ? cursor_ - back : 0;
            to = cursor_;
        }
        wanted.assign(rows_.begin() + static_cast<std::ptrdiff_t>(from),
                      rows_.begin() + static_cast<std::ptrdiff_t>(to));
    }
    std::vector<ULONG> ids;
    for (ULONG tag : columns_) ids.push_back(PROP_ID(tag));
    // Room for every row; rows that vanished meanwhile are left out.
    void* setMem = nullptr;
    if (FAILED(hr = MAPIAllocateBuffer(
                   static_cast<ULONG>(CbNewSRowSet(static_cast<ULONG>(wanted.size()))), &setMem)))
        return hr;
    auto* set = static_cast<SRowSet*>(setMem);
    set->cRows = 0;
    // Values are fetched a chunk at a time, so a large table needs no second copy.
    std::vector<RowData> rows;
    std::vector<bool> found;
    std::vector<std::int64_t> keys;
    const ULONG cols = static_cast<ULONG>(columns_.size());
    const std::size_t head = RoundUp(sizeof(SPropValue) * (cols ? cols : 1));
    std::vector<const Value*> values(cols);
    std::vector<std::size_t> inlineBytes(cols);
    // Each row is one block of its own for FreeProws; the blocks share slabs.
    RootBlockCarver carver;
    for (std::size_t start = 0; start < wanted.size(); start += kFetchChunk) {
        keys.assign(wanted.begin() + static_cast<std::ptrdiff_t>(start),
                    wanted.begin() +
                        static_cast<std::ptrdiff_t>(std::min(wanted.size(), start + kFetchChunk)));
        if (FAILED(hr = FetchRange(keys, ids, rows, found))) {
            FreeProws(set);
            return hr;
        }
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (!found[k]) continue;
            // Binaries and 8-bit strings live in the row's own block.
            std::size_t extra = 0;
            for (ULONG c = 0; c < cols; ++c) {
                values[c] = rows[k].Find(ids[c]);
                inlineBytes[c] =
                    values[c] ? InlineBytes(*values[c], PROP_TYPE(columns_[c])) : kNotInline;
                if (inlineBytes[c] != kNotInline) extra += inlineBytes[c];
            }
            void* propsMem = head + extra > 0x7FFFFFF0u ? nullptr : carver.Allocate(head + extra);
            if (propsMem == nullptr) {
                FreeProws(set);
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
            auto* props = static_cast<SPropValue*>(propsMem);
            char* cursor = static_cast<char*>(propsMem) + head;
            SRow& row = set->aRow[set->cRows++];
            row.ulAdrEntryPad = 0;
            row.cValues = cols;
            row.lpProps = props;
            for (ULONG c = 0; c < cols; ++c) {
                const Value* v = values[c];
                if (inlineBytes[c] != kNotInline) {
                    PlaceInline(*v, ids[c], PROP_TYPE(columns_[c]), cursor, props[c]);
                } else if (v == nullptr || FAILED(ToSPropValue(*v, ids[c], PROP_TYPE(columns_[c]),
                                                               false, propsMem, props[c]))) {
                    ErrorProp(ids[c], MAPI_E_NOT_FOUND, props[c]);
                }
            }
        }
    }
    if ((flags & TBL_NOADVANCE) == 0) {
        if (atKey) {
            if (!wanted.empty()) cursorKey_ = wanted.back() + 1;
        } else {
            cursor_ = count > 0 ? to : from;
        }
    }
    *out = set;
    return S_OK;
}

class StaticSource : public RowSource {
public:
    StaticSource(std::vector<PropMap> rows, std::vector<ULONG> columns)
        : rows_(std::move(rows)), columns_(std::move(columns)) {}
    std::recursive_mutex& Mutex() override { return mutex_; }
    HRESULT ListRows(std::vector<std::int64_t>& keys) override {
        keys.clear();
        for (std::size_t k = 0; k < rows_.size(); ++k) keys.push_back(static_cast<std::int64_t>(k));
        return S_OK;
    }
    HRESULT Fetch(const std::vector<std::int64_t>& keys, const std::vector<ULONG>& ids,
                  std::vector<RowData>& rows, std::vector<bool>& found) override {
        rows.resize(keys.size());
        for (RowData& r : rows) r.Reset();
        found.assign(keys.size(), false);
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (keys[k] < 0 || static_cast<std::size_t>(keys[k]) >= rows_.size()) continue;
            found[k] = true;
            const PropMap& row = rows_[static_cast<std::size_t>(keys[k])];
            for (ULONG id : ids) {
                auto it = row.find(id);
                if (it != row.end()) rows[k].Put(id) = it->second;
            }
        }
        return S_OK;
    }
    std::vector<ULONG> DefaultColumns() override { return columns_; }

private:
    std::recursive_mutex mutex_;
    std::vector<PropMap> rows_;
    std::vector<ULONG> columns_;
};

}  // namespace

HRESULT CreateTable(std::unique_ptr<RowSource> source, LPMAPITABLE* lppTable) {
    if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppTable = new Table(std::move(source));
    return S_OK;
}

std::unique_ptr<RowSource> MakeStaticSource(std::vector<PropMap> rows, std::vector<ULONG> columns) {
    return std::make_unique<StaticSource>(std::move(rows), std::move(columns));
}

}  // namespace mapistore
