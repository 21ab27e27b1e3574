#include "server/mapi/profile_names.h"

#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_ref.h"

HRESULT ReadProfileNames(std::vector<std::string>& names) {
    names.clear();
    CMapiRef<IProfAdmin> admin;
    if (HRESULT hr = MAPIAdminProfiles(0, admin.Put()); FAILED(hr)) return hr;
    CMapiRef<IMAPITable> table;
    if (HRESULT hr = admin->GetProfileTable(0, table.Put()); FAILED(hr)) return hr;
    CRowSet rows;
    if (HRESULT hr = TryQueryAllRows(table.Get(), {PR_DISPLAY_NAME}, rows); FAILED(hr)) return hr;
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SPropValue* name = CRowSet::Find(rows[i], PR_DISPLAY_NAME);
        if (name != nullptr && name->Value.lpszA != nullptr) names.emplace_back(name->Value.lpszA);
    }
    return S_OK;
}
