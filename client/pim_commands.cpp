// PIM store commands of the skiff program.
#include "client/pim_commands.h"

#include <ostream>

#include "client/pim_command_steps.h"
#include "client/pim_recurrence_commands.h"
#include "client/recurrence_text.h"
#include "client/sync_item.h"
#include "client/value_forms.h"
#include "common/base/escape.h"

namespace {

// The name a property is shown under: its field's name when a field holds it.
std::string ShownName(const ItemKindTable& table, const PimPropertyDef& def) {
    for (const FieldDef& f : table.fields) {
        if (f.property && std::string_view(f.property) == def.name) return f.name;
    }
    return def.name;
}

// Every property with a value, in the store's order, as (shown name, text).
std::vector<std::pair<std::string, std::string>> Fields(const PimItem& item) {
    std::vector<std::pair<std::string, std::string>> out;
    const ItemKindTable& table = *TableForFolder(item.DefaultFolder());
    for (const PimPropertyDef& def : PimProperties(item.DefaultFolder())) {
        std::string value;
        switch (def.type) {
            case PimType::Text:
                value = item.GetText(def.name);
                break;
            case PimType::Long:
                value = std::to_string(item.GetLong(def.name));
                break;
            case PimType::Bool:
                value.assign(1, item.GetBool(def.name) ? '1' : '0');
                break;
            case PimType::Date:
                value = FormatServerDate(item.GetDate(def.name), true);
                break;
        }
        if (!value.empty()) out.emplace_back(ShownName(table, def), value);
    }
    return out;
}

// Line breaks and tabs as blanks, so a name stays one column of one line.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return text;
}

// The names of the fields of a folder, as show prints them.
std::string FieldNames(int folder) {
    const ItemKindTable& table = *TableForFolder(folder);
    std::string names;
    size_t lineStart = 0;
    for (const PimPropertyDef& def : PimProperties(folder)) {
        std::string name = ShownName(table, def);
        if (!names.empty()) names += ",";
        if (names.size() - lineStart + name.size() > 76) {
            names += "\n   ";
            lineStart = names.size();
        } else if (!names.empty()) {
            names += " ";
        }
        names += name;
    }
    return names;
}

void WriteItem(std::ostream& out, const PimItem& item, bool json) {
    auto fields = Fields(item);
    if (json) {
        out << "{\"oid\":" << item.Oid()
            << ",\"folder\":" << JsonQuote(PimFolderName(item.DefaultFolder())) << ",\"fields\":{";
        for (size_t i = 0; i < fields.size(); ++i) {
            out << (i ? "," : "") << JsonQuote(fields[i].first) << ":"
                << JsonQuote(fields[i].second);
        }
        out << "}" << RecurrenceJson(item) << "}";
    } else {
        out << "oid " << item.Oid() << " (" << PimFolderName(item.DefaultFolder()) << ")\n";
        for (const auto& [name, value] : fields) out << name << "=" << value << "\n";
        for (const auto& [name, value] : RecurrenceFields(item))
            out << name << "=" << value << "\n";
    }
}

// Applies NAME=VALUE texts to item; false with a message for the first bad one.
bool Assign(PimItem& item, const std::vector<std::string>& assignments, std::string& error) {
    const ItemKindTable& table = *TableForFolder(item.DefaultFolder());
    for (const std::string& a : assignments) {
        size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "expected FIELD=VALUE: " + a;
            return false;
        }
        std::string name = a.substr(0, eq), value = a.substr(eq + 1);
        const FieldDef* field = FindFieldByName(table, name);
        const PimPropertyDef* def = FindPimProperty(
            item.DefaultFolder(), field && field->property ? field->property : name);
        if (!def) {
            error = "unknown field for " + std::string(PimFolderName(item.DefaultFolder())) + ": " +
                    name;
            return false;
        }
        bool ok = true;
        switch (def->type) {
            case PimType::Text:
                ok = item.SetText(def->name, value);
                break;
            case PimType::Long: {
                size_t digits = value.find_first_not_of("-+0123456789");
                ok = !value.empty() && digits == std::string::npos &&
                     item.SetLong(def->name, ParseDecimal(value));
                break;
            }
            case PimType::Bool:
                if (value == "1" || value == "-1" || value == "true")
                    ok = item.SetBool(def->name, true);
                else if (value == "0" || value == "false")
                    ok = item.SetBool(def->name, false);
                else
                    ok = false;
                break;
            case PimType::Date: {
                double date = PimDefaultDate(item.DefaultFolder(), def->name);
                ok = value.empty() || ParseUserDate(value, date);
                if (ok) ok = item.SetDate(def->name, date);
                break;
            }
        }
        if (!ok) {
            error = "bad value for " + name + ": " + value;
            return false;
        }
    }
    return true;
}

}  // namespace

std::string PimItemName(const PimItem& item) {
    switch (item.DefaultFolder()) {
        case olFolderContacts: {
            std::string name = item.GetText("FileAs");
            if (name.empty()) {
                for (const char* part : {"FirstName", "MiddleName", "LastName"}) {
                    std::string text = item.GetText(part);
                    if (!text.empty()) name += (name.empty() ? "" : " ") + text;
                }
            }
            if (name.empty()) name = item.GetText("CompanyName");
            if (name.empty()) name = item.GetText("Email1Address");
            return OneLine(name);
        }
        case olFolderTasks:
            return OneLine(item.GetText("Subject"));
        case olFolderCalendar: {
            std::string start = FormatServerDate(item.GetDate("Start"), true);
            std::string subject = OneLine(item.GetText("Subject"));
            return start.empty() ? subject : subject + " (" + start + ")";
        }
        default:
            return std::string();
    }
}

std::string PimFieldHelp() {
    std::string text = "Fields (FIELD=VALUE; an empty value clears the field):\n";
    for (int folder : {olFolderContacts, olFolderTasks, olFolderCalendar}) {
        text += std::string("  ") + PimFolderName(folder) + ":\n   " + FieldNames(folder) + "\n";
    }
    text +=
        "Dates as dd.mm.yyyy hh:mm.ss:0, ddmmyyyy hh:mm:ss or yyyy-mm-dd[ hh:mm[:ss]]; flags as "
        "1, 0, true, false or -1.";
    return text;
}

int PimList(const std::string& folderName, bool json, std::ostream& out, std::ostream& err) {
    int folder = PimFolderOrComplain(folderName, err);
    if (!folder) return 2;
    PocketOutlookApplication app;
    if (!LogOnOrComplain(app, err)) return 1;
    PimItems items = app.GetDefaultFolder(folder)->Items();
    if (json) out << "[";
    bool first = true;
    for (int i = 1; i <= items.Count(); ++i) {
        auto item = items.Item(i);
        if (!item) continue;
        if (json) {
            out << (first ? "" : ",");
            WriteItem(out, *item, true);
        } else {
            out << item->Oid() << "\t" << PimItemName(*item) << "\n";
        }
        first = false;
    }
    if (json) out << "]\n";
    return 0;
}

int PimShow(long oid, bool json, std::ostream& out, std::ostream& err) {
    PocketOutlookApplication app;
    auto item = OpenItemOrComplain(app, oid, err);
    if (!item) return 1;
    WriteItem(out, *item, json);
    if (json) out << "\n";
    return 0;
}

int PimAdd(const std::string& folderName, const std::vector<std::string>& assignments, bool json,
           std::ostream& out, std::ostream& err, const RecurrenceChange& recurrence) {
    int folder = PimFolderOrComplain(folderName, err);
    if (!folder) return 2;
    PocketOutlookApplication app;
    if (!LogOnOrComplain(app, err)) return 1;
    auto item = app.GetDefaultFolder(folder)->Items().Add();
    std::string error;
    if (!Assign(*item, assignments, error) || !ApplyRecurrenceChange(*item, recurrence, 0, error)) {
        err << error << "\n";
        return 2;
    }
    if (!SaveOrComplain(*item, err)) return 1;
    if (json)
        out << "{\"oid\":" << item->Oid() << "}\n";
    else
        out << item->Oid() << "\n";
    return 0;
}

int PimSet(long oid, const std::vector<std::string>& assignments, bool json, std::ostream& out,
           std::ostream& err, const RecurrenceChange& recurrence) {
    if (assignments.empty() && !recurrence.set && !recurrence.clear) {
        err << "nothing to change: give FIELD=VALUE ... or a recurrence option\n";
        return 2;
    }
    PocketOutlookApplication app;
    auto item = OpenItemOrComplain(app, oid, err);
    if (!item) return 1;
    std::string error;
    double startBefore = item->GetDate("Start");
    if (!Assign(*item, assignments, error) ||
        !ApplyRecurrenceChange(*item, recurrence, startBefore, error)) {
        err << error << "\n";
        return 2;
    }
    if (!SaveOrComplain(*item, err)) return 1;
    std::string names;
    for (const std::string& a : assignments)
        names += (names.empty() ? "" : ", ") + a.substr(0, a.find('='));
    if (json) {
        out << "{\"oid\":" << oid << ",\"changed\":" << assignments.size() << "}\n";
    } else {
        out << "oid " << oid << " (" << PimFolderName(item->DefaultFolder())
            << ") changed: " << names << "\n";
    }
    return 0;
}

int PimDelete(long oid, bool json, std::ostream& out, std::ostream& err) {
    PocketOutlookApplication app;
    if (!LogOnOrComplain(app, err)) return 1;
    auto item = app.GetItemFromOid(oid);
    std::string name = item ? PimItemName(*item) : std::string();
    std::string folder = item ? PimFolderName(item->DefaultFolder()) : std::string();
    if (!item || !item->Delete()) {
        err << "no item " << oid << "\n";
        return 1;
    }
    if (json) {
        out << "{\"oid\":" << oid << ",\"deleted\":true}\n";
    } else {
        out << "oid " << oid << " (" << folder << ") deleted: " << name << "\n";
    }
    return 0;
}
