// Property tables of the PIM store.
#include "platform/pocketoutlook/pim_properties.h"

#include <strings.h>

#include <string>

#include "platform/pocketoutlook/ole_date.h"

namespace {

using T = PimType;

const std::vector<PimPropertyDef> kContact = {
    {"Birthday", T::Date},
    {"Anniversary", T::Date},
    {"BusinessFaxNumber", T::Text},
    {"Department", T::Text},
    {"CompanyName", T::Text},
    {"Email1Address", T::Text},
    {"MobileTelephoneNumber", T::Text},
    {"OfficeLocation", T::Text},
    {"PagerNumber", T::Text},
    {"BusinessTelephoneNumber", T::Text},
    {"JobTitle", T::Text},
    {"HomeTelephoneNumber", T::Text},
    {"Email2Address", T::Text},
    {"Spouse", T::Text},
    {"Email3Address", T::Text},
    {"Home2TelephoneNumber", T::Text},
    {"HomeFaxNumber", T::Text},
    {"CarTelephoneNumber", T::Text},
    {"AssistantName", T::Text},
    {"AssistantTelephoneNumber", T::Text},
    {"Children", T::Text},
    {"Categories", T::Text},
    {"WebPage", T::Text},
    {"Business2TelephoneNumber", T::Text},
    {"Title", T::Text},
    {"FirstName", T::Text},
    {"MiddleName", T::Text},
    {"LastName", T::Text},
    {"Suffix", T::Text},
    {"HomeAddressStreet", T::Text},
    {"HomeAddressCity", T::Text},
    {"HomeAddressState", T::Text},
    {"HomeAddressPostalCode", T::Text},
    {"HomeAddressCountry", T::Text},
    {"OtherAddressStreet", T::Text},
    {"OtherAddressCity", T::Text},
    {"OtherAddressState", T::Text},
    {"OtherAddressPostalCode", T::Text},
    {"OtherAddressCountry", T::Text},
    {"BusinessAddressStreet", T::Text},
    {"BusinessAddressCity", T::Text},
    {"BusinessAddressState", T::Text},
    {"BusinessAddressPostalCode", T::Text},
    {"BusinessAddressCountry", T::Text},
    {"RadioTelephoneNumber", T::Text},
    {"FileAs", T::Text},
    {"Body", T::Text},
    {"YomiFirstName", T::Text},
    {"YomiLastName", T::Text},
    {"YomiCompanyName", T::Text},
    {"CallbackTelephoneNumber", T::Text},
    {"PrimaryTelephoneNumber", T::Text},
    {"OtherTelephoneNumber", T::Text},
};

const std::vector<PimPropertyDef> kTask = {
    {"IsRecurring", T::Bool},       {"Subject", T::Text},      {"Categories", T::Text},
    {"StartDate", T::Date},         {"DueDate", T::Date},      {"DateCompleted", T::Date},
    {"Importance", T::Long},        {"Complete", T::Bool},     {"Sensitivity", T::Long},
    {"TeamTask", T::Bool},          {"Body", T::Text},         {"ReminderSet", T::Bool},
    {"ReminderSoundFile", T::Text}, {"ReminderTime", T::Date}, {"ReminderOptions", T::Long},
};

const std::vector<PimPropertyDef> kAppointment = {
    {"IsRecurring", T::Bool},
    {"Subject", T::Text},
    {"Location", T::Text},
    {"Categories", T::Text},
    {"Start", T::Date},
    {"Duration", T::Long},
    {"End", T::Date},
    {"AllDayEvent", T::Bool},
    {"BusyStatus", T::Long},
    {"Sensitivity", T::Long},
    {"Body", T::Text},
    {"MeetingStatus", T::Long},
    {"ReminderSet", T::Bool},
    {"ReminderSoundFile", T::Text},
    {"ReminderMinutesBeforeStart", T::Long},
    {"ReminderOptions", T::Long},
};

const std::vector<PimPropertyDef> kNone;

}  // namespace

const std::vector<PimPropertyDef>& PimProperties(int folder) {
    switch (folder) {
        case olFolderContacts:
            return kContact;
        case olFolderTasks:
            return kTask;
        case olFolderCalendar:
            return kAppointment;
        default:
            return kNone;
    }
}

const PimPropertyDef* FindPimProperty(int folder, std::string_view name) {
    for (const PimPropertyDef& def : PimProperties(folder)) {
        if (name.size() == std::string_view(def.name).size() &&
            strncasecmp(def.name, name.data(), name.size()) == 0) {
            return &def;
        }
    }
    return nullptr;
}

double PimDefaultDate(int folder, std::string_view name) {
    if (folder == olFolderContacts && (name == "Birthday" || name == "Anniversary")) {
        return kOleNoDate;
    }
    return 0.0;
}

const char* PimFolderName(int folder) {
    switch (folder) {
        case olFolderContacts:
            return "contacts";
        case olFolderTasks:
            return "tasks";
        case olFolderCalendar:
            return "calendar";
        default:
            return "";
    }
}

int PimFolderFromName(std::string_view name) {
    for (int f : {olFolderContacts, olFolderTasks, olFolderCalendar}) {
        if (name == PimFolderName(f)) return f;
    }
    return 0;
}
