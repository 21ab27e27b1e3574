// CMobileMapiSession: log-on, the per-device folder cache, and opening folders by
// key, code and path.
#include "server/store/mapi_session.h"

#include <cctype>
#include <optional>

#include "common/base/text.h"
#include "platform/win/message_box.h"
#include "server/config/data_folder.h"
#include "server/config/live_trace.h"
#include "server/config/settings.h"
#include "server/devices/device_list.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_status_calls.h"
#include "server/store/mapi_folder.h"
#include "server/store/offered_folders.h"

namespace {

// The codes a key may name a default folder by, in the order keys are normalised.
constexpr int kNormalisedCodes[] = {kDefaultInbox,     kDefaultContacts,    kDefaultCalendar,
                                    kDefaultTasks,     kDefaultDrafts,      kDefaultOutbox,
                                    kDefaultSentItems, kDefaultDeletedItems};

// The code of a key "-1" ... "-8", or 0.
int DefaultCodeOfKey(const std::string& key) {
    if (key.size() != 2 || key[0] != '-' || key[1] < '1' || key[1] > '8') return 0;
    return -(key[1] - '0');
}

// The default code a class name stands for when a folder is opened without a key.
int DefaultCodeOfClass(const std::string& className) {
    if (className == "Contact" || className == "Contacts") return kDefaultContacts;
    if (className == "Task") return kDefaultTasks;
    if (className == "Appointment") return kDefaultCalendar;
    if (className == "Email") return kDefaultInbox;
    return 0;
}

// The device's default folder of code, opened through its session; empty when the
// device has none.
IMAPIFolderPtr OpenDefaultFolder(const CPocketDevice& device, int code) {
    int slot = DefaultFolderSlotForCode(code);
    if (slot < 0 || !device.session) return IMAPIFolderPtr();
    const std::string& entryId = device.defaultFolders[static_cast<size_t>(slot)];
    if (entryId.empty()) return IMAPIFolderPtr();
    return IMAPIFolderPtr(OpenFolderEntry(device.session.Get(), entryId));
}

}  // namespace

CMobileMapiSession::CMobileMapiSession(Settings& settings, CDeviceList& devices)
    : settings_(settings), devices_(devices) {}

CMobileMapiSession::~CMobileMapiSession() = default;

const std::string& CMobileMapiSession::DataFolder() const {
    dataFolder_ = settings_.DataFolder();
    if (dataFolder_.empty()) dataFolder_ = DefaultDataFolder();
    return dataFolder_;
}

CAbstractVantroFolder* CMobileMapiSession::OpenStockFolder(const std::string& key) {
    return device_ ? CachedFolder(device_->Config()->DeviceID, key) : nullptr;
}

CMobileMapiFolder* CMobileMapiSession::CachedFolder(const std::string& deviceId,
                                                    const std::string& key) const {
    auto found = cache_.find(CacheKey(deviceId, key));
    return found == cache_.end() ? nullptr : found->second.get();
}

CMobileMapiFolder* CMobileMapiSession::Register(const std::string& deviceId,
                                                std::unique_ptr<CMobileMapiFolder> folder,
                                                const std::string& key) {
    CMobileMapiFolder* result = folder.get();
    if (deviceId.empty() || key.empty()) return KeepUntilNextRequest(std::move(folder));
    std::unique_ptr<CMobileMapiFolder>& slot = cache_[CacheKey(deviceId, key)];
    // A caller of this request may still hold the folder it replaces.
    if (slot && slot.get() != result) retired_.push_back(std::move(slot));
    slot = std::move(folder);
    return result;
}

CMobileMapiFolder* CMobileMapiSession::KeepUntilNextRequest(
    std::unique_ptr<CMobileMapiFolder> folder) {
    retired_.push_back(std::move(folder));
    return retired_.back().get();
}

bool CMobileMapiSession::Logon(const std::string& deviceId, const std::string& deviceName,
                               const std::string& userName, const std::string& password) {
    ++generation_;
    device_ = devices_.FindDevice(deviceId, userName, password);
    exchange_.Begin(device_ ? device_->Config()->DeviceID : std::string(), DataFolder());
    if (!device_) return false;
    device_->FindDefaultFolders();
    settings_.GetDeviceName(deviceId, deviceName);
    return true;
}

void CMobileMapiSession::BeginRequest() {
    ++generation_;
    device_.reset();
    retired_.clear();
    deviceChanges_.clear();
    exchange_.Begin(std::string(), std::string());
}

namespace {

std::string UpperKey(const std::string& key) {
    std::string upper = key;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

}  // namespace

void CMobileMapiSession::NoteDeviceChange(const std::string& itemKey) {
    if (!itemKey.empty()) deviceChanges_.insert(UpperKey(itemKey));
}

bool CMobileMapiSession::ChangedByDevice(const std::string& itemKey) const {
    return !deviceChanges_.empty() && deviceChanges_.count(UpperKey(itemKey)) != 0;
}

void CMobileMapiSession::EndRequest() {
    exchange_.Save();
    for (auto& [key, folder] : cache_) folder->ClearChanges();
}

std::string CMobileMapiSession::NormaliseKey(const std::string& key) const {
    std::optional<std::string> bytes = HexDecode(key);
    if (!bytes || bytes->empty()) return key;
    for (int code : kNormalisedCodes) {
        int slot = DefaultFolderSlotForCode(code);
        if (slot >= 0 && device_->defaultFolders[static_cast<size_t>(slot)] == *bytes)
            return std::to_string(code);
    }
    return key;
}

CAbstractVantroFolder* CMobileMapiSession::OpenFolder(const std::string& key,
                                                      const std::string& className,
                                                      bool /*isDefault*/) {
    return OpenFolderConfined(key, className, true);
}

CAbstractVantroFolder* CMobileMapiSession::OpenFolderConfined(const std::string& key,
                                                              const std::string& className,
                                                              bool confine) {
    if (!device_) return nullptr;
    CMobileMapiFolder* cached = CachedFolder(device_->Config()->DeviceID, key);
    std::string normalised = key;
    if (cached == nullptr) {
        normalised = NormaliseKey(key);
        if (normalised != key) cached = CachedFolder(device_->Config()->DeviceID, normalised);
    }
    // A default folder is always offered; a folder named by its entry ID only when
    // it lies within the device's folders.
    const bool byEntryId = confine && normalised.size() >= 2 && DefaultCodeOfKey(normalised) == 0;
    if (cached != nullptr && byEntryId && !cached->IsOffered()) return RefuseFolder(key);
    if (cached != nullptr) {
        // The kind name of this request decides, not that of whoever opened it first.
        cached->SetClassName(className);
        if (!cached->IsComputed() || cached->ComputedGeneration() != generation_)
            cached->PrepareChanges(0);
        return cached;
    }
    if (cached == nullptr && byEntryId && HexDecode(normalised) &&
        !IsFolderKeyOffered(*device_, normalised))
        return RefuseFolder(key);
    return OpenNewFolder(normalised, className);
}

CMobileMapiFolder* CMobileMapiSession::RefuseFolder(const std::string& key) {
    AddLiveTraceF("Folder %s refused: not offered to device %s", key.c_str(),
                  device_->Config()->DeviceID.c_str());
    return KeepUntilNextRequest(std::make_unique<CMobileMapiFolder>(device_.get(), this));
}

CMobileMapiFolder* CMobileMapiSession::OpenNewFolder(const std::string& key,
                                                     const std::string& className) {
    auto folder = std::make_unique<CMobileMapiFolder>(device_.get(), this);
    folder->HoldDevice(device_);
    try {
        IMAPIFolderPtr mapiFolder;
        if (key.size() < 2) {
            int code = DefaultCodeOfClass(className);
            if (code != 0) mapiFolder = OpenDefaultFolder(*device_, code);
            if (!mapiFolder) {
                AddLiveTraceF("%s error opening folder", device_->Config()->DeviceID.c_str());
                return KeepUntilNextRequest(std::move(folder));
            }
        } else if (int code = DefaultCodeOfKey(key); code != 0) {
            mapiFolder = OpenDefaultFolder(*device_, code);
        } else {
            mapiFolder = IMAPIFolderPtr(device_->OpenMAPIFolder(key));
        }
        folder->SetClassName(className);
        folder->SetMapiFolder(std::move(mapiFolder));
        if (folder->IsValid()) {
            AddLiveTraceF("Syncing folder %s", folder->MapiFolder().GetFullPath().c_str());
            folder->PrepareChanges(0);
        }
    } catch (const std::exception&) {
        AddLiveTrace("crash opening folder");
    }
    if (!folder->IsValid()) return KeepUntilNextRequest(std::move(folder));
    std::string folderKey = folder->GetKey();
    return Register(device_->Config()->DeviceID, std::move(folder), folderKey);
}

CAbstractVantroFolder* CMobileMapiSession::OpenFolderByPath(const std::string& path) {
    if (!device_) return nullptr;
    std::vector<std::string> parts;
    for (std::string_view part : SplitSkippingEmpty(path, '/')) parts.emplace_back(part);
    if (parts.empty()) return nullptr;
    bool tooLong = parts.size() > kMaxPathParts;
    for (const std::string& part : parts) tooLong = tooLong || part.size() > kMaxPathPartLength;
    if (tooLong) {
        AddLiveTraceF(
            "Folder path refused: more than %d parts or a part longer than %d bytes "
            "(%d parts, %d bytes)",
            static_cast<int>(kMaxPathParts), static_cast<int>(kMaxPathPartLength),
            static_cast<int>(parts.size()), static_cast<int>(path.size()));
        return nullptr;
    }
    try {
        IMAPIFolderPtr current;
        if (parts[0][0] == '-') {
            auto* first = dynamic_cast<CMobileMapiFolder*>(OpenFolder(parts[0], "", true));
            if (first == nullptr || !first->IsValid()) return nullptr;
            current = first->MapiFolder();
        } else {
            if (device_->ipmSubtree.empty() || !device_->session) return nullptr;
            IMAPIFolderPtr top =
                IMAPIFolderPtr(OpenFolderEntry(device_->session.Get(), device_->ipmSubtree));
            if (!top) return nullptr;
            current = top.CreateFolder(parts[0], OPEN_IF_EXISTS);
        }
        for (size_t i = 1; i < parts.size(); ++i)
            current = current.CreateFolder(parts[i], OPEN_IF_EXISTS);
        if (!current) return nullptr;
        // The device named this folder itself (moves may create new ones): not confined.
        return OpenFolderConfined(current.GetEntryID().ToText(), "", false);
    } catch (const CMAPIException& e) {
        AddLiveTraceF("OpenFolderByPath %s: %s", path.c_str(), e.what());
        return nullptr;
    } catch (const std::exception& e) {
        ShowMessageBox(e.what(), "Crash");
        return nullptr;
    }
}

std::string CMobileMapiSession::GetFolderPath(CAbstractVantroFolder* folder) {
    auto* mapiFolder = dynamic_cast<CMobileMapiFolder*>(folder);
    if (mapiFolder == nullptr || !mapiFolder->IsValid()) return std::string();
    CPocketDevice* device = mapiFolder->Device() != nullptr ? mapiFolder->Device() : device_.get();
    if (device == nullptr) return std::string();
    return device->GetFolderPath(mapiFolder->MapiFolder().Get());
}

bool CMobileMapiSession::StoreNames(const std::string& /*a*/, const std::string& /*b*/) {
    return false;
}
