// CWriteBatch over the engine's IWriteBatch.
#include "server/mapi/write_batch_ptr.h"

#include "server/mapi/mapi_exception.h"

CWriteBatch::CWriteBatch() {
    MapiCheck(HrBeginWriteBatch(nullptr, 0, batch_.Put()), "CWriteBatch");
}

CWriteBatch::CWriteBatch(const WRITEBATCHLIMITS& limits) {
    MapiCheck(HrBeginWriteBatch(&limits, 0, batch_.Put()), "CWriteBatch");
}

HRESULT CWriteBatch::Commit() { return batch_->Commit(0); }

void CWriteBatch::Abort() { batch_->Abort(0); }

WRITEBATCHSTATUS CWriteBatch::Status() const {
    WRITEBATCHSTATUS status{};
    batch_->GetStatus(&status);
    return status;
}
