// The ClientID a device gave an item, kept on the item itself: a string property,
// named "ClientID:<device ID>" in Corvel's own property set, one per device. Its
// value is the ClientID map's PropertyValue ("<epoch>/<ClientID>",
// server/syncstate/client_map.h). Set before the item's save, it is written in the
// same commit as the item, so a server killed at any point never leaves an item
// stored from a device without the ClientID that names it.
//
// Thread use: the request thread that owns the store objects.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "server/mapi/mapi_wrapper.h"

// {4E6F7276-6578-436F-7276-656C53796E63}: Corvel's property set.
extern const GUID PSETID_CorvelSync;

// The tag of deviceId's ClientID property in the store of object (mapped when
// missing). Raises CMAPIException when the store cannot map the name.
ULONG ClientIdPropertyTag(CGenMapiPropPtr& object, const std::string& deviceId);

// One pass over folder's contents table: the key of every item in keys, and
// (key, value) of every item that has deviceId's ClientID property in properties.
// Raises CMAPIException on store errors.
void ReadClientIdProperties(IMAPIFolderPtr& folder, const std::string& deviceId,
                            std::vector<std::string>& keys,
                            std::vector<std::pair<std::string, std::string>>& properties);
