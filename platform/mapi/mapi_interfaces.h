// The MAPI interfaces of the message store engine, shaped like the published ones:
// same method names, parameter order and HRESULT results. Methods of the published
// interfaces that the system never calls (notifications, search folders, progress
// dialogs, ...) are left out.
//
// Ownership: every interface is reference counted. An object handed out through an
// out-parameter (OpenEntry, GetContentsTable, CreateMessage, ...) carries one
// reference that the caller ends with Release(). Buffers handed out (LPSPropValue,
// LPSRowSet, LPSPropTagArray, LPENTRYID, LPMAPINAMEID*, LPMAPIERROR, ...) are owned by
// the caller and freed with MAPIFreeBuffer (row sets with FreeProws). Buffers passed
// in stay the caller's.
//
// Threads: an object may be used from several threads; each call runs under its
// store's lock, so calls on one store are serialised. Several processes may open one
// store; a writer waits for another's transaction (busy timeout) before it fails
// with MAPI_E_BUSY.
//
// Common failures of every method: MAPI_E_INVALID_PARAMETER for a null pointer where
// one is required or a malformed argument; MAPI_E_UNKNOWN_FLAGS for flag bits the
// method does not know; MAPI_E_NOT_ENOUGH_MEMORY; MAPI_E_DISK_ERROR,
// MAPI_E_CORRUPT_STORE or MAPI_E_BUSY when the database cannot be read or written.
// A failing call changes nothing in the store.
#pragma once

#include "platform/mapi/mapi_codes.h"
#include "platform/mapi/mapi_tags.h"
#include "platform/mapi/mapi_types.h"

class IMAPIProgress;  // never used by this engine: pass nullptr
class IMAPITable;
class IStream;
class IAttach;
class IMessage;
class IMAPIFolder;
class IMsgStore;
using LPMAPIPROGRESS = IMAPIProgress*;
using LPMAPITABLE = IMAPITable*;
using LPSTREAM = IStream*;
using LPATTACH = IAttach*;
using LPMESSAGE = IMessage*;
using LPMAPIFOLDER = IMAPIFolder*;
using LPMDB = IMsgStore*;

class IUnknown {
public:
    // S_OK and an added reference in *ppvObj when the object offers riid (its own
    // interface or one it derives from); MAPI_E_INTERFACE_NOT_SUPPORTED otherwise.
    virtual HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) = 0;
    // Return the new reference count. The last Release destroys the object.
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// Property object: store, folder, message, attachment.
class IMAPIProp : public IUnknown {
public:
    // Details of the last failure of a call on this object: a MAPIERROR (free with
    // MAPIFreeBuffer) whose texts name the error and the component; S_OK.
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    // Messages and attachments: writes every change since opening (or the last save) in
    // one transaction and sets PR_LAST_MODIFICATION_TIME (never the same value for two
    // saves of one item). Flags KEEP_OPEN_READWRITE (object stays writable),
    // KEEP_OPEN_READONLY (further writes give MAPI_E_NO_ACCESS), none (further writes
    // give MAPI_E_INVALID_OBJECT). An attachment's save lands in its message, which
    // still has to be saved. MAPI_E_NO_ACCESS on an object opened read-only;
    // MAPI_E_OBJECT_DELETED when the item was deleted meanwhile. Folders and stores
    // write at once; their SaveChanges returns S_OK.
    virtual HRESULT SaveChanges(ULONG ulFlags) = 0;
    // Values for the tags asked for, in that order (all properties when
    // lpPropTagArray is null). A string tag may ask for either form; PT_UNSPECIFIED
    // gives the stored type. A missing property, or one that cannot be given in the
    // asked type, comes back as PT_ERROR with MAPI_E_NOT_FOUND and the call returns
    // MAPI_W_ERRORS_RETURNED. ulFlags may carry MAPI_UNICODE (strings of PT_UNSPECIFIED
    // tags come back as UTF-16).
    virtual HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                             LPSPropValue* lppPropArray) = 0;
    // Every tag the object holds (strings in their 8-bit form unless MAPI_UNICODE).
    virtual HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) = 0;
    // A stream (lpiid = IID_IStream) on a string or binary property, or a table
    // (IID_IMAPITable) on PR_MESSAGE_RECIPIENTS / PR_MESSAGE_ATTACHMENTS /
    // PR_CONTAINER_CONTENTS / PR_CONTAINER_HIERARCHY. ulFlags MAPI_MODIFY allows
    // writing, MAPI_CREATE starts from empty (and allows a missing property).
    // MAPI_E_NOT_FOUND for a missing property without MAPI_CREATE;
    // MAPI_E_INTERFACE_NOT_SUPPORTED for another interface or property type.
    virtual HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions,
                                 ULONG ulFlags, LPUNKNOWN* lppUnk) = 0;
    // Sets values (kept in the object until SaveChanges for messages and attachments).
    // Computed and read-only properties (PR_ENTRYID, PR_LAST_MODIFICATION_TIME, ...) are
    // reported in *lppProblems (may be null) with MAPI_E_COMPUTED; a tag of type
    // PT_ERROR, PT_NULL, PT_OBJECT, PT_UNSPECIFIED, or with an unknown type, is
    // reported with MAPI_E_INVALID_TYPE; the call still returns S_OK.
    virtual HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray,
                             LPSPropProblemArray* lppProblems) = 0;
    // Removes properties (missing ones are not a problem; computed ones are).
    virtual HRESULT DeleteProps(LPSPropTagArray lpPropTagArray,
                                LPSPropProblemArray* lppProblems) = 0;
    // Names of named-property ids (0x8000 and above) of this object's store. *lppPropTags
    // null asks for every mapped name and returns the tags. An id without a name gives
    // a null entry and MAPI_W_ERRORS_RETURNED.
    virtual HRESULT GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid,
                                    ULONG ulFlags, ULONG* lpcPropNames,
                                    LPMAPINAMEID** lpppPropNames) = 0;
    // Ids for names, as tags of type PT_UNSPECIFIED (OR in the type). With MAPI_CREATE
    // an unknown name gets the next free id from 0x8000 (kept by the store for good);
    // without it an unknown name gives PROP_TAG(PT_ERROR, 0) and
    // MAPI_W_ERRORS_RETURNED. MAPI_E_NOT_ENOUGH_RESOURCES when the ids run out.
    virtual HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                    LPSPropTagArray* lppPropTags) = 0;
};
using LPMAPIPROP = IMAPIProp*;

class IMAPIContainer : public IMAPIProp {
public:
    // Messages of the folder, in creation order (see IMAPITable).
    virtual HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    // Direct sub-folders (with CONVENIENT_DEPTH: the whole subtree, PR_DEPTH from 1).
    virtual HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    // Opens a folder or message of the same store by entry identifier (cbEntryID 0:
    // the store's root folder). Read-only unless MAPI_MODIFY or MAPI_BEST_ACCESS.
    // MAPI_E_INVALID_ENTRYID for an identifier of a different form or another store;
    // MAPI_E_NOT_FOUND for one that names nothing (any more).
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                              ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
};
using LPMAPICONTAINER = IMAPIContainer*;

class IMAPIFolder : public IMAPIContainer {
public:
    // A new message in this folder; it exists for others only after SaveChanges.
    virtual HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) = 0;
    // Copies (or with MESSAGE_MOVE moves) the listed messages of this folder into
    // lpDestFolder (an IMAPIFolder of this engine), all in one transaction. A move
    // within the store keeps the entry identifiers; a copy gets new ones. A move to
    // another store is refused with MAPI_E_NO_SUPPORT (copying there works).
    // MAPI_E_NOT_FOUND when an entry is not a message of this folder; nothing is
    // copied or moved then.
    virtual HRESULT CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, LPVOID lpDestFolder,
                                 ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    // Deletes the listed messages of this folder for good, in one transaction.
    // MAPI_E_NOT_FOUND (and nothing deleted) when an entry is not a message of it.
    virtual HRESULT DeleteMessages(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam,
                                   LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    // A sub-folder named lpszFolderName (UTF-16 with MAPI_UNICODE). Names compare
    // ignoring case. An existing name gives MAPI_E_COLLISION, or the existing folder
    // with OPEN_IF_EXISTS. The new folder carries PR_DISPLAY_NAME, PR_COMMENT (when
    // given) and no container class.
    virtual HRESULT CreateFolder(ULONG ulFolderType, LPTSTR lpszFolderName,
                                 LPTSTR lpszFolderComment, LPCIID lpInterface, ULONG ulFlags,
                                 LPMAPIFOLDER* lppFolder) = 0;
    // Deletes a sub-folder; needs DEL_MESSAGES / DEL_FOLDERS when it is not empty
    // (MAPI_E_HAS_MESSAGES / MAPI_E_HAS_FOLDERS otherwise).
    virtual HRESULT DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR ulUIParam,
                                 LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    // Sets (or with CLEAR_READ_FLAG clears) MSGFLAG_READ of the listed messages (all
    // messages when lpMsgList is null). PR_LAST_MODIFICATION_TIME stays unchanged.
    virtual HRESULT SetReadFlags(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam,
                                 LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
};

class IMsgStore : public IMAPIProp {
public:
    // *lpulResult TRUE when both identifiers name the same object.
    virtual HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                    LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) = 0;
    // As IMAPIContainer::OpenEntry; cbEntryID 0 opens the root folder.
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                              ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    // Makes a folder the receive folder of a message class (null entry: removes it).
    virtual HRESULT SetReceiveFolder(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG cbEntryID,
                                     LPENTRYID lpEntryID) = 0;
    // The receive folder of the class, or of its longest prefix ("IPM.Note" -> "IPM");
    // the empty class's folder otherwise. *lppszExplicitClass (may be null) receives
    // the class that matched.
    virtual HRESULT GetReceiveFolder(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID,
                                     LPENTRYID* lppEntryID, LPTSTR* lppszExplicitClass) = 0;
    virtual HRESULT StoreLogoff(ULONG* lpulFlags) = 0;
};

class IMessage : public IMAPIProp {
public:
    // Attachments with PR_ATTACH_NUM, PR_INSTANCE_KEY, PR_RECORD_KEY and their properties
    // (including unsaved changes of this message object).
    virtual HRESULT GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    // MAPI_E_NOT_FOUND for an unknown number.
    virtual HRESULT OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags,
                               LPATTACH* lppAttach) = 0;
    virtual HRESULT CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum,
                                 LPATTACH* lppAttach) = 0;
    virtual HRESULT DeleteAttach(ULONG ulAttachmentNum, ULONG_PTR ulUIParam,
                                 LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    // Recipients with PR_ROWID, PR_INSTANCE_KEY and their properties.
    virtual HRESULT GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    // ulFlags 0 replaces all recipients; MODRECIP_ADD appends (new PR_ROWID),
    // MODRECIP_MODIFY replaces the rows named by PR_ROWID, MODRECIP_REMOVE removes them.
    // Takes effect with SaveChanges.
    virtual HRESULT ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) = 0;
    // Not offered by this engine: MAPI_E_NO_SUPPORT.
    virtual HRESULT SubmitMessage(ULONG ulFlags) = 0;
    // Sets (or with CLEAR_READ_FLAG clears) MSGFLAG_READ at once for a saved message.
    virtual HRESULT SetReadFlag(ULONG ulFlags) = 0;
};

class IAttach : public IMAPIProp {};

// A table: a view of rows in a stable order (creation order unless SortTable was
// called), a column set, an optional restriction and a cursor.
class IMAPITable : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    // The columns QueryRows returns, in this order (a tag may appear twice).
    virtual HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) = 0;
    virtual HRESULT QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) = 0;
    virtual HRESULT GetRowCount(ULONG ulFlags, ULONG* lpulCount) = 0;
    // Moves the cursor lRowCount rows from the bookmark; *lplRowsSought (may be null)
    // receives the rows actually moved (fewer at either end).
    virtual HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) = 0;
    virtual HRESULT QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) = 0;
    // Moves the cursor to the first row from the bookmark (backwards with DIR_BACKWARD)
    // that matches; MAPI_E_NOT_FOUND (cursor unchanged) when none does. A RELOP_EQ
    // property restriction on a string property is answered from an index.
    virtual HRESULT FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) = 0;
    // Keeps only the rows that match (null: all rows); the cursor goes to the start. A
    // restriction on a property a row lacks does not match it (also for RELOP_NE).
    // MAPI_E_TOO_COMPLEX for a restriction this engine cannot evaluate (unknown type,
    // constant of another type than its tag, ...).
    virtual HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) = 0;
    // Orders rows by the given columns (stable; rows lacking a column sort first).
    virtual HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) = 0;
    // Up to lRowCount rows from the cursor (backwards when negative), advancing it
    // unless TBL_NOADVANCE. An empty row set at the end. Missing values come back as
    // PT_ERROR / MAPI_E_NOT_FOUND. Free the result with FreeProws.
    virtual HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) = 0;
};

class IStream : public IUnknown {
public:
    // Reads up to cb bytes from the position; *pcbRead 0 at the end.
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    // STG_E_ACCESSDENIED on a stream opened without MAPI_MODIFY.
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
    virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                         ULARGE_INTEGER* plibNewPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
    // Puts the written bytes into the property of the object the stream was opened on
    // (the object's own SaveChanges then stores it). A string property ends at its
    // first zero character: a terminating zero written by the caller is not stored.
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    // Drops writes since the last Commit.
    virtual HRESULT Revert() = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
};

class IMAPISession : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    // Stores of the profile: PR_ENTRYID, PR_DISPLAY_NAME, PR_DEFAULT_STORE,
    // PR_RECORD_KEY, PR_PROVIDER_DISPLAY, PR_MDB_PROVIDER, PR_RESOURCE_FLAGS,
    // PR_OBJECT_TYPE, PR_INSTANCE_KEY; the default store first.
    virtual HRESULT GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    // MAPI_E_NOT_FOUND for a store not in the profile; MAPI_E_CORRUPT_STORE for a file
    // that is not a store of this engine or is damaged.
    virtual HRESULT OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID,
                                 LPCIID lpInterface, ULONG ulFlags, LPMDB* lppMDB) = 0;
    // Opens a store, folder or message of any store of the profile.
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                              ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                    LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) = 0;
    // Ends the session: later calls on it give MAPI_E_END_OF_SESSION; objects already
    // opened stay usable until released.
    virtual HRESULT Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) = 0;
};
using LPMAPISESSION = IMAPISession*;

// A write batch (the engine's own addition; HrBeginWriteBatch in mapi_functions.h):
// every save the thread that began it makes in a store of this engine, until the
// batch is released, joins one transaction per store. Saves stay invisible to other
// processes until the batch commits; other threads of this process that use a
// store the batch wrote to wait until it commits or ends. Use it only from the
// thread that began it.
class IWriteBatch : public IUnknown {
public:
    // Commits every save not yet committed: one transaction, and one sync to disk,
    // per store written. S_OK when all of them (and every commit the batch made at
    // its size bound) reached the disk; otherwise the first failure, and what was
    // not committed is rolled back. The batch stays open for further saves.
    // MAPI_E_CALL_FAILED on another thread than the one that began it.
    virtual HRESULT Commit(ULONG ulFlags) = 0;
    // Rolls back every save not yet committed. Objects saved in it keep what they
    // were given, but their items are as if deleted.
    virtual HRESULT Abort(ULONG ulFlags) = 0;
    virtual HRESULT GetStatus(LPWRITEBATCHSTATUS lpStatus) = 0;
};
using LPWRITEBATCH = IWriteBatch*;

// A read snapshot (the engine's own addition; HrBeginReadSnapshot in
// mapi_functions.h): while it is open, the reads of the thread that began it in the
// store of its folder run in one read transaction, so a long run of reads (an answer
// that sends thousands of items) begins one transaction instead of one per
// statement. It holds that store: other threads of this process that use it wait,
// so the holder calls Breathe between units of work. A save of the holder in that
// store ends the transaction first (later reads see the save). Use it only from the
// thread that began it.
class IReadSnapshot : public IUnknown {
public:
    // When the snapshot has held the store for kReadSnapshotHoldMs or longer: ends
    // the transaction, lets the threads waiting for the store in and begins a new
    // one. MAPI_E_CALL_FAILED on another thread than the one that began it.
    virtual HRESULT Breathe(ULONG ulFlags) = 0;
};
using LPREADSNAPSHOT = IReadSnapshot*;

// Profile administration (MAPIAdminProfiles).
class IProfAdmin : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    // One row per profile, by name: PR_DISPLAY_NAME (the profile name),
    // PR_DEFAULT_PROFILE, PR_INSTANCE_KEY.
    virtual HRESULT GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    // Creates the profile folder with its default store "Personal Folders" (see
    // mapi_functions.h for the layout). MAPI_E_NO_ACCESS when the profile exists;
    // MAPI_E_INVALID_PARAMETER for a name that is empty, longer than 64 bytes, "." or
    // "..", or holds "/", "\" or a control character.
    virtual HRESULT CreateProfile(LPTSTR lpszProfileName, LPTSTR lpszPassword, ULONG_PTR ulUIParam,
                                  ULONG ulFlags) = 0;
    // Removes the profile folder with its stores. MAPI_E_NOT_FOUND when absent.
    virtual HRESULT DeleteProfile(LPTSTR lpszProfileName, ULONG ulFlags) = 0;
    virtual HRESULT SetDefaultProfile(LPTSTR lpszProfileName, ULONG ulFlags) = 0;
};
using LPPROFADMIN = IProfAdmin*;
