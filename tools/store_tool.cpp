// The command line of corvel-store: options, sub-commands and error reporting.
#include "tools/store_tool.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <ostream>

#include "tools/admin_commands.h"
#include "tools/format_commands.h"
#include "tools/json_writer.h"
#include "tools/store_commands.h"
#include "tools/tool_context.h"

namespace {

std::string CodeText(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

}  // namespace

int RunStoreTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"corvel-store: profiles, folders and items of the message store"};
    app.fallthrough();
    app.require_subcommand(1);
    std::string profile = "Default";
    bool json = false;
    app.add_option("--profile", profile, "MAPI profile (default \"Default\")");
    app.add_flag("--json", json, "print results as JSON");

    std::string name, path, cls, folder, id, flag, file, type, display, address;
    std::vector<std::string> assignments;

    CLI::App* prof = app.add_subcommand("profile", "create or list profiles");
    prof->require_subcommand(1);
    CLI::App* profCreate =
        prof->add_subcommand("create", "create a profile with its default store");
    profCreate->add_option("NAME", name, "profile name")->required();
    CLI::App* profList = prof->add_subcommand("list", "list the profiles");
    CLI::App* profDelete = prof->add_subcommand("delete", "delete a profile and its stores");
    profDelete->add_option("NAME", name, "profile name")->required();

    CLI::App* folders =
        app.add_subcommand("folders", "list the folders below the top of the personal folders");
    CLI::App* folderCmd = app.add_subcommand("folder", "folder commands");
    folderCmd->require_subcommand(1);
    CLI::App* folderCreate =
        folderCmd->add_subcommand("create", "create a folder (and missing parents)");
    folderCreate->add_option("PATH", path, "path below the top, e.g. Inbox/Projects")->required();
    folderCreate->add_option("--class", cls, "container class, e.g. IPF.Contact");
    bool force = false;
    CLI::App* folderDelete = folderCmd->add_subcommand(
        "delete", "delete a folder (one holding items or folders needs --force)");
    folderDelete->add_option("FOLDER", folder, "path or entry ID")->required();
    folderDelete->add_flag("--force", force, "delete the items and sub-folders in it too");
    CLI::App* folderRename = folderCmd->add_subcommand("rename", "give a folder a new name");
    folderRename->add_option("FOLDER", folder, "path or entry ID")->required();
    folderRename->add_option("NAME", name, "the new name (no \"/\")")->required();

    CLI::App* items = app.add_subcommand("items", "list the items of a folder");
    items->add_option("FOLDER", folder, "path or entry ID")->required();
    std::vector<std::string> ids;
    CLI::App* show = app.add_subcommand(
        "show", "show every property of items (with several: each after a line of its entry ID)");
    show->add_option("ENTRYID", ids, "one or more entry IDs")->required();
    CLI::App* add = app.add_subcommand("add", "add an item; prints its entry ID");
    add->add_option("FOLDER", folder, "path or entry ID")->required();
    add->add_option("--class", cls, "message class, e.g. IPM.Contact")->required();
    add->add_option("PROPS", assignments, "PROP=VALUE ...");
    CLI::App* set = app.add_subcommand("set", "change properties of an item");
    set->add_option("ENTRYID", id)->required();
    set->add_option("PROPS", assignments, "PROP=VALUE ...")->required();
    CLI::App* del = app.add_subcommand("delete", "delete an item");
    del->add_option("ENTRYID", id)->required();
    CLI::App* move = app.add_subcommand("move", "move an item to a folder");
    move->add_option("ENTRYID", id)->required();
    move->add_option("FOLDER", folder)->required();
    CLI::App* copy =
        app.add_subcommand("copy", "copy an item to a folder; prints the copy's entry ID");
    copy->add_option("ENTRYID", id)->required();
    copy->add_option("FOLDER", folder)->required();
    CLI::App* read = app.add_subcommand("read", "mark an item read (1) or unread (0)");
    read->add_option("ENTRYID", id)->required();
    read->add_option("FLAG", flag)->required();
    CLI::App* attach = app.add_subcommand("attach", "attach a file to an item");
    attach->add_option("ENTRYID", id)->required();
    attach->add_option("FILE", file)->required();
    CLI::App* unset = app.add_subcommand("unset", "remove properties from an item");
    unset->add_option("ENTRYID", id)->required();
    unset->add_option("PROPS", assignments, "PROP ...")->required();
    CLI::App* attachments = app.add_subcommand("attachments", "list the attachments of an item");
    attachments->add_option("ENTRYID", id)->required();
    CLI::App* extract =
        app.add_subcommand("extract", "write an attachment's bytes to a file (\"-\": stdout)");
    extract->add_option("ENTRYID", id)->required();
    extract->add_option("NUMBER", flag, "attachment number (see attachments)")->required();
    extract->add_option("FILE", file)->required();
    CLI::App* recipients = app.add_subcommand("recipients", "list the recipients of an item");
    recipients->add_option("ENTRYID", id)->required();
    CLI::App* recipient =
        app.add_subcommand("recipient", "add a recipient (to, cc, bcc) to an item");
    recipient->add_option("ENTRYID", id)->required();
    recipient->add_option("TYPE", type)->required();
    recipient->add_option("NAME", display)->required();
    recipient->add_option("ADDRESS", address)->required();

    std::vector<std::string> files;
    bool strict = false, vcard3 = false;
    CLI::App* import = app.add_subcommand(
        "import", "import vCard (contacts) or iCalendar (tasks, appointments) files into a folder");
    import->add_option("FOLDER", folder, "path or entry ID")->required();
    import->add_option("FILE", files, "files to read (- for standard input)")->required();
    import->add_flag("--strict", strict, "stop at the first error and import nothing");
    CLI::App* exportCmd = app.add_subcommand(
        "export", "export a folder as vCard 4.0 (contacts) or iCalendar (tasks, appointments)");
    exportCmd->add_option("FOLDER", folder, "path or entry ID")->required();
    exportCmd->add_option("FILE", file, "file to write (standard output when none)");
    exportCmd->add_flag("--vcard3", vcard3, "write vCard 3.0");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? 0 : 2;
    }

    Output o{out, json};
    try {
        if (*profCreate)
            CmdProfileCreate(name, o);
        else if (*profList)
            CmdProfileList(o);
        else if (*profDelete)
            CmdProfileDelete(name, o);
        else if (*folderDelete)
            CmdFolderDelete(profile, folder, force, o);
        else if (*folderRename)
            CmdFolderRename(profile, folder, name, o);
        else if (*unset)
            CmdUnset(profile, id, assignments, o);
        else if (*attachments)
            CmdAttachments(profile, id, o);
        else if (*extract)
            CmdExtract(profile, id, flag, file, o);
        else if (*recipients)
            CmdRecipients(profile, id, o);
        else if (*folders)
            CmdFolders(profile, o);
        else if (*folderCreate)
            CmdFolderCreate(profile, path, cls, o);
        else if (*items)
            CmdItems(profile, folder, o);
        else if (*show)
            CmdShow(profile, ids, o);
        else if (*add)
            CmdAdd(profile, folder, cls, assignments, o);
        else if (*set)
            CmdSet(profile, id, assignments, o);
        else if (*del)
            CmdDelete(profile, id, o);
        else if (*move)
            CmdMoveCopy(profile, id, folder, true, o);
        else if (*copy)
            CmdMoveCopy(profile, id, folder, false, o);
        else if (*read)
            CmdRead(profile, id, flag, o);
        else if (*attach)
            CmdAttach(profile, id, file, o);
        else if (*recipient)
            CmdRecipient(profile, id, type, display, address, o);
        else if (*import)
            return CmdImport(profile, folder, files, strict, o, err);
        else if (*exportCmd) {
            if (json && file.empty()) {
                err << "error: export --json needs a FILE (the data goes to standard output)\n";
                return 2;
            }
            CmdExport(profile, folder, file, vcard3, o);
        }
        return 0;
    } catch (const ToolError& e) {
        const char* known = MapiErrorName(e.hr);
        const std::string code = known ? known : CodeText(e.hr);
        err << "error: " << code << " (" << CodeText(e.hr) << "): " << e.message << "\n";
        if (json) {
            JsonWriter w;
            w.BeginObject()
                .Key("error")
                .String(code)
                .Key("code")
                .String(CodeText(e.hr))
                .Key("message")
                .String(e.message);
            w.EndObject();
            out << w.text() << "\n";
        }
        return 1;
    } catch (const std::exception& e) {
        err << "error: " << e.what() << "\n";
        return 1;
    }
}
