// Folders, containers, messages, attachments and plain property objects.
#include "server/mapi/mapi_item_ptrs.h"

#include <algorithm>
#include <set>

#include "server/mapi/adapter_calls.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_query.h"

namespace {

// An entry list over the identifiers; valid while they are.
struct CEntryList {
    explicit CEntryList(const std::vector<CByteBuffer>& ids) {
        binaries.reserve(ids.size());
        for (const CByteBuffer& id : ids) binaries.push_back(id.AsBinary());
        list.cValues = static_cast<ULONG>(binaries.size());
        list.lpbin = binaries.empty() ? nullptr : binaries.data();
    }
    std::vector<SBinary> binaries;
    ENTRYLIST list{};
};

}  // namespace

IMAPIFolderPtr IMAPIFolderPtr::FromUnknown(IUnknown* object) {
    return IMAPIFolderPtr(MapiQueryAs<IMAPIFolder>(object, "IMAPIFolderPtr::FromUnknown"));
}
IMAPIContainerPtr IMAPIContainerPtr::FromUnknown(IUnknown* object) {
    return IMAPIContainerPtr(MapiQueryAs<IMAPIContainer>(object, "IMAPIContainerPtr::FromUnknown"));
}
IMessagePtr IMessagePtr::FromUnknown(IUnknown* object) {
    return IMessagePtr(MapiQueryAs<IMessage>(object, "IMessagePtr::FromUnknown"));
}
IAttachPtr IAttachPtr::FromUnknown(IUnknown* object) {
    return IAttachPtr(MapiQueryAs<IAttach>(object, "IAttachPtr::FromUnknown"));
}
IMAPIPropPtr IMAPIPropPtr::FromUnknown(IUnknown* object) {
    return IMAPIPropPtr(MapiQueryAs<IMAPIProp>(object, "IMAPIPropPtr::FromUnknown"));
}

// ---- folders -----------------------------------------------------------------------------

IMessagePtr IMAPIFolderPtr::CreateMessage(ULONG flags) {
    constexpr const char* kPlace = "IMAPIFolderPtr::CreateMessage";
    IMAPIFolder* folder = Require(kPlace);
    CMapiRef<IMessage> message;
    MapiCheck(folder->CreateMessage(nullptr, flags, message.Put()), kPlace, folder);
    if (!message) throw CMAPIException(MAPI_E_CALL_FAILED, kPlace);
    return IMessagePtr(std::move(message));
}

IMAPIFolderPtr IMAPIFolderPtr::CreateFolder(const std::string& name, ULONG flags,
                                            ULONG folderType) {
    constexpr const char* kPlace = "IMAPIFolderPtr::CreateFolder";
    IMAPIFolder* folder = Require(kPlace);
    std::string copy = name;
    CMapiRef<IMAPIFolder> created;
    MapiCheck(folder->CreateFolder(folderType, copy.data(), nullptr, nullptr, flags, created.Put()),
              kPlace, folder);
    if (!created) throw CMAPIException(MAPI_E_CALL_FAILED, kPlace);
    return IMAPIFolderPtr(std::move(created));
}

void IMAPIFolderPtr::CopyMessages(const std::vector<CByteBuffer>& entryIds,
                                  const IMAPIFolderPtr& target, ULONG flags) {
    constexpr const char* kPlace = "IMAPIFolderPtr::CopyMessages";
    IMAPIFolder* folder = Require(kPlace);
    if (!target) throw CMAPIException(MAPI_E_INVALID_OBJECT, kPlace);
    CEntryList list(entryIds);
    MapiCheck(folder->CopyMessages(&list.list, nullptr, target.Get(), 0, nullptr, flags), kPlace,
              folder);
}

void IMAPIFolderPtr::DeleteMessages(const std::vector<CByteBuffer>& entryIds) {
    constexpr const char* kPlace = "IMAPIFolderPtr::DeleteMessages";
    IMAPIFolder* folder = Require(kPlace);
    CEntryList list(entryIds);
    MapiCheck(folder->DeleteMessages(&list.list, 0, nullptr, 0), kPlace, folder);
}

void IMAPIFolderPtr::SetReadFlags(const std::vector<CByteBuffer>& entryIds, ULONG flags) {
    constexpr const char* kPlace = "IMAPIFolderPtr::SetReadFlags";
    IMAPIFolder* folder = Require(kPlace);
    CEntryList list(entryIds);
    MapiCheck(folder->SetReadFlags(&list.list, 0, nullptr, flags), kPlace, folder);
}

std::string IMAPIFolderPtr::GetFullPath() {
    std::vector<std::string> names;  // from this folder upwards
    std::set<std::string> seen;      // entry identifiers as key text
    IMAPIFolderPtr current(ref_);
    try {
        for (int depth = 0; depth < kMaxFolderDepth && current; ++depth) {
            CByteBuffer id = current.GetEntryID();
            if (!seen.insert(id.ToText()).second) break;
            CPropValue parent;
            if (FAILED(current.GetOneProp(PR_PARENT_ENTRYID, parent)) ||
                parent.Type() != PT_BINARY || parent->Value.bin.cb == 0)
                break;  // the root: its name is not part of the path
            CByteBuffer parentId(parent->Value.bin);
            if (parentId == id) break;
            std::string name = current.GetPropText(PR_DISPLAY_NAME);
            if (!name.empty()) names.push_back(std::move(name));
            current = current.OpenFolder(parentId, 0);
        }
    } catch (const CMAPIException&) {
        // The path built so far.
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty()) path += '\\';
        path += *it;
    }
    return path;
}

// ---- messages ------------------------------------------------------------------------------

IMAPITablePtr IMessagePtr::GetAttachmentTable() {
    constexpr const char* kPlace = "IMessagePtr::GetAttachmentTable";
    return TakeTable(Require(kPlace), &IMessage::GetAttachmentTable, 0, kPlace);
}

IMAPITablePtr IMessagePtr::GetRecipientTable() {
    constexpr const char* kPlace = "IMessagePtr::GetRecipientTable";
    return TakeTable(Require(kPlace), &IMessage::GetRecipientTable, 0, kPlace);
}

IAttachPtr IMessagePtr::OpenAttach(ULONG number, ULONG flags) {
    constexpr const char* kPlace = "IMessagePtr::OpenAttach";
    IMessage* message = Require(kPlace);
    CMapiRef<IAttach> attach;
    MapiCheck(message->OpenAttach(number, nullptr, flags, attach.Put()), kPlace, message);
    if (!attach) throw CMAPIException(MAPI_E_NOT_FOUND, kPlace);
    return IAttachPtr(std::move(attach));
}

IAttachPtr IMessagePtr::CreateAttach(ULONG* number) {
    constexpr const char* kPlace = "IMessagePtr::CreateAttach";
    IMessage* message = Require(kPlace);
    CMapiRef<IAttach> attach;
    ULONG created = 0;
    MapiCheck(message->CreateAttach(nullptr, 0, &created, attach.Put()), kPlace, message);
    if (!attach) throw CMAPIException(MAPI_E_CALL_FAILED, kPlace);
    if (number) *number = created;
    return IAttachPtr(std::move(attach));
}
