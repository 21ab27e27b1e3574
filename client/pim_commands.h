// The "skiff pim" commands: list, show, add, change and delete items of the
// handheld's PIM store, as a person would with the handheld's own applications.
//
// Field names are those of the client's tables ("FirstName", "Aniversary",
// "TaskSubject", "Start"); the PIM property names ("Anniversary", "Subject",
// "YomiFirstName") are accepted as well. Values are shown as they travel to the server
// (dates "dd.mm.yyyy hh:mm.ss:0"); dates are accepted in that form, in the client's
// form "ddmmyyyy hh:mm:ss" and as "yyyy-mm-dd[ hh:mm[:ss]]"; flags as 1/0/true/false/-1.
// A recurring appointment also shows "Recurrence=<pattern>" and one
// "Exception=<exception>" per changed or removed occurrence (recurrence_text.h).
//
// Each function writes its result to out (text, or JSON with json), an error message
// to err, and returns the exit status: 0 done, 1 failed (store, no such item), 2 bad
// input (unknown folder, field or value). list prints one line per item: the oid
// and the name a person knows it by (a contact's FileAs, else its first and last
// name, company or e-mail address; a task's subject; an appointment's subject and
// start); add prints the new oid; set and delete say what they did.
#pragma once

#include <iosfwd>

class PimItem;
#include <string>
#include <vector>

#include "client/pim_recurrence_commands.h"

int PimList(const std::string& folder, bool json, std::ostream& out, std::ostream& err);
int PimShow(long oid, bool json, std::ostream& out, std::ostream& err);
// A recurrence change (pim_recurrence_commands.h) is applied after the fields.
int PimAdd(const std::string& folder, const std::vector<std::string>& assignments, bool json,
           std::ostream& out, std::ostream& err, const RecurrenceChange& recurrence = {});
int PimSet(long oid, const std::vector<std::string>& assignments, bool json, std::ostream& out,
           std::ostream& err, const RecurrenceChange& recurrence = {});
int PimDelete(long oid, bool json, std::ostream& out, std::ostream& err);

// The field names each folder takes, with the value forms, for "pim add --help".
std::string PimFieldHelp();
// The name a person knows an item by (see above); line breaks and tabs as blanks.
std::string PimItemName(const PimItem& item);
