// One item of the device's changes: an Add or Modify found by its ServerID, by its
// ClientID or (twins of a first sync) by its name, merged with the stored item
// field by field, saved with its ClientID, and recorded in the ClientID map.
#include <ctime>
#include <exception>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/devices/pocket_device.h"
#include "server/devices/sync_log.h"
#include "server/itemconv/element_map.h"
#include "server/itemconv/item_reader.h"
#include "server/mapi/mapi_exception.h"
#include "server/store/mapi_folder.h"
#include "server/store/offered_folders.h"
#include "server/vantro/test_crash_point.h"
#include "server/vantro/vantro_request.h"
#include "server/vantro/vantro_tags.h"

using namespace vantro;

namespace {

void CopyTree(const CWBXMLLiterals& from, CWBXMLLiterals& into) {
    for (const auto& node : from) {
        CWBXMLLiteral& copy = into.Add(node->codePage, node->token, node->value);
        if (node->children) {
            copy.children = std::make_unique<CWBXMLLiterals>();
            CopyTree(*node->children, *copy.children);
        }
    }
}

// The fields of a device's Modify without those equal to what an answer the device
// never acknowledged sent: a handheld ended while applying that answer holds them
// as the desktop sent them, which is no change of its own.
CWBXMLLiterals WithoutPendingFields(const CWBXMLLiterals& fields, const CClientMapRecord& record) {
    const CFieldValues device = KeptValuesOf(FieldValuesOf(fields));
    auto valueIn = [](const CFieldValues& values, CFieldId id) {
        auto it = values.find(id);
        return it == values.end() ? std::string() : it->second;
    };
    CWBXMLLiterals kept;
    for (const auto& node : fields) {
        const CFieldId id = MakeFieldId(node->codePage, node->token);
        if (valueIn(device, id) == valueIn(record.pending, id)) continue;
        CWBXMLLiteral& copy = kept.Add(node->codePage, node->token, node->value);
        if (node->children) {
            copy.children = std::make_unique<CWBXMLLiterals>();
            CopyTree(*node->children, *copy.children);
        }
    }
    return kept;
}

// True when the record holds the fields an unacknowledged answer sent and no
// exchange before it (a Delete's mark alone sends no fields).
bool SentOnlyByUnansweredAnswer(const CClientMapRecord& record) {
    return !record.hasFields && record.PendingHoldsFields();
}

// True for an Add that carries the item exactly as the device held it at the last
// exchange (every field it holds, and no other).
bool RepeatsExchangedAdd(const CWBXMLLiterals& fields, const CClientMapRecord& record) {
    return record.hasFields && KeptValuesOf(FieldValuesOf(fields)) == record.fields;
}

// True when the store keeps the field: a row of the element table with a property
// or a special handling (a field without one, such as a task's IsRecurring, which a
// handheld sends with every whole item, is never stored).
bool StoreKeepsField(CFieldId id) {
    for (size_t i = 0; kElementMap[i].kind != -1; ++i) {
        const ElementMapEntry& row = kElementMap[i];
        if (row.kind == FieldPage(id) && row.token == FieldToken(id))
            return HasProperty(row) || row.specialHandling != kSpecialNone;
    }
    return false;
}

// True when every field the store keeps of a device's Modify equals what the device
// held at the last exchange or (pendingCounts) what an answer it never acknowledged
// sent.
bool CarriesNothingNew(const CWBXMLLiterals& fields, const CClientMapRecord& record,
                       bool pendingCounts = true) {
    // A Delete's mark alone is no answer's fields (an absent field would match a
    // cleared one).
    const bool pending = pendingCounts && record.PendingHoldsFields();
    const CFieldValues device = KeptValuesOf(FieldValuesOf(fields));
    auto valueIn = [](const CFieldValues& values, CFieldId id) {
        auto it = values.find(id);
        return it == values.end() ? std::string() : it->second;
    };
    for (const auto& node : fields) {
        const CFieldId id = MakeFieldId(node->codePage, node->token);
        if (!StoreKeepsField(id)) continue;
        const std::string value = valueIn(device, id);
        if (record.hasFields && value == valueIn(record.fields, id)) continue;
        if (pending && value == valueIn(record.pending, id)) continue;
        // A "0" where the exchange it is compared with had no value: the default a
        // handheld's PIM store fills in (a number never set, or cleared by the
        // answer it applied), which a whole item carries.
        if (value == "0" && valueIn(record.fields, id).empty() &&
            valueIn(record.pending, id).empty())
            continue;
        if (value == "0" && pending && valueIn(record.pending, id).empty()) continue;
        return false;
    }
    return true;
}

}  // namespace

CFieldValues CVantroRequest::ReadItemFields(CAbstractVantroElement& element) {
    CWBXML scratch;
    scratch.BeginDocument(4096);
    element.SetTransportHeaders(server_.transportHeaders);
    if (!element.MessageToXML(scratch, true)) return CFieldValues();
    return ItemElementFields(scratch.Document().View().substr(CWBXML::kHeaderSize));
}

void CVantroRequest::LogConflicts(CAbstractVantroFolder* folder, const std::string& key,
                                  const std::vector<CFieldConflict>& conflicts) {
    if (conflicts.empty()) return;
    const std::string name = folder->GetDisplayName();
    for (const CFieldConflict& conflict : conflicts) {
        CSyncLogLine line{
            name, key, std::string(TagName(FieldPage(conflict.field), FieldToken(conflict.field))),
            conflict.handheld, conflict.desktop};
        AddLiveTraceF("Conflict %s %s %s: handheld %s, desktop %s kept", name.c_str(), key.c_str(),
                      line.field.c_str(), conflict.handheld.c_str(), conflict.desktop.c_str());
        conflicts_.push_back(std::move(line));
    }
    CountsOf(folder).conflicts += static_cast<int>(conflicts.size());
}

void CVantroRequest::WriteConflicts() {
    CPocketDevice* device = session_.CurrentDevice();
    if (device == nullptr) return;
    const std::time_t now = std::time(nullptr);
    for (const CSyncLogLine& line : conflicts_) {
        if (!AppendSyncLog(session_.DataFolder(), device->Config()->DeviceID, line, now)) {
            AddLiveTraceF("sync.log of device %s cannot be written",
                          device->Config()->DeviceID.c_str());
            break;
        }
    }
}

CVantroRequest::ItemOutcome CVantroRequest::ReadElement(const ClientFolder& target,
                                                        int32_t change) {
    ItemOutcome outcome;
    std::string givenServerKey;
    while (Next() && !IsEnd()) {
        if (IsText(kServerID)) {
            givenServerKey = event_.value;
            SkipChildEnd();
        } else if (IsText(kClientID)) {
            outcome.clientKey = event_.value;
            SkipChildEnd();
        } else if (IsStart(kCollection)) {
            CWBXMLLiterals fields;
            more_ = reader_.BuildTree(fields, event_) && more_;
            try {
                ApplyDeviceItem(target, change, givenServerKey, fields, outcome);
            } catch (const CMAPIException& e) {
                AddLiveTraceF("Item %s not stored: %s", outcome.clientKey.c_str(), e.what());
                outcome.result = ReadResult::kFailed;
            } catch (...) {
                ShowMessageBox("Crash in Read Element");
                outcome.result = ReadResult::kFailed;
            }
        }
    }
    return outcome;
}

void CVantroRequest::ApplyDeviceItem(const ClientFolder& target, int32_t change,
                                     const std::string& givenServerKey,
                                     const CWBXMLLiterals& sentFields, ItemOutcome& outcome) {
    CAbstractVantroFolder* folder = target.folder;
    CRequestExchange& exchange = session_.Exchange();
    CClientMap* map = target.mapiFolder != nullptr ? exchange.MapOf(*target.mapiFolder) : nullptr;
    CPocketDevice* device = session_.CurrentDevice();
    const std::string deviceId = device != nullptr ? device->Config()->DeviceID : deviceId_;

    std::string clientId = outcome.clientKey;
    if (!IsUsableClientId(clientId) && givenServerKey.empty()) {
        AddLiveTraceF("Item without a usable ClientID (%d bytes): stored as a plain Add",
                      static_cast<int>(clientId.size()));
    }
    if (!IsUsableClientId(clientId)) clientId.clear();
    if (ClearsRequiredField(sentFields)) {
        AddLiveTraceF("Item %s refused: its message class would be cleared",
                      !givenServerKey.empty() ? givenServerKey.c_str() : clientId.c_str());
        outcome.result = ReadResult::kFailed;
        return;
    }

    // The item the change names.
    enum class Found { kByServerId, kByClientId, kMatched, kNew };
    Found found = Found::kNew;
    std::unique_ptr<CAbstractVantroElement> element;
    // The fields last exchanged of an item the desktop deleted while the device
    // changed it: a Modify carries only what changed, so the item is made anew from
    // them (a change beats a deletion).
    CFieldValues restore;
    bool restoring = false;
    auto keepForRestore = [&](const std::string& goneKey) {
        const CClientMapRecord* gone = map != nullptr ? map->FindByServerKey(goneKey) : nullptr;
        if (change != kModify || gone == nullptr || !gone->hasFields) return;
        restore = gone->fields;
        restoring = true;
    };
    // A change of an item the desktop deleted that carries nothing new is no change
    // of the device, and the deletion stands: a Modify whose fields are all as last
    // exchanged (a repeat after a lost answer) or as an answer the device never
    // acknowledged sent them (a handheld ended while applying it holds them so), or
    // an Add that repeats the item as last exchanged (its answer was lost). The
    // answer carries the Delete, and maps the ClientID to the deleted key for a
    // device that does not know it, so that the device deletes its copy.
    auto deletionStands = [&](const std::string& goneKey) {
        const CClientMapRecord* gone = map != nullptr ? map->FindByServerKey(goneKey) : nullptr;
        if (gone == nullptr) return false;
        if (change == kAdd ? !RepeatsExchangedAdd(sentFields, *gone)
                           : change != kModify || !CarriesNothingNew(sentFields, *gone))
            return false;
        AddLiveTraceF(
            "Item %s deleted on the desktop: the device's %s carries nothing new, "
            "the deletion stands",
            goneKey.c_str(), change == kAdd ? "Add" : "Modify");
        exchange.NoteEcho(folder->GetKey(), goneKey);
        outcome.reached = true;
        if (givenServerKey.empty() && !outcome.clientKey.empty()) {
            outcome.serverKey = goneKey;
            outcome.result = ReadResult::kMapped;
        } else {
            outcome.result = ReadResult::kNoMapping;
        }
        return true;
    };
    if (!givenServerKey.empty()) {
        EntryPlace place =
            device != nullptr ? LocateItem(*device, givenServerKey) : EntryPlace::kMissing;
        if (place == EntryPlace::kRefused) {
            AddLiveTraceF("Item %s refused: not in a folder offered to device %s",
                          givenServerKey.c_str(), deviceId_.c_str());
            outcome.result = ReadResult::kNoMapping;
            return;
        }
        if (place == EntryPlace::kOffered) element = folder->GetElement(givenServerKey);
        if (!element && device != nullptr) {
            // Made again for an earlier change the device sent, whose answer it
            // never got: the change reaches that item.
            const std::string replacement =
                map != nullptr ? map->ReplacementOf(givenServerKey) : std::string();
            if (!replacement.empty() && LocateItem(*device, replacement) == EntryPlace::kOffered)
                element = folder->GetElement(replacement);
            if (element)
                AddLiveTraceF("Item %s made again as %s: the change reaches it",
                              givenServerKey.c_str(), replacement.c_str());
        }
        if (element) {
            found = Found::kByServerId;
        } else {
            if (deletionStands(givenServerKey)) return;
            AddLiveTraceF("Item %s no longer exists, stored afresh", givenServerKey.c_str());
            keepForRestore(givenServerKey);
            // An item made again keeps the old key's record, which names it.
            if (map != nullptr && !restoring) map->Remove(givenServerKey);
        }
    }
    if (!element && !clientId.empty() && map != nullptr) {
        if (const CClientMapRecord* record = map->FindByClientId(clientId)) {
            const std::string mapped = record->serverKey;
            element = folder->GetElement(mapped);
            if (element) {
                found = Found::kByClientId;
            } else if (!restoring && deletionStands(mapped)) {
                return;
            } else {
                AddLiveTraceF("Item %s of ClientID %s no longer exists, stored afresh",
                              mapped.c_str(), clientId.c_str());
                if (!restoring) keepForRestore(mapped);
                if (!(restoring && mapped == givenServerKey)) map->Remove(mapped);
            }
        }
    }
    // The device's own change: for an item an unacknowledged answer sent, the
    // fields it sent back as they are are left out.
    const CClientMapRecord* sentBefore =
        element && map != nullptr ? map->FindByServerKey(element->GetKey()) : nullptr;
    CWBXMLLiterals ownFields;
    const bool filtered =
        change == kModify && sentBefore != nullptr && sentBefore->pendingGeneration != 0;
    if (filtered) {
        ownFields = WithoutPendingFields(sentFields, *sentBefore);
        if (ownFields.Size() != sentFields.Size())
            AddLiveTraceF("Item %s: %d of its fields as the unacknowledged answer sent them",
                          element->GetKey().c_str(),
                          static_cast<int>(sentFields.Size() - ownFields.Size()));
    }
    const CWBXMLLiterals& fields = filtered ? ownFields : sentFields;
    const std::string className = folder->GetClassName();
    if (!element && change == kAdd && target.pairByName) {
        const std::string identity(ClientIdStoreIdentity(clientId));
        CTwinSearch twins;
        twins.eligible = [&](const std::string& key) {
            return !exchange.Claimed(key) &&
                   !(map != nullptr && map->MappedToIdentity(key, identity));
        };
        bool matched = false;
        element = server_.FindOrCreateItem(folder, fields, target.typ, &twins, &matched);
        if (matched) found = Found::kMatched;
    }
    if (!element) element = server_.FindOrCreateItem(folder, fields, className);
    if (!element) {
        AddLiveTraceF("Item %s not stored: no item could be made", clientId.c_str());
        outcome.result = ReadResult::kFailed;
        return;
    }
    element->SetLogLines(&server_.logLines);

    // The merge with what the store holds.
    const std::string knownKey = found == Found::kNew ? std::string() : element->GetKey();
    CFieldValues stored;
    CMergeInput input;
    input.wholeItem = change == kAdd;
    const CClientMapRecord* record = nullptr;
    CFieldHashes pendingStored;
    if (found == Found::kNew) {
        input.base = MergeBase::kNew;
    } else {
        stored = ReadItemFields(*element);
        input.store = &stored;
        if (found == Found::kMatched) {
            input.base = MergeBase::kTwins;
        } else if (map != nullptr && (record = map->FindByServerKey(knownKey)) != nullptr &&
                   record->hasFields) {
            input.base = MergeBase::kKnown;
            input.deviceHeld = &record->fields;
            input.storeHeld = &record->stored;
        } else if (record != nullptr && SentOnlyByUnansweredAnswer(*record)) {
            // Never exchanged, but an answer the device has not acknowledged sent the
            // item, and the device names it: it holds what that answer sent, and both
            // sides' changes count from there (the folder's change list, which counts
            // from the last acknowledged answer, sees only a new item).
            pendingStored = HashesOf(record->pending);
            input.base = MergeBase::kKnown;
            input.deviceHeld = &record->pending;
            input.storeHeld = &pendingStored;
        } else {
            input.base = MergeBase::kUnknown;
            input.desktopChanged = ChangedOnDesktop(folder, knownKey);
        }
    }
    CMergeResult merge = MergeDeviceChange(FieldValuesOf(fields), input);
    // The fields left out as an unacknowledged answer sent them are what the device
    // holds now, whatever the desktop holds since.
    if (filtered && ownFields.Size() != sentFields.Size()) {
        const CFieldValues own = FieldValuesOf(ownFields);
        const CFieldValues sent = FieldValuesOf(sentFields);
        const CFieldValues kept = KeptValuesOf(sent);
        for (const auto& entry : sent) {
            if (own.count(entry.first) != 0) continue;
            auto value = kept.find(entry.first);
            if (value == kept.end())
                merge.deviceHolds.erase(entry.first);
            else
                merge.deviceHolds[entry.first] = value->second;
        }
        merge.sendBack = true;
    }
    CWBXMLLiterals apply;
    if (found == Found::kNew && restoring) {
        for (const auto& [field, text] : FieldValuesOf(fields)) {
            if (text.empty())
                restore.erase(field);
            else
                restore[field] = text;
        }
        apply = TreeOf(restore);
        merge.deviceHolds = KeptValuesOf(restore);
        AddLiveTraceF("Item %s made anew from the fields last exchanged", clientId.c_str());
    } else if (found == Found::kNew) {
        CopyTree(fields, apply);
    } else {
        apply = FieldsToApply(fields, merge);
    }

    // The save: the item's fields and its ClientID in one commit.
    if (!apply.Empty()) {
        if (target.mapiFolder != nullptr && !exchange.BeforeStoreWrite(*target.mapiFolder)) {
            outcome.result = found == Found::kNew ? ReadResult::kFailed : ReadResult::kNoMapping;
            return;
        }
        if (!clientId.empty() && map != nullptr)
            element->SetClientIdProperty(deviceId, map->PropertyValue(clientId));
        if (element->XMLtoMessage(apply)) {
            outcome.stored = true;
            outcome.refused = element->RefusedPart();
            TestCrashPoint("after-item-save");
        } else if (found == Found::kNew) {
            // No key is reported for an item that does not exist.
            outcome.result = ReadResult::kFailed;
            return;
        }
    }
    const std::string key = element->GetKey();
    if (key.empty()) {
        outcome.result = ReadResult::kFailed;
        return;
    }
    LogConflicts(folder, key, merge.conflicts);

    // The record of this exchange: what each side holds now.
    bool sendBack = false;
    bool wasMatched = found == Found::kMatched;
    // A Modify that stored nothing and whose fields are all as last exchanged (sent
    // again after a lost answer) is no exchange: the record stays as it was, so a
    // desktop change the device never received still counts as one.
    const bool repeat = change == kModify && !outcome.stored && record != nullptr &&
                        input.base == MergeBase::kKnown &&
                        CarriesNothingNew(sentFields, *record, false);
    if (map != nullptr) {
        if (found == Found::kNew && restoring && !givenServerKey.empty())
            map->Record(givenServerKey).pending[kReplacedByField] = key;
        if (!clientId.empty()) map->MapClientId(key, clientId);
        CClientMapRecord& entry = map->Record(key);
        if (found == Found::kMatched) entry.matched = true;
        wasMatched = wasMatched || (found == Found::kByClientId && entry.matched);
        CFieldValues after =
            outcome.stored || found == Found::kNew ? ReadItemFields(*element) : stored;
        if (!repeat) {
            entry.hasFields = true;
            entry.fields = merge.deviceHolds;
            entry.stored = HashesOf(after);
            entry.pendingGeneration = 0;
            entry.pending.clear();
        }
        sendBack = DiffersFromDevice(after, merge);
    } else {
        sendBack = !merge.conflicts.empty() || merge.sendBack;
    }
    if (sendBack) exchange.NoteEcho(folder->GetKey(), key);
    session_.NoteDeviceChange(key);
    outcome.reached = true;
    exchange.NoteClaimed(key);

    // What the answer tells the device.
    if (found == Found::kByServerId && key == givenServerKey) {
        outcome.result = ReadResult::kNoMapping;
        return;
    }
    outcome.serverKey = key;
    outcome.matched = wasMatched;
    outcome.result = ReadResult::kMapped;
    if (wasMatched)
        AddLiveTraceF("Item %s paired by name with %s", outcome.clientKey.c_str(), key.c_str());
}
