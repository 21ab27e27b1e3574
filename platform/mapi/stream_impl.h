// IStream over one string or binary property of an open object. Reads and writes
// go to a private buffer; Commit hands it to the object (as SetProps would), so a
// message still needs its own SaveChanges. The stream holds a reference on the object.
#pragma once

#include <string>

#include "platform/mapi/prop_object.h"

namespace mapistore {

HRESULT CreatePropertyStream(PropCore* owner, ULONG propId, ULONG type, std::string initial,
                             bool writable, LPUNKNOWN* out);

}  // namespace mapistore
