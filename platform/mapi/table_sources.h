// Row sources over stored objects: a folder's contents (messages) and hierarchy
// (sub-folders).
#pragma once

#include <memory>

#include "platform/mapi/store_db.h"
#include "platform/mapi/table_impl.h"

namespace mapistore {

std::unique_ptr<RowSource> MakeContentsSource(std::shared_ptr<StoreDb> db, const ObjectRow& folder);
// deep: the whole subtree with PR_DEPTH (CONVENIENT_DEPTH), else direct sub-folders.
std::unique_ptr<RowSource> MakeHierarchySource(std::shared_ptr<StoreDb> db, const ObjectRow& folder,
                                               bool deep);
// Recipient (MAPI_MAILUSER) or attachment (MAPI_ATTACH) rows of a stored message.
HRESULT LoadSubRows(StoreDb& db, std::int64_t message, ULONG subObject, std::vector<PropMap>& rows);

}  // namespace mapistore
