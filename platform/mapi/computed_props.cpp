// Derived properties of stored objects.
#include "platform/mapi/computed_props.h"

#include <algorithm>

namespace mapistore {

namespace {

// In place, so that a reused value keeps its string capacity.
void SetNumber(Value& out, ULONG type, std::int64_t i) {
    out.type = type;
    out.i = i;
    out.d = 0;
    out.s.clear();
}
void SetBytes(Value& out, const std::string& a, const std::string* b = nullptr) {
    out.type = PT_BINARY;
    out.i = 0;
    out.d = 0;
    out.s.assign(a);
    if (b != nullptr) out.s.append(*b);
}
void SetEntryId(Value& out, const StoreDb& db, const std::string& eid) {
    out.type = PT_BINARY;
    out.i = 0;
    out.d = 0;
    out.s.assign(4, '\0');
    out.s.append(db.uid()).append(eid);
}

}  // namespace

const std::vector<ULONG>& ComputedIds(ULONG kind) {
    // Function statics: other files' static objects may ask before main().
    static const std::vector<ULONG> kMessageIds = {PROP_ID(PR_ENTRYID),
                                                   PROP_ID(PR_PARENT_ENTRYID),
                                                   PROP_ID(PR_STORE_ENTRYID),
                                                   PROP_ID(PR_RECORD_KEY),
                                                   PROP_ID(PR_SEARCH_KEY),
                                                   PROP_ID(PR_OBJECT_TYPE),
                                                   PROP_ID(PR_STORE_RECORD_KEY),
                                                   PROP_ID(PR_CREATION_TIME),
                                                   PROP_ID(PR_LAST_MODIFICATION_TIME),
                                                   PROP_ID(PR_MESSAGE_FLAGS)};
    static const std::vector<ULONG> kFolderIds = {
        PROP_ID(PR_ENTRYID),        PROP_ID(PR_PARENT_ENTRYID),
        PROP_ID(PR_STORE_ENTRYID),  PROP_ID(PR_RECORD_KEY),
        PROP_ID(PR_OBJECT_TYPE),    PROP_ID(PR_STORE_RECORD_KEY),
        PROP_ID(PR_CREATION_TIME),  PROP_ID(PR_LAST_MODIFICATION_TIME),
        PROP_ID(PR_FOLDER_TYPE),    PROP_ID(PR_CONTENT_COUNT),
        PROP_ID(PR_CONTENT_UNREAD), PROP_ID(PR_SUBFOLDERS)};
    static const std::vector<ULONG> kAttachIds = {PROP_ID(PR_ATTACH_NUM), PROP_ID(PR_OBJECT_TYPE),
                                                  PROP_ID(PR_RECORD_KEY)};
    static const std::vector<ULONG> kRecipientIds = {PROP_ID(PR_ROWID), PROP_ID(PR_OBJECT_TYPE)};
    static const std::vector<ULONG> kNone;
    switch (kind) {
        case MAPI_MESSAGE:
            return kMessageIds;
        case MAPI_FOLDER:
            return kFolderIds;
        case MAPI_ATTACH:
            return kAttachIds;
        case MAPI_MAILUSER:
            return kRecipientIds;
        default:
            return kNone;
    }
}

bool IsComputedId(ULONG kind, ULONG propId) {
    if (kind == MAPI_MESSAGE && propId == PROP_ID(PR_MESSAGE_FLAGS)) return false;  // settable
    const std::vector<ULONG>& ids = ComputedIds(kind);
    if (kind == MAPI_MESSAGE &&
        (propId == PROP_ID(PR_HASATTACH) || propId == PROP_ID(PR_MESSAGE_SIZE)))
        return true;
    return std::find(ids.begin(), ids.end(), propId) != ids.end();
}

LONG AttachmentSize(const PropMap& props) {
    std::uint64_t size = 0;
    for (const auto& [id, v] : props)
        if (id != PROP_ID(PR_ATTACH_SIZE)) size += ValueSize(v);
    return static_cast<LONG>(std::min<std::uint64_t>(size, 0x7FFFFFFF));
}

Computed ComputedProp(StoreDb& db, const ObjectRow& row, const std::string* parentEid, ULONG propId,
                      Value& out) {
    const std::vector<ULONG>& ids = ComputedIds(row.kind);
    if (std::find(ids.begin(), ids.end(), propId) == ids.end()) return Computed::kNo;
    switch (propId) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_SEARCH_KEY):
            SetEntryId(out, db, row.eid);
            return Computed::kValue;
        case PROP_ID(PR_RECORD_KEY):
            if (row.kind == MAPI_ATTACH)
                SetBytes(out, row.eid);
            else
                SetEntryId(out, db, row.eid);
            return Computed::kValue;
        case PROP_ID(PR_PARENT_ENTRYID): {
            if (row.parent == 0) return Computed::kAbsent;  // the root folder has no parent
            if (parentEid != nullptr) {
                SetEntryId(out, db, *parentEid);
                return Computed::kValue;
            }
            ObjectRow parent;
            if (FAILED(db.LoadObject(row.parent, parent))) return Computed::kAbsent;
            SetEntryId(out, db, parent.eid);
            return Computed::kValue;
        }
        case PROP_ID(PR_STORE_ENTRYID):
            SetBytes(out, db.StoreEntryId());
            return Computed::kValue;
        case PROP_ID(PR_STORE_RECORD_KEY):
            SetBytes(out, db.uid());
            return Computed::kValue;
        case PROP_ID(PR_OBJECT_TYPE):
            SetNumber(out, PT_LONG, row.kind);
            return Computed::kValue;
        case PROP_ID(PR_CREATION_TIME):
            SetNumber(out, PT_SYSTIME, static_cast<std::int64_t>(row.created));
            return Computed::kValue;
        case PROP_ID(PR_LAST_MODIFICATION_TIME):
            SetNumber(out, PT_SYSTIME, static_cast<std::int64_t>(row.modified));
            return Computed::kValue;
        case PROP_ID(PR_MESSAGE_FLAGS):
            SetNumber(out, PT_LONG, row.flags);
            return Computed::kValue;
        case PROP_ID(PR_FOLDER_TYPE):
            SetNumber(out, PT_LONG, row.parent == 0 ? FOLDER_ROOT : FOLDER_GENERIC);
            return Computed::kValue;
        case PROP_ID(PR_ATTACH_NUM):
        case PROP_ID(PR_ROWID):
            SetNumber(out, PT_LONG, row.num);
            return Computed::kValue;
        case PROP_ID(PR_CONTENT_COUNT):
        case PROP_ID(PR_CONTENT_UNREAD): {
            SqliteStmt& q = db.Cached(
                "SELECT count(*), coalesce(sum((flags & 1) = 0), 0) FROM objects WHERE parent = ?1 "
                "AND kind = 5");
            if (FAILED(q.status())) return Computed::kAbsent;
            q.BindInt(1, row.id);
            if (!q.Step()) return Computed::kAbsent;
            out =
                Value::Long(propId == PROP_ID(PR_CONTENT_COUNT) ? q.ColumnInt(0) : q.ColumnInt(1));
            q.Reset();
            return Computed::kValue;
        }
        case PROP_ID(PR_SUBFOLDERS): {
            SqliteStmt& q =
                db.Cached("SELECT 1 FROM objects WHERE parent = ?1 AND kind = 3 LIMIT 1");
            if (FAILED(q.status())) return Computed::kAbsent;
            q.BindInt(1, row.id);
            bool any = q.Step();
            q.Reset();
            out = Value::Bool(any);
            return Computed::kValue;
        }
        default:
            return Computed::kAbsent;
    }
}

}  // namespace mapistore
