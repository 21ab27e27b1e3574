// The handheld and desktop sides of the sync matrix.
#include "tests/sync_matrix_sides.h"

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

namespace {

const PimKindInfo kInfos[] = {
    {PimKind::kContacts, "contacts", "contacts", "Contacts", "IPM.Contact", "Contacts"},
    {PimKind::kTasks, "tasks", "tasks", "Tasks", "IPM.Task", "Tasks"},
    {PimKind::kAppointments, "appointments", "calendar", "Calendar", "IPM.Appointment", "Calendar"},
};

// Every appointment of the matrix lasts from nine to ten on one day.
constexpr const char* kStart = "2026-12-10 09:00";
constexpr const char* kEnd = "2026-12-10 10:00";

// The field names of the reduced form on each side.
struct FieldNames {
    const char* handheldTitle;
    const char* handheldDetail;
    const char* desktopTitle;
    const char* desktopDetail;
};
FieldNames NamesOf(PimKind kind) {
    switch (kind) {
        case PimKind::kContacts:
            return {"FileAs", "CompanyName", "PSETID_Address:0x8005", "PR_COMPANY_NAME"};
        case PimKind::kTasks:
            return {"TaskSubject", "TaskImportance", "PR_SUBJECT", "PR_IMPORTANCE"};
        case PimKind::kAppointments:
            break;
    }
    return {"Subject", "Location", "PR_SUBJECT", "PSETID_Appointment:0x8208"};
}

// The detail written for the number n.
std::string DetailText(PimKind kind, const std::string& n) {
    switch (kind) {
        case PimKind::kContacts:
            return "Firma " + n;
        case PimKind::kTasks:
            return n;
        case PimKind::kAppointments:
            break;
    }
    return "Raum " + n;
}

// The desktop assignment of the detail n.
std::string DesktopDetail(PimKind kind, const std::string& n) {
    switch (kind) {
        case PimKind::kContacts:
            return "PR_COMPANY_NAME=" + DetailText(kind, n);
        case PimKind::kTasks:
            return "PR_IMPORTANCE=" + n;
        case PimKind::kAppointments:
            break;
    }
    return "PSETID_Appointment:0x8208:PT_STRING8=" + DetailText(kind, n);
}

std::string DesktopTitle(PimKind kind, const std::string& title) {
    return kind == PimKind::kContacts ? "PSETID_Address:0x8005:PT_STRING8=" + title
                                      : "PR_SUBJECT=" + title;
}

const std::vector<ExtraField> kContactExtras = {
    {"date", "Birthday", "PR_BIRTHDAY", "PR_BIRTHDAY", ExtraField::kDate},
    {"text", "HomeTelephoneNumber", "PR_HOME_TELEPHONE_NUMBER", "PR_HOME_TELEPHONE_NUMBER",
     ExtraField::kText},
};
const std::vector<ExtraField> kTaskExtras = {
    {"date", "TaskDueDate", "PSETID_Task:0x8105", "PSETID_Task:0x8105:PT_SYSTIME",
     ExtraField::kDate},
    {"num", "TaskSensitivity", "PR_SENSITIVITY", "PR_SENSITIVITY", ExtraField::kNumber},
    {"text", "TaskBody", "PR_BODY", "PR_BODY", ExtraField::kText},
};
const std::vector<ExtraField> kAppointmentExtras = {
    {"num", "BusyStatus", "PSETID_Appointment:0x8205", "PSETID_Appointment:0x8205:PT_LONG",
     ExtraField::kNumber},
    {"text", "Body", "PR_BODY", "PR_BODY", ExtraField::kText},
};

// The handheld's assignment of an extra field: a date as it is, an empty number as 0.
std::string HandheldExtra(const ExtraField& field, const std::string& value) {
    if (field.form == ExtraField::kNumber && value.empty())
        return std::string(field.handheld) + "=0";
    return std::string(field.handheld) + "=" + value;
}

// The desktop's assignment of an extra field (not for an empty value: unset).
std::string DesktopExtra(const ExtraField& field, const std::string& value) {
    std::string v = field.form == ExtraField::kDate ? value + "T00:00:00Z" : value;
    return std::string(field.desktopValue) + "=" + v;
}

std::string Trimmed(const std::string& text) {
    size_t end = text.find_last_not_of(" \n\r\t");
    return end == std::string::npos ? "" : text.substr(0, end + 1);
}

}  // namespace

const PimKindInfo& InfoOf(PimKind kind) {
    for (const PimKindInfo& info : kInfos) {
        if (info.kind == kind) return info;
    }
    return kInfos[0];
}

const std::vector<ExtraField>& ExtraFieldsOf(PimKind kind) {
    switch (kind) {
        case PimKind::kContacts:
            return kContactExtras;
        case PimKind::kTasks:
            return kTaskExtras;
        case PimKind::kAppointments:
            break;
    }
    return kAppointmentExtras;
}

const ExtraField* ExtraFieldOf(PimKind kind, const std::string& name) {
    for (const ExtraField& field : ExtraFieldsOf(kind)) {
        if (name == field.name) return &field;
    }
    return nullptr;
}

std::string ShownExtra(const ExtraField& field, const std::string& value) {
    if (field.form == ExtraField::kNumber && (value == "0" || value.empty())) return "";
    if (field.form == ExtraField::kDate) {
        std::string date = NormalDate(value);
        // A date given as yyyy-mm-dd in a script.
        if (std::regex_match(date, std::regex(R"(\d{4}-\d\d-\d\d)"))) date += " 00:00";
        return date;
    }
    return value;
}

std::string SideItem::Line(PimKind kind) const {
    std::string line = title + " | " + detail;
    if (kind == PimKind::kAppointments) line += " | " + start + " | " + end;
    for (const auto& [name, value] : extra) {
        if (!value.empty()) line += " | " + name + "=" + value;
    }
    return line;
}

std::string MatrixReport::Text() const {
    if (!found) return "no report";
    std::ostringstream out;
    out << "H+" << handheld.added << "~" << handheld.changed << "-" << handheld.deleted << " D+"
        << desktop.added << "~" << desktop.changed << "-" << desktop.deleted;
    if (handheld.matched > 0 || desktop.matched > 0)
        out << " matched H" << handheld.matched << " D" << desktop.matched;
    if (handheld.kept > 0 || desktop.kept > 0)
        out << " kept H" << handheld.kept << " D" << desktop.kept;
    if (conflicts > 0) out << " conflicts " << conflicts;
    if (notStored > 0) out << " notstored " << notStored;
    if (heldHandheld > 0 || heldDesktop > 0)
        out << " held H-" << heldHandheld << " D-" << heldDesktop;
    if (newStore) out << " newstore";
    return out.str();
}

MatrixReport ParseSyncReport(const std::string& output, const std::string& reportName) {
    MatrixReport report;
    size_t at = output.rfind("Sync report: ");
    if (at == std::string::npos) return report;
    std::string line = output.substr(at, output.find('\n', at) - at);
    std::regex segment(
        "(?:: |; )" + reportName +
        R"(: handheld \+(\d+)(?: \((\d+) matched\))? ~(\d+) -(\d+))"
        R"((?: \((\d+) kept: changed on the handheld\))?)"
        R"(, desktop \+(\d+)(?: \((\d+) matched\))? ~(\d+) -(\d+))"
        R"((?: \((\d+) kept: changed on the desktop\))?)"
        R"((?:, conflicts (\d+))?(?:, not stored (\d+))?(?: \(held: ([^)]*)\))?(?:;|$))");
    std::smatch m;
    if (!std::regex_search(line, m, segment)) return report;
    auto number = [&m](int i) { return m[i].matched ? std::stoi(m[i]) : 0; };
    report.found = true;
    report.handheld = {number(1), number(3), number(4), number(2), number(5)};
    report.desktop = {number(6), number(8), number(9), number(7), number(10)};
    report.conflicts = number(11);
    report.notStored = number(12);
    report.newStore = line.find("Sync report: first sync of a new handheld store; ") == 0;
    std::string held = m[13].str();
    std::smatch h;
    if (std::regex_search(held, h, std::regex(R"(handheld -(\d+))")))
        report.heldHandheld = std::stoi(h[1]);
    if (std::regex_search(held, h, std::regex(R"(desktop -(\d+))")))
        report.heldDesktop = std::stoi(h[1]);
    return report;
}

std::string NormalDate(const std::string& text) {
    std::smatch m;
    static const std::regex handheld(R"(^(\d\d)\.(\d\d)\.(\d{4}) (\d\d):(\d\d)\.\d\d:\d+$)");
    static const std::regex desktop(R"(^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):\d\d(\.\d+)?Z$)");
    if (std::regex_match(text, m, handheld))
        return m[3].str() + "-" + m[2].str() + "-" + m[1].str() + " " + m[4].str() + ":" +
               m[5].str();
    if (std::regex_match(text, m, desktop))
        return m[1].str() + "-" + m[2].str() + "-" + m[3].str() + " " + m[4].str() + ":" +
               m[5].str();
    return text;
}

std::string ShownDetail(PimKind kind, const std::string& n) { return DetailText(kind, n); }

std::string ViewOf(PimKind kind, const std::vector<SideItem>& items) {
    std::vector<std::string> lines;
    for (const SideItem& item : items) lines.push_back(item.Line(kind));
    std::sort(lines.begin(), lines.end());
    std::string view;
    for (const std::string& line : lines) view += line + "\n";
    return view;
}

SyncSides::SyncSides() {
    if (Home().empty()) {
        error_ = "no temporary folder";
        return;
    }
    ProgramRun add =
        RunProgram("corvel", Home(), {"user", "add", "alice", "--password", "Secret", "--auto"});
    if (add.status != 0) {
        error_ = "corvel user add: " + add.out + add.err;
        return;
    }
    corvel_ = std::make_unique<BackgroundProgram>(
        "corvel", Home(),
        std::vector<std::string>{"--headless", "--port", "0", "--https-port", "0", "--trace-port",
                                 "0"});
    std::string port = corvel_->WaitFor("Web server listening on port ([0-9]+)\n");
    if (port.empty()) {
        error_ = "corvel did not start: " + corvel_->Out();
        return;
    }
    port_ = std::stoi(port);
    if (!ConfigureSkiff(port_))
        error_ = problems_.empty() ? "skiff config failed" : problems_.back();
}

SyncSides::~SyncSides() {
    if (corvel_) corvel_->Stop();
}

bool SyncSides::ConfigureSkiff(int port) {
    ProgramRun config = RunProgram("skiff", Home(),
                                   {"config", "--server", "127.0.0.1:" + std::to_string(port),
                                    "--user", "alice", "--password", "Secret"});
    return config.status == 0 || Fail("skiff config", config);
}

bool SyncSides::Fail(const std::string& what, const ProgramRun& run) {
    problems_.push_back(what + " (status " + std::to_string(run.status) +
                        "): " + Trimmed(run.out + run.err));
    return false;
}

bool SyncSides::HandheldAdd(PimKind kind, const std::string& title, const std::string& detail,
                            const std::map<std::string, std::string>& extra) {
    FieldNames names = NamesOf(kind);
    std::vector<std::string> args = {
        "pim", "add", InfoOf(kind).pimFolder, std::string(names.handheldTitle) + "=" + title,
        std::string(names.handheldDetail) + "=" + DetailText(kind, detail)};
    if (kind == PimKind::kAppointments) {
        args.insert(args.end(),
                    {std::string("Start=") + kStart, std::string("End=") + kEnd, "Duration=60"});
    }
    for (const auto& [name, value] : extra) {
        const ExtraField* field = ExtraFieldOf(kind, name);
        if (!field) return Fail("no field " + name + " for " + InfoOf(kind).name, {});
        args.push_back(HandheldExtra(*field, value));
    }
    ProgramRun run = RunProgram("skiff", Home(), args);
    return run.status == 0 || Fail("skiff pim add " + title, run);
}

std::optional<SideItem> SyncSides::FindOn(const std::vector<SideItem>& items, const char* side,
                                          PimKind kind, const std::string& title) {
    for (const SideItem& item : items) {
        if (item.title == title) return item;
    }
    problems_.push_back("no " + std::string(side) + " " + InfoOf(kind).name + " item " + title);
    return std::nullopt;
}

std::optional<SideItem> SyncSides::FindHandheld(PimKind kind, const std::string& title) {
    return FindOn(Handheld(kind), "handheld", kind, title);
}

bool SyncSides::HandheldSetDetail(PimKind kind, const std::string& title,
                                  const std::string& detail) {
    auto item = FindHandheld(kind, title);
    if (!item) return false;
    ProgramRun run =
        RunProgram("skiff", Home(),
                   {"pim", "set", item->key,
                    std::string(NamesOf(kind).handheldDetail) + "=" + DetailText(kind, detail)});
    return run.status == 0 || Fail("skiff pim set " + title, run);
}

bool SyncSides::HandheldSetExtra(PimKind kind, const std::string& title,
                                 const std::map<std::string, std::string>& extra) {
    auto item = FindHandheld(kind, title);
    if (!item) return false;
    std::vector<std::string> args = {"pim", "set", item->key};
    for (const auto& [name, value] : extra) {
        const ExtraField* field = ExtraFieldOf(kind, name);
        if (!field) return Fail("no field " + name + " for " + InfoOf(kind).name, {});
        args.push_back(HandheldExtra(*field, value));
    }
    ProgramRun run = RunProgram("skiff", Home(), args);
    return run.status == 0 || Fail("skiff pim set " + title, run);
}

bool SyncSides::HandheldNewStore() {
    std::error_code ec;
    std::filesystem::remove_all(Home() + "/PocketOutlook", ec);
    if (ec) return Fail("remove the PIM store: " + ec.message(), {});
    return true;
}

bool SyncSides::HandheldRename(PimKind kind, const std::string& title,
                               const std::string& newTitle) {
    auto item = FindHandheld(kind, title);
    if (!item) return false;
    ProgramRun run = RunProgram(
        "skiff", Home(),
        {"pim", "set", item->key, std::string(NamesOf(kind).handheldTitle) + "=" + newTitle});
    return run.status == 0 || Fail("skiff pim set " + title, run);
}

bool SyncSides::DeleteAllOn(const std::vector<SideItem>& items, const char* side, PimKind kind,
                            const std::vector<std::string>& titles,
                            bool (SyncSides::*remove)(const SideItem&, const std::string&)) {
    bool ok = true;
    for (const std::string& title : titles) {
        auto item = FindOn(items, side, kind, title);
        if (!item || !(this->*remove)(*item, title)) ok = false;
    }
    return ok;
}

bool SyncSides::RemoveHandheld(const SideItem& item, const std::string& title) {
    ProgramRun run = RunProgram("skiff", Home(), {"pim", "delete", item.key});
    return run.status == 0 || Fail("skiff pim delete " + title, run);
}

bool SyncSides::HandheldDelete(PimKind kind, const std::string& title) {
    auto item = FindHandheld(kind, title);
    return item && RemoveHandheld(*item, title);
}

bool SyncSides::HandheldDeleteAll(PimKind kind, const std::vector<std::string>& titles) {
    return DeleteAllOn(Handheld(kind), "handheld", kind, titles, &SyncSides::RemoveHandheld);
}

std::vector<SideItem> SyncSides::Handheld(PimKind kind) {
    std::vector<SideItem> items;
    ProgramRun run = RunProgram("skiff", Home(), {"pim", "list", InfoOf(kind).pimFolder, "--json"});
    std::string error;
    auto list = ParseJson(run.out, &error);
    if (run.status != 0 || !list || list->type != JsonValue::Type::kArray) {
        Fail("skiff pim list (" + error + ")", run);
        return items;
    }
    FieldNames names = NamesOf(kind);
    for (const JsonValue& entry : list->items) {
        const JsonValue* fields = entry.Find("fields");
        SideItem item;
        item.key = entry.Text("oid");
        if (fields) {
            item.title = fields->Text(names.handheldTitle);
            item.detail = fields->Text(names.handheldDetail);
            item.start = NormalDate(fields->Text("Start"));
            item.end = NormalDate(fields->Text("End"));
            for (const ExtraField& field : ExtraFieldsOf(kind))
                item.extra[field.name] = ShownExtra(field, fields->Text(field.handheld));
        }
        items.push_back(item);
    }
    return items;
}

bool SyncSides::DesktopAdd(PimKind kind, const std::string& title, const std::string& detail,
                           const std::map<std::string, std::string>& extra) {
    const PimKindInfo& info = InfoOf(kind);
    std::vector<std::string> args = {"add",
                                     info.storeFolder,
                                     "--class",
                                     info.messageClass,
                                     DesktopTitle(kind, title),
                                     DesktopDetail(kind, detail)};
    for (const auto& [name, value] : extra) {
        const ExtraField* field = ExtraFieldOf(kind, name);
        if (!field) return Fail("no field " + name + " for " + info.name, {});
        if (!value.empty()) args.push_back(DesktopExtra(*field, value));
    }
    if (kind == PimKind::kAppointments) {
        args.insert(args.end(), {"PSETID_Appointment:0x820D:PT_SYSTIME=2026-12-10T09:00:00Z",
                                 "PSETID_Appointment:0x820E:PT_SYSTIME=2026-12-10T10:00:00Z",
                                 "PSETID_Appointment:0x8213:PT_LONG=60"});
    }
    ProgramRun run = RunProgram("corvel-store", Home(), args);
    return run.status == 0 || Fail("corvel-store add " + title, run);
}

std::optional<SideItem> SyncSides::FindDesktop(PimKind kind, const std::string& title) {
    return FindOn(Desktop(kind), "desktop", kind, title);
}

bool SyncSides::DesktopSetDetail(PimKind kind, const std::string& title,
                                 const std::string& detail) {
    auto item = FindDesktop(kind, title);
    if (!item) return false;
    ProgramRun run =
        RunProgram("corvel-store", Home(), {"set", item->key, DesktopDetail(kind, detail)});
    return run.status == 0 || Fail("corvel-store set " + title, run);
}

bool SyncSides::DesktopSetExtra(PimKind kind, const std::string& title,
                                const std::map<std::string, std::string>& extra) {
    auto item = FindDesktop(kind, title);
    if (!item) return false;
    std::vector<std::string> set = {"set", item->key}, unset = {"unset", item->key};
    for (const auto& [name, value] : extra) {
        const ExtraField* field = ExtraFieldOf(kind, name);
        if (!field) return Fail("no field " + name + " for " + InfoOf(kind).name, {});
        if (value.empty()) {
            unset.push_back(field->desktop);
        } else {
            set.push_back(DesktopExtra(*field, value));
        }
    }
    for (const auto* args : {&set, &unset}) {
        if (args->size() == 2) continue;
        ProgramRun run = RunProgram("corvel-store", Home(), *args);
        if (run.status != 0) return Fail("corvel-store " + args->front() + " " + title, run);
    }
    return true;
}

bool SyncSides::DesktopRename(PimKind kind, const std::string& title, const std::string& newTitle) {
    auto item = FindDesktop(kind, title);
    if (!item) return false;
    ProgramRun run =
        RunProgram("corvel-store", Home(), {"set", item->key, DesktopTitle(kind, newTitle)});
    return run.status == 0 || Fail("corvel-store set " + title, run);
}

bool SyncSides::RemoveDesktop(const SideItem& item, const std::string& title) {
    ProgramRun run = RunProgram("corvel-store", Home(), {"delete", item.key});
    return run.status == 0 || Fail("corvel-store delete " + title, run);
}

bool SyncSides::DesktopDelete(PimKind kind, const std::string& title) {
    auto item = FindDesktop(kind, title);
    return item && RemoveDesktop(*item, title);
}

bool SyncSides::DesktopDeleteAll(PimKind kind, const std::vector<std::string>& titles) {
    return DeleteAllOn(Desktop(kind), "desktop", kind, titles, &SyncSides::RemoveDesktop);
}

std::vector<SideItem> SyncSides::Desktop(PimKind kind) {
    std::vector<SideItem> items;
    ProgramRun run =
        RunProgram("corvel-store", Home(), {"--json", "items", InfoOf(kind).storeFolder});
    auto list = ParseJson(run.out);
    if (run.status != 0 || !list || list->type != JsonValue::Type::kArray) {
        Fail("corvel-store items", run);
        return items;
    }
    if (list->items.empty()) return items;
    std::vector<std::string> show = {"--json", "show"};
    for (const JsonValue& entry : list->items) show.push_back(entry.Text("entryid"));
    ProgramRun shown = RunProgram("corvel-store", Home(), show);
    auto parsed = ParseJson(shown.out);
    if (shown.status != 0 || !parsed) {
        Fail("corvel-store show", shown);
        return items;
    }
    // One item is shown as an object, several as an array of them.
    std::vector<JsonValue> objects;
    if (parsed->type == JsonValue::Type::kArray)
        objects = parsed->items;
    else
        objects.push_back(*parsed);
    FieldNames names = NamesOf(kind);
    for (const JsonValue& object : objects) {
        SideItem item;
        item.key = object.Text("entryid");
        const JsonValue* properties = object.Find("properties");
        if (!properties) {
            Fail("corvel-store show " + item.key, shown);
            continue;
        }
        for (const JsonValue& p : properties->items) {
            std::string name = p.Text("name"), value = p.Text("value");
            if (name == names.desktopTitle) item.title = value;
            if (name == names.desktopDetail) item.detail = value;
            if (kind == PimKind::kAppointments && name == "PSETID_Appointment:0x820D")
                item.start = NormalDate(value);
            if (kind == PimKind::kAppointments && name == "PSETID_Appointment:0x820E")
                item.end = NormalDate(value);
            for (const ExtraField& field : ExtraFieldsOf(kind)) {
                if (name == field.desktop) item.extra[field.name] = ShownExtra(field, value);
            }
        }
        items.push_back(item);
    }
    return items;
}

std::string SyncSides::HandheldAddItem(PimKind kind,
                                       const std::map<std::string, std::string>& fields) {
    std::vector<std::string> args = {"pim", "add", InfoOf(kind).pimFolder};
    if (kind == PimKind::kAppointments) {
        args.insert(args.end(),
                    {std::string("Start=") + kStart, std::string("End=") + kEnd, "Duration=60"});
    }
    std::vector<std::string> assignments;
    if (!HandheldAssignments(kind, fields, assignments)) return "";
    args.insert(args.end(), assignments.begin(), assignments.end());
    ProgramRun run = RunProgram("skiff", Home(), args);
    if (run.status != 0) {
        Fail("skiff pim add", run);
        return "";
    }
    return Trimmed(run.out);
}

bool SyncSides::HandheldAssignments(PimKind kind, const std::map<std::string, std::string>& fields,
                                    std::vector<std::string>& assignments) {
    FieldNames names = NamesOf(kind);
    for (const auto& [name, value] : fields) {
        if (name == "title") {
            assignments.push_back(std::string(names.handheldTitle) + "=" + value);
        } else if (name == "detail") {
            assignments.push_back(std::string(names.handheldDetail) + "=" +
                                  DetailText(kind, value));
        } else if (const ExtraField* field = ExtraFieldOf(kind, name)) {
            assignments.push_back(HandheldExtra(*field, value));
        } else {
            return Fail("no field " + name + " for " + InfoOf(kind).name, {});
        }
    }
    return true;
}

bool SyncSides::HandheldSet(PimKind kind, const std::string& key,
                            const std::map<std::string, std::string>& fields) {
    std::vector<std::string> args = {"pim", "set", key};
    if (!HandheldAssignments(kind, fields, args)) return false;
    ProgramRun run = RunProgram("skiff", Home(), args);
    return run.status == 0 || Fail("skiff pim set " + key, run);
}

bool SyncSides::HandheldDeleteKey(const std::string& key) {
    ProgramRun run = RunProgram("skiff", Home(), {"pim", "delete", key});
    return run.status == 0 || Fail("skiff pim delete " + key, run);
}

bool SyncSides::DesktopAssignments(PimKind kind, const std::map<std::string, std::string>& fields,
                                   std::vector<std::string>& set, std::vector<std::string>& unset) {
    FieldNames names = NamesOf(kind);
    for (const auto& [name, value] : fields) {
        if (name == "title") {
            if (value.empty())
                unset.push_back(names.desktopTitle);
            else
                set.push_back(DesktopTitle(kind, value));
        } else if (name == "detail") {
            set.push_back(DesktopDetail(kind, value));
        } else if (const ExtraField* field = ExtraFieldOf(kind, name)) {
            if (value.empty())
                unset.push_back(field->desktop);
            else
                set.push_back(DesktopExtra(*field, value));
        } else {
            return Fail("no field " + name + " for " + InfoOf(kind).name, {});
        }
    }
    return true;
}

std::string SyncSides::DesktopAddItem(PimKind kind,
                                      const std::map<std::string, std::string>& fields) {
    const PimKindInfo& info = InfoOf(kind);
    std::vector<std::string> args = {"add", info.storeFolder, "--class", info.messageClass};
    std::vector<std::string> unset;
    if (!DesktopAssignments(kind, fields, args, unset)) return "";
    if (kind == PimKind::kAppointments) {
        args.insert(args.end(), {"PSETID_Appointment:0x820D:PT_SYSTIME=2026-12-10T09:00:00Z",
                                 "PSETID_Appointment:0x820E:PT_SYSTIME=2026-12-10T10:00:00Z",
                                 "PSETID_Appointment:0x8213:PT_LONG=60"});
    }
    ProgramRun run = RunProgram("corvel-store", Home(), args);
    if (run.status != 0) {
        Fail("corvel-store add", run);
        return "";
    }
    return Trimmed(run.out);
}

bool SyncSides::DesktopSet(PimKind kind, const std::string& key,
                           const std::map<std::string, std::string>& fields) {
    std::vector<std::string> set = {"set", key}, unset = {"unset", key};
    if (!DesktopAssignments(kind, fields, set, unset)) return false;
    for (const auto* args : {&set, &unset}) {
        if (args->size() == 2) continue;
        ProgramRun run = RunProgram("corvel-store", Home(), *args);
        if (run.status != 0) return Fail("corvel-store " + args->front() + " " + key, run);
    }
    return true;
}

bool SyncSides::DesktopDeleteKey(const std::string& key) {
    ProgramRun run = RunProgram("corvel-store", Home(), {"delete", key});
    return run.status == 0 || Fail("corvel-store delete " + key, run);
}

SyncOutcome SyncSides::Sync(const std::vector<std::string>& args,
                            const std::vector<std::string>& env, bool loseAnswer) {
    std::vector<std::string> all = {"sync", "--json"};
    all.insert(all.end(), args.begin(), args.end());
    SyncOutcome outcome;
    if (loseAnswer) {
        AnswerDroppingProxy proxy(port_);
        proxy.DropAnswers(1);
        if (proxy.Port() == 0 || !ConfigureSkiff(proxy.Port())) {
            problems_.push_back("no relay for the lost answer");
            return outcome;
        }
        outcome.run = RunProgram("skiff", Home(), all, env);
        if (proxy.Dropped() != 1)
            problems_.push_back("the relay dropped " + std::to_string(proxy.Dropped()) +
                                " answers");
        ConfigureSkiff(port_);
    } else {
        outcome.run = RunProgram("skiff", Home(), all, env);
    }
    outcome.result = FirstJsonLine(outcome.run.out);
    return outcome;
}

std::string SyncSides::ServerOutputTail(size_t bytes) {
    if (!corvel_) return "corvel not started";
    std::string out = corvel_->Out();
    if (out.size() > bytes) out = out.substr(out.size() - bytes);
    // A process that ended but was not reaped yet still counts as there.
    const bool gone = corvel_->Pid() <= 0 || ::kill(corvel_->Pid(), 0) != 0;
    return std::string(gone ? "corvel is gone; " : "") + "corvel's output ends:\n" + out;
}

std::string SyncSides::LastAnswerTrace() const {
    std::string trace = ReadWholeFile(Home() + "/Norvex/Corvel/wbxml.log");
    size_t at = trace.rfind("****************** Answer");
    return at == std::string::npos ? "" : trace.substr(at);
}

MatrixReport SyncOutcome::Report(PimKind kind) const {
    // The JSON result carries the report line; without one the log is read.
    std::string line = result ? result->Text("reportLine") : "";
    return ParseSyncReport(line.empty() ? run.err : line, InfoOf(kind).reportName);
}
