// More of the store tool's commands: deleting profiles, deleting and renaming
// folders, the attachments and recipients of an item, removing properties. Each
// prints what it did (a sentence, or one JSON document with --json) and throws
// ToolError on failure, with nothing changed.
#pragma once

#include <string>
#include <vector>

#include "tools/store_commands.h"

// True when the machine has a profile of that name.
bool ProfileExists(const std::string& name);
void CmdProfileDelete(const std::string& name, Output& o);
// Deletes a folder below the top of the personal folders. A folder that holds items
// or sub-folders needs force (everything in it goes too); the store's default
// folders (Inbox, Calendar, ...) are refused with MAPI_E_NO_ACCESS.
void CmdFolderDelete(const std::string& profile, const std::string& folder, bool force, Output& o);
// Gives a folder a new display name; a name holding "/" or one that a sibling has
// already (ignoring case) is refused.
void CmdFolderRename(const std::string& profile, const std::string& folder,
                     const std::string& newName, Output& o);
// The attachments of an item: number, file name, size in bytes.
void CmdAttachments(const std::string& profile, const std::string& id, Output& o);
// Writes the bytes of attachment number to file ("-": standard output, nothing else
// printed).
void CmdExtract(const std::string& profile, const std::string& id, const std::string& number,
                const std::string& file, Output& o);
// The recipients of an item: type (to, cc, bcc), display name, address, address type.
void CmdRecipients(const std::string& profile, const std::string& id, Output& o);
// Removes properties from an item; a property the item does not have is reported
// as not set (not an error). Computed properties are refused.
void CmdUnset(const std::string& profile, const std::string& id,
              const std::vector<std::string>& props, Output& o);

// A value on one line: "\" as "\\", line feed, carriage return and tab as "\n",
// "\r" and "\t", so a value can never break or shift the tab-separated columns.
std::string EscapeForLine(const std::string& text);
