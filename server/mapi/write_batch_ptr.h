// CWriteBatch: the calling thread's write batch on the store (HrBeginWriteBatch):
// from its construction until Commit or its end, every store write of this thread
// joins one transaction per store, so many saves cost one sync to disk. What is
// not committed when the object ends is rolled back.
//
// The batch holds each store it wrote to until it commits or ends: other threads
// of the process that use those stores wait, so keep it to one unit of work (one
// protocol request). Use it on the thread that made it; one per thread at a time.
#pragma once

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_ref.h"

class CWriteBatch {
public:
    // Begins the batch with the engine's default size bound (at that bound it
    // commits on its own and goes on). Raises CMAPIException ("CWriteBatch") when
    // the thread already has one open.
    CWriteBatch();
    explicit CWriteBatch(const WRITEBATCHLIMITS& limits);
    CWriteBatch(const CWriteBatch&) = delete;
    CWriteBatch& operator=(const CWriteBatch&) = delete;
    ~CWriteBatch() = default;

    // Makes every write since the start (or the last Commit) durable. S_OK, or the
    // first failure of this or an earlier commit at the bound: the writes not
    // committed are then lost. The batch stays open for further writes.
    HRESULT Commit();
    // Rolls back every write not yet committed.
    void Abort();
    WRITEBATCHSTATUS Status() const;

private:
    CMapiRef<IWriteBatch> batch_;
};
