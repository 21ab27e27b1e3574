// Messages: in-memory edits, recipients, attachments, and the save transaction.
#include "platform/mapi/message_impl.h"

#include <algorithm>

#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/objects.h"
#include "platform/mapi/table_impl.h"
#include "platform/mapi/table_sources.h"

namespace mapistore {

namespace {

constexpr ULONG kMaxRecipients = 100000;
constexpr ULONG kMaxAttachments = 100000;

const std::vector<ULONG> kAttachComputed = {PROP_ID(PR_ATTACH_NUM), PROP_ID(PR_OBJECT_TYPE),
                                            PROP_ID(PR_ATTACH_SIZE)};

class AttachImpl : public PropObject<IAttach> {
public:
    AttachImpl(MessageImpl* message, std::shared_ptr<StoreDb> db, ULONG num, PropMap props,
               bool writable)
        : PropObject(std::move(db), writable),
          message_(ComPtr<IMessage>::Share(message)),
          owner_(message),
          num_(num) {
        props_ = std::move(props);
        // The size is always derived; a value stored by an earlier version is dropped.
        props_.erase(PROP_ID(PR_ATTACH_SIZE));
    }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IAttach>(this, riid, ppv, IID_IMAPIProp, IID_IAttachment);
    }

protected:
    Computed ComputedValue(ULONG id, Value& out) override {
        if (id == PROP_ID(PR_ATTACH_NUM)) {
            out = Value::Long(num_);
            return Computed::kValue;
        }
        if (id == PROP_ID(PR_OBJECT_TYPE)) {
            out = Value::Long(MAPI_ATTACH);
            return Computed::kValue;
        }
        if (id == PROP_ID(PR_ATTACH_SIZE)) {
            out = Value::Long(AttachmentSize(props_));
            return Computed::kValue;
        }
        return Computed::kNo;
    }
    // Writers that set the size themselves keep working: a 32-bit value is taken
    // and dropped, since the size follows the attachment's properties.
    HRESULT SetSpecial(ULONG id, const Value& v, bool& handled) override {
        handled = false;
        if (id != PROP_ID(PR_ATTACH_SIZE)) return S_OK;
        if (v.type != PT_LONG) return MAPI_E_INVALID_TYPE;
        handled = true;
        return S_OK;
    }
    const std::vector<ULONG>& ComputedIdList() override { return kAttachComputed; }
    bool IsReadOnly(ULONG id) override {
        return id == PROP_ID(PR_ATTACH_NUM) || id == PROP_ID(PR_OBJECT_TYPE);
    }
    HRESULT Persist() override {
        HRESULT hr = owner_->PutAttachment(num_, props_);
        if (FAILED(hr)) return hr;
        dirty_.clear();
        deleted_.clear();
        return S_OK;
    }

private:
    ComPtr<IMessage> message_;  // keeps the message alive
    MessageImpl* owner_;
    ULONG num_;
};

}  // namespace

MessageImpl::MessageImpl(std::shared_ptr<StoreDb> db, const ObjectRow& folder,
                         const ObjectRow* existing, bool writable)
    : PropObject(std::move(db), writable), folder_(folder) {
    if (existing != nullptr) {
        row_ = *existing;
    } else {
        row_.kind = MAPI_MESSAGE;
        row_.parent = folder.id;
        row_.eid = StoreDb::NewRandomBytes(kObjectEidBytes);
        attachmentsLoaded_ = true;
        recipientsLoaded_ = true;
    }
}

HRESULT MessageImpl::Load() {
    if (row_.id == 0) return S_OK;
    return db_->LoadProps(row_.id, props_);
}

HRESULT MessageImpl::QueryInterface(REFIID riid, LPVOID* ppv) {
    return AnswerQueryInterface<IMessage>(this, riid, ppv, IID_IMAPIProp, IID_IMessage);
}

HRESULT MessageImpl::LoadAttachments() {
    if (attachmentsLoaded_) return S_OK;
    std::vector<ObjectRow> kids;
    HRESULT hr = db_->Children(row_.id, MAPI_ATTACH, kids);
    if (FAILED(hr)) return hr;
    std::map<ULONG, Attachment> loaded;
    ULONG next = 0;
    for (const ObjectRow& kid : kids) {
        Attachment a;
        a.id = kid.id;
        a.eid = kid.eid;
        if (FAILED(hr = db_->LoadProps(kid.id, a.props))) return hr;
        loaded[kid.num] = std::move(a);
        next = std::max(next, kid.num + 1);
    }
    attachments_ = std::move(loaded);
    nextAttachNum_ = next;
    attachmentsLoaded_ = true;
    return S_OK;
}

HRESULT MessageImpl::LoadRecipients() {
    if (recipientsLoaded_) return S_OK;
    std::vector<ObjectRow> kids;
    HRESULT hr = db_->Children(row_.id, MAPI_MAILUSER, kids);
    if (FAILED(hr)) return hr;
    std::vector<Recipient> loaded;
    for (const ObjectRow& kid : kids) {
        Recipient r;
        r.rowid = kid.num;
        if (FAILED(hr = db_->LoadProps(kid.id, r.props))) return hr;
        loaded.push_back(std::move(r));
    }
    recipients_ = std::move(loaded);
    recipientsLoaded_ = true;
    return S_OK;
}

std::vector<PropMap> MessageImpl::AttachmentRows() {
    std::vector<PropMap> rows;
    for (const auto& [num, a] : attachments_) {
        PropMap row = a.props;
        row[PROP_ID(PR_ATTACH_NUM)] = Value::Long(num);
        row[PROP_ID(PR_OBJECT_TYPE)] = Value::Long(MAPI_ATTACH);
        row[PROP_ID(PR_RECORD_KEY)] = Value::Binary(a.eid);
        row[PROP_ID(PR_ATTACH_SIZE)] = Value::Long(AttachmentSize(a.props));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<PropMap> MessageImpl::RecipientRows() {
    std::vector<PropMap> rows;
    for (const Recipient& r : recipients_) {
        PropMap row = r.props;
        row[PROP_ID(PR_ROWID)] = Value::Long(r.rowid);
        row[PROP_ID(PR_OBJECT_TYPE)] = Value::Long(MAPI_MAILUSER);
        rows.push_back(std::move(row));
    }
    return rows;
}

HRESULT MessageImpl::GetAttachmentTable(ULONG flags, LPMAPITABLE* table) {
    if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS)) != 0) return MAPI_E_UNKNOWN_FLAGS;
    return OpenTable(PR_MESSAGE_ATTACHMENTS, flags, table);
}

HRESULT MessageImpl::GetRecipientTable(ULONG flags, LPMAPITABLE* table) {
    if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS)) != 0) return MAPI_E_UNKNOWN_FLAGS;
    return OpenTable(PR_MESSAGE_RECIPIENTS, flags, table);
}

HRESULT MessageImpl::OpenTable(ULONG tag, ULONG, LPMAPITABLE* table) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr;
    if (tag == PR_MESSAGE_ATTACHMENTS) {
        if (FAILED(hr = LoadAttachments())) return hr;
        return CreateTable(
            MakeStaticSource(AttachmentRows(),
                             {PR_ATTACH_NUM, PR_INSTANCE_KEY, PR_RECORD_KEY, PR_ATTACH_METHOD,
                              PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME, PR_ATTACH_SIZE}),
            table);
    }
    if (tag == PR_MESSAGE_RECIPIENTS) {
        if (FAILED(hr = LoadRecipients())) return hr;
        return CreateTable(
            MakeStaticSource(RecipientRows(), {PR_ROWID, PR_INSTANCE_KEY, PR_RECIPIENT_TYPE,
                                               PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE}),
            table);
    }
    return MAPI_E_NO_SUPPORT;
}

HRESULT MessageImpl::OpenAttach(ULONG num, LPCIID iid, ULONG flags, LPATTACH* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~(MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    if (!InterfaceServed(iid, IID_IMAPIProp, IID_IAttachment))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    *out = nullptr;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = LoadAttachments();
    if (FAILED(hr)) return hr;
    auto it = attachments_.find(num);
    if (it == attachments_.end()) return MAPI_E_NOT_FOUND;
    const bool writable =
        (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0 && CheckWritable() == S_OK;
    *out = new AttachImpl(this, db_, num, it->second.props, writable);
    return S_OK;
}

HRESULT MessageImpl::CreateAttach(LPCIID iid, ULONG flags, ULONG* num, LPATTACH* out) {
    if (out == nullptr || num == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~MAPI_DEFERRED_ERRORS) != 0) return MAPI_E_UNKNOWN_FLAGS;
    if (!InterfaceServed(iid, IID_IMAPIProp, IID_IAttachment))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    *out = nullptr;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = LoadAttachments())) return hr;
    if (attachments_.size() >= kMaxAttachments) return MAPI_E_TOO_BIG;
    *num = nextAttachNum_++;
    *out = new AttachImpl(this, db_, *num, PropMap(), true);
    return S_OK;
}

HRESULT MessageImpl::DeleteAttach(ULONG num, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) {
    if ((flags & ~MAPI_DIALOG) != 0) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = LoadAttachments())) return hr;
    auto it = attachments_.find(num);
    if (it == attachments_.end()) return MAPI_E_NOT_FOUND;
    if (it->second.id != 0) removedAttachments_.push_back(it->second.id);
    attachments_.erase(it);
    return S_OK;
}

HRESULT MessageImpl::PutAttachment(ULONG num, const PropMap& props) {
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = LoadAttachments())) return hr;
    Attachment& a = attachments_[num];
    if (a.eid.empty()) a.eid = StoreDb::NewRandomBytes(kObjectEidBytes);
    a.props = props;
    a.dirty = true;
    return S_OK;
}

HRESULT MessageImpl::ModifyRecipients(ULONG flags, LPADRLIST mods) {
    if (mods == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (flags != 0 && flags != MODRECIP_ADD && flags != MODRECIP_MODIFY && flags != MODRECIP_REMOVE)
        return MAPI_E_UNKNOWN_FLAGS;
    if (mods->cEntries > kMaxRecipients) return MAPI_E_TOO_BIG;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = LoadRecipients())) return hr;
    // Parse everything first, so a bad entry changes nothing.
    std::vector<Recipient> parsed;
    for (ULONG k = 0; k < mods->cEntries; ++k) {
        const ADRENTRY& e = mods->aEntries[k];
        if (e.cValues > 0 && e.rgPropVals == nullptr) return MAPI_E_INVALID_PARAMETER;
        Recipient r;
        bool hasRowId = false;
        for (ULONG j = 0; j < e.cValues; ++j) {
            const SPropValue& pv = e.rgPropVals[j];
            if (pv.ulPropTag == PR_ROWID) {
                r.rowid = pv.Value.ul;
                hasRowId = true;
                continue;
            }
            if (PROP_TYPE(pv.ulPropTag) == PT_ERROR || PROP_TYPE(pv.ulPropTag) == PT_NULL) continue;
            Value v;
            if (FAILED(hr = FromSPropValue(pv, v))) return hr;
            r.props[PROP_ID(pv.ulPropTag)] = std::move(v);
        }
        if ((flags == MODRECIP_MODIFY || flags == MODRECIP_REMOVE) && !hasRowId)
            return MAPI_E_INVALID_PARAMETER;
        parsed.push_back(std::move(r));
    }
    std::vector<Recipient> result = flags == 0 ? std::vector<Recipient>() : recipients_;
    ULONG next = 0;
    for (const Recipient& r : result) next = std::max(next, r.rowid + 1);
    for (Recipient& r : parsed) {
        if (flags == 0 || flags == MODRECIP_ADD) {
            r.rowid = next++;
            result.push_back(std::move(r));
        } else {
            auto it = std::find_if(result.begin(), result.end(),
                                   [&](const Recipient& x) { return x.rowid == r.rowid; });
            if (it == result.end()) return MAPI_E_NOT_FOUND;
            if (flags == MODRECIP_MODIFY)
                *it = std::move(r);
            else
                result.erase(it);
        }
    }
    if (result.size() > kMaxRecipients) return MAPI_E_TOO_BIG;
    recipients_ = std::move(result);
    recipientsDirty_ = true;
    return S_OK;
}

HRESULT MessageImpl::SubmitMessage(ULONG) { return MAPI_E_NO_SUPPORT; }

HRESULT MessageImpl::SetReadFlag(ULONG flags) {
    constexpr ULONG known = SUPPRESS_RECEIPT | CLEAR_READ_FLAG | GENERATE_RECEIPT_ONLY |
                            CLEAR_RN_PENDING | CLEAR_NRN_PENDING | MAPI_DEFERRED_ERRORS;
    if ((flags & ~known) != 0) return MAPI_E_UNKNOWN_FLAGS;
    if ((flags & GENERATE_RECEIPT_ONLY) != 0) return S_OK;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    const ULONG newFlags =
        (flags & CLEAR_READ_FLAG) ? (row_.flags & ~MSGFLAG_READ) : (row_.flags | MSGFLAG_READ);
    if (row_.id == 0) {
        row_.flags = newFlags;
        flagsDirty_ = true;
        return S_OK;
    }
    WriteTransaction tx(db_->db());
    HRESULT hr = tx.status();
    if (FAILED(hr)) return hr;
    SqliteStmt& q = db_->Cached("UPDATE objects SET flags = (flags & ~1) | ?2 WHERE id = ?1");
    if (FAILED(q.status())) return q.status();
    q.BindInt(1, row_.id);
    q.BindInt(2, newFlags & MSGFLAG_READ);
    if (FAILED(hr = q.Run())) return hr;
    if (sqlite3_changes(db_->db().handle()) != 1) return MAPI_E_OBJECT_DELETED;
    if (FAILED(hr = tx.Commit())) return hr;
    row_.flags = newFlags;
    return S_OK;
}

Computed MessageImpl::ComputedValue(ULONG id, Value& out) {
    if (id == PROP_ID(PR_HASATTACH)) {
        if (!attachmentsLoaded_) {
            SqliteStmt& q =
                db_->Cached("SELECT 1 FROM objects WHERE parent = ?1 AND kind = 7 LIMIT 1");
            if (FAILED(q.status())) return Computed::kAbsent;
            q.BindInt(1, row_.id);
            const bool any = q.Step();
            q.Reset();
            out = Value::Bool(any);
            return Computed::kValue;
        }
        out = Value::Bool(!attachments_.empty());
        return Computed::kValue;
    }
    if (id == PROP_ID(PR_MESSAGE_SIZE)) {
        std::uint64_t size = 0;
        for (const auto& [pid, v] : props_) size += ValueSize(v);
        out = Value::Long(static_cast<std::int64_t>(std::min<std::uint64_t>(size, 0x7FFFFFFF)));
        return Computed::kValue;
    }
    if (row_.id == 0 &&
        (id == PROP_ID(PR_CREATION_TIME) || id == PROP_ID(PR_LAST_MODIFICATION_TIME)))
        return Computed::kAbsent;  // not saved yet
    const bool knownParent = row_.parent == folder_.id && !folder_.eid.empty();
    return ComputedProp(*db_, row_, knownParent ? &folder_.eid : nullptr, id, out);
}

const std::vector<ULONG>& MessageImpl::ComputedIdList() {
    static const std::vector<ULONG> ids = [] {
        std::vector<ULONG> all = ComputedIds(MAPI_MESSAGE);
        all.push_back(PROP_ID(PR_HASATTACH));
        all.push_back(PROP_ID(PR_MESSAGE_SIZE));
        return all;
    }();
    return ids;
}

bool MessageImpl::IsReadOnly(ULONG id) { return IsComputedId(MAPI_MESSAGE, id); }

HRESULT MessageImpl::SetSpecial(ULONG id, const Value& v, bool& handled) {
    handled = false;
    if (id != PROP_ID(PR_MESSAGE_FLAGS)) return S_OK;
    if (v.type != PT_LONG) return MAPI_E_INVALID_TYPE;
    handled = true;
    row_.flags = static_cast<ULONG>(v.i);
    flagsDirty_ = true;
    return S_OK;
}

bool MessageImpl::SavesOnlyNewRows() const {
    if (row_.id != 0 || !removedAttachments_.empty()) return false;
    auto small = [](const PropMap& props) {
        for (const auto& [pid, v] : props)
            if (v.large != nullptr) return false;
        return true;
    };
    if (!small(props_)) return false;
    for (const Recipient& r : recipients_)
        if (!small(r.props)) return false;
    for (const auto& [num, a] : attachments_)
        if (a.id != 0 || !small(a.props)) return false;
    return true;
}

HRESULT MessageImpl::Persist() {
    // A first save adds the message's rows and nothing else: should it fail half-way,
    // removing them undoes it. (Large values are left to a savepoint: their chunk
    // rows are written before the props row that would take them along.)
    WriteTransaction tx(
        db_->db(), SavesOnlyNewRows() ? WriteTransaction::kAddsOnly : WriteTransaction::kAnyChange);
    HRESULT hr = tx.status();
    if (FAILED(hr)) return hr;
    ObjectRow saved = row_;
    if (saved.id == 0) {
        ObjectRow folder;
        if (FAILED(hr = db_->LoadObject(folder_.id, folder)))
            return hr == MAPI_E_NOT_FOUND ? MAPI_E_OBJECT_DELETED : hr;
        saved.parent = folder.id;
        saved.modified = StoreDb::NextModificationTime(0);
        saved.created = saved.modified;
        if (FAILED(hr = db_->InsertObject(saved))) return hr;
        tx.UndoBy([db = db_.get(), id = saved.id] { return db->DeleteTree(id); });
        if (FAILED(hr = db_->WriteNewProps(saved.id, props_))) return hr;
    } else {
        ObjectRow current;
        hr = db_->LoadObject(saved.id, current);
        if (hr == MAPI_E_NOT_FOUND) return MAPI_E_OBJECT_DELETED;
        if (FAILED(hr)) return hr;
        saved.parent = current.parent;  // it may have been moved meanwhile
        saved.created = current.created;
        saved.modified = StoreDb::NextModificationTime(std::max(current.modified, row_.modified));
        if (!flagsDirty_) saved.flags = current.flags;
        if (FAILED(hr = db_->UpdateObject(saved))) return hr;
        if (FAILED(hr = db_->WriteProps(saved.id, props_, dirty_, deleted_))) return hr;
    }
    if (recipientsDirty_) {
        std::vector<ObjectRow> old;
        if (FAILED(hr = db_->Children(saved.id, MAPI_MAILUSER, old))) return hr;
        for (const ObjectRow& r : old)
            if (FAILED(hr = db_->DeleteTree(r.id))) return hr;
        for (const Recipient& r : recipients_) {
            ObjectRow row;
            row.kind = MAPI_MAILUSER;
            row.parent = saved.id;
            row.num = r.rowid;
            row.created = row.modified = saved.modified;
            if (FAILED(hr = db_->InsertObject(row))) return hr;
            if (FAILED(hr = db_->WriteNewProps(row.id, r.props))) return hr;
        }
    }
    for (std::int64_t id : removedAttachments_)
        if (FAILED(hr = db_->DeleteTree(id))) return hr;
    std::map<ULONG, std::int64_t> newIds;
    for (auto& [num, a] : attachments_) {
        if (!a.dirty) continue;
        std::int64_t id = a.id;
        if (id == 0) {
            ObjectRow row;
            row.kind = MAPI_ATTACH;
            row.parent = saved.id;
            row.num = num;
            row.eid = a.eid;
            row.created = row.modified = saved.modified;
            if (FAILED(hr = db_->InsertObject(row))) return hr;
            id = row.id;
        } else {
            // Only the properties it no longer has go: a large value it keeps stays
            // where it is instead of being removed and written again.
            std::vector<std::int64_t> gone;
            SqliteStmt& have = db_->Cached("SELECT pid FROM props WHERE obj = ?1");
            if (FAILED(have.status())) return have.status();
            have.BindInt(1, id);
            while (have.Step())
                if (a.props.count(static_cast<ULONG>(have.ColumnInt(0))) == 0)
                    gone.push_back(have.ColumnInt(0));
            if (FAILED(have.status())) return have.status();
            SqliteStmt& del = db_->Cached("DELETE FROM props WHERE obj = ?1 AND pid = ?2");
            if (FAILED(del.status())) return del.status();
            for (std::int64_t pid : gone) {
                del.Reset();
                del.BindInt(1, id);
                del.BindInt(2, pid);
                if (FAILED(hr = del.Run())) return hr;
            }
        }
        hr = a.id == 0 ? db_->WriteNewProps(id, a.props) : db_->WriteAllProps(id, a.props);
        if (FAILED(hr)) return hr;
        newIds[num] = id;
    }
    if (FAILED(hr = tx.Commit())) return hr;
    // Only now does the object take the saved state.
    row_ = saved;
    dirty_.clear();
    deleted_.clear();
    flagsDirty_ = false;
    recipientsDirty_ = false;
    removedAttachments_.clear();
    for (auto& [num, a] : attachments_) {
        if (!a.dirty) continue;
        a.id = newIds[num];
        a.dirty = false;
    }
    return S_OK;
}

HRESULT NewMessage(std::shared_ptr<StoreDb> db, const ObjectRow& folder, const ObjectRow* existing,
                   bool writable, LPMESSAGE* out) {
    ComPtr<MessageImpl> message(new MessageImpl(std::move(db), folder, existing, writable));
    HRESULT hr = message->Load();
    if (FAILED(hr)) return hr;
    *out = message.detach();
    return S_OK;
}

}  // namespace mapistore
