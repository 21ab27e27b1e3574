// CGenMapiContPtr: tables and OpenEntry of containers.
#include "server/mapi/gen_mapi_cont_ptr.h"

#include "server/mapi/adapter_calls.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_item_ptrs.h"

IMAPIContainer* CGenMapiContPtr::Checked(const char* place) const {
    IMAPIContainer* container = GetMapiContainer();
    if (container == nullptr) throw CMAPIException(MAPI_E_INVALID_OBJECT, place);
    return container;
}

IMAPITablePtr CGenMapiContPtr::GetContentsTable(ULONG flags) {
    constexpr const char* kPlace = "CGenMapiContPtr::_rawContentsTable";
    return TakeTable(Checked(kPlace), &IMAPIContainer::GetContentsTable, flags, kPlace);
}

IMAPITablePtr CGenMapiContPtr::GetHierarchyTable(ULONG flags) {
    constexpr const char* kPlace = "CGenMapiContPtr::_rawHierrarchyTable";
    return TakeTable(Checked(kPlace), &IMAPIContainer::GetHierarchyTable, flags, kPlace);
}

CMapiRef<IUnknown> CGenMapiContPtr::OpenEntry(const CByteBuffer& entryId, ULONG flags,
                                              ULONG* objectType) {
    constexpr const char* kPlace = "CGenMapiContPtr::OpenEntry";
    return OpenEntryThrough(Checked(kPlace), entryId, flags, objectType, kPlace);
}

IMAPIFolderPtr CGenMapiContPtr::OpenFolder(const CByteBuffer& entryId, ULONG flags) {
    return IMAPIFolderPtr::FromUnknown(OpenEntry(entryId, flags).Get());
}

IMessagePtr CGenMapiContPtr::OpenMessage(const CByteBuffer& entryId, ULONG flags) {
    return IMessagePtr::FromUnknown(OpenEntry(entryId, flags).Get());
}
