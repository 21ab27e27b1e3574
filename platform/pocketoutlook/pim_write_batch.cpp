// PimWriteBatch over the store's batch.
#include "platform/pocketoutlook/pim_write_batch.h"

PimWriteBatch::PimWriteBatch(PocketOutlookApplication& app, int bound) : db_(app.db_) {
    open_ = db_ && db_->BeginBatch(bound);
}

PimWriteBatch::~PimWriteBatch() {
    if (open_) db_->AbortBatch();
}

bool PimWriteBatch::Commit() {
    if (!open_) return false;
    open_ = false;
    return db_->CommitBatch();
}
