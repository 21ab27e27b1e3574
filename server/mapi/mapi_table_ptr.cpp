// IMAPITablePtr operations.
#include "server/mapi/mapi_table_ptr.h"

#include "server/mapi/mapi_exception.h"

IMAPITable* IMAPITablePtr::Checked(const char* place) const {
    if (!table_) throw CMAPIException(MAPI_E_INVALID_OBJECT, place);
    return table_.Get();
}

void IMAPITablePtr::SetColumns(const CPropTagArray& columns, ULONG flags) {
    constexpr const char* kPlace = "IMAPITablePtr::SetColumns";
    IMAPITable* table = Checked(kPlace);
    MapiCheck(table->SetColumns(columns.Get(), flags), kPlace, table);
}

CRowSet IMAPITablePtr::QueryRows(LONG count, ULONG flags) {
    constexpr const char* kPlace = "IMAPITablePtr::QueryRows";
    IMAPITable* table = Checked(kPlace);
    LPSRowSet rows = nullptr;
    HRESULT hr = table->QueryRows(count, flags, &rows);
    CRowSet result(rows);
    MapiCheck(hr, kPlace, table);
    return result;
}

CRowSet IMAPITablePtr::QueryAllRows(const CPropTagArray& columns) {
    constexpr const char* kPlace = "IMAPITablePtr::QueryAllRows";
    IMAPITable* table = Checked(kPlace);
    CRowSet rows;
    MapiCheck(TryQueryAllRows(table, columns, rows), kPlace, table);
    return rows;
}

void IMAPITablePtr::Restrict(const SRestriction* restriction, ULONG flags) {
    constexpr const char* kPlace = "IMAPITablePtr::Restrict";
    IMAPITable* table = Checked(kPlace);
    MapiCheck(table->Restrict(const_cast<LPSRestriction>(restriction), flags), kPlace, table);
}

bool IMAPITablePtr::FindRow(const SRestriction* restriction, BOOKMARK origin, ULONG flags) {
    constexpr const char* kPlace = "IMAPITablePtr::FindRow";
    IMAPITable* table = Checked(kPlace);
    HRESULT hr = table->FindRow(const_cast<LPSRestriction>(restriction), origin, flags);
    if (hr == MAPI_E_NOT_FOUND) return false;
    MapiCheck(hr, kPlace, table);
    return true;
}

ULONG IMAPITablePtr::GetRowCount() {
    constexpr const char* kPlace = "IMAPITablePtr::GetRowCount";
    IMAPITable* table = Checked(kPlace);
    ULONG count = 0;
    MapiCheck(table->GetRowCount(0, &count), kPlace, table);
    return count;
}

LONG IMAPITablePtr::SeekRow(BOOKMARK origin, LONG count) {
    constexpr const char* kPlace = "IMAPITablePtr::SeekRow";
    IMAPITable* table = Checked(kPlace);
    LONG sought = 0;
    MapiCheck(table->SeekRow(origin, count, &sought), kPlace, table);
    return sought;
}
