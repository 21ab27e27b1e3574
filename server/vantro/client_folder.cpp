// The device's own changes: a Folder inside Sync with its Add, Modify, Delete,
// ReadState and Moved elements, applied to the store.
#include <exception>

#include "platform/win/message_box.h"
#include "server/config/change_entry.h"
#include "server/config/live_trace.h"
#include "server/mapi/mapi_exception.h"
#include "server/store/mapi_folder.h"
#include "server/store/offered_folders.h"
#include "server/vantro/vantro_request.h"
#include "server/vantro/vantro_tags.h"

using namespace vantro;

namespace {

bool IsChangeStart(const CWBXMLEvent& event) {
    if (event.EventKind != kWBXMLStartTag || event.codePage != kPage) return false;
    return event.token == kAdd || event.token == kDelete || event.token == kModify ||
           event.token == kReadState || event.token == kMoved;
}

}  // namespace

void CVantroRequest::HandleClientFolder() {
    std::string serverId;
    std::string clientId;
    std::string typ;
    std::string folderPath;
    bool isDefault = false;
    bool resolved = false;
    bool responseOpen = false;
    CAbstractVantroFolder* folder = nullptr;

    auto openResponse = [&] {
        if (responseOpen) return;
        responseOpen = true;
        answer_.StartTag(kPage, kResponse);
        answer_.StartTag(kPage, kFolder);
        answer_.WriteElement(kPage, kClientID, clientId);
        answer_.WriteElement(kPage, kServerID,
                             folder != nullptr ? folder->GetKey() : std::string());
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
        } else if (IsText(kName) || IsText(kReset) || IsText(kAcknlowledge)) {
            // Accepted without effect.
        } else if (IsChangeStart(event_)) {
            if (!resolved) {
                resolved = true;
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
                }
                // The kind name of this request decides, however the folder was found.
                if (folder != nullptr) folder->SetClassName(typ);
            }
            int32_t change = event_.token;
            if (folder == nullptr) {
                // Nothing to apply the change to: passed over, no mapping.
                AddLiveTrace("Folder invalid");
                SkipElement();
                continue;
            }
            if (change == kAdd || change == kModify) {
                if (change == kAdd) openResponse();
                std::string clientKey;
                std::string serverKey;
                bool stored = false;
                std::string refused;
                ReadResult result = ReadElement(folder, clientKey, serverKey, stored, &refused);
                if (stored) {
                    FolderCounts& counts = CountsOf(folder);
                    ++(change == kAdd ? counts.deviceAdded : counts.deviceChanged);
                }
                if (result == ReadResult::kMapped || (!refused.empty() && !clientKey.empty())) {
                    // A part refused while the rest was stored: the key (for a new
                    // item) and the error code 2.
                    openResponse();
                    answer_.StartTag(kPage, kElement);
                    answer_.WriteElement(kPage, kClientID, clientKey);
                    if (result == ReadResult::kMapped)
                        answer_.WriteElement(kPage, kServerID, serverKey);
                    if (!refused.empty()) answer_.WriteElement(kPage, kErrorCode, "2");
                    answer_.EndTag();
                } else if (result == ReadResult::kFailed && !clientKey.empty()) {
                    openResponse();
                    answer_.StartTag(kPage, kElement);
                    answer_.WriteElement(kPage, kClientID, clientKey);
                    answer_.WriteElement(kPage, kErrorCode, "1");
                    answer_.EndTag();
                }
            } else if (change == kDelete) {
                HandleDelete(folder);
            } else if (change == kReadState) {
                HandleReadState(folder);
            } else {
                HandleMove(folder);
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

CVantroRequest::ReadResult CVantroRequest::ReadElement(CAbstractVantroFolder* folder,
                                                       std::string& clientKey,
                                                       std::string& serverKey, bool& stored,
                                                       std::string* refused) {
    stored = false;
    std::string givenServerKey;
    ReadResult result = ReadResult::kNoMapping;
    while (Next() && !IsEnd()) {
        if (IsText(kServerID)) {
            givenServerKey = event_.value;
            SkipChildEnd();
        } else if (IsText(kClientID)) {
            clientKey = event_.value;
            SkipChildEnd();
        } else if (IsStart(kCollection)) {
            CWBXMLLiterals fields;
            more_ = reader_.BuildTree(fields, event_) && more_;
            try {
                std::string className = folder->GetClassName();
                std::unique_ptr<CAbstractVantroElement> element;
                bool existing = false;
                if (!givenServerKey.empty()) {
                    CPocketDevice* device = session_.CurrentDevice();
                    EntryPlace place = device != nullptr ? LocateItem(*device, givenServerKey)
                                                         : EntryPlace::kMissing;
                    if (place == EntryPlace::kRefused) {
                        AddLiveTraceF("Item %s refused: not in a folder offered to device %s",
                                      givenServerKey.c_str(), deviceId_.c_str());
                        result = ReadResult::kNoMapping;
                        continue;
                    }
                    if (place == EntryPlace::kOffered) element = folder->GetElement(givenServerKey);
                    existing = static_cast<bool>(element);
                }
                if (!element) element = server_.FindOrCreateItem(folder, fields, className);
                if (!element) {
                    AddLiveTraceF("Item %s not found", givenServerKey.c_str());
                    result = ReadResult::kFailed;
                    continue;
                }
                element->SetLogLines(&server_.logLines);
                // The key is reported only for an item that was really saved.
                if (!element->XMLtoMessage(fields)) {
                    result = ReadResult::kFailed;
                } else {
                    stored = true;
                    if (refused) *refused = element->RefusedPart();
                    std::string key = element->GetKey();
                    session_.NoteDeviceChange(key);
                    if (existing) {
                        result = ReadResult::kNoMapping;
                    } else if (!givenServerKey.empty() && key == givenServerKey) {
                        result = ReadResult::kNoMapping;  // matched the item it named
                    } else {
                        // A new item, or one stored afresh for a key that names
                        // nothing any more: the device learns its key.
                        if (!givenServerKey.empty())
                            AddLiveTraceF("Item %s no longer exists, stored afresh as %s",
                                          givenServerKey.c_str(), key.c_str());
                        serverKey = key;
                        result = serverKey.empty() ? ReadResult::kFailed : ReadResult::kMapped;
                    }
                }
            } catch (const CMAPIException&) {
                result = ReadResult::kFailed;
            } catch (...) {
                ShowMessageBox("Crash in Read Element");
                result = ReadResult::kFailed;
            }
        }
    }
    if (result == ReadResult::kFailed && !givenServerKey.empty()) return ReadResult::kNoMapping;
    return result;
}

bool CVantroRequest::ChangedOnDesktop(CAbstractVantroFolder* folder, const std::string& key) {
    // The folder's change list was computed when the folder was resolved, before
    // the device's own changes of this request.
    CChangeEntry* entry = folder->FindChangeEntry(key);
    return entry != nullptr && entry->GetKind() == kChangeModified;
}

void CVantroRequest::HandleDelete(CAbstractVantroFolder* folder) {
    while (Next() && !IsEnd()) {
        if (!IsText(kServerID)) continue;
        std::string key = event_.value;
        SkipChildEnd();
        // The store layer refuses items outside the offered folders itself; the
        // place is asked here to count and remember what the device really deleted.
        CPocketDevice* device = session_.CurrentDevice();
        EntryPlace place = device != nullptr ? LocateItem(*device, key) : EntryPlace::kMissing;
        if (place == EntryPlace::kMissing) {
            AddLiveTraceF("Deleting %s: no such item", key.c_str());
            session_.NoteDeviceChange(key);
            continue;
        }
        if (place == EntryPlace::kOffered && ChangedOnDesktop(folder, key)) {
            // The desktop's edit wins over the device's deletion: the item stays
            // and goes back to the device with this answer's changes.
            AddLiveTraceF("Deleting %s passed over: changed on the desktop", key.c_str());
            continue;
        }
        folder->DeleteElement(key);
        if (place == EntryPlace::kOffered) {
            session_.NoteDeviceChange(key);
            ++CountsOf(folder).deviceDeleted;
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
}
