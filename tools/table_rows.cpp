#include "tools/table_rows.h"

#include "tools/tool_context.h"

TableRows::TableRows(IMAPITable* table, const std::vector<ULONG>& columns) {
    Check(TryQueryAllRows(table, CPropTagArray(columns), rows_), "HrQueryAllRows");
}

std::string TableRows::Text(ULONG row, size_t column) const {
    const SPropValue& v = At(row, column);
    return PROP_TYPE(v.ulPropTag) == PT_STRING8 && v.Value.lpszA ? v.Value.lpszA : "";
}

LONG TableRows::Long(ULONG row, size_t column, LONG fallback) const {
    const SPropValue& v = At(row, column);
    return PROP_TYPE(v.ulPropTag) == PT_LONG ? v.Value.l : fallback;
}

bool TableRows::Bool(ULONG row, size_t column) const {
    const SPropValue& v = At(row, column);
    return PROP_TYPE(v.ulPropTag) == PT_BOOLEAN && v.Value.b;
}

std::string TableRows::Binary(ULONG row, size_t column) const {
    const SPropValue& v = At(row, column);
    if (PROP_TYPE(v.ulPropTag) != PT_BINARY || v.Value.bin.cb == 0) return std::string();
    return std::string(reinterpret_cast<const char*>(v.Value.bin.lpb), v.Value.bin.cb);
}

std::uint64_t TableRows::FileTime(ULONG row, size_t column) const {
    const SPropValue& v = At(row, column);
    if (PROP_TYPE(v.ulPropTag) != PT_SYSTIME) return 0;
    return (std::uint64_t{v.Value.ft.dwHighDateTime} << 32) | v.Value.ft.dwLowDateTime;
}
