// SyncItem: one contact, task or appointment of the handheld while a sync run
// handles it, read and written through its kind's field table.
//
// Field texts come in two forms: GetField gives the client's own form (dates as
// "ddmmyyyy hh:mm:ss"), which the snapshot files keep; the wire carries dates in the
// server's form (GetWireField). Text is UTF-8 throughout.
//
// In snapshots the body is not kept; a CRC-32 of it stands in its place (its decimal
// text), so that a change of the body is found even when its length stays the same.
//
// An item owns its PIM item (none for an item that no longer exists). One thread at
// a time.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "client/item_tables.h"
#include "common/wbxml/wbxml.h"
#include "platform/pocketoutlook/pocket_outlook.h"

// The fields of one received item: the children of its COLLECTION element, in order.
using FieldRecord = CWBXMLLiterals;

// Protocol tags of code page 0 that the client uses.
namespace vantro {
constexpr int kSync = 0x01, kCollection = 0x14, kFolder = 0x15, kServerID = 0x18, kClientID = 0x19,
              kName = 0x1A, kTyp = 0x1B, kAdd = 0x1D, kDelete = 0x1E, kModify = 0x1F, kLogon = 0x21,
              kDeviceID = 0x22, kUserName = 0x23, kPassword = 0x24, kIsDefault = 0x25,
              kResponse = 0x26, kElement = 0x27, kReset = 0x29, kAcknlowledge = 0x2A,
              kErrorCode = 0x2B, kAckString = 0x2C, kGetData = 0x36, kMatched = 0x3D;
}  // namespace vantro

// Change states of an item found by the change scan.
constexpr int kChangeNone = 0;
constexpr int kChangeAdded = 1;
constexpr int kChangeModified = 3;

// Capacity of a fresh snapshot document.
constexpr size_t kSnapshotDocumentCapacity = 16358;

class SyncItem {
public:
    SyncItem(const ItemKindTable& table, std::unique_ptr<PimItem> item)
        : table_(table), item_(std::move(item)) {}

    // The field's text in the client's form; empty for an unknown tag or without item.
    std::string GetField(int tag) const;
    // The same with dates in the server's form, as sent.
    std::string GetWireField(int tag) const;
    // Stores a received text in the field's property (dates in either form; integers
    // and flags read as decimal numbers, flags cut to 16 bits). Fields that are not
    // set on receive, unknown tags and unreadable dates are ignored. Nothing is saved.
    void SetField(int tag, std::string_view text);
    int FieldCount() const { return table_.fieldCount; }
    // The field's protocol name for contacts; the empty text for tasks and appointments.
    std::string FieldName(int tag) const;

    // Writes COLLECTION with every non-empty field of tags 0 to FieldCount-1 on the
    // kind's code page: for sending (dates in the server's form) or for a snapshot
    // (the client's form, the body's CRC-32 in place of the body). An appointment's
    // recurrence is in its snapshot as the text of tag 0; sent, it is the Recurrence
    // block after the fields (appointment_recurrence.h), or the block that makes it
    // single when its last snapshot (EqualsSnapshot) had it recurring.
    void WriteFields(CWBXML& writer, bool forSnapshot) const;
    // The fields of a Modify: every field of tags 0 to FieldCount-1 whose snapshot
    // value differs from the one in snapshotFields (SnapshotFields of the item's
    // record; a field missing there is empty), with its value as sent, or as an
    // empty element when it became empty. Fills sent with the fields written, in the
    // client's form ("" for a cleared one). Returns the number written. An
    // appointment's recurrence is never a field: a recurring appointment with any
    // change (of its series or of a field) carries its whole Recurrence block after
    // the fields, one that stopped recurring the block that makes it single. The
    // fields in alsoSent (when given) are written even when equal to the snapshot.
    int WriteChangedFields(CWBXML& writer, const std::map<int, std::string>& snapshotFields,
                           std::map<int, std::string>* sent,
                           const std::set<int>* alsoSent = nullptr) const;
    // Sets every entry of the record that is on the kind's code page and has no
    // nested list, and for an appointment its Recurrence block (ApplyRecurrenceRecord),
    // then saves the PIM item. True when the save succeeded.
    bool ApplyFields(const FieldRecord& record);
    // The same without saving (the item's changes stay in memory until Save). With
    // whole set, the record is the whole item: every field the desktop carries
    // (DesktopCarries) that the record does not hold is cleared, and an appointment
    // without a Recurrence block becomes single.
    void SetFields(const FieldRecord& record, bool whole = false);
    // Sets the field's property to its empty value (empty text, 0, false, no date).
    void ClearField(int tag);
    // Every field of the kind's table in the client's form, the body whole: equal
    // texts mean equal items as far as the sync can tell.
    std::string AllFieldsText() const;
    // True when the snapshot data (a WBXML document of one snapshot record) describes
    // the item as it is now. A record that does not begin with COLLECTION or holds a
    // field of another code page counts as changed; so does a field of the snapshot
    // whose text differs, or a field missing from the snapshot that is not empty now.
    bool EqualsSnapshot(std::string_view data) const;

    std::string ServerId() const { return std::string(); }
    int ChangeState() const { return changeState_; }
    void SetChangeState(int state) { changeState_ = state; }
    bool HasItem() const { return item_ != nullptr; }
    // Contacts: FileAs, Email1Address, FirstName, LastName, BusinessTelephoneNumber and
    // BusinessAddressCity joined; tasks and appointments: the subject.
    std::string MatchKey() const;
    void SetOid(long oid) { oid_ = oid; }
    // The identifier set, or else the PIM item's (0 for an unsaved item, -1 without one).
    long GetOid() const;

    const ItemKindTable& Table() const { return table_; }
    PimItem* Item() { return item_.get(); }

private:
    std::string Read(int tag, bool wire) const;
    std::string SnapshotValue(int tag) const;

    const ItemKindTable& table_;
    std::unique_ptr<PimItem> item_;
    int changeState_ = kChangeNone;
    long oid_ = -1;
    // The last snapshot compared (EqualsSnapshot) had the appointment recurring.
    mutable bool snapshotRecurring_ = false;
};

// The match key of a received item from its record (same fields as MatchKey).
std::string IncomingMatchKey(const ItemKindTable& table, const FieldRecord& record);
// The fields of a snapshot record (tag -> text) on the kind's code page; false,
// with what was read so far, when the record is not a COLLECTION of such fields.
bool SnapshotFields(const ItemKindTable& table, std::string_view record,
                    std::map<int, std::string>& fields);
