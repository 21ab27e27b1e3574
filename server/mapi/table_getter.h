// The one way the adapter takes a table from a store object (a container's
// contents or hierarchy, a message's attachments or recipients, a session's
// message stores).
#pragma once

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
