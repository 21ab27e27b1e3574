// IMessage and IAttach. A message keeps its properties, recipients and attachments
// in memory from opening until SaveChanges writes them in one transaction, so
// changes stay invisible to others until then. An attachment object edits a copy;
// its SaveChanges hands the copy to its message.
#pragma once

#include <map>

#include "platform/mapi/prop_object.h"

namespace mapistore {

class MessageImpl : public PropObject<IMessage> {
public:
    MessageImpl(std::shared_ptr<StoreDb> db, const ObjectRow& folder, const ObjectRow* existing,
                bool writable);
    HRESULT Load();

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override;
    HRESULT GetAttachmentTable(ULONG flags, LPMAPITABLE* table) override;
    HRESULT OpenAttach(ULONG num, LPCIID iid, ULONG flags, LPATTACH* out) override;
    HRESULT CreateAttach(LPCIID iid, ULONG flags, ULONG* num, LPATTACH* out) override;
    HRESULT DeleteAttach(ULONG num, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override;
    HRESULT GetRecipientTable(ULONG flags, LPMAPITABLE* table) override;
    HRESULT ModifyRecipients(ULONG flags, LPADRLIST mods) override;
    HRESULT SubmitMessage(ULONG flags) override;
    HRESULT SetReadFlag(ULONG flags) override;

    // Called by an attachment's SaveChanges (under the store mutex).
    HRESULT PutAttachment(ULONG num, const PropMap& props);

protected:
    Computed ComputedValue(ULONG id, Value& out) override;
    const std::vector<ULONG>& ComputedIdList() override;
    bool IsReadOnly(ULONG id) override;
    HRESULT SetSpecial(ULONG id, const Value& v, bool& handled) override;
    HRESULT Persist() override;
    HRESULT OpenTable(ULONG tag, ULONG flags, LPMAPITABLE* table) override;

private:
    struct Attachment {
        std::int64_t id = 0;  // 0: not stored yet
        std::string eid;
        PropMap props;
        bool dirty = false;
    };
    struct Recipient {
        ULONG rowid = 0;
        PropMap props;
    };
    // True for a first save that only adds rows (no large values among them).
    bool SavesOnlyNewRows() const;
    HRESULT LoadAttachments();
    HRESULT LoadRecipients();
    std::vector<PropMap> AttachmentRows();
    std::vector<PropMap> RecipientRows();

    ObjectRow row_;     // id 0 until the first save; eid chosen at creation
    ObjectRow folder_;  // the folder it was opened in or created in
    bool flagsDirty_ = false;
    bool attachmentsLoaded_ = false;
    std::map<ULONG, Attachment> attachments_;
    std::vector<std::int64_t> removedAttachments_;
    ULONG nextAttachNum_ = 0;
    bool recipientsLoaded_ = false;
    bool recipientsDirty_ = false;
    std::vector<Recipient> recipients_;
};

}  // namespace mapistore
