// MapiWrapper: the layer through which the server touches the mail store. Smart
// pointers for the store's objects (CGenMapiPropPtr and its family, IMAPITablePtr),
// CMAPIException for every failed call, the byte buffer with its hexadecimal text
// form, owning value and row arrays, and the thread's write batch.
#pragma once

#include "platform/mapi/mapi.h"
#include "server/mapi/byte_buffer.h"
#include "server/mapi/gen_mapi_cont_ptr.h"
#include "server/mapi/gen_mapi_prop_ptr.h"
#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/mapi_prop_value.h"
#include "server/mapi/mapi_ref.h"
#include "server/mapi/mapi_store_ptrs.h"
#include "server/mapi/mapi_table_ptr.h"
#include "server/mapi/write_batch_ptr.h"
