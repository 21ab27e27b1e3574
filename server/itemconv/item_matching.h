// FindOrCreateItem: the store item an item added by a device goes to.
//
// Pairing by name: the key depends on the folder kind text: "Contacts" (the kind
// name a device sends) the file-as property (address set 0x8005) against the
// element's (1, 0x2F FileAs); "Task" PR_SUBJECT against (3, 0x01 TaskSubject);
// "Appointment" PR_SUBJECT against (2, 0x01 Subject); each taken from the top
// level of the tree. An empty key never pairs (an item without a file-as or
// subject would otherwise overwrite the first unrelated item that also lacks one),
// and in a folder whose class name is "Contact", or for any other kind text, an
// added item is always a new one. The protocol pairs only twins of a first sync,
// among the items its filter accepts (CTwinSearch).
//
// A new item for the three kinds gets the class "IPM.Contact", "IPM.Task" or
// "IPM.Appointment" ("Contact" too makes an "IPM.Contact").
//
// Runs on the request thread that owns the folder.
#pragma once

#include <functional>
#include <string>

#include "common/wbxml/wbxml_literals.h"
#include "server/mapi/mapi_wrapper.h"

// The entry ID of the first item of folder, in table order, whose name key (see
// above) equals the element's and whose key eligible accepts (null: every item);
// no bytes when there is none, and always for an empty key or a kind that never
// pairs. Raises CMAPIException on store errors.
CByteBuffer FindTwin(IMAPIFolderPtr& folder, const CWBXMLLiterals& fields,
                     const std::string& folderKind,
                     const std::function<bool(const std::string& itemKey)>& eligible);

// A new item in folder with the class of folderKind (see above); not saved. Raises
// CMAPIException on store errors.
IMessagePtr CreateItem(IMAPIFolderPtr& folder, const std::string& folderKind);

// The twin of the element (FindTwin, every item eligible) opened for writing, or a
// new item (a new one exists for others after its SaveChanges). An empty pointer
// after a store error, which is traced ("FindOrCreateItem: %s").
IMessagePtr FindOrCreateItem(IMAPIFolderPtr& folder, const CWBXMLLiterals& fields,
                             const std::string& folderKind);

// The entry ID of the first item of folder whose keyTag property equals key, or
// no bytes when none does (and always for an empty key). Raises CMAPIException on
// store errors.
CByteBuffer FindItemByKey(IMAPIFolderPtr& folder, ULONG keyTag, const std::string& key);
