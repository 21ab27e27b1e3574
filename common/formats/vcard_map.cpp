// The vCard mapping table and the contact conversions it drives.
#include "common/formats/vcard_map.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "common/formats/civil_time.h"
#include "common/vcard/text_codec.h"

namespace pimfmt {

namespace {

using V = VCardValue;
constexpr const char* kHome = "home";
constexpr const char* kWork = "work";

}  // namespace

const VCardMapEntry kVCardMap[] = {
    {"FileAs", 0x2F, true, V::kText, "X-FILE-AS", nullptr, 0, "",
     "how the contact is filed; without it, \"Surname, Given\""},
    {"LastName", 0x1D, true, V::kComponent, "N", nullptr, 0, "", nullptr},
    {"FirstName", 0x1B, true, V::kComponent, "N", nullptr, 1, "", nullptr},
    {"MiddleName", 0x1C, true, V::kComponent, "N", nullptr, 2, "", nullptr},
    {"Title", 0x1A, true, V::kComponent, "N", nullptr, 3, "", "the name's title (prefix)"},
    {"Suffix", -1, true, V::kComponent, "N", nullptr, 4, "",
     "the desktop's element map has no property for the suffix"},
    {"CompanyName", 0x06, true, V::kComponent, "ORG", nullptr, 0, "", nullptr},
    {"Department", 0x05, true, V::kComponent, "ORG", nullptr, 1, "", nullptr},
    {"JobTitle", 0x0C, true, V::kText, "TITLE", nullptr, 0, "", nullptr},
    {"OfficeLocation", 0x09, true, V::kText, "X-OFFICE-LOCATION", nullptr, 0, "", nullptr},
    {"Birthday", 0x02, true, V::kDate, "BDAY", nullptr, 0, "", "a date without time"},
    {"Anniversary", 0x03, true, V::kDate, "ANNIVERSARY", "X-ANNIVERSARY", 0, "",
     "a date without time"},
    {"Email1Address", 0x07, true, V::kTyped, "EMAIL", nullptr, 0, "", nullptr},
    {"Email2Address", 0x0E, true, V::kTyped, "EMAIL", nullptr, 0, "", nullptr},
    {"Email3Address", 0x10, true, V::kTyped, "EMAIL", nullptr, 0, "", nullptr},
    {"BusinessTelephoneNumber", 0x0B, true, V::kTyped, "TEL", nullptr, 0, "work,voice", nullptr},
    {"Business2TelephoneNumber", 0x19, true, V::kTyped, "TEL", nullptr, 0, "work,voice", nullptr},
    {"HomeTelephoneNumber", 0x0D, true, V::kTyped, "TEL", nullptr, 0, "home,voice", nullptr},
    {"Home2TelephoneNumber", 0x11, true, V::kTyped, "TEL", nullptr, 0, "home,voice", nullptr},
    {"MobileTelephoneNumber", 0x08, true, V::kTyped, "TEL", nullptr, 0, "cell", nullptr},
    {"CarTelephoneNumber", 0x13, true, V::kTyped, "TEL", nullptr, 0, "car", nullptr},
    {"PagerNumber", 0x0A, true, V::kTyped, "TEL", nullptr, 0, "pager", nullptr},
    {"BusinessFaxNumber", 0x04, true, V::kTyped, "TEL", nullptr, 0, "work,fax", nullptr},
    {"HomeFaxNumber", 0x12, true, V::kTyped, "TEL", nullptr, 0, "home,fax", nullptr},
    {"AssistantTelephoneNumber", 0x15, true, V::kTyped, "TEL", nullptr, 0, "x-assistant", nullptr},
    {"CallbackTelephoneNumber", 0x31, true, V::kTyped, "TEL", nullptr, 0, "x-callback", nullptr},
    {"PrimaryTelephoneNumber", 0x32, true, V::kTyped, "TEL", nullptr, 0, "x-primary", nullptr},
    {"RadioTelephoneNumber", -1, true, V::kTyped, "TEL", nullptr, 0, "x-radio",
     "the desktop's element map has no property for it"},
    {"OtherTelephoneNumber", 0x33, true, V::kTyped, "TEL", nullptr, 0, "voice",
     "also takes numbers whose types find no free field"},
    {"HomeAddressStreet", 0x1F, true, V::kTypedPart, "ADR", nullptr, 2, kHome,
     "a post-office box and an extended address go before the street, one per line"},
    {"HomeAddressCity", 0x20, true, V::kTypedPart, "ADR", nullptr, 3, kHome, nullptr},
    {"HomeAddressState", 0x21, true, V::kTypedPart, "ADR", nullptr, 4, kHome, nullptr},
    {"HomeAddressPostalCode", 0x22, true, V::kTypedPart, "ADR", nullptr, 5, kHome, nullptr},
    {"HomeAddressCountry", 0x23, true, V::kTypedPart, "ADR", nullptr, 6, kHome, nullptr},
    {"BusinessAddressStreet", 0x29, true, V::kTypedPart, "ADR", nullptr, 2, kWork, nullptr},
    {"BusinessAddressCity", 0x2A, true, V::kTypedPart, "ADR", nullptr, 3, kWork, nullptr},
    {"BusinessAddressState", 0x2B, true, V::kTypedPart, "ADR", nullptr, 4, kWork, nullptr},
    {"BusinessAddressPostalCode", 0x2C, true, V::kTypedPart, "ADR", nullptr, 5, kWork, nullptr},
    {"BusinessAddressCountry", 0x2D, true, V::kTypedPart, "ADR", nullptr, 6, kWork, nullptr},
    {"OtherAddressStreet", 0x24, true, V::kTypedPart, "ADR", nullptr, 2, "",
     "an address that is neither home nor work (written without a type)"},
    {"OtherAddressCity", 0x25, true, V::kTypedPart, "ADR", nullptr, 3, "", nullptr},
    {"OtherAddressState", 0x26, true, V::kTypedPart, "ADR", nullptr, 4, "", nullptr},
    {"OtherAddressPostalCode", 0x27, true, V::kTypedPart, "ADR", nullptr, 5, "", nullptr},
    {"OtherAddressCountry", 0x28, true, V::kTypedPart, "ADR", nullptr, 6, "", nullptr},
    {"WebPage", 0x18, true, V::kText, "URL", nullptr, 0, "", "the first URL"},
    {"Categories", 0x17, true, V::kList, "CATEGORIES", nullptr, 0, "", nullptr},
    {"Children", 0x16, true, V::kList, "X-CHILDREN", nullptr, 0, "", nullptr},
    {"Spouse", 0x0F, true, V::kText, "X-SPOUSE", nullptr, 0, "", nullptr},
    {"AssistantName", 0x14, true, V::kText, "X-ASSISTANT", nullptr, 0, "", nullptr},
    {"YomiFirstName", -1, true, V::kText, "X-PHONETIC-FIRST-NAME", nullptr, 0, "",
     "the desktop's token 0x34 is the display-name prefix, not this"},
    {"YomiLastName", -1, true, V::kText, "X-PHONETIC-LAST-NAME", nullptr, 0, "",
     "handheld only: the desktop's element map has no property for it"},
    {"YomiCompanyName", -1, true, V::kText, "X-PHONETIC-ORG", nullptr, 0, "",
     "handheld only: the desktop's element map has no property for it"},
    {"Body", 0x30, true, V::kText, "NOTE", nullptr, 0, "", nullptr},
    {"DisplayNamePrefix", 0x34, false, V::kNone, nullptr, nullptr, 0, "",
     "desktop only; vCard has one name prefix, which carries Title (held by both stores)"},
};

std::size_t VCardMapSize() { return sizeof kVCardMap / sizeof kVCardMap[0]; }

const VCardNotCarried kVCardNotCarried[] = {
    {"PHOTO", "neither store holds a picture of a contact"},
    {"LOGO", "neither store holds a picture"},
    {"SOUND", "neither store holds sounds"},
    {"KEY", "neither store holds keys"},
    {"GEO", "no field holds a position"},
    {"TZ", "no field holds a contact's zone"},
    {"IMPP", "no field holds messaging addresses"},
    {"NICKNAME", "no field holds a nickname"},
    {"ROLE", "TITLE carries the job title; no field holds a role"},
    {"LABEL", "the address parts are carried, not a printed label"},
    {"AGENT", "no field holds another contact"},
    {"MEMBER", "neither store holds groups"},
    {"RELATED",
     "only spouse, child and assistant names are carried (X-SPOUSE, X-CHILDREN, "
     "X-ASSISTANT)"},
    {"GENDER", "no field holds it"},
    {"LANG", "no field holds it"},
    {"MAILER", "no field holds it"},
    {"SORT-STRING", "X-FILE-AS carries how the contact is filed"},
    {"CLASS", "contacts carry no sensitivity"},
    {"SOURCE", "no field holds it"},
    {"CALURI", "no field holds it"},
    {"FBURL", "no field holds it"},
    {"CALADRURI", "no field holds it"},
    {"XML", "no field holds it"},
    {"CLIENTPIDMAP", "no field holds it"},
};

std::size_t VCardNotCarriedSize() { return sizeof kVCardNotCarried / sizeof kVCardNotCarried[0]; }

namespace {

std::vector<std::string> SplitTypes(const char* types) {
    std::vector<std::string> out;
    std::string cur;
    for (const char* c = types; *c; ++c) {
        if (*c == ',') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(*c);
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// The TYPE values of a property, each split at commas (a quoted 4.0 list).
std::set<std::string> TypesOf(const vcard::VCardProperty& p) {
    std::set<std::string> types;
    for (const std::string& t : p.types) {
        std::string cur;
        for (char c : t + ",") {
            if (c == ',') {
                if (!cur.empty()) types.insert(cur);
                cur.clear();
            } else if (c != ' ') {
                cur.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
            }
        }
    }
    return types;
}

bool IsKindType(const std::string& t) {
    return t == "cell" || t == "fax" || t == "pager" || t == "car" || t == "x-assistant" ||
           t == "x-callback" || t == "x-primary" || t == "x-radio" || t == "video" ||
           t == "textphone" || t == "text" || t == "msg" || t == "modem" || t == "isdn" ||
           t == "bbs";
}

// True when the row's types all stand among the value's (voice implied for a
// telephone number of no other kind).
bool RowFits(const VCardMapEntry& row, const std::set<std::string>& types) {
    bool anyKind = false, anyLocation = false;
    for (const std::string& t : types) {
        if (IsKindType(t)) anyKind = true;
        if (t == kHome || t == kWork) anyLocation = true;
    }
    std::vector<std::string> need = SplitTypes(row.types);
    if (std::strcmp(row.property, "TEL") == 0 && need.size() == 1 && need[0] == "voice")
        return !anyKind && !anyLocation;  // the "other" number
    if (std::strcmp(row.property, "ADR") == 0 && need.empty())
        return !types.count(kHome) && !types.count(kWork);
    for (const std::string& n : need) {
        if (n == "voice" && !anyKind) continue;
        if (!types.count(n)) return false;
    }
    return true;
}

bool SameKind(const VCardMapEntry& row, const std::set<std::string>& types) {
    bool fax = types.count("fax") > 0;
    std::vector<std::string> need = SplitTypes(row.types);
    bool rowFax = std::find(need.begin(), need.end(), "fax") != need.end();
    bool rowVoice = need.empty() || std::find(need.begin(), need.end(), "voice") != need.end();
    return fax ? rowFax : rowVoice;
}

std::optional<CivilTime> ParseVCardDate(const std::string& raw) {
    std::string digits;
    for (char c : raw) {
        if (c == 'T' || c == 't') break;
        if (c >= '0' && c <= '9')
            digits.push_back(c);
        else if (c != '-')
            return std::nullopt;
    }
    if (raw.rfind("--", 0) == 0 || digits.size() != 8) return std::nullopt;
    return ParseBasic(digits);
}

std::string DateText(const CivilTime& t, int version) {
    char buf[16];
    std::snprintf(buf, sizeof buf, version >= 4 ? "%04d%02d%02d" : "%04d-%02d-%02d", t.year,
                  t.month, t.day);
    return buf;
}

// Rows of one property with the parts they take, grouped by their types.
struct TypedGroup {
    std::vector<const VCardMapEntry*> rows;  // the parts of one ADR, or one TEL/EMAIL
};

std::vector<TypedGroup> TypedGroups(const char* property) {
    std::vector<TypedGroup> groups;
    for (std::size_t i = 0; i < VCardMapSize(); ++i) {
        const VCardMapEntry& row = kVCardMap[i];
        if (row.property == nullptr || std::strcmp(row.property, property) != 0) continue;
        if (row.value == V::kTyped || (row.value == V::kTypedPart && row.component == 2))
            groups.push_back(TypedGroup{{&row}});
        else if (row.value == V::kTypedPart && !groups.empty())
            groups.back().rows.push_back(&row);
    }
    return groups;
}

bool GroupFree(const TypedGroup& g, const PimRecord& r) {
    for (const VCardMapEntry* row : g.rows)
        if (!r.Text(row->field).empty()) return false;
    return true;
}

void PlaceTyped(PimRecord& r, const std::vector<TypedGroup>& groups, const vcard::VCardProperty& p,
                const std::vector<std::string>& parts) {
    std::set<std::string> types = TypesOf(p);
    const TypedGroup* target = nullptr;
    for (const TypedGroup& g : groups)
        if (GroupFree(g, r) && RowFits(*g.rows[0], types)) {
            target = &g;
            break;
        }
    if (target == nullptr) {
        // Fallback: an "other" row, then any free row of the same kind.
        for (const TypedGroup& g : groups) {
            std::vector<std::string> need = SplitTypes(g.rows[0]->types);
            bool other = need.empty() || (need.size() == 1 && need[0] == "voice");
            if (GroupFree(g, r) && other && (p.name != "TEL" || !types.count("fax"))) {
                target = &g;
                break;
            }
        }
    }
    if (target == nullptr && p.name == "TEL") {
        for (const TypedGroup& g : groups)
            if (GroupFree(g, r) && SameKind(*g.rows[0], types)) {
                target = &g;
                break;
            }
    }
    if (target == nullptr) {
        r.Drop(p.name + " (no free field)");
        return;
    }
    for (const VCardMapEntry* row : target->rows) {
        if (row->value == V::kTyped) {
            r.SetText(row->field, parts.empty() ? "" : parts[0]);
        } else if (static_cast<std::size_t>(row->component) < parts.size()) {
            std::string value = parts[static_cast<std::size_t>(row->component)];
            if (row->component == 2) {
                // Post-office box and extended address go before the street.
                std::string lead;
                for (std::size_t k = 0; k < 2 && k < parts.size(); ++k)
                    if (!parts[k].empty()) lead += parts[k] + "\n";
                value = lead + value;
            }
            r.SetText(row->field, value);
        }
    }
}

const VCardMapEntry* RowOfProperty(const std::string& name, int component) {
    for (std::size_t i = 0; i < VCardMapSize(); ++i) {
        const VCardMapEntry& row = kVCardMap[i];
        if (row.property == nullptr) continue;
        bool named = name == row.property || (row.property3 && name == row.property3);
        if (named && (component < 0 || row.component == component)) return &row;
    }
    return nullptr;
}

bool IsQuietlyIgnored(const std::string& name) {
    return name == "PRODID" || name == "REV" || name == "KIND" || name == "X-ABLABEL" ||
           name == "FN" || name == "UID";
}

std::string TelValue(const vcard::VCardProperty& p) {
    std::string v = vcard::UnescapeText(p.value);
    if (p.valueType == "uri" && v.rfind("tel:", 0) == 0) v = v.substr(4);
    return v;
}

}  // namespace

PimRecord ContactFromVCard(const vcard::VCardEntry& entry) {
    PimRecord r;
    r.kind = RecordKind::kContact;
    std::string fn;
    bool haveN = false;
    std::vector<const vcard::VCardProperty*> typed;
    for (const vcard::VCardProperty& p : entry.properties) {
        const std::string& name = p.name;
        if (name == "FN") fn = vcard::UnescapeText(p.value);
        if (name == "UID") r.uid = vcard::UnescapeText(p.value);
        if (name == "TEL" || name == "EMAIL" || name == "ADR") {
            typed.push_back(&p);
            continue;
        }
        if (name == "N" || name == "ORG") {
            std::vector<std::string> parts = vcard::SplitEscaped(p.value, ';');
            for (std::size_t i = 0; i < VCardMapSize(); ++i) {
                const VCardMapEntry& row = kVCardMap[i];
                if (row.property == nullptr || name != row.property) continue;
                std::size_t c = static_cast<std::size_t>(row.component);
                if (c < parts.size() && r.Text(row.field).empty()) r.SetText(row.field, parts[c]);
            }
            if (name == "N") haveN = true;
            continue;
        }
        if (name == "URL" && !r.Text("WebPage").empty()) {
            r.Drop("URL (no free field)");
            continue;
        }
        if (name == "RELATED") {
            std::set<std::string> types = TypesOf(p);
            std::string value = vcard::UnescapeText(p.value);
            if (types.count("spouse") && r.Text("Spouse").empty()) {
                r.SetText("Spouse", value);
            } else if (types.count("child")) {
                r.children.push_back(value);
            } else if (types.count("agent") && r.Text("AssistantName").empty()) {
                r.SetText("AssistantName", value);
            } else {
                r.Drop("RELATED");
            }
            continue;
        }
        const VCardMapEntry* row = RowOfProperty(name, -1);
        if (row == nullptr) {
            if (!IsQuietlyIgnored(name)) r.Drop(name);
            continue;
        }
        switch (row->value) {
            case V::kText:
                if (r.Text(row->field).empty()) r.SetText(row->field, vcard::UnescapeText(p.value));
                break;
            case V::kDate: {
                std::optional<CivilTime> d = ParseVCardDate(p.value);
                if (d) {
                    RecordTime t;
                    t.time = *d;
                    t.form = TimeForm::kDate;
                    r.times[row->field] = t;
                } else {
                    r.Drop(name + " (a date without a year or in no known form)");
                }
                break;
            }
            case V::kList: {
                std::vector<std::string> values = vcard::SplitEscaped(p.value, ',');
                std::vector<std::string>& target =
                    std::strcmp(row->field, "Children") == 0 ? r.children : r.categories;
                for (std::string& v : values)
                    if (!v.empty()) target.push_back(v);
                break;
            }
            default:
                break;
        }
    }
    // Preferred typed values first, then in the file's order.
    std::stable_sort(typed.begin(), typed.end(),
                     [](const vcard::VCardProperty* a, const vcard::VCardProperty* b) {
                         int pa = a->pref == 0 ? 1000 : a->pref, pb = b->pref == 0 ? 1000 : b->pref;
                         return pa < pb;
                     });
    static const std::vector<TypedGroup> kTel = TypedGroups("TEL");
    static const std::vector<TypedGroup> kEmail = TypedGroups("EMAIL");
    static const std::vector<TypedGroup> kAdr = TypedGroups("ADR");
    for (const vcard::VCardProperty* p : typed) {
        if (p->name == "TEL") {
            std::string v = TelValue(*p);
            if (!v.empty()) PlaceTyped(r, kTel, *p, {v});
        } else if (p->name == "EMAIL") {
            std::string v = vcard::UnescapeText(p->value);
            if (!v.empty()) PlaceTyped(r, kEmail, *p, {v});
        } else {
            std::vector<std::string> parts = vcard::SplitEscaped(p->value, ';');
            bool any = false;
            for (const std::string& s : parts) any = any || !s.empty();
            if (any) PlaceTyped(r, kAdr, *p, parts);
        }
    }
    if (!haveN && !fn.empty() && r.Text("CompanyName") != fn) {
        std::size_t blank = fn.rfind(' ');
        if (blank == std::string::npos) {
            r.SetText("LastName", fn);
        } else {
            r.SetText("FirstName", fn.substr(0, blank));
            r.SetText("LastName", fn.substr(blank + 1));
        }
    }
    if (r.Text("FileAs").empty()) {
        std::string last = r.Text("LastName"), first = r.Text("FirstName");
        std::string fileAs = last.empty() ? first : first.empty() ? last : last + ", " + first;
        if (fileAs.empty()) fileAs = fn.empty() ? r.Text("CompanyName") : fn;
        r.SetText("FileAs", fileAs);
    }
    return r;
}

namespace {

void Put(std::string& out, const std::string& name, const std::vector<vcard::ContentParam>& params,
         const std::string& value) {
    vcard::ContentLine line;
    line.name = name;
    line.params = params;
    line.value = value;
    out += vcard::FormatContentLine(line);
}

std::string FormattedName(const PimRecord& r) {
    std::string fn;
    for (const char* f : {"Title", "FirstName", "MiddleName", "LastName", "Suffix"}) {
        std::string v = r.Text(f);
        if (v.empty()) continue;
        if (!fn.empty()) fn += " ";
        fn += v;
    }
    if (fn.empty()) fn = r.Text("CompanyName");
    if (fn.empty()) fn = r.Text("FileAs");
    if (fn.empty()) fn = r.Text("Email1Address");
    return fn;
}

}  // namespace

std::string WriteVCard(const PimRecord& r, int version) {
    const bool v4 = version >= 4;
    std::string out = "BEGIN:VCARD\r\n";
    out += v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n";
    Put(out, "FN", {}, vcard::EscapeText(FormattedName(r)));
    std::set<std::string> written;
    for (std::size_t i = 0; i < VCardMapSize(); ++i) {
        const VCardMapEntry& row = kVCardMap[i];
        if (row.property == nullptr) continue;
        const std::string name = !v4 && row.property3 ? row.property3 : row.property;
        switch (row.value) {
            case V::kText: {
                std::string v = r.Text(row.field);
                if (!v.empty()) Put(out, name, {}, vcard::EscapeText(v));
                break;
            }
            case V::kComponent: {
                if (written.count(name)) break;
                written.insert(name);
                std::vector<std::string> parts(name == "N" ? 5 : 2);
                bool any = false;
                for (std::size_t k = 0; k < VCardMapSize(); ++k) {
                    const VCardMapEntry& part = kVCardMap[k];
                    if (part.property == nullptr || name != part.property) continue;
                    parts[static_cast<std::size_t>(part.component)] = r.Text(part.field);
                    any = any || !r.Text(part.field).empty();
                }
                if (name == "ORG" && parts[1].empty()) parts.pop_back();
                if (any || name == "N") Put(out, name, {}, vcard::JoinEscaped(parts, ';'));
                break;
            }
            case V::kDate: {
                auto it = r.times.find(row.field);
                if (it != r.times.end() && it->second.IsSet())
                    Put(out, name, {}, DateText(it->second.time, version));
                break;
            }
            case V::kList: {
                const std::vector<std::string>& values =
                    std::strcmp(row.field, "Children") == 0 ? r.children : r.categories;
                if (!values.empty()) Put(out, name, {}, vcard::JoinEscaped(values, ','));
                break;
            }
            case V::kTyped: {
                std::string v = r.Text(row.field);
                if (v.empty()) break;
                std::vector<std::string> types = SplitTypes(row.types);
                if (name == "EMAIL" && !v4) types.insert(types.begin(), "internet");
                std::vector<vcard::ContentParam> params;
                if (!types.empty()) params.push_back({"TYPE", types});
                Put(out, name, params, vcard::EscapeText(v));
                break;
            }
            case V::kTypedPart: {
                if (row.component != 2) break;
                std::vector<std::string> parts(7);
                bool any = false;
                for (std::size_t k = i; k < VCardMapSize() && k < i + 5; ++k) {
                    const VCardMapEntry& part = kVCardMap[k];
                    parts[static_cast<std::size_t>(part.component)] = r.Text(part.field);
                    any = any || !r.Text(part.field).empty();
                }
                if (!any) break;
                std::vector<vcard::ContentParam> params;
                std::vector<std::string> types = SplitTypes(row.types);
                if (!types.empty()) params.push_back({"TYPE", types});
                Put(out, name, params, vcard::JoinEscaped(parts, ';'));
                break;
            }
            default:
                break;
        }
    }
    if (!r.uid.empty()) Put(out, "UID", {}, vcard::EscapeText(r.uid));
    out += "END:VCARD\r\n";
    return out;
}

}  // namespace pimfmt
