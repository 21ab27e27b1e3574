// Property types, tag composition and the standard property tags, with their
// published values ([MS-OXCDATA] 2.11.1, [MS-OXPROPS]). A tag is (ID << 16) | type.
// String tags without suffix are the 8-bit form (PT_TSTRING = PT_STRING8); the _A
// and _W names give the 8-bit and UTF-16 forms explicitly.
#pragma once

#include "platform/mapi/mapi_types.h"

// ---- property types ------------------------------------------------------------
constexpr ULONG PT_UNSPECIFIED = 0x0000;
constexpr ULONG PT_NULL = 0x0001;
constexpr ULONG PT_I2 = 0x0002;
constexpr ULONG PT_SHORT = PT_I2;
constexpr ULONG PT_LONG = 0x0003;
constexpr ULONG PT_I4 = PT_LONG;
constexpr ULONG PT_R4 = 0x0004;
constexpr ULONG PT_FLOAT = PT_R4;
constexpr ULONG PT_DOUBLE = 0x0005;
constexpr ULONG PT_R8 = PT_DOUBLE;
constexpr ULONG PT_CURRENCY = 0x0006;
constexpr ULONG PT_APPTIME = 0x0007;
constexpr ULONG PT_ERROR = 0x000A;
constexpr ULONG PT_BOOLEAN = 0x000B;
constexpr ULONG PT_OBJECT = 0x000D;
constexpr ULONG PT_I8 = 0x0014;
constexpr ULONG PT_LONGLONG = PT_I8;
constexpr ULONG PT_STRING8 = 0x001E;
constexpr ULONG PT_UNICODE = 0x001F;
constexpr ULONG PT_TSTRING = PT_STRING8;
constexpr ULONG PT_SYSTIME = 0x0040;
constexpr ULONG PT_CLSID = 0x0048;
constexpr ULONG PT_BINARY = 0x0102;

constexpr ULONG MV_FLAG = 0x1000;
constexpr ULONG MV_INSTANCE = 0x2000;
constexpr ULONG MVI_FLAG = MV_FLAG | MV_INSTANCE;
constexpr ULONG PT_MV_I2 = MV_FLAG | PT_I2;
constexpr ULONG PT_MV_SHORT = PT_MV_I2;
constexpr ULONG PT_MV_LONG = MV_FLAG | PT_LONG;
constexpr ULONG PT_MV_R4 = MV_FLAG | PT_R4;
constexpr ULONG PT_MV_FLOAT = PT_MV_R4;
constexpr ULONG PT_MV_DOUBLE = MV_FLAG | PT_DOUBLE;
constexpr ULONG PT_MV_R8 = PT_MV_DOUBLE;
constexpr ULONG PT_MV_CURRENCY = MV_FLAG | PT_CURRENCY;
constexpr ULONG PT_MV_APPTIME = MV_FLAG | PT_APPTIME;
constexpr ULONG PT_MV_SYSTIME = MV_FLAG | PT_SYSTIME;
constexpr ULONG PT_MV_STRING8 = MV_FLAG | PT_STRING8;
constexpr ULONG PT_MV_UNICODE = MV_FLAG | PT_UNICODE;
constexpr ULONG PT_MV_TSTRING = PT_MV_STRING8;
constexpr ULONG PT_MV_BINARY = MV_FLAG | PT_BINARY;
constexpr ULONG PT_MV_CLSID = MV_FLAG | PT_CLSID;
constexpr ULONG PT_MV_I8 = MV_FLAG | PT_I8;
constexpr ULONG PT_MV_LONGLONG = PT_MV_I8;

constexpr ULONG PROP_TYPE_MASK = 0x0000FFFF;
constexpr ULONG PROP_ID_NULL = 0;
constexpr ULONG PROP_ID_INVALID = 0xFFFF;
constexpr ULONG PROP_ID_NAMED_FIRST = 0x8000;  // named properties: 0x8000 - 0xFFFE
constexpr ULONG PROP_ID_NAMED_LAST = 0xFFFE;

// ---- tag composition --------------------------------------------------------------
constexpr ULONG PROP_TYPE(ULONG ulPropTag) { return ulPropTag & PROP_TYPE_MASK; }
constexpr ULONG PROP_ID(ULONG ulPropTag) { return ulPropTag >> 16; }
constexpr ULONG PROP_TAG(ULONG ulPropType, ULONG ulPropID) { return (ulPropID << 16) | ulPropType; }
constexpr ULONG CHANGE_PROP_TYPE(ULONG ulPropTag, ULONG ulPropType) {
    return (ulPropTag & 0xFFFF0000u) | ulPropType;
}
constexpr bool MVI_PROP(ULONG tag) { return (PROP_TYPE(tag) & MVI_FLAG) == MVI_FLAG; }

// ---- the standard tags --------------------------------------------------------------
#define MAPI_TAG(name, id, type) constexpr ULONG name = PROP_TAG(type, id);
#define MAPI_STR(name, id)                               \
    constexpr ULONG name = PROP_TAG(PT_STRING8, id);     \
    constexpr ULONG name##_A = PROP_TAG(PT_STRING8, id); \
    constexpr ULONG name##_W = PROP_TAG(PT_UNICODE, id);
#define MAPI_MVSTR(name, id)                                \
    constexpr ULONG name = PROP_TAG(PT_MV_STRING8, id);     \
    constexpr ULONG name##_A = PROP_TAG(PT_MV_STRING8, id); \
    constexpr ULONG name##_W = PROP_TAG(PT_MV_UNICODE, id);
#include "platform/mapi/mapi_tags.inc"
#undef MAPI_TAG
#undef MAPI_STR
#undef MAPI_MVSTR

// Business address aliases of the published names.
constexpr ULONG PR_BUSINESS_ADDRESS_STREET = PR_STREET_ADDRESS;
constexpr ULONG PR_BUSINESS_ADDRESS_CITY = PR_LOCALITY;
constexpr ULONG PR_BUSINESS_ADDRESS_STATE_OR_PROVINCE = PR_STATE_OR_PROVINCE;
constexpr ULONG PR_BUSINESS_ADDRESS_POSTAL_CODE = PR_POSTAL_CODE;
constexpr ULONG PR_BUSINESS_ADDRESS_COUNTRY = PR_COUNTRY;
