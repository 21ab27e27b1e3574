// The device's own changes: a Folder inside Sync with its Add, Modify, Delete,
// ReadState and Moved elements, applied to the store.
#include <unistd.h>

#include <exception>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_exception.h"
#include "server/store/mapi_folder.h"
#include "server/store/offered_folders.h"
#include "server/syncstate/change_entry.h"
#include "server/syncstate/contents_table_file.h"
#include "server/vantro/vantro_request.h"
#include "server/vantro/vantro_tags.h"

using namespace vantro;

namespace {

bool IsChangeStart(const CWBXMLEvent& event) {
    if (event.EventKind != kWBXMLStartTag || event.codePage != kPage) return false;
    return event.token == kAdd || event.token == kDelete || event.token == kModify ||
           event.token == kReadState || event.token == kMoved;
}

// The kind names a device sends for which an Add may be paired by name.
bool KindPairsByName(const std::string& typ) {
    return typ == "Contacts" || typ == "Task" || typ == "Appointment";
}

}  // namespace

void CVantroRequest::HandleClientFolder() {
    std::string serverId;
    std::string clientId;
    std::string typ;
    std::string folderPath;
    bool isDefault = false;
    bool reset = false;
    bool resolved = false;
    bool responseOpen = false;
    ClientFolder target;

    auto openResponse = [&] {
        if (responseOpen) return;
        responseOpen = true;
        answer_.StartTag(kPage, kResponse);
        answer_.StartTag(kPage, kFolder);
        answer_.WriteElement(kPage, kClientID, clientId);
        answer_.WriteElement(kPage, kServerID,
                             target.folder != nullptr ? target.folder->GetKey() : std::string());
    };

    while (Next() && !IsEnd()) {
        if (IsText(kServerID)) {
            serverId = event_.value;
        } else if (IsText(kClientID)) {
            clientId = event_.value;
        } else if (IsText(kTyp)) {
            typ = event_.value;
        } else if (IsText(kIsDefault)) {
            isDefault = std::atoi(event_.value.c_str()) != 0;
        } else if (IsText(kFolderPath)) {
            folderPath = event_.value;
        } else if (IsText(kReset)) {
            // The handheld holds no mapping for the folder.
            reset = event_.value == "1";
        } else if (IsText(kName) || IsText(kAcknlowledge)) {
            // Accepted without effect.
        } else if (IsChangeStart(event_)) {
            if (!resolved) {
                resolved = true;
                CAbstractVantroFolder* folder = nullptr;
                if (!folderPath.empty()) folder = session_.OpenFolderByPath(folderPath);
                if ((folder == nullptr || !folder->IsValid()) && !serverId.empty()) {
                    folder = session_.OpenFolder(serverId, typ, isDefault);
                }
                if ((folder == nullptr || !folder->IsValid()) && !clientId.empty()) {
                    folder = session_.OpenFolder(clientId, typ, isDefault);
                }
                if (folder != nullptr && !folder->IsValid()) folder = nullptr;
                // Confined like folders opened by entry ID: a path may name any folder.
                auto* mapiFolder = dynamic_cast<CMobileMapiFolder*>(folder);
                if (mapiFolder != nullptr && !mapiFolder->IsOffered()) {
                    AddLiveTraceF("Folder %s refused: not offered to device %s",
                                  !folderPath.empty() ? folderPath.c_str() : serverId.c_str(),
                                  deviceId_.c_str());
                    folder = nullptr;
                    mapiFolder = nullptr;
                }
                // The kind name of this request decides, however the folder was found.
                if (folder != nullptr) folder->SetClassName(typ);
                target.folder = folder;
                target.mapiFolder = mapiFolder;
                target.typ = typ;
                if (mapiFolder != nullptr) {
                    // Loaded now, so that a map set aside makes this a first sync.
                    session_.Exchange().MapOf(*mapiFolder);
                    CPocketDevice* device = session_.CurrentDevice();
                    const std::string key = mapiFolder->GetKey();
                    const bool noBaseline =
                        device != nullptr &&
                        access(StateFilePath(session_.DataFolder(), device->Config()->DeviceID, key)
                                   .c_str(),
                               F_OK) != 0;
                    target.firstSync = reset || noBaseline || session_.Exchange().MapSetAside(key);
                    target.pairByName = target.firstSync && KindPairsByName(typ);
                    if (target.firstSync) {
                        AddLiveTraceF("Folder %s: first sync of the device (%s)", key.c_str(),
                                      reset        ? "Reset 1"
                                      : noBaseline ? "no baseline"
                                                   : "ClientID map set aside");
                    }
                }
            }
            int32_t change = event_.token;
            if (target.folder == nullptr) {
                // Nothing to apply the change to: passed over, no mapping.
                AddLiveTrace("Folder invalid");
                SkipElement();
                continue;
            }
            if (change == kAdd || change == kModify) {
                if (change == kAdd) openResponse();
                ItemOutcome outcome = ReadElement(target, change);
                if (outcome.stored) {
                    FolderCounts& counts = CountsOf(target.folder);
                    ++(change == kAdd ? counts.deviceAdded : counts.deviceChanged);
                    if (outcome.matched) ++counts.deviceMatched;
                } else if (outcome.reached) {
                    ++CountsOf(target.folder).deviceRepeated;
                }
                const bool mapped = outcome.result == ReadResult::kMapped;
                if (mapped || (!outcome.refused.empty() && !outcome.clientKey.empty())) {
                    // A part refused while the rest was stored: the key (for a new
                    // item) and the error code 2.
                    openResponse();
                    answer_.StartTag(kPage, kElement);
                    answer_.WriteElement(kPage, kClientID, outcome.clientKey);
                    if (mapped) answer_.WriteElement(kPage, kServerID, outcome.serverKey);
                    if (mapped && outcome.matched) answer_.WriteElement(kPage, kMatched, "1");
                    if (!outcome.refused.empty()) answer_.WriteElement(kPage, kErrorCode, "2");
                    answer_.EndTag();
                } else if (outcome.result == ReadResult::kFailed && !outcome.clientKey.empty()) {
                    openResponse();
                    answer_.StartTag(kPage, kElement);
                    answer_.WriteElement(kPage, kClientID, outcome.clientKey);
                    answer_.WriteElement(kPage, kErrorCode, "1");
                    answer_.EndTag();
                }
            } else if (change == kDelete) {
                HandleDelete(target);
            } else if (change == kReadState) {
                HandleReadState(target.folder);
            } else {
                HandleMove(target.folder);
            }
            continue;
        } else {
            continue;
        }
        SkipChildEnd();
    }
    if (responseOpen) {
        answer_.EndTag();  // Folder
        answer_.EndTag();  // Response
    }
}

bool CVantroRequest::ChangedOnDesktop(CAbstractVantroFolder* folder, const std::string& key) {
    // The folder's change list was computed when the folder was resolved, before
    // the device's own changes of this request.
    CChangeEntry* entry = folder->FindChangeEntry(key);
    return entry != nullptr && entry->GetKind() == kChangeModified;
}

bool CVantroRequest::ChangedSinceExchange(const ClientFolder& target, const std::string& key) {
    CClientMap* map =
        target.mapiFolder != nullptr ? session_.Exchange().MapOf(*target.mapiFolder) : nullptr;
    const CClientMapRecord* record = map != nullptr ? map->FindByServerKey(key) : nullptr;
    if (record == nullptr || !record->hasFields) return ChangedOnDesktop(target.folder, key);
    std::unique_ptr<CAbstractVantroElement> element = target.folder->GetElement(key);
    if (!element) return false;
    return HashesOf(ReadItemFields(*element)) != record->stored;
}

void CVantroRequest::HandleDelete(const ClientFolder& target) {
    CAbstractVantroFolder* folder = target.folder;
    CRequestExchange& exchange = session_.Exchange();
    CClientMap* map = target.mapiFolder != nullptr ? exchange.MapOf(*target.mapiFolder) : nullptr;
    while (Next() && !IsEnd()) {
        const bool byClientId = IsText(kClientID);
        if (!IsText(kServerID) && !byClientId) continue;
        std::string key = event_.value;
        SkipChildEnd();
        if (byClientId) {
            // An item whose Add the device sent but never saw answered.
            const CClientMapRecord* record = map != nullptr ? map->FindByClientId(key) : nullptr;
            if (record == nullptr) {
                AddLiveTraceF("Deleting ClientID %s: not mapped, nothing deleted", key.c_str());
                continue;
            }
            key = record->serverKey;
        }
        // The store layer refuses items outside the offered folders itself; the
        // place is asked here to count and remember what the device really deleted.
        CPocketDevice* device = session_.CurrentDevice();
        EntryPlace place = device != nullptr ? LocateItem(*device, key) : EntryPlace::kMissing;
        if (place == EntryPlace::kMissing && map != nullptr && device != nullptr) {
            // Made again for an earlier change the device sent, whose answer it
            // never got: the Delete reaches that item.
            const std::string replacement = map->ReplacementOf(key);
            if (!replacement.empty() && LocateItem(*device, replacement) == EntryPlace::kOffered) {
                AddLiveTraceF("Deleting %s: made again as %s, which is deleted", key.c_str(),
                              replacement.c_str());
                map->Remove(key);
                key = replacement;
                place = EntryPlace::kOffered;
            }
        }
        if (place == EntryPlace::kMissing) {
            AddLiveTraceF("Deleting %s: no such item", key.c_str());
            session_.NoteDeviceChange(key);
            ++CountsOf(folder).deviceRepeated;
            if (map != nullptr) map->Remove(key);
            continue;
        }
        if (place == EntryPlace::kOffered && ChangedSinceExchange(target, key)) {
            // The desktop's edit wins over the device's deletion: the item stays
            // and goes back to the device with this answer's changes.
            AddLiveTraceF("Deleting %s passed over: changed on the desktop", key.c_str());
            continue;
        }
        if (target.mapiFolder != nullptr && !exchange.BeforeStoreWrite(*target.mapiFolder))
            continue;
        folder->DeleteElement(key);
        if (place == EntryPlace::kOffered) {
            session_.NoteDeviceChange(key);
            ++CountsOf(folder).deviceDeleted;
            if (map != nullptr) map->Remove(key);
        }
    }
}

void CVantroRequest::HandleMove(CAbstractVantroFolder* folder) {
    std::string serverId;
    std::string newFolder;
    while (Next() && !IsEnd()) {
        if (IsText(kServerID)) {
            serverId = event_.value;
        } else if (IsText(kNewFolder)) {
            newFolder = event_.value;
        } else if (!IsText(kClientID)) {
            continue;
        }
        SkipChildEnd();
    }
    CAbstractVantroFolder* target =
        newFolder.empty() ? nullptr : session_.OpenFolderByPath(newFolder);
    if (target == nullptr || !target->IsValid()) {
        AddLiveTrace("Move: Target is NULL");
        return;
    }
    folder->MoveElement(serverId, target);
    session_.NoteDeviceChange(serverId);
    // Both folders' snapshots must take the move in, or it comes back as one.
    ++CountsOf(folder).deviceOther;
    ++CountsOf(target).deviceOther;
}

void CVantroRequest::HandleReadState(CAbstractVantroFolder* folder) {
    std::string serverId;
    int value = 0;
    while (Next() && !IsEnd()) {
        if (IsText(kServerID)) {
            serverId = event_.value;
        } else if (IsText(kReadFlag)) {
            value = std::atoi(event_.value.c_str());
        } else if (!IsText(kClientID)) {
            continue;
        }
        SkipChildEnd();
    }
    if (serverId.empty()) return;
    if (!folder->IsValid()) {
        AddLiveTrace("Folder invalid");
        return;
    }
    std::unique_ptr<CAbstractVantroElement> element = folder->GetElement(serverId);
    if (!element) {
        AddLiveTraceF("Item %s not found", serverId.c_str());
        return;
    }
    element->SetReadFlag(value);
    session_.NoteDeviceChange(serverId);
    // The folder's snapshot must take the read state in, or it comes back.
    ++CountsOf(folder).deviceOther;
}
