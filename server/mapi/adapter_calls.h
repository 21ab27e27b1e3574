// Calls the adapter makes the same way on several kinds of store object: taking a
// table (a container's contents or hierarchy, a message's attachments or
// recipients, a session's message stores) and opening an entry by its identifier
// (through a container, a store or a session). Opening has a status form
// (TryOpenEntry) for the status-returning calls and one that raises.
#pragma once

#include "server/mapi/byte_buffer.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_table_ptr.h"

// The table (object->*getter)(flags, ...) hands out: S_OK (or the call's warning)
// with it in table; otherwise table stays empty and the result is
// MAPI_E_INVALID_OBJECT for a null object, the call's failure, or
// MAPI_E_CALL_FAILED when the call hands out none.
template <class Object, class Getter>
HRESULT TryTakeTable(Object* object, Getter getter, ULONG flags, CMapiRef<IMAPITable>& table) {
    table.Reset();
    if (object == nullptr) return MAPI_E_INVALID_OBJECT;
    HRESULT hr = (object->*getter)(flags, table.Put());
    if (FAILED(hr)) {
        table.Reset();
        return hr;
    }
    return table ? hr : MAPI_E_CALL_FAILED;
}

// The table (object->*getter)(flags, ...) hands out; TryTakeTable's failure raised
// as a CMAPIException naming place (with the object's error details).
template <class Object, class Getter>
IMAPITablePtr TakeTable(Object* object, Getter getter, ULONG flags, const char* place) {
    CMapiRef<IMAPITable> table;
    MapiCheck(TryTakeTable(object, getter, flags, table), place, object);
    return IMAPITablePtr(std::move(table));
}

// object->OpenEntry for the size bytes at entryId: S_OK (or the call's warning)
// with the entry in opened and its type in *objectType when that is not null;
// otherwise opened stays empty and the result is MAPI_E_INVALID_OBJECT for a null
// object, MAPI_E_INVALID_ENTRYID for an empty identifier, the call's failure, or
// MAPI_E_NOT_FOUND when the call hands out nothing.
template <class Object>
HRESULT TryOpenEntry(Object* object, ULONG size, LPENTRYID entryId, ULONG flags, ULONG* objectType,
                     CMapiRef<IUnknown>& opened) {
    opened.Reset();
    if (object == nullptr) return MAPI_E_INVALID_OBJECT;
    if (size == 0 || entryId == nullptr) return MAPI_E_INVALID_ENTRYID;
    ULONG type = 0;
    HRESULT hr = object->OpenEntry(size, entryId, nullptr, flags, &type, opened.Put());
    if (FAILED(hr)) {
        opened.Reset();
        return hr;
    }
    if (!opened) return MAPI_E_NOT_FOUND;
    if (objectType) *objectType = type;
    return hr;
}

// The entry object->OpenEntry opens (its type in *objectType when that is not
// null); TryOpenEntry's failure raised as a CMAPIException naming place (with the
// object's error details).
template <class Object>
CMapiRef<IUnknown> OpenEntryThrough(Object* object, const CByteBuffer& entryId, ULONG flags,
                                    ULONG* objectType, const char* place) {
    CMapiRef<IUnknown> opened;
    MapiCheck(
        TryOpenEntry(object, entryId.EntryIdSize(), entryId.EntryId(), flags, objectType, opened),
        place, object);
    return opened;
}
