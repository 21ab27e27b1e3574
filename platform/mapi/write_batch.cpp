// Write batches: one transaction per store for many saves of one thread.
#include "platform/mapi/write_batch.h"

#include <exception>
#include <thread>
#include <vector>

#include "platform/mapi/com_base.h"
#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_guids.h"

namespace mapistore {

namespace {

class WriteBatch;

// The calling thread's open batch. Only its own thread reads or changes it.
thread_local WriteBatch* tCurrentBatch = nullptr;

class WriteBatch : public RefCounted<IWriteBatch> {
public:
    explicit WriteBatch(const WRITEBATCHLIMITS* limits) : owner_(std::this_thread::get_id()) {
        maxSaves_ = limits != nullptr && limits->cMaxSaves != 0 ? limits->cMaxSaves
                                                                : kWriteBatchDefaultSaves;
        maxBytes_ = limits != nullptr && limits->cbMaxBytes != 0 ? limits->cbMaxBytes
                                                                 : kWriteBatchDefaultBytes;
        tCurrentBatch = this;
    }

    ~WriteBatch() override {
        // Released on another thread, the stores' locks cannot be given back.
        if (!OnOwnerThread()) std::terminate();
        RollBackAll();
        tCurrentBatch = nullptr;
    }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IWriteBatch>(this, riid, ppv, IID_IWriteBatch);
    }

    HRESULT Commit(ULONG flags) override {
        if (flags != 0) return MAPI_E_UNKNOWN_FLAGS;
        if (!OnOwnerThread()) return MAPI_E_CALL_FAILED;
        HRESULT hr = CommitAll();
        if (SUCCEEDED(hr) && FAILED(failed_)) hr = failed_;
        failed_ = S_OK;
        return hr;
    }

    HRESULT Abort(ULONG flags) override {
        if (flags != 0) return MAPI_E_UNKNOWN_FLAGS;
        if (!OnOwnerThread()) return MAPI_E_CALL_FAILED;
        RollBackAll();
        failed_ = S_OK;
        return S_OK;
    }

    HRESULT GetStatus(LPWRITEBATCHSTATUS status) override {
        if (status == nullptr) return MAPI_E_INVALID_PARAMETER;
        status->cSaves = saves_;
        status->cPending = pending_;
        status->cCommits = commits_;
        status->cBoundCommits = boundCommits_;
        status->hrFailed = failed_;
        return S_OK;
    }

    HRESULT Join(SqliteDb& db) {
        if (db.inBatch) return S_OK;
        Member member{db.BatchOwner(), &db, db.BatchMutex(), db.Written()};
        member.mutex->lock();
        HRESULT hr = db.Exec("BEGIN IMMEDIATE");
        if (FAILED(hr)) {
            member.mutex->unlock();
            return hr;
        }
        db.inBatch = true;
        members_.push_back(std::move(member));
        return S_OK;
    }

    HRESULT Saved() {
        ++saves_;
        ++pending_;
        if (pending_ < maxSaves_ && PendingBytes() < maxBytes_) return S_OK;
        // A save still open in another store (a copy between stores) waits for its end.
        for (const Member& m : members_)
            if (m.db->savepointDepth != 0) return S_OK;
        HRESULT hr = CommitAll();
        if (SUCCEEDED(hr)) {
            ++boundCommits_;
        } else if (SUCCEEDED(failed_)) {
            failed_ = hr;
        }
        return hr;
    }

    void Lost(SqliteDb& db) {
        for (auto it = members_.begin(); it != members_.end(); ++it) {
            if (it->db != &db) continue;
            if (SUCCEEDED(failed_)) failed_ = MAPI_E_DISK_ERROR;
            Leave(*it);
            members_.erase(it);
            break;
        }
    }

    bool Allows(const SqliteDb& db) const { return db.Batchable() && OnOwnerThread(); }

private:
    struct Member {
        std::shared_ptr<void> keep;  // the store object that owns the connection
        SqliteDb* db;
        std::recursive_mutex* mutex;
        std::uint64_t writtenAtJoin;
    };

    bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

    std::uint64_t PendingBytes() const {
        std::uint64_t bytes = 0;
        for (const Member& m : members_) bytes += m.db->Written() - m.writtenAtJoin;
        return bytes;
    }

    // Gives the connection back: no batch transaction, the batch's hold on the lock
    // released.
    static void Leave(Member& m) {
        m.db->inBatch = false;
        m.db->NotifyRolledBack();
        m.mutex->unlock();
    }

    HRESULT CommitAll() {
        HRESULT first = S_OK;
        for (Member& m : members_) {
            HRESULT hr = m.db->Exec("COMMIT");
            if (SUCCEEDED(hr)) {
                ++commits_;
                m.db->inBatch = false;
                m.mutex->unlock();
                continue;
            }
            m.db->Exec("ROLLBACK");
            Leave(m);
            if (SUCCEEDED(first)) first = hr;
        }
        members_.clear();
        pending_ = 0;
        return first;
    }

    void RollBackAll() {
        for (Member& m : members_) {
            m.db->Exec("ROLLBACK");
            Leave(m);
        }
        members_.clear();
        pending_ = 0;
    }

    std::thread::id owner_;
    ULONG maxSaves_;
    ULONGLONG maxBytes_;
    std::vector<Member> members_;
    ULONG saves_ = 0;
    ULONG pending_ = 0;
    ULONG commits_ = 0;
    ULONG boundCommits_ = 0;
    HRESULT failed_ = S_OK;
};

}  // namespace

bool JoinThreadBatch(SqliteDb& db, HRESULT& hr) {
    hr = S_OK;
    WriteBatch* batch = tCurrentBatch;
    if (batch == nullptr || !batch->Allows(db) || !db.BatchOwner()) return false;
    hr = batch->Join(db);
    return true;
}

HRESULT SaveJoinedBatch(SqliteDb& db) {
    WriteBatch* batch = tCurrentBatch;
    if (batch == nullptr || !db.inBatch) return S_OK;
    return batch->Saved();
}

void BatchTransactionLost(SqliteDb& db) {
    if (WriteBatch* batch = tCurrentBatch) batch->Lost(db);
}

}  // namespace mapistore

HRESULT HrBeginWriteBatch(const WRITEBATCHLIMITS* lpLimits, ULONG ulFlags, LPWRITEBATCH* lppBatch) {
    if (lppBatch == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppBatch = nullptr;
    if (ulFlags != 0) return MAPI_E_UNKNOWN_FLAGS;
    if (mapistore::tCurrentBatch != nullptr) return MAPI_E_BUSY;
    *lppBatch = new mapistore::WriteBatch(lpLimits);
    return S_OK;
}
