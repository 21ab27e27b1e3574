// corvel-store: the command line over the message store engine.
//
//   corvel-store [--profile NAME] [--json] COMMAND ...
//   profile create NAME | profile list | profile delete NAME
//   folders | folder create PATH [--class C] | folder delete FOLDER [--force]
//   folder rename FOLDER NAME | items FOLDER | show ENTRYID
//   add FOLDER --class CLASS PROP=VALUE... | set ENTRYID PROP=VALUE... | unset ENTRYID PROP...
//   delete ENTRYID | move ENTRYID FOLDER | copy ENTRYID FOLDER | read ENTRYID 0|1
//   attach ENTRYID FILE | attachments ENTRYID | extract ENTRYID NUMBER FILE
//   recipient ENTRYID TYPE NAME ADDRESS | recipients ENTRYID
//   import FOLDER FILE... [--strict] | export FOLDER [FILE] [--vcard3] (format_commands.h)
//
// Text output is tab-separated; a value holding "\", a line break or a tab shows
// them escaped ("\\", "\n", "\r", "\t"), so every item or property is one line.
//
// Results go to out (tab-separated lines, or one JSON document with --json).
// Errors go to err as "error: MAPI_E_NOT_FOUND (0x8004010F): message" (and with
// --json also as {"error":...} on out); the result is then 1. Usage errors give 2.
#pragma once

#include <iosfwd>

int RunStoreTool(int argc, char** argv, std::ostream& out, std::ostream& err);
