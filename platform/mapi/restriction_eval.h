// Restrictions: an owned copy of an SRestriction tree (so that a table keeps it
// after the caller frees its own), and its evaluation against one row's values.
//
// Rules: a restriction on a property the row lacks does not match (RELOP_NE
// included); strings compare by their bytes (UTF-8 order = code point order);
// times as unsigned 64-bit FILETIMEs; binaries byte by byte, a prefix first; a
// property restriction on a multi-valued property matches when one value does.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/mapi/prop_value.h"

namespace mapistore {

constexpr int kMaxRestrictionDepth = 64;
constexpr std::size_t kMaxRestrictionNodes = 100000;

struct Restr {
    ULONG rt = RES_AND;
    ULONG op = 0;  // relop, fuzzy level or bitmask relation
    ULONG tag = 0;
    ULONG tag2 = 0;
    ULONG number = 0;  // bitmask or size
    bool hasValue = false;
    Value value;
    std::vector<Restr> subs;
};

// MAPI_E_TOO_COMPLEX for types, relations or value types this engine does not
// evaluate, nesting deeper than kMaxRestrictionDepth, more than kMaxRestrictionNodes
// nodes; MAPI_E_INVALID_PARAMETER for null pointers inside the tree.
HRESULT CompileRestriction(const SRestriction& in, Restr& out);

class RowView {
public:
    virtual ~RowView() = default;
    // The row's value of a property ID, or null.
    virtual const Value* Get(ULONG propId) const = 0;
    // Rows of a sub-object (PR_MESSAGE_RECIPIENTS / PR_MESSAGE_ATTACHMENTS).
    virtual HRESULT SubRows(ULONG subObject, std::vector<PropMap>& rows) const;
};

class MapRowView : public RowView {
public:
    explicit MapRowView(const PropMap& props) : props_(props) {}
    const Value* Get(ULONG propId) const override;

private:
    const PropMap& props_;
};

bool Matches(const Restr& r, const RowView& row);

// Property IDs the restriction reads (outside sub-restrictions); usesSub tells
// whether it has a sub-object restriction.
void CollectPropIds(const Restr& r, std::set<ULONG>& ids, bool& usesSub);

// When the restriction is, or is an AND that contains, RELOP_EQ on a string property,
// its property ID and text: rows matching it are the only candidates.
bool FindStringEquality(const Restr& r, ULONG& propId, std::string& text);

// -1, 0, 1 for two scalar values of one stored type.
int CompareValues(const Value& a, const Value& b);

}  // namespace mapistore
