// CPocketDevice: reading and writing the record's file, making devices from users.
#include "server/config/pocket_device.h"

#include "common/base/atomic_file.h"
#include "server/config/device_file.h"
#include "server/config/live_trace.h"
#include "server/config/text_file.h"

int32_t KindForDefaultCode(int32_t code) {
    switch (code) {
        case kDefaultContacts:
            return kKindContact;
        case kDefaultTasks:
            return kKindTask;
        case kDefaultCalendar:
            return kKindAppointment;
        default:
            return kKindEmail;
    }
}

int DefaultFolderSlotForCode(int32_t code) {
    switch (code) {
        case kDefaultContacts:
            return kSlotContacts;
        case kDefaultTasks:
            return kSlotTasks;
        case kDefaultCalendar:
            return kSlotCalendar;
        case kDefaultInbox:
            return kSlotInbox;
        case kDefaultDrafts:
            return kSlotDrafts;
        case kDefaultOutbox:
            return kSlotOutbox;
        case kDefaultSentItems:
            return kSlotSentItems;
        case kDefaultDeletedItems:
            return kSlotDeletedItems;
        default:
            return -1;
    }
}

CPocketFolder CPocketFolder::CopySettings() const {
    CPocketFolder copy;
    copy.outlookPath = outlookPath;
    copy.virtualPath = virtualPath;
    copy.subfolders = subfolders;
    copy.defaultCode = defaultCode;
    copy.reserved = reserved;
    copy.kind = kind;
    copy.mapiFolder = mapiFolder;
    return copy;
}

bool CPocketDevice::ReadDeviceFile(const std::string& path) {
    CLineReader reader(path);
    if (!reader.IsOpen()) return false;
    Signatur.clear();
    bool inSignature = false;
    std::string raw;
    while (reader.Next(raw)) ParseDeviceFileLine(StripLineEnd(raw), *this, inSignature);
    FinishDeviceFile(*this);
    if (reader.SkippedLines() > 0) {
        AddLiveTraceF("%zu over-long lines skipped in %s", reader.SkippedLines(), path.c_str());
    }
    filePath = path;
    OpenProfile();
    return true;
}

bool CPocketDevice::WriteDeviceFile(const std::string& path) const {
    const std::string& target = path.empty() ? filePath : path;
    if (target.empty()) return false;
    std::string error;
    if (!WriteFileAtomically(target, SerializeDeviceFile(*this), error)) {
        AddLiveTraceF("%s cannot be written: %s", target.c_str(), error.c_str());
        return false;
    }
    return true;
}

std::shared_ptr<CPocketDevice> CPocketDevice::MakeDevice(const std::string& deviceId,
                                                         const std::string& newFilePath) const {
    auto device = std::make_shared<CPocketDevice>();
    device->Name = Name;
    device->Passwort = Passwort;
    device->ProfileName = ProfileName;
    device->session = session;
    device->lastLogonError = lastLogonError;
    device->folders.reserve(folders.size());
    for (const CPocketFolder& folder : folders) device->folders.push_back(folder.CopySettings());
    device->DeviceID = deviceId;
    device->filePath = newFilePath;
    return device;
}
