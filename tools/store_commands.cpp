// The store tool's commands over the MAPI interfaces.
#include "tools/store_commands.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>

#include "common/base/text.h"
#include "tools/admin_commands.h"
#include "tools/json_writer.h"
#include "tools/table_rows.h"
#include "tools/tool_context.h"

namespace {

constexpr std::size_t kMaxAttachmentBytes = 256u * 1024 * 1024;

struct RowText {
    std::string path, id, cls;
    std::int64_t count = 0;
};

void WalkFolders(ToolSession& s, IMAPIFolder* folder, const std::string& prefix,
                 std::vector<RowText>& rows, int depth) {
    if (depth > 64) return;
    CMapiRef<IMAPITable> table;
    Check(folder->GetHierarchyTable(0, table.Put()), "GetHierarchyTable");
    TableRows set(table.Get(), {PR_ENTRYID, PR_DISPLAY_NAME, PR_CONTAINER_CLASS, PR_CONTENT_COUNT});
    std::vector<RowText> level;
    for (ULONG k = 0; k < set.Count(); ++k) {
        RowText r;
        r.id = set.Binary(k, 0);
        std::string name = set.Text(k, 1);
        r.path = prefix.empty() ? name : prefix + "/" + name;
        r.cls = set.Text(k, 2);
        r.count = set.Long(k, 3);
        level.push_back(r);
    }
    for (const RowText& r : level) {
        rows.push_back(r);
        ULONG type = 0;
        CMapiRef<IUnknown> unk;
        Check(folder->OpenEntry(static_cast<ULONG>(r.id.size()),
                                reinterpret_cast<LPENTRYID>(const_cast<char*>(r.id.data())),
                                nullptr, 0, &type, unk.Put()),
              "OpenEntry");
        WalkFolders(s, static_cast<IMAPIFolder*>(unk.Get()), r.path, rows, depth + 1);
    }
}

// Parses PROP=VALUE assignments into values for SetProps, mapping named properties
// on obj (created when missing). Memory of the values hangs on holder.
std::vector<SPropValue> ParseAssignments(IMAPIProp* obj,
                                         const std::vector<std::string>& assignments,
                                         void* holder) {
    std::vector<SPropValue> values;
    for (const std::string& a : assignments) {
        std::size_t eq = a.find('=');
        if (eq == std::string::npos)
            throw ToolError{MAPI_E_INVALID_PARAMETER, "'" + a + "' is not PROP=VALUE"};
        PropRef ref = ParsePropRef(a.substr(0, eq));
        if (ref.named && ref.namedProp.type == PT_UNSPECIFIED)
            throw ToolError{MAPI_E_INVALID_PARAMETER,
                            "'" + a.substr(0, eq) + "' needs a type (SET:ID:TYPE)"};
        // Check the value before any name is created in the store.
        const ULONG provisional = ref.named ? PROP_TAG(ref.namedProp.type, 0x8000) : ref.tag;
        mapistore::Value v = ParseValue(provisional, a.substr(eq + 1));
        values.push_back(SPropValue{});
        values.back().ulPropTag = provisional;
        Check(mapistore::ToSPropValue(v, 0, PROP_TYPE(provisional), false, holder, values.back()),
              "value");
        if (!ref.named) values.back().ulPropTag = ref.tag;
    }
    // Map the names only once every value is known to be good.
    std::size_t k = 0;
    for (const std::string& a : assignments) {
        PropRef ref = ParsePropRef(a.substr(0, a.find('=')));
        if (ref.named) values[k].ulPropTag = ResolvePropSpec(obj, ref, true);
        ++k;
    }
    return values;
}

// Sets values; any problem is an error (the caller then does not save).
void SetAll(IMAPIProp* obj, std::vector<SPropValue>& values) {
    CMapiBuffer<SPropProblemArray> problems;
    Check(obj->SetProps(static_cast<ULONG>(values.size()), values.data(), problems.Put()),
          "SetProps");
    if (problems && problems->cProblem > 0) {
        throw ToolError{problems->aProblem[0].scode,
                        "cannot set " + PropDisplayName(obj, problems->aProblem[0].ulPropTag)};
    }
}

std::set<std::string> ItemIds(IMAPIFolder* folder) {
    CMapiRef<IMAPITable> table;
    Check(folder->GetContentsTable(0, table.Put()), "GetContentsTable");
    TableRows set(table.Get(), {PR_ENTRYID});
    std::set<std::string> ids;
    for (ULONG k = 0; k < set.Count(); ++k) ids.insert(set.Binary(k, 0));
    return ids;
}

void PrintDone(Output& o, const std::string& key, const std::string& value) {
    if (o.json) {
        JsonWriter w;
        w.BeginObject().Key(key).String(value).EndObject();
        o.out << w.text() << "\n";
    } else {
        o.out << value << "\n";
    }
}

void JsonScalar(JsonWriter& w, const mapistore::Value& v) {
    switch (v.type) {
        case PT_I2:
        case PT_LONG:
        case PT_I8:
        case PT_CURRENCY:
            w.Number(v.i);
            break;
        case PT_BOOLEAN:
            w.Bool(v.i != 0);
            break;
        case PT_R4:
        case PT_DOUBLE:
        case PT_APPTIME:
            w.Double(v.d);
            break;
        default:
            w.String(FormatValue(v));
    }
}

void JsonValue(JsonWriter& w, const mapistore::Value& v) {
    if ((v.type & MV_FLAG) == 0) return JsonScalar(w, v);
    w.BeginArray();
    for (std::size_t k = 0; k < ElementCount(v); ++k) JsonScalar(w, ElementOf(v, k));
    w.EndArray();
}

std::string TagText(ULONG tag) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(tag));
    return buf;
}

}  // namespace

void CmdProfileCreate(const std::string& name, Output& o) {
    MapiRuntime runtime;
    if (ProfileExists(name))
        throw ToolError{MAPI_E_COLLISION, "profile '" + name + "' already exists"};
    CMapiRef<IProfAdmin> admin;
    Check(MAPIAdminProfiles(0, admin.Put()), "MAPIAdminProfiles");
    Check(admin->CreateProfile(const_cast<char*>(name.c_str()), nullptr, 0, MAPI_DEFAULT_SERVICES),
          "cannot create profile '" + name + "'");
    PrintDone(o, "profile", name);
}

void CmdProfileList(Output& o) {
    MapiRuntime runtime;
    CMapiRef<IProfAdmin> admin;
    Check(MAPIAdminProfiles(0, admin.Put()), "MAPIAdminProfiles");
    CMapiRef<IMAPITable> table;
    Check(admin->GetProfileTable(0, table.Put()), "GetProfileTable");
    TableRows set(table.Get(), {PR_DISPLAY_NAME, PR_DEFAULT_PROFILE});
    JsonWriter w;
    w.BeginArray();
    for (ULONG k = 0; k < set.Count(); ++k) {
        const std::string name = set.Text(k, 0);
        const bool def = set.Bool(k, 1);
        w.BeginObject().Key("name").String(name).Key("default").Bool(def).EndObject();
        if (!o.json) o.out << name << (def ? "\tdefault" : "") << "\n";
    }
    w.EndArray();
    if (o.json) o.out << w.text() << "\n";
}

void CmdFolders(const std::string& profile, Output& o) {
    MapiRuntime runtime;
    ToolSession s(profile);
    std::vector<RowText> rows;
    WalkFolders(s, s.IpmRoot().Get(), "", rows, 0);
    JsonWriter w;
    w.BeginArray();
    for (const RowText& r : rows) {
        if (o.json) {
            w.BeginObject().Key("path").String(r.path).Key("entryid").String(HexEncode(r.id));
            w.Key("class").String(r.cls).Key("count").Number(r.count).EndObject();
        } else {
            o.out << r.path << "\t" << HexEncode(r.id) << "\t" << r.cls << "\t" << r.count << "\n";
        }
    }
    w.EndArray();
    if (o.json) o.out << w.text() << "\n";
}

void CmdFolderCreate(const std::string& profile, const std::string& path, const std::string& cls,
                     Output& o) {
    MapiRuntime runtime;
    ToolSession s(profile);
    CMapiRef<IMAPIFolder> folder = s.Folder(path, true, cls);
    PrintDone(o, "entryid", HexEncode(GetBinaryProperty(folder.Get(), PR_ENTRYID)));
}

void CmdItems(const std::string& profile, const std::string& folderText, Output& o) {
    MapiRuntime runtime;
    ToolSession s(profile);
    CMapiRef<IMAPIFolder> folder = s.Folder(folderText);
    CMapiRef<IMAPITable> table;
    Check(folder->GetContentsTable(0, table.Put()), "GetContentsTable");
    TableRows set(table.Get(), {PR_ENTRYID, PR_MESSAGE_CLASS, PR_SUBJECT, PR_DISPLAY_NAME,
                                PR_LAST_MODIFICATION_TIME, PR_MESSAGE_FLAGS});
    JsonWriter w;
    w.BeginArray();
    for (ULONG k = 0; k < set.Count(); ++k) {
        std::string id = set.Binary(k, 0);
        std::string cls = set.Text(k, 1);
        const bool hasSubject = PROP_TYPE(set.At(k, 2).ulPropTag) == PT_STRING8;
        std::string title = hasSubject ? set.Text(k, 2) : set.Text(k, 3);
        std::uint64_t ft = set.FileTime(k, 4);
        const bool read = (static_cast<ULONG>(set.Long(k, 5)) & MSGFLAG_READ) != 0;
        if (o.json) {
            w.BeginObject()
                .Key("entryid")
                .String(HexEncode(id))
                .Key("class")
                .String(cls)
                .Key("subject")
                .String(title);
            w.Key("modified").String(FileTimeToIso(ft)).Key("read").Bool(read).EndObject();
        } else {
            o.out << HexEncode(id) << "\t" << EscapeForLine(cls) << "\t" << EscapeForLine(title)
                  << "\t" << FileTimeToIso(ft) << "\t" << (read ? 1 : 0) << "\n";
        }
    }
    w.EndArray();
    if (o.json) o.out << w.text() << "\n";
}

namespace {

void ShowItem(ToolSession& s, const std::string& idText, bool several, JsonWriter& w,
              std::ostream& text, bool json) {
    CMapiRef<IMessage> item = s.Item(idText, false);
    ULONG count = 0;
    CMapiBuffer<SPropValue> held;
    Check(item->GetProps(nullptr, 0, &count, held.Put()), "GetProps");
    const SPropValue* values = held.Get();
    if (!json && several) text << "ENTRYID " << idText << "\n";
    w.BeginObject().Key("entryid").String(idText).Key("properties").BeginArray();
    for (ULONG k = 0; k < count; ++k) {
        mapistore::Value v;
        if (FAILED(mapistore::FromSPropValue(values[k], v))) continue;
        const ULONG tag = values[k].ulPropTag;
        const std::string name = PropDisplayName(item.Get(), tag);
        if (json) {
            w.BeginObject().Key("tag").String(TagText(tag)).Key("name").String(name);
            w.Key("type").String(TypeName(PROP_TYPE(tag))).Key("value");
            JsonValue(w, v);
            w.EndObject();
        } else {
            text << TagText(tag) << "\t" << name << "\t" << TypeName(PROP_TYPE(tag)) << "\t"
                 << EscapeForLine(FormatValue(v)) << "\n";
        }
    }
    w.EndArray().EndObject();
}

}  // namespace

void CmdShow(const std::string& profile, const std::vector<std::string>& ids, Output& o) {
    MapiRuntime runtime;
    ToolSession s(profile);
    const bool several = ids.size() > 1;
    JsonWriter w;
    std::ostringstream text;
    if (several) w.BeginArray();
    for (const std::string& id : ids) ShowItem(s, id, several, w, text, o.json);
    if (several) w.EndArray();
    if (o.json)
        o.out << w.text() << "\n";
    else
        o.out << text.str();
}

void CmdAdd(const std::string& profile, const std::string& folderText, const std::string& cls,
            const std::vector<std::string>& assignments, Output& o) {
    MapiRuntime runtime;
    ToolSession s(profile);
    CMapiRef<IMAPIFolder> folder = s.Folder(folderText);
    CMapiBuffer<void> holder;
    Check(MAPIAllocateBuffer(1, holder.Put()), "MAPIAllocateBuffer");
    std::vector<std::string> all = assignments;
    all.insert(all.begin(), "PR_MESSAGE_CLASS=" + cls);
    std::vector<SPropValue> values = ParseAssignments(folder.Get(), all, holder.Get());
    CMapiRef<IMessage> item;
    Check(folder->CreateMessage(nullptr, 0, item.Put()), "CreateMessage");
    SetAll(item.Get(), values);
    Check(item->SaveChanges(KEEP_OPEN_READONLY), "SaveChanges");
    PrintDone(o, "entryid", HexEncode(GetBinaryProperty(item.Get(), PR_ENTRYID)));
}

void CmdSet(const std::string& profile, const std::string& idText,
            const std::vector<std::string>& assignments, Output& o) {
    ToolItem item(profile, idText, true);
    CMapiBuffer<void> holder;
    Check(MAPIAllocateBuffer(1, holder.Put()), "MAPIAllocateBuffer");
    std::vector<SPropValue> values = ParseAssignments(item.Get(), assignments, holder.Get());
    SetAll(item.Get(), values);
    Check(item->SaveChanges(0), "SaveChanges");
    PrintDone(o, "entryid", idText);
}

void CmdDelete(const std::string& profile, const std::string& idText, Output& o) {
    ToolItem item(profile, idText, false);
    CMapiRef<IMAPIFolder> parent = item.Parent();
    SingleEntryList list(idText);
    item.Close();
    Check(parent->DeleteMessages(list.Get(), 0, nullptr, 0), "DeleteMessages");
    PrintDone(o, "deleted", idText);
}

void CmdMoveCopy(const std::string& profile, const std::string& idText,
                 const std::string& folderText, bool move, Output& o) {
    ToolItem item(profile, idText, false);
    CMapiRef<IMAPIFolder> parent = item.Parent();
    CMapiRef<IMAPIFolder> target = item.Session().Folder(folderText);
    SingleEntryList list(idText);
    std::set<std::string> before = move ? std::set<std::string>() : ItemIds(target.Get());
    Check(parent->CopyMessages(list.Get(), nullptr, target.Get(), 0, nullptr,
                               move ? MESSAGE_MOVE : 0),
          move ? "cannot move the item" : "cannot copy the item");
    std::string result = idText;
    if (!move) {
        for (const std::string& now : ItemIds(target.Get()))
            if (!before.count(now)) result = HexEncode(now);
    }
    PrintDone(o, "entryid", result);
}

void CmdRead(const std::string& profile, const std::string& idText, const std::string& flag,
             Output& o) {
    if (flag != "0" && flag != "1")
        throw ToolError{MAPI_E_INVALID_PARAMETER, "the read flag is 0 or 1"};
    ToolItem item(profile, idText, false);
    Check(item->SetReadFlag(flag == "1" ? 0 : CLEAR_READ_FLAG), "SetReadFlag");
    PrintDone(o, "entryid", idText);
}

void CmdAttach(const std::string& profile, const std::string& idText, const std::string& file,
               Output& o) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ToolError{MAPI_E_NOT_FOUND, "cannot read '" + file + "'"};
    std::string base =
        file.substr(file.find_last_of('/') == std::string::npos ? 0 : file.find_last_of('/') + 1);
    ToolItem item(profile, idText, true);
    ULONG num = 0;
    CMapiRef<IAttach> att;
    Check(item->CreateAttach(nullptr, 0, &num, att.Put()), "CreateAttach");
    SPropValue props[2]{};
    props[0].ulPropTag = PR_ATTACH_METHOD;
    props[0].Value.l = ATTACH_BY_VALUE;
    props[1].ulPropTag = PR_ATTACH_LONG_FILENAME;
    props[1].Value.lpszA = base.data();
    std::vector<SPropValue> values(props, props + 2);
    SetAll(att.Get(), values);
    // The data goes through a stream piece by piece: the file is never held whole.
    CMapiRef<IUnknown> unknown;
    Check(att->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                            unknown.Put()),
          "OpenProperty (attachment data)");
    CMapiRef<IStream> stream;
    Check(unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.Put())),
          "OpenProperty (attachment data)");
    std::vector<char> buf(1 << 20);
    std::uint64_t total = 0;
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
        const auto n = static_cast<ULONG>(in.gcount());
        total += n;
        if (total > kMaxAttachmentBytes)
            throw ToolError{MAPI_E_TOO_BIG, "'" + file + "' is too large"};
        ULONG written = 0;
        Check(stream->Write(buf.data(), n, &written), "writing the attachment data");
        if (written != n) throw ToolError{MAPI_E_DISK_ERROR, "writing the attachment data"};
    }
    if (in.bad()) throw ToolError{MAPI_E_DISK_ERROR, "cannot read '" + file + "'"};
    Check(stream->Commit(0), "writing the attachment data");
    Check(att->SaveChanges(0), "SaveChanges (attachment)");
    Check(item->SaveChanges(0), "SaveChanges");
    if (o.json) {
        JsonWriter w;
        w.BeginObject().Key("entryid").String(idText).Key("attachment").Number(num).EndObject();
        o.out << w.text() << "\n";
    } else {
        o.out << num << "\n";
    }
}

void CmdRecipient(const std::string& profile, const std::string& idText, const std::string& type,
                  const std::string& name, const std::string& address, Output& o) {
    LONG kind;
    if (type == "to" || type == "TO" || type == "1")
        kind = MAPI_TO;
    else if (type == "cc" || type == "CC" || type == "2")
        kind = MAPI_CC;
    else if (type == "bcc" || type == "BCC" || type == "3")
        kind = MAPI_BCC;
    else
        throw ToolError{MAPI_E_INVALID_PARAMETER, "recipient type is to, cc or bcc"};
    ToolItem item(profile, idText, true);
    SPropValue props[4]{};
    props[0].ulPropTag = PR_RECIPIENT_TYPE;
    props[0].Value.l = kind;
    props[1].ulPropTag = PR_DISPLAY_NAME;
    props[1].Value.lpszA = const_cast<char*>(name.c_str());
    props[2].ulPropTag = PR_EMAIL_ADDRESS;
    props[2].Value.lpszA = const_cast<char*>(address.c_str());
    props[3].ulPropTag = PR_ADDRTYPE;
    props[3].Value.lpszA = const_cast<char*>("SMTP");
    alignas(ADRLIST) char buf[CbNewADRLIST(1)];
    auto* list = reinterpret_cast<ADRLIST*>(buf);
    list->cEntries = 1;
    list->aEntries[0] = ADRENTRY{0, 4, props};
    Check(item->ModifyRecipients(MODRECIP_ADD, list), "ModifyRecipients");
    Check(item->SaveChanges(0), "SaveChanges");
    PrintDone(o, "entryid", idText);
}
