// The store tool's commands. Each writes its result to out, as text lines or as one
// JSON document, and throws ToolError on failure (nothing is changed then, except
// where a command says otherwise).
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct Output {
    std::ostream& out;
    bool json;
};

void CmdProfileCreate(const std::string& name, Output& o);
void CmdProfileList(Output& o);
// Every folder below the IPM subtree: path, entry ID, container class, item count.
void CmdFolders(const std::string& profile, Output& o);
void CmdFolderCreate(const std::string& profile, const std::string& path, const std::string& cls,
                     Output& o);
// Items of a folder: entry ID, message class, subject (or display name),
// last modification time, read flag.
void CmdItems(const std::string& profile, const std::string& folder, Output& o);
// Every property of each item: tag, name, type, value. With several items, each
// item's lines follow a line "ENTRYID <id>"; in JSON they form an array. Nothing is
// printed when one of them cannot be opened.
void CmdShow(const std::string& profile, const std::vector<std::string>& ids, Output& o);
// A new item of the class with the properties; all values are checked before the
// item is created.
void CmdAdd(const std::string& profile, const std::string& folder, const std::string& cls,
            const std::vector<std::string>& assignments, Output& o);
void CmdSet(const std::string& profile, const std::string& id,
            const std::vector<std::string>& assignments, Output& o);
void CmdDelete(const std::string& profile, const std::string& id, Output& o);
// move: the entry ID stays (within a store); copy: the copy's ID is printed.
void CmdMoveCopy(const std::string& profile, const std::string& id, const std::string& folder,
                 bool move, Output& o);
void CmdRead(const std::string& profile, const std::string& id, const std::string& flag, Output& o);
void CmdAttach(const std::string& profile, const std::string& id, const std::string& file,
               Output& o);
void CmdRecipient(const std::string& profile, const std::string& id, const std::string& type,
                  const std::string& name, const std::string& address, Output& o);
