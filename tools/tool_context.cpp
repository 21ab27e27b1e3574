// Profile, store, folder and item access for the store tool.
#include "tools/tool_context.h"

#include <vector>

#include "common/base/limits.h"
#include "common/base/text.h"
#include "tools/table_rows.h"

void Check(HRESULT hr, const std::string& context) {
    if (FAILED(hr)) throw ToolError{hr, context};
}

MapiRuntime::MapiRuntime() { Check(MAPIInitialize(nullptr), "MAPIInitialize"); }
MapiRuntime::~MapiRuntime() { MAPIUninitialize(); }

std::string EntryIdFromHex(const std::string& hex) {
    std::optional<std::string> bytes = HexDecode(hex);
    if (hex.empty() || !bytes)
        throw ToolError{MAPI_E_INVALID_ENTRYID, "'" + hex + "' is not an entry ID"};
    return *bytes;
}

std::string BinaryProp(IMAPIProp* obj, ULONG tag) {
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(obj, tag, &v))) return std::string();
    std::string s(reinterpret_cast<const char*>(v->Value.bin.lpb), v->Value.bin.cb);
    MAPIFreeBuffer(v);
    return s;
}

std::string StringProp(IMAPIProp* obj, ULONG tag) {
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(obj, tag, &v))) return std::string();
    std::string s = v->Value.lpszA;
    MAPIFreeBuffer(v);
    return s;
}

ToolSession::ToolSession(const std::string& profile) {
    HRESULT hr = MAPILogonEx(0, const_cast<char*>(profile.c_str()), nullptr,
                             MAPI_NEW_SESSION | MAPI_EXTENDED, session_.put());
    Check(hr, "cannot log on to profile '" + profile + "'");
    ComPtr<IMAPITable> table;
    Check(session_->GetMsgStoresTable(0, table.put()), "GetMsgStoresTable");
    TableRows rows(table.get(), {PR_ENTRYID, PR_DEFAULT_STORE});
    std::string id;
    for (ULONG k = 0; k < rows.Count() && id.empty(); ++k) {
        if (rows.Bool(k, 1)) id = rows.Binary(k, 0);
    }
    if (id.empty())
        throw ToolError{MAPI_E_NOT_FOUND, "profile '" + profile + "' has no default store"};
    Check(session_->OpenMsgStore(0, static_cast<ULONG>(id.size()),
                                 reinterpret_cast<LPENTRYID>(id.data()), nullptr, MAPI_BEST_ACCESS,
                                 store_.put()),
          "cannot open the default store");
}

ToolSession::~ToolSession() {
    store_.reset();
    if (session_) session_->Logoff(0, 0, 0);
}

ComPtr<IUnknown> ToolSession::OpenEntry(const std::string& id, ULONG flags, ULONG& type) {
    ComPtr<IUnknown> unk;
    Check(session_->OpenEntry(static_cast<ULONG>(id.size()),
                              reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), nullptr,
                              flags, &type, unk.put()),
          "cannot open entry " + HexEncode(id));
    return unk;
}

ComPtr<IMAPIFolder> ToolSession::IpmRoot() {
    std::string id = BinaryProp(store_.get(), PR_IPM_SUBTREE_ENTRYID);
    ULONG type = 0;
    ComPtr<IUnknown> unk = OpenEntry(id, MAPI_BEST_ACCESS, type);
    if (type != MAPI_FOLDER)
        throw ToolError{MAPI_E_CORRUPT_STORE, "the IPM subtree is not a folder"};
    return ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.detach()));
}

ComPtr<IMAPIFolder> ToolSession::Folder(const std::string& pathOrId, bool create,
                                        const std::string& containerClass) {
    std::optional<std::string> bytes;
    if (pathOrId.size() >= 40 && (bytes = HexDecode(pathOrId))) {
        ULONG type = 0;
        ComPtr<IUnknown> unk = OpenEntry(*bytes, MAPI_BEST_ACCESS, type);
        if (type != MAPI_FOLDER)
            throw ToolError{MAPI_E_INVALID_ENTRYID, pathOrId + " is not a folder"};
        return ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.detach()));
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
    ComPtr<IMAPIFolder> folder = IpmRoot();
    for (std::size_t k = 0; k < parts.size(); ++k) {
        ComPtr<IMAPIFolder> next;
        if (create) {
            Check(folder->CreateFolder(FOLDER_GENERIC, const_cast<char*>(parts[k].c_str()), nullptr,
                                       nullptr, OPEN_IF_EXISTS, next.put()),
                  "cannot create folder '" + parts[k] + "'");
        } else {
            ComPtr<IMAPITable> table;
            Check(folder->GetHierarchyTable(0, table.put()), "GetHierarchyTable");
            TableRows rows(table.get(), {PR_ENTRYID, PR_DISPLAY_NAME});
            std::string id;
            for (ULONG r = 0; r < rows.Count() && id.empty(); ++r) {
                if (PROP_TYPE(rows.At(r, 1).ulPropTag) == PT_STRING8 &&
                    EqualsIgnoringCase(rows.Text(r, 1), parts[k]))
                    id = rows.Binary(r, 0);
            }
            if (id.empty()) throw ToolError{MAPI_E_NOT_FOUND, "no folder '" + pathOrId + "'"};
            ULONG type = 0;
            ComPtr<IUnknown> unk;
            Check(folder->OpenEntry(static_cast<ULONG>(id.size()),
                                    reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                                    MAPI_BEST_ACCESS, &type, unk.put()),
                  "cannot open folder '" + parts[k] + "'");
            next = ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.detach()));
        }
        folder = next;
    }
    if (create && !containerClass.empty()) {
        SPropValue cls{};
        cls.ulPropTag = PR_CONTAINER_CLASS;
        cls.Value.lpszA = const_cast<char*>(containerClass.c_str());
        Check(HrSetOneProp(folder.get(), &cls), "cannot set the container class");
    }
    return folder;
}

ComPtr<IMessage> ToolSession::Item(const std::string& hexId, bool modify) {
    std::string id = EntryIdFromHex(hexId);
    ULONG type = 0;
    ComPtr<IUnknown> unk = OpenEntry(id, modify ? MAPI_MODIFY : 0, type);
    if (type != MAPI_MESSAGE) throw ToolError{MAPI_E_INVALID_ENTRYID, hexId + " is not an item"};
    return ComPtr<IMessage>(static_cast<IMessage*>(unk.detach()));
}

ComPtr<IMAPIFolder> ToolSession::ParentOf(IMessage* item) {
    std::string id = BinaryProp(item, PR_PARENT_ENTRYID);
    ULONG type = 0;
    ComPtr<IUnknown> unk = OpenEntry(id, MAPI_MODIFY, type);
    return ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.detach()));
}

std::string ToolSession::PathOf(IMAPIFolder* folder) {
    const std::string top = BinaryProp(store_.get(), PR_IPM_SUBTREE_ENTRYID);
    std::string path;
    ComPtr<IMAPIFolder> cur = ComPtr<IMAPIFolder>::Share(folder);
    for (int depth = 0; depth < kMaxFolderDepth && cur; ++depth) {
        if (BinaryProp(cur.get(), PR_ENTRYID) == top) return path;
        std::string name = StringProp(cur.get(), PR_DISPLAY_NAME);
        path = path.empty() ? name : name + "/" + path;
        std::string parent = BinaryProp(cur.get(), PR_PARENT_ENTRYID);
        if (parent.empty()) break;
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        if (FAILED(session_->OpenEntry(static_cast<ULONG>(parent.size()),
                                       reinterpret_cast<LPENTRYID>(parent.data()), nullptr, 0,
                                       &type, unk.put())) ||
            type != MAPI_FOLDER)
            break;
        cur = ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.detach()));
    }
    return path;
}
