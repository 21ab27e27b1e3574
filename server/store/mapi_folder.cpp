// CMobileMapiFolder: key and names, the change list and its snapshot, sub-folders.
#include "server/store/mapi_folder.h"

#include <unistd.h>

#include <cstdint>

#include "common/base/file_time.h"
#include "server/config/live_trace.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_exception.h"
#include "server/store/folder_kinds.h"
#include "server/store/mapi_message.h"
#include "server/store/mapi_session.h"
#include "server/syncstate/contents_table_file.h"

namespace {

// The default folders whose code is their key. Sent Items keeps its hexadecimal key.
constexpr int kKeyCodes[] = {kDefaultInbox, kDefaultDrafts,   kDefaultDeletedItems, kDefaultOutbox,
                             kDefaultTasks, kDefaultCalendar, kDefaultContacts};

}  // namespace

CMobileMapiFolder::CMobileMapiFolder(CPocketDevice* device, CMobileMapiSession* session,
                                     IMAPIFolderPtr folder)
    : device_(device), session_(session), folder_(std::move(folder)) {}

CMobileMapiFolder::CMobileMapiFolder(CPocketDevice* device, CMobileMapiSession* session,
                                     IMAPIFolder* folder)
    : CMobileMapiFolder(device, session, IMAPIFolderPtr(CMapiRef<IMAPIFolder>::Share(folder))) {}

CMobileMapiFolder::~CMobileMapiFolder() = default;

void CMobileMapiFolder::SetMapiFolder(IMAPIFolderPtr folder) {
    folder_ = std::move(folder);
    info_.reset();
    entryId_.Clear();
    entryIdRead_ = false;
    subFolders_.clear();
    subFoldersLoaded_ = false;
    name_.clear();
    nameRead_ = false;
}

const CByteBuffer& CMobileMapiFolder::EntryId() {
    if (!entryIdRead_ && folder_) {
        try {
            entryId_ = folder_.GetEntryID();
            entryIdRead_ = true;
        } catch (const CMAPIException&) {
            entryId_.Clear();
        }
    }
    return entryId_;
}

std::string CMobileMapiFolder::DeviceId() const {
    return device_ != nullptr ? device_->Config()->DeviceID : std::string();
}

std::string CMobileMapiFolder::GetName() {
    if (!folder_) return std::string();
    // Read once per request: every item converted in a request asks for it, and a
    // folder renamed in the store between requests shows its new name in the next.
    const std::uint64_t generation = session_ != nullptr ? session_->Generation() : 0;
    if (!nameRead_ || nameGeneration_ != generation) {
        name_ = folder_.GetPropText(PR_DISPLAY_NAME);
        nameRead_ = true;
        nameGeneration_ = generation;
    }
    return name_;
}

std::string CMobileMapiFolder::GetKey() {
    if (!folder_) {
        AddLiveTrace("folder is NULL");
        return std::string();
    }
    const CByteBuffer& id = EntryId();
    if (id.Empty()) return std::string();
    if (device_ != nullptr) {
        std::string bytes(id.Bytes().begin(), id.Bytes().end());
        for (int code : kKeyCodes) {
            int slot = DefaultFolderSlotForCode(code);
            if (slot >= 0 && device_->defaultFolders[static_cast<size_t>(slot)] == bytes)
                return std::to_string(code);
        }
    }
    return id.ToText();
}

std::string CMobileMapiFolder::GetDisplayName() {
    if (!folder_) return std::string();
    std::string name = folder_.GetPropText(PR_DISPLAY_NAME);
    if (name.empty()) name = folder_.GetPropText(PR_CONTAINER_CLASS);
    if (name.empty()) name = folder_.GetPropText(PR_MESSAGE_CLASS);
    return name;
}

std::string CMobileMapiFolder::GetClassName() {
    if (className_.empty() && folder_) {
        std::string containerClass = folder_.GetPropText(PR_CONTAINER_CLASS);
        if (containerClass.empty()) containerClass = "IPF.Note";
        for (const CFolderKind& kind : kFolderKinds) {
            if (containerClass == kind.containerClass) className_ = kind.className;
        }
    }
    return className_;
}

// ---- change list -------------------------------------------------------------------

bool CMobileMapiFolder::ComputedInThisRequest() const {
    return computed_ && (session_ == nullptr || computedGeneration_ == session_->Generation());
}

void CMobileMapiFolder::Compute(int dayWindow) {
    computed_ = true;
    computedAt_ = 0;
    computeFailed_ = false;
    computedWindow_ = dayWindow;
    computedGeneration_ = session_ != nullptr ? session_->Generation() : 0;
    changes_.clear();
    indexed_ = false;
    changeIndex_.clear();
    cursor_ = 0;
    if (!folder_ || device_ == nullptr || session_ == nullptr) {
        reset_ = false;
        return;
    }
    // The state object follows the folder's identity, read once per store folder.
    if (!info_) info_ = GetInfo(*device_, folder_, session_->DataFolder());
    if (!info_) {
        reset_ = false;
        return;
    }
    std::string key = GetKey();
    info_->SetReset(reset_);
    info_->SetFolderKey(key);
    info_->LoadContentsTable(DeviceId(), key);
    // Taken before the table is read: an item changed while it is read is held back
    // from the snapshot and sent again rather than lost.
    computedAt_ = static_cast<std::int64_t>(FileTimeNow());
    computeFailed_ = !info_->ComputeChanges(GetClassName(), device_->session.Get(), folder_,
                                            changes_, DeviceId(), dayWindow);
    // The device's own changes of this request are not sent back to it (but the
    // items whose stored state differs from the device's go back as Modify).
    if (!session_->DeviceChanges().empty()) {
        size_t before = changes_.size();
        std::erase_if(changes_, [this](const std::unique_ptr<CChangeEntry>& entry) {
            return IsOwnChange(entry->Key());
        });
        if (changes_.size() != before) {
            AddLiveTraceF("%d changed items are the device's own",
                          static_cast<int>(before - changes_.size()));
        }
    }
    // A reset is spent by a complete computation (computing again would only repeat
    // it); after a failed one it is still owed.
    reset_ = reset_ && computeFailed_;
    for (auto& entry : changes_) entry->SetFolder(this);
}

bool CMobileMapiFolder::PrepareChanges(int dayWindow) {
    dayWindow_ = dayWindow;
    // A window asked for that differs from the list's (a folder opened by its key
    // is computed without one) computes the list again: the list and the snapshot
    // hold the items of that window. Without one, the list keeps its own (the
    // window of the request's Filter).
    if (!ComputedInThisRequest() || reset_ || (dayWindow != 0 && computedWindow_ != dayWindow))
        Compute(dayWindow);
    cursor_ = 0;
    echoCursor_ = 0;
    handedOut_.clear();
    return true;
}

bool CMobileMapiFolder::IsOwnChange(const std::string& key) const {
    return session_ != nullptr && session_->ChangedByDevice(key) &&
           !session_->Exchange().IsEcho(key);
}

std::unique_ptr<CAbstractVantroElement> CMobileMapiFolder::NextChangedElement() {
    if (reset_) Compute(dayWindow_);
    while (cursor_ < changes_.size()) {
        const CChangeEntry& entry = *changes_[cursor_++];
        // A list computed before the device's changes still holds them.
        if (IsOwnChange(entry.Key())) continue;
        if (std::unique_ptr<CAbstractVantroElement> element = ElementOf(entry)) {
            handedOut_.insert(entry.Key());
            return element;
        }
    }
    if (session_ == nullptr || !folder_) return nullptr;
    // The device's changes whose stored state differs from what it holds.
    const std::vector<std::string>& echoes = session_->Exchange().EchoesOf(GetKey());
    while (echoCursor_ < echoes.size()) {
        const std::string& key = echoes[echoCursor_++];
        if (!handedOut_.insert(key).second) continue;
        CChangeEntry entry(kChangeModified, key, std::string());
        if (std::unique_ptr<CAbstractVantroElement> element = ElementOf(entry)) return element;
    }
    return nullptr;
}

std::unique_ptr<CAbstractVantroElement> CMobileMapiFolder::ElementOf(const CChangeEntry& entry) {
    auto element = std::make_unique<CMobileMapiMessage>(this);
    element->SetKey(entry.Key());
    switch (entry.GetKind()) {
        case kChangeNew:
        case kChangeModified: {
            std::optional<CByteBuffer> id = CByteBuffer::ParseHex(entry.Key());
            if (id && !id->Empty() && folder_) {
                try {
                    element->Message() = folder_.OpenMessage(*id, MAPI_BEST_ACCESS);
                } catch (const CMAPIException& e) {
                    AddLiveTraceF("Item %s not opened: %s", entry.Key().c_str(), e.what());
                }
            }
            if (!element->Message()) {
                // Gone since the list was computed: nothing of it can be sent.
                bool deviceHasIt = entry.GetKind() == kChangeModified &&
                                   (session_ == nullptr || !session_->ChangedByDevice(entry.Key()));
                if (!deviceHasIt) {
                    AddLiveTraceF("Item %s no longer exists, passed over", entry.Key().c_str());
                    return nullptr;
                }
                AddLiveTraceF("Item %s no longer exists, sent as deleted", entry.Key().c_str());
                element->SetState(kStateDelete);
                break;
            }
            // The device holds an echoed item already: a Modify, never an Add.
            element->SetState(
                entry.GetKind() == kChangeNew &&
                        !(session_ != nullptr && session_->Exchange().IsEcho(entry.Key()))
                    ? kStateAdd
                    : kStateModify);
            break;
        }
        case kChangeMoved:
            element->SetSourcePath(entry.GetSourcePath());
            element->SetDestinationPath(entry.GetDestinationPath());
            element->SetState(kStateMoved);
            break;
        case kChangeDeleted:
            element->SetState(kStateDelete);
            break;
        case kChangeReadState:
            element->SetReadFlag(entry.GetReadFlag());
            element->SetState(kStateReadFlag);
            break;
        default:
            break;
    }
    return element;
}

CChangeEntry* CMobileMapiFolder::GetChangeEntry(int index) {
    if (index < 0 || static_cast<size_t>(index) >= changes_.size()) return nullptr;
    return changes_[static_cast<size_t>(index)].get();
}

int CMobileMapiFolder::GetChangeCount() { return static_cast<int>(changes_.size()); }

CChangeEntry* CMobileMapiFolder::FindChangeEntry(const std::string& key) {
    if (!indexed_) {
        changeIndex_.clear();
        changeIndex_.reserve(changes_.size());
        for (size_t i = 0; i < changes_.size(); ++i) changeIndex_.emplace(changes_[i]->Key(), i);
        indexed_ = true;
    }
    auto found = changeIndex_.find(key);
    return found == changeIndex_.end() ? nullptr : changes_[found->second].get();
}

bool CMobileMapiFolder::ClearChanges() {
    indexed_ = false;
    changeIndex_.clear();
    changes_.clear();
    computed_ = false;
    cursor_ = 0;
    return true;
}

std::uint64_t CMobileMapiFolder::PrepareSnapshot() {
    std::string key = GetKey();
    if (key.empty() || session_ == nullptr) return 0;
    snapshotGeneration_ = NextSnapshotGeneration(session_->DataFolder(), DeviceId(), key);
    snapshotGenerationRequest_ = session_->Generation();
    return snapshotGeneration_;
}

std::string CMobileMapiFolder::GetTempKey() {
    const bool picked =
        snapshotGeneration_ != 0 &&
        (session_ == nullptr || snapshotGenerationRequest_ == session_->Generation());
    return SnapshotFileKey(GetKey(), picked ? snapshotGeneration_ : 0);
}

bool CMobileMapiFolder::SaveStatus(int dayWindow) {
    if (!folder_ || device_ == nullptr || session_ == nullptr) return false;
    std::string key = GetKey();
    if (key.empty()) return false;
    std::string tempKey = GetTempKey();
    CSnapshotHold hold;
    if (ComputedInThisRequest()) {
        hold.computedAt = computedAt_;
        if (session_ != nullptr) hold.writtenByRequest = &session_->DeviceChanges();
    }
    if (tempKey != SnapshotFileKey(key, 0)) hold.generation = snapshotGeneration_;
    if (computed_ && computeFailed_) {
        // No acknowledgement may install a baseline the device did not receive.
        RemoveSnapshotsExcept(session_->DataFolder(), DeviceId(), key, UINT64_MAX);
        AddLiveTraceF("Saving Table %s skipped: the change list is incomplete", tempKey.c_str());
        return false;
    }
    std::shared_ptr<CFolderInfo> info =
        info_ ? info_ : GetInfo(*device_, folder_, session_->DataFolder());
    if (!info) return false;
    // The snapshot must hold the items the list was computed over.
    int window = computed_ ? computedWindow_ : dayWindow;
    if (!info->SaveContentsTable(DeviceId(), tempKey, device_->session.Get(), folder_, window,
                                 hold))
        return false;
    // Only the newest snapshot can be acknowledged.
    if (hold.generation != 0)
        RemoveSnapshotsExcept(session_->DataFolder(), DeviceId(), key, hold.generation);
    return true;
}

// ---- sub-folders -------------------------------------------------------------------

bool CMobileMapiFolder::LoadSubFolderRows() {
    if (subFoldersLoaded_) return true;
    if (!folder_) return false;
    try {
        IMAPITablePtr table = folder_.GetHierarchyTable();
        CRowSet rows = table.QueryAllRows({PR_ENTRYID, PR_DISPLAY_NAME});
        subFolders_.clear();
        for (ULONG i = 0; i < rows.Count(); ++i) {
            CByteBuffer id = CRowSet::Binary(rows[i], PR_ENTRYID);
            if (!id.Empty())
                subFolders_.emplace_back(std::move(id), CRowSet::Text(rows[i], PR_DISPLAY_NAME));
        }
        subFoldersLoaded_ = true;
        return true;
    } catch (const CMAPIException&) {
        return false;
    }
}

bool CMobileMapiFolder::HasFolders() { return LoadSubFolderRows() && !subFolders_.empty(); }

CAbstractVantroFolder* CMobileMapiFolder::GetSubFolder(int index) {
    if (!folder_ || !LoadSubFolderRows()) return nullptr;
    if (index < 0 || static_cast<size_t>(index) >= subFolders_.size()) return nullptr;
    return OpenSubFolder(subFolders_[static_cast<size_t>(index)].first.ToText());
}

CAbstractVantroFolder* CMobileMapiFolder::OpenSubFolder(const std::string& key) {
    std::optional<CByteBuffer> id = CByteBuffer::ParseHex(key);
    if (!id || id->Empty() || session_ == nullptr) return nullptr;
    try {
        if (CMobileMapiFolder* cached = session_->CachedFolder(DeviceId(), key)) {
            if (folder_) cached->SetMapiFolder(folder_.OpenFolder(*id, MAPI_BEST_ACCESS));
            return cached;
        }
        if (!folder_) return nullptr;
        auto folder = std::make_unique<CMobileMapiFolder>(
            device_, session_, folder_.OpenFolder(*id, MAPI_BEST_ACCESS));
        folder->HoldDevice(deviceHold_);
        return session_->Register(DeviceId(), std::move(folder), key);
    } catch (const CMAPIException& e) {
        AddLiveTraceF("OpenSubFolder %s: %s", key.c_str(), e.what());
        return nullptr;
    }
}
