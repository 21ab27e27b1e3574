// IMAPIFolder: folder properties, tables, messages and sub-folders.
#include <strings.h>

#include <mutex>

#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/objects.h"
#include "platform/mapi/prop_object.h"
#include "platform/mapi/table_sources.h"

namespace mapistore {

namespace {

constexpr std::size_t kMaxFolderNameChars = 256;
constexpr ULONG kMaxListEntries = 1u << 20;

class FolderImpl : public PropObject<IMAPIFolder> {
public:
    FolderImpl(std::shared_ptr<StoreDb> db, const ObjectRow& row, bool writable)
        : PropObject(std::move(db), writable), row_(row) {}

    HRESULT Load() { return db_->LoadProps(row_.id, props_); }
    const ObjectRow& row() const { return row_; }
    bool writable() const { return writable_; }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IMAPIFolder>(this, riid, ppv, IID_IMAPIProp, IID_IMAPIContainer,
                                                 IID_IMAPIFolder);
    }

    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        if ((flags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS | MAPI_ASSOCIATED)) != 0)
            return MAPI_E_UNKNOWN_FLAGS;
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        HRESULT hr = Refresh();
        if (FAILED(hr)) return hr;
        if ((flags & MAPI_ASSOCIATED) != 0)  // no folder-associated messages in this engine
            return CreateTable(MakeStaticSource({}, {PR_ENTRYID, PR_INSTANCE_KEY}), table);
        return CreateTable(MakeContentsSource(db_, row_), table);
    }

    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        if ((flags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS | CONVENIENT_DEPTH)) != 0)
            return MAPI_E_UNKNOWN_FLAGS;
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        HRESULT hr = Refresh();
        if (FAILED(hr)) return hr;
        return CreateTable(MakeHierarchySource(db_, row_, (flags & CONVENIENT_DEPTH) != 0), table);
    }

    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override {
        return OpenEntryInStore(db_, cb, eid, iid, flags, type, out);
    }

    HRESULT CreateMessage(LPCIID iid, ULONG flags, LPMESSAGE* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        if ((flags & ~MAPI_DEFERRED_ERRORS) != 0)
            return (flags & MAPI_ASSOCIATED) ? MAPI_E_NO_SUPPORT : MAPI_E_UNKNOWN_FLAGS;
        if (!InterfaceServed(iid, IID_IMAPIProp, IID_IMessage))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        *out = nullptr;
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        HRESULT hr = CheckWritable();
        if (FAILED(hr)) return hr;
        if (FAILED(hr = Refresh())) return hr;
        return NewMessage(db_, row_, nullptr, true, out);
    }

    HRESULT CopyMessages(LPENTRYLIST list, LPCIID, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS,
                         ULONG flags) override;
    HRESULT DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override;
    HRESULT CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID iid, ULONG flags,
                         LPMAPIFOLDER* out) override;
    HRESULT DeleteFolder(ULONG cb, LPENTRYID eid, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override;
    HRESULT SetReadFlags(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override;

protected:
    HRESULT Refresh() override {
        HRESULT hr = db_->LoadObject(row_.id, row_);
        if (hr == MAPI_E_NOT_FOUND) return MAPI_E_OBJECT_DELETED;
        if (FAILED(hr)) return hr;
        return Load();
    }
    Computed ComputedValue(ULONG id, Value& out) override {
        return ComputedProp(*db_, row_, nullptr, id, out);
    }
    const std::vector<ULONG>& ComputedIdList() override { return ComputedIds(MAPI_FOLDER); }
    bool IsReadOnly(ULONG id) override { return IsComputedId(MAPI_FOLDER, id); }
    bool WriteThrough() const override { return true; }
    HRESULT Persist() override {
        WriteTransaction tx(db_->db());
        HRESULT hr = tx.status();
        if (FAILED(hr)) return hr;
        ObjectRow current;
        if (FAILED(hr = db_->LoadObject(row_.id, current)))
            return hr == MAPI_E_NOT_FOUND ? MAPI_E_OBJECT_DELETED : hr;
        current.modified = StoreDb::NextModificationTime(current.modified);
        if (FAILED(hr = db_->UpdateObject(current))) return hr;
        if (FAILED(hr = db_->WriteProps(row_.id, props_, dirty_, deleted_))) return hr;
        if (FAILED(hr = tx.Commit())) return hr;
        row_ = current;
        dirty_.clear();
        deleted_.clear();
        return S_OK;
    }
    HRESULT OpenTable(ULONG tag, ULONG, LPMAPITABLE* table) override {
        if (tag == PR_CONTAINER_CONTENTS) return CreateTable(MakeContentsSource(db_, row_), table);
        if (tag == PR_CONTAINER_HIERARCHY)
            return CreateTable(MakeHierarchySource(db_, row_, false), table);
        return MAPI_E_NO_SUPPORT;
    }

private:
    // The rows of the listed messages, all of them in this folder; MAPI_E_NOT_FOUND
    // for an entry that is not, MAPI_E_INVALID_ENTRYID for one of another form.
    HRESULT ResolveList(LPENTRYLIST list, std::vector<ObjectRow>& rows) {
        if (list == nullptr || (list->cValues > 0 && list->lpbin == nullptr))
            return MAPI_E_INVALID_PARAMETER;
        if (list->cValues > kMaxListEntries) return MAPI_E_TOO_BIG;
        rows.clear();
        for (ULONG k = 0; k < list->cValues; ++k) {
            std::string objectEid;
            HRESULT hr = db_->ObjectEidOf(list->lpbin[k].cb, list->lpbin[k].lpb, objectEid);
            if (FAILED(hr)) return hr;
            ObjectRow row;
            if (FAILED(hr = db_->LoadObjectByEid(objectEid, row))) return hr;
            if (row.kind != MAPI_MESSAGE || row.parent != row_.id) return MAPI_E_NOT_FOUND;
            rows.push_back(row);
        }
        return S_OK;
    }

    int Depth() {
        int depth = 0;
        ObjectRow cur = row_;
        while (cur.parent != 0 && depth <= kMaxFolderDepth) {
            if (FAILED(db_->LoadObject(cur.parent, cur))) break;
            ++depth;
        }
        return depth;
    }

    ObjectRow row_;
};

HRESULT FolderImpl::CopyMessages(LPENTRYLIST list, LPCIID, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS,
                                 ULONG flags) {
    if (dest == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~(MESSAGE_MOVE | MESSAGE_DIALOG | MAPI_DECLINE_OK)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    std::shared_ptr<StoreDb> destDb;
    ObjectRow destRow;
    bool destWritable = false;
    if (!FolderIdentity(dest, destDb, destRow, destWritable)) return MAPI_E_INVALID_PARAMETER;
    if (!destWritable) return MAPI_E_NO_ACCESS;
    const bool move = (flags & MESSAGE_MOVE) != 0;
    HRESULT hr;
    if (destDb == db_) {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        if (move && FAILED(hr = CheckWritable())) return hr;
        WriteTransaction tx(db_->db());
        if (FAILED(hr = tx.status())) return hr;
        std::vector<ObjectRow> rows;
        if (FAILED(hr = ResolveList(list, rows))) return hr;
        ObjectRow target;
        if (FAILED(hr = db_->LoadObject(destRow.id, target)))
            return hr == MAPI_E_NOT_FOUND ? MAPI_E_OBJECT_DELETED : hr;
        for (ObjectRow& row : rows) {
            if (move) {
                row.parent = target.id;  // the entry identifier stays
                if (FAILED(hr = db_->UpdateObject(row))) return hr;
            } else {
                ObjectRow copy;
                if (FAILED(hr = db_->CopyTree(row.id, target.id, copy))) return hr;
            }
        }
        return tx.Commit();
    }
    // Another store: copies only; a move there is refused.
    if (move) return MAPI_E_NO_SUPPORT;
    std::scoped_lock lock(Mutex(), destDb->mutex());
    std::vector<ObjectTree> trees;
    {
        std::vector<ObjectRow> rows;
        if (FAILED(hr = ResolveList(list, rows))) return hr;
        for (const ObjectRow& row : rows) {
            trees.emplace_back();
            if (FAILED(hr = db_->LoadTree(row.id, trees.back()))) return hr;
        }
    }
    WriteTransaction tx(destDb->db());
    if (FAILED(hr = tx.status())) return hr;
    ObjectRow target;
    if (FAILED(hr = destDb->LoadObject(destRow.id, target)))
        return hr == MAPI_E_NOT_FOUND ? MAPI_E_OBJECT_DELETED : hr;
    for (ObjectTree& tree : trees)
        if (FAILED(hr = destDb->InsertTree(tree, target.id))) return hr;
    return tx.Commit();
}

HRESULT FolderImpl::DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) {
    if ((flags & ~(MESSAGE_DIALOG | MAPI_DEFERRED_ERRORS)) != 0) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    WriteTransaction tx(db_->db());
    if (FAILED(hr = tx.status())) return hr;
    std::vector<ObjectRow> rows;
    if (FAILED(hr = ResolveList(list, rows))) return hr;
    for (const ObjectRow& row : rows)
        if (FAILED(hr = db_->DeleteTree(row.id))) return hr;
    return tx.Commit();
}

HRESULT FolderImpl::CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID iid, ULONG flags,
                                 LPMAPIFOLDER* out) {
    if (out == nullptr || name == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((flags & ~(MAPI_UNICODE | OPEN_IF_EXISTS | MAPI_DEFERRED_ERRORS)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    if (type == FOLDER_SEARCH) return MAPI_E_NO_SUPPORT;
    if (type != FOLDER_GENERIC) return MAPI_E_INVALID_PARAMETER;
    if (!InterfaceServed(iid, IID_IMAPIProp, IID_IMAPIContainer, IID_IMAPIFolder))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    *out = nullptr;
    const std::string text = TextArgument(name, flags);
    const std::string note = TextArgument(comment, flags);
    std::size_t chars = 0;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) return MAPI_E_INVALID_PARAMETER;
        if ((c & 0xC0) != 0x80) ++chars;
    }
    if (chars == 0 || chars > kMaxFolderNameChars) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    if (Depth() >= kMaxFolderDepth) return MAPI_E_TOO_COMPLEX;
    WriteTransaction tx(db_->db());
    if (FAILED(hr = tx.status())) return hr;
    std::vector<ObjectRow> siblings;
    if (FAILED(hr = db_->Children(row_.id, MAPI_FOLDER, siblings))) return hr;
    for (const ObjectRow& sibling : siblings) {
        PropMap p;
        if (FAILED(hr = db_->LoadProps(sibling.id, p))) return hr;
        auto it = p.find(PROP_ID(PR_DISPLAY_NAME));
        if (it == p.end() || strcasecmp(it->second.s.c_str(), text.c_str()) != 0) continue;
        if ((flags & OPEN_IF_EXISTS) == 0) return MAPI_E_COLLISION;
        return NewFolder(db_, sibling, true, out);
    }
    ObjectRow row;
    row.kind = MAPI_FOLDER;
    row.parent = row_.id;
    row.created = row.modified = FileTimeNow();
    if (FAILED(hr = db_->InsertObject(row))) return hr;
    PropMap p;
    p[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(text);
    if (!note.empty()) p[PROP_ID(PR_COMMENT)] = Value::Text(note);
    if (FAILED(hr = db_->WriteNewProps(row.id, p))) return hr;
    if (FAILED(hr = tx.Commit())) return hr;
    return NewFolder(db_, row, true, out);
}

HRESULT FolderImpl::DeleteFolder(ULONG cb, LPENTRYID eid, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) {
    if ((flags & ~(DEL_MESSAGES | DEL_FOLDERS | DEL_ASSOCIATED | FOLDER_DIALOG)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    std::string objectEid;
    if (FAILED(hr = db_->ObjectEidOf(cb, eid, objectEid))) return hr;
    WriteTransaction tx(db_->db());
    if (FAILED(hr = tx.status())) return hr;
    ObjectRow target;
    if (FAILED(hr = db_->LoadObjectByEid(objectEid, target))) return hr;
    if (target.kind != MAPI_FOLDER || target.parent != row_.id) return MAPI_E_NOT_FOUND;
    std::vector<ObjectRow> kids;
    if (FAILED(hr = db_->Children(target.id, MAPI_MESSAGE, kids))) return hr;
    if (!kids.empty() && (flags & DEL_MESSAGES) == 0) return MAPI_E_HAS_MESSAGES;
    if (FAILED(hr = db_->Children(target.id, MAPI_FOLDER, kids))) return hr;
    if (!kids.empty() && (flags & DEL_FOLDERS) == 0) return MAPI_E_HAS_FOLDERS;
    if (FAILED(hr = db_->DeleteTree(target.id))) return hr;
    return tx.Commit();
}

HRESULT FolderImpl::SetReadFlags(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) {
    constexpr ULONG known = SUPPRESS_RECEIPT | CLEAR_READ_FLAG | GENERATE_RECEIPT_ONLY |
                            CLEAR_RN_PENDING | CLEAR_NRN_PENDING | MAPI_DEFERRED_ERRORS |
                            MESSAGE_DIALOG;
    if ((flags & ~known) != 0) return MAPI_E_UNKNOWN_FLAGS;
    if ((flags & GENERATE_RECEIPT_ONLY) != 0) return S_OK;  // no receipts in this engine
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    HRESULT hr = CheckWritable();
    if (FAILED(hr)) return hr;
    WriteTransaction tx(db_->db());
    if (FAILED(hr = tx.status())) return hr;
    const bool clear = (flags & CLEAR_READ_FLAG) != 0;
    if (list == nullptr) {
        SqliteStmt& q = db_->Cached(
            clear ? "UPDATE objects SET flags = flags & ~1 WHERE parent = ?1 AND kind = 5"
                  : "UPDATE objects SET flags = flags | 1 WHERE parent = ?1 AND kind = 5");
        if (FAILED(q.status())) return q.status();
        q.BindInt(1, row_.id);
        if (FAILED(hr = q.Run())) return hr;
        return tx.Commit();
    }
    std::vector<ObjectRow> rows;
    if (FAILED(hr = ResolveList(list, rows))) return hr;
    for (ObjectRow& row : rows) {
        row.flags = clear ? (row.flags & ~MSGFLAG_READ) : (row.flags | MSGFLAG_READ);
        if (FAILED(hr = db_->UpdateObject(row))) return hr;  // PR_LAST_MODIFICATION_TIME stays
    }
    return tx.Commit();
}

}  // namespace

HRESULT NewFolder(std::shared_ptr<StoreDb> db, const ObjectRow& row, bool writable,
                  LPMAPIFOLDER* out) {
    ComPtr<FolderImpl> folder(new FolderImpl(std::move(db), row, writable));
    HRESULT hr = folder->Load();
    if (FAILED(hr)) return hr;
    *out = folder.detach();
    return S_OK;
}

bool FolderIdentity(LPVOID folder, std::shared_ptr<StoreDb>& db, ObjectRow& row, bool& writable) {
    auto* impl = dynamic_cast<FolderImpl*>(static_cast<IMAPIFolder*>(folder));
    if (impl == nullptr) return false;
    db = impl->store();
    std::lock_guard<std::recursive_mutex> lock(db->mutex());
    row = impl->row();
    writable = impl->writable();
    return true;
}

}  // namespace mapistore
