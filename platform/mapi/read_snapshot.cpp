// Read snapshots (IReadSnapshot): one read transaction of one store for a long run
// of reads of one thread; and the store's version (HrGetStoreVersion), which tells
// whether what a reader read before is still what the store holds.
//
// The snapshot holds the store's lock from its beginning to its end, as a write
// batch does from its first save: the connection is shared by the process, so no
// other thread may run statements inside the open transaction. Breathe gives the
// lock back for a moment at most every kReadSnapshotHoldMs, so other threads wait
// no longer than that (and one unit of the holder's work).
#include <sqlite3.h>

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/mapi/com_base.h"
#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/objects.h"

namespace mapistore {

namespace {

// How long Breathe leaves the store to threads that wait for it.
constexpr std::chrono::microseconds kBreathPause{200};

class ReadSnapshot : public RefCounted<IReadSnapshot> {
public:
    explicit ReadSnapshot(std::shared_ptr<StoreDb> db)
        : db_(std::move(db)), owner_(std::this_thread::get_id()) {
        db_->mutex().lock();
        Begin();
    }

    ~ReadSnapshot() override {
        // Released on another thread, the store's lock cannot be given back.
        if (!OnOwnerThread()) std::terminate();
        End();
        db_->mutex().unlock();
    }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IReadSnapshot>(this, riid, ppv, IID_IReadSnapshot);
    }

    HRESULT Breathe(ULONG flags) override {
        if (flags != 0) return MAPI_E_UNKNOWN_FLAGS;
        if (!OnOwnerThread()) return MAPI_E_CALL_FAILED;
        if (std::chrono::steady_clock::now() - since_ <
            std::chrono::milliseconds(kReadSnapshotHoldMs))
            return S_OK;
        End();
        db_->mutex().unlock();
        std::this_thread::sleep_for(kBreathPause);
        db_->mutex().lock();
        Begin();
        return S_OK;
    }

private:
    bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

    // Under the lock. Inside a transaction of this thread (its write batch's, or an
    // outer snapshot's) the reads run in that one.
    void Begin() {
        since_ = std::chrono::steady_clock::now();
        SqliteDb& db = db_->db();
        if (db.handle() == nullptr || sqlite3_get_autocommit(db.handle()) == 0) return;
        if (FAILED(db.Exec("BEGIN"))) return;  // the reads then run one by one
        db.inReadSnapshot = true;
        own_ = true;
    }

    // Under the lock: ends the transaction Begin opened, unless a save ended it.
    void End() {
        if (!own_) return;
        own_ = false;
        db_->db().EndReadSnapshot();
    }

    std::shared_ptr<StoreDb> db_;
    std::thread::id owner_;
    std::chrono::steady_clock::time_point since_;
    bool own_ = false;  // this snapshot began the connection's read transaction
};

}  // namespace

}  // namespace mapistore

HRESULT HrBeginReadSnapshot(LPMAPIFOLDER lpFolder, ULONG ulFlags, LPREADSNAPSHOT* lppSnapshot) {
    if (lppSnapshot == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppSnapshot = nullptr;
    if (ulFlags != 0) return MAPI_E_UNKNOWN_FLAGS;
    std::shared_ptr<mapistore::StoreDb> db;
    mapistore::ObjectRow row;
    bool writable = false;
    if (lpFolder == nullptr || !mapistore::FolderIdentity(lpFolder, db, row, writable))
        return MAPI_E_INVALID_PARAMETER;
    *lppSnapshot = new mapistore::ReadSnapshot(std::move(db));
    return S_OK;
}

HRESULT HrGetStoreVersion(LPMAPIFOLDER lpFolder, STOREVERSION* lpVersion) {
    if (lpVersion == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lpVersion = STOREVERSION{};
    std::shared_ptr<mapistore::StoreDb> db;
    mapistore::ObjectRow row;
    bool writable = false;
    if (lpFolder == nullptr || !mapistore::FolderIdentity(lpFolder, db, row, writable))
        return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(db->mutex());
    if (db->db().handle() == nullptr) return MAPI_E_CALL_FAILED;
    mapistore::SqliteStmt& q = db->Cached("PRAGMA data_version");
    if (FAILED(q.status())) return q.status();
    if (!q.Step()) return FAILED(q.status()) ? q.status() : MAPI_E_CALL_FAILED;
    lpVersion->ullCommittedElsewhere = static_cast<ULONGLONG>(q.ColumnInt(0));
    q.Reset();
    lpVersion->ullWrittenHere = static_cast<ULONGLONG>(sqlite3_total_changes64(db->db().handle()));
    return S_OK;
}
