// CReadSnapshot: the calling thread's read snapshot of the store of one folder
// (HrBeginReadSnapshot): from its construction until its end, this thread's reads
// of that store run in one read transaction instead of one per statement, so a
// long run of reads (an answer sending a whole folder) costs one.
//
// The snapshot holds the store: other threads of the process that use it wait
// until the holder calls Breathe, which lets them in at most every
// kReadSnapshotHoldMs. A save of the holder in that store ends the transaction
// first (reads then see it). Use it on the thread that made it.
#pragma once

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/mapi_ref.h"

class CReadSnapshot {
public:
    // Raises CMAPIException ("CReadSnapshot") for a folder of no store of the engine.
    explicit CReadSnapshot(const IMAPIFolderPtr& folder);
    CReadSnapshot(const CReadSnapshot&) = delete;
    CReadSnapshot& operator=(const CReadSnapshot&) = delete;
    ~CReadSnapshot() = default;

    // Between units of work: lets waiting threads in once the snapshot has held the
    // store long enough.
    void Breathe();

private:
    CMapiRef<IReadSnapshot> snapshot_;
};
