// XMLtoMessage: the element tree of one received item applied to a store item,
// which is then saved.
//
// Every node of the tree, in order:
//  - (6, 0x00 Recurrence) with children is applied to the item's series
//    (ReadRecurrence, on the pattern loaded from the item), (6, 0x02 Exceptions)
//    as its exceptions (ReadException); a failure there traces "Read Recurrence
//    crashed" and the other fields are still applied; a Recurrence block that
//    describes no occurrence is refused (the item keeps its series, refused says
//    why) and the other fields are still applied;
//  - every table row of the node's page and token (all of them) with a property
//    takes the node's value (value_format.h): the body through the body stream,
//    any other property set on the item; a stored subject is traced;
//  - a field with the empty value (a cleared field) removes the property of every
//    such row of the item's own kind (the page equal to the item kind of its
//    class); an empty field the kind does not have is passed over with the live
//    trace line "XMLtoMessage: empty field %s ignored, not a field of this kind".
//    A field the element does not carry keeps its value.
// Fields skipped with a live trace line, the others still applied and saved: a
// named row the store cannot map; a value that does not parse (a date in neither
// form, a number without digits). For an item stored as recurring whose element
// carries no Recurrence block (a device that shows only the first occurrence),
// Start, End and Duration are kept as stored ("recurring item edited on device,
// times kept").
//
// When something was stored: the item's name goes to the live trace; for class
// exactly "IPM.Contact" the file-as text is rebuilt from the stored surname and
// given name ("Surname, Given", or the given name alone) and stored as display
// name and subject, and as the file-as property when the element carried no
// non-empty FileAs of its own and the item's file-as was empty, was the one
// rebuilt from the names before, or was cleared by the element (a file-as of its
// own stays when a change names only other fields); an empty rebuilt text
// replaces nothing. Then the item is saved and kept open for reading and writing.
//
// An element that clears a property no item may be without (the message class,
// (7, 0x0E)) is refused whole: nothing is applied, nothing saved.
//
// Runs on the request thread that owns the item.
#pragma once

#include <string>

#include "common/wbxml/wbxml_literals.h"
#include "server/itemconv/time_zone.h"
#include "server/mapi/mapi_wrapper.h"

enum class ItemApplyResult {
    kSaved,          // fields were stored and the item saved
    kNothingStored,  // no node had a property row (or none could be stored); not saved
    kFailed,         // a store error or other failure; not saved
    kRefused,        // the element clears a required property; nothing applied
};

// True when fields clear a property an item cannot be without (an empty message
// class field, (7, 0x0E), at the top level).
bool ClearsRequiredField(const CWBXMLLiterals& fields);

// Applies fields to message as described above. A store error adds
// "%s XMLtoMessage in line %d" (error text, step: 1 nodes, 2 name, 3 file-as,
// 4 save), any other failure "Crash on XMLtoMessage in line %d\n", through the
// message box sink (error.log and live trace); the item is then not saved.
// zone null: the server's zone. refused (when given) is set to the reason a part
// of the item was refused ("Recurrence: interval 0"), or emptied.
ItemApplyResult XMLtoMessage(IMessagePtr& message, const CWBXMLLiterals& fields,
                             const CTimeZone* zone = nullptr, std::string* refused = nullptr);
