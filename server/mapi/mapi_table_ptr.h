// IMAPITablePtr: a table of the store (contents, hierarchy, attachments,
// recipients, message stores) behind one reference. Every failed call raises a
// CMAPIException naming the operation ("IMAPITablePtr::QueryRows") and carrying the
// table for extended error details.
//
// Not shared between threads; each request builds its own from its session.
#pragma once

#include <vector>

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_ref.h"

class IMAPITablePtr {
public:
    IMAPITablePtr() = default;
    explicit IMAPITablePtr(CMapiRef<IMAPITable> table) : table_(std::move(table)) {}

    IMAPITable* Get() const { return table_.Get(); }
    explicit operator bool() const { return static_cast<bool>(table_); }
    void Reset() { table_.Reset(); }

    // The columns later QueryRows calls return, in this order.
    void SetColumns(const CPropTagArray& columns, ULONG flags = 0);
    // Up to count rows from the cursor (backwards when negative); an empty set at
    // the end.
    CRowSet QueryRows(LONG count, ULONG flags = 0);
    // Every row from the start with these columns, without restriction or sort
    // order beyond what the table already has (HrQueryAllRows).
    CRowSet QueryAllRows(const CPropTagArray& columns);
    // Keeps only the rows that match (null: all rows) and rewinds the cursor.
    void Restrict(const SRestriction* restriction, ULONG flags = 0);
    // Moves the cursor to the first matching row from origin: true when one was
    // found, false (cursor unchanged) when none matches; other failures raise.
    bool FindRow(const SRestriction* restriction, BOOKMARK origin = BOOKMARK_BEGINNING,
                 ULONG flags = 0);
    ULONG GetRowCount();
    // Moves the cursor; returns the rows actually moved.
    LONG SeekRow(BOOKMARK origin, LONG count);

private:
    IMAPITable* Checked(const char* place) const;

    CMapiRef<IMAPITable> table_;
};
