#include "server/itemconv/item_matching.h"

#include "server/config/live_trace.h"
#include "server/itemconv/element_map.h"

namespace {

// The property the kind pairs by and the element's key, or tag 0 for a kind that
// never pairs.
ULONG NameKey(IMAPIFolderPtr& folder, const CWBXMLLiterals& fields, const std::string& folderKind,
              std::string& key) {
    if (folderKind == "Contacts") {
        key = FindValue(fields, kItemContact, kTokenContactFileAs);
        return folder.GetIDFromName(PSETID_Address, kLidFileAs, PT_STRING8, MAPI_CREATE);
    }
    if (folderKind == "Task") {
        key = FindValue(fields, kItemTask, kTokenTaskSubject);
        return PR_SUBJECT;
    }
    if (folderKind == "Appointment") {
        key = FindValue(fields, kItemAppointment, kTokenAppointmentSubject);
        return PR_SUBJECT;
    }
    return 0;
}

const char* ItemClassOf(const std::string& folderKind) {
    if (folderKind == "Contacts" || folderKind == "Contact") return "IPM.Contact";
    if (folderKind == "Task") return "IPM.Task";
    if (folderKind == "Appointment") return "IPM.Appointment";
    return nullptr;
}

}  // namespace

namespace {

// The first item, in table order, whose keyTag holds key and that eligible takes
// (the first of all when eligible is empty). Each is found through the store's
// index from the row after the last, so a large folder is not read whole.
CByteBuffer FirstItemWithKey(IMAPIFolderPtr& folder, ULONG keyTag, const std::string& key,
                             const std::function<bool(const std::string& itemKey)>& eligible) {
    IMAPITablePtr table = folder.GetContentsTable();
    table.SetColumns(CPropTagArray{PR_ENTRYID});
    CPropValue value = CPropValue::String8(keyTag, key);
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = keyTag;
    restriction.res.resProperty.lpProp = value.Get();
    for (BOOKMARK from = BOOKMARK_BEGINNING; table.FindRow(&restriction, from);
         from = BOOKMARK_CURRENT) {
        CRowSet rows = table.QueryRows(1);
        if (rows.Empty()) return CByteBuffer();
        CByteBuffer id = CRowSet::Binary(rows[0], PR_ENTRYID);
        if (!eligible || (!id.Empty() && eligible(id.ToText()))) return id;
    }
    return CByteBuffer();
}

}  // namespace

CByteBuffer FindItemByKey(IMAPIFolderPtr& folder, ULONG keyTag, const std::string& key) {
    if (key.empty()) return CByteBuffer();
    return FirstItemWithKey(folder, keyTag, key, nullptr);
}

CByteBuffer FindTwin(IMAPIFolderPtr& folder, const CWBXMLLiterals& fields,
                     const std::string& folderKind,
                     const std::function<bool(const std::string& itemKey)>& eligible) {
    std::string key;
    ULONG keyTag = NameKey(folder, fields, folderKind, key);
    if (keyTag == 0 || key.empty()) return CByteBuffer();
    // Every item of that name until one may be paired.
    return FirstItemWithKey(folder, keyTag, key, eligible);
}

IMessagePtr CreateItem(IMAPIFolderPtr& folder, const std::string& folderKind) {
    IMessagePtr message = folder.CreateMessage();
    if (const char* itemClass = ItemClassOf(folderKind))
        message.SetStrProp(PR_MESSAGE_CLASS, itemClass);
    return message;
}

IMessagePtr FindOrCreateItem(IMAPIFolderPtr& folder, const CWBXMLLiterals& fields,
                             const std::string& folderKind) {
    try {
        CByteBuffer twin = FindTwin(folder, fields, folderKind, nullptr);
        if (!twin.Empty()) return folder.OpenMessage(twin, MAPI_BEST_ACCESS);
        return CreateItem(folder, folderKind);
    } catch (const CMAPIException& e) {
        AddLiveTraceF("FindOrCreateItem: %s", e.what());
        return IMessagePtr();
    }
}
