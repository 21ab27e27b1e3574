// The vCard mapping table: which vCard property (and which part, which types)
// carries which contact field, the desktop's field token (code page 1 of the
// element map) and whether the handheld holds it; fields no vCard property
// carries are listed with the reason. ContactFromVCard and WriteVCard are driven
// by it.
//
// Reading (2.1, 3.0, 4.0): typed values (TEL, EMAIL, ADR) fill the first free row
// of their types in table order, preferred values (PREF) first; a value that finds
// no free row of its own types takes a free row of the fallback kinds ("other"),
// else it is dropped and reported. Text without N takes its names from FN (the
// last word the surname); FileAs is X-FILE-AS, else "Surname, Given" as the
// stores build it, else FN or ORG.
// Writing: 4.0, or 3.0; properties in table order, empty fields left out; FN is
// built from the names (else the company, else the first e-mail address).
//
// Pure functions; the table is constant.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "common/formats/pim_record.h"
#include "common/vcard/vcard_reader.h"

namespace pimfmt {

enum class VCardValue {
    kText,       // the whole value, unescaped
    kComponent,  // one part of a structured value (N, ORG, ADR)
    kTyped,      // a typed value (TEL, EMAIL): rows of one property share it by types
    kTypedPart,  // one part of a typed structured value (ADR)
    kDate,       // BDAY, ANNIVERSARY
    kList,       // a comma list (CATEGORIES, children)
    kNone,       // not carried: see note
};

struct VCardMapEntry {
    const char* field;   // the contact field (PIM property name), or a desktop-only name
    std::int32_t token;  // the desktop's field token on code page 1; -1: the desktop lacks it
    bool handheld;       // the handheld holds the field
    VCardValue value;
    const char* property;   // vCard property; null when not carried
    const char* property3;  // the property written in 3.0 when it differs (else null)
    int component;          // part of a structured value
    const char* types;      // TYPE values the row is for, comma-separated, lower case
    const char* note;       // why a field is not carried, or how it is carried
};

extern const VCardMapEntry kVCardMap[];
std::size_t VCardMapSize();
// vCard properties read but carried by no field (their values are reported as
// dropped): the reason for each.
struct VCardNotCarried {
    const char* property;
    const char* reason;
};
extern const VCardNotCarried kVCardNotCarried[];
std::size_t VCardNotCarriedSize();

// The contact of one vCard entry. Never fails: what cannot be held is reported in
// record.dropped.
PimRecord ContactFromVCard(const vcard::VCardEntry& entry);
// The entry's text, CRLF line ends, folded at 75 bytes; version 4 or 3.
std::string WriteVCard(const PimRecord& contact, int version);

}  // namespace pimfmt
