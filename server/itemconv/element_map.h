// The element mapping table: which field element of an item carries which store
// property, kind by kind, in the order the fields are written. Also the item kind
// of a message class and the resolution of a row to a property tag of one store.
//
// The table is constant data built at compile time; every function here may be
// called from any thread (ResolveElementTag uses the caller's store object).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/mapi/mapi.h"

class CGenMapiPropPtr;

// ItemKind: the kind of an item, equal to the code page of its fields. 0: none.
enum ItemKind : int32_t {
    kItemNone = 0,
    kItemContact = 1,
    kItemAppointment = 2,
    kItemTask = 3,
    kItemEmail = 7,
};

// SpecialHandling of a row.
enum : uint16_t {
    kSpecialNone = 0,
    kSpecialAttachments = 8,
    kSpecialRecurrence = 11,
    kSpecialRecipients = 12,
};

// One row of the table.
struct ElementMapEntry {
    int32_t kind;                // ItemKind; -1 ends the table
    int32_t token;               // the field's tag token on the kind's code page
    ULONG propTag;               // a fixed property tag; 0 for a named property or no property
    const char* propertySet;     // GUID text of a named property, or null
    uint16_t numericName;        // the named property's numeric id (without a string name)
    const char16_t* stringName;  // the named property's string name, or null
    uint16_t propType;           // the named property's type
    uint16_t specialHandling;    // kSpecial...
};

// The table, ending with a row of kind -1.
extern const ElementMapEntry kElementMap[];
// Number of rows before the end row.
size_t ElementMapSize();

// Property-set texts of the named rows.
inline constexpr const char* kAddressSetText = "00062004-0000-0000-C000-000000000046";
inline constexpr const char* kAppointmentSetText = "00062002-0000-0000-C000-000000000046";
inline constexpr const char* kTaskSetText = "00062003-0000-0000-C000-000000000046";
inline constexpr const char* kCommonSetText = "00062008-0000-0000-C000-000000000046";
inline constexpr const char* kPublicStringsSetText = "00020329-0000-0000-C000-000000000046";
// The contact's file-as property: address set, 0x8005, string.
inline constexpr uint16_t kLidFileAs = 0x8005;
// Field tokens the reader and the matching look at.
inline constexpr int32_t kTokenContactFileAs = 0x2F;
inline constexpr int32_t kTokenTaskSubject = 0x01;
inline constexpr int32_t kTokenAppointmentSubject = 0x01;
inline constexpr int32_t kTokenMessageClass = 0x0E;  // (7, 0x0E) PR_MESSAGE_CLASS

// The kind of an item of this message class: "IPM.Contact..." contact,
// "IPM.Appointment..." appointment, "IPM.Task..." task, "IPM.Note..." or
// "IPM.Post..." e-mail (prefixes compared exactly); kItemNone for any other.
ItemKind ItemKindOfClass(std::string_view messageClass);

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (hexadecimal digits in any case,
// optionally in braces). False, and out untouched, for any other text.
bool ParseGuidText(std::string_view text, GUID& out);

// True when the row carries a property (a fixed tag or a named one).
bool HasProperty(const ElementMapEntry& row);

// The property tag of row in the store of item: the fixed tag as it stands, the
// named property mapped through GetIDFromName with MAPI_CREATE (the string name
// when there is one, else the numeric id) combined with the row's type, or 0 for a
// row without a property. Raises CMAPIException when the store cannot map the name
// (MAPI_E_INVALID_PARAMETER for a property-set text that does not parse).
ULONG ResolveElementTag(CGenMapiPropPtr& item, const ElementMapEntry& row);

// A readable name of a row for trace lines ("1/0x2F").
std::string ElementRowName(const ElementMapEntry& row);
