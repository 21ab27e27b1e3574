// Creation of the engine's objects, used across its files. Call under the store's
// mutex() where a StoreDb is passed.
#pragma once

#include <memory>

#include "platform/mapi/store_db.h"

namespace mapistore {

// Writable: the object accepts changes (opened with MAPI_MODIFY / MAPI_BEST_ACCESS).
HRESULT NewFolder(std::shared_ptr<StoreDb> db, const ObjectRow& row, bool writable,
                  LPMAPIFOLDER* out);
// existing null: a new message in folder.
HRESULT NewMessage(std::shared_ptr<StoreDb> db, const ObjectRow& folder, const ObjectRow* existing,
                   bool writable, LPMESSAGE* out);
HRESULT NewMsgStore(std::shared_ptr<StoreDb> db, bool writable, LPMDB* out);

// OpenEntry within one store: cb 0 opens the root folder.
HRESULT OpenEntryInStore(const std::shared_ptr<StoreDb>& db, ULONG cbEntryID, LPENTRYID lpEntryID,
                         LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk);

// The store and folder row behind an IMAPIFolder of this engine; false for others.
bool FolderIdentity(LPVOID folder, std::shared_ptr<StoreDb>& db, ObjectRow& row, bool& writable);

}  // namespace mapistore
