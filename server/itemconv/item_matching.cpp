#include "server/itemconv/item_matching.h"

#include "server/config/live_trace.h"
#include "server/itemconv/element_map.h"

CByteBuffer FindItemByKey(IMAPIFolderPtr& folder, ULONG keyTag, const std::string& key) {
    if (key.empty()) return CByteBuffer();
    IMAPITablePtr table = folder.GetContentsTable();
    table.SetColumns(CPropTagArray{PR_ENTRYID});
    CPropValue value = CPropValue::String8(keyTag, key);
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = keyTag;
    restriction.res.resProperty.lpProp = value.Get();
    if (!table.FindRow(&restriction, BOOKMARK_BEGINNING)) return CByteBuffer();
    CRowSet rows = table.QueryRows(1);
    if (rows.Empty()) return CByteBuffer();
    return CRowSet::Binary(rows[0], PR_ENTRYID);
}

IMessagePtr FindOrCreateItem(IMAPIFolderPtr& folder, const CWBXMLLiterals& fields,
                             const std::string& folderKind) {
    try {
        ULONG keyTag = 0;
        std::string key;
        const char* itemClass = nullptr;
        if (folderKind == "Contacts" || folderKind == "Contact") {
            keyTag = folder.GetIDFromName(PSETID_Address, kLidFileAs, PT_STRING8, MAPI_CREATE);
            key = FindValue(fields, kItemContact, kTokenContactFileAs);
            itemClass = "IPM.Contact";
        } else if (folderKind == "Task") {
            keyTag = PR_SUBJECT;
            key = FindValue(fields, kItemTask, kTokenTaskSubject);
            itemClass = "IPM.Task";
        } else if (folderKind == "Appointment") {
            keyTag = PR_SUBJECT;
            key = FindValue(fields, kItemAppointment, kTokenAppointmentSubject);
            itemClass = "IPM.Appointment";
        }
        if (keyTag != 0) {
            CByteBuffer entryId = FindItemByKey(folder, keyTag, key);
            if (!entryId.Empty()) return folder.OpenMessage(entryId, MAPI_BEST_ACCESS);
        }
        IMessagePtr message = folder.CreateMessage();
        if (itemClass) message.SetStrProp(PR_MESSAGE_CLASS, itemClass);
        return message;
    } catch (const CMAPIException& e) {
        AddLiveTraceF("FindOrCreateItem: %s", e.what());
        return IMessagePtr();
    }
}
