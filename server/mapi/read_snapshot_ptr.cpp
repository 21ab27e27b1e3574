// CReadSnapshot over the engine's IReadSnapshot.
#include "server/mapi/read_snapshot_ptr.h"

#include "server/mapi/mapi_exception.h"

CReadSnapshot::CReadSnapshot(const IMAPIFolderPtr& folder) {
    MapiCheck(HrBeginReadSnapshot(folder.Get(), 0, snapshot_.Put()), "CReadSnapshot");
}

void CReadSnapshot::Breathe() { snapshot_->Breathe(0); }
