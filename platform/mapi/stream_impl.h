// IStream over one string or binary property of an open object. Reads and writes
// go to a private buffer; Commit hands it to the object (as SetProps would), so a
// message still needs its own SaveChanges. The stream holds a reference on the object.
// A binary value past kLargeValueBytes is kept in a spool file beside the store
// instead of memory, read from where it lies (large), and handed over by reference.
#pragma once

#include <memory>
#include <string>

#include "platform/mapi/prop_object.h"

namespace mapistore {

HRESULT CreatePropertyStream(PropCore* owner, ULONG propId, ULONG type, std::string initial,
                             std::shared_ptr<const LargeBytes> large, bool writable,
                             LPUNKNOWN* out);

}  // namespace mapistore
