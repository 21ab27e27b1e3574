// The field tables of the three item kinds Skiff synchronises: which tag of the
// kind's code page holds which PIM property, and in which form.
//
// Contacts travel on code page 1 (49 fields written, tags 0-48), appointments on
// page 2 and tasks on page 3 (15 fields written each, tags 0-14). Contact tags 0x31,
// 0x32 and 0x33 are the callback, primary and other telephone numbers (as the server
// has them); they are stored when received and never written. Contact tag 0x34 and
// any tag outside a table are ignored when received.
#pragma once

#include <string_view>
#include <vector>

enum class FieldForm {
    ObjectId,         // the item's object identifier in decimal (contact tag 0)
    Unused,           // never filled (contact tag 1)
    Text,             // the property's text
    Date,             // a date; 0 reads as empty
    ContactDate,      // a date; 0 and "no date" read as empty
    Long,             // "%d"
    TaskFlag,         // "1" or "0"
    AppointmentFlag,  // the 16-bit value: "-1" or "0"
    Empty,            // always the empty text
    Recurrence,       // an appointment's recurrence (recurrence_text.h) in the client's
                      // form; never sent as a field (the Recurrence block carries it)
};

struct FieldDef {
    int tag;
    const char* name;      // the field's name in the protocol ("Aniversary", "TaskSubject")
    const char* property;  // the PIM property it holds, or null
    FieldForm form;
    bool setOnReceive;
};

// Item kinds of the client's folders.
constexpr int kKindContacts = 1;
constexpr int kKindTasks = 2;
constexpr int kKindAppointments = 3;

struct ItemKindTable {
    int kind;          // kKindContacts, kKindTasks, kKindAppointments
    int codePage;      // 1, 3, 2
    int pimFolder;     // olFolderContacts, olFolderTasks, olFolderCalendar
    int fieldCount;    // 49, 15, 15
    int bodyTag;       // 48, 10, 10
    bool namedFields;  // contacts answer their field names; tasks and appointments do not
    std::vector<FieldDef> fields;  // ordered by tag
};

// The table of a kind, or null for another number.
const ItemKindTable* TableForKind(int kind);
// The table of the kind a PIM default folder holds, or null for another folder.
const ItemKindTable* TableForFolder(int pimFolder);
// The field of a tag, or null.
const FieldDef* FindField(const ItemKindTable& table, int tag);
// The field of that protocol name, or failing that of that PIM property name
// (both ignoring case); null when neither names a field.
const FieldDef* FindFieldByName(const ItemKindTable& table, std::string_view name);

// True when the desktop's items carry the field, so that a desktop Modify without
// it means the field is empty there: every field set on receive except contact
// 0x1E (Suffix), task 0x09, 0x0C and 0x0E (TeamTask, ReminderSoundFile,
// ReminderOptions) and appointment 0x10 (ReminderOptions), which the desktop
// neither stores nor sends.
bool DesktopCarries(const ItemKindTable& table, int tag);
