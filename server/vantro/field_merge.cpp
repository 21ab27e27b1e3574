// The fields of an item and the merge of a device's change.
#include "server/vantro/field_merge.h"

#include <optional>

#include "common/wbxml/wbxml.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Fields the store sets itself on every save or read change.
bool IsStoreMaintained(CFieldId field) {
    return field == MakeFieldId(7, 0x26) || field == MakeFieldId(7, 0x3D);
}

// Whether text differs from the value held for field: an empty text differs from
// a held value, any other text from no value or another one.
bool Differs(const std::string& text, const CFieldHashes& held, CFieldId field) {
    auto found = held.find(field);
    if (text.empty()) return found != held.end();
    return found == held.end() || found->second != FieldTextHash(text);
}

std::string ValueOf(const CFieldValues* values, CFieldId field) {
    if (values == nullptr) return std::string();
    auto found = values->find(field);
    return found == values->end() ? std::string() : found->second;
}

void Hold(CFieldHashes& holds, CFieldId field, const std::string& text) {
    if (IsStoreMaintained(field)) return;
    if (text.empty())
        holds.erase(field);
    else
        holds[field] = FieldTextHash(text);
}

void AppendEscaped(std::string& out, const std::string& text) {
    for (char c : text) {
        if (c == '\\' || c == ';' || c == '{' || c == '}') out.push_back('\\');
        out.push_back(c);
    }
}

void CopyNode(const CWBXMLLiteral& from, CWBXMLLiterals& into) {
    CWBXMLLiteral& copy = into.Add(from.codePage, from.token, from.value);
    if (!from.children) return;
    copy.children = std::make_unique<CWBXMLLiterals>();
    for (const auto& child : *from.children) CopyNode(*child, *copy.children);
}

}  // namespace

std::string CanonicalText(const CWBXMLLiteral& node) {
    std::string out = "{";
    if (node.children) {
        for (const auto& child : *node.children) {
            CFieldId id = MakeFieldId(child->codePage, child->token);
            out.push_back(kHexDigits[(id >> 12) & 0xF]);
            out.push_back(kHexDigits[(id >> 8) & 0xF]);
            out.push_back(kHexDigits[(id >> 4) & 0xF]);
            out.push_back(kHexDigits[id & 0xF]);
            if (child->children) {
                out += CanonicalText(*child);
            } else {
                out.push_back('=');
                AppendEscaped(out, child->value);
                out.push_back(';');
            }
        }
    }
    out.push_back('}');
    return out;
}

CFieldValues FieldValuesOf(const CWBXMLLiterals& tree) {
    CFieldValues values;
    for (const auto& node : tree) {
        values[MakeFieldId(node->codePage, node->token)] =
            node->children ? CanonicalText(*node) : node->value;
    }
    return values;
}

CFieldValues ItemElementFields(std::string_view element) {
    constexpr int32_t kCollection = 0x14;
    CWBXML reader;
    std::string document("\x03\x01\x6A\x00", CWBXML::kHeaderSize);
    document.append(element);
    reader.SetDocument(document);
    CWBXMLEvent event;
    reader.NextEvent(event);
    if (event.EventKind != kWBXMLStartTag || event.codePage != 0 || event.token != kCollection)
        return CFieldValues();
    CWBXMLLiterals fields;
    reader.BuildTree(fields, event);
    return FieldValuesOf(fields);
}

CFieldHashes HashesOf(const CFieldValues& values) {
    CFieldHashes hashes;
    for (const auto& [field, text] : values) Hold(hashes, field, text);
    return hashes;
}

CMergeResult MergeDeviceChange(const CFieldValues& device, const CMergeInput& input) {
    CMergeResult result;
    MergeBase base = input.base;
    if (base == MergeBase::kKnown && (input.deviceHeld == nullptr || input.storeHeld == nullptr))
        base = MergeBase::kUnknown;
    // An Add of an item without a record carries all the device has: twins.
    if (base == MergeBase::kUnknown && input.wholeItem) base = MergeBase::kTwins;

    if (base == MergeBase::kNew) {
        for (const auto& [field, text] : device) {
            if (!text.empty()) result.apply.insert(field);
        }
        result.deviceHolds = HashesOf(device);
        return result;
    }

    if (base == MergeBase::kKnown) {
        result.deviceHolds = *input.deviceHeld;
        std::set<CFieldId> fields;
        for (const auto& [field, text] : device) fields.insert(field);
        if (input.wholeItem) {
            for (const auto& [field, hash] : *input.deviceHeld) fields.insert(field);
        }
        for (CFieldId field : fields) {
            const std::string value = ValueOf(&device, field);
            const std::string stored = ValueOf(input.store, field);
            if (IsStoreMaintained(field)) {
                if (value != stored && !value.empty()) result.apply.insert(field);
                continue;
            }
            if (!Differs(value, *input.deviceHeld, field)) {
                // Not changed there. A clear of what neither side holds goes on, so
                // that a field the item's kind lacks is traced where it is applied.
                if (value.empty() && stored.empty()) result.apply.insert(field);
                continue;
            }
            Hold(result.deviceHolds, field, value);
            if (value == stored) continue;
            if (Differs(stored, *input.storeHeld, field))
                result.conflicts.push_back({field, value, stored});
            else
                result.apply.insert(field);
        }
        return result;
    }

    // Twins, or an item whose last exchange is not known.
    if (base == MergeBase::kTwins) {
        result.deviceHolds = HashesOf(device);
    } else {
        result.deviceHolds = input.store != nullptr ? HashesOf(*input.store) : CFieldHashes();
        for (const auto& [field, text] : device) Hold(result.deviceHolds, field, text);
        result.sendBack = input.desktopChanged;
    }
    const bool desktopWins = base == MergeBase::kTwins || input.desktopChanged;
    for (const auto& [field, value] : device) {
        const std::string stored = ValueOf(input.store, field);
        if (value == stored) {
            if (value.empty()) result.apply.insert(field);  // as above: traced when foreign
            continue;
        }
        if (base == MergeBase::kTwins && value.empty()) continue;  // set on the desktop only
        if (desktopWins && !stored.empty() && !IsStoreMaintained(field))
            result.conflicts.push_back({field, value, stored});
        else
            result.apply.insert(field);
    }
    return result;
}

CWBXMLLiterals FieldsToApply(const CWBXMLLiterals& tree, const CMergeResult& merge) {
    std::map<CFieldId, size_t> last;
    for (size_t i = 0; i < tree.Size(); ++i) last[MakeFieldId(tree[i].codePage, tree[i].token)] = i;
    CWBXMLLiterals out;
    for (size_t i = 0; i < tree.Size(); ++i) {
        CFieldId field = MakeFieldId(tree[i].codePage, tree[i].token);
        if (merge.apply.count(field) != 0 && last[field] == i) CopyNode(tree[i], out);
    }
    for (CFieldId field : merge.apply) {
        if (last.count(field) == 0) out.Add(FieldPage(field), FieldToken(field));
    }
    return out;
}

bool DiffersFromDevice(const CFieldValues& storeAfter, const CMergeResult& merge) {
    return merge.sendBack || HashesOf(storeAfter) != merge.deviceHolds;
}
