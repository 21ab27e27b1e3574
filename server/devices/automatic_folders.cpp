// The default folders of a profile, as "Automatisch" adds them.
#include "server/devices/automatic_folders.h"

#include "server/mapi/mapi_status_calls.h"

namespace {

void AddFolder(CAutomaticFolders& result, IMsgStore* store, const std::string& entryId,
               int32_t code) {
    CMapiRef<IMAPIFolder> folder = OpenFolderEntry(store, entryId);
    std::string path = folder ? FolderFullPath(store, folder.Get()) : std::string();
    if (path.empty()) {
        result.problems.push_back("CDlgUser::AddFolder: the default folder " +
                                  std::to_string(code) + " cannot be opened");
        return;
    }
    CFolderSetting added;
    added.outlookPath = path;
    size_t separator = path.find('\\');
    added.virtualPath = separator == std::string::npos ? std::string() : path.substr(separator + 1);
    added.subfolders = 0;
    added.defaultCode = code;
    added.kind = KindForDefaultCode(code);
    result.folders.push_back(std::move(added));
}

}  // namespace

CAutomaticFolders FindAutomaticFolders(IMAPISession* session) {
    CAutomaticFolders result;
    CMapiRef<IMsgStore> store;
    for (const CStoreRow& row : ListStores(session)) {
        if (row.isDefault) {
            store = OpenStore(session, row.entryId);
            break;
        }
    }
    if (!store) {
        result.problems.push_back("CDlgUser::OnBnClickedButtonAuto: no default message store");
        return result;
    }
    IMsgStore* s = store.Get();
    std::string inboxId = ReceiveFolderId(s, "IPM");
    AddFolder(result, s, GetBinaryProperty(s, PR_IPM_OUTBOX_ENTRYID), kDefaultOutbox);
    AddFolder(result, s, GetBinaryProperty(s, PR_IPM_WASTEBASKET_ENTRYID), kDefaultDeletedItems);
    AddFolder(result, s, GetBinaryProperty(s, PR_IPM_SENTMAIL_ENTRYID), kDefaultSentItems);
    AddFolder(result, s, inboxId, kDefaultInbox);
    CMapiRef<IMAPIFolder> inbox = OpenFolderEntry(s, inboxId);
    AddFolder(result, s, GetBinaryProperty(inbox.Get(), PR_IPM_CONTACT_ENTRYID), kDefaultContacts);
    AddFolder(result, s, GetBinaryProperty(inbox.Get(), PR_IPM_TASK_ENTRYID), kDefaultTasks);
    AddFolder(result, s, GetBinaryProperty(inbox.Get(), PR_IPM_APPOINTMENT_ENTRYID),
              kDefaultCalendar);
    return result;
}
