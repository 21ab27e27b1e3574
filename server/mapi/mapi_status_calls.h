// The status-returning side of the store adapter: property reads, opening entries,
// stores and log-ons, store and folder tables, and configured folder paths. None of
// them raises; a store error gives the empty value or none. They share their store calls with the
// raising side (TryOpenEntry, TryTakeTable, TryQueryAs, TryQueryAllRows), which wraps the same
// calls in CMAPIException (mapi_wrapper.h).
//
// Every function may be called from any thread (the store serialises its calls);
// the store cache of OpenConfiguredFolder has its own lock.
#pragma once

#include <string>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_ref.h"

// One property of object; empty when missing or of another type.
std::string GetBinaryProperty(IMAPIProp* object, ULONG tag);
std::string GetStringProperty(IMAPIProp* object, ULONG tag);

// Opens entryId through the OpenEntry of source (session, store or container) as a
// folder or message; none on failure or when the entry is not one.
CMapiRef<IMAPIFolder> OpenFolderEntry(IMAPISession* session, const std::string& entryId,
                                      ULONG flags = MAPI_BEST_ACCESS);
CMapiRef<IMAPIFolder> OpenFolderEntry(IMsgStore* store, const std::string& entryId,
                                      ULONG flags = MAPI_BEST_ACCESS);
CMapiRef<IMAPIFolder> OpenFolderEntry(IMAPIFolder* container, const std::string& entryId,
                                      ULONG flags = MAPI_BEST_ACCESS);
CMapiRef<IMessage> OpenMessageEntry(IMsgStore* store, const std::string& entryId,
                                    ULONG flags = MAPI_BEST_ACCESS);

// A message store of session by entry ID (best access); none on failure.
CMapiRef<IMsgStore> OpenStore(IMAPISession* session, const std::string& entryId);

struct CStoreRow {
    std::string entryId;
    std::string displayName;
    bool isDefault = false;
};
// The rows of the session's message-store table; empty on failure.
std::vector<CStoreRow> ListStores(IMAPISession* session);

struct CChildFolder {
    std::string entryId;
    std::string displayName;
};
// The direct sub-folders of folder; empty on failure.
std::vector<CChildFolder> ListChildFolders(IMAPIFolder* folder);

// A new session on profile (no window, no password, MAPI_NEW_SESSION); none with the
// HRESULT in error when the log-on fails.
CMapiRef<IMAPISession> LogonProfile(const std::string& profile, HRESULT& error);

// The folder of session named by outlookPath (store display name, then folder display
// names below the IPM subtree, separated by runs of "\"; names compare ignoring case).
// Stores are kept in a process-wide cache keyed by profile + ":" + store name. A path
// that names only a store, or a component that is not found, gives none.
CMapiRef<IMAPIFolder> OpenConfiguredFolder(const std::string& profile, IMAPISession* session,
                                           const std::string& outlookPath);
// Drops the process-wide store cache (tests, and after a profile was removed).
void ClearStoreCache();

// The entry ID of the store's receive folder for messageClass ("IPM": the inbox);
// empty on failure.
std::string ReceiveFolderId(IMsgStore* store, const std::string& messageClass);

// The full path of folder: the store's display name, then the display names from the
// IPM subtree down to folder, joined by "\"; empty on failure.
std::string FolderFullPath(IMsgStore* store, IMAPIFolder* folder);
