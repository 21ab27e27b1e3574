// The PIM object model over PimDatabase.
#include "platform/pocketoutlook/pocket_outlook.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "common/base/user_folder.h"

std::string PocketOutlookStorePath() {
    return UserFolder("XDG_DATA_HOME", ".local/share") + "/PocketOutlook/pim.db";
}

bool PocketOutlookApplication::Logon() {
    if (db_) return true;
    std::string path = PocketOutlookStorePath();
    std::error_code ec;
    // The handheld's own data: owner-only folder and file.
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (std::filesystem::create_directories(folder, ec)) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    }
    try {
        db_ = std::make_shared<PimDatabase>(path);
        std::filesystem::permissions(
            path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
        error_.clear();
        return true;
    } catch (const std::exception& e) {
        error_ = e.what();
        return false;
    }
}

std::unique_ptr<PimFolder> PocketOutlookApplication::GetDefaultFolder(int folder) {
    if (!db_ || PimProperties(folder).empty()) return nullptr;
    return std::unique_ptr<PimFolder>(new PimFolder(db_, folder));
}

std::unique_ptr<PimItem> PocketOutlookApplication::GetItemFromOid(long oid) {
    if (!db_ || oid <= 0) return nullptr;
    int folder = db_->FolderOf(oid);
    if (folder == 0) return nullptr;
    return std::unique_ptr<PimItem>(new PimItem(db_, folder, oid, db_->Load(oid)));
}

PimItems::PimItems(std::shared_ptr<PimDatabase> db, int folder)
    : db_(std::move(db)), folder_(folder), oids_(db_->ListFolder(folder_)) {}

void PimItems::Refresh() { oids_ = db_->ListFolder(folder_); }

long PimItems::OidAt(int position) const {
    if (position < 1 || position > Count()) return 0;
    return oids_[static_cast<size_t>(position - 1)];
}

std::unique_ptr<PimItem> PimItems::Item(int position) {
    long oid = OidAt(position);
    if (oid == 0 || db_->FolderOf(oid) != folder_) return nullptr;
    return std::unique_ptr<PimItem>(new PimItem(db_, folder_, oid, db_->Load(oid)));
}

std::unique_ptr<PimItem> PimItems::Add() {
    return std::unique_ptr<PimItem>(new PimItem(db_, folder_, 0, {}));
}

const PimValue* PimItem::Find(std::string_view name, PimType type) const {
    const PimPropertyDef* def = FindPimProperty(folder_, name);
    if (!def || def->type != type) return nullptr;
    auto it = values_.find(def->name);
    return it == values_.end() ? nullptr : &it->second;
}

bool PimItem::Put(std::string_view name, PimType type, PimValue value) {
    const PimPropertyDef* def = FindPimProperty(folder_, name);
    if (!def || def->type != type) return false;
    if (const auto* text = std::get_if<std::string>(&value); text && text->empty()) {
        values_.erase(def->name);
    } else {
        values_[def->name] = std::move(value);
    }
    return true;
}

std::string PimItem::GetText(std::string_view name) const {
    const PimValue* v = Find(name, PimType::Text);
    const auto* text = v ? std::get_if<std::string>(v) : nullptr;
    return text ? *text : std::string();
}

long PimItem::GetLong(std::string_view name) const {
    const PimValue* v = Find(name, PimType::Long);
    const auto* n = v ? std::get_if<long long>(v) : nullptr;
    return n ? static_cast<long>(*n) : 0;
}

bool PimItem::GetBool(std::string_view name) const {
    const PimValue* v = Find(name, PimType::Bool);
    const auto* n = v ? std::get_if<long long>(v) : nullptr;
    return n && *n != 0;
}

double PimItem::GetDate(std::string_view name) const {
    const PimValue* v = Find(name, PimType::Date);
    if (v) {
        if (const auto* d = std::get_if<double>(v)) return *d;
        if (const auto* n = std::get_if<long long>(v)) return static_cast<double>(*n);
    }
    const PimPropertyDef* def = FindPimProperty(folder_, name);
    return def ? PimDefaultDate(folder_, def->name) : 0.0;
}

bool PimItem::SetText(std::string_view name, std::string_view value) {
    return Put(name, PimType::Text, std::string(value));
}

bool PimItem::SetLong(std::string_view name, long value) {
    return Put(name, PimType::Long, static_cast<long long>(value));
}

bool PimItem::SetBool(std::string_view name, bool value) {
    return Put(name, PimType::Bool, static_cast<long long>(value ? 1 : 0));
}

bool PimItem::SetDate(std::string_view name, double value) {
    return Put(name, PimType::Date, value);
}

const PimRecurrence* PimItem::GetRecurrence() const {
    if (folder_ != olFolderCalendar) return nullptr;
    if (!recurrenceRead_) {
        recurrenceRead_ = true;
        if (oid_ != 0) recurrence_ = db_->LoadRecurrence(oid_);
    }
    return recurrence_ ? &*recurrence_ : nullptr;
}

bool PimItem::SetRecurrence(PimRecurrence recurrence, std::string* why) {
    std::optional<std::string> problem;
    if (folder_ != olFolderCalendar) problem = "only appointments recur";
    if (!problem) problem = RecurrenceProblem(recurrence);
    if (problem) {
        if (why) *why = *problem;
        return false;
    }
    CompleteRecurrence(recurrence);
    AlignExceptions(recurrence, AppointmentFields());
    recurrence_ = std::move(recurrence);
    recurrenceRead_ = true;
    recurrenceChanged_ = true;
    SetBool("IsRecurring", true);
    return true;
}

void PimItem::ClearRecurrence() {
    if (folder_ != olFolderCalendar) return;
    if (GetRecurrence() == nullptr && !GetBool("IsRecurring")) return;
    recurrence_.reset();
    recurrenceRead_ = true;
    recurrenceChanged_ = true;
    values_.erase("IsRecurring");
}

PimAppointmentFields PimItem::AppointmentFields() const {
    PimAppointmentFields f;
    f.start = GetDate("Start");
    f.end = GetDate("End");
    f.subject = GetText("Subject");
    f.location = GetText("Location");
    f.allDayEvent = GetBool("AllDayEvent");
    f.busyStatus = GetLong("BusyStatus");
    f.reminderSet = GetBool("ReminderSet");
    f.reminderMinutesBeforeStart = GetLong("ReminderMinutesBeforeStart");
    return f;
}

std::vector<PimOccurrence> PimItem::Occurrences(double from, double to) const {
    if (folder_ != olFolderCalendar) return {};
    PimAppointmentFields fields = AppointmentFields();
    if (const PimRecurrence* recurrence = GetRecurrence())
        return ExpandOccurrences(fields, *recurrence, from, to);
    if (!(fields.start >= from && fields.start <= to)) return {};
    PimOccurrence single;
    single.originalDate = fields.start;
    single.fields = fields;
    return {single};
}

bool PimItem::Save() {
    long oid = db_->Save(oid_, folder_, values_, recurrenceChanged_ ? &recurrence_ : nullptr);
    if (oid == 0) return false;
    oid_ = oid;
    recurrenceChanged_ = false;
    return true;
}

bool PimItem::Delete() {
    if (oid_ == 0 || !db_->Delete(oid_)) return false;
    return true;
}
