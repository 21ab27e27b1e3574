// Compiling and evaluating restrictions.
#include "platform/mapi/restriction_eval.h"

#include <algorithm>
#include <cstring>

namespace mapistore {

namespace {

struct CompileState {
    std::size_t nodes = 0;
};

bool IsStringOrBinary(ULONG storedType) {
    return storedType == PT_UNICODE || storedType == PT_BINARY;
}

HRESULT Compile(const SRestriction& in, Restr& out, int depth, CompileState& state) {
    if (depth > kMaxRestrictionDepth || ++state.nodes > kMaxRestrictionNodes)
        return MAPI_E_TOO_COMPLEX;
    out = Restr{};
    out.rt = in.rt;
    HRESULT hr = S_OK;
    switch (in.rt) {
        case RES_AND:
        case RES_OR: {
            const ULONG n = in.rt == RES_AND ? in.res.resAnd.cRes : in.res.resOr.cRes;
            const SRestriction* subs = in.rt == RES_AND ? in.res.resAnd.lpRes : in.res.resOr.lpRes;
            if (n > 0 && subs == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (n > kMaxRestrictionNodes) return MAPI_E_TOO_COMPLEX;
            out.subs.resize(n);
            for (ULONG k = 0; k < n; ++k)
                if (FAILED(hr = Compile(subs[k], out.subs[k], depth + 1, state))) return hr;
            return S_OK;
        }
        case RES_NOT:
            if (in.res.resNot.lpRes == nullptr) return MAPI_E_INVALID_PARAMETER;
            out.subs.resize(1);
            return Compile(*in.res.resNot.lpRes, out.subs[0], depth + 1, state);
        case RES_CONTENT: {
            const SContentRestriction& c = in.res.resContent;
            if (c.lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
            out.op = c.ulFuzzyLevel;
            out.tag = c.ulPropTag;
            if ((c.ulFuzzyLevel & 0xFFFF) > FL_PREFIX) return MAPI_E_TOO_COMPLEX;
            if (FAILED(FromSPropValue(*c.lpProp, out.value))) return MAPI_E_TOO_COMPLEX;
            out.hasValue = true;
            ULONG tagType = StoredType(PROP_TYPE(c.ulPropTag)) & ~MV_FLAG;
            if (!IsStringOrBinary(out.value.type) || tagType != out.value.type)
                return MAPI_E_TOO_COMPLEX;
            return S_OK;
        }
        case RES_PROPERTY: {
            const SPropertyRestriction& p = in.res.resProperty;
            if (p.lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (p.relop > RELOP_NE) return MAPI_E_TOO_COMPLEX;
            out.op = p.relop;
            out.tag = p.ulPropTag;
            if (FAILED(FromSPropValue(*p.lpProp, out.value)) || IsMultiValued(out.value.type))
                return MAPI_E_TOO_COMPLEX;
            out.hasValue = true;
            ULONG tagType = StoredType(PROP_TYPE(p.ulPropTag));
            if (tagType != out.value.type && (tagType & ~MV_FLAG) != out.value.type)
                return MAPI_E_TOO_COMPLEX;
            return S_OK;
        }
        case RES_COMPAREPROPS: {
            const SComparePropsRestriction& c = in.res.resCompareProps;
            if (c.relop > RELOP_NE) return MAPI_E_TOO_COMPLEX;
            ULONG t1 = StoredType(PROP_TYPE(c.ulPropTag1)),
                  t2 = StoredType(PROP_TYPE(c.ulPropTag2));
            if (t1 != t2 || IsMultiValued(t1) || !IsSettableType(t1)) return MAPI_E_TOO_COMPLEX;
            out.op = c.relop;
            out.tag = c.ulPropTag1;
            out.tag2 = c.ulPropTag2;
            return S_OK;
        }
        case RES_BITMASK:
            if (in.res.resBitMask.relBMR > BMR_NEZ) return MAPI_E_TOO_COMPLEX;
            out.op = in.res.resBitMask.relBMR;
            out.tag = in.res.resBitMask.ulPropTag;
            out.number = in.res.resBitMask.ulMask;
            return S_OK;
        case RES_SIZE:
            if (in.res.resSize.relop > RELOP_NE) return MAPI_E_TOO_COMPLEX;
            out.op = in.res.resSize.relop;
            out.tag = in.res.resSize.ulPropTag;
            out.number = in.res.resSize.cb;
            return S_OK;
        case RES_EXIST:
            out.tag = in.res.resExist.ulPropTag;
            return S_OK;
        case RES_SUBRESTRICTION:
            if (in.res.resSub.lpRes == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (in.res.resSub.ulSubObject != PR_MESSAGE_RECIPIENTS &&
                in.res.resSub.ulSubObject != PR_MESSAGE_ATTACHMENTS)
                return MAPI_E_TOO_COMPLEX;
            out.tag = in.res.resSub.ulSubObject;
            out.subs.resize(1);
            return Compile(*in.res.resSub.lpRes, out.subs[0], depth + 1, state);
        case RES_COMMENT:
            if (in.res.resComment.lpRes != nullptr) {
                out.subs.resize(1);
                return Compile(*in.res.resComment.lpRes, out.subs[0], depth + 1, state);
            }
            return S_OK;
        default:
            return MAPI_E_TOO_COMPLEX;
    }
}

bool Relate(int cmp, ULONG relop) {
    switch (relop) {
        case RELOP_LT:
            return cmp < 0;
        case RELOP_LE:
            return cmp <= 0;
        case RELOP_GT:
            return cmp > 0;
        case RELOP_GE:
            return cmp >= 0;
        case RELOP_EQ:
            return cmp == 0;
        case RELOP_NE:
            return cmp != 0;
        default:
            return false;
    }
}

// Element k of a multi-valued value as a scalar of its base type.
Value Element(const Value& mv, std::size_t k) {
    Value v;
    v.type = mv.type & ~MV_FLAG;
    if (k < mv.mvi.size()) v.i = mv.mvi[k];
    if (k < mv.mvd.size()) v.d = mv.mvd[k];
    if (k < mv.mvs.size()) v.s = mv.mvs[k];
    return v;
}

std::size_t ElementCount(const Value& mv) { return mv.mvi.size() + mv.mvd.size() + mv.mvs.size(); }

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool ContentMatch(const std::string& hay, const std::string& needle, ULONG fuzzy, bool text) {
    std::string h = hay, n = needle;
    if (text && (fuzzy & (FL_IGNORECASE | FL_LOOSE)) != 0) {
        std::transform(h.begin(), h.end(), h.begin(), FoldAscii);
        std::transform(n.begin(), n.end(), n.begin(), FoldAscii);
    }
    switch (fuzzy & 0xFFFF) {
        case FL_SUBSTRING:
            return h.find(n) != std::string::npos;
        case FL_PREFIX:
            return h.compare(0, n.size(), n) == 0 && h.size() >= n.size();
        default:
            return h == n;
    }
}

// Matches a row value (scalar or multi-valued) against a predicate on scalars.
template <typename Pred>
bool AnyValue(const Value& v, ULONG scalarType, Pred pred) {
    if (v.type == scalarType) return pred(v);
    if (v.type == (scalarType | MV_FLAG)) {
        for (std::size_t k = 0, n = ElementCount(v); k < n; ++k)
            if (pred(Element(v, k))) return true;
    }
    return false;
}

}  // namespace

HRESULT RowView::SubRows(ULONG, std::vector<PropMap>&) const { return MAPI_E_TOO_COMPLEX; }

const Value* MapRowView::Get(ULONG propId) const {
    auto it = props_.find(propId);
    return it == props_.end() ? nullptr : &it->second;
}

HRESULT CompileRestriction(const SRestriction& in, Restr& out) {
    CompileState state;
    return Compile(in, out, 0, state);
}

int CompareValues(const Value& a, const Value& b) {
    switch (a.type) {
        case PT_SYSTIME: {
            auto x = static_cast<std::uint64_t>(a.i), y = static_cast<std::uint64_t>(b.i);
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        case PT_R4:
        case PT_DOUBLE:
        case PT_APPTIME:
            return a.d < b.d ? -1 : (a.d > b.d ? 1 : 0);
        case PT_UNICODE:
        case PT_BINARY:
        case PT_CLSID: {
            int c = a.s.compare(b.s);
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        default:
            return a.i < b.i ? -1 : (a.i > b.i ? 1 : 0);
    }
}

bool Matches(const Restr& r, const RowView& row) {
    switch (r.rt) {
        case RES_AND:
            for (const Restr& s : r.subs)
                if (!Matches(s, row)) return false;
            return true;
        case RES_OR:
            for (const Restr& s : r.subs)
                if (Matches(s, row)) return true;
            return false;
        case RES_NOT:
            return !Matches(r.subs[0], row);
        case RES_COMMENT:
            return r.subs.empty() || Matches(r.subs[0], row);
        case RES_PROPERTY: {
            const Value* v = row.Get(PROP_ID(r.tag));
            if (v == nullptr) return false;
            return AnyValue(*v, r.value.type, [&](const Value& x) {
                return Relate(CompareValues(x, r.value), r.op);
            });
        }
        case RES_CONTENT: {
            const Value* v = row.Get(PROP_ID(r.tag));
            if (v == nullptr) return false;
            const bool text = r.value.type == PT_UNICODE;
            return AnyValue(*v, r.value.type, [&](const Value& x) {
                return ContentMatch(x.s, r.value.s, r.op, text);
            });
        }
        case RES_COMPAREPROPS: {
            const Value* a = row.Get(PROP_ID(r.tag));
            const Value* b = row.Get(PROP_ID(r.tag2));
            ULONG type = StoredType(PROP_TYPE(r.tag));
            if (a == nullptr || b == nullptr || a->type != b->type) return false;
            if (type != PT_UNSPECIFIED && a->type != type) return false;
            if (IsMultiValued(a->type)) return false;
            return Relate(CompareValues(*a, *b), r.op);
        }
        case RES_BITMASK: {
            const Value* v = row.Get(PROP_ID(r.tag));
            if (v == nullptr || (v->type != PT_LONG && v->type != PT_I2)) return false;
            const bool zero = (static_cast<std::uint32_t>(v->i) & r.number) == 0;
            return r.op == BMR_EQZ ? zero : !zero;
        }
        case RES_SIZE: {
            const Value* v = row.Get(PROP_ID(r.tag));
            if (v == nullptr) return false;
            ULONG size = ValueSize(*v);
            return Relate(size < r.number ? -1 : (size > r.number ? 1 : 0), r.op);
        }
        case RES_EXIST: {
            const Value* v = row.Get(PROP_ID(r.tag));
            if (v == nullptr) return false;
            ULONG type = StoredType(PROP_TYPE(r.tag));
            return type == PT_UNSPECIFIED || type == v->type;
        }
        case RES_SUBRESTRICTION: {
            std::vector<PropMap> rows;
            if (FAILED(row.SubRows(r.tag, rows))) return false;
            for (const PropMap& sub : rows)
                if (Matches(r.subs[0], MapRowView(sub))) return true;
            return false;
        }
        default:
            return false;
    }
}

void CollectPropIds(const Restr& r, std::set<ULONG>& ids, bool& usesSub) {
    switch (r.rt) {
        case RES_SUBRESTRICTION:
            usesSub = true;
            return;
        case RES_AND:
        case RES_OR:
        case RES_NOT:
        case RES_COMMENT:
            for (const Restr& s : r.subs) CollectPropIds(s, ids, usesSub);
            return;
        case RES_COMPAREPROPS:
            ids.insert(PROP_ID(r.tag));
            ids.insert(PROP_ID(r.tag2));
            return;
        default:
            ids.insert(PROP_ID(r.tag));
            return;
    }
}

bool FindStringEquality(const Restr& r, ULONG& propId, std::string& text) {
    if (r.rt == RES_PROPERTY && r.op == RELOP_EQ && r.value.type == PT_UNICODE &&
        StoredType(PROP_TYPE(r.tag)) == PT_UNICODE) {
        propId = PROP_ID(r.tag);
        text = r.value.s;
        return true;
    }
    if (r.rt == RES_AND) {
        for (const Restr& s : r.subs)
            if (FindStringEquality(s, propId, text)) return true;
    }
    return false;
}

}  // namespace mapistore
