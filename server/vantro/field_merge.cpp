// The fields of an item and the merge of a device's change.
#include "server/vantro/field_merge.h"

#include <optional>

#include "common/base/text.h"
#include "common/wbxml/wbxml.h"

namespace {

// Fields the store sets itself on every save or read change.
bool IsStoreMaintained(CFieldId field) {
    return field == MakeFieldId(7, 0x26) || field == MakeFieldId(7, 0x3D);
}

// Whether text differs from the hash held for field: an empty text differs from a
// held value, any other text from no value or another one.
bool Differs(const std::string& text, const CFieldHashes& held, CFieldId field) {
    auto found = held.find(field);
    if (text.empty()) return found != held.end();
    return found == held.end() || found->second != FieldTextHash(text);
}

// The same against held texts (kept texts of the ClientID map).
bool Differs(const std::string& text, const CFieldValues& held, CFieldId field) {
    auto found = held.find(field);
    if (found == held.end() || found->second.empty()) return !text.empty();
    return text.empty() || KeptFieldHash(found->second) != FieldTextHash(text);
}

std::string ValueOf(const CFieldValues* values, CFieldId field) {
    if (values == nullptr) return std::string();
    auto found = values->find(field);
    return found == values->end() ? std::string() : found->second;
}

void Hold(CFieldValues& holds, CFieldId field, const std::string& text) {
    if (IsStoreMaintained(field)) return;
    if (text.empty())
        holds.erase(field);
    else
        holds[field] = KeptFieldText(text);
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

namespace {

// A container's text begins with this byte, which no field text holds, so that it
// is never taken for a field's own text.
constexpr char kContainerMark = '\x01';

std::string Canonical(const CWBXMLLiteral& node) {
    std::string out = "{";
    if (node.children) {
        for (const auto& child : *node.children) {
            CFieldId id = MakeFieldId(child->codePage, child->token);
            out += HexNumber(id, 4);
            if (child->children) {
                out += Canonical(*child);
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

}  // namespace

std::string CanonicalText(const CWBXMLLiteral& node) {
    return std::string(1, kContainerMark) + Canonical(node);
}

CFieldValues FieldValuesOf(const CWBXMLLiterals& tree) {
    CFieldValues values;
    for (const auto& node : tree) {
        values[MakeFieldId(node->codePage, node->token)] =
            node->children ? CanonicalText(*node) : node->value;
    }
    return values;
}

namespace {

constexpr int32_t kCollectionToken = 0x14;

// The reader over element with the document header put before it, at the first
// event; false when the element does not begin with COLLECTION on page 0.
bool StartItemElement(CWBXML& reader, CWBXMLEvent& event, std::string_view element) {
    std::string document("\x03\x01\x6A\x00", CWBXML::kHeaderSize);
    document.append(element);
    reader.SetDocument(document);
    reader.NextEvent(event);
    return event.EventKind == kWBXMLStartTag && event.codePage == 0 &&
           event.token == kCollectionToken;
}

// The fields of an element whose children are all fields, in one pass over the
// events, as BuildTree and FieldValuesOf would give them; none when the element
// holds anything else (a container, text outside a field, two texts in one field,
// a cut end), which the tree then reads.
std::optional<CFieldValues> FlatItemFields(CWBXML& reader, CWBXMLEvent& event) {
    CFieldValues values;
    for (;;) {
        reader.NextTreeEvent(event);
        if (event.EventKind == kWBXMLEndTag) return values;  // the COLLECTION's end
        if (event.EventKind != kWBXMLStartTag) return std::nullopt;
        const CFieldId field = MakeFieldId(event.codePage, event.token);
        if (event.PendingEnd) {
            // A tag without the content bit: a cleared field.
            reader.NextTreeEvent(event);
            if (event.EventKind != kWBXMLEndTag) return std::nullopt;
            values[field].clear();
            continue;
        }
        reader.NextTreeEvent(event);
        if (event.EventKind == kWBXMLEndTag) continue;  // content bit, no content: no field
        if (event.EventKind != kWBXMLContent) return std::nullopt;
        // A copy of exactly the text's size, the way the tree's texts are kept.
        values.insert_or_assign(field, std::string(event.value));
        reader.NextTreeEvent(event);
        if (event.EventKind != kWBXMLEndTag) return std::nullopt;
    }
}

}  // namespace

CFieldValues ItemElementFields(std::string_view element) {
    CWBXML reader;
    CWBXMLEvent event;
    if (!StartItemElement(reader, event, element)) return CFieldValues();
    if (std::optional<CFieldValues> flat = FlatItemFields(reader, event)) return std::move(*flat);
    return ItemElementFieldsByTree(element);
}

CFieldValues ItemElementFieldsByTree(std::string_view element) {
    CWBXML reader;
    CWBXMLEvent event;
    if (!StartItemElement(reader, event, element)) return CFieldValues();
    CWBXMLLiterals fields;
    reader.BuildTree(fields, event);
    return FieldValuesOf(fields);
}

CFieldHashes HashesOf(const CFieldValues& values) {
    CFieldHashes hashes;
    for (const auto& [field, text] : values) {
        if (!text.empty() && !IsStoreMaintained(field)) hashes[field] = KeptFieldHash(text);
    }
    return hashes;
}

CFieldValues KeptValuesOf(const CFieldValues& values) {
    CFieldValues kept;
    for (const auto& [field, text] : values) Hold(kept, field, text);
    return kept;
}

CFieldValues KeptValuesOf(CFieldValues&& values) {
    for (auto it = values.begin(); it != values.end();) {
        if (it->second.empty() || IsStoreMaintained(it->first)) {
            it = values.erase(it);
            continue;
        }
        if (it->second.size() > kMaxKeptFieldText) it->second = KeptFieldText(it->second);
        ++it;
    }
    return std::move(values);
}

namespace {

// Reads children of a canonical text from at (after its "{") up to and with the
// matching "}".
bool ParseCanonicalChildren(std::string_view text, size_t& at, CWBXMLLiterals& list, int depth) {
    if (depth > CWBXML::kMaxDepth) return false;
    while (at < text.size()) {
        if (text[at] == '}') {
            ++at;
            return true;
        }
        if (at + 5 > text.size()) return false;
        CFieldId id = 0;
        for (size_t i = 0; i < 4; ++i) {
            char c = text[at + i];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) return false;
            id = static_cast<CFieldId>(id << 4 | digit);
        }
        at += 4;
        if (text[at] == '{') {
            ++at;
            CWBXMLLiteral& box = list.Add(FieldPage(id), FieldToken(id));
            box.children = std::make_unique<CWBXMLLiterals>();
            if (!ParseCanonicalChildren(text, at, *box.children, depth + 1)) return false;
        } else if (text[at] == '=') {
            ++at;
            std::string value;
            for (;;) {
                if (at >= text.size()) return false;
                char c = text[at++];
                if (c == ';') break;
                if (c == '\\') {
                    if (at >= text.size()) return false;
                    c = text[at++];
                }
                value.push_back(c);
            }
            list.Add(FieldPage(id), FieldToken(id), std::move(value));
        } else {
            return false;
        }
    }
    return false;
}

}  // namespace

bool ParseCanonicalText(std::string_view text, CWBXMLLiterals& list) {
    if (text.size() < 2 || text[0] != kContainerMark || text[1] != '{') return false;
    CWBXMLLiterals parsed;
    size_t at = 2;
    if (!ParseCanonicalChildren(text, at, parsed, 1) || at != text.size()) return false;
    for (auto& node : parsed) {
        CWBXMLLiteral& copy = list.Add(node->codePage, node->token, node->value);
        copy.children = std::move(node->children);
    }
    return true;
}

CWBXMLLiterals TreeOf(const CFieldValues& fields) {
    CWBXMLLiterals tree;
    for (const auto& [field, text] : fields) {
        if (text.empty() || IsHashOnly(text)) continue;
        CWBXMLLiterals children;
        if (text[0] == kContainerMark && ParseCanonicalText(text, children)) {
            CWBXMLLiteral& box = tree.Add(FieldPage(field), FieldToken(field));
            box.children = std::make_unique<CWBXMLLiterals>(std::move(children));
        } else {
            tree.Add(FieldPage(field), FieldToken(field), text);
        }
    }
    return tree;
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
        result.deviceHolds = KeptValuesOf(device);
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
        result.deviceHolds = KeptValuesOf(device);
    } else {
        result.deviceHolds = input.store != nullptr ? KeptValuesOf(*input.store) : CFieldValues();
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
    return merge.sendBack || HashesOf(storeAfter) != HashesOf(merge.deviceHolds);
}
