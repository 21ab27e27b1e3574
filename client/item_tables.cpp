// The contact, task and appointment tables.
#include "client/item_tables.h"

#include <strings.h>

#include "platform/pocketoutlook/pim_properties.h"

namespace {

using F = FieldForm;

std::vector<FieldDef> ContactFields() {
    std::vector<FieldDef> f = {
        {0, "ClientID", nullptr, F::ObjectId, false},
        {1, "ServerID", nullptr, F::Unused, false},
        {2, "Birthday", "Birthday", F::ContactDate, true},
        {3, "Aniversary", "Anniversary", F::ContactDate, true},
    };
    static const char* const kTexts[] = {
        "BusinessFaxNumber",
        "Department",
        "CompanyName",
        "Email1Address",
        "MobileTelephoneNumber",
        "OfficeLocation",
        "PagerNumber",
        "BusinessTelephoneNumber",
        "JobTitle",
        "HomeTelephoneNumber",
        "Email2Address",
        "Spouse",
        "Email3Address",
        "Home2TelephoneNumber",
        "HomeFaxNumber",
        "CarTelephoneNumber",
        "AssistantName",
        "AssistantTelephoneNumber",
        "Children",
        "Categories",
        "WebPage",
        "Business2TelephoneNumber",
        "Title",
        "FirstName",
        "MiddleName",
        "LastName",
        "Suffix",
        "HomeAddressStreet",
        "HomeAddressCity",
        "HomeAddressState",
        "HomeAddressPostalCode",
        "HomeAddressCountry",
        "OtherAddressStreet",
        "OtherAddressCity",
        "OtherAddressState",
        "OtherAddressPostalCode",
        "OtherAddressCountry",
        "BusinessAddressStreet",
        "BusinessAddressCity",
        "BusinessAddressState",
        "BusinessAddressPostalCode",
        "BusinessAddressCountry",
        "RadioTelephoneNumber",
        "FileAs",
        "Body",
        "CallbackTelephoneNumber",
        "PrimaryTelephoneNumber",
        "OtherTelephoneNumber",
    };
    int tag = 4;
    for (const char* name : kTexts) f.push_back({tag++, name, name, F::Text, true});
    return f;
}

const ItemKindTable kContacts = {kKindContacts, 1, olFolderContacts, 49, 48, true, ContactFields()};

const ItemKindTable kTasks = {kKindTasks,
                              3,
                              olFolderTasks,
                              15,
                              10,
                              false,
                              {
                                  {0, "TaskIsRecurring", "IsRecurring", F::TaskFlag, false},
                                  {1, "TaskSubject", "Subject", F::Text, true},
                                  {2, "TaskCategories", "Categories", F::Text, true},
                                  {3, "TaskStartDate", "StartDate", F::Date, true},
                                  {4, "TaskDueDate", "DueDate", F::Date, true},
                                  {5, "TaskDateCompleted", "DateCompleted", F::Date, false},
                                  {6, "TaskImportance", "Importance", F::Long, true},
                                  {7, "TaskComplete", "Complete", F::TaskFlag, true},
                                  {8, "TaskSensitivity", "Sensitivity", F::Long, true},
                                  {9, "TaskTeamTask", "TeamTask", F::TaskFlag, true},
                                  {10, "TaskBody", "Body", F::Text, true},
                                  {11, "TaskReminderSet", "ReminderSet", F::TaskFlag, true},
                                  {12, "TaskReminderSoundFile", "ReminderSoundFile", F::Text, true},
                                  {13, "TaskReminderTime", "ReminderTime", F::Date, true},
                                  {14, "TaskReminderOptions", "ReminderOptions", F::Long, true},
                              }};

const ItemKindTable kAppointments = {
    kKindAppointments,
    2,
    olFolderCalendar,
    15,
    10,
    false,
    {
        {0, "IsRecurring", "IsRecurring", F::Recurrence, false},
        {1, "Subject", "Subject", F::Text, true},
        {2, "Location", "Location", F::Text, true},
        {3, "Categories", "Categories", F::Text, true},
        {4, "Start", "Start", F::Date, true},
        {5, "Duration", "Duration", F::Long, true},
        {6, "End", "End", F::Date, true},
        {7, "AllDayEvent", "AllDayEvent", F::AppointmentFlag, true},
        {8, "BusyStatus", "BusyStatus", F::Long, true},
        {9, "Sensitivity", "Sensitivity", F::Long, true},
        {10, "Body", "Body", F::Text, true},
        {11, "Recipients", nullptr, F::Empty, false},
        {12, "MeetingStatus", "MeetingStatus", F::Empty, false},
        {13, "ReminderSet", "ReminderSet", F::AppointmentFlag, true},
        {14, "ReminderSoundFile", "ReminderSoundFile", F::Empty, false},
        {15, "ReminderMinutesBeforeStart", "ReminderMinutesBeforeStart", F::Long, true},
        {16, "ReminderOptions", "ReminderOptions", F::Long, true},
    }};

bool SameName(const char* a, std::string_view b) {
    return a && std::string_view(a).size() == b.size() && strncasecmp(a, b.data(), b.size()) == 0;
}

}  // namespace

namespace {

const ItemKindTable* const kAllTables[] = {&kContacts, &kTasks, &kAppointments};

}  // namespace

const ItemKindTable* TableForKind(int kind) {
    for (const ItemKindTable* table : kAllTables) {
        if (table->kind == kind) return table;
    }
    return nullptr;
}

const ItemKindTable* TableForFolder(int pimFolder) {
    for (const ItemKindTable* table : kAllTables) {
        if (table->pimFolder == pimFolder) return table;
    }
    return nullptr;
}

const FieldDef* FindField(const ItemKindTable& table, int tag) {
    if (tag < 0 || static_cast<size_t>(tag) >= table.fields.size()) return nullptr;
    return &table.fields[static_cast<size_t>(tag)];
}

const FieldDef* FindFieldByName(const ItemKindTable& table, std::string_view name) {
    for (const FieldDef& f : table.fields) {
        if (SameName(f.name, name)) return &f;
    }
    for (const FieldDef& f : table.fields) {
        if (SameName(f.property, name)) return &f;
    }
    return nullptr;
}

bool DesktopCarries(const ItemKindTable& table, int tag) {
    const FieldDef* f = FindField(table, tag);
    if (!f || !f->setOnReceive || !f->property) return false;
    switch (table.kind) {
        case kKindContacts:
            return tag != 0x1E;
        case kKindTasks:
            return tag != 0x09 && tag != 0x0C && tag != 0x0E;
        case kKindAppointments:
            return tag != 0x10;
        default:
            return false;
    }
}
