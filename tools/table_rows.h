// Every row of a MAPI table with the given columns, read at once and freed with
// the object; typed reads of a cell give a default when the cell holds another type
// (a missing property comes back as PT_ERROR).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_arrays.h"

class TableRows {
public:
    // Throws ToolError when the table cannot be read.
    TableRows(IMAPITable* table, const std::vector<ULONG>& columns);

    ULONG Count() const { return rows_.Count(); }
    const SPropValue& At(ULONG row, size_t column) const { return rows_[row].lpProps[column]; }
    // PT_STRING8 text, else "".
    std::string Text(ULONG row, size_t column) const;
    // PT_LONG, else fallback.
    LONG Long(ULONG row, size_t column, LONG fallback = 0) const;
    // PT_BOOLEAN, else false.
    bool Bool(ULONG row, size_t column) const;
    // PT_BINARY bytes, else "".
    std::string Binary(ULONG row, size_t column) const;
    // PT_SYSTIME as 100 ns ticks since 1601, else 0.
    std::uint64_t FileTime(ULONG row, size_t column) const;

private:
    CRowSet rows_;
};
