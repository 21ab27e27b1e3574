// The folders and items offered to a device.
#include "server/store/offered_folders.h"

#include <set>

#include "server/config/mapi_access.h"
#include "server/config/pocket_device.h"

namespace {

// Entry IDs of the configured folders that are open and of the default folders.
std::set<std::string> OfferedRoots(const CPocketDevice& device) {
    std::set<std::string> roots;
    for (const CPocketFolder& folder : device.folders) {
        if (!folder.mapiFolder) continue;
        std::string id = GetBinaryProperty(folder.mapiFolder.get(), PR_ENTRYID);
        if (!id.empty()) roots.insert(std::move(id));
    }
    for (const std::string& id : device.defaultFolders) {
        if (!id.empty()) roots.insert(id);
    }
    return roots;
}

}  // namespace

bool IsFolderOffered(const CPocketDevice& device, const std::string& folderId) {
    if (folderId.empty() || !device.session) return false;
    const std::set<std::string> roots = OfferedRoots(device);
    std::set<std::string> visited;
    std::string current = folderId;
    for (int depth = 0; depth <= CPocketDevice::kMaxFolderDepth; ++depth) {
        if (roots.count(current) != 0) return true;
        if (current == device.ipmSubtree || !visited.insert(current).second) return false;
        MapiShared<IMAPIFolder> folder = OpenFolderEntry(device.session.get(), current);
        if (!folder) return false;
        std::string parent = GetBinaryProperty(folder.get(), PR_PARENT_ENTRYID);
        if (parent.empty()) return false;
        current = std::move(parent);
    }
    return false;
}

bool IsFolderKeyOffered(const CPocketDevice& device, const std::string& folderKey) {
    std::optional<std::string> id = BytesFromHex(folderKey);
    return id && IsFolderOffered(device, *id);
}

EntryPlace LocateItem(const CPocketDevice& device, const std::string& itemKey) {
    MapiShared<IMessage> message = device.OpenMessage(itemKey);
    if (!message) return EntryPlace::kMissing;
    std::string parent = GetBinaryProperty(message.get(), PR_PARENT_ENTRYID);
    return IsFolderOffered(device, parent) ? EntryPlace::kOffered : EntryPlace::kRefused;
}

bool IsItemOffered(const CPocketDevice& device, const std::string& itemKey) {
    return LocateItem(device, itemKey) == EntryPlace::kOffered;
}
