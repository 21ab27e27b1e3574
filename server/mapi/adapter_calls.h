// Calls the adapter makes the same way on several kinds of store object: taking a
// table (a container's contents or hierarchy, a message's attachments or
// recipients, a session's message stores) and opening an entry by its identifier
// (through a container, a store or a session).
#pragma once

#include "server/mapi/byte_buffer.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_table_ptr.h"

// The table (object->*getter)(flags, ...) hands out; a CMAPIException naming place
// (with the object's error details) when the call fails or hands out none.
template <class Object, class Getter>
IMAPITablePtr TakeTable(Object* object, Getter getter, ULONG flags, const char* place) {
    CMapiRef<IMAPITable> table;
    MapiCheck((object->*getter)(flags, table.Put()), place, object);
    if (!table) throw CMAPIException(MAPI_E_CALL_FAILED, place);
    return IMAPITablePtr(std::move(table));
}

// The entry object->OpenEntry opens (its type in *objectType when that is not
// null); MAPI_E_INVALID_ENTRYID for an empty identifier, MAPI_E_NOT_FOUND when the
// call hands out nothing, each as a CMAPIException naming place.
template <class Object>
CMapiRef<IUnknown> OpenEntryThrough(Object* object, const CByteBuffer& entryId, ULONG flags,
                                    ULONG* objectType, const char* place) {
    if (entryId.Empty()) throw CMAPIException(MAPI_E_INVALID_ENTRYID, place);
    ULONG type = 0;
    CMapiRef<IUnknown> opened;
    MapiCheck(object->OpenEntry(entryId.EntryIdSize(), entryId.EntryId(), nullptr, flags, &type,
                                opened.Put()),
              place, object);
    if (!opened) throw CMAPIException(MAPI_E_NOT_FOUND, place);
    if (objectType) *objectType = type;
    return opened;
}
