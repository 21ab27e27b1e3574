// Store changes to the device: GetData with its folders, and DoSendFolder, which
// writes one Sync element per folder with changes and the folder's snapshot.
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "server/config/live_trace.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/read_snapshot_ptr.h"
#include "server/store/mapi_folder.h"
#include "server/syncstate/contents_table_file.h"
#include "server/vantro/ack_string.h"
#include "server/vantro/vantro_request.h"
#include "server/vantro/vantro_tags.h"

using namespace vantro;

void CVantroRequest::HandleGetData() {
    if (!HasDevice()) {
        AddLiveTrace("No device!");
        SkipElement();
        return;
    }
    while (Next() && !IsEnd()) {
        if (IsStart(kFolder)) HandleGetDataFolder();
    }
}

void CVantroRequest::HandleGetDataFolder() {
    std::string serverId;
    std::string folderType;
    bool reset = false;
    int days = 0;
    bool subfolders = false;
    while (Next() && !IsEnd()) {
        if (IsText(kServerID)) {
            serverId = event_.value;
        } else if (IsText(kReset)) {
            reset = std::atoi(event_.value.c_str()) != 0;
        } else if (IsText(kIncludeContent)) {
            // Accepted without effect.
        } else if (IsText(kFolderType)) {
            folderType = event_.value;
        } else if (IsText(kFilter)) {
            days = std::atoi(event_.value.c_str());
        } else if (IsText(kSubfolders)) {
            subfolders = std::atoi(event_.value.c_str()) != 0;
        } else {
            continue;
        }
        SkipChildEnd();
    }
    if (!serverId.empty()) {
        CAbstractVantroFolder* folder = session_.OpenFolder(serverId, std::string(), true);
        if (folder != nullptr && folder->IsValid()) DoSendFolder(folder, reset, days, subfolders);
    }
    if (folderType.empty()) return;
    int kind = 0;
    if (folderType == "Email") kind = kKindEmail;
    if (folderType == "Contact") kind = kKindContact;
    if (folderType == "Appointment") kind = kKindAppointment;
    if (folderType == "Task") kind = kKindTask;
    AddLiveTraceF("GetData %s reset=%d", folderType.c_str(), reset ? 1 : 0);
    // The device of this request's log-on, never one looked up again.
    std::shared_ptr<CPocketDevice> device = session_.CurrentDeviceShared();
    if (!device) return;
    for (CPocketFolder& configured : device->folders) {
        if (configured.kind != kind) continue;
        if (!configured.mapiFolder) {
            AddLiveTraceF("Folder %s is invalid", configured.virtualPath.c_str());
            continue;
        }
        if (!configured.folderObject) {
            configured.folderObject = std::make_shared<CMobileMapiFolder>(
                device.get(), &session_, configured.mapiFolder.Get());
            preparedFolders_.push_back(configured.folderObject.get());
        }
        configured.folderObject->SetReset(reset);
        DoSendFolder(configured.folderObject.get(), reset, days, subfolders);
    }
}

bool CVantroRequest::DeviceHoldsAsItIs(CAbstractVantroFolder* folder,
                                       CAbstractVantroElement& element) {
    auto* mapiFolder = dynamic_cast<CMobileMapiFolder*>(folder);
    const std::string key = element.GetKey();
    if (mapiFolder == nullptr || session_.Exchange().IsEcho(key)) return false;
    CClientMap* map = session_.Exchange().MapOf(*mapiFolder);
    const CClientMapRecord* record = map != nullptr ? map->FindByServerKey(key) : nullptr;
    if (record == nullptr || !record->hasFields || record->pendingGeneration != 0) return false;
    if (KeptFieldHashes(record->fields) != record->stored) return false;
    return HashesOf(ReadItemFields(element)) == record->stored;
}

void CVantroRequest::RecordSent(CAbstractVantroFolder* folder, const std::string& key, size_t from,
                                std::uint64_t generation) {
    auto* mapiFolder = dynamic_cast<CMobileMapiFolder*>(folder);
    if (mapiFolder == nullptr || generation == 0 || key.empty()) return;
    CClientMap* map = session_.Exchange().MapOf(*mapiFolder);
    if (map == nullptr) return;
    std::string_view written = answer_.Document().View().substr(from);
    map->SetPending(key, generation, KeptValuesOf(ItemElementFields(written)));
}

namespace {

// One read transaction for what a folder's answer reads of its store: the change
// list, every item sent and the snapshot. None for a folder of no store of the
// engine (its reads then run one by one).
void BeginReadSnapshot(CAbstractVantroFolder* folder, std::optional<CReadSnapshot>& snapshot) {
    auto* mapiFolder = dynamic_cast<CMobileMapiFolder*>(folder);
    if (mapiFolder == nullptr || !mapiFolder->MapiFolder()) return;
    try {
        snapshot.emplace(mapiFolder->MapiFolder());
    } catch (const CMAPIException& e) {
        AddLiveTraceF("No read snapshot, items read one by one: %s", e.what());
    }
}

}  // namespace

void CVantroRequest::DoSendFolder(CAbstractVantroFolder* folder, bool reset, int dayCount,
                                  bool subfolders, int depth) {
    std::optional<CReadSnapshot> snapshot;
    BeginReadSnapshot(folder, snapshot);
    std::string key = folder->GetKey();
    folder->SetReset(reset);
    AddLiveTraceF("DoSendFolder: Foldername = %s Reset=%d", folder->GetDisplayName().c_str(),
                  reset ? 1 : 0);
    folder->PrepareChanges(dayCount);
    if (!folder->IsValid()) {
        AddLiveTrace("Folder=NULL)");
        return;
    }
    CountsOf(folder);  // every folder asked for gets its line, also with nothing to send

    std::unique_ptr<CAbstractVantroElement> element = folder->NextChangedElement();
    // A folder the device changed in this request gets its AckString even when
    // nothing is sent back: the snapshot then records the device's own changes, and
    // without the acknowledgement the baseline would never take them in, so the
    // next answer would send them back to the device. The same holds for changes
    // repeated after a lost answer, which store nothing.
    auto own = counts_.find(key);
    const bool deviceChanged =
        own != counts_.end() && own->second.deviceAdded + own->second.deviceChanged +
                                        own->second.deviceDeleted + own->second.deviceOther +
                                        own->second.deviceRepeated >
                                    0;
    // A folder of a kind that pairs by name gets its AckString without a baseline
    // even with nothing in it: acknowledged, its first sync is over, and items
    // added later on both sides are never paired by name.
    CPocketDevice* device = session_.CurrentDevice();
    const bool noBaseline =
        device != nullptr && dynamic_cast<CMobileMapiFolder*>(folder) != nullptr &&
        folder->GetClassName() != "Email" &&
        access(StateFilePath(session_.DataFolder(), device->Config()->DeviceID, key).c_str(),
               F_OK) != 0;
    const bool acknowledge = element || deviceChanged || noBaseline;
    // Every answer names a snapshot of its own; one that no answer names is not
    // written (no acknowledgement could install it).
    std::uint64_t generation = 0;
    if (acknowledge) generation = folder->PrepareSnapshot();
    std::string tempKey = folder->GetTempKey();
    std::string ack =
        FormatAckString(device != nullptr ? device->Config()->DeviceID : deviceId_, key, tempKey);
    if (acknowledge) {
        std::string path = session_.GetFolderPath(folder);
        answer_.StartTag(kPage, kSync);
        answer_.StartTag(kPage, kFolder);
        answer_.WriteElement(kPage, kAckString, ack);
        answer_.WriteElement(kPage, kServerID, key);
        answer_.WriteElement(kPage, kFolderPath, path);
        int count = 0;
        FolderCounts& counts = CountsOf(folder);
        for (; element; element = folder->NextChangedElement()) {
            // Other threads that wait for the store get their turn now and then.
            if (snapshot) snapshot->Breathe();
            // Read once: an open item's key is its entry identifier, read from the store.
            const std::string itemKey = element->GetKey();
            if (element->GetState() == kStateModify && DeviceHoldsAsItIs(folder, *element)) {
                // The snapshot (and so the baseline) still takes the item in.
                AddLiveTraceF("Item %s: the device holds it as it is, not sent", itemKey.c_str());
                continue;
            }
            ++count;
            if (element->GetState() == kStateAdd) ++counts.sentAdded;
            if (element->GetState() == kStateModify) ++counts.sentChanged;
            if (element->GetState() == kStateDelete) ++counts.sentDeleted;
            element->SetLogLines(&server_.logLines);
            answer_.StartTag(kPage, kElement);
            switch (element->GetState()) {
                case kStateDelete:
                    answer_.StartTag(kPage, kDelete);
                    answer_.WriteElement(kPage, kServerID, itemKey);
                    answer_.EndTag();
                    // The record stays until the device acknowledges the Delete: a
                    // device that never got it and changed the item meanwhile
                    // gets it made again from the fields last exchanged.
                    if (auto* mapiFolder = dynamic_cast<CMobileMapiFolder*>(folder)) {
                        CClientMap* map = session_.Exchange().MapOf(*mapiFolder);
                        if (map != nullptr && map->FindByServerKey(itemKey) != nullptr) {
                            CClientMapRecord& record = map->Record(itemKey);
                            if (generation != 0) {
                                // The fields an unacknowledged answer sent stay
                                // beside the mark: the device may hold them.
                                record.pendingGeneration = generation;
                                record.pending[kDeleteSentField] = "D";
                            } else {
                                map->Remove(itemKey);
                            }
                        }
                    }
                    break;
                case kStateReadFlag:
                    answer_.StartTag(kPage, kReadFlag);
                    answer_.WriteElement(kPage, kServerID, itemKey);
                    answer_.WriteIntElement(kPage, kReadState, element->GetReadFlag() != 0 ? 1 : 0);
                    answer_.EndTag();
                    break;
                case kStateMoved:
                    answer_.StartTag(kPage, kMoved);
                    answer_.WriteElement(kPage, kServerID, itemKey);
                    answer_.WriteElement(kPage, kNewFolder, element->SourcePath());
                    answer_.WriteElement(kPage, kFolderPath, element->DestinationPath());
                    answer_.EndTag();
                    break;
                case kStateAdd:
                case kStateModify:
                    answer_.StartTag(kPage, element->GetState() == kStateAdd ? kAdd : kModify);
                    answer_.WriteElement(kPage, kServerID, itemKey);
                    element->SetTransportHeaders(server_.transportHeaders);
                    {
                        const size_t from = answer_.Document().Length();
                        if (element->MessageToXML(answer_, true))
                            RecordSent(folder, itemKey, from, generation);
                    }
                    answer_.EndTag();
                    break;
                default:
                    break;
            }
            answer_.EndTag();  // Element
        }
        AddLiveTraceF("%s Sent %d items", folder->GetDisplayName().c_str(), count);
        answer_.EndTag();  // Folder
        answer_.EndTag();  // Sync
        folder->SaveStatus(dayCount);
    }
    snapshot.reset();
    if (subfolders && depth < kMaxFolderDepth && folder->HasFolders()) {
        for (int i = 0;; ++i) {
            CAbstractVantroFolder* sub = folder->GetSubFolder(i);
            if (sub == nullptr) break;
            DoSendFolder(sub, reset, dayCount, subfolders, depth + 1);
        }
    }
}
