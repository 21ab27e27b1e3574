// Profile, store, folder and item access for the store tool.
#include "tools/tool_context.h"

#include <vector>

#include "common/base/limits.h"
#include "common/base/text.h"
#include "tools/table_rows.h"

void Check(HRESULT hr, const std::string& context) {
    if (FAILED(hr)) throw ToolError{hr, context};
}

MapiRuntime::MapiRuntime() { Check(engine_.Result(), "MAPIInitialize"); }

std::string EntryIdFromHex(const std::string& hex) {
    std::optional<std::string> bytes = HexDecode(hex);
    if (hex.empty() || !bytes)
        throw ToolError{MAPI_E_INVALID_ENTRYID, "'" + hex + "' is not an entry ID"};
    return *bytes;
}

SingleEntryList::SingleEntryList(const std::string& hexId)
    : id_(EntryIdFromHex(hexId)),
      entry_{static_cast<ULONG>(id_.size()), reinterpret_cast<LPBYTE>(id_.data())},
      list_{1, &entry_} {}

ToolItem::ToolItem(const std::string& profile, const std::string& hexId, bool modify)
    : session_(profile), item_(session_.Item(hexId, modify)) {}

ToolSession::ToolSession(const std::string& profile) {
    HRESULT hr = MAPILogonEx(0, const_cast<char*>(profile.c_str()), nullptr,
                             MAPI_NEW_SESSION | MAPI_EXTENDED, session_.Put());
    Check(hr, "cannot log on to profile '" + profile + "'");
    CMapiRef<IMAPITable> table;
    Check(session_->GetMsgStoresTable(0, table.Put()), "GetMsgStoresTable");
    TableRows rows(table.Get(), {PR_ENTRYID, PR_DEFAULT_STORE});
    std::string id;
    for (ULONG k = 0; k < rows.Count() && id.empty(); ++k) {
        if (rows.Bool(k, 1)) id = rows.Binary(k, 0);
    }
    if (id.empty())
        throw ToolError{MAPI_E_NOT_FOUND, "profile '" + profile + "' has no default store"};
    Check(session_->OpenMsgStore(0, static_cast<ULONG>(id.size()),
                                 reinterpret_cast<LPENTRYID>(id.data()), nullptr, MAPI_BEST_ACCESS,
                                 store_.Put()),
          "cannot open the default store");
}

ToolSession::~ToolSession() {
    store_.Reset();
    if (session_) session_->Logoff(0, 0, 0);
}

CMapiRef<IUnknown> ToolSession::OpenEntry(const std::string& id, ULONG flags, ULONG& type) {
    CMapiRef<IUnknown> unk;
    Check(session_->OpenEntry(static_cast<ULONG>(id.size()),
                              reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), nullptr,
                              flags, &type, unk.Put()),
          "cannot open entry " + HexEncode(id));
    return unk;
}

CMapiRef<IMAPIFolder> ToolSession::IpmRoot() {
    std::string id = GetBinaryProperty(store_.Get(), PR_IPM_SUBTREE_ENTRYID);
    ULONG type = 0;
    CMapiRef<IUnknown> unk = OpenEntry(id, MAPI_BEST_ACCESS, type);
    if (type != MAPI_FOLDER)
        throw ToolError{MAPI_E_CORRUPT_STORE, "the IPM subtree is not a folder"};
    return CMapiRef<IMAPIFolder>::Adopt(static_cast<IMAPIFolder*>(unk.Detach()));
}

CMapiRef<IMAPIFolder> ToolSession::Folder(const std::string& pathOrId, bool create,
                                          const std::string& containerClass) {
    std::optional<std::string> bytes;
    if (pathOrId.size() >= 40 && (bytes = HexDecode(pathOrId))) {
        ULONG type = 0;
        CMapiRef<IUnknown> unk = OpenEntry(*bytes, MAPI_BEST_ACCESS, type);
        if (type != MAPI_FOLDER)
            throw ToolError{MAPI_E_INVALID_ENTRYID, pathOrId + " is not a folder"};
        return CMapiRef<IMAPIFolder>::Adopt(static_cast<IMAPIFolder*>(unk.Detach()));
    }
    std::vector<std::string> parts;
    std::string cur;
    for (char c : pathOrId + "/") {
        if (c == '/') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (parts.empty()) throw ToolError{MAPI_E_INVALID_PARAMETER, "empty folder path"};
    CMapiRef<IMAPIFolder> folder = IpmRoot();
    for (std::size_t k = 0; k < parts.size(); ++k) {
        CMapiRef<IMAPIFolder> next;
        if (create) {
            Check(folder->CreateFolder(FOLDER_GENERIC, const_cast<char*>(parts[k].c_str()), nullptr,
                                       nullptr, OPEN_IF_EXISTS, next.Put()),
                  "cannot create folder '" + parts[k] + "'");
        } else {
            CMapiRef<IMAPITable> table;
            Check(folder->GetHierarchyTable(0, table.Put()), "GetHierarchyTable");
            TableRows rows(table.Get(), {PR_ENTRYID, PR_DISPLAY_NAME});
            std::string id;
            for (ULONG r = 0; r < rows.Count() && id.empty(); ++r) {
                if (PROP_TYPE(rows.At(r, 1).ulPropTag) == PT_STRING8 &&
                    EqualsIgnoringCase(rows.Text(r, 1), parts[k]))
                    id = rows.Binary(r, 0);
            }
            if (id.empty()) throw ToolError{MAPI_E_NOT_FOUND, "no folder '" + pathOrId + "'"};
            ULONG type = 0;
            CMapiRef<IUnknown> unk;
            Check(folder->OpenEntry(static_cast<ULONG>(id.size()),
                                    reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                                    MAPI_BEST_ACCESS, &type, unk.Put()),
                  "cannot open folder '" + parts[k] + "'");
            next = CMapiRef<IMAPIFolder>::Adopt(static_cast<IMAPIFolder*>(unk.Detach()));
        }
        folder = next;
    }
    if (create && !containerClass.empty()) {
        SPropValue cls{};
        cls.ulPropTag = PR_CONTAINER_CLASS;
        cls.Value.lpszA = const_cast<char*>(containerClass.c_str());
        Check(HrSetOneProp(folder.Get(), &cls), "cannot set the container class");
    }
    return folder;
}

CMapiRef<IMessage> ToolSession::Item(const std::string& hexId, bool modify) {
    std::string id = EntryIdFromHex(hexId);
    ULONG type = 0;
    CMapiRef<IUnknown> unk = OpenEntry(id, modify ? MAPI_MODIFY : 0, type);
    if (type != MAPI_MESSAGE) throw ToolError{MAPI_E_INVALID_ENTRYID, hexId + " is not an item"};
    return CMapiRef<IMessage>::Adopt(static_cast<IMessage*>(unk.Detach()));
}

CMapiRef<IMAPIFolder> ToolSession::ParentOf(IMessage* item) {
    std::string id = GetBinaryProperty(item, PR_PARENT_ENTRYID);
    ULONG type = 0;
    CMapiRef<IUnknown> unk = OpenEntry(id, MAPI_MODIFY, type);
    return CMapiRef<IMAPIFolder>::Adopt(static_cast<IMAPIFolder*>(unk.Detach()));
}

std::string ToolSession::PathOf(IMAPIFolder* folder) {
    const std::string top = GetBinaryProperty(store_.Get(), PR_IPM_SUBTREE_ENTRYID);
    std::string path;
    CMapiRef<IMAPIFolder> cur = CMapiRef<IMAPIFolder>::Share(folder);
    for (int depth = 0; depth < kMaxFolderDepth && cur; ++depth) {
        if (GetBinaryProperty(cur.Get(), PR_ENTRYID) == top) return path;
        std::string name = GetStringProperty(cur.Get(), PR_DISPLAY_NAME);
        path = path.empty() ? name : name + "/" + path;
        std::string parent = GetBinaryProperty(cur.Get(), PR_PARENT_ENTRYID);
        if (parent.empty()) break;
        ULONG type = 0;
        CMapiRef<IUnknown> unk;
        if (FAILED(session_->OpenEntry(static_cast<ULONG>(parent.size()),
                                       reinterpret_cast<LPENTRYID>(parent.data()), nullptr, 0,
                                       &type, unk.Put())) ||
            type != MAPI_FOLDER)
            break;
        cur = CMapiRef<IMAPIFolder>::Adopt(static_cast<IMAPIFolder*>(unk.Detach()));
    }
    return path;
}
