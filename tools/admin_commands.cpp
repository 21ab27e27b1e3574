// Profile, folder, attachment, recipient and property commands of the store tool.
#include "tools/admin_commands.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>

#include "common/base/escape.h"
#include "common/base/text.h"
#include "server/mapi/profile_names.h"
#include "tools/json_writer.h"
#include "tools/table_rows.h"
#include "tools/tool_context.h"

namespace {

CMapiRef<IMAPIFolder> OpenFolderById(IMAPISession* session, const std::string& id, ULONG flags) {
    ULONG type = 0;
    CMapiRef<IUnknown> unk;
    Check(session->OpenEntry(static_cast<ULONG>(id.size()),
                             reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), nullptr,
                             flags, &type, unk.Put()),
          "cannot open folder " + HexEncode(id));
    if (type != MAPI_FOLDER)
        throw ToolError{MAPI_E_INVALID_ENTRYID, HexEncode(id) + " is no folder"};
    return CMapiRef<IMAPIFolder>::Adopt(static_cast<IMAPIFolder*>(unk.Detach()));
}

// The entry IDs of the folders the store cannot do without: the top of the
// personal folders and the default folders the store and the inbox point at.
std::vector<std::string> DefaultFolderIds(ToolSession& s) {
    std::vector<std::string> ids;
    for (ULONG tag : {PR_IPM_SUBTREE_ENTRYID, PR_IPM_OUTBOX_ENTRYID, PR_IPM_WASTEBASKET_ENTRYID,
                      PR_IPM_SENTMAIL_ENTRYID}) {
        ids.push_back(GetBinaryProperty(s.store(), tag));
    }
    ULONG cb = 0;
    CMapiBuffer<ENTRYID> raw;
    if (SUCCEEDED(
            s.store()->GetReceiveFolder(const_cast<char*>("IPM"), 0, &cb, raw.Put(), nullptr))) {
        std::string inboxId(reinterpret_cast<const char*>(raw.Get()), cb);
        ids.push_back(inboxId);
        CMapiRef<IMAPIFolder> inbox = OpenFolderById(s.session(), inboxId, 0);
        for (ULONG tag : {PR_IPM_APPOINTMENT_ENTRYID, PR_IPM_CONTACT_ENTRYID, PR_IPM_DRAFTS_ENTRYID,
                          PR_IPM_JOURNAL_ENTRYID, PR_IPM_NOTE_ENTRYID, PR_IPM_TASK_ENTRYID}) {
            ids.push_back(GetBinaryProperty(inbox.Get(), tag));
        }
    }
    return ids;
}

std::string Plural(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The data of an attachment as a stream at its start.
CMapiRef<IStream> AttachmentData(IAttach* attach, const std::string& number) {
    CMapiRef<IUnknown> unknown;
    Check(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, unknown.Put()),
          "attachment " + number + " holds no data");
    CMapiRef<IStream> stream;
    Check(unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.Put())),
          "attachment " + number + " holds no data");
    return stream;
}

const char* RecipientTypeName(LONG type) {
    switch (type & ~MAPI_SUBMITTED) {
        case MAPI_TO:
            return "to";
        case MAPI_CC:
            return "cc";
        case MAPI_BCC:
            return "bcc";
        default:
            return "other";
    }
}

}  // namespace

std::string EscapeForLine(const std::string& text) { return BackslashEscape(text, "\t"); }

bool ProfileExists(const std::string& name) {
    CMapiRef<IProfAdmin> admin;
    Check(MAPIAdminProfiles(0, admin.Put()), "MAPIAdminProfiles");
    CMapiRef<IMAPITable> table;
    Check(admin->GetProfileTable(0, table.Put()), "GetProfileTable");
    TableRows rows(table.Get(), {PR_DISPLAY_NAME});
    for (ULONG k = 0; k < rows.Count(); ++k) {
        if (rows.Text(k, 0) == name) return true;
    }
    return false;
}

void CmdProfileDelete(const std::string& name, Output& o) {
    MapiRuntime runtime;
    if (!ProfileExists(name)) throw ToolError{MAPI_E_NOT_FOUND, "no profile '" + name + "'"};
    CMapiRef<IProfAdmin> admin;
    Check(MAPIAdminProfiles(0, admin.Put()), "MAPIAdminProfiles");
    Check(admin->DeleteProfile(const_cast<char*>(name.c_str()), 0),
          "cannot delete profile '" + name + "'");
    if (o.json) {
        JsonWriter w;
        w.BeginObject().Key("deletedProfile").String(name).EndObject();
        o.out << w.text() << "\n";
    } else {
        o.out << "Profile " << name << " deleted with its stores\n";
    }
}

void CmdFolderDelete(const std::string& profile, const std::string& folderText, bool force,
                     Output& o) {
    MapiRuntime runtime;
    ToolSession s(profile);
    CMapiRef<IMAPIFolder> folder = s.Folder(folderText);
    const std::string id = GetBinaryProperty(folder.Get(), PR_ENTRYID);
    const std::string path = s.PathOf(folder.Get());
    for (const std::string& own : DefaultFolderIds(s)) {
        if (!own.empty() && own == id)
            throw ToolError{MAPI_E_NO_ACCESS,
                            "'" + path + "' is a default folder of the store and stays"};
    }
    CMapiRef<IMAPITable> contents, children;
    Check(folder->GetContentsTable(0, contents.Put()), "GetContentsTable");
    Check(folder->GetHierarchyTable(0, children.Put()), "GetHierarchyTable");
    ULONG items = 0, folders = 0;
    Check(contents->GetRowCount(0, &items), "GetRowCount");
    Check(children->GetRowCount(0, &folders), "GetRowCount");
    const std::string holds =
        Plural(items, "item", "items") + " and " + Plural(folders, "sub-folder", "sub-folders");
    if ((items > 0 || folders > 0) && !force)
        throw ToolError{MAPI_E_HAS_MESSAGES,
                        "'" + path + "' holds " + holds + "; add --force to delete them too"};
    CMapiRef<IMAPIFolder> parent = OpenFolderById(
        s.session(), GetBinaryProperty(folder.Get(), PR_PARENT_ENTRYID), MAPI_MODIFY);
    contents.Reset();
    children.Reset();
    folder.Reset();
    Check(parent->DeleteFolder(static_cast<ULONG>(id.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), 0,
                               nullptr, DEL_MESSAGES | DEL_FOLDERS),
          "cannot delete folder '" + path + "'");
    if (o.json) {
        JsonWriter w;
        w.BeginObject().Key("deletedFolder").String(path).Key("entryid").String(HexEncode(id));
        w.Key("items").Number(items).Key("folders").Number(folders).EndObject();
        o.out << w.text() << "\n";
    } else {
        o.out << "Folder " << path << " deleted with " << holds << "\n";
    }
}

void CmdFolderRename(const std::string& profile, const std::string& folderText,
                     const std::string& newName, Output& o) {
    if (newName.empty() || newName.find('/') != std::string::npos)
        throw ToolError{MAPI_E_INVALID_PARAMETER,
                        "'" + newName + "' cannot be a folder name (empty or holds \"/\")"};
    MapiRuntime runtime;
    ToolSession s(profile);
    CMapiRef<IMAPIFolder> folder = s.Folder(folderText);
    const std::string id = GetBinaryProperty(folder.Get(), PR_ENTRYID);
    const std::string path = s.PathOf(folder.Get());
    if (id == GetBinaryProperty(s.store(), PR_IPM_SUBTREE_ENTRYID))
        throw ToolError{MAPI_E_NO_ACCESS, "the top of the personal folders keeps its name"};
    CMapiRef<IMAPIFolder> parent =
        OpenFolderById(s.session(), GetBinaryProperty(folder.Get(), PR_PARENT_ENTRYID), 0);
    CMapiRef<IMAPITable> siblings;
    Check(parent->GetHierarchyTable(0, siblings.Put()), "GetHierarchyTable");
    TableRows rows(siblings.Get(), {PR_ENTRYID, PR_DISPLAY_NAME});
    for (ULONG k = 0; k < rows.Count(); ++k) {
        if (rows.Binary(k, 0) != id && EqualsIgnoringCase(rows.Text(k, 1), newName))
            throw ToolError{MAPI_E_COLLISION,
                            "a folder '" + rows.Text(k, 1) + "' is there already"};
    }
    CMapiRef<IMAPIFolder> writable = OpenFolderById(s.session(), id, MAPI_MODIFY);
    SPropValue name{};
    name.ulPropTag = PR_DISPLAY_NAME;
    name.Value.lpszA = const_cast<char*>(newName.c_str());
    Check(HrSetOneProp(writable.Get(), &name), "cannot rename '" + path + "'");
    Check(writable->SaveChanges(0), "cannot rename '" + path + "'");
    const size_t slash = path.rfind('/');
    const std::string renamed =
        slash == std::string::npos ? newName : path.substr(0, slash + 1) + newName;
    if (o.json) {
        JsonWriter w;
        w.BeginObject().Key("renamed").String(path).Key("to").String(renamed);
        w.Key("entryid").String(HexEncode(id)).EndObject();
        o.out << w.text() << "\n";
    } else {
        o.out << "Folder " << path << " renamed to " << renamed << "\n";
    }
}

void CmdAttachments(const std::string& profile, const std::string& idText, Output& o) {
    ToolItem item(profile, idText, false);
    CMapiRef<IMAPITable> table;
    Check(item->GetAttachmentTable(0, table.Put()), "GetAttachmentTable");
    TableRows rows(table.Get(), {PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME});
    JsonWriter w;
    w.BeginArray();
    for (ULONG k = 0; k < rows.Count(); ++k) {
        std::string name = rows.Text(k, 1).empty() ? rows.Text(k, 2) : rows.Text(k, 1);
        LONG number = rows.Long(k, 0, -1);
        // The size of the data, as extract writes it (PR_ATTACH_SIZE counts more).
        CMapiRef<IAttach> attach;
        Check(item->OpenAttach(static_cast<ULONG>(number), nullptr, 0, attach.Put()),
              "cannot open attachment " + std::to_string(number));
        STATSTG stat{};
        Check(AttachmentData(attach.Get(), std::to_string(number))->Stat(&stat, STATFLAG_NONAME),
              "cannot read attachment " + std::to_string(number));
        int64_t size = static_cast<int64_t>(stat.cbSize.QuadPart);
        if (o.json) {
            w.BeginObject().Key("number").Number(number).Key("name").String(name);
            w.Key("size").Number(size).EndObject();
        } else {
            o.out << number << "\t" << EscapeForLine(name) << "\t" << size << "\n";
        }
    }
    w.EndArray();
    if (o.json) o.out << w.text() << "\n";
}

void CmdExtract(const std::string& profile, const std::string& idText, const std::string& number,
                const std::string& file, Output& o) {
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
        number.size() > 9)
        throw ToolError{MAPI_E_INVALID_PARAMETER, "'" + number + "' is not an attachment number"};
    ToolItem item(profile, idText, false);
    CMapiRef<IAttach> attach;
    HRESULT hr = item->OpenAttach(static_cast<ULONG>(std::stoul(number)), nullptr, 0, attach.Put());
    if (hr == MAPI_E_NOT_FOUND)
        throw ToolError{hr, "the item has no attachment " + number + " (see attachments)"};
    Check(hr, "cannot open attachment " + number);
    std::string name = GetStringProperty(attach.Get(), PR_ATTACH_LONG_FILENAME);
    CMapiRef<IStream> stream = AttachmentData(attach.Get(), number);
    std::ofstream fileOut;
    std::ostream* target = &std::cout;
    if (file != "-") {
        fileOut.open(file, std::ios::binary | std::ios::trunc);
        if (!fileOut) throw ToolError{MAPI_E_DISK_ERROR, "cannot write '" + file + "'"};
        target = &fileOut;
    }
    uint64_t total = 0;
    char buffer[65536];
    for (;;) {
        ULONG read = 0;
        Check(stream->Read(buffer, sizeof buffer, &read), "cannot read attachment " + number);
        if (read == 0) break;
        target->write(buffer, read);
        total += read;
    }
    target->flush();
    if (!*target) throw ToolError{MAPI_E_DISK_ERROR, "cannot write '" + file + "'"};
    if (file == "-") return;
    if (o.json) {
        JsonWriter w;
        w.BeginObject().Key("attachment").Number(std::stol(number)).Key("name").String(name);
        w.Key("size").Number(static_cast<int64_t>(total)).Key("file").String(file).EndObject();
        o.out << w.text() << "\n";
    } else {
        o.out << "Attachment " << number << " (" << EscapeForLine(name) << ", " << total
              << " bytes) written to " << file << "\n";
    }
}

void CmdRecipients(const std::string& profile, const std::string& idText, Output& o) {
    ToolItem item(profile, idText, false);
    CMapiRef<IMAPITable> table;
    Check(item->GetRecipientTable(0, table.Put()), "GetRecipientTable");
    TableRows rows(table.Get(),
                   {PR_RECIPIENT_TYPE, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE});
    JsonWriter w;
    w.BeginArray();
    for (ULONG k = 0; k < rows.Count(); ++k) {
        const char* type = RecipientTypeName(rows.Long(k, 0));
        if (o.json) {
            w.BeginObject().Key("type").String(type).Key("name").String(rows.Text(k, 1));
            w.Key("address").String(rows.Text(k, 2)).Key("addressType").String(rows.Text(k, 3));
            w.EndObject();
        } else {
            o.out << type << "\t" << EscapeForLine(rows.Text(k, 1)) << "\t"
                  << EscapeForLine(rows.Text(k, 2)) << "\t" << EscapeForLine(rows.Text(k, 3))
                  << "\n";
        }
    }
    w.EndArray();
    if (o.json) o.out << w.text() << "\n";
}

void CmdUnset(const std::string& profile, const std::string& idText,
              const std::vector<std::string>& props, Output& o) {
    ToolItem item(profile, idText, true);
    // The IDs the item has now.
    ULONG count = 0;
    CMapiBuffer<SPropValue> values;
    Check(item->GetProps(nullptr, 0, &count, values.Put()), "GetProps");
    std::vector<ULONG> present;
    for (ULONG k = 0; k < count; ++k) present.push_back(PROP_ID(values.Get()[k].ulPropTag));
    values.Reset();
    std::vector<ULONG> tags;
    std::vector<std::string> removed, notSet;
    for (const std::string& text : props) {
        PropRef ref = ParsePropRef(text);
        // Removing needs only the ID: a named property's type does not matter.
        if (ref.named && ref.namedProp.type == PT_UNSPECIFIED) ref.namedProp.type = PT_STRING8;
        ULONG tag = 0;
        try {
            tag = ResolvePropSpec(item.Get(), ref, false);
        } catch (const ToolError& e) {
            if (e.hr != MAPI_E_NOT_FOUND) throw;
            notSet.push_back(text);  // a name the store never mapped: no item has it
            continue;
        }
        if (std::find(present.begin(), present.end(), PROP_ID(tag)) == present.end()) {
            notSet.push_back(text);
            continue;
        }
        tags.push_back(tag);
        removed.push_back(text);
    }
    if (!tags.empty()) {
        std::vector<ULONG> buffer(tags.size() + 1);
        buffer[0] = static_cast<ULONG>(tags.size());
        std::copy(tags.begin(), tags.end(), buffer.begin() + 1);
        CMapiBuffer<SPropProblemArray> problems;
        Check(item->DeleteProps(reinterpret_cast<LPSPropTagArray>(buffer.data()), problems.Put()),
              "DeleteProps");
        if (problems && problems->cProblem > 0) {
            throw ToolError{problems->aProblem[0].scode,
                            "cannot remove " + removed[problems->aProblem[0].ulIndex]};
        }
        Check(item->SaveChanges(0), "SaveChanges");
    }
    if (o.json) {
        JsonWriter w;
        w.BeginObject().Key("entryid").String(idText).Key("removed").BeginArray();
        for (const std::string& name : removed) w.String(name);
        w.EndArray().Key("notSet").BeginArray();
        for (const std::string& name : notSet) w.String(name);
        w.EndArray().EndObject();
        o.out << w.text() << "\n";
        return;
    }
    for (const std::string& name : removed) o.out << name << " removed from " << idText << "\n";
    for (const std::string& name : notSet) o.out << name << " was not set on " << idText << "\n";
}
