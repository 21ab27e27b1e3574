// The folders and items offered to a device.
#include "server/store/offered_folders.h"

#include <map>
#include <set>

#include "common/base/limits.h"
#include "common/base/text.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_status_calls.h"

namespace {

// The configured folders by entry ID, each with whether its sub-folders count too.
// A folder named by a default code counts by that default folder's entry ID as
// well. Default folders that the record does not list are not among them.
std::map<std::string, bool> OfferedRoots(const CPocketDevice& device) {
    std::map<std::string, bool> roots;
    auto add = [&](std::string id, bool subfolders) {
        if (id.empty()) return;
        bool& withSubfolders = roots[std::move(id)];
        withSubfolders = withSubfolders || subfolders;
    };
    for (const CPocketFolder& folder : device.folders) {
        bool subfolders = folder.subfolders != 0;
        if (folder.mapiFolder)
            add(GetBinaryProperty(folder.mapiFolder.Get(), PR_ENTRYID), subfolders);
        int slot = DefaultFolderSlotForCode(folder.defaultCode);
        if (slot >= 0) add(device.defaultFolders[static_cast<size_t>(slot)], subfolders);
    }
    return roots;
}

}  // namespace

bool IsFolderOffered(const CPocketDevice& device, const std::string& folderId) {
    if (folderId.empty() || !device.session) return false;
    const std::map<std::string, bool> roots = OfferedRoots(device);
    std::set<std::string> visited;
    std::string current = folderId;
    for (int depth = 0; depth <= kMaxFolderDepth; ++depth) {
        auto root = roots.find(current);
        // The folder itself, or an ancestor whose record takes its sub-folders.
        if (root != roots.end() && (depth == 0 || root->second)) return true;
        if (current == device.ipmSubtree || !visited.insert(current).second) return false;
        CMapiRef<IMAPIFolder> folder = OpenFolderEntry(device.session.Get(), current);
        if (!folder) return false;
        std::string parent = GetBinaryProperty(folder.Get(), PR_PARENT_ENTRYID);
        if (parent.empty()) return false;
        current = std::move(parent);
    }
    return false;
}

bool IsFolderKeyOffered(const CPocketDevice& device, const std::string& folderKey) {
    std::optional<std::string> id = HexDecode(folderKey);
    return id && IsFolderOffered(device, *id);
}

EntryPlace LocateItem(const CPocketDevice& device, const std::string& itemKey) {
    CMapiRef<IMessage> message = device.OpenMessage(itemKey);
    if (!message) return EntryPlace::kMissing;
    std::string parent = GetBinaryProperty(message.Get(), PR_PARENT_ENTRYID);
    return IsFolderOffered(device, parent) ? EntryPlace::kOffered : EntryPlace::kRefused;
}

bool IsItemOffered(const CPocketDevice& device, const std::string& itemKey) {
    return LocateItem(device, itemKey) == EntryPlace::kOffered;
}
