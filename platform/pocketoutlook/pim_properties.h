// The properties of the handheld's contacts, tasks and appointments: name and type
// per kind of item. Names are those of the PIM object model and are matched ignoring
// case. A property that was never set reads as its default: the empty text, 0, false,
// or for dates 0 (contact birthday and anniversary: kOleNoDate).
#pragma once

#include <string_view>
#include <vector>

// Default folders (the object model's numbers) and item kinds.
enum OlDefaultFolders { olFolderCalendar = 9, olFolderContacts = 10, olFolderTasks = 13 };

enum class PimType { Text, Long, Bool, Date };

struct PimPropertyDef {
    const char* name;
    PimType type;
};

// The properties of items in the given default folder, in a fixed order; empty for
// any other number.
const std::vector<PimPropertyDef>& PimProperties(int folder);
// The property of that name (ignoring case), or null.
const PimPropertyDef* FindPimProperty(int folder, std::string_view name);
// The value an unset date property reads as.
double PimDefaultDate(int folder, std::string_view name);
// "contacts", "tasks", "calendar" (or the empty text) and back (0 when unknown).
const char* PimFolderName(int folder);
int PimFolderFromName(std::string_view name);
