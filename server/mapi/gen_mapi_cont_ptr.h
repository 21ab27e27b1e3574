// CGenMapiContPtr: the container half of a wrapped folder or container: its
// contents and hierarchy tables and opening entries of its store by identifier.
//
// Not shared between threads; each request builds its own from its session.
#pragma once

#include "platform/mapi/mapi.h"
#include "server/mapi/byte_buffer.h"
#include "server/mapi/mapi_ref.h"
#include "server/mapi/mapi_table_ptr.h"

class IMAPIFolderPtr;
class IMessagePtr;

class CGenMapiContPtr {
public:
    virtual ~CGenMapiContPtr() = default;

    // The wrapped container interface; null when the wrapper holds none.
    virtual IMAPIContainer* GetMapiContainer() const = 0;

    // The messages of the container (GetContentsTable). Raises CMAPIException
    // ("CGenMapiContPtr::_rawContentsTable").
    IMAPITablePtr GetContentsTable(ULONG flags = 0);
    // The sub-folders (GetHierarchyTable). Raises
    // ("CGenMapiContPtr::_rawHierrarchyTable").
    IMAPITablePtr GetHierarchyTable(ULONG flags = 0);
    // Opens a folder or message of the same store. objectType (may be null) receives
    // MAPI_FOLDER or MAPI_MESSAGE. Raises ("CGenMapiContPtr::OpenEntry") with the
    // store's failure, or MAPI_E_INVALID_ENTRYID for an empty identifier (the store
    // would take it for its root folder).
    CMapiRef<IUnknown> OpenEntry(const CByteBuffer& entryId, ULONG flags,
                                 ULONG* objectType = nullptr);
    // OpenEntry for a folder or a message; MAPI_E_INTERFACE_NOT_SUPPORTED when the
    // entry is of the other kind.
    IMAPIFolderPtr OpenFolder(const CByteBuffer& entryId, ULONG flags = MAPI_BEST_ACCESS);
    IMessagePtr OpenMessage(const CByteBuffer& entryId, ULONG flags = MAPI_BEST_ACCESS);

protected:
    CGenMapiContPtr() = default;
    CGenMapiContPtr(const CGenMapiContPtr&) = default;
    CGenMapiContPtr& operator=(const CGenMapiContPtr&) = default;

private:
    IMAPIContainer* Checked(const char* place) const;
};
