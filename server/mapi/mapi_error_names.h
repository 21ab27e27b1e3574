// The symbolic names of the MAPI result codes (MAPI_E_ and MAPI_W_ names) and the
// message texts this system knows for other result codes, used for the text of a
// CMAPIException. Pure tables; callable from any thread.
#pragma once

#include "platform/mapi/mapi_types.h"

// "MAPI_E_NOT_FOUND" for 0x8004010F and the like (the store engine's name, when it
// is a MAPI_E_ or MAPI_W_ one); null for a code without a MAPI name.
const char* MapiErrorSymbol(HRESULT hr);

// The message text for a result code that has no MAPI name (the storage errors of
// streams, the common OLE failures); null when there is none.
const char* SystemErrorText(HRESULT hr);
