// Properties an object does not store but derives from its row and its place:
// entry identifiers, record keys, object type, times, flags, folder counts.
#pragma once

#include <vector>

#include "platform/mapi/store_db.h"

namespace mapistore {

enum class Computed { kNo, kValue, kAbsent };

// For a stored object (folder, message, recipient or attachment row) of store db.
// parentEid: the parent's object eid when the caller knows it (else looked up).
// Call under db.mutex().
Computed ComputedProp(StoreDb& db, const ObjectRow& row, const std::string* parentEid, ULONG propId,
                      Value& out);
// Property IDs ComputedProp derives for an object kind (for property lists).
const std::vector<ULONG>& ComputedIds(ULONG kind);
// True when the ID is derived for that kind and may not be set.
bool IsComputedId(ULONG kind, ULONG propId);

// PR_ATTACH_SIZE of an attachment whose properties are props: the sum of their
// sizes as a size restriction sees them, the attachment data included (a stored
// PR_ATTACH_SIZE itself does not count); at most 0x7FFFFFFF.
LONG AttachmentSize(const PropMap& props);

}  // namespace mapistore
