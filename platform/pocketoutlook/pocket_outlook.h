// The handheld's PIM store, shaped like the Pocket Outlook object model: an
// application that logs on, default folders (contacts 10, tasks 13, calendar 9),
// item collections (count, 1-based item, new item), items by object identifier,
// named properties with OLE dates, save and delete.
//
// Storage: one SQLite file, $XDG_DATA_HOME/PocketOutlook/pim.db (default
// ~/.local/share). Object identifiers are stable positive integers, never reused.
// Changes to an item are invisible to others until Save.
//
// Ownership: the application, its folders, collections and items share one database
// connection (shared_ptr); any of them may outlive the others.
// Thread-safety: an application and everything taken from it belong to one thread at
// a time; other threads and processes open applications of their own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pocketoutlook/ole_date.h"
#include "platform/pocketoutlook/pim_database.h"
#include "platform/pocketoutlook/pim_properties.h"
#include "platform/pocketoutlook/pim_recurrence.h"

class PimItem;
class PimFolder;

// Path of the store file for the current environment.
std::string PocketOutlookStorePath();

class PocketOutlookApplication {
public:
    PocketOutlookApplication() = default;
    // Opens the store (creating folder and file when missing). True on success; false
    // with error() describing why (the other calls then answer null).
    bool Logon();
    void Logoff() { db_.reset(); }
    bool IsLoggedOn() const { return db_ != nullptr; }
    // The identity the store was created with: 16 upper-case hexadecimal digits,
    // different for every store file ever made; empty when not logged on.
    std::string StoreIdentity() const { return db_ ? db_->Identity() : std::string(); }
    const std::string& error() const { return error_; }

    // The default folder of that number; null when not logged on or for another number.
    std::unique_ptr<PimFolder> GetDefaultFolder(int folder);
    // The item with that identifier in any folder; null when there is none.
    std::unique_ptr<PimItem> GetItemFromOid(long oid);

private:
    friend class PimWriteBatch;
    std::shared_ptr<PimDatabase> db_;
    std::string error_;
};

// The items of one folder as they were when the collection was taken (or last
// refreshed); items added through Add and saved appear after Refresh.
class PimItems {
public:
    int Count() const { return static_cast<int>(oids_.size()); }
    // Item at a 1-based position; null outside 1..Count or when it was deleted since.
    std::unique_ptr<PimItem> Item(int position);
    // Object identifier at a 1-based position; 0 outside the range.
    long OidAt(int position) const;
    // A new, unsaved item of the folder's kind (identifier 0 until saved).
    std::unique_ptr<PimItem> Add();
    void Refresh();

private:
    friend class PimFolder;
    PimItems(std::shared_ptr<PimDatabase> db, int folder);
    std::shared_ptr<PimDatabase> db_;
    int folder_;
    std::vector<long> oids_;
};

class PimFolder {
public:
    int DefaultFolder() const { return folder_; }
    PimItems Items() const { return PimItems(db_, folder_); }

private:
    friend class PocketOutlookApplication;
    PimFolder(std::shared_ptr<PimDatabase> db, int folder) : db_(std::move(db)), folder_(folder) {}
    std::shared_ptr<PimDatabase> db_;
    int folder_;
};

class PimItem {
public:
    long Oid() const { return oid_; }
    int DefaultFolder() const { return folder_; }

    // Property reads; an unknown name, another type or an unset value gives the default
    // (empty text, 0, false, the property's default date).
    std::string GetText(std::string_view name) const;
    long GetLong(std::string_view name) const;
    bool GetBool(std::string_view name) const;
    double GetDate(std::string_view name) const;
    // Property writes in memory; false for an unknown name or a property of another type.
    // An empty text removes the property.
    bool SetText(std::string_view name, std::string_view value);
    bool SetLong(std::string_view name, long value);
    bool SetBool(std::string_view name, bool value);
    bool SetDate(std::string_view name, double value);

    // Calendar items (pim_recurrence.h): the recurrence, read from the store when
    // first asked for; null for a single appointment (and for other items).
    const PimRecurrence* GetRecurrence() const;
    // Makes the item recurring (the recurrence completed by CompleteRecurrence, its
    // exceptions aligned with the item's Start and End by AlignExceptions) and
    // sets IsRecurring; false, with the reason in why when given, when the item is
    // no appointment or the recurrence cannot be stored (RecurrenceProblem); the
    // item is then unchanged. Written by Save, like the properties.
    bool SetRecurrence(PimRecurrence recurrence, std::string* why = nullptr);
    // Makes the item a single appointment (IsRecurring cleared).
    void ClearRecurrence();
    // Start, End, Subject and the other fields an occurrence repeats.
    PimAppointmentFields AppointmentFields() const;
    // The occurrences of a calendar item whose start lies in [from, to]: a single
    // appointment's own when its Start does (ExpandOccurrences).
    std::vector<PimOccurrence> Occurrences(double from, double to) const;

    // Writes the item in one transaction; a new item gets its identifier. False when
    // the store refused (nothing written; an item deleted meanwhile stays deleted).
    bool Save();
    // Deletes the stored item. False when it was never saved or is gone already.
    bool Delete();

private:
    friend class PimItems;
    friend class PocketOutlookApplication;
    PimItem(std::shared_ptr<PimDatabase> db, int folder, long oid, PimValues values)
        : db_(std::move(db)), folder_(folder), oid_(oid), values_(std::move(values)) {}
    const PimValue* Find(std::string_view name, PimType type) const;
    bool Put(std::string_view name, PimType type, PimValue value);

    std::shared_ptr<PimDatabase> db_;
    int folder_;
    long oid_;
    PimValues values_;
    // The recurrence as last read or set; read lazily for a stored item.
    mutable std::optional<PimRecurrence> recurrence_;
    mutable bool recurrenceRead_ = false;
    bool recurrenceChanged_ = false;
};
