// Basic MAPI data types: the scalar type names, GUIDs, FILETIME, binary values,
// property values and tag arrays, rows and row sets, restrictions, sort orders,
// named-property identifiers, entry lists and address lists. Layouts follow the
// published MAPI structures member for member, so code written against MAPI reads
// the same. Text is 8-bit (the "A" forms, UTF-8 on Linux); UTF-16 text uses
// char16_t, the width the published "W" forms have.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- scalar types ------------------------------------------------------------
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = int;
using FLAGS = ULONG;
using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using CHAR = char;
using WCHAR = char16_t;
using TCHAR = char;  // 8-bit build: PT_TSTRING is PT_STRING8
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using LPTSTR = char*;
using LPCTSTR = const char*;
using LPVOID = void*;
using LPBYTE = BYTE*;
using LPULONG = ULONG*;
using LPLONG = LONG*;
using BOOKMARK = ULONG;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// ---- GUIDs ---------------------------------------------------------------------
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using MAPIUID = GUID;  // published MAPIUID is 16 bytes, the same layout as a GUID
using LPGUID = GUID*;
using LPCGUID = const GUID*;
using LPIID = IID*;
using LPCIID = const IID*;
using REFIID = const IID&;
using LPMAPIUID = MAPIUID*;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

// ---- times -------------------------------------------------------------------------
// 100-nanosecond units since 1601-01-01 00:00 UTC, low half first.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};

union CURRENCY {
    struct {
        ULONG Lo;
        LONG Hi;
    } s;
    LONGLONG int64;
};

// ---- entry identifiers ---------------------------------------------------------
// An entry identifier is opaque: four flag bytes followed by provider bytes.
struct ENTRYID {
    BYTE abFlags[4];
    BYTE ab[1];
};
using LPENTRYID = ENTRYID*;

struct SBinary {
    ULONG cb;
    LPBYTE lpb;
};
using LPSBinary = SBinary*;

struct SBinaryArray {
    ULONG cValues;
    SBinary* lpbin;
};
using ENTRYLIST = SBinaryArray;
using LPENTRYLIST = SBinaryArray*;

// ---- multi-valued arrays --------------------------------------------------------
struct SShortArray {
    ULONG cValues;
    SHORT* lpi;
};
struct SLongArray {
    ULONG cValues;
    LONG* lpl;
};
struct SRealArray {
    ULONG cValues;
    float* lpflt;
};
struct SDoubleArray {
    ULONG cValues;
    double* lpdbl;
};
struct SCurrencyArray {
    ULONG cValues;
    CURRENCY* lpcur;
};
struct SAppTimeArray {
    ULONG cValues;
    double* lpat;
};
struct SDateTimeArray {
    ULONG cValues;
    FILETIME* lpft;
};
struct SGuidArray {
    ULONG cValues;
    GUID* lpguid;
};
struct SLargeIntegerArray {
    ULONG cValues;
    LARGE_INTEGER* lpli;
};
struct SLPSTRArray {
    ULONG cValues;
    LPSTR* lppszA;
};
struct SWStringArray {
    ULONG cValues;
    LPWSTR* lppszW;
};

// ---- property values -----------------------------------------------------------
union _PV {
    SHORT i;             // PT_I2
    LONG l;              // PT_LONG
    ULONG ul;            // PT_LONG, unsigned view
    float flt;           // PT_R4
    double dbl;          // PT_DOUBLE
    unsigned short b;    // PT_BOOLEAN
    CURRENCY cur;        // PT_CURRENCY
    double at;           // PT_APPTIME
    FILETIME ft;         // PT_SYSTIME
    LPSTR lpszA;         // PT_STRING8
    SBinary bin;         // PT_BINARY
    LPWSTR lpszW;        // PT_UNICODE
    LPGUID lpguid;       // PT_CLSID
    LARGE_INTEGER li;    // PT_I8
    SShortArray MVi;     // PT_MV_I2
    SLongArray MVl;      // PT_MV_LONG
    SRealArray MVflt;    // PT_MV_R4
    SDoubleArray MVdbl;  // PT_MV_DOUBLE
    SCurrencyArray MVcur;
    SAppTimeArray MVat;
    SDateTimeArray MVft;
    SBinaryArray MVbin;
    SLPSTRArray MVszA;
    SWStringArray MVszW;
    SGuidArray MVguid;
    SLargeIntegerArray MVli;
    SCODE err;  // PT_ERROR
    LONG x;     // PT_NULL, PT_OBJECT (no usable value)
};

struct SPropValue {
    ULONG ulPropTag;
    ULONG dwAlignPad;
    union _PV Value;
};
using LPSPropValue = SPropValue*;

// A counted array of property tags. The published form is a variable-length
// structure; SizedSPropTagArray declares one with room for n tags.
struct SPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[1];
};
using LPSPropTagArray = SPropTagArray*;

#define SizedSPropTagArray(_ctag, _name) \
    struct _SPropTagArray_##_name {      \
        ULONG cValues;                   \
        ULONG aulPropTag[_ctag];         \
    } _name

// Bytes needed for an SPropTagArray of n tags.
constexpr std::size_t CbNewSPropTagArray(ULONG n) {
    return offsetof(SPropTagArray, aulPropTag) + sizeof(ULONG) * (n == 0 ? 1 : n);
}

struct SPropProblem {
    ULONG ulIndex;
    ULONG ulPropTag;
    SCODE scode;
};
struct SPropProblemArray {
    ULONG cProblem;
    SPropProblem aProblem[1];
};
using LPSPropProblemArray = SPropProblemArray*;

// ---- rows ------------------------------------------------------------------------
struct SRow {
    ULONG ulAdrEntryPad;
    ULONG cValues;
    LPSPropValue lpProps;
};
using LPSRow = SRow*;

struct SRowSet {
    ULONG cRows;
    SRow aRow[1];
};
using LPSRowSet = SRowSet*;

constexpr std::size_t CbNewSRowSet(ULONG n) {
    return offsetof(SRowSet, aRow) + sizeof(SRow) * (n == 0 ? 1 : n);
}

// Address lists share the row layout (ModifyRecipients, FreePadrlist).
struct ADRENTRY {
    ULONG ulReserved1;
    ULONG cValues;
    LPSPropValue rgPropVals;
};
using LPADRENTRY = ADRENTRY*;
struct ADRLIST {
    ULONG cEntries;
    ADRENTRY aEntries[1];
};
using LPADRLIST = ADRLIST*;

constexpr std::size_t CbNewADRLIST(ULONG n) {
    return offsetof(ADRLIST, aEntries) + sizeof(ADRENTRY) * (n == 0 ? 1 : n);
}

// ---- sort orders -----------------------------------------------------------------
struct SSortOrder {
    ULONG ulPropTag;
    ULONG ulOrder;  // TABLE_SORT_ASCEND / TABLE_SORT_DESCEND
};
struct SSortOrderSet {
    ULONG cSorts;
    ULONG cCategories;
    ULONG cExpanded;
    SSortOrder aSort[1];
};
using LPSSortOrderSet = SSortOrderSet*;

// ---- restrictions ------------------------------------------------------------------
struct SRestriction;
using LPSRestriction = SRestriction*;

struct SAndRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
struct SOrRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
struct SNotRestriction {
    ULONG ulReserved;
    LPSRestriction lpRes;
};
struct SContentRestriction {
    ULONG ulFuzzyLevel;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SPropertyRestriction {
    ULONG relop;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SComparePropsRestriction {
    ULONG relop;
    ULONG ulPropTag1;
    ULONG ulPropTag2;
};
struct SBitMaskRestriction {
    ULONG relBMR;
    ULONG ulPropTag;
    ULONG ulMask;
};
struct SSizeRestriction {
    ULONG relop;
    ULONG ulPropTag;
    ULONG cb;
};
struct SExistRestriction {
    ULONG ulReserved1;
    ULONG ulPropTag;
    ULONG ulReserved2;
};
struct SSubRestriction {
    ULONG ulSubObject;
    LPSRestriction lpRes;
};
struct SCommentRestriction {
    ULONG cValues;
    LPSRestriction lpRes;
    LPSPropValue lpProp;
};

struct SRestriction {
    ULONG rt;  // RES_AND ... RES_COMMENT
    union {
        SComparePropsRestriction resCompareProps;
        SAndRestriction resAnd;
        SOrRestriction resOr;
        SNotRestriction resNot;
        SContentRestriction resContent;
        SPropertyRestriction resProperty;
        SBitMaskRestriction resBitMask;
        SSizeRestriction resSize;
        SExistRestriction resExist;
        SSubRestriction resSub;
        SCommentRestriction resComment;
    } res;
};

// ---- named properties ---------------------------------------------------------------
struct MAPINAMEID {
    LPGUID lpguid;
    ULONG ulKind;  // MNID_ID or MNID_STRING
    union {
        LONG lID;
        LPWSTR lpwstrName;
    } Kind;
};
using LPMAPINAMEID = MAPINAMEID*;

// ---- extended error ----------------------------------------------------------------
struct MAPIERROR {
    ULONG ulVersion;
    LPTSTR lpszError;
    LPTSTR lpszComponent;
    ULONG ulLowLevelError;
    ULONG ulContext;
};
using LPMAPIERROR = MAPIERROR*;

// ---- initialisation -------------------------------------------------------------------
struct MAPIINIT_0 {
    ULONG ulVersion;
    ULONG ulFlags;
};
using LPMAPIINIT_0 = MAPIINIT_0*;

// ---- stream statistics -------------------------------------------------------------
struct STATSTG {
    LPWSTR pwcsName;
    DWORD type;  // STGTY_STREAM
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

// ---- write batches (the engine's own addition) -------------------------------------
// Size bound of a write batch: when the saves not yet committed reach cMaxSaves saves
// or cbMaxBytes bytes of property values, the batch commits them at the end of the
// save that reached the bound and goes on in a new transaction. 0 takes the default
// (kWriteBatchDefaultSaves, kWriteBatchDefaultBytes).
struct WRITEBATCHLIMITS {
    ULONG cMaxSaves;
    ULONGLONG cbMaxBytes;
};
using LPWRITEBATCHLIMITS = WRITEBATCHLIMITS*;
inline constexpr ULONG kWriteBatchDefaultSaves = 20000;
inline constexpr ULONGLONG kWriteBatchDefaultBytes = ULONGLONG{64} << 20;

// How long a read snapshot (IReadSnapshot) holds its store at most between two
// Breathe calls that let other threads in.
inline constexpr ULONG kReadSnapshotHoldMs = 20;

struct WRITEBATCHSTATUS {
    ULONG cSaves;         // saves that joined the batch since it began
    ULONG cPending;       // of those, saves not yet committed
    ULONG cCommits;       // transactions committed (by Commit and at the bound)
    ULONG cBoundCommits;  // of those, commits made because the bound was reached
    HRESULT hrFailed;     // the first failed commit at the bound, else S_OK
};
using LPWRITEBATCHSTATUS = WRITEBATCHSTATUS*;
