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

bool IsNull(sqlite3_stmt* s, int column) { return sqlite3_column_type(s, column) == SQLITE_NULL; }

std::string Text(sqlite3_stmt* s, int column) {
    const unsigned char* text = sqlite3_column_text(s, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(s, column)))
                : std::string();
}

// Fields to statement parameters and row columns by their type: integers (a bool as
// 0 or 1) as INTEGER, dates as REAL, text as TEXT, an empty optional as NULL.
template <typename T>
requires std::is_integral_v<T>
void Bind(sqlite3_stmt* s, int index, T value) {
    sqlite3_bind_int64(s, index, static_cast<sqlite3_int64>(value));
}
void Bind(sqlite3_stmt* s, int index, double value) { sqlite3_bind_double(s, index, value); }
void Bind(sqlite3_stmt* s, int index, const std::string& value) {
    sqlite3_bind_text(s, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}
template <typename T>
void Bind(sqlite3_stmt* s, int index, const std::optional<T>& value) {
    if (value)
        Bind(s, index, *value);
    else
        sqlite3_bind_null(s, index);
}

void Read(sqlite3_stmt* s, int column, int& value) { value = sqlite3_column_int(s, column); }
void Read(sqlite3_stmt* s, int column, long& value) {
    value = static_cast<long>(sqlite3_column_int64(s, column));
}
void Read(sqlite3_stmt* s, int column, bool& value) { value = sqlite3_column_int(s, column) != 0; }
void Read(sqlite3_stmt* s, int column, double& value) { value = sqlite3_column_double(s, column); }
void Read(sqlite3_stmt* s, int column, std::string& value) { value = Text(s, column); }
template <typename T>
void Read(sqlite3_stmt* s, int column, std::optional<T>& value) {
    value.reset();
    if (IsNull(s, column)) return;
    Read(s, column, value.emplace());
}

// Binds the values to parameters 1, 2, ... in order; reads columns 0, 1, ... into
// the fields in order.
template <typename... Values>
void BindAll(sqlite3_stmt* s, const Values&... values) {
    int index = 0;
    (Bind(s, ++index, values), ...);
}
template <typename... Fields>
void ReadAll(sqlite3_stmt* s, Fields&... fields) {
    int column = 0;
    (Read(s, column++, fields), ...);
}

// The end of a series as the file numbers it (0, 1, 2); an unknown number is none.
constexpr PimRecurrenceEnd kEndOfNumber[] = {
    PimRecurrenceEnd::kNoEndDate, PimRecurrenceEnd::kAfterCount, PimRecurrenceEnd::kByDate};
int NumberOfEnd(PimRecurrenceEnd end) {
    for (int n = 0; n < 3; ++n)
        if (kEndOfNumber[n] == end) return n;
    return 0;
}
PimRecurrenceEnd EndOfNumber(int number) {
    return number >= 0 && number < 3 ? kEndOfNumber[number] : PimRecurrenceEnd::kNoEndDate;
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
        int end = 0;
        ReadAll(s, p.recurrenceType, p.interval, p.dayOfWeekMask, p.instance, p.dayOfMonth,
                p.monthOfYear, p.patternStartDate, end, p.occurrences, p.patternEndDate);
        p.end = EndOfNumber(end);
    }

    sqlite3_stmt* e = Kept(exceptions_,
                           "SELECT original, deleted, start_time, end_time, subject, location,"
                           " reminder_set, reminder_minutes, busy_status, all_day FROM exceptions"
                           " WHERE oid=? ORDER BY original");
    if (e == nullptr) throw std::runtime_error(std::string("PIM store: ") + sqlite3_errmsg(db_));
    ResetWhenDone done{e};
    sqlite3_bind_int64(e, 1, oid);
    while (sqlite3_step(e) == SQLITE_ROW) {
        PimException x;
        ReadAll(e, x.originalDate, x.deleted, x.start, x.end, x.subject, x.location, x.reminderSet,
                x.reminderMinutesBeforeStart, x.busyStatus, x.allDayEvent);
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
        BindAll(s, oid, p.recurrenceType, p.interval, p.dayOfWeekMask, p.instance, p.dayOfMonth,
                p.monthOfYear, p.patternStartDate, NumberOfEnd(p.end), p.occurrences,
                p.patternEndDate);
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
        BindAll(row, oid, x.originalDate, x.deleted, x.start, x.end, x.subject, x.location,
                x.reminderSet, x.reminderMinutesBeforeStart, x.busyStatus, x.allDayEvent);
        if (sqlite3_step(row) != SQLITE_DONE) return false;
    }
    return true;
}
