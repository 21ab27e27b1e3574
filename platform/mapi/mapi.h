// The message store engine's MAPI: types, tags, codes, GUIDs, interfaces and functions.
#pragma once

#include "platform/mapi/mapi_codes.h"
#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/mapi_interfaces.h"
#include "platform/mapi/mapi_names.h"
#include "platform/mapi/mapi_tags.h"
#include "platform/mapi/mapi_types.h"
