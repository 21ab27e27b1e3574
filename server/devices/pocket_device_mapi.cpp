// CPocketDevice: the MAPI log-on, the configured and default folders, folder paths
// and opening entries by key.
#include <set>

#include "common/base/text.h"
#include "server/config/live_trace.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_status_calls.h"

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
    session.Reset();
    folders.clear();
    for (const CFolderSetting& setting : config->folders) folders.emplace_back(setting);
    HRESULT error = S_OK;
    CMapiRef<IMAPISession> newSession = LogonProfile(config->ProfileName, error);
    if (!newSession) {
        lastLogonError = error;
        return false;
    }
    lastLogonError = S_OK;
    session = newSession;
    for (CPocketFolder& folder : folders) {
        folder.mapiFolder =
            OpenConfiguredFolder(config->ProfileName, session.Get(), folder.outlookPath);
        if (folder.mapiFolder) {
            folder.kind = KindForContainerClass(
                GetStringProperty(folder.mapiFolder.Get(), PR_CONTAINER_CLASS));
        }
    }
    return true;
}

void CPocketDevice::FindDefaultFolders() {
    for (std::string& id : defaultFolders) id.clear();
    ipmSubtree.clear();
    if (!session) OpenProfile();
    if (session) {
        for (const CStoreRow& row : ListStores(session.Get())) {
            if (!row.isDefault) continue;
            CMapiRef<IMsgStore> store = OpenStore(session.Get(), row.entryId);
            if (!store) continue;
            IMsgStore* s = store.Get();
            defaultFolders[kSlotInbox] = ReceiveFolderId(s, "IPM");
            defaultFolders[kSlotOutbox] = GetBinaryProperty(s, PR_IPM_OUTBOX_ENTRYID);
            defaultFolders[kSlotDeletedItems] = GetBinaryProperty(s, PR_IPM_WASTEBASKET_ENTRYID);
            defaultFolders[kSlotSentItems] = GetBinaryProperty(s, PR_IPM_SENTMAIL_ENTRYID);
            ipmSubtree = GetBinaryProperty(s, PR_IPM_SUBTREE_ENTRYID);
            CMapiRef<IMAPIFolder> inbox = OpenFolderEntry(s, defaultFolders[kSlotInbox]);
            if (!inbox) continue;
            IMAPIFolder* in = inbox.Get();
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
        std::string id = GetBinaryProperty(folder.mapiFolder.Get(), PR_ENTRYID);
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
    CMapiRef<IMAPIFolder> holder;
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
        holder = OpenFolderEntry(session.Get(), parent);
        current = holder.Get();
    }
    return path;
}

CMapiRef<IMAPIFolder> CPocketDevice::OpenMAPIFolder(const std::string& key) const {
    std::optional<std::string> id = HexDecode(key);
    if (!id || id->empty() || !session) return {};
    for (const CStoreRow& row : ListStores(session.Get())) {
        if (row.entryId.empty()) {
            AddLiveTrace("CPocketDevice::OpenMAPIFolder: cb = 0, aborting");
            return {};
        }
        CMapiRef<IMsgStore> store = OpenStore(session.Get(), row.entryId);
        if (!store) continue;
        if (CMapiRef<IMAPIFolder> folder = OpenFolderEntry(store.Get(), *id)) return folder;
    }
    return {};
}

CMapiRef<IMessage> CPocketDevice::OpenMessage(const std::string& key) const {
    std::optional<std::string> id = HexDecode(key);
    if (!id || id->empty() || !session) return {};
    for (const CStoreRow& row : ListStores(session.Get())) {
        CMapiRef<IMsgStore> store = OpenStore(session.Get(), row.entryId);
        if (!store) continue;
        if (CMapiRef<IMessage> message = OpenMessageEntry(store.Get(), *id)) return message;
    }
    return {};
}
