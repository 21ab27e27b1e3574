// Changes as fields: an item's fields as the wire carries them, and the merge of a
// device's change with the item as the store holds it.
//
// The rule, for an item the device changed: a field the device changed (its value
// differs from what the device held at the last exchange) and the desktop did not
// (the store's value is the one of that exchange) takes the device's value; a
// field both changed, to different values, keeps the desktop's (the desktop wins,
// for every kind) and is reported as a conflict; a field only the desktop changed
// keeps the desktop's. Twins paired by name on a first sync have no common past:
// a field set on one side only comes from that side, a field set on both to
// different values keeps the desktop's. Without a record of the last exchange the
// device's fields are taken as they come, unless the desktop changed the item
// since the device's baseline: then the twins' rule holds.
//
// Pure functions over values; any thread.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/wbxml/wbxml_literals.h"
#include "server/syncstate/client_map.h"

// An item's fields (CFieldValues, client_map.h): a container (recurrence,
// attachments, recipients) is one field whose text is the canonical text of its
// subtree. In a device's change, a cleared field is present with the empty text; in
// the store's item, fields without value are absent.

// The fields of an element tree (the children of COLLECTION). A field named twice
// keeps its last value.
CFieldValues FieldValuesOf(const CWBXMLLiterals& tree);
// The fields of one item element as WBXML bytes without the document header, from
// its COLLECTION start tag on page 0 (as MessageToXML writes it, the writer on page
// 0); empty when the bytes do not begin so.
CFieldValues ItemElementFields(std::string_view element);
// The same, always through the element tree (ItemElementFields takes one pass over
// the events for an element of plain fields, and gives the same fields).
CFieldValues ItemElementFieldsByTree(std::string_view element);
// The hashes of the fields with a value (cleared ones are absent; texts the map
// keeps by their hash count as that hash). Fields the store maintains itself (an
// e-mail's modification time and flags) are left out: they change with every save
// and read state, not with an edit.
CFieldHashes HashesOf(const CFieldValues& values);
// The fields as the ClientID map keeps them: those with a value, other than the
// ones the store maintains, each as KeptFieldText.
CFieldValues KeptValuesOf(const CFieldValues& values);
CFieldValues KeptValuesOf(CFieldValues&& values);
// The canonical text of a node's subtree, for a container field: the byte 01, then
// "{", each child as its page and token (four hexadecimal digits) followed by "="
// text ";" or by its own subtree (without the 01), "}"; "\", ";", "{" and "}" in
// texts escaped with "\".
std::string CanonicalText(const CWBXMLLiteral& node);
// The children of a container from its canonical text; false for a text that is
// none (list then unchanged).
bool ParseCanonicalText(std::string_view text, CWBXMLLiterals& list);
// The element tree of fields (a container's text read back into its subtree);
// fields without text and texts kept by their hash alone are left out.
CWBXMLLiterals TreeOf(const CFieldValues& fields);

enum class MergeBase {
    kNew,      // a new item: the device's fields are taken as they are
    kKnown,    // the record of the last exchange is known (fields, stored)
    kUnknown,  // an existing item without a record of the last exchange
    kTwins,    // paired by name on a first sync: no common past
};

struct CMergeInput {
    MergeBase base = MergeBase::kNew;
    const CFieldValues* deviceHeld = nullptr;  // kKnown: what the device held (kept texts)
    const CFieldHashes* storeHeld = nullptr;   // kKnown: what the store held then
    const CFieldValues* store = nullptr;       // the item as the store holds it now
    // kUnknown: the desktop changed the item since the device's baseline.
    bool desktopChanged = false;
    // An Add carries every field the device holds: a field it leaves out is empty
    // on the device (otherwise an absent field is one the device did not change).
    bool wholeItem = false;
};

struct CFieldConflict {
    CFieldId field = 0;
    std::string handheld;  // the device's value, which loses
    std::string desktop;   // the store's value, which stays
};

struct CMergeResult {
    // The fields to write from the device's change (a cleared one as an empty
    // field); every other field of the store's item stays as it is.
    std::set<CFieldId> apply;
    std::vector<CFieldConflict> conflicts;
    // What the device holds after its own change (kept texts).
    CFieldValues deviceHolds;
    // The device's side is not known as a whole: the item goes back to it.
    bool sendBack = false;
};

CMergeResult MergeDeviceChange(const CFieldValues& device, const CMergeInput& input);

// The nodes of tree whose field is in merge.apply (subtrees copied), in tree
// order, followed by an empty field for each field in apply the tree lacks (a
// field an Add left out, cleared on the device). A field named twice in tree
// contributes its last node only.
CWBXMLLiterals FieldsToApply(const CWBXMLLiterals& tree, const CMergeResult& merge);

// True when the store's fields after the change differ from what the device holds
// (fields the store maintains left out), or the merge asked to send it back.
bool DiffersFromDevice(const CFieldValues& storeAfter, const CMergeResult& merge);
