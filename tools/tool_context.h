// The store tool's view of a profile: the MAPI session, its default store, and
// folders and items found by path or by entry identifier. Every failure is thrown
// as ToolError with the MAPI code.
#pragma once

#include <string>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_status_calls.h"
#include "tools/prop_text.h"

// Throws ToolError{hr, context} when hr is a failure.
void Check(HRESULT hr, const std::string& context);

// The store engine for the life of the object; a failed start is thrown as
// ToolError (the command's error line and code).
class MapiRuntime {
public:
    MapiRuntime();

private:
    CMapiInitializer engine_{std::nothrow};
};

class ToolSession {
public:
    // Logs on to the profile and opens its default store; MAPI_E_LOGON_FAILED when the
    // profile does not exist.
    explicit ToolSession(const std::string& profile);
    ~ToolSession();
    ToolSession(const ToolSession&) = delete;
    ToolSession& operator=(const ToolSession&) = delete;

    IMAPISession* session() { return session_.Get(); }
    IMsgStore* store() { return store_.Get(); }
    // The top of the personal folders (IPM subtree) of the default store.
    CMapiRef<IMAPIFolder> IpmRoot();
    // A folder by path below the IPM subtree ("Inbox/Projects", names ignoring case)
    // or by hexadecimal entry identifier (any store of the profile). With create, the
    // missing folders of a path are created (the last one with containerClass when
    // that is not empty). MAPI_E_NOT_FOUND when a component does not exist.
    CMapiRef<IMAPIFolder> Folder(const std::string& pathOrId, bool create = false,
                                 const std::string& containerClass = std::string());
    // An item by hexadecimal entry identifier: MAPI_E_INVALID_ENTRYID for text that is
    // not hexadecimal, MAPI_E_NOT_FOUND when nothing has that identifier.
    CMapiRef<IMessage> Item(const std::string& hexId, bool modify);
    // The folder holding an item (opened for changes).
    CMapiRef<IMAPIFolder> ParentOf(IMessage* item);
    // The path of a folder below the IPM subtree, "/" separated.
    std::string PathOf(IMAPIFolder* folder);

private:
    CMapiRef<IUnknown> OpenEntry(const std::string& id, ULONG flags, ULONG& type);

    CMapiRef<IMAPISession> session_;
    CMapiRef<IMsgStore> store_;
};

// What a command on one item opens: the store engine, a session on the profile and
// the item by its hexadecimal entry identifier (modify: opened for changes), closed in
// the reverse order. Used as the item itself (->, Get()).
class ToolItem {
public:
    ToolItem(const std::string& profile, const std::string& hexId, bool modify);

    IMessage* operator->() const { return item_.Get(); }
    IMessage* Get() const { return item_.Get(); }
    ToolSession& Session() { return session_; }
    // The folder holding the item (opened for changes).
    CMapiRef<IMAPIFolder> Parent() { return session_.ParentOf(item_.Get()); }
    // Lets the item go (before its folder deletes it).
    void Close() { item_.Reset(); }

private:
    MapiRuntime runtime_;
    ToolSession session_;
    CMapiRef<IMessage> item_;
};

// The bytes of a hexadecimal entry identifier: MAPI_E_INVALID_ENTRYID otherwise.
std::string EntryIdFromHex(const std::string& hex);

// A list of the one entry identifier given in hexadecimal, for the calls that take an
// ENTRYLIST (MAPI_E_INVALID_ENTRYID for text that is not hexadecimal).
class SingleEntryList {
public:
    explicit SingleEntryList(const std::string& hexId);
    SingleEntryList(const SingleEntryList&) = delete;
    SingleEntryList& operator=(const SingleEntryList&) = delete;

    ENTRYLIST* Get() { return &list_; }

private:
    std::string id_;
    SBinary entry_{};
    ENTRYLIST list_{};
};
