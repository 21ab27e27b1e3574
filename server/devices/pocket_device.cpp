// CPocketDevice: reading and writing the record's file, making devices from users.
#include "server/devices/pocket_device.h"

#include "common/base/atomic_file.h"
#include "server/config/live_trace.h"
#include "server/config/text_file.h"
#include "server/devices/device_file.h"

namespace {

// What each default-folder code stands for: the kind of its folder and its slot in
// the default-folder table.
struct DefaultFolderOfCode {
    int32_t code;
    int32_t kind;
    int slot;
};

constexpr DefaultFolderOfCode kDefaultFolderCodes[] = {
    {kDefaultContacts, kKindContact, kSlotContacts},
    {kDefaultTasks, kKindTask, kSlotTasks},
    {kDefaultCalendar, kKindAppointment, kSlotCalendar},
    {kDefaultInbox, kKindEmail, kSlotInbox},
    {kDefaultDrafts, kKindEmail, kSlotDrafts},
    {kDefaultOutbox, kKindEmail, kSlotOutbox},
    {kDefaultSentItems, kKindEmail, kSlotSentItems},
    {kDefaultDeletedItems, kKindEmail, kSlotDeletedItems},
};

const DefaultFolderOfCode* FindDefaultFolderCode(int32_t code) {
    for (const DefaultFolderOfCode& entry : kDefaultFolderCodes) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

// The configuration as its file will give it back; a cut is traced.
CDeviceConfig Fitted(CDeviceConfig config) {
    if (FitDeviceFileLines(config)) {
        AddLiveTraceF("values of %.64s cut to the longest line its file takes",
                      config.Name.c_str());
    }
    return config;
}

}  // namespace

int32_t KindForDefaultCode(int32_t code) {
    const DefaultFolderOfCode* entry = FindDefaultFolderCode(code);
    return entry != nullptr ? entry->kind : kKindEmail;
}

int DefaultFolderSlotForCode(int32_t code) {
    const DefaultFolderOfCode* entry = FindDefaultFolderCode(code);
    return entry != nullptr ? entry->slot : -1;
}

std::shared_ptr<const CDeviceConfig> CPocketDevice::Config() const {
    std::lock_guard<std::mutex> lock(configLock_);
    return config_;
}

CPocketDevice::CPocketDevice(CDeviceConfig config)
    : config_(std::make_shared<const CDeviceConfig>(Fitted(std::move(config)))) {}

void CPocketDevice::SetConfig(CDeviceConfig config) {
    config = Fitted(std::move(config));
    auto published = std::make_shared<const CDeviceConfig>(std::move(config));
    std::lock_guard<std::mutex> lock(configLock_);
    config_.swap(published);
}

std::shared_ptr<const CDeviceConfig> CPocketDevice::EditConfig(
    const std::function<void(CDeviceConfig&)>& edit) {
    std::lock_guard<std::mutex> lock(configLock_);
    CDeviceConfig changed = *config_;
    edit(changed);
    changed = Fitted(std::move(changed));
    config_ = std::make_shared<const CDeviceConfig>(std::move(changed));
    return config_;
}

bool CPocketDevice::ReadDeviceFile(const std::string& path) {
    CLineReader reader(path);
    if (!reader.IsOpen()) return false;
    CDeviceConfig config;
    bool inSignature = false;
    std::string raw;
    while (reader.Next(raw)) ParseDeviceFileLine(StripLineEnd(raw), config, inSignature);
    FinishDeviceFile(config);
    if (reader.SkippedLines() > 0) {
        AddLiveTraceF("%zu over-long lines skipped in %s", reader.SkippedLines(), path.c_str());
    }
    config.filePath = path;
    SetConfig(std::move(config));
    OpenProfile();
    return true;
}

bool CPocketDevice::WriteDeviceFile(const std::string& path) const {
    std::shared_ptr<const CDeviceConfig> config = Config();
    const std::string& target = path.empty() ? config->filePath : path;
    if (target.empty()) return false;
    std::string error;
    if (!WriteFileAtomically(target, SerializeDeviceFile(*config), error)) {
        AddLiveTraceF("%s cannot be written: %s", target.c_str(), error.c_str());
        return false;
    }
    return true;
}

std::shared_ptr<CPocketDevice> CPocketDevice::MakeDevice(const std::string& deviceId,
                                                         const std::string& newFilePath) const {
    std::shared_ptr<const CDeviceConfig> user = Config();
    CDeviceConfig config;
    config.Name = user->Name;
    config.Passwort = user->Passwort;
    config.ProfileName = user->ProfileName;
    config.folders = user->folders;
    config.DeviceID = deviceId;
    config.filePath = newFilePath;
    return std::make_shared<CPocketDevice>(std::move(config));
}
