// HrQueryAllRows, HrGetOneProp, HrSetOneProp, FreeProws, FreePadrlist, PpropFindProp.
#include "platform/mapi/mapi_functions.h"

HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                       LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet, LONG crowsMax,
                       LPSRowSet* lppRows) {
    if (lpTable == nullptr || lppRows == nullptr || crowsMax < 0) return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    HRESULT hr = S_OK;
    if (lpPropTags != nullptr && FAILED(hr = lpTable->SetColumns(lpPropTags, TBL_BATCH))) return hr;
    if (lpRestriction != nullptr && FAILED(hr = lpTable->Restrict(lpRestriction, TBL_BATCH)))
        return hr;
    if (lpSortOrderSet != nullptr && FAILED(hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH)))
        return hr;
    if (FAILED(hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) return hr;
    ULONG count = 0;
    if (FAILED(hr = lpTable->GetRowCount(0, &count))) return hr;
    if (crowsMax > 0 && count > static_cast<ULONG>(crowsMax)) return MAPI_E_TABLE_TOO_BIG;
    return lpTable->QueryRows(0x7FFFFFFF, 0, lppRows);
}

HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
    if (lpMapiProp == nullptr || lppProp == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppProp = nullptr;
    SizedSPropTagArray(1, tags) = {1, {ulPropTag}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    HRESULT hr = lpMapiProp->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
    if (FAILED(hr)) return hr;
    if (count != 1 || values == nullptr) {
        MAPIFreeBuffer(values);
        return MAPI_E_NOT_FOUND;
    }
    if (PROP_TYPE(values[0].ulPropTag) == PT_ERROR) {
        HRESULT err = values[0].Value.err;
        MAPIFreeBuffer(values);
        return FAILED(err) ? err : MAPI_E_NOT_FOUND;
    }
    *lppProp = values;
    return S_OK;
}

HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp) {
    if (lpMapiProp == nullptr || lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
    LPSPropProblemArray problems = nullptr;
    HRESULT hr = lpMapiProp->SetProps(1, lpProp, &problems);
    if (FAILED(hr)) return hr;
    if (problems != nullptr) {
        if (problems->cProblem > 0) hr = problems->aProblem[0].scode;
        MAPIFreeBuffer(problems);
    }
    return hr;
}

void FreeProws(LPSRowSet lpRows) {
    if (lpRows == nullptr) return;
    for (ULONG k = 0; k < lpRows->cRows; ++k) MAPIFreeBuffer(lpRows->aRow[k].lpProps);
    MAPIFreeBuffer(lpRows);
}

void FreePadrlist(LPADRLIST lpAdrlist) {
    if (lpAdrlist == nullptr) return;
    for (ULONG k = 0; k < lpAdrlist->cEntries; ++k)
        MAPIFreeBuffer(lpAdrlist->aEntries[k].rgPropVals);
    MAPIFreeBuffer(lpAdrlist);
}

LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) {
    if (lpPropArray == nullptr) return nullptr;
    for (ULONG k = 0; k < cValues; ++k) {
        ULONG tag = lpPropArray[k].ulPropTag;
        if (tag == ulPropTag ||
            (PROP_TYPE(ulPropTag) == PT_UNSPECIFIED && PROP_ID(tag) == PROP_ID(ulPropTag)))
            return &lpPropArray[k];
    }
    return nullptr;
}
