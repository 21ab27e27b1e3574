// The free functions of the MAPI subsystem: initialisation, log-on, memory, row and
// property helpers, profile administration, and the engine's own additions (second
// stores, error names).
//
// Profiles live in $XDG_DATA_HOME/MAPI/Profiles/<name>/ (XDG_DATA_HOME defaults to
// ~/.local/share): a file "profile" listing the stores, and one SQLite database per
// store (mode 0600). A new profile has one default store, "Personal Folders", whose
// IPM subtree "Top of Personal Folders" holds Inbox, Outbox, Sent Items, Deleted
// Items, Drafts, Contacts, Calendar, Tasks, Notes and Journal.
//
// All functions may be called from any thread.
#pragma once

#include <string>

#include "platform/mapi/mapi_interfaces.h"

// Starts the subsystem (counted: each call needs a MAPIUninitialize).
// lpMapiInit may be null or a MAPIINIT_0 with ulVersion MAPI_INIT_VERSION.
HRESULT MAPIInitialize(LPVOID lpMapiInit);
void MAPIUninitialize();

// Logs on to the profile lpszProfileName (null: the default profile, "Default" when
// none is marked). ulUIParam, lpszPassword, MAPI_LOGON_UI and the other UI flags are
// ignored. MAPI_E_NOT_INITIALIZED before MAPIInitialize; MAPI_E_LOGON_FAILED when the
// profile does not exist or its list of stores cannot be read.
HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword, FLAGS flFlags,
                    LPMAPISESSION* lppSession);

// Profile administration. MAPI_E_NOT_INITIALIZED before MAPIInitialize.
HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);

// Memory. MAPIAllocateBuffer gives a block (aligned for any value) that the caller
// frees with MAPIFreeBuffer; MAPIAllocateMore links further blocks to such a block
// (lpObject), freed with it. MAPIFreeBuffer(nullptr) is S_OK. Blocks are zero-filled.
SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG MAPIFreeBuffer(LPVOID lpBuffer);

// Every row of the table (after lpPropTags columns, lpRestriction and lpSortOrderSet,
// each optional), from the start; at most crowsMax rows when it is not 0
// (MAPI_E_TABLE_TOO_BIG when there are more). Free with FreeProws.
HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                       LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet, LONG crowsMax,
                       LPSRowSet* lppRows);
// One property: S_OK and a value to free with MAPIFreeBuffer; MAPI_E_NOT_FOUND when
// it is missing (never a warning).
HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp);
// One property through SetProps; a problem with it is returned as the call's error.
HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);
// Frees a row set (each row's values, then the set). Null is ignored.
void FreeProws(LPSRowSet lpRows);
void FreePadrlist(LPADRLIST lpAdrlist);

// The property value with tag ulPropTag in lpPropArray, or null.
LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag);

// ---- the engine's own additions ----------------------------------------------------

// Adds a further (not default) store named lpszDisplayName to an existing profile,
// with the same default folders as the first. Its entry identifier goes to
// *lpcbEntryID / *lppEntryID when they are not null (free with MAPIFreeBuffer).
// MAPI_E_NOT_FOUND when the profile does not exist.
HRESULT HrCreateMsgStore(LPCSTR lpszProfileName, LPCSTR lpszDisplayName, ULONG ulFlags,
                         ULONG* lpcbEntryID, LPENTRYID* lppEntryID);

// Begins a write batch for the calling thread (see IWriteBatch): from now until the
// batch is released, every save of this thread in a store of this engine (message
// and attachment saves, folder and store changes, copies, moves, deletions, named
// property creation) joins one transaction per store instead of committing at
// once. A save that fails is rolled back alone and the batch goes on. lpLimits
// (null: the defaults) bounds the batch, see WRITEBATCHLIMITS. Releasing the batch
// without Commit rolls back what is not committed; release it on the same thread.
// MAPI_E_BUSY when the thread already has a batch open.
// The thread holds each store it wrote to until the batch commits or ends, so keep
// batches short, and never wait there for another thread that uses those stores.
HRESULT HrBeginWriteBatch(const WRITEBATCHLIMITS* lpLimits, ULONG ulFlags, LPWRITEBATCH* lppBatch);

// Begins a read snapshot of the store of lpFolder for the calling thread (see
// IReadSnapshot); releasing it ends the transaction and gives the store back
// (release it on the same thread). Within a write batch that already holds the
// store the reads run in the batch's transaction and the snapshot adds nothing.
// MAPI_E_INVALID_PARAMETER for a folder of no store of this engine.
HRESULT HrBeginReadSnapshot(LPMAPIFOLDER lpFolder, ULONG ulFlags, LPREADSNAPSHOT* lppSnapshot);

// The folder holding the profiles ($XDG_DATA_HOME/MAPI/Profiles).
std::string MapiProfilesFolder();

// "MAPI_E_NOT_FOUND" and the like for every code of mapi_codes.h; null for others.
const char* MapiErrorName(HRESULT hr);
