// CCompileRestriction: the text form of restrictions.
#include "server/restriction/compile_restriction.h"

#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "server/mapi/gen_mapi_prop_ptr.h"
#include "server/mapi/mapi_prop_value.h"

namespace {

std::string HexTag(ULONG tag) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(tag));
    return buffer;
}

// Appends the parts in order (no temporary strings joined with "+").
void AppendAll(std::string& out, std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts) out.append(part);
}

std::string Decimal(long long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%lld", value);
    return buffer;
}

}  // namespace

CCompileRestriction::CCompileRestriction(IMAPIProp* namesSource)
    : namesSource_(CMapiRef<IMAPIProp>::Share(namesSource)) {}

CCompileRestriction::CCompileRestriction(const CGenMapiPropPtr& namesSource)
    : CCompileRestriction(namesSource.GetMapiProp()) {}

std::string CCompileRestriction::Compile(const SRestriction* restriction) {
    std::string text;
    Append(text, restriction, 0);
    return text;
}

std::string CCompileRestriction::RelationText(ULONG relop) {
    switch (relop) {
        case RELOP_LT:
            return "<";
        case RELOP_LE:
            return "<=";
        case RELOP_GT:
            return ">";
        case RELOP_GE:
            return ">=";
        case RELOP_EQ:
            return "=";
        case RELOP_NE:
            return "<>";
        case RELOP_RE:
            return "~";
        default: {
            std::string text = "?";
            text += Decimal(relop);
            return text;
        }
    }
}

std::string CCompileRestriction::FuzzyText(ULONG fuzzyLevel) {
    std::string text;
    if (fuzzyLevel & FL_PREFIX) text += "prefix ";
    if (fuzzyLevel & FL_SUBSTRING) text += "substring ";
    if (fuzzyLevel & FL_IGNORECASE) text += "ignorecase ";
    if (fuzzyLevel & FL_LOOSE) text += "loose ";
    return text;
}

std::string CCompileRestriction::StandardName(const std::string& prName) {
    std::string rest = prName.rfind("PR", 0) == 0 ? prName.substr(2) : prName;
    std::string name;
    bool startOfWord = true;
    for (char c : rest) {
        if (c == '_') {
            startOfWord = true;
            continue;
        }
        unsigned char u = static_cast<unsigned char>(c);
        name.push_back(static_cast<char>(startOfWord ? std::toupper(u) : std::tolower(u)));
        startOfWord = false;
    }
    return name;
}

std::string CCompileRestriction::PropertyName(ULONG tag) {
    if (PROP_ID(tag) >= PROP_ID_NAMED_FIRST) return NamedPropertyName(tag);
    if (const char* name = MapiPropTagName(tag)) return StandardName(name);
    return HexTag(tag);
}

std::string CCompileRestriction::NamedPropertyName(ULONG tag) {
    ULONG id = PROP_ID(tag);
    if (auto it = namedCache_.find(id); it != namedCache_.end()) return it->second;
    std::string name;
    if (namesSource_) {
        SizedSPropTagArray(1, ask) = {1, {tag}};
        LPSPropTagArray tags = reinterpret_cast<LPSPropTagArray>(&ask);
        ULONG count = 0;
        CMapiBuffer<LPMAPINAMEID> names;
        HRESULT hr = namesSource_->GetNamesFromIDs(&tags, nullptr, 0, &count, names.Put());
        if (SUCCEEDED(hr) && names && count >= 1 && names.Get()[0] != nullptr) {
            const MAPINAMEID& found = *names.Get()[0];
            if (found.ulKind == MNID_STRING) {
                name = Utf16ToText(found.Kind.lpwstrName);
            } else if (found.ulKind == MNID_ID && found.lpguid != nullptr) {
                if (const KnownNamedProp* known = MapiFindKnownNamedProp(
                        *found.lpguid, MNID_ID, found.Kind.lID, std::string()))
                    name = known->lpszDisplayName;
            }
        }
    }
    if (name.empty()) name = HexTag(tag);
    namedCache_.emplace(id, name);
    return name;
}

std::string CCompileRestriction::ValueText(const SPropValue* value) {
    if (value == nullptr) return "(NULL)";
    switch (PROP_TYPE(value->ulPropTag)) {
        case PT_SYSTIME: {
            CUtcTime t = FileTimeToUtc(value->Value.ft);
            char buffer[48];
            std::snprintf(buffer, sizeof buffer, "Date(%d,%d,%d)", t.day, t.month, t.year);
            return buffer;
        }
        case PT_STRING8:
        case PT_UNICODE: {
            std::string text = "\"";
            AppendAll(text, {PropValueText(*value), "\""});
            return text;
        }
        default:
            return PropValueText(*value);
    }
}

void CCompileRestriction::Append(std::string& out, const SRestriction* r, int depth) {
    if (r == nullptr) {
        out += "(NULL)";
        return;
    }
    if (depth >= kMaxDepth) {
        out += "...";
        return;
    }
    switch (r->rt) {
        case RES_AND:
        case RES_OR: {
            bool isAnd = r->rt == RES_AND;
            ULONG count = isAnd ? r->res.resAnd.cRes : r->res.resOr.cRes;
            const SRestriction* parts = isAnd ? r->res.resAnd.lpRes : r->res.resOr.lpRes;
            out += "(";
            for (ULONG i = 0; i < count; ++i) {
                if (i > 0) out += isAnd ? " and " : " or ";
                Append(out, parts ? &parts[i] : nullptr, depth + 1);
            }
            out += ")";
            break;
        }
        case RES_NOT:
            out += "not (";
            Append(out, r->res.resNot.lpRes, depth + 1);
            out += ")";
            break;
        case RES_CONTENT: {
            const SContentRestriction& c = r->res.resContent;
            AppendAll(out, {PropertyName(c.ulPropTag), "=", FuzzyText(c.ulFuzzyLevel),
                            ValueText(c.lpProp), " "});
            break;
        }
        case RES_PROPERTY: {
            const SPropertyRestriction& p = r->res.resProperty;
            AppendAll(out, {PropertyName(p.ulPropTag), " ", RelationText(p.relop), " ",
                            ValueText(p.lpProp), " "});
            break;
        }
        case RES_COMPAREPROPS: {
            const SComparePropsRestriction& c = r->res.resCompareProps;
            AppendAll(out, {PropertyName(c.ulPropTag1), " ", RelationText(c.relop), " ",
                            PropertyName(c.ulPropTag2), " "});
            break;
        }
        case RES_BITMASK: {
            const SBitMaskRestriction& b = r->res.resBitMask;
            AppendAll(out, {PropertyName(b.ulPropTag),
                            b.relBMR == BMR_EQZ ? " = bitmask " : " <> bitmask ",
                            Decimal(static_cast<LONG>(b.ulMask)), " "});
            break;
        }
        case RES_SIZE: {
            const SSizeRestriction& s = r->res.resSize;
            AppendAll(out, {" size(", PropertyName(s.ulPropTag), ") ", RelationText(s.relop), " ",
                            Decimal(static_cast<LONG>(s.cb)), " "});
            break;
        }
        case RES_EXIST:
            AppendAll(out, {"exist ", PropertyName(r->res.resExist.ulPropTag), " "});
            break;
        case RES_SUBRESTRICTION:
            out +=
                r->res.resSub.ulSubObject == PR_MESSAGE_RECIPIENTS ? "Recipient(" : "Attachment(";
            Append(out, r->res.resSub.lpRes, depth + 1);
            out += ")";
            break;
        case RES_COMMENT:
            Append(out, r->res.resComment.lpRes, depth + 1);
            break;
        default:
            AppendAll(out, {"unknown(", Decimal(r->rt), ") "});
            break;
    }
}
