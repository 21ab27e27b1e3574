// CPocketDevice: the MAPI log-on, the configured and default folders, folder paths
// and opening entries by key.
#include <set>

#include "common/base/text.h"
#include "server/config/live_trace.h"
#include "server/devices/mapi_access.h"
#include "server/devices/pocket_device.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The kind of a folder from its container class; later tests win.
int32_t KindForContainerClass(const std::string& containerClass) {
    int32_t kind = kKindEmail;
    if (StartsWith(containerClass, "IPF.Contact")) kind = kKindContact;
    if (StartsWith(containerClass, "IPF.Task")) kind = kKindTask;
    if (StartsWith(containerClass, "IPF.Appointment")) kind = kKindAppointment;
    if (StartsWith(containerClass, "IPF.Note") || StartsWith(containerClass, "IPF.Post")) {
        kind = kKindEmail;
    }
    return kind;
}

}  // namespace

bool CPocketDevice::OpenProfile() {
    std::shared_ptr<const CDeviceConfig> config = Config();
    session.reset();
    folders.clear();
    for (const CFolderSetting& setting : config->folders) folders.emplace_back(setting);
    HRESULT error = S_OK;
    MapiShared<IMAPISession> newSession = LogonProfile(config->ProfileName, error);
    if (!newSession) {
        lastLogonError = error;
        return false;
    }
    lastLogonError = S_OK;
    session = newSession;
    for (CPocketFolder& folder : folders) {
        folder.mapiFolder =
            OpenConfiguredFolder(config->ProfileName, session.get(), folder.outlookPath);
        if (folder.mapiFolder) {
            folder.kind = KindForContainerClass(
                GetStringProperty(folder.mapiFolder.get(), PR_CONTAINER_CLASS));
        }
    }
    return true;
}

void CPocketDevice::FindDefaultFolders() {
    for (std::string& id : defaultFolders) id.clear();
    ipmSubtree.clear();
    if (!session) OpenProfile();
    if (session) {
        for (const CStoreRow& row : ListStores(session.get())) {
            if (!row.isDefault) continue;
            MapiShared<IMsgStore> store = OpenStore(session.get(), row.entryId);
            if (!store) continue;
            IMsgStore* s = store.get();
            defaultFolders[kSlotInbox] = ReceiveFolderId(s, "IPM");
            defaultFolders[kSlotOutbox] = GetBinaryProperty(s, PR_IPM_OUTBOX_ENTRYID);
            defaultFolders[kSlotDeletedItems] = GetBinaryProperty(s, PR_IPM_WASTEBASKET_ENTRYID);
            defaultFolders[kSlotSentItems] = GetBinaryProperty(s, PR_IPM_SENTMAIL_ENTRYID);
            ipmSubtree = GetBinaryProperty(s, PR_IPM_SUBTREE_ENTRYID);
            MapiShared<IMAPIFolder> inbox = OpenFolderEntry(s, defaultFolders[kSlotInbox]);
            if (!inbox) continue;
            IMAPIFolder* in = inbox.get();
            defaultFolders[kSlotCalendar] = GetBinaryProperty(in, PR_IPM_APPOINTMENT_ENTRYID);
            defaultFolders[kSlotContacts] = GetBinaryProperty(in, PR_IPM_CONTACT_ENTRYID);
            defaultFolders[kSlotDrafts] = GetBinaryProperty(in, PR_IPM_DRAFTS_ENTRYID);
            defaultFolders[kSlotJournal] = GetBinaryProperty(in, PR_IPM_JOURNAL_ENTRYID);
            defaultFolders[kSlotNotes] = GetBinaryProperty(in, PR_IPM_NOTE_ENTRYID);
            defaultFolders[kSlotTasks] = GetBinaryProperty(in, PR_IPM_TASK_ENTRYID);
        }
    }
    OpenProfile();
    for (const CPocketFolder& folder : folders) {
        int slot = DefaultFolderSlotForCode(folder.defaultCode);
        if (!folder.mapiFolder || slot < 0) continue;
        std::string id = GetBinaryProperty(folder.mapiFolder.get(), PR_ENTRYID);
        if (!id.empty()) defaultFolders[slot] = id;
    }
}

std::string CPocketDevice::GetShortName(IMAPIFolder* folder) const {
    std::string id = GetBinaryProperty(folder, PR_ENTRYID);
    if (!id.empty()) {
        static const std::pair<DefaultFolderSlot, const char*> kCodes[] = {
            {kSlotInbox, "-4"},     {kSlotDrafts, "-5"},  {kSlotDeletedItems, "-8"},
            {kSlotSentItems, "-7"}, {kSlotOutbox, "-6"},  {kSlotTasks, "-2"},
            {kSlotCalendar, "-3"},  {kSlotContacts, "-1"}};
        for (const auto& [slot, code] : kCodes) {
            if (defaultFolders[slot] == id) return code;
        }
    }
    return GetStringProperty(folder, PR_DISPLAY_NAME);
}

std::string CPocketDevice::GetFolderPath(IMAPIFolder* folder) const {
    std::string path;
    MapiShared<IMAPIFolder> holder;
    IMAPIFolder* current = folder;
    std::set<std::string> visited;
    for (int depth = 0; current != nullptr && depth < kMaxFolderDepth; ++depth) {
        std::string id = GetBinaryProperty(current, PR_ENTRYID);
        if (id.empty() || id == ipmSubtree || !visited.insert(id).second) break;
        std::string name = GetShortName(current);
        if (name.empty()) {
            size_t slash = path.find('/');
            path = slash == std::string::npos ? std::string() : path.substr(slash + 1);
            break;
        }
        path = path.empty() ? name : name + "/" + path;
        std::string parent = GetBinaryProperty(current, PR_PARENT_ENTRYID);
        if (parent.empty() || !session) break;
        holder = OpenFolderEntry(session.get(), parent);
        current = holder.get();
    }
    return path;
}

MapiShared<IMAPIFolder> CPocketDevice::OpenMAPIFolder(const std::string& key) const {
    std::optional<std::string> id = HexDecode(key);
    if (!id || id->empty() || !session) return nullptr;
    for (const CStoreRow& row : ListStores(session.get())) {
        if (row.entryId.empty()) {
            AddLiveTrace("CPocketDevice::OpenMAPIFolder: cb = 0, aborting");
            return nullptr;
        }
        MapiShared<IMsgStore> store = OpenStore(session.get(), row.entryId);
        if (!store) continue;
        if (MapiShared<IMAPIFolder> folder = OpenFolderEntry(store.get(), *id)) return folder;
    }
    return nullptr;
}

MapiShared<IMessage> CPocketDevice::OpenMessage(const std::string& key) const {
    std::optional<std::string> id = HexDecode(key);
    if (!id || id->empty() || !session) return nullptr;
    for (const CStoreRow& row : ListStores(session.get())) {
        MapiShared<IMsgStore> store = OpenStore(session.get(), row.entryId);
        if (!store) continue;
        if (MapiShared<IMessage> message = OpenMessageEntry(store.get(), *id)) return message;
    }
    return nullptr;
}
