// CGenMapiContPtr: tables and OpenEntry of containers.
#include "server/mapi/gen_mapi_cont_ptr.h"

#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/table_getter.h"

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
    IMAPIContainer* container = Checked(kPlace);
    if (entryId.Empty()) throw CMAPIException(MAPI_E_INVALID_ENTRYID, kPlace);
    ULONG type = 0;
    CMapiRef<IUnknown> object;
    MapiCheck(container->OpenEntry(entryId.EntryIdSize(), entryId.EntryId(), nullptr, flags, &type,
                                   object.Put()),
              kPlace, container);
    if (!object) throw CMAPIException(MAPI_E_NOT_FOUND, kPlace);
    if (objectType) *objectType = type;
    return object;
}

IMAPIFolderPtr CGenMapiContPtr::OpenFolder(const CByteBuffer& entryId, ULONG flags) {
    return IMAPIFolderPtr::FromUnknown(OpenEntry(entryId, flags).Get());
}

IMessagePtr CGenMapiContPtr::OpenMessage(const CByteBuffer& entryId, ULONG flags) {
    return IMessagePtr::FromUnknown(OpenEntry(entryId, flags).Get());
}
