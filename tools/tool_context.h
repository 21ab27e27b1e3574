// The store tool's view of a profile: the MAPI session, its default store, and
// folders and items found by path or by entry identifier. Every failure is thrown
// as ToolError with the MAPI code.
#pragma once

#include <string>

#include "platform/mapi/com_base.h"
#include "platform/mapi/mapi.h"
#include "tools/prop_text.h"

using mapistore::ComPtr;

// Throws ToolError{hr, context} when hr is a failure.
void Check(HRESULT hr, const std::string& context);

// Initialises MAPI for the life of the object.
class MapiRuntime {
public:
    MapiRuntime();
    ~MapiRuntime();
    MapiRuntime(const MapiRuntime&) = delete;
    MapiRuntime& operator=(const MapiRuntime&) = delete;
};

class ToolSession {
public:
    // Logs on to the profile and opens its default store; MAPI_E_LOGON_FAILED when the
    // profile does not exist.
    explicit ToolSession(const std::string& profile);
    ~ToolSession();
    ToolSession(const ToolSession&) = delete;
    ToolSession& operator=(const ToolSession&) = delete;

    IMAPISession* session() { return session_.get(); }
    IMsgStore* store() { return store_.get(); }
    // The top of the personal folders (IPM subtree) of the default store.
    ComPtr<IMAPIFolder> IpmRoot();
    // A folder by path below the IPM subtree ("Inbox/Projects", names ignoring case)
    // or by hexadecimal entry identifier (any store of the profile). With create, the
    // missing folders of a path are created (the last one with containerClass when
    // that is not empty). MAPI_E_NOT_FOUND when a component does not exist.
    ComPtr<IMAPIFolder> Folder(const std::string& pathOrId, bool create = false,
                               const std::string& containerClass = std::string());
    // An item by hexadecimal entry identifier: MAPI_E_INVALID_ENTRYID for text that is
    // not hexadecimal, MAPI_E_NOT_FOUND when nothing has that identifier.
    ComPtr<IMessage> Item(const std::string& hexId, bool modify);
    // The folder holding an item (opened for changes).
    ComPtr<IMAPIFolder> ParentOf(IMessage* item);
    // The path of a folder below the IPM subtree, "/" separated.
    std::string PathOf(IMAPIFolder* folder);

private:
    ComPtr<IUnknown> OpenEntry(const std::string& id, ULONG flags, ULONG& type);

    ComPtr<IMAPISession> session_;
    ComPtr<IMsgStore> store_;
};

// The bytes of a hexadecimal entry identifier: MAPI_E_INVALID_ENTRYID otherwise.
std::string EntryIdFromHex(const std::string& hex);
std::string BinaryProp(IMAPIProp* obj, ULONG tag);
std::string StringProp(IMAPIProp* obj, ULONG tag);
