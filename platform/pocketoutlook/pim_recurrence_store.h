// The recurrence tables of the PIM store file (internal to platform/pocketoutlook).
//
// Schema, added to a store file of any earlier version when it is opened (the
// tables are created when missing; nothing else changes):
//   recurrence(oid PRIMARY KEY, type, interval, day_mask, instance, day_of_month,
//              month_of_year, pattern_start REAL, end_kind (0 none, 1 count,
//              2 date), occurrences, pattern_end REAL)
//   exceptions(oid, original REAL, deleted, start_time REAL, end_time REAL,
//              subject, location, reminder_set, reminder_minutes, busy_status,
//              all_day; PRIMARY KEY(oid, original)); a NULL field is not changed.
// An item without a row in recurrence is a single appointment.
//
// The store runs inside the caller's transaction (or none) on the caller's
// connection; one thread at a time. Its statements are prepared on first use and
// kept until it is destroyed (before the connection is closed); each is reset
// after use, so none holds a read lock between calls.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <optional>

#include "platform/pocketoutlook/pim_recurrence.h"

// Creates the tables when missing. False on an SQLite error.
bool CreateRecurrenceTables(sqlite3* db);

class PimRecurrenceStore {
public:
    explicit PimRecurrenceStore(sqlite3* db) : db_(db) {}

    // The item's recurrence; nothing for a single appointment. Throws
    // std::runtime_error on an SQLite error.
    std::optional<PimRecurrence> Load(long oid);
    // Replaces the item's recurrence (nothing: removes it). False on an SQLite error.
    bool Save(long oid, const std::optional<PimRecurrence>& recurrence);

private:
    struct Finalize {
        void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
    };
    using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;
    // The kept statement of slot, prepared from sql when it is not yet; null when it
    // does not prepare.
    sqlite3_stmt* Kept(Statement& slot, const char* sql);
    bool RunForItem(Statement& slot, const char* sql, long oid);

    sqlite3* db_;
    Statement pattern_, exceptions_, deletePattern_, deleteExceptions_, insertPattern_,
        insertException_;
};
