// Raw SQLite for the benchmarks that set a hand-written program beside the store
// engine. RawConnection: a connection, closed with the object. RawStatement: a
// statement prepared on one, finalized with the object (so it has to go before its
// connection does). Both convert to the handle the sqlite3_* calls take. A
// benchmark has no one to report a broken set-up to: a statement that does not
// prepare aborts.
// Used by one thread (the benchmark's).
#pragma once

#include <sqlite3.h>

#include <cstdlib>
#include <string>

class RawConnection {
public:
    explicit RawConnection(const std::string& path)
        : open_(sqlite3_open(path.c_str(), &db_) == SQLITE_OK) {}
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    ~RawConnection() { sqlite3_close(db_); }

    bool IsOpen() const { return open_; }
    operator sqlite3*() const { return db_; }

private:
    sqlite3* db_ = nullptr;
    bool open_;
};

class RawStatement {
public:
    RawStatement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) std::abort();
    }
    RawStatement(const RawStatement&) = delete;
    RawStatement& operator=(const RawStatement&) = delete;
    ~RawStatement() { sqlite3_finalize(statement_); }

    operator sqlite3_stmt*() const { return statement_; }

private:
    sqlite3_stmt* statement_ = nullptr;
};
