// Recurrence rows of the PIM store file.
#include "platform/pocketoutlook/pim_recurrence_store.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace {

// Resets a kept statement when the scope ends, so it never holds a read lock.
struct ResetWhenDone {
    sqlite3_stmt* s;
    ~ResetWhenDone() {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

template <typename T>
void BindOptional(sqlite3_stmt* s, int index, const std::optional<T>& value) {
    if (!value) {
        sqlite3_bind_null(s, index);
    } else if constexpr (std::is_same_v<T, double>) {
        sqlite3_bind_double(s, index, *value);
    } else if constexpr (std::is_same_v<T, std::string>) {
        sqlite3_bind_text(s, index, value->data(), static_cast<int>(value->size()),
                          SQLITE_TRANSIENT);
    } else {
        sqlite3_bind_int64(s, index, static_cast<sqlite3_int64>(*value));
    }
}

bool IsNull(sqlite3_stmt* s, int column) { return sqlite3_column_type(s, column) == SQLITE_NULL; }

std::string Text(sqlite3_stmt* s, int column) {
    const unsigned char* text = sqlite3_column_text(s, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(s, column)))
                : std::string();
}

}  // namespace

bool CreateRecurrenceTables(sqlite3* db) {
    const char* sql =
        "CREATE TABLE IF NOT EXISTS recurrence(oid INTEGER PRIMARY KEY, type INTEGER NOT NULL,"
        " interval INTEGER NOT NULL, day_mask INTEGER NOT NULL, instance INTEGER NOT NULL,"
        " day_of_month INTEGER NOT NULL, month_of_year INTEGER NOT NULL,"
        " pattern_start REAL NOT NULL, end_kind INTEGER NOT NULL, occurrences INTEGER NOT NULL,"
        " pattern_end REAL NOT NULL);"
        "CREATE TABLE IF NOT EXISTS exceptions(oid INTEGER NOT NULL, original REAL NOT NULL,"
        " deleted INTEGER NOT NULL, start_time REAL, end_time REAL, subject TEXT, location TEXT,"
        " reminder_set INTEGER, reminder_minutes INTEGER, busy_status INTEGER, all_day INTEGER,"
        " PRIMARY KEY(oid, original)) WITHOUT ROWID";
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3_stmt* PimRecurrenceStore::Kept(Statement& slot, const char* sql) {
    if (!slot) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
            sqlite3_finalize(s);
            return nullptr;
        }
        slot.reset(s);
    }
    return slot.get();
}

bool PimRecurrenceStore::RunForItem(Statement& slot, const char* sql, long oid) {
    sqlite3_stmt* s = Kept(slot, sql);
    if (s == nullptr) return false;
    ResetWhenDone done{s};
    sqlite3_bind_int64(s, 1, oid);
    return sqlite3_step(s) == SQLITE_DONE;
}

std::optional<PimRecurrence> PimRecurrenceStore::Load(long oid) {
    sqlite3_stmt* s = Kept(pattern_,
                           "SELECT type, interval, day_mask, instance, day_of_month, month_of_year,"
                           " pattern_start, end_kind, occurrences, pattern_end FROM recurrence"
                           " WHERE oid=?");
    if (s == nullptr) throw std::runtime_error(std::string("PIM store: ") + sqlite3_errmsg(db_));
    PimRecurrence r;
    {
        ResetWhenDone done{s};
        sqlite3_bind_int64(s, 1, oid);
        if (sqlite3_step(s) != SQLITE_ROW) return std::nullopt;
        PimRecurrencePattern& p = r.pattern;
        p.recurrenceType = sqlite3_column_int(s, 0);
        p.interval = sqlite3_column_int(s, 1);
        p.dayOfWeekMask = sqlite3_column_int(s, 2);
        p.instance = sqlite3_column_int(s, 3);
        p.dayOfMonth = sqlite3_column_int(s, 4);
        p.monthOfYear = sqlite3_column_int(s, 5);
        p.patternStartDate = sqlite3_column_double(s, 6);
        int end = sqlite3_column_int(s, 7);
        p.end = end == 1   ? PimRecurrenceEnd::kAfterCount
                : end == 2 ? PimRecurrenceEnd::kByDate
                           : PimRecurrenceEnd::kNoEndDate;
        p.occurrences = sqlite3_column_int(s, 8);
        p.patternEndDate = sqlite3_column_double(s, 9);
    }

    sqlite3_stmt* e = Kept(exceptions_,
                           "SELECT original, deleted, start_time, end_time, subject, location,"
                           " reminder_set, reminder_minutes, busy_status, all_day FROM exceptions"
                           " WHERE oid=? ORDER BY original");
    if (e == nullptr) throw std::runtime_error(std::string("PIM store: ") + sqlite3_errmsg(db_));
    ResetWhenDone done{e};
    sqlite3_bind_int64(e, 1, oid);
    while (sqlite3_step(e) == SQLITE_ROW) {
        sqlite3_stmt* row = e;
        PimException x;
        x.originalDate = sqlite3_column_double(row, 0);
        x.deleted = sqlite3_column_int(row, 1) != 0;
        if (!IsNull(row, 2)) x.start = sqlite3_column_double(row, 2);
        if (!IsNull(row, 3)) x.end = sqlite3_column_double(row, 3);
        if (!IsNull(row, 4)) x.subject = Text(row, 4);
        if (!IsNull(row, 5)) x.location = Text(row, 5);
        if (!IsNull(row, 6)) x.reminderSet = sqlite3_column_int(row, 6) != 0;
        if (!IsNull(row, 7)) x.reminderMinutesBeforeStart = sqlite3_column_int64(row, 7);
        if (!IsNull(row, 8)) x.busyStatus = sqlite3_column_int64(row, 8);
        if (!IsNull(row, 9)) x.allDayEvent = sqlite3_column_int(row, 9) != 0;
        r.exceptions.push_back(std::move(x));
    }
    return r;
}

bool PimRecurrenceStore::Save(long oid, const std::optional<PimRecurrence>& recurrence) {
    if (!RunForItem(deleteExceptions_, "DELETE FROM exceptions WHERE oid=?", oid) ||
        !RunForItem(deletePattern_, "DELETE FROM recurrence WHERE oid=?", oid))
        return false;
    if (!recurrence) return true;
    const PimRecurrencePattern& p = recurrence->pattern;
    sqlite3_stmt* s = Kept(insertPattern_,
                           "INSERT INTO recurrence(oid, type, interval, day_mask, instance,"
                           " day_of_month, month_of_year, pattern_start, end_kind, occurrences,"
                           " pattern_end) VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    if (s == nullptr) return false;
    {
        ResetWhenDone done{s};
        sqlite3_bind_int64(s, 1, oid);
        sqlite3_bind_int(s, 2, p.recurrenceType);
        sqlite3_bind_int(s, 3, p.interval);
        sqlite3_bind_int(s, 4, p.dayOfWeekMask);
        sqlite3_bind_int(s, 5, p.instance);
        sqlite3_bind_int(s, 6, p.dayOfMonth);
        sqlite3_bind_int(s, 7, p.monthOfYear);
        sqlite3_bind_double(s, 8, p.patternStartDate);
        sqlite3_bind_int(s, 9,
                         p.end == PimRecurrenceEnd::kAfterCount ? 1
                         : p.end == PimRecurrenceEnd::kByDate   ? 2
                                                                : 0);
        sqlite3_bind_int(s, 10, p.occurrences);
        sqlite3_bind_double(s, 11, p.patternEndDate);
        if (sqlite3_step(s) != SQLITE_DONE) return false;
    }
    sqlite3_stmt* e = Kept(insertException_,
                           "INSERT INTO exceptions(oid, original, deleted, start_time, end_time,"
                           " subject, location, reminder_set, reminder_minutes, busy_status,"
                           " all_day) VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    if (e == nullptr) return false;
    ResetWhenDone done{e};
    for (const PimException& x : recurrence->exceptions) {
        sqlite3_stmt* row = e;
        sqlite3_reset(row);
        sqlite3_clear_bindings(row);
        sqlite3_bind_int64(row, 1, oid);
        sqlite3_bind_double(row, 2, x.originalDate);
        sqlite3_bind_int(row, 3, x.deleted ? 1 : 0);
        BindOptional(row, 4, x.start);
        BindOptional(row, 5, x.end);
        BindOptional(row, 6, x.subject);
        BindOptional(row, 7, x.location);
        BindOptional(row, 8, x.reminderSet);
        BindOptional(row, 9, x.reminderMinutesBeforeStart);
        BindOptional(row, 10, x.busyStatus);
        BindOptional(row, 11, x.allDayEvent);
        if (sqlite3_step(row) != SQLITE_DONE) return false;
    }
    return true;
}
