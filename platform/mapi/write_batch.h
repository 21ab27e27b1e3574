// The engine side of write batches (IWriteBatch, HrBeginWriteBatch): how a save
// joins the calling thread's batch. WriteTransaction is the only caller.
//
// A store connection joins the batch at the first save made in it: its transaction
// begins (BEGIN IMMEDIATE) and its lock is taken once more, to be given back when
// the batch commits or ends, so no other thread of the process sees or writes into
// the open transaction. Each save is then a savepoint of that transaction.
#pragma once

#include "platform/mapi/sqlite_db.h"

namespace mapistore {

// Joins db to the calling thread's batch when there is one and db allows batches.
// False: no batch, the save runs alone. True: the save belongs to the batch; hr
// tells whether the batch's transaction could be begun (MAPI_E_BUSY and the like).
// Call under the lock that guards db.
bool JoinThreadBatch(SqliteDb& db, HRESULT& hr);

// After a save of the batch was released into its transaction (no savepoint of db
// open any more): counts it and, at the batch's size bound, commits. S_OK, or the
// failure of that commit (the saves not committed are then rolled back).
HRESULT SaveJoinedBatch(SqliteDb& db);

// SQLite rolled back the whole transaction of db on its own (disk full, I/O error):
// the batch loses its saves in db and records the failure for its Commit.
void BatchTransactionLost(SqliteDb& db);

}  // namespace mapistore
