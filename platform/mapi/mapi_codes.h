// Result codes, flags and enumerations of the MAPI interfaces, with their published
// values ([MS-OXCDATA] 2.4, the MAPI reference). Errors are 0x80040000 | code
// (facility ITF); warnings 0x00040000 | code; five errors alias OLE codes.
#pragma once

#include "platform/mapi/mapi_types.h"

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr SCODE GetScode(HRESULT hr) { return hr; }
constexpr HRESULT ResultFromScode(SCODE sc) { return sc; }

constexpr HRESULT MapiCode(std::uint32_t value) { return static_cast<HRESULT>(value); }

// ---- success and warnings -------------------------------------------------------
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT hrSuccess = 0;
constexpr HRESULT SUCCESS_SUCCESS = 0;
constexpr HRESULT MAPI_W_NO_SERVICE = 0x00040203;
constexpr HRESULT MAPI_W_ERRORS_RETURNED = 0x00040380;
constexpr HRESULT MAPI_W_POSITION_CHANGED = 0x00040481;
constexpr HRESULT MAPI_W_APPROX_COUNT = 0x00040482;
constexpr HRESULT MAPI_W_CANCEL_MESSAGE = 0x00040580;
constexpr HRESULT MAPI_W_PARTIAL_COMPLETION = 0x00040680;

// ---- errors ----------------------------------------------------------------------
constexpr HRESULT MAPI_E_CALL_FAILED = MapiCode(0x80004005);              // E_FAIL
constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = MapiCode(0x8007000E);        // E_OUTOFMEMORY
constexpr HRESULT MAPI_E_INVALID_PARAMETER = MapiCode(0x80070057);        // E_INVALIDARG
constexpr HRESULT MAPI_E_INTERFACE_NOT_SUPPORTED = MapiCode(0x80004002);  // E_NOINTERFACE
constexpr HRESULT MAPI_E_NO_ACCESS = MapiCode(0x80070005);                // E_ACCESSDENIED
constexpr HRESULT E_FAIL = MAPI_E_CALL_FAILED;
constexpr HRESULT E_OUTOFMEMORY = MAPI_E_NOT_ENOUGH_MEMORY;
constexpr HRESULT E_INVALIDARG = MAPI_E_INVALID_PARAMETER;
constexpr HRESULT E_NOINTERFACE = MAPI_E_INTERFACE_NOT_SUPPORTED;
constexpr HRESULT E_ACCESSDENIED = MAPI_E_NO_ACCESS;
constexpr HRESULT MAPI_E_NO_SUPPORT = MapiCode(0x80040102);
constexpr HRESULT MAPI_E_BAD_CHARWIDTH = MapiCode(0x80040103);
constexpr HRESULT MAPI_E_STRING_TOO_LONG = MapiCode(0x80040105);
constexpr HRESULT MAPI_E_UNKNOWN_FLAGS = MapiCode(0x80040106);
constexpr HRESULT MAPI_E_INVALID_ENTRYID = MapiCode(0x80040107);
constexpr HRESULT MAPI_E_INVALID_OBJECT = MapiCode(0x80040108);
constexpr HRESULT MAPI_E_OBJECT_CHANGED = MapiCode(0x80040109);
constexpr HRESULT MAPI_E_OBJECT_DELETED = MapiCode(0x8004010A);
constexpr HRESULT MAPI_E_BUSY = MapiCode(0x8004010B);
constexpr HRESULT MAPI_E_NOT_ENOUGH_DISK = MapiCode(0x8004010D);
constexpr HRESULT MAPI_E_NOT_ENOUGH_RESOURCES = MapiCode(0x8004010E);
constexpr HRESULT MAPI_E_NOT_FOUND = MapiCode(0x8004010F);
constexpr HRESULT MAPI_E_VERSION = MapiCode(0x80040110);
constexpr HRESULT MAPI_E_LOGON_FAILED = MapiCode(0x80040111);
constexpr HRESULT MAPI_E_SESSION_LIMIT = MapiCode(0x80040112);
constexpr HRESULT MAPI_E_USER_CANCEL = MapiCode(0x80040113);
constexpr HRESULT MAPI_E_UNABLE_TO_ABORT = MapiCode(0x80040114);
constexpr HRESULT MAPI_E_NETWORK_ERROR = MapiCode(0x80040115);
constexpr HRESULT MAPI_E_DISK_ERROR = MapiCode(0x80040116);
constexpr HRESULT MAPI_E_TOO_COMPLEX = MapiCode(0x80040117);
constexpr HRESULT MAPI_E_BAD_COLUMN = MapiCode(0x80040118);
constexpr HRESULT MAPI_E_EXTENDED_ERROR = MapiCode(0x80040119);
constexpr HRESULT MAPI_E_COMPUTED = MapiCode(0x8004011A);
constexpr HRESULT MAPI_E_CORRUPT_DATA = MapiCode(0x8004011B);
constexpr HRESULT MAPI_E_UNCONFIGURED = MapiCode(0x8004011C);
constexpr HRESULT MAPI_E_FAILONEPROVIDER = MapiCode(0x8004011D);
constexpr HRESULT MAPI_E_UNKNOWN_CPID = MapiCode(0x8004011E);
constexpr HRESULT MAPI_E_UNKNOWN_LCID = MapiCode(0x8004011F);
constexpr HRESULT MAPI_E_PASSWORD_CHANGE_REQUIRED = MapiCode(0x80040120);
constexpr HRESULT MAPI_E_PASSWORD_EXPIRED = MapiCode(0x80040121);
constexpr HRESULT MAPI_E_INVALID_WORKSTATION_ACCOUNT = MapiCode(0x80040122);
constexpr HRESULT MAPI_E_INVALID_ACCESS_TIME = MapiCode(0x80040123);
constexpr HRESULT MAPI_E_ACCOUNT_DISABLED = MapiCode(0x80040124);
constexpr HRESULT MAPI_E_END_OF_SESSION = MapiCode(0x80040200);
constexpr HRESULT MAPI_E_UNKNOWN_ENTRYID = MapiCode(0x80040201);
constexpr HRESULT MAPI_E_MISSING_REQUIRED_COLUMN = MapiCode(0x80040202);
constexpr HRESULT MAPI_E_BAD_VALUE = MapiCode(0x80040301);
constexpr HRESULT MAPI_E_INVALID_TYPE = MapiCode(0x80040302);
constexpr HRESULT MAPI_E_TYPE_NO_SUPPORT = MapiCode(0x80040303);
constexpr HRESULT MAPI_E_UNEXPECTED_TYPE = MapiCode(0x80040304);
constexpr HRESULT MAPI_E_TOO_BIG = MapiCode(0x80040305);
constexpr HRESULT MAPI_E_DECLINE_COPY = MapiCode(0x80040306);
constexpr HRESULT MAPI_E_UNEXPECTED_ID = MapiCode(0x80040307);
constexpr HRESULT MAPI_E_UNABLE_TO_COMPLETE = MapiCode(0x80040400);
constexpr HRESULT MAPI_E_TIMEOUT = MapiCode(0x80040401);
constexpr HRESULT MAPI_E_TABLE_EMPTY = MapiCode(0x80040402);
constexpr HRESULT MAPI_E_TABLE_TOO_BIG = MapiCode(0x80040403);
constexpr HRESULT MAPI_E_INVALID_BOOKMARK = MapiCode(0x80040405);
constexpr HRESULT MAPI_E_WAIT = MapiCode(0x80040500);
constexpr HRESULT MAPI_E_CANCEL = MapiCode(0x80040501);
constexpr HRESULT MAPI_E_NOT_ME = MapiCode(0x80040502);
constexpr HRESULT MAPI_E_CORRUPT_STORE = MapiCode(0x80040600);
constexpr HRESULT MAPI_E_NOT_IN_QUEUE = MapiCode(0x80040601);
constexpr HRESULT MAPI_E_NO_SUPPRESS = MapiCode(0x80040602);
constexpr HRESULT MAPI_E_COLLISION = MapiCode(0x80040604);
constexpr HRESULT MAPI_E_NOT_INITIALIZED = MapiCode(0x80040605);
constexpr HRESULT MAPI_E_NON_STANDARD = MapiCode(0x80040606);
constexpr HRESULT MAPI_E_NO_RECIPIENTS = MapiCode(0x80040607);
constexpr HRESULT MAPI_E_SUBMITTED = MapiCode(0x80040608);
constexpr HRESULT MAPI_E_HAS_FOLDERS = MapiCode(0x80040609);
constexpr HRESULT MAPI_E_HAS_MESSAGES = MapiCode(0x8004060A);
constexpr HRESULT MAPI_E_FOLDER_CYCLE = MapiCode(0x8004060B);
constexpr HRESULT MAPI_E_AMBIGUOUS_RECIP = MapiCode(0x80040700);

// ---- MAPIInitialize / MAPILogonEx ---------------------------------------------------
constexpr ULONG MAPI_INIT_VERSION = 0;
constexpr ULONG MAPI_MULTITHREAD_NOTIFICATIONS = 0x00000001;
constexpr ULONG MAPI_NT_SERVICE = 0x00010000;
constexpr ULONG MAPI_LOGON_UI = 0x00000001;
constexpr ULONG MAPI_NEW_SESSION = 0x00000002;
constexpr ULONG MAPI_ALLOW_OTHERS = 0x00000008;
constexpr ULONG MAPI_EXPLICIT_PROFILE = 0x00000010;
constexpr ULONG MAPI_EXTENDED = 0x00000020;
constexpr ULONG MAPI_USE_DEFAULT = 0x00000040;
constexpr ULONG MAPI_SERVICE_UI_ALWAYS = 0x00002000;
constexpr ULONG MAPI_NO_MAIL = 0x00008000;
constexpr ULONG MAPI_PASSWORD_UI = 0x00020000;
constexpr ULONG MAPI_TIMEOUT_SHORT = 0x00100000;
constexpr ULONG MAPI_UNICODE = 0x80000000;
constexpr ULONG fMapiUnicode = 0;  // 8-bit build

// ---- opening and creating -------------------------------------------------------------
constexpr ULONG MAPI_MODIFY = 0x00000001;
constexpr ULONG MAPI_CREATE = 0x00000002;
constexpr ULONG MAPI_DEFERRED_ERRORS = 0x00000008;
constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
constexpr ULONG MAPI_ASSOCIATED = 0x00000040;
constexpr ULONG MDB_NO_DIALOG = 0x00000001;
constexpr ULONG MDB_WRITE = 0x00000004;
constexpr ULONG MDB_TEMPORARY = 0x00000020;
constexpr ULONG MDB_NO_MAIL = 0x00000080;
constexpr ULONG MAPI_DEFAULT_SERVICES = 0x00000001;  // IProfAdmin::CreateProfile

// ---- named properties --------------------------------------------------------------
constexpr ULONG MNID_ID = 0;
constexpr ULONG MNID_STRING = 1;
constexpr ULONG MAPI_NO_STRINGS = 0x00000001;
constexpr ULONG MAPI_NO_IDS = 0x00000002;

// ---- SaveChanges ----------------------------------------------------------------------
constexpr ULONG KEEP_OPEN_READONLY = 0x00000001;
constexpr ULONG KEEP_OPEN_READWRITE = 0x00000002;
constexpr ULONG FORCE_SAVE = 0x00000004;

// ---- folders ----------------------------------------------------------------------------
constexpr ULONG FOLDER_ROOT = 0;
constexpr ULONG FOLDER_GENERIC = 1;
constexpr ULONG FOLDER_SEARCH = 2;
constexpr ULONG OPEN_IF_EXISTS = 0x00000001;
constexpr ULONG MESSAGE_MOVE = 0x00000001;
constexpr ULONG MESSAGE_DIALOG = 0x00000002;
constexpr ULONG FOLDER_MOVE = 0x00000001;
constexpr ULONG FOLDER_DIALOG = 0x00000002;
constexpr ULONG COPY_SUBFOLDERS = 0x00000010;
constexpr ULONG MAPI_MOVE = 0x00000001;
constexpr ULONG MAPI_NOREPLACE = 0x00000002;
constexpr ULONG MAPI_DECLINE_OK = 0x00000004;
constexpr ULONG MAPI_DIALOG = 0x00000008;
constexpr ULONG DEL_MESSAGES = 0x00000001;
constexpr ULONG DEL_FOLDERS = 0x00000004;
constexpr ULONG DEL_ASSOCIATED = 0x00000008;
constexpr ULONG SUPPRESS_RECEIPT = 0x00000001;
constexpr ULONG CLEAR_READ_FLAG = 0x00000004;
constexpr ULONG GENERATE_RECEIPT_ONLY = 0x00000010;
constexpr ULONG CLEAR_RN_PENDING = 0x00000020;
constexpr ULONG CLEAR_NRN_PENDING = 0x00000040;
constexpr ULONG CONVENIENT_DEPTH = 0x00000001;  // GetHierarchyTable: the whole subtree

// ---- recipients -------------------------------------------------------------------------
constexpr ULONG MODRECIP_ADD = 0x00000002;
constexpr ULONG MODRECIP_MODIFY = 0x00000004;
constexpr ULONG MODRECIP_REMOVE = 0x00000008;

// ---- tables -----------------------------------------------------------------------------
constexpr ULONG TBL_ASYNC = 0x00000001;
constexpr ULONG TBL_BATCH = 0x00000002;
constexpr ULONG TBL_ALL_COLUMNS = 0x00000001;
constexpr ULONG TBL_NOADVANCE = 0x00000001;
constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
constexpr BOOKMARK BOOKMARK_CURRENT = 1;
constexpr BOOKMARK BOOKMARK_END = 2;
constexpr ULONG DIR_BACKWARD = 0x00000001;
constexpr ULONG TABLE_SORT_ASCEND = 0x00000000;
constexpr ULONG TABLE_SORT_DESCEND = 0x00000001;
constexpr ULONG TABLE_SORT_COMBINE = 0x00000002;

// ---- restrictions -------------------------------------------------------------------------
constexpr ULONG RES_AND = 0x00000000;
constexpr ULONG RES_OR = 0x00000001;
constexpr ULONG RES_NOT = 0x00000002;
constexpr ULONG RES_CONTENT = 0x00000003;
constexpr ULONG RES_PROPERTY = 0x00000004;
constexpr ULONG RES_COMPAREPROPS = 0x00000005;
constexpr ULONG RES_BITMASK = 0x00000006;
constexpr ULONG RES_SIZE = 0x00000007;
constexpr ULONG RES_EXIST = 0x00000008;
constexpr ULONG RES_SUBRESTRICTION = 0x00000009;
constexpr ULONG RES_COMMENT = 0x0000000A;
constexpr ULONG RELOP_LT = 0;
constexpr ULONG RELOP_LE = 1;
constexpr ULONG RELOP_GT = 2;
constexpr ULONG RELOP_GE = 3;
constexpr ULONG RELOP_EQ = 4;
constexpr ULONG RELOP_NE = 5;
constexpr ULONG RELOP_RE = 6;
constexpr ULONG FL_FULLSTRING = 0x00000000;
constexpr ULONG FL_SUBSTRING = 0x00000001;
constexpr ULONG FL_PREFIX = 0x00000002;
constexpr ULONG FL_IGNORECASE = 0x00010000;
constexpr ULONG FL_IGNORENONSPACE = 0x00020000;
constexpr ULONG FL_LOOSE = 0x00040000;
constexpr ULONG BMR_EQZ = 0;
constexpr ULONG BMR_NEZ = 1;

// ---- streams (OpenProperty interface options, IStream) -----------------------------------
constexpr ULONG STGM_READ = 0x00000000;
constexpr ULONG STGM_WRITE = 0x00000001;
constexpr ULONG STGM_READWRITE = 0x00000002;
constexpr ULONG STGM_SHARE_EXCLUSIVE = 0x00000010;
constexpr ULONG STGM_CREATE = 0x00001000;
constexpr ULONG STGM_DIRECT = 0x00000000;
constexpr ULONG STGM_TRANSACTED = 0x00010000;
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STGTY_STREAM = 2;
constexpr DWORD STGC_DEFAULT = 0;
constexpr HRESULT STG_E_INVALIDFUNCTION = MapiCode(0x80030001);
constexpr HRESULT STG_E_ACCESSDENIED = MapiCode(0x80030005);
constexpr HRESULT STG_E_INVALIDPOINTER = MapiCode(0x80030009);
constexpr HRESULT STG_E_MEDIUMFULL = MapiCode(0x80030070);

// ---- object types (PR_OBJECT_TYPE, OpenEntry) ----------------------------------------------
constexpr ULONG MAPI_STORE = 0x00000001;
constexpr ULONG MAPI_ADDRBOOK = 0x00000002;
constexpr ULONG MAPI_FOLDER = 0x00000003;
constexpr ULONG MAPI_ABCONT = 0x00000004;
constexpr ULONG MAPI_MESSAGE = 0x00000005;
constexpr ULONG MAPI_MAILUSER = 0x00000006;
constexpr ULONG MAPI_ATTACH = 0x00000007;
constexpr ULONG MAPI_DISTLIST = 0x00000008;
constexpr ULONG MAPI_PROFSECT = 0x00000009;
constexpr ULONG MAPI_STATUS = 0x0000000A;
constexpr ULONG MAPI_SESSION = 0x0000000B;
constexpr ULONG MAPI_FORMINFO = 0x0000000C;

// ---- property value lists ----------------------------------------------------------------
constexpr ULONG MSGFLAG_READ = 0x00000001;
constexpr ULONG MSGFLAG_UNMODIFIED = 0x00000002;
constexpr ULONG MSGFLAG_SUBMIT = 0x00000004;
constexpr ULONG MSGFLAG_UNSENT = 0x00000008;
constexpr ULONG MSGFLAG_HASATTACH = 0x00000010;
constexpr ULONG MSGFLAG_FROMME = 0x00000020;
constexpr ULONG MSGFLAG_ASSOCIATED = 0x00000040;
constexpr ULONG MSGFLAG_RESEND = 0x00000080;
constexpr ULONG MSGFLAG_RN_PENDING = 0x00000100;
constexpr ULONG MSGFLAG_NRN_PENDING = 0x00000200;
constexpr ULONG MAPI_ORIG = 0;
constexpr ULONG MAPI_TO = 1;
constexpr ULONG MAPI_CC = 2;
constexpr ULONG MAPI_BCC = 3;
constexpr ULONG MAPI_P1 = 0x10000000;
constexpr ULONG MAPI_SUBMITTED = 0x80000000;
constexpr ULONG NO_ATTACHMENT = 0;
constexpr ULONG ATTACH_BY_VALUE = 1;
constexpr ULONG ATTACH_BY_REFERENCE = 2;
constexpr ULONG ATTACH_BY_REF_RESOLVE = 3;
constexpr ULONG ATTACH_BY_REF_ONLY = 4;
constexpr ULONG ATTACH_EMBEDDED_MSG = 5;
constexpr ULONG ATTACH_OLE = 6;
constexpr LONG IMPORTANCE_LOW = 0;
constexpr LONG IMPORTANCE_NORMAL = 1;
constexpr LONG IMPORTANCE_HIGH = 2;
constexpr LONG SENSITIVITY_NONE = 0;
constexpr LONG SENSITIVITY_PERSONAL = 1;
constexpr LONG SENSITIVITY_PRIVATE = 2;
constexpr LONG SENSITIVITY_COMPANY_CONFIDENTIAL = 3;
constexpr LONG PRIO_URGENT = 1;
constexpr LONG PRIO_NORMAL = 0;
constexpr LONG PRIO_NONURGENT = -1;
