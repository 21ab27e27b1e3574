// The map of one device and one folder that makes every request safe to send again:
// for every item the device and the desktop exchanged, its server key, the device's
// ClientID when the device named one, and the item's fields as the device holds
// them (as far as the server knows), so that a repeated Add finds its item, a
// Modify or Delete names an item whose Add was never answered, and a change made on
// both sides can be merged field by field.
//
// Where it lives, in the device's sub-folder of the data folder:
//   <key>.map        the index (format below), replaced atomically (write, flush,
//                    rename) at the end of a request that changed it.
//   <key>.map-dirty  the marker, written and flushed before the first store write of
//                    a request that may change the map, removed once the index is
//                    written. While it exists the index is not known to be current.
// The authoritative record of a ClientID is a property on the item itself, written
// in the item's own save (server/store/client_id_property.h); its value is
// PropertyValue(clientId), "<epoch>/<ClientID>". A load that finds the marker
// therefore rebuilds the ClientIDs with one pass over the folder (Rebuild); a
// normal load reads the index alone. The epoch ties the properties to this index:
// a device reset removes the files, the next index has a new epoch, and properties
// left on the items from before count for nothing.
//
// Fields, by field (code page and token); a field without value is absent. A
// record keeps two sets: what the device holds of the item (its side of the last
// exchange, as the wire texts, so that a change of the device shows as a field that
// differs from it and an item the desktop deleted can be made again from it), and
// what the store held then, as hashes of the wire texts (FieldTextHash), so that a
// change made on the desktop since shows the same way. They differ where the server
// added to what the device sent (a file-as it derived, a field the desktop won)
// until an answer carries the item to the device. A text longer than
// kMaxKeptFieldText is kept as its hash alone (KeptFieldText). The fields an answer
// sends wait as pending, tagged with the answer's generation, until the device
// acknowledges that answer (ConfirmUpTo: both sets become the pending one); the
// fields a device sends count at once, since the device holds them already.
//
// Index format (text, single line feeds):
//   [ClientMap]
//   Version=1
//   Epoch=<16 upper-case hexadecimal digits>
//   one line per item, seven fields separated by tabs:
//   <server key> <ClientID> <flags> <device fields> <store fields>
//   <pending generation> <pending fields>
// where the ClientID is percent-escaped (every byte other than 0-9 A-Z a-z and
// "@.-_" as %XX) and empty for none; flags are letters: "m" paired by name on a
// first sync, "f" fields known; the device and pending fields are empty or
// comma-separated "<page><token>=<text>" (two and two upper-case hexadecimal
// digits, the text with "%", ",", tab, line ends and the other control bytes as
// %XX); the store fields are empty or comma-separated "<page><token>:<hash>" (two,
// two and sixteen upper-case hexadecimal digits); the pending generation is a
// decimal number, 0 for none. Pending fields holding kDeleteSentField ("FF3F=D") are
// a Delete that answer sent (beside it, the fields an earlier unacknowledged answer
// sent, which the device may hold): the record stays (an item changed on the device
// meanwhile is made again from it) until the device acknowledges that answer.
// Pending fields holding kReplacedByField ("FF3E=<server key>") name the item made
// again under that key for the device's change of this one (the desktop had deleted
// it): the device's later changes of this key, sent before it learnt the new one,
// reach that item. The record stays until an answer's Delete of it is acknowledged.
//
// Reading: a load checks the whole index but reads an item's field sets only at
// their first use (a GetData of a large folder touches the pending fields of every
// record and the device's fields of none); a set never read is written back as the
// index held it.
//
// Thread use: one object per device folder and request, used by that request's
// thread (also its const lookups, which read field sets); the files belong to the
// one device synchronising at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/syncstate/sorted_vector_map.h"

// A field of an item on the wire: code page << 8 | tag token.
using CFieldId = std::uint16_t;
inline constexpr CFieldId MakeFieldId(std::int32_t page, std::int32_t token) {
    return static_cast<CFieldId>(((page & 0xFF) << 8) | (token & 0x3F));
}
inline constexpr std::int32_t FieldPage(CFieldId id) { return id >> 8; }
inline constexpr std::int32_t FieldToken(CFieldId id) { return id & 0x3F; }

// The hash of a field's wire text: FNV-1a over its bytes, 64 bits.
std::uint64_t FieldTextHash(std::string_view text);

// Both kept as one sorted vector per item (sorted_vector_map.h): a record holds
// three of them, and the map holds thousands of records.
using CFieldHashes = CSortedVectorMap<CFieldId, std::uint64_t>;
// An item's fields: field -> wire text (a container, such as a recurrence, as the
// canonical text of its subtree, server/vantro/field_merge.h).
using CFieldValues = CSortedVectorMap<CFieldId, std::string>;
// The pending field of a record whose Delete an answer sent (no field has it: code
// pages and tokens of the wire are smaller).
inline constexpr CFieldId kDeleteSentField = MakeFieldId(0xFF, 0xFF);
// The pending field of a record whose item was made again under another key (the
// field's text) for a change the device sent.
inline constexpr CFieldId kReplacedByField = MakeFieldId(0xFF, 0x3E);

// Texts longer than this are kept in the map as their hash alone.
inline constexpr size_t kMaxKeptFieldText = 16 * 1024;
// The text the map keeps for a field: the text itself, or for a longer one the byte
// 02 followed by the sixteen hexadecimal digits of its hash.
std::string KeptFieldText(std::string_view text);
// True when kept stands for a longer text by its hash alone.
bool IsHashOnly(std::string_view kept);
// The hash of a kept text (FieldTextHash of the text, or the hash a longer one was
// kept as).
std::uint64_t KeptFieldHash(std::string_view kept);
// The hashes of fields (empty texts left out).
CFieldHashes KeptFieldHashes(const CFieldValues& fields);

// A ClientID longer than this counts as none.
inline constexpr size_t kMaxClientIdLength = 64;

// True for a ClientID the map can keep: 1 to kMaxClientIdLength bytes.
bool IsUsableClientId(std::string_view clientId);

// The handheld store identity a ClientID belongs to: the text after its last "@";
// empty for a ClientID without "@" (older handhelds).
std::string_view ClientIdStoreIdentity(std::string_view clientId);

struct CClientMapRecord {
    std::string serverKey;
    std::string clientId;                 // empty: the device never named the item
    bool matched = false;                 // paired with a desktop item by name on a first sync
    bool hasFields = false;               // fields and stored below are known
    CFieldValues fields;                  // what the device holds, as last exchanged (kept texts)
    CFieldHashes stored;                  // what the store held at that exchange
    std::uint64_t pendingGeneration = 0;  // 0: nothing pending
    CFieldValues pending;                 // the fields the answer of pendingGeneration sent

    // True when an unacknowledged answer sent fields of the item (the marks of a
    // Delete and of a replacement are no fields).
    bool PendingHoldsFields() const {
        return pendingGeneration != 0 &&
               pending.size() > pending.count(kDeleteSentField) + pending.count(kReplacedByField);
    }
    // The key of the item made again for the device's change of this one; empty for none.
    std::string ReplacedBy() const {
        auto found = pending.find(kReplacedByField);
        return found == pending.end() ? std::string() : found->second;
    }
};

class CClientMap {
public:
    enum class LoadResult {
        kNone,      // no index: an empty map with a new epoch
        kLoaded,    // the index was read and is current
        kRebuild,   // the marker is there: the index was read as far as it goes and
                    // the ClientIDs must be rebuilt from the items (Rebuild)
        kSetAside,  // the index could not be read: renamed to <key>.map.bad,
                    // reported through the message box sink (error.log); an empty
                    // map with a new epoch, and the folder counts as on its first sync
    };

    CClientMap(std::string dataFolder, std::string deviceId, std::string folderKey);

    LoadResult Load();

    // Takes the ClientIDs from the items: properties holds (server key, property
    // value) for every item of the folder that has the property. An item whose
    // value is of this epoch gets that ClientID (taking it from any other record);
    // records whose item is not among allKeys are dropped; everything else stays.
    // The map counts as changed.
    void Rebuild(const std::vector<std::pair<std::string, std::string>>& properties,
                 const std::vector<std::string>& allKeys);

    // The value of the item property for clientId: "<epoch>/<ClientID>".
    std::string PropertyValue(const std::string& clientId) const;
    // The ClientID a property value names when it is of this epoch; none otherwise.
    std::optional<std::string> ClientIdOfProperty(std::string_view value) const;

    const CClientMapRecord* FindByServerKey(const std::string& serverKey) const;
    const CClientMapRecord* FindByClientId(const std::string& clientId) const;
    // The record of serverKey, created when missing; the map counts as changed.
    CClientMapRecord& Record(const std::string& serverKey);
    // Gives the record of serverKey (created when missing) the fields an answer of
    // generation sends, replacing its pending ones; the device's and the store's
    // fields stay as they are (and unread). The map counts as changed.
    void SetPending(const std::string& serverKey, std::uint64_t generation, CFieldValues pending);
    // Gives clientId to the record of serverKey (created when missing); a record
    // that held it before loses it. An empty clientId changes nothing.
    void MapClientId(const std::string& serverKey, const std::string& clientId);
    // Drops the record of serverKey (nothing when there is none).
    void Remove(const std::string& serverKey);
    // The item made again (followed over a few replacements) for a change of
    // serverKey the device sent earlier; empty when there is none.
    std::string ReplacementOf(const std::string& serverKey) const;
    // True when serverKey's record holds a ClientID of that store identity.
    bool MappedToIdentity(const std::string& serverKey, std::string_view identity) const;
    // Every record whose pending generation is 1..generation takes its pending
    // fields as the device's and the store's fields; one pending kDeleteSentField
    // (an answer sent the device a Delete of it) is dropped.
    void ConfirmUpTo(std::uint64_t generation);

    // Writes the marker once per object (flushed). False, with error set, when it
    // cannot be written: the caller must not write to the store then.
    bool MarkDirty(std::string& error);
    // Writes the index when the map changed or a marker was written or found, then
    // removes the marker. False, with error set, when the index cannot be written
    // (the marker then stays, so the next load rebuilds).
    bool Save(std::string& error);

    bool Changed() const { return changed_; }
    const std::string& Epoch() const { return epoch_; }
    size_t Size() const { return records_.size(); }

    // The index text of the map and its parser (pure; for the files and tests).
    // Parse replaces the map's records and epoch; false when text is not an index.
    std::string Serialize() const;
    bool Parse(std::string_view text);

    std::string IndexPath() const;
    std::string MarkerPath() const;

private:
    // A record and the texts of its field sets in text_ (the index loaded or last
    // written, checked by the load): until they are read, the sets are only there;
    // while they are current, the texts are the sets as they are, and the next save
    // copies them instead of writing the sets out again.
    struct Slot {
        CClientMapRecord record;
        std::string_view fieldsText;   // record.fields, while fieldsCurrent
        std::string_view storedText;   // record.stored, while fieldsCurrent
        std::string_view pendingText;  // record.pending, while pendingCurrent
        bool fieldsRead = true;        // record.fields and stored hold the sets
        bool pendingRead = true;       // record.pending holds the set
        bool fieldsCurrent = false;    // always while !fieldsRead
        bool pendingCurrent = false;   // always while !pendingRead
    };
    // Where the three sets of one row lie in a written index.
    struct RowSets {
        size_t fields = 0, fieldsLength = 0;
        size_t stored = 0, storedLength = 0;
        size_t pending = 0, pendingLength = 0;
    };

    void NewEpoch();
    void IndexClientId(const CClientMapRecord& record);
    // Reads the field sets of slot still unread; its record is then whole.
    static CClientMapRecord& ReadSets(Slot& slot);
    // ReadSets for a caller that may change the sets: their texts are no longer current.
    static CClientMapRecord& ChangeSets(Slot& slot);
    bool ParseOwned(std::shared_ptr<const std::string> text);
    // The index text into out; rows (when given) gets where each record's sets lie.
    void SerializeTo(std::string& out, std::vector<RowSets>* rows) const;

    std::string dataFolder_;
    std::string deviceId_;
    std::string folderKey_;
    std::string epoch_;
    // By server key; mutable so that a lookup can read a record's field sets.
    mutable std::map<std::string, Slot> records_;
    std::shared_ptr<const std::string> text_;        // the index loaded or last written
    std::map<std::string, std::string> byClientId_;  // ClientID -> server key
    bool changed_ = false;
    bool marked_ = false;     // this object wrote the marker
    bool markFound_ = false;  // the marker was there when loaded
};
