// The wrappers of the store's property objects below the store: folders,
// containers, messages, attachments and plain property objects. Each holds one
// reference to its interface and releases it when destroyed or reassigned; copies
// share the object (and copy the batch state).
//
// Not shared between threads; each request builds its own from its session.
#pragma once

#include <string>
#include <vector>

#include "common/base/limits.h"
#include "platform/mapi/mapi.h"
#include "server/mapi/gen_mapi_cont_ptr.h"
#include "server/mapi/gen_mapi_prop_ptr.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_ref.h"
#include "server/mapi/mapi_table_ptr.h"

class IMessagePtr;
class IAttachPtr;

// The reference and its accessors, shared by every wrapper.
template <class Interface>
class CMapiPropHolder : public CGenMapiPropPtr {
public:
    CMapiPropHolder() = default;
    explicit CMapiPropHolder(CMapiRef<Interface> ref) : ref_(std::move(ref)) {}

    Interface* GetMapiProp() const override { return ref_.Get(); }
    Interface* Get() const { return ref_.Get(); }
    explicit operator bool() const { return static_cast<bool>(ref_); }
    // Releases the object and forgets the batch.
    void Reset() {
        DropBatch();
        ref_.Reset();
    }

protected:
    // The object; raises CMAPIException (MAPI_E_INVALID_OBJECT, place) when there is none.
    Interface* Require(const char* place) const {
        if (!ref_) throw CMAPIException(MAPI_E_INVALID_OBJECT, place);
        return ref_.Get();
    }

    CMapiRef<Interface> ref_;
};

class IMAPIFolderPtr : public CMapiPropHolder<IMAPIFolder>, public CGenMapiContPtr {
public:
    using CMapiPropHolder::CMapiPropHolder;
    // The object's IMAPIFolder interface; raises CMAPIException
    // ("IMAPIFolderPtr::FromUnknown") when it offers none.
    static IMAPIFolderPtr FromUnknown(IUnknown* object);

    IMAPIContainer* GetMapiContainer() const override { return ref_.Get(); }

    // A new message in this folder (exists for others after its SaveChanges).
    // Raises ("IMAPIFolderPtr::CreateMessage").
    IMessagePtr CreateMessage(ULONG flags = 0);
    // A sub-folder; with OPEN_IF_EXISTS an existing one of that name. Raises
    // ("IMAPIFolderPtr::CreateFolder"), MAPI_E_COLLISION for an existing name without
    // OPEN_IF_EXISTS.
    IMAPIFolderPtr CreateFolder(const std::string& name, ULONG flags = OPEN_IF_EXISTS,
                                ULONG folderType = FOLDER_GENERIC);
    // Copies (MESSAGE_MOVE: moves) messages of this folder to target, in one
    // transaction. Raises ("IMAPIFolderPtr::CopyMessages").
    void CopyMessages(const std::vector<CByteBuffer>& entryIds, const IMAPIFolderPtr& target,
                      ULONG flags);
    // Deletes messages of this folder for good. Raises ("IMAPIFolderPtr::DeleteMessages").
    void DeleteMessages(const std::vector<CByteBuffer>& entryIds);
    // Marks messages read (CLEAR_READ_FLAG: unread). Raises
    // ("IMAPIFolderPtr::SetReadFlags").
    void SetReadFlags(const std::vector<CByteBuffer>& entryIds, ULONG flags);

    // The display names from the top of the store down to this folder, joined with
    // "\" (folders without a name are left out). The walk up the parents stops at
    // the root (no parent, or a parent equal to the folder), at a folder already
    // seen, at a parent that cannot be opened, or after kMaxFolderDepth levels, so a
    // damaged store cannot make it run forever. Store errors end the walk; never
    // raises for them.
    std::string GetFullPath();
};

class IMAPIContainerPtr : public CMapiPropHolder<IMAPIContainer>, public CGenMapiContPtr {
public:
    using CMapiPropHolder::CMapiPropHolder;
    // The object's IMAPIContainer interface; raises CMAPIException
    // ("IMAPIContainerPtr::FromUnknown") when it offers none.
    static IMAPIContainerPtr FromUnknown(IUnknown* object);

    IMAPIContainer* GetMapiContainer() const override { return ref_.Get(); }
};

class IMessagePtr : public CMapiPropHolder<IMessage> {
public:
    using CMapiPropHolder::CMapiPropHolder;
    // The object's IMessage interface; raises CMAPIException
    // ("IMessagePtr::FromUnknown") when it offers none.
    static IMessagePtr FromUnknown(IUnknown* object);

    // Raises ("IMessagePtr::GetAttachmentTable").
    IMAPITablePtr GetAttachmentTable();
    // Raises ("IMessagePtr::GetRecipientTable").
    IMAPITablePtr GetRecipientTable();
    // Raises ("IMessagePtr::OpenAttach"), MAPI_E_NOT_FOUND for an unknown number.
    IAttachPtr OpenAttach(ULONG number, ULONG flags = MAPI_BEST_ACCESS);
    // A new attachment; number (may be null) receives its PR_ATTACH_NUM. Raises
    // ("IMessagePtr::CreateAttach").
    IAttachPtr CreateAttach(ULONG* number = nullptr);
};

class IAttachPtr : public CMapiPropHolder<IAttach> {
public:
    using CMapiPropHolder::CMapiPropHolder;
    // The object's IAttach interface; raises CMAPIException
    // ("IAttachPtr::FromUnknown") when it offers none.
    static IAttachPtr FromUnknown(IUnknown* object);
};

class IMAPIPropPtr : public CMapiPropHolder<IMAPIProp> {
public:
    using CMapiPropHolder::CMapiPropHolder;
    // The object's IMAPIProp interface; raises CMAPIException
    // ("IMAPIPropPtr::FromUnknown") when it offers none.
    static IMAPIPropPtr FromUnknown(IUnknown* object);
};
